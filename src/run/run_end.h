// The end of a run that a database call does not let go of: the watcher
// thread ends the process itself while the run's thread is still inside the
// driver.
#pragma once

// The two last lines of a run, as every run's end writes them.
extern const char* const kRunFailedLine;  // "Bei der Downloadaufbereitung trat ein Fehler auf."
extern const char* const kRunEndBanner;   // ">>> QV Downloadaufbereitung (Vendrak) - Ende <<<"

// The watch action of the run (platformCatchStopSignals): cancels a call in
// flight that is due for it, and when the call is past its end writes, once,
// the line that names it and how long it waited, the stop's line after a
// stop signal, the failure line, the end banner and the metrics, and ends the
// process with 99 without running any cleanup (nothing may call the driver
// again).
void watchRun(bool stopped);
