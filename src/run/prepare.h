// Run control: the program run and the full-rebuild driver. The attempt
// loop that it shares with the key update is in attempt_policy.h.
#pragma once

#include <cstddef>

#include "run/exit_codes.h"

struct WorkStep;

// The phases in order: in an atomic rebuild as one unit of work (see
// runAttempts), otherwise each as a unit of its own that runs only after the
// one before it succeeded. 1 when all succeeded, else 0.
int runPhases(const WorkStep* phases, std::size_t count);

// The full rebuild: terminal authorisations, balance values, access
// authorisations, as one transaction when the site chose an atomic rebuild.
// 1 when all three succeeded, 0 otherwise.
int PrepareFull();

// The whole program run: settings, banners, session, run mode; its exit code.
int runProgram(int argc, char** argv);
