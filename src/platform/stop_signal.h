// Stopping a run on request: SIGTERM (systemctl stop, kill) and SIGINT
// (Ctrl-C) set a process-wide flag instead of ending the process, so that the
// run can stop at the next statement and say so in its log.
#pragma once

// Installs the handlers of SIGTERM and SIGINT. The first such signal sets the
// stop flag. Each handler then falls back to the default action, so a second
// signal of the same kind ends the program at once (for a driver call that
// never returns). Interrupted system calls are restarted, so a statement in
// flight completes; waits end early (platformWaitMs, the run-lock wait).
void platformCatchStopSignals();

// 0 while no stop signal has come, otherwise the number of the first one.
int platformStopSignal();

// "SIGTERM" or "SIGINT" for the stop signals, "signal" for any other number.
const char* platformSignalName(int signal);
