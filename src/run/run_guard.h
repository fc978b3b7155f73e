// What keeps the runs of one installation apart and lets an operator stop
// one: the run lock and the stop signals, as the run sees them.
#pragma once

constexpr long kRunLockWaitMs = 60L * 60 * 1000;  // a second run waits an hour at most

// Results of takeRunLock.
constexpr int kRunMayStart = 0;  // the lock is held, or there is no log folder
constexpr int kRunMustEnd = 99;  // no lock after the wait, a stop signal, or no usable lock

// Takes the run lock (kRunLockPath, and the log folder that holds it) for
// the rest of the process. While another run holds it, logs once that this
// run waits, says so on standard error and waits up to kRunLockWaitMs.
// kRunMustEnd, after a log line that says why, when the wait ran out, a stop
// signal ended it, or the lock file cannot be opened or locked (not a
// regular file, no permission). Without a log folder there is no lock:
// that is reported on standard error and the run goes on, kRunMayStart.
int takeRunLock();

// True once a stop signal (SIGTERM, SIGINT) has come.
bool runStopRequested();

// Logs that a stop signal ended the run, when one has come.
void logRunStopped();
