#include "download/access_authorisations.h"

#include "db/session.h"
#include "db/statement.h"
#include "download/build_steps.h"
#include "download/content_digest.h"
#include "download/rows_written.h"
#include "log/runlog.h"
#include "platform/text.h"

namespace {

const char* const kDeleteAswBklDnl = "DELETE FROM QVSYSTEM.ASWBKLDNL";

// The proof before a commit: all rows, or one badge's. A badge's rows are
// found through its TrmAswDnl rows, by the indexes on TrmAswDnl (DnlAsw) and
// AswBklDnl (DnlTrm, DnlAsw) that the runs need anyway: every row the first
// pass writes comes from a TrmAswDnl row of its terminal and badge, and a
// key run removes none of them.
// The read-back of the rows, for their content, finds the same rows.
#define ASW_BKL_DNL_OF_BADGE                                                      \
    " FROM QVSYSTEM.TRMASWDNL T, QVSYSTEM.ASWBKLDNL B WHERE T.DNLASW = '%s' AND " \
    "B.DNLTRM = T.DNLTRM AND B.DNLASW = T.DNLASW"
const char* const kCountAswBklDnl = "SELECT COUNT(*) FROM QVSYSTEM.ASWBKLDNL";
const char* const kCountAswBklDnlBadge = "SELECT COUNT(*)" ASW_BKL_DNL_OF_BADGE;
const char* const kReadBackAswBklDnl = "SELECT DnlTrm, DnlAsw, DnlBkl FROM Qvsystem.AswBklDnl";
const char* const kReadBackAswBklDnlBadge =
    "SELECT B.DNLTRM, B.DNLASW, B.DNLBKL" ASW_BKL_DNL_OF_BADGE;
#undef ASW_BKL_DNL_OF_BADGE

// The rows of the first pass: every access booking class that the badge
// holds and the terminal accepts for access, for each access row of
// TrmAswDnl. The badge condition sits in the subquery.
#define ZUT_ASW_BKL_HEAD                                                                       \
    "SELECT DISTINCT DNLTRM, DNLASW, M35BKL FROM QVSYSTEM.TRMASWDNL, QVSYSTEM.MGSST35P WHERE " \
    "DNLTRM = M35TRM AND DNLKZU = 1 AND M35BCH = 0 AND M35BKL IN (SELECT AWBBKL FROM "         \
    "QVSYSTEM.QVS301AWB WHERE "
#define ZUT_ASW_BKL_TAIL "AWBASW = DNLASW) ORDER BY DNLTRM, DNLASW, M35BKL "

const char* const kOpenZutAswBkl = ZUT_ASW_BKL_HEAD ZUT_ASW_BKL_TAIL;
const char* const kOpenZutAswBklBadge = ZUT_ASW_BKL_HEAD "AWBASW = '%s' AND " ZUT_ASW_BKL_TAIL;

#undef ZUT_ASW_BKL_HEAD
#undef ZUT_ASW_BKL_TAIL

const char* const kWriteAswBklDnl =
    "INSERT INTO Qvsystem.AswBklDnl (DnlTrm, DnlAsw, DnlBkl) VALUES ('%s', '%s', '%s') ";

#define TRM_ASW_DNL_ZUT_HEAD                                                                  \
    "SELECT DNLTRM, DNLASW, DNLL01, DNLL02, DNLL03, DNLL04, DNLL05, DNLL06, DNLL07, DNLL08, " \
    "DNLL09, DNLL10, DNLL11 FROM QVSYSTEM.TRMASWDNL WHERE "
#define TRM_ASW_DNL_ZUT_TAIL "DNLKZU = 1 ORDER BY DNLTRM, DNLASW"

const char* const kOpenTrmAswDnlZut = TRM_ASW_DNL_ZUT_HEAD TRM_ASW_DNL_ZUT_TAIL;
const char* const kOpenTrmAswDnlZutBadge =
    TRM_ASW_DNL_ZUT_HEAD "DNLASW = '%s' AND " TRM_ASW_DNL_ZUT_TAIL;

#undef TRM_ASW_DNL_ZUT_HEAD
#undef TRM_ASW_DNL_ZUT_TAIL

// The smallest access booking class of one reader among the rows that the
// first pass wrote for the terminal and badge.
const char* const kReadLeserBkl =
    "SELECT MIN(M35BKL) FROM QVSYSTEM.MGSST35P WHERE M35TRM = '%s' AND M35FIR = '001' AND M35BKL "
    "IN (select DNLBKL from qvsystem.aswbkldnl where dnltrm = m35trm and dnlasw = '%s') AND "
    "M35LES = '%s' AND M35BCH = 0 ";

const char* const kUpdateTrmAswDnlBkl =
    "UPDATE QVSYSTEM.TRMASWDNL SET DNLB01 = '%s', DNLB02 = '%s', DNLB03 = '%s', DNLB04 = '%s', "
    "DNLB05 = '%s', DNLB06 = '%s', DNLB07 = '%s', DNLB08 = '%s', DNLB09 = '%s', DNLB10 = '%s', "
    "DNLB11 = '%s' WHERE DNLTRM = '%s' AND DNLASW = '%s' ";

// The badge filter of the build's cursors: empty for all badges.
const char* badgeFilter(const BuildTexts& texts) {
    return texts.badge == nullptr ? "" : texts.badge;
}

// First pass: writes every row of the open first cursor to AswBklDnl. A row
// refused as a duplicate is already there, so it is logged and skipped, in
// both builds: the per-badge build meets the badge's rows of the last full
// build at every call. Returns true when the cursor was read to its end.
bool writeAccessRows(const BuildTexts& texts) {
    for (;;) {
        AswBklRow row = {};
        int rc = SQLReadZutAswBkl(row);
        if (rc == kResultNoData)
            return true;
        if (rc != 0) {
            logBuildFailure(texts, "SQLReadZutAswBkl", rc);
            return false;
        }
        if (!countInsert(DownloadTable::AswBklDnl, SQLWriteAswBklDnl(row),
                         "Fehler SQLWriteAswBklDnl() Ausweis:%s BKL:%s!", row.DnlAsw, row.DnlBkl))
            return false;
    }
}

void logRowFailure(const char* function, const TrmAswRow& row, int rc) {
    logFailure(LastDiag, "Fehler %s() Terminal:%s Ausweis:%s! Errcode: %ld", function, row.DnlTrm,
               row.DnlAsw, static_cast<long>(rc));
}

// Second pass: looks up the booking class of every reader slot of each row of
// the open second cursor and writes them to the row. A lookup that found no
// row (100) still lets the update go ahead. Returns true when the cursor was
// read to its end.
bool updateBookingClasses() {
    for (;;) {
        TrmAswRow row = {};
        int rc = SQLReadTrmAswDnlZut(row);
        if (rc == kResultNoData)
            return true;
        if (rc != 0) {
            logRowFailure("SQLReadTrmAswDnlZut", row, rc);
            return false;
        }
        rc = SQLReadLeserBkl(row);
        if (rc != 0) {
            // A failed lookup is logged with the same line as a failed read.
            logRowFailure("SQLReadTrmAswDnlZut", row, rc);
            if (rc != kResultNoData)
                return false;
        }
        rc = SQLUpdateTrmAswDnlBkl(row);
        if (rc != 0) {
            logRowFailure("SQLUpdateTrmAswDnlBkl", row, rc);
            return false;
        }
        countRowUpdatedInPlace();
    }
}

// The first pass over its cursor. True when it completed.
bool writeAccessPass(const BuildTexts& texts) {
    CursorCloser closer(SQLCloseZutAswBkl);
    int rc = SQLOpenZutAswBkl(badgeFilter(texts));
    if (rc != 0) {
        logBuildFailure(texts, "SQLOpenZutAswBkl", rc);
        return false;
    }
    return writeAccessRows(texts);
}

// The second pass over its cursor. True when it completed.
bool updateBookingClassPass(const BuildTexts& texts) {
    CursorCloser closer(SQLCloseTrmAswDnlZut);
    int rc = SQLOpenTrmAswDnlZut(badgeFilter(texts));
    if (rc != 0) {
        logFailure(LastDiag, "Fehler SQLOpenTrmAswDnlZut()! Errcode: %ld", static_cast<long>(rc));
        return false;
    }
    return updateBookingClasses();
}

// Both passes, each cursor closed before the next step. The second pass
// reads what the first one wrote, so it runs only after a complete first
// pass. 1 when both completed, 0 otherwise.
int buildAccessAuthorisations(const BuildTexts& texts) {
    return writeAccessPass(texts) && updateBookingClassPass(texts) ? 1 : 0;
}

// Looks up one reader slot's booking class into its B text. The slot keeps
// its text unless a row arrives (a NULL minimum leaves it empty).
int readSlotBookingClass(const TrmAswRow& row, ReaderSlot& slot) {
    char bookingClass[sizeof slot.B] = {};
    copyField(bookingClass, slot.B);
    int rc = queryRow(kReadLeserBkl, {sqlText(row.DnlTrm), sqlText(row.DnlAsw), sqlText(slot.L)},
                      FailureMapping::Native, {textColumn(bookingClass)});
    if (rc == 0)
        copyField(slot.B, bookingClass);
    return rc;
}

}  // namespace

