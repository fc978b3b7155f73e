#include "run/transaction_guard.h"

#include "db/session.h"
#include "db/transaction.h"
#include "download/request_row.h"
#include "download/rows_written.h"
#include "log/console.h"
#include "log/runlog.h"
#include "platform/text.h"
#include "run/commit_proof.h"
#include "run/rebuild_mode.h"
#include "run/run_guard.h"

namespace {

// A unit began with its counts, and was neither committed nor proved since.
bool unitToProve = false;
// The badge of the key run's unit, kept for the proof after its rollback:
// the request row that named it is gone by then.
char unitBadge[sizeof QvsAswDnlRow{}.DnlAsw];

const char* causeInGerman(TransactionFault fault) {
    switch (fault) {
        case TransactionFault::AutoCommitRefused:
            return "der Treiber lehnt das Abschalten von Auto-Commit ab";
        case TransactionFault::AutoCommitKept:
            return "Auto-Commit bleibt nach dem Abschalten eingeschaltet";
        case TransactionFault::NoTransactions:
            return "der Treiber unterstützt keine Transaktionen";
        case TransactionFault::None:
            break;
    }
    return "";
}

// The tables that the unit's begin counted: all four for the full rebuild,
// the badge's two in a key run.
bool isUnitTable(DownloadTable table) {
    return CommitProof.badge == nullptr || table == DownloadTable::TrmAswDnl ||
           table == DownloadTable::AswBklDnl;
}

void reportChangedTable(DownloadTable table, long rows, long before) {
    const char* name = downloadTableName(table);
    if (CommitProof.badge == nullptr) {
        logLine(
            "Die Tabelle %s hält %ld Zeilen statt %ld, obwohl die Aufbereitung zurückgenommen "
            "wurde: die Datenquelle hat sie übernommen!",
            name, rows, before);
    } else {
        logLine(
            "Die Tabelle %s hält zu Ausweisnr. %s %ld Zeilen statt %ld, obwohl die "
            "Aktualisierung zurückgenommen wurde: die Datenquelle hat sie übernommen!",
            name, CommitProof.badge, rows, before);
    }
    consoleLine(
        "%s holds %ld rows instead of %ld although the work was rolled back: the data source "
        "committed it; the run ends without a retry",
        name, rows, before);
}

// Counts the unit's tables and compares them with their counts when it
// began: a result of proveRollback.
int compareUnitTables() {
    bool changed = false;
    for (int t = 0; t < static_cast<int>(DownloadTable::Count); ++t) {
        const DownloadTable table = static_cast<DownloadTable>(t);
        long rows = 0;
        if (!isUnitTable(table))
            continue;
        if (!countUnitTable(table, rows))
            return kRollbackUnproved;
        if (rows != CommitProof.before[t]) {
            reportChangedTable(table, rows, CommitProof.before[t]);
            changed = true;
        }
    }
    return changed ? kRollbackChangedTables : kRollbackLeftTables;
}

}  // namespace

int checkSessionTransactions(const char* dataSource) {
    const TransactionFault fault = SessionTransactionFault;
    if (!dbTransactionsOn() || fault == TransactionFault::None)
        return kRebuildModeTaken;
    logLine("Die Datenquelle %s erlaubt keine atomare Aufbereitung und keinen Probelauf: %s!",
            dataSource, causeInGerman(fault));
    consoleLine(
        "data source %s: %s; %s=%s and --dry-run need a transaction that the driver holds open, "
        "so this run writes nothing",
        dataSource, dbTransactionFaultText(fault), kRebuildModeVariable, kAtomicRebuild);
    return kRebuildModeRefused;
}

int beginProvedUnit(const char* badge) {
    unitToProve = false;
    if (badge != nullptr)
        copyField(unitBadge, badge);
    const int begun = badge == nullptr ? beginRebuildUnit() : beginBadgeUnit(unitBadge);
    unitToProve = begun != 0 && dbTransactionsOn();
    return begun;
}

void unitCommitted() {
    unitToProve = false;
}

int proveRollback() {
    if (!unitToProve)
        return kRollbackLeftTables;
    // After a stop no statement runs; the stop ends the run anyway.
    if (runStopRequested())
        return kRollbackUnproved;
    const int result = compareUnitTables();
    // The counts began a transaction of their own: ended, so that a driver
    // that refuses to disconnect in a transaction lets the session go.
    dbRollback();
    if (result != kRollbackUnproved)
        unitToProve = false;
    return result;
}
