#include "run/prepare.h"

#include <cstring>

#include "db/session.h"
#include "db/statement.h"
#include "download/access_authorisations.h"
#include "download/balance_values.h"
#include "download/terminal_authorisations.h"
#include "log/runlog.h"
#include "platform/platform.h"
#include "platform/stop_signal.h"
#include "platform/text.h"
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
        if (runStopRequested())
            return 0;
        if (attempt == kPhaseAttempts) {
            logText(phase.failedMessage);
            return 0;
        }
        int next = prepareNextAttempt();
        if (next == kNextAttemptWithoutSession)
            logText(phase.connectionFailedMessage);
        if (next != kNextAttemptReady)
            return 0;
    }
    return 0;
}

// The download key: exactly one argument supplies it. The command line has
// refused a longer key already; the copy is bounded all the same.
void takeDownloadKey(int argc, char** argv, char (&key)[kDownloadKeyWidth]) {
    std::memset(key, 0, sizeof key);
    if (argc == 2)
        copyText(key, argv[1]);
}

}  // namespace

int prepareNextAttempt() {
    // Reconnect after every failure, whatever its cause: a builder that
    // failed half-way may have left the session in any state.
    if (dbReconnect() == 0)
        return runStopRequested() ? kNextAttemptStopped : kNextAttemptWithoutSession;
    platformWaitMs(kAttemptWaitMs);
    return runStopRequested() ? kNextAttemptStopped : kNextAttemptReady;
}

int runPhases(const Phase* phases, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (runPhase(phases[i]) == 0)
            return 0;
    }
    return 1;
}

int PrepareFull() {
    return runPhases(kFullRebuildPhases, sizeof kFullRebuildPhases / sizeof kFullRebuildPhases[0]);
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
