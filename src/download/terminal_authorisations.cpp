#include "download/terminal_authorisations.h"

#include <cstdio>
#include <cstring>

#include "db/session.h"
#include "db/statement.h"
#include "download/build_steps.h"
#include "download/rows_written.h"
#include "log/runlog.h"
#include "platform/text.h"

namespace {

// The authorisation cursor in its two dialects, each with and without the
// badge condition. The dialects differ in date formatting, the balance
// expression, the name (ORACLE turns "surname, first names" round) and the
// validity tests.
#define TRM_ASW_SELECT "SELECT DISTINCT TRMNAM, TRMSAL, TRMSPR, TRMLIZ, TRMMND, ASWNUM, "
#define TRM_ASW_DATES_ORACLE \
    "TO_CHAR(ASWGVO, 'yyyymmdd'), COALESCE(TO_CHAR(ASWGBI, 'yyyymmdd'), '00000000'), "
#define TRM_ASW_DATES_MSSQL \
    "CONVERT(char(8), ASWGVO, 112), COALESCE(CONVERT(char(8), ASWGBI, 112), '00000000'), "
#define TRM_ASW_FLAGS                                                                              \
    "ASWATP, ASWAAN, STOKTX, STONUM, (select sign(count(*)) from qvsystem.MGSST35P where m35trm "  \
    "= a.trmnam and m35bch = 1 and M35BKL IN (SELECT AWBBKL FROM QVSYSTEM.QVS301AWB WHERE "        \
    "AWBASW = ASWNUM) ) as knzzet, (select sign(count(*)) from qvsystem.MGSST35P where m35trm = "  \
    "a.trmnam and M35BCH = 0 and M35BKL IN (SELECT AWBBKL FROM QVSYSTEM.QVS301AWB WHERE AWBASW = " \
    "ASWNUM) ) as knzzut, "
#define TRM_ASW_BALANCE_ORACLE                                                                    \
    "(select CONCAT(substr(TswW02, 5, 6), COALESCE(NULLIF(substr(TswW02, 1, 1), '+'),' ')) from " \
    "qvsystem.O2002TSW where tswidn = d.aswnum) as salsa1, "
#define TRM_ASW_BALANCE_MSSQL                                                               \
    "(select substring(TswW02, 5, 6) + COALESCE(NULLIF(substring(TswW02, 1, 1), '+'),' ') " \
    "from qvsystem.O2002TSW where tswidn = d.aswnum) as salsa1, "
#define TRM_ASW_BADGE_COLUMNS "TRMMOD, ASWSAL, ASWPIN, ASWPNR, "
#define TRM_ASW_NAME_ORACLE                                                                    \
    "CONCAT( CONCAT(LTRIM(SUBSTR(ASWNAM, INSTR(ASWNAM, ',') + 1)),' '), RTRIM(SUBSTR(ASWNAM, " \
    "1, INSTR(ASWNAM, ',')-1)) ) as ASWNAM "
#define TRM_ASW_NAME_MSSQL "ASWNAM "
#define TRM_ASW_FROM                                                                             \
    "FROM qvsystem.qvs1140trm a, qvsystem.mgsst35p b, qvsystem.qvs301asw d, qvsystem.qvs113sto " \
    "e WHERE trmnam = M35TRM AND "
#define TRM_ASW_BADGE_CONDITION "ASWNUM = '%s' AND "
#define TRM_ASW_VALID_ORACLE \
    "ASWGVO <= trunc(sysdate) AND (ASWGBI is null or ASWGBI >= trunc(sysdate)) AND "
#define TRM_ASW_VALID_MSSQL "ASWGVO <= getdate() AND (ASWGBI is null or ASWGBI >= getdate()-1) AND "
#define TRM_ASW_TAIL                                                                               \
    "M35BKL in (select AWBBKL FROM QVSYSTEM.QVS301AWB WHERE AWBASW = ASWNUM) AND (ASWCOD <> 8 or " \
    "ASWCOD IS NULL) AND ASWSTO = STONUM"

#define TRM_ASW_ORACLE_HEAD                                                                        \
    TRM_ASW_SELECT TRM_ASW_DATES_ORACLE TRM_ASW_FLAGS TRM_ASW_BALANCE_ORACLE TRM_ASW_BADGE_COLUMNS \
        TRM_ASW_NAME_ORACLE TRM_ASW_FROM
#define TRM_ASW_MSSQL_HEAD                                                                       \
    TRM_ASW_SELECT TRM_ASW_DATES_MSSQL TRM_ASW_FLAGS TRM_ASW_BALANCE_MSSQL TRM_ASW_BADGE_COLUMNS \
        TRM_ASW_NAME_MSSQL TRM_ASW_FROM

const char* const kOpenTrmAswOracle = TRM_ASW_ORACLE_HEAD TRM_ASW_VALID_ORACLE TRM_ASW_TAIL;
const char* const kOpenTrmAswOracleBadge =
    TRM_ASW_ORACLE_HEAD TRM_ASW_BADGE_CONDITION TRM_ASW_VALID_ORACLE TRM_ASW_TAIL;
const char* const kOpenTrmAswMssql = TRM_ASW_MSSQL_HEAD TRM_ASW_VALID_MSSQL TRM_ASW_TAIL;
const char* const kOpenTrmAswMssqlBadge =
    TRM_ASW_MSSQL_HEAD TRM_ASW_BADGE_CONDITION TRM_ASW_VALID_MSSQL TRM_ASW_TAIL;

#undef TRM_ASW_SELECT
#undef TRM_ASW_DATES_ORACLE
#undef TRM_ASW_DATES_MSSQL
#undef TRM_ASW_FLAGS
#undef TRM_ASW_BALANCE_ORACLE
#undef TRM_ASW_BALANCE_MSSQL
#undef TRM_ASW_BADGE_COLUMNS
#undef TRM_ASW_NAME_ORACLE
#undef TRM_ASW_NAME_MSSQL
#undef TRM_ASW_FROM
#undef TRM_ASW_BADGE_CONDITION
#undef TRM_ASW_VALID_ORACLE
#undef TRM_ASW_VALID_MSSQL
#undef TRM_ASW_TAIL
#undef TRM_ASW_ORACLE_HEAD
#undef TRM_ASW_MSSQL_HEAD

#define TRM_LESER_SLOT(nn)                                                                   \
    "(select distinct m35les from qvsystem.mgsst35p where m35trm = trmnam and m35les = '" nn \
    "' and m35bch = 0) as L" nn

const char* const kReadTrmLeser =
    " SELECT " TRM_LESER_SLOT("01") ", " TRM_LESER_SLOT("02") ", " TRM_LESER_SLOT(
        "03") ", " TRM_LESER_SLOT("04") ", " TRM_LESER_SLOT("05") ", " TRM_LESER_SLOT("06") ", " TRM_LESER_SLOT("07") ", " TRM_LESER_SLOT("08") ", " TRM_LESER_SLOT("09") ", " TRM_LESER_SLOT("10") ", " TRM_LESER_SLOT("11") " FROM QVSYSTEM.QVS1140TRM WHERE TRMNAM = '%s'";

#undef TRM_LESER_SLOT

const char* const kReadSalTabModell =
    "SELECT MSTTTP FROM QVSYSTEM.QVS119MST WHERE MSTNAM = '%s' AND MSTLIZ = '%s' AND MSTMND = "
    "'%s'";

const char* const kDeleteTrmAswDnl = "DELETE FROM QVSYSTEM.TRMASWDNL";

// The proof before a commit: all rows, or one badge's (by the index on
// DnlAsw that key runs need anyway).
const char* const kCountTrmAswDnl = "SELECT COUNT(*) FROM QVSYSTEM.TRMASWDNL";
const char* const kCountTrmAswDnlBadge =
    "SELECT COUNT(*) FROM QVSYSTEM.TRMASWDNL WHERE DNLASW = '%s'";

// The model code of a terminal whose balance display can show the badge's
// own balance table, and the model code of a table that asks for it.
const char* const kBalanceTerminalModel = "5830-020";
const char* const kBadgeBalanceTableModel = "5830-060";

constexpr std::size_t kBalanceBufferWidth = 8;

// What one row's lookups decided.
enum class RowStep { Write, Stop };

// Looks up the reader slots when the terminal changes. Returns Stop after a
// failure that ends the build.
RowStep refreshReaderSlots(const TrmAswRow& row, char (&currentTerminal)[256], TrmAswRow& slots) {
    if (std::strcmp(row.DnlTrm, currentTerminal) == 0)
        return RowStep::Write;
    slots = row;
    int rc = SQLReadTrmLeser(slots);
    RowStep step = RowStep::Write;
    if (rc != 0) {
        logFailure(LastDiag, "Fehler SQLReadTrmLeser() Terminal:%s! Errcode: %ld", row.DnlTrm,
                   static_cast<long>(rc));
        std::memset(&slots, 0, sizeof slots);
        if (rc != kResultNoData)
            step = RowStep::Stop;
    }
    copyField(currentTerminal, row.DnlTrm);
    return step;
}

// A terminal with a balance display of model 5830-020 shows the badge's own
// balance table when that table is of model 5830-060.
RowStep applyBalanceTableRule(TrmAswRow& row, const BuildTexts& texts) {
    if (std::strcmp(row.TrmMod, kBalanceTerminalModel) != 0 || isEmptyText(row.AswSal)) {
        return RowStep::Write;
    }
    char model[kModelCodeWidth] = {};
    int rc = SQLReadSalTabModell(row, model);
    if (rc != 0) {
        // "Errorcode" is the wording the per-badge line has always had.
        logFailure(LastDiag, "Fehler SQLReadSalTabModell() Terminal:%s! %s: %ld", row.DnlTrm,
                   texts.badge == nullptr ? "Errcode" : "Errorcode", static_cast<long>(rc));
        return rc == kResultNoData ? RowStep::Write : RowStep::Stop;
    }
    if (std::strcmp(model, kBadgeBalanceTableModel) == 0)
        copyField(row.DnlSal, row.AswSal);
    return RowStep::Write;
}

void copyReaderSlots(TrmAswRow& row, const TrmAswRow& slots) {
    std::memcpy(row.slots, slots.slots, sizeof row.slots);
}

// Inserts a row of the full build. A duplicate terminal and badge (the
// cursor may deliver a pair twice) is logged and skipped.
RowStep insertRow(const TrmAswRow& row) {
    if (countInsert(DownloadTable::TrmAswDnl, SQLInsertTrmAswDnl(row),
                    "Fehler SQLInsertTrmAswDnl() Terminal:%s Ausweis:%s!", row.DnlTrm, row.DnlAsw))
        return RowStep::Write;
    return RowStep::Stop;
}

// The row loop both builders share: read, reader slots, balance-table rule,
// slots into the row, write. Returns true when every row was written.
bool writeAuthorisationRows(const BuildTexts& texts, RowStep (*write)(const TrmAswRow&)) {
    char currentTerminal[256] = {};
    TrmAswRow slots = {};
    for (;;) {
        TrmAswRow row = {};
        int rc = SQLReadTrmAsw(row);
        if (rc == kResultNoData)
            return true;
        if (rc != 0) {
            logBuildFailure(texts, "SQLReadTrmAsw", rc);
            return false;
        }
        if (refreshReaderSlots(row, currentTerminal, slots) == RowStep::Stop)
            return false;
        if (applyBalanceTableRule(row, texts) == RowStep::Stop)
            return false;
        copyReaderSlots(row, slots);
        if (write(row) == RowStep::Stop)
            return false;
    }
}

// Writes a row of the per-badge build by update-else-insert; any failure
// ends the call (WriteTrmAswDnl has logged it).
RowStep updateOrInsertRow(const TrmAswRow& row) {
    bool inserted = false;
    if (WriteTrmAswDnl(row, &inserted) != 0)
        return RowStep::Stop;
    if (inserted)
        countRowInserted(DownloadTable::TrmAswDnl);
    else
        countRowWritten(DownloadTable::TrmAswDnl);
    return RowStep::Write;
}

// Opens the authorisation cursor of the build and writes its rows. 1 when
// every row was written.
int buildAuthorisations(const BuildTexts& texts, RowStep (*write)(const TrmAswRow&)) {
    CursorCloser closer(SQLCloseTrmAsw);
    int rc = SQLOpenTrmAsw(texts.badge == nullptr ? "" : texts.badge);
    if (rc != 0) {
        logBuildFailure(texts, "SQLOpenTrmAsw", rc);
        return 0;
    }
    return writeAuthorisationRows(texts, write) ? 1 : 0;
}

}  // namespace

