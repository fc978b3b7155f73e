#include "download/balance_values.h"

#include <cstring>

#include "db/session.h"
#include "db/statement.h"
#include "download/balance_value_list.h"
#include "download/build_steps.h"
#include "download/content_digest.h"
#include "download/rows_written.h"
#include "log/runlog.h"
#include "platform/text.h"

namespace {

const char* const kDeleteSalAswDnl = "DELETE FROM QVSYSTEM.SALASWDNL";
const char* const kDeleteSalAswDnl2 = "DELETE FROM QVSYSTEM.SALASWDNL2";

// The proof before the commit of an atomic rebuild.
const char* const kCountSalAswDnl = "SELECT COUNT(*) FROM QVSYSTEM.SALASWDNL";
const char* const kCountSalAswDnl2 = "SELECT COUNT(*) FROM QVSYSTEM.SALASWDNL2";

// Terminal application list A: a terminal belongs to it when the first eight
// characters of its application code are one of these nine. The dialects
// differ only in the name of the substring function.
#define LIST_A_CONDITION(substr)                                \
    "((" substr "(TRMAPP, 1, 8) = '4917-301')    OR   (" substr \
    "(TRMAPP, 1, 8) = '5820-301')    OR   (" substr             \
    "(TRMAPP, 1, 8) = '5820-311')    OR   (" substr             \
    "(TRMAPP, 1, 8) = '5820-314')    OR   (" substr             \
    "(TRMAPP, 1, 8) = '5820-315')    OR   (" substr             \
    "(TRMAPP, 1, 8) = '5820-351')    OR   (" substr             \
    "(TRMAPP, 1, 8) = '5820-352')    OR   (" substr             \
    "(TRMAPP, 1, 8) = '5820-354')    OR   (" substr "(TRMAPP, 1, 8) = '5820-355'))"
#define COUNT_LIST_A_WITH_TABLE \
    "SELECT COUNT(*) FROM QVSYSTEM.QVS1140TRM  WHERE TRMSAL IS NOT NULL   AND  "
#define COUNT_LIST_A_USING_TABLE \
    "SELECT COUNT(*) FROM QVSYSTEM.QVS1140TRM  WHERE TRMSAL = '%s'   AND  "

const char* const kCount5820Oracle = COUNT_LIST_A_WITH_TABLE LIST_A_CONDITION("SUBSTR") " ";
const char* const kCount5820Mssql = COUNT_LIST_A_WITH_TABLE LIST_A_CONDITION("SUBSTRING") " ";
const char* const kCountSalOracle = COUNT_LIST_A_USING_TABLE LIST_A_CONDITION("SUBSTR");
const char* const kCountSalMssql = COUNT_LIST_A_USING_TABLE LIST_A_CONDITION("SUBSTRING");

#undef LIST_A_CONDITION
#undef COUNT_LIST_A_WITH_TABLE
#undef COUNT_LIST_A_USING_TABLE

const char* const kOpenSalTabAsw =
    "SELECT DISTINCT DNLSAL, DNLLIZ, DNLMND, DNLSPR, DNLASW FROM   QVSYSTEM.TRMASWDNL WHERE  "
    "DNLKZE = 1 AND    DNLSAL IS NOT NULL ORDER BY DNLSAL, DNLLIZ, DNLMND, DNLSPR, DNLASW";

// One line definition: its own label, or else the standard label of its
// display code (list 220001, entries 1 to 89), and the name of its value type
// (list 220002), both in the group's language. Lines marked VORMANT belong to
// every pair of data keys.
const char* const kReadSaldoTexte =
    "SELECT  (SELECT COALESCE(NULLIF(MSDTXT, ''), FTXT50, '')   FROM   QVSYSTEM.QVS102WHL, "
    "QVSYSTEM.QVS119MSD b   WHERE  a.MSDSAL = b.MSDSAL   AND    a.MSDLIZ = b.MSDLIZ   AND    "
    "a.MSDMND = b.MSDMND   AND    a.MSDLFD = b.MSDLFD   AND    FTXNUMSPR = 220001   AND    "
    "FTXWHL = b.MSDANZ   AND    FTXWHL > 0   AND    FTXWHL < 90   AND    FTXSPR = %ld  )as Text,  "
    "(SELECT COALESCE(FTXT30, '')   FROM   QVSYSTEM.QVS102WHL  WHERE  FTXNUMSPR = 220002   AND    "
    "FTXWHL = a.MSDWRT   AND    FTXSPR = %ld  ) as Wert,  MSDWRT as WrtWhl FROM  "
    "QVSYSTEM.QVS119MSD a WHERE MSDSAL = '%s' AND  ((MSDLIZ = '%s' AND MSDMND = '%s')  OR   "
    "MSDERF = 'VORMANT') AND   MSDLFD = %ld ";

#define SAL_ASW_DNL_NAMES                                                                    \
    "DnlSal, DnlLiz, DnlMnd, DnlSpr, DnlAsw,   DnlSa1, DnlSa2, "                             \
    "DnlSa3, DnlSa4,   DnlSa5, DnlSa6, DnlSa7, DnlSa8,   DnlWr1, DnlWr2, DnlWr3, DnlWr4,   " \
    "DnlWr5, DnlWr6, DnlWr7, DnlWr8"
const char* const kWriteSalAswDnl =
    "INSERT INTO Qvsystem.SalAswDnl  (" SAL_ASW_DNL_NAMES
    ")  VALUES  ('%s', '%s', '%s',  %ld, '%s',   '%s', '%s', '%s', "
    "'%s',   '%s', '%s', '%s', '%s',   '%s', '%s', '%s', '%s',   '%s', '%s', '%s', '%s') ";
// The proof's read-back of the rows, in the insert's column order.
const char* const kReadBackSalAswDnl = "SELECT " SAL_ASW_DNL_NAMES " FROM Qvsystem.SalAswDnl";
#undef SAL_ASW_DNL_NAMES

constexpr std::size_t kSalAswDnlColumns = 5 + 2 * kBalanceLineCount;

// The row's values in insert order.
void salAswDnlValues(const SalAswRow& row, SqlValue (&values)[kSalAswDnlColumns]) {
    std::size_t n = 0;
    values[n++] = sqlText(row.DnlSal);
    values[n++] = sqlText(row.DnlLiz);
    values[n++] = sqlText(row.DnlMnd);
    values[n++] = sqlInt(row.DnlSpr);
    values[n++] = sqlText(row.DnlAsw);
    for (const SalAswLine& line : row.lines)
        values[n++] = sqlText(line.DnlSa);
    for (const SalAswLine& line : row.lines)
        values[n++] = sqlText(line.DnlWr);
}

// The same order as bindings of a record to read into.
void salAswDnlColumns(SalAswRow& row, ColumnBinding (&columns)[kSalAswDnlColumns]) {
    std::size_t n = 0;
    columns[n++] = textColumn(row.DnlSal);
    columns[n++] = textColumn(row.DnlLiz);
    columns[n++] = textColumn(row.DnlMnd);
    columns[n++] = intColumn(row.DnlSpr);
    columns[n++] = textColumn(row.DnlAsw);
    for (SalAswLine& line : row.lines)
        columns[n++] = textColumn(line.DnlSa);
    for (SalAswLine& line : row.lines)
        columns[n++] = textColumn(line.DnlWr);
}

uint64_t salAswDnlHash(const SalAswRow& row) {
    SqlValue values[kSalAswDnlColumns];
    salAswDnlValues(row, values);
    return rowHash(SqlValues(values, kSalAswDnlColumns));
}

int countInto(const char* pattern, SqlValues values, int32_t& count) {
    long rows = 0;
    int rc = countRows(pattern, values, rows);
    count = static_cast<int32_t>(rows);
    return rc;
}

// What one step of a badge row decided.
enum class RowStep { Next, Stop };

bool sameGroup(const SaldoTexte& texts, const SalAswRow& row) {
    return std::strcmp(row.DnlMnd, texts.DnlMnd) == 0 &&
           std::strcmp(row.DnlLiz, texts.DnlLiz) == 0 &&
           std::strcmp(row.DnlSal, texts.DnlSal) == 0 && row.DnlSpr == texts.DnlSpr;
}

// Reads the line definitions when the row starts a new group of balance
// table, data keys and language; the cursor's order keeps each group together.
RowStep refreshTexts(const SalAswRow& row, SaldoTexte& texts) {
    if (sameGroup(texts, row))
        return RowStep::Next;
    texts = {};
    copyField(texts.DnlSal, row.DnlSal);
    copyField(texts.DnlLiz, row.DnlLiz);
    copyField(texts.DnlMnd, row.DnlMnd);
    texts.DnlSpr = row.DnlSpr;
    int rc = SQLReadSaldoTexte(texts);
    if (rc == 0)
        return RowStep::Next;
    logFailure(LastDiag, "Fehler SQLReadSaldoTexte() Saldotabelle:%s! Errcode: %ld", texts.DnlSal,
               static_cast<long>(rc));
    return rc == kResultNoData ? RowStep::Next : RowStep::Stop;
}

// Formats and inserts the badge's display lines. A failed read of its values
// ends the build rather than store blank lines; a badge without values (100)
// gets lines from empty values. A duplicate row is logged and skipped.
RowStep writeDisplayLines(const SaldoTexte& texts, SalAswRow& row) {
    int rc = FormatSalAswDnl(texts, row);
    if (rc != 0 && rc != DbErrorCodes.NotFound) {
        logFailure(LastDiag,
                   "Fehler SQLWriteSalAswDnl2() ReadSaldoWerte:%s Ausweis:%s! Errcode: %ld",
                   row.DnlSal, row.DnlAsw, static_cast<long>(rc));
        return RowStep::Stop;
    }
    if (countInsert(DownloadTable::SalAswDnl, SQLWriteSalAswDnl(row),
                    "Fehler SQLWriteSalAswDnl() Saldotabelle:%s Ausweis:%s!", row.DnlSal,
                    row.DnlAsw))
        return RowStep::Next;
    return RowStep::Stop;
}

// Writes the badge's value list when a terminal of list A uses its balance
// table; `listATerminals` counts the list-A terminals with any balance table.
RowStep writeValueList(const SaldoTexte& texts, const SalAswRow& row, int32_t listATerminals) {
    if (listATerminals <= 0)
        return RowStep::Next;
    int32_t usingTable = 0;
    int rc = SQLCountSal_neu(texts.DnlSal, usingTable);
    if (rc != 0) {
        logFailure(LastDiag, "Fehler SQLCountSal_neu() Saldotabelle:%s  Errcode: %ld", texts.DnlSal,
                   static_cast<long>(rc));
        return RowStep::Stop;
    }
    if (usingTable <= 0)
        return RowStep::Next;
    return BuildSalAswDnl2(texts, row) != 0 ? RowStep::Next : RowStep::Stop;
}

// The cursor loop. True when every badge row was written.
bool writeBadgeRows(int32_t listATerminals) {
    SaldoTexte texts = {};
    for (;;) {
        SalAswRow row = {};
        int rc = SQLReadSalTabAsw(row);
        if (rc == kResultNoData)
            return true;
        if (rc != 0) {
            logFailure(LastDiag, "Fehler SQLReadSalTabAsw()! Errcode: %ld", static_cast<long>(rc));
            return false;
        }
        if (refreshTexts(row, texts) == RowStep::Stop ||
            writeDisplayLines(texts, row) == RowStep::Stop ||
            writeValueList(texts, row, listATerminals) == RowStep::Stop) {
            return false;
        }
    }
}

// Logs a failed preparing statement ("Fehler <function>()! Errcode: <rc>").
// True when it succeeded.
bool prepared(int rc, const char* function) {
    if (rc != 0)
        logBuildFailure({nullptr}, function, rc);
    return rc == 0;
}

}  // namespace

