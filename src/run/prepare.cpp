#include "run/prepare.h"

#include <cstring>

#include "db/session.h"
#include "db/statement.h"
#include "db/transaction.h"
#include "download/access_authorisations.h"
#include "download/balance_values.h"
#include "download/terminal_authorisations.h"
#include "log/runlog.h"
#include "platform/stop_signal.h"
#include "platform/text.h"
#include "run/attempt_policy.h"
#include "run/prepare_by_key.h"
#include "run/run_guard.h"
#include "settings/settings.h"

namespace {

const Phase kFullRebuildPhases[] = {
    {BuildTrmAswDnl, "Erstelle Terminalberechtigungen Versuch-Nr:%ld!",
     "Terminalberechtigungen erstellt!",
     "Die Terminalberechtigungen konnten nicht erstellt werden!",
     "Die Terminalberechtigungen konnten auf Grund von DB-Verbindungproblemen nicht erstellt "
     "werden!",
     RunPhase::TerminalAuthorisations},
    {BuildSalAswDnl, "Erstelle Saldenwerte Versuch-Nr:%ld!", "Saldenwerte erstellt!",
     "Die Saldenwerte konnten nicht erstellt werden!",
     "Die Saldenwerte konnten auf Grund von DB-Verbindungproblemen nicht erstellt werden!",
     RunPhase::BalanceValues},
    {BuildAswBklDnl, "Erstelle Zutrittsberechtigungen Versuch-Nr:%ld!",
     "Zutrittsberechtigungen erstellt!",
     "Die Zutrittsberechtigungen konnten nicht erstellt werden!",
     "Die Zutrittsberechtigungen konnten auf Grund von DB-Verbindungproblemen nicht erstellt "
     "werden!",
     RunPhase::AccessAuthorisations},
};

// Writes a fixed message; it still goes through the formatting step, like
// every other log line.
void logText(const char* text) {
    logLine("%s", text);
}

// After failed attempt `attempt` of `phase`: true when the next attempt may
// start (reconnected and waited). Otherwise the run gives up, with the
// phase's message for a fifth failure or a lost session (a stop signal is
// logged at the end of the run).
bool readyForNextAttempt(const Phase& phase, long attempt) {
    if (runStopRequested())
        return false;
    if (attempt == kPhaseAttempts) {
        logText(phase.failedMessage);
        return false;
    }
    int next = prepareNextAttempt();
    if (next == kNextAttemptWithoutSession)
        logText(phase.connectionFailedMessage);
    return next == kNextAttemptReady;
}

// Up to five attempts of one phase. 1 when the builder succeeded.
int runPhase(const Phase& phase) {
    for (long attempt = 1; attempt <= kPhaseAttempts; ++attempt) {
        logLine(phase.attemptMessage, attempt);
        phaseAttemptBegins(phase.metrics);
        int built = phase.build();
        phaseAttemptEnds(phase.metrics);
        if (built != 0) {
            logText(phase.successMessage);
            return 1;
        }
        if (!readyForNextAttempt(phase, attempt))
            return 0;
    }
    return 0;
}

// One attempt of the atomic rebuild: the phases in order, the last one
// including the commit. Returns the index of the phase that failed, or
// `count` when all succeeded and their writes took effect.
std::size_t runAtomicAttempt(const Phase* phases, std::size_t count, long attempt) {
    for (std::size_t i = 0; i < count; ++i) {
        const Phase& phase = phases[i];
        logLine(phase.attemptMessage, attempt);
        phaseAttemptBegins(phase.metrics);
        bool built = phase.build() != 0 && (i + 1 < count || commitUnitOfWork());
        phaseAttemptEnds(phase.metrics);
        if (!built)
            return i;
        logText(phase.successMessage);
    }
    return count;
}

// The download key: exactly one argument supplies it. The command line has
// refused a longer key already; the copy is bounded all the same.
void takeDownloadKey(int argc, char** argv, char (&key)[kDownloadKeyWidth]) {
    std::memset(key, 0, sizeof key);
    if (argc == 2)
        copyText(key, argv[1]);
}

}  // namespace

int runPhases(const Phase* phases, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (runPhase(phases[i]) == 0)
            return 0;
    }
    return 1;
}

int runPhasesAtomically(const Phase* phases, std::size_t count) {
    for (long attempt = 1; attempt <= kPhaseAttempts; ++attempt) {
        std::size_t failed = runAtomicAttempt(phases, count, attempt);
        if (failed == count)
            return 1;
        rollBackFailedAttempt();
        if (!readyForNextAttempt(phases[failed], attempt))
            return 0;
    }
    return 0;
}

int PrepareFull() {
    const std::size_t count = sizeof kFullRebuildPhases / sizeof kFullRebuildPhases[0];
    if (dbTransactionsOn())
        return runPhasesAtomically(kFullRebuildPhases, count);
    return runPhases(kFullRebuildPhases, count);
}

int runProgram(int argc, char** argv) {
    platformCatchStopSignals(cancelStatementInFlight);
    loadSettings(kSettingsFilePath);
    if (takeRunLock() != kRunMayStart)
        return kExitFailure;
    logText("**********");
    logText(">>> QV Downloadaufbereitung (Vendrak) - Beginn <<<");

    if (dbConnect(Settings.login, Settings.password, Settings.database, Settings.dbSystem) != 0) {
        int reconnected = dbReconnect();
        if (reconnected == 0 && !runStopRequested()) {
            logLine(
                "Datenbankverbindung fehlgeschlagen, Fehler: %d. User: %s  Pwd: ***  DB: %s  "
                "DbSystem: %s ",
                reconnected, Settings.login, Settings.database, Settings.dbSystem);
            return kExitFailure;
        }
    }

    char key[kDownloadKeyWidth];
    takeDownloadKey(argc, argv, key);
    long keyResult = 0;
    bool failed = runStopRequested();  // a stop signal while connecting
    if (!failed && !isEmptyText(key)) {
        logLine("Download-Key: %s.", key);
        keyResult = PrepareByKey(key);
        if (keyResult == -1)
            failed = true;
    }
    if (!failed && keyResult == 0 && PrepareFull() == 0)
        failed = true;

    if (failed) {
        logRunStopped();
        logText("Bei der Downloadaufbereitung trat ein Fehler auf.");
    }
    logText(">>> QV Downloadaufbereitung (Vendrak) - Ende <<<");
    return failed ? kExitFailure : kExitSuccess;
}
