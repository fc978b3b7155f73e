#include "run/run_end.h"

#include <unistd.h>

#include <cstdio>

#include "db/call_in_flight.h"
#include "log/runlog.h"
#include "platform/monitoring.h"
#include "run/exit_codes.h"
#include "run/run_guard.h"
#include "run/run_metrics.h"

const char* const kRunFailedLine = "Bei der Downloadaufbereitung trat ein Fehler auf.";
const char* const kRunEndBanner = ">>> QV Downloadaufbereitung (Vendrak) - Ende <<<";

namespace {

// A commit that did not return may or may not have taken effect on the
// server; the operator learns how to tell.
void logOverdueCall(const OverdueCall& overdue) {
    if (overdue.kind == DbCallKind::Commit) {
        logLine(
            "Der Datenbankaufruf %s antwortete nach %ld Sekunden nicht; ob die Aufbereitung "
            "übernommen wurde, ist unbekannt: die Zeilen von TrmAswDnl zeigen es.",
            dbCallName(overdue.kind), overdue.waitedSeconds);
        return;
    }
    logLine("Der Datenbankaufruf %s antwortete nach %ld Sekunden nicht; der Lauf wird beendet.",
            dbCallName(overdue.kind), overdue.waitedSeconds);
}

// Runs on the watcher's thread while the run's thread is held inside the
// driver, so the run's state is this thread's alone. _exit: static
// destructors and atexit handlers could reach the driver.
[[noreturn]] void endRunNow(const OverdueCall& overdue) {
    logOverdueCall(overdue);
    logRunStopped();
    logLine("%s", kRunFailedLine);
    logLine("%s", kRunEndBanner);
    runMetricsEnd(kExitFailure);
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(kExitFailure);
}

}  // namespace

void watchRun(bool stopped) {
    OverdueCall overdue = {};
    if (dbSuperviseCallInFlight(platformMonotonicMs(), stopped, &overdue) == kDbRunMustEnd)
        endRunNow(overdue);
}
