#include "run/commit_proof.h"

#include "db/session.h"
#include "db/transaction.h"
#include "download/access_authorisations.h"
#include "download/balance_value_list.h"
#include "download/balance_values.h"
#include "download/build_steps.h"
#include "download/content_digest.h"
#include "download/terminal_authorisations.h"
#include "download/terminal_writing.h"
#include "log/console.h"
#include "log/runlog.h"
#include "run/run_metrics.h"

CommitProofRecord CommitProof = {kNoShrinkLimit, false, nullptr, {}, {}, false};

namespace {

constexpr int kTableCount = static_cast<int>(DownloadTable::Count);

// The tables of a key run's badge; the shrink guard judges the same two.
constexpr DownloadTable kBadgeTables[] = {DownloadTable::TrmAswDnl, DownloadTable::AswBklDnl};

int countTable(DownloadTable table, const char* badge, long& rows) {
    switch (table) {
        case DownloadTable::TrmAswDnl:
            return SQLCountTrmAswDnl(badge, rows);
        case DownloadTable::SalAswDnl:
            return SQLCountSalAswDnl(rows);
        case DownloadTable::SalAswDnl2:
            return SQLCountSalAswDnl2(rows);
        default:
            return SQLCountAswBklDnl(badge, rows);
    }
}

// Counts `table` into `rows`; a failure is logged ("Fehler SQLCount<table>()")
// and fails the unit.
bool counted(DownloadTable table, long& rows) {
    const char* badge = CommitProof.badge != nullptr ? CommitProof.badge : "";
    int rc = countTable(table, badge, rows);
    if (rc == 0)
        return true;
    char function[32];
    std::snprintf(function, sizeof function, "SQLCount%s", downloadTableName(table));
    logBuildFailure({CommitProof.badge}, function, rc);
    return false;
}

// The sum of the TrmAswDnl rows that a read-back hands over one by one.
TableContent TrmAswDnlRead;

void addTrmAswDnlRow(const TrmAswDnlHash& row) {
    TrmAswDnlRead.digest += row.rest + row.bookingClasses;
}

int readBackTable(DownloadTable table, const char* badge, long maxRows, TableContent& content) {
    switch (table) {
        case DownloadTable::TrmAswDnl: {
            TrmAswDnlRead = {0, 0};
            int rc = SQLReadBackTrmAswDnl(badge, maxRows, addTrmAswDnlRow, TrmAswDnlRead.rows);
            content = TrmAswDnlRead;
            return rc;
        }
        case DownloadTable::SalAswDnl:
            return SQLReadBackSalAswDnl(content);
        case DownloadTable::SalAswDnl2:
            return SQLReadBackSalAswDnl2(content);
        default:
            return SQLReadBackAswBklDnl(badge, content);
    }
}

// A failed read-back is logged ("Fehler SQLReadBack<table>()") and fails
// the unit.
bool logReadBackFailure(DownloadTable table, int rc) {
    char function[32];
    std::snprintf(function, sizeof function, "SQLReadBack%s", downloadTableName(table));
    logBuildFailure({CommitProof.badge}, function, rc);
    return false;
}

// The rows that the count found must read back as the unit expects them:
// a driver that lost the transaction after a row was replaced (a changed
// PIN, a booking class set in place) leaves the count as it was. A table
// without rows has nothing to read; its count matched already.
bool contentAsWritten(DownloadTable table) {
    const int t = static_cast<int>(table);
    const long held = CommitProof.held[t];
    if (held == 0)
        return true;
    const char* badge = CommitProof.badge != nullptr ? CommitProof.badge : "";
    TableContent content = {0, 0};
    int rc = readBackTable(table, badge, held, content);
    if (rc != 0)
        return logReadBackFailure(table, rc);
    if (content.rows == held && content.digest == UnitDigest.expected[t])
        return true;
    if (CommitProof.badge == nullptr) {
        logLine(
            "Die Tabelle %s hält %ld Zeilen, aber nicht die geschriebenen; die Aufbereitung wird "
            "zurückgenommen!",
            downloadTableName(table), held);
    } else {
        logLine(
            "Die Tabelle %s hält zu Ausweisnr. %s %ld Zeilen, aber nicht die erwarteten; die "
            "Aktualisierung wird zurückgenommen!",
            downloadTableName(table), CommitProof.badge, held);
    }
    return false;
}

// A key run's unit starts from its badge's rows as they are: those of
// TrmAswDnl one by one, since the unit may replace them in place, those of
// AswBklDnl as their sum, since it only adds to them.
bool badgeRowsTaken() {
    const int trm = static_cast<int>(DownloadTable::TrmAswDnl);
    long rows = 0;
    int rc = SQLReadBackTrmAswDnl(CommitProof.badge, CommitProof.before[trm],
                                  unitDigestTakeBadgeRow, rows);
    if (rc != 0)
        return logReadBackFailure(DownloadTable::TrmAswDnl, rc);
    TableContent content = {0, 0};
    rc = SQLReadBackAswBklDnl(CommitProof.badge, content);
    if (rc != 0)
        return logReadBackFailure(DownloadTable::AswBklDnl, rc);
    unitDigestTakeRow(DownloadTable::AswBklDnl, content.digest);
    return true;
}

bool heldAsWritten(DownloadTable table) {
    const int t = static_cast<int>(table);
    long& held = CommitProof.held[t];
    if (!counted(table, held))
        return false;
    const long written = UnitInserts.rows[t];
    if (CommitProof.badge == nullptr && held != written) {
        logLine(
            "Die Tabelle %s hält %ld Zeilen statt der %ld geschriebenen; die Aufbereitung wird "
            "zurückgenommen!",
            downloadTableName(table), held, written);
        return false;
    }
    const long before = CommitProof.before[t];
    if (CommitProof.badge != nullptr && held != before + written) {
        logLine(
            "Die Tabelle %s hält zu Ausweisnr. %s %ld Zeilen statt %ld (%ld vorher, %ld "
            "geschrieben); die Aktualisierung wird zurückgenommen!",
            downloadTableName(table), CommitProof.badge, held, before + written, before, written);
        return false;
    }
    return contentAsWritten(table);
}

// Integer arithmetic: held/before < (100 - P)/100 without a rounding. A
// table that held no rows (a first run) always passes: 0 rows are no loss.
bool shrinksTooFar(DownloadTable table) {
    const int t = static_cast<int>(table);
    const long long before = CommitProof.before[t];
    const long long held = CommitProof.held[t];
    const long long keep = 100 - CommitProof.maxShrinkPercent;
    if (held * 100 >= before * keep)
        return false;
    const char* name = downloadTableName(table);
    logLine(
        "Die Tabelle %s hielte %lld statt %lld Zeilen, weniger als %lld%% "
        "(VENDRAK_MAX_SHRINK=%ld); die Aufbereitung wird zurückgenommen!",
        name, held, before, keep, CommitProof.maxShrinkPercent);
    consoleLine(
        "%s would hold %lld rows instead of %lld, fewer than %lld%% of them "
        "(%s=%ld): the rebuild is rolled back and not retried",
        name, held, before, keep, kMaxShrinkVariable, CommitProof.maxShrinkPercent);
    CommitProof.shrinkRefused = true;
    RunMetrics.shrinkRefused = true;
    return true;
}

void beginUnit(const char* badge) {
    CommitProof.badge = badge;
    CommitProof.shrinkRefused = false;
    UnitInserts = UnitInsertsRecord{};
}

}  // namespace