int SQLDeleteSalAswDnl() {
    return execNonQuery(kDeleteSalAswDnl, {}, FailureMapping::Native);
}

int SQLDeleteSalAswDnl2() {
    return execNonQuery(kDeleteSalAswDnl2, {}, FailureMapping::Native);
}

int SQLCountSalAswDnl(long& rows) {
    return countRows(kCountSalAswDnl, {}, rows);
}

int SQLCountSalAswDnl2(long& rows) {
    return countRows(kCountSalAswDnl2, {}, rows);
}

int SQLCount5820_neu(int32_t& count) {
    return countInto(dialectText(kCount5820Oracle, kCount5820Mssql), {}, count);
}

int SQLCountSal_neu(const char* balanceTable, int32_t& count) {
    return countInto(dialectText(kCountSalOracle, kCountSalMssql), {sqlText(balanceTable)}, count);
}

int SQLOpenSalTabAsw() {
    return cursorOpen(CursorSlot::SalTabAsw, kOpenSalTabAsw, {}, FailureMapping::MinusOne);
}

int SQLReadSalTabAsw(SalAswRow& row) {
    SalAswRow local = {};
    int rc = cursorFetch(CursorSlot::SalTabAsw, {textColumn(local.DnlSal), textColumn(local.DnlLiz),
                                                 textColumn(local.DnlMnd), intColumn(local.DnlSpr),
                                                 textColumn(local.DnlAsw)});
    if (rc == 0)
        row = local;
    return rc;
}