int SQLDeleteTrmAswDnl() {
    return execNonQuery(kDeleteTrmAswDnl, {}, FailureMapping::NativeOrMinusOne);
}

int SQLCountTrmAswDnl(const char* badgeNumber, long& rows) {
    if (isEmptyText(badgeNumber))
        return countRows(kCountTrmAswDnl, {}, rows);
    return countRows(kCountTrmAswDnlBadge, {sqlText(badgeNumber)}, rows);
}

int SQLOpenTrmAsw(const char* badgeNumber) {
    return openBadgeCursor(CursorSlot::TrmAsw, dialectText(kOpenTrmAswOracle, kOpenTrmAswMssql),
                           dialectText(kOpenTrmAswOracleBadge, kOpenTrmAswMssqlBadge), badgeNumber,
                           FailureMapping::MinusOne);
}

int SQLReadTrmAsw(TrmAswRow& row) {
    TrmAswRow local = {};
    char balance[kBalanceBufferWidth] = {};
    int rc =
        cursorFetch(CursorSlot::TrmAsw,
                    {textColumn(local.DnlTrm), textColumn(local.DnlSal), intColumn(local.DnlSpr),
                     textColumn(local.DnlLiz), textColumn(local.DnlMnd), textColumn(local.DnlAsw),
                     textColumn(local.DnlGvo), textColumn(local.DnlGbi), intColumn(local.DnlAtp),
                     textColumn(local.DnlAan), textColumn(local.DnlStb), textColumn(local.DnlSto),
                     intColumn(local.DnlKze),  intColumn(local.DnlKzu),  textColumn(balance),
                     textColumn(local.TrmMod), textColumn(local.AswSal), textColumn(local.DnlPin),
                     textColumn(local.DnlPnr), textColumn(local.DnlNam)});
    if (rc != 0)
        return rc;
    std::snprintf(local.DnlSa1, sizeof local.DnlSa1, "%7s", balance);
    row = local;
    return 0;
}

