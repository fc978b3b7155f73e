// The program's exit codes: a run, a check or a refused command line ends
// with one of them.
#pragma once

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 99;
