#include "run/prepare_by_key.h"

#include <cstdio>

#include "db/session.h"
#include "db/statement.h"
#include "download/access_authorisations.h"
#include "download/build_steps.h"
#include "download/terminal_authorisations.h"
#include "log/runlog.h"
#include "run/attempt_policy.h"
#include "run/commit_proof.h"
#include "run/transaction_guard.h"

namespace {

const char* const kOpenQvsAswDnl =
    "SELECT DnlKey, DnlLfd, DnlMnd, DnlLiz, DnlAsw, DnlKze, DnlKzu, DnlKmp, DnlSta, DnlErf FROM "
    "QVSYSTEM.QvsAswDnl WHERE DnlKey = '%s' ORDER BY DnlLfd";

// The key of the run and the request rows that its last attempt processed,
// for the work function, which takes no arguments.
struct KeyUpdate {
    const char* key;
    long rows;
};
KeyUpdate Update;

// One attempt: every request row of the key through both per-badge
// builders, in DnlLfd order, from the first row. Nonzero when the list was
// worked through to its end; `Update.rows` counts the rows processed, also
// those of a failed attempt.
int updateListedBadges() {
    const char* key = Update.key;
    Update.rows = 0;
    bool failed = false;
    CursorCloser closer(SQLCloseQvsAswDnl);
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
        // badge's rows take effect together, once both builders succeeded
        // and the badge's rows were proved.
        if (beginProvedUnit(row.DnlAsw) == 0 || BuildTrmAswDnlForBadge(row) == 0 ||
            BuildAswBklDnlForBadge(row) == 0 || !commitUnitOfWork()) {
            failed = true;
            break;
        }
        ++Update.rows;
    }
    return failed ? 0 : 1;
}

// Formats `format` with the key into `text`, cut to its width (the command
// line refuses keys longer than 14 characters, which always fit).
void keyText(char (&text)[kWorkTextWidth], const char* format) {
    std::snprintf(text, sizeof text, format, Update.key);
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
    Update = {key, 0};
    WorkStep step = {updateListedBadges, "", "", "", "", RunPhase::KeyUpdate, false};
    keyText(step.attempting, "Aktualisiere Berechtigungen zu Key: %s.");
    keyText(step.succeeded, "Die Berechtigungen zu Key %s wurden aktualisiert.");
    keyText(step.failed, "Die Berechtigungen zu Key %s konnten nicht aktualisiert werden!");
    keyText(step.connectionLost,
            "Die Berechtigungen zu Key %s konnten auf Grund von DB-Verbindungproblemen nicht "
            "aktualisiert werden!");
    return runAttempts(&step, 1) != 0 ? Update.rows : -1;
}