int SQLCloseSalTabAsw() {
    cursorClose(CursorSlot::SalTabAsw);
    return 0;
}

int SQLReadSaldoTexte(SaldoTexte& texts) {
    for (int n = 0; n < kBalanceLineCount; ++n) {
        SaldoTextLine line = {};
        int rc = queryRow(kReadSaldoTexte,
                          {sqlInt(texts.DnlSpr), sqlInt(texts.DnlSpr), sqlText(texts.DnlSal),
                           sqlText(texts.DnlLiz), sqlText(texts.DnlMnd), sqlInt(n + 1)},
                          FailureMapping::MinusOne,
                          {textColumn(line.Text), textColumn(line.Wert), intColumn(line.WrtWhl)});
        // A fetch that fails is a failure like any other: the line must not
        // pass for undefined.
        if (rc != 0 && rc != kResultNoData)
            return kResultFailed;
        texts.lines[n] = line;
    }
    return 0;
}

int SQLWriteSalAswDnl(const SalAswRow& row) {
    SqlValue values[kSalAswDnlColumns];
    salAswDnlValues(row, values);
    const int rc =
        execNonQuery(kWriteSalAswDnl, SqlValues(values, kSalAswDnlColumns), FailureMapping::Native);
    if (rc == kResultOk && UnitDigest.on)
        unitDigestTakeRow(DownloadTable::SalAswDnl, salAswDnlHash(row));
    return rc;
}

int SQLReadBackSalAswDnl(TableContent& content) {
    content = {0, 0};
    SalAswRow row = {};
    ColumnBinding columns[kSalAswDnlColumns];
    salAswDnlColumns(row, columns);
    return readBackRows(kReadBackSalAswDnl, {}, row, ColumnSpan(columns, kSalAswDnlColumns), [&]() {
        content.digest += salAswDnlHash(row);
        ++content.rows;
    });
}

int BuildSalAswDnl() {
    if (!prepared(SQLDeleteSalAswDnl(), "SQLDeleteSalAswDnl") ||
        !prepared(SQLDeleteSalAswDnl2(), "SQLDeleteSalAswDnl2")) {
        return 0;
    }
    int32_t listATerminals = 0;
    if (!prepared(SQLCount5820_neu(listATerminals), "SQLCount5820_neu"))
        return 0;
    CursorCloser closer(SQLCloseSalTabAsw);
    if (!prepared(SQLOpenSalTabAsw(), "SQLOpenSalTabAsw"))
        return 0;
    return writeBadgeRows(listATerminals) ? 1 : 0;
}
