#include "run/prepare.h"

#include <cstdio>
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
#include "run/commit_proof.h"
#include "run/prepare_by_key.h"
#include "run/rebuild_mode.h"
#include "run/run_end.h"
#include "run/run_guard.h"
#include "run/transaction_guard.h"
#include "settings/settings.h"

namespace {

// An attempt of an atomic rebuild begins with the counts that its proof
// and the proof of its rollback compare with (commit_proof.h).
int beginAndBuildTrmAswDnl() {
    return beginProvedUnit(nullptr) != 0 && BuildTrmAswDnl() != 0 ? 1 : 0;
}

// The last phase includes the commit of an atomic rebuild.
const WorkStep kFullRebuildPhases[] = {
    {beginAndBuildTrmAswDnl, "Erstelle Terminalberechtigungen", "Terminalberechtigungen erstellt!",
     "Die Terminalberechtigungen konnten nicht erstellt werden!",
     "Die Terminalberechtigungen konnten auf Grund von DB-Verbindungproblemen nicht erstellt "
     "werden!",
     RunPhase::TerminalAuthorisations, false},
    {BuildSalAswDnl, "Erstelle Saldenwerte", "Saldenwerte erstellt!",
     "Die Saldenwerte konnten nicht erstellt werden!",
     "Die Saldenwerte konnten auf Grund von DB-Verbindungproblemen nicht erstellt werden!",
     RunPhase::BalanceValues, false},
    {BuildAswBklDnl, "Erstelle Zutrittsberechtigungen", "Zutrittsberechtigungen erstellt!",
     "Die Zutrittsberechtigungen konnten nicht erstellt werden!",
     "Die Zutrittsberechtigungen konnten auf Grund von DB-Verbindungproblemen nicht erstellt "
     "werden!",
     RunPhase::AccessAuthorisations, true},
};

// Writes a fixed message; it still goes through the formatting step, like
// every other log line.
void logText(const char* text) {
    logLine("%s", text);
}

// The download key: exactly one argument supplies it, unless it is the dry
// run's option. The command line has refused a longer key already; the copy
// is bounded all the same.
void takeDownloadKey(int argc, char** argv, char (&key)[kDownloadKeyWidth]) {
    std::memset(key, 0, sizeof key);
    if (argc == 2 && !CommitProof.dryRun)
        copyText(key, argv[1]);
}

// The end of a dry run: what the rebuild would leave, after its rollback
// and the proof that the tables are as they were. A stop signal, even one
// that came after the proof before the commit, leaves the rollback unproved
// and fails the dry run, as it refuses the commit of an atomic run. True when
// the dry run failed.
bool endDryRun(bool failed) {
    if (!failed) {
        dbRollback();
        failed = proveRollback() != kRollbackLeftTables;
        if (!failed)
            printDryRunTables(stdout);
    }
    logText("Probelauf: nichts wurde übernommen.");
    return failed;
}

// The guards of the first session: a data source that the atomic modes
// cannot trust is refused before anything is written.
bool dataSourceRefused() {
    return checkDataSourceForRebuildMode(Settings.database) != kRebuildModeTaken ||
           checkSessionTransactions(Settings.database) != kRebuildModeTaken;
}

}  // namespace

int runPhases(const WorkStep* phases, std::size_t count) {
    if (dbTransactionsOn())
        return runAttempts(phases, count);
    for (std::size_t i = 0; i < count; ++i) {
        if (runAttempts(&phases[i], 1) == 0)
            return 0;
    }
    return 1;
}

int PrepareFull() {
    return runPhases(kFullRebuildPhases, sizeof kFullRebuildPhases / sizeof kFullRebuildPhases[0]);
}

int runProgram(int argc, char** argv) {
    platformCatchStopSignals(watchRun);
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
    if (!failed && dataSourceRefused())
        failed = true;
    if (!failed && !isEmptyText(key)) {
        logLine("Download-Key: %s.", key);
        keyResult = PrepareByKey(key);
        if (keyResult == -1)
            failed = true;
    }
    if (!failed && keyResult == 0 && PrepareFull() == 0)
        failed = true;
    if (CommitProof.dryRun)
        failed = endDryRun(failed);

    if (failed) {
        logRunStopped();
        logText(kRunFailedLine);
    }
    logText(kRunEndBanner);
    return failed ? kExitFailure : kExitSuccess;
}