int beginRebuildUnit() {
    if (!dbTransactionsOn())
        return 1;
    beginUnit(nullptr);
    for (int t = 0; t < kTableCount; ++t) {
        if (!counted(static_cast<DownloadTable>(t), CommitProof.before[t]))
            return 0;
    }
    beginUnitDigest(false);
    return 1;
}

int beginBadgeUnit(const char* badge) {
    if (!dbTransactionsOn())
        return 1;
    beginUnit(badge);
    for (DownloadTable table : kBadgeTables) {
        if (!counted(table, CommitProof.before[static_cast<int>(table)]))
            return 0;
    }
    beginUnitDigest(true);
    return badgeRowsTaken() ? 1 : 0;
}

bool unitHoldsWhatItWrote() {
    if (CommitProof.badge != nullptr) {
        for (DownloadTable table : kBadgeTables) {
            if (!heldAsWritten(table))
                return false;
        }
        return true;
    }
    for (int t = 0; t < kTableCount; ++t) {
        if (!heldAsWritten(static_cast<DownloadTable>(t)))
            return false;
    }
    if (CommitProof.maxShrinkPercent == kNoShrinkLimit)
        return true;
    for (DownloadTable table : kBadgeTables) {
        if (shrinksTooFar(table))
            return false;
    }
    return true;
}

void printDryRunTables(std::FILE* out) {
    for (int t = 0; t < kTableCount; ++t) {
        std::fprintf(out, "%s %ld -> %ld\n", downloadTableName(static_cast<DownloadTable>(t)),
                     CommitProof.before[t], CommitProof.held[t]);
    }
}

bool countUnitTable(DownloadTable table, long& rows) {
    return counted(table, rows);
}
