// Stopping a run on request: SIGTERM (systemctl stop, kill) and SIGINT
// (Ctrl-C) set a process-wide flag instead of ending the process, so that the
// run can stop at the next statement and say so in its log. A watcher thread
// of the program's own acts on the stop at once: it runs the stop action
// (which cancels the statement in flight), and the stop descriptor ends every
// wait.
#pragma once

// Installs the handlers of SIGTERM and SIGINT and starts the stop watcher.
// The first such signal sets the stop flag and makes the stop descriptor
// readable; the watcher then calls `onStop` once, on its own thread (nullptr:
// nothing to call). Each handler then falls back to the default action, so a
// second signal of the same kind ends the program at once (for a driver call
// that never returns). Interrupted system calls are restarted. Without a
// watcher thread (it could not be started) the stop still acts at the next
// statement and ends every wait.
void platformCatchStopSignals(void (*onStop)());

// 0 while no stop signal has come, otherwise the number of the first one.
int platformStopSignal();

// The read end of the stop pipe: it becomes readable with the first stop
// signal and stays readable, so a wait that polls it ends at once even when
// the signal came just before the wait began. -1 before
// platformCatchStopSignals (poll ignores it: the wait runs its full length).
int platformStopDescriptor();

// "SIGTERM" or "SIGINT" for the stop signals, "signal" for any other number.
const char* platformSignalName(int signal);
