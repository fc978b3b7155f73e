#include "run/prepare_by_key.h"

#include "db/session.h"
#include "db/statement.h"
#include "download/access_authorisations.h"
#include "download/terminal_authorisations.h"
#include "log/runlog.h"
#include "run/attempt_policy.h"
#include "run/run_guard.h"
#include "run/run_metrics.h"

namespace {

const char* const kOpenQvsAswDnl =
    "SELECT DnlKey, DnlLfd, DnlMnd, DnlLiz, DnlAsw, DnlKze, DnlKzu, DnlKmp, DnlSta, DnlErf FROM "
    "QVSYSTEM.QvsAswDnl WHERE DnlKey = '%s' ORDER BY DnlLfd";

constexpr long kKeyAttempts = 5;

// One attempt: every request row of the key through both per-badge
// builders, in DnlLfd order. Returns true when the list was worked through
// to its end; `*rows` counts the rows processed, also those of a failed
// attempt.
bool updateListedBadges(const char* key, long* rows) {
    *rows = 0;
    bool failed = false;
    int rc = SQLOpenQvsAswDnl(key);
    if (rc != 0) {
        logFailure(LastDiag, "Fehler SQLOpenQvsAswDnl()! Key: %s Errcode: %ld", key,
                   static_cast<long>(rc));
        failed = true;
    }
    while (rc == 0) {
        QvsAswDnlRow row = {};
        rc = SQLFetchQvsAswDnl(row);
        if (rc == DbErrorCodes.NotFound)
            break;
        if (rc != 0) {
            logFailure(LastDiag, "Fehler SQLFetchQvsAswDnl()! Errcode: %ld", static_cast<long>(rc));
            failed = true;
            break;
        }
        // The builders log their own failures. In an atomic rebuild each
        // badge's rows take effect together, once both builders succeeded.
        if (BuildTrmAswDnlForBadge(row) == 0 || BuildAswBklDnlForBadge(row) == 0 ||
            !commitUnitOfWork()) {
            failed = true;
            break;
        }
        ++*rows;
    }
    SQLCloseQvsAswDnl();
    return !failed;
}

}  // namespace

int SQLOpenQvsAswDnl(const char* key) {
    return cursorOpenPassingResult(CursorSlot::QvsAswDnl, kOpenQvsAswDnl, {sqlText(key)},
                                   FailureMapping::NativeOrMinusOne);
}

int SQLFetchQvsAswDnl(QvsAswDnlRow& row) {
    QvsAswDnlRow local = {};
    int rc = cursorFetchPassingResult(
        CursorSlot::QvsAswDnl,
        {textColumn(local.DnlKey), intColumn(local.DnlLfd), textColumn(local.DnlMnd),
         textColumn(local.DnlLiz), textColumn(local.DnlAsw), intColumn(local.DnlKze),
         intColumn(local.DnlKzu), intColumn(local.DnlKmp), intColumn(local.DnlSta),
         textColumn(local.DnlErf)},
        FailureMapping::NativeOrMinusOne);
    if (rc != 0)
        return rc;
    for (char* text : {local.DnlKey, local.DnlMnd, local.DnlLiz, local.DnlAsw, local.DnlErf})
        trimRight(text);
    row = local;
    return 0;
}

int SQLCloseQvsAswDnl() {
    return cursorClose(CursorSlot::QvsAswDnl);
}

long PrepareByKey(const char* key) {
    long rows = 0;
    for (long attempt = 1; attempt <= kKeyAttempts; ++attempt) {
        logLine("Aktualisiere Berechtigungen zu Key: %s. Versuch-Nr:%ld!", key, attempt);
        phaseAttemptBegins(RunPhase::KeyUpdate);
        bool updated = updateListedBadges(key, &rows);
        phaseAttemptEnds(RunPhase::KeyUpdate);
        if (updated) {
            logLine("Die Berechtigungen zu Key %s wurden aktualisiert.", key);
            return rows;
        }
        rollBackFailedAttempt();
        if (runStopRequested())
            return -1;
        if (attempt == kKeyAttempts)
            break;
        // The next attempt reads the whole list again from its first row.
        int next = prepareNextAttempt();
        if (next == kNextAttemptWithoutSession) {
            logLine(
                "Die Berechtigungen zu Key %s konnten auf Grund von DB-Verbindungproblemen nicht "
                "aktualisiert werden!",
                key);
        }
        if (next != kNextAttemptReady)
            return -1;
    }
    logLine("Die Berechtigungen zu Key %s konnten nicht aktualisiert werden!", key);
    return -1;
}
