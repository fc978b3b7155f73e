// Stopping a run on request: SIGTERM (systemctl stop, kill) and SIGINT
// (Ctrl-C) set a process-wide flag instead of ending the process, so that the
// run can stop at the next statement and say so in its log. A watcher thread
// of the program's own keeps an eye on the run: at once when the stop comes,
// and every quarter of a second besides, it runs the watch action (which
// cancels a database call that runs too long or past a stop, and ends the
// run when one does not return); the stop descriptor ends every wait.
#pragma once

// Installs the handlers of SIGTERM and SIGINT and starts the watcher, which
// calls `onWatch` on its own thread every 250 ms and at once after the first
// such signal, with `stopped` true from that signal on (nullptr: nothing to
// call). The first signal sets the stop flag and makes the stop descriptor
// readable. Each handler then falls back to the default action, so a second
// signal of the same kind ends the program at once. Interrupted system calls
// are restarted. Without a watcher thread (it could not be started) the stop
// still acts at the next statement and ends every wait.
void platformCatchStopSignals(void (*onWatch)(bool stopped));

// 0 while no stop signal has come, otherwise the number of the first one.
int platformStopSignal();

// The read end of the stop pipe: it becomes readable with the first stop
// signal and stays readable, so a wait that polls it ends at once even when
// the signal came just before the wait began. -1 before
// platformCatchStopSignals (poll ignores it: the wait runs its full length).
int platformStopDescriptor();

// "SIGTERM" or "SIGINT" for the stop signals, "signal" for any other number.
const char* platformSignalName(int signal);