int SQLDeleteAswBklDnl() {
    return execNonQuery(kDeleteAswBklDnl, {}, FailureMapping::Native);
}

int SQLCountAswBklDnl(const char* badgeNumber, long& rows) {
    if (isEmptyText(badgeNumber))
        return countRows(kCountAswBklDnl, {}, rows);
    return countRows(kCountAswBklDnlBadge, {sqlText(badgeNumber)}, rows);
}

int SQLOpenZutAswBkl(const char* badgeNumber) {
    return openBadgeCursor(CursorSlot::ZutAswBkl, kOpenZutAswBkl, kOpenZutAswBklBadge, badgeNumber,
                           FailureMapping::NativeOrMinusOne);
}

int SQLReadZutAswBkl(AswBklRow& row) {
    AswBklRow local = {};
    int rc = cursorFetch(CursorSlot::ZutAswBkl, {textColumn(local.DnlTrm), textColumn(local.DnlAsw),
                                                 textColumn(local.DnlBkl)});
    if (rc == 0)
        row = local;
    return rc;
}

int SQLCloseZutAswBkl() {
    cursorClose(CursorSlot::ZutAswBkl);
    return 0;
}

int SQLWriteAswBklDnl(const AswBklRow& row) {
    const int rc = execNonQuery(kWriteAswBklDnl,
                                {sqlText(row.DnlTrm), sqlText(row.DnlAsw), sqlText(row.DnlBkl)},
                                FailureMapping::NativeOrMinusOne);
    if (rc == kResultOk && UnitDigest.on)
        unitDigestTakeRow(DownloadTable::AswBklDnl, aswBklDnlHash(row));
    return rc;
}