int SQLCloseTrmAsw() {
    cursorClose(CursorSlot::TrmAsw);
    return 0;
}

int SQLReadTrmLeser(TrmAswRow& row) {
    TrmAswRow local = row;
    ReaderSlot* s = local.slots;
    int rc =
        queryRow(kReadTrmLeser, {sqlText(row.DnlTrm)}, FailureMapping::Native,
                 {textColumn(s[0].L), textColumn(s[1].L), textColumn(s[2].L), textColumn(s[3].L),
                  textColumn(s[4].L), textColumn(s[5].L), textColumn(s[6].L), textColumn(s[7].L),
                  textColumn(s[8].L), textColumn(s[9].L), textColumn(s[10].L)});
    if (rc == 0)
        row = local;
    return rc;
}

int SQLReadSalTabModell(const TrmAswRow& row, char* model) {
    char local[kModelCodeWidth] = {};
    int rc =
        queryRow(kReadSalTabModell, {sqlText(row.AswSal), sqlText(row.DnlLiz), sqlText(row.DnlMnd)},
                 FailureMapping::Native, {textColumn(local)});
    if (rc == 0)
        copyField(model, kModelCodeWidth, local);
    return rc;
}

int BuildTrmAswDnl() {
    int rc = SQLDeleteTrmAswDnl();
    if (rc != 0) {
        logFailure(LastDiag, "Fehler SQLDeleteTrmAswDnl()! Errcode: %ld", static_cast<long>(rc));
        return 0;
    }
    return buildAuthorisations({nullptr}, insertRow);
}

int BuildTrmAswDnlForBadge(const QvsAswDnlRow& request) {
    return buildAuthorisations({request.DnlAsw}, updateOrInsertRow);
}
