// What keeps the runs of one installation apart and lets an operator stop
// one: the run lock and the stop signals, as the run sees them.
#pragma once

constexpr long kRunLockWaitMs = 60L * 60 * 1000;  // a second run waits an hour at most

// Results of takeRunLock.
constexpr int kRunMayStart = 0;  // the lock is held, or cannot be had at all
constexpr int kRunMustEnd = 99;  // no lock after the wait, or a stop signal

// Takes the run lock (kRunLockPath) for the rest of the process. While
// another run holds it, logs once that this run waits, says so on standard
// error and waits up to kRunLockWaitMs. kRunMustEnd, after a log line that
// says why, when the wait ran out or a stop signal ended it. A lock file
// that cannot be opened or locked is reported on standard error and the run
// goes on without the lock: kRunMayStart.
int takeRunLock();

// True once a stop signal (SIGTERM, SIGINT) has come.
bool runStopRequested();

// Logs that a stop signal ended the run, when one has come.
void logRunStopped();
