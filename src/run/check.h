// The installation check, `vendrak --check`: the settings file, the log
// folder, one connect, every table and column the program reads or writes,
// the form of TrmAswDnl and the run lock, one line per check and a summary
// line. It changes nothing: no statement but zero-row queries, nothing in the
// run log, no lock taken, no retries and no waits.
#pragma once

#include <cstdio>

// True when the command line is exactly the one argument "--check".
bool isCheckCommand(int argc, char** argv);

// Runs every check and prints its lines to `out`. Returns 0 when a full
// rebuild can run (warnings allowed), 99 when a check failed.
int runCheck(std::FILE* out);