uint64_t aswBklDnlHash(const AswBklRow& row) {
    return rowHash({sqlText(row.DnlTrm), sqlText(row.DnlAsw), sqlText(row.DnlBkl)});
}

int SQLReadBackAswBklDnl(const char* badgeNumber, TableContent& content) {
    content = {0, 0};
    AswBklRow row = {};
    auto take = [&]() {
        content.digest += aswBklDnlHash(row);
        ++content.rows;
    };
    const ColumnBindings columns = {textColumn(row.DnlTrm), textColumn(row.DnlAsw),
                                    textColumn(row.DnlBkl)};
    if (isEmptyText(badgeNumber))
        return readBackRows(kReadBackAswBklDnl, {}, row, columns, take);
    return readBackRows(kReadBackAswBklDnlBadge, {sqlText(badgeNumber)}, row, columns, take);
}

int SQLOpenTrmAswDnlZut(const char* badgeNumber) {
    return openBadgeCursor(CursorSlot::TrmAswDnlZut, kOpenTrmAswDnlZut, kOpenTrmAswDnlZutBadge,
                           badgeNumber, FailureMapping::NativeOrMinusOne);
}

int SQLReadTrmAswDnlZut(TrmAswRow& row) {
    TrmAswRow local = {};
    ReaderSlot* s = local.slots;
    int rc =
        cursorFetch(CursorSlot::TrmAswDnlZut,
                    {textColumn(local.DnlTrm), textColumn(local.DnlAsw), textColumn(s[0].L),
                     textColumn(s[1].L), textColumn(s[2].L), textColumn(s[3].L), textColumn(s[4].L),
                     textColumn(s[5].L), textColumn(s[6].L), textColumn(s[7].L), textColumn(s[8].L),
                     textColumn(s[9].L), textColumn(s[10].L)});
    if (rc == 0)
        row = local;
    return rc;
}

int SQLCloseTrmAswDnlZut() {
    cursorClose(CursorSlot::TrmAswDnlZut);
    return 0;
}

int SQLReadLeserBkl(TrmAswRow& row) {
    int result = 0;
    for (ReaderSlot& slot : row.slots) {
        if (isEmptyText(slot.L))
            continue;
        result = readSlotBookingClass(row, slot);
        // A failed lookup must not be hidden by a later slot's success, so
        // the first failure ends the lookup.
        if (result != 0 && result != kResultNoData)
            return result;
    }
    return result;
}

int SQLUpdateTrmAswDnlBkl(const TrmAswRow& row) {
    const ReaderSlot* s = row.slots;
    const int rc = execNonQuery(
        kUpdateTrmAswDnlBkl,
        {sqlText(s[0].B), sqlText(s[1].B), sqlText(s[2].B), sqlText(s[3].B), sqlText(s[4].B),
         sqlText(s[5].B), sqlText(s[6].B), sqlText(s[7].B), sqlText(s[8].B), sqlText(s[9].B),
         sqlText(s[10].B), sqlText(row.DnlTrm), sqlText(row.DnlAsw)},
        FailureMapping::NativeOrMinusOne);
    if (rc == kResultOk && UnitDigest.on) {
        const TrmAswDnlHash hash = trmAswDnlHash(row, kTrmAswDnlColumns);
        unitDigestBookingClassesSet(hash.key, hash.bookingClasses);
    }
    return rc;
}

int BuildAswBklDnl() {
    int rc = SQLDeleteAswBklDnl();
    if (rc != 0) {
        logFailure(LastDiag, "Fehler SQLDeleteAswBklDnl()! Errcode: %ld", static_cast<long>(rc));
        return 0;
    }
    return buildAccessAuthorisations({nullptr});
}

int BuildAswBklDnlForBadge(const QvsAswDnlRow& request) {
    return buildAccessAuthorisations({request.DnlAsw});
}
