#include "download/terminal_writing.h"

#include "db/session.h"
#include "db/statement.h"
#include "download/build_steps.h"
#include "log/runlog.h"
#include "platform/text.h"

int TrmAswDnlHasPnrNam = 1;
int TrmAswDnlHasPin = 1;

namespace {

// The three inserts share their first 37 columns; the wider ones append
// DnlPin, then DnlPnr and DnlNam.
#define TRM_ASW_DNL_NAMES_37                                                                   \
    "DnlTrm, DnlSal, DnlAsw, DnlGvo, DnlGbi, DnlStb, DnlKze, "                                 \
    "DnlKzu, DnlSpr, DnlLiz, DnlMnd, DnlSa1, DnlL01, DnlB01, DnlL02, DnlB02, DnlL03, DnlB03, " \
    "DnlL04, DnlB04, DnlL05, DnlB05, DnlL06, DnlB06, DnlL07, DnlB07, DnlL08, DnlB08, DnlL09, " \
    "DnlB09, DnlL10, DnlB10, DnlL11, DnlB11, DnlSto, DnlAtp, DnlAan"
#define TRM_ASW_DNL_NAMES_38 TRM_ASW_DNL_NAMES_37 ", DnlPin"
#define TRM_ASW_DNL_NAMES_40 TRM_ASW_DNL_NAMES_38 ", DnlPnr, DnlNam"
#define TRM_ASW_DNL_COLUMNS_37 "INSERT INTO Qvsystem.TrmAswDnl (" TRM_ASW_DNL_NAMES_37
#define TRM_ASW_DNL_VALUES_37                                                                    \
    "'%s', '%s', '%s', '%s', '%s', '%s', %ld, %ld, %ld, '%s', '%s', '%s', '%s', '%s', '%s', "    \
    "'%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', '%s', " \
    "'%s', '%s', '%s', '%s', '%s', %ld, '%s'"

const char* const kInsertTrmAswDnl40 = TRM_ASW_DNL_COLUMNS_37
    ", DnlPin, DnlPnr, DnlNam) VALUES (" TRM_ASW_DNL_VALUES_37 ", '%s', '%s', '%s' )";
const char* const kInsertTrmAswDnl38 =
    TRM_ASW_DNL_COLUMNS_37 ", DnlPin) VALUES (" TRM_ASW_DNL_VALUES_37 ", '%s' )";
const char* const kInsertTrmAswDnl37 =
    TRM_ASW_DNL_COLUMNS_37 ") VALUES (" TRM_ASW_DNL_VALUES_37 " )";

// The proof's read-back of the rows, in the inserts' column order and form:
// one badge's rows, or the whole table in pages of kReadBackPageRows by its
// unique key (terminal, badge), so that neither the program nor a driver
// that reads every result whole holds more than one page of the table.
#define TRM_ASW_DNL_READ(names) "SELECT " names " FROM Qvsystem.TrmAswDnl "
#define TRM_ASW_DNL_PAGE "ORDER BY DnlTrm, DnlAsw OFFSET 0 ROWS FETCH NEXT 1000 ROWS ONLY"
// The rows after the last one read: its terminal first on its own, so that
// the key's index can start there.
#define TRM_ASW_DNL_AFTER "WHERE DnlTrm >= '%s' AND (DnlTrm > '%s' OR DnlAsw > '%s') "
#define TRM_ASW_DNL_BADGE "WHERE DnlAsw = '%s'"
constexpr long kReadBackPageRows = 1000;  // as in TRM_ASW_DNL_PAGE

struct ReadBackTexts {
    const char* firstPage;
    const char* nextPage;  // after the terminal, terminal and badge of the last row
    const char* badge;
};
// By form: 40, 38 and 37 columns.
const ReadBackTexts kReadBackTrmAswDnl[] = {
    {TRM_ASW_DNL_READ(TRM_ASW_DNL_NAMES_40) TRM_ASW_DNL_PAGE,
     TRM_ASW_DNL_READ(TRM_ASW_DNL_NAMES_40) TRM_ASW_DNL_AFTER TRM_ASW_DNL_PAGE,
     TRM_ASW_DNL_READ(TRM_ASW_DNL_NAMES_40) TRM_ASW_DNL_BADGE},
    {TRM_ASW_DNL_READ(TRM_ASW_DNL_NAMES_38) TRM_ASW_DNL_PAGE,
     TRM_ASW_DNL_READ(TRM_ASW_DNL_NAMES_38) TRM_ASW_DNL_AFTER TRM_ASW_DNL_PAGE,
     TRM_ASW_DNL_READ(TRM_ASW_DNL_NAMES_38) TRM_ASW_DNL_BADGE},
    {TRM_ASW_DNL_READ(TRM_ASW_DNL_NAMES_37) TRM_ASW_DNL_PAGE,
     TRM_ASW_DNL_READ(TRM_ASW_DNL_NAMES_37) TRM_ASW_DNL_AFTER TRM_ASW_DNL_PAGE,
     TRM_ASW_DNL_READ(TRM_ASW_DNL_NAMES_37) TRM_ASW_DNL_BADGE},
};

#undef TRM_ASW_DNL_COLUMNS_37
#undef TRM_ASW_DNL_VALUES_37
#undef TRM_ASW_DNL_NAMES_37
#undef TRM_ASW_DNL_NAMES_38
#undef TRM_ASW_DNL_NAMES_40
#undef TRM_ASW_DNL_READ
#undef TRM_ASW_DNL_PAGE
#undef TRM_ASW_DNL_AFTER
#undef TRM_ASW_DNL_BADGE

const char* const kUpdateTrmAswDnl =
    "UPDATE Qvsystem.TrmAswDnl SET DnlSal = '%s', DnlGvo = '%s', DnlGbi = '%s', DnlStb = '%s', "
    "DnlKze = %ld, DnlKzu = %ld, DnlSpr = %ld, DnlLiz = '%s', DnlMnd = '%s', DnlSa1 = '%s', "
    "DnlL01 = '%s', DnlB01 = '%s', DnlL02 = '%s', DnlB02 = '%s', DnlL03 = '%s', DnlB03 = '%s', "
    "DnlL04 = '%s', DnlB04 = '%s', DnlL05 = '%s', DnlB05 = '%s', DnlL06 = '%s', DnlB06 = '%s', "
    "DnlL07 = '%s', DnlB07 = '%s', DnlL08 = '%s', DnlB08 = '%s', DnlL09 = '%s', DnlB09 = '%s', "
    "DnlL10 = '%s', DnlB10 = '%s', DnlL11 = '%s', DnlB11 = '%s', DnlSto = '%s', DnlAtp = %ld, "
    "DnlAan = '%s', DnlPin = '%s', DnlPnr = '%s', DnlNam = '%s' WHERE DnlTrm = '%s' AND DnlAsw = "
    "'%s'";

constexpr std::size_t kInsertValueCount = kTrmAswDnlColumns;

// The row's values in insert order; the narrower inserts take a prefix.
void insertValues(const TrmAswRow& row, SqlValue (&values)[kInsertValueCount]) {
    std::size_t n = 0;
    values[n++] = sqlText(row.DnlTrm);
    values[n++] = sqlText(row.DnlSal);
    values[n++] = sqlText(row.DnlAsw);
    values[n++] = sqlText(row.DnlGvo);
    values[n++] = sqlText(row.DnlGbi);
    values[n++] = sqlText(row.DnlStb);
    values[n++] = sqlInt(row.DnlKze);
    values[n++] = sqlInt(row.DnlKzu);
    values[n++] = sqlInt(row.DnlSpr);
    values[n++] = sqlText(row.DnlLiz);
    values[n++] = sqlText(row.DnlMnd);
    values[n++] = sqlText(row.DnlSa1);
    for (const ReaderSlot& slot : row.slots) {
        values[n++] = sqlText(slot.L);
        values[n++] = sqlText(slot.B);
    }
    values[n++] = sqlText(row.DnlSto);
    values[n++] = sqlInt(row.DnlAtp);
    values[n++] = sqlText(row.DnlAan);
    values[n++] = sqlText(row.DnlPin);
    values[n++] = sqlText(row.DnlPnr);
    values[n++] = sqlText(row.DnlNam);
}

// The same order as bindings of a record to read into.
void insertColumns(TrmAswRow& row, ColumnBinding (&columns)[kInsertValueCount]) {
    std::size_t n = 0;
    columns[n++] = textColumn(row.DnlTrm);
    columns[n++] = textColumn(row.DnlSal);
    columns[n++] = textColumn(row.DnlAsw);
    columns[n++] = textColumn(row.DnlGvo);
    columns[n++] = textColumn(row.DnlGbi);
    columns[n++] = textColumn(row.DnlStb);
    columns[n++] = intColumn(row.DnlKze);
    columns[n++] = intColumn(row.DnlKzu);
    columns[n++] = intColumn(row.DnlSpr);
    columns[n++] = textColumn(row.DnlLiz);
    columns[n++] = textColumn(row.DnlMnd);
    columns[n++] = textColumn(row.DnlSa1);
    for (ReaderSlot& slot : row.slots) {
        columns[n++] = textColumn(slot.L);
        columns[n++] = textColumn(slot.B);
    }
    columns[n++] = textColumn(row.DnlSto);
    columns[n++] = intColumn(row.DnlAtp);
    columns[n++] = textColumn(row.DnlAan);
    columns[n++] = textColumn(row.DnlPin);
    columns[n++] = textColumn(row.DnlPnr);
    columns[n++] = textColumn(row.DnlNam);
}

// The booking class DnlBnn of slot nn sits right after its reader DnlLnn.
constexpr std::size_t kFirstSlotValue = 12;
bool isBookingClassValue(std::size_t index) {
    return index > kFirstSlotValue && index < kFirstSlotValue + 2 * kReaderSlotCount &&
           (index - kFirstSlotValue) % 2 == 1;
}

bool isBlank(const char* text) {
    while (*text == ' ')
        ++text;
    return *text == '\0';
}

// The two hash terms of the row's first `count` values in insert order.
TrmAswDnlHash hashOfValues(const SqlValue (&values)[kInsertValueCount], std::size_t count) {
    SqlValue rest[kInsertValueCount];
    SqlValue classes[2 + kReaderSlotCount] = {values[0], values[2]};
    std::size_t restCount = 0, classCount = 2;
    bool anyClass = false;
    for (std::size_t i = 0; i < count; ++i) {
        if (!isBookingClassValue(i)) {
            rest[restCount++] = values[i];
            continue;
        }
        classes[classCount++] = values[i];
        anyClass = anyClass || !isBlank(values[i].text);
    }
    return {rowHash({values[0], values[2]}), rowHash(SqlValues(rest, restCount)),
            anyClass ? rowHash(SqlValues(classes, classCount)) : 0};
}

// The columns of the table's form as the inserts learnt it, and its index
// into kReadBackTrmAswDnl.
std::size_t formColumns() {
    return TrmAswDnlHasPnrNam == 1 ? 40 : TrmAswDnlHasPin == 1 ? 38 : 37;
}
std::size_t formIndex() {
    return TrmAswDnlHasPnrNam == 1 ? 0 : TrmAswDnlHasPin == 1 ? 1 : 2;
}

// One read-back statement; each row goes to `take`. `rows` counts them on,
// `last` keeps the last one. 0 at their end, otherwise the failure.
int readBackStatement(const char* pattern, SqlValues values, void (*take)(const TrmAswDnlHash&),
                      long& rows, TrmAswRow& last) {
    TrmAswRow row = {};
    ColumnBinding columns[kInsertValueCount];
    insertColumns(row, columns);
    const std::size_t count = formColumns();
    return readBackRows(pattern, values, row, ColumnSpan(columns, count), [&]() {
        ++rows;
        last = row;
        take(trmAswDnlHash(row, count));
    });
}

}  // namespace

namespace {

// Only the DB system's "unknown column" number tells that the table lacks
// columns of a wider variant. Any other failure (a duplicate key, a lost
// link, a time-out, a lock) says nothing about the table's form: it must
// neither move the flags nor send the row with fewer columns, which would
// silently drop the personnel number and name of a wide table.
bool lacksColumns(const ExecOutcome& outcome) {
    return outcome.native == DbErrorCodes.InvalidColumn;
}

// The result of a variant that did not insert the row; see the contract of
// SQLInsertTrmAswDnl.
int insertFailure(const ExecOutcome& outcome) {
    return outcome.sent ? failureResult(outcome.native) : kResultFailed;
}

// A variant of `count` columns inserted the row: the unit expects it. 0.
int inserted(const SqlValue (&values)[kInsertValueCount], std::size_t count) {
    if (UnitDigest.on)
        unitDigestTrmAswDnlWritten(hashOfValues(values, count));
    return kResultOk;
}

}  // namespace

int SQLInsertTrmAswDnl(const TrmAswRow& row) {
    SqlValue values[kInsertValueCount];
    insertValues(row, values);
    if (TrmAswDnlHasPnrNam == 1) {
        ExecOutcome outcome = execStatement(kInsertTrmAswDnl40, SqlValues(values, 40));
        if (outcome.sent && !outcome.failed)
            return inserted(values, 40);
        if (!outcome.sent || !lacksColumns(outcome))
            return insertFailure(outcome);
        TrmAswDnlHasPnrNam = 0;
    }
    if (TrmAswDnlHasPin == 1) {
        ExecOutcome outcome = execStatement(kInsertTrmAswDnl38, SqlValues(values, 38));
        if (outcome.sent && !outcome.failed)
            return inserted(values, 38);
        if (!outcome.sent || !lacksColumns(outcome))
            return insertFailure(outcome);
        TrmAswDnlHasPin = 0;
    }
    ExecOutcome outcome = execStatement(kInsertTrmAswDnl37, SqlValues(values, 37));
    if (outcome.sent && !outcome.failed)
        return inserted(values, 37);
    if (outcome.sent && lacksColumns(outcome)) {
        // The table has none of the three forms; the next row starts again
        // with the widest variant.
        TrmAswDnlHasPin = 1;
        TrmAswDnlHasPnrNam = 1;
    }
    return insertFailure(outcome);
}

int SQLUpdateTrmAswDnl(const TrmAswRow& row) {
    const ReaderSlot* s = row.slots;
    const int rc = execNonQuery(
        kUpdateTrmAswDnl,
        {sqlText(row.DnlSal), sqlText(row.DnlGvo), sqlText(row.DnlGbi), sqlText(row.DnlStb),
         sqlInt(row.DnlKze),  sqlInt(row.DnlKzu),  sqlInt(row.DnlSpr),  sqlText(row.DnlLiz),
         sqlText(row.DnlMnd), sqlText(row.DnlSa1), sqlText(s[0].L),     sqlText(s[0].B),
         sqlText(s[1].L),     sqlText(s[1].B),     sqlText(s[2].L),     sqlText(s[2].B),
         sqlText(s[3].L),     sqlText(s[3].B),     sqlText(s[4].L),     sqlText(s[4].B),
         sqlText(s[5].L),     sqlText(s[5].B),     sqlText(s[6].L),     sqlText(s[6].B),
         sqlText(s[7].L),     sqlText(s[7].B),     sqlText(s[8].L),     sqlText(s[8].B),
         sqlText(s[9].L),     sqlText(s[9].B),     sqlText(s[10].L),    sqlText(s[10].B),
         sqlText(row.DnlSto), sqlInt(row.DnlAtp),  sqlText(row.DnlAan), sqlText(row.DnlPin),
         sqlText(row.DnlPnr), sqlText(row.DnlNam), sqlText(row.DnlTrm), sqlText(row.DnlAsw)},
        FailureMapping::NativeOrMinusOne, NoRowsResult::NoData);
    if (rc == kResultOk && UnitDigest.on)
        unitDigestTrmAswDnlWritten(trmAswDnlHash(row, kInsertValueCount));
    return rc;
}

TrmAswDnlHash trmAswDnlHash(const TrmAswRow& row, std::size_t columns) {
    SqlValue values[kInsertValueCount];
    insertValues(row, values);
    return hashOfValues(values, columns);
}

int SQLReadBackTrmAswDnl(const char* badgeNumber, long maxRows, void (*take)(const TrmAswDnlHash&),
                         long& rows) {
    const ReadBackTexts& texts = kReadBackTrmAswDnl[formIndex()];
    rows = 0;
    TrmAswRow last = {};
    if (!isEmptyText(badgeNumber))
        return readBackStatement(texts.badge, {sqlText(badgeNumber)}, take, rows, last);
    int rc = readBackStatement(texts.firstPage, {}, take, rows, last);
    // A page that is not full was the last; more rows than the table may
    // hold end the reading too (a key that does not order the rows).
    for (long pages = 1; rc == 0 && rows == pages * kReadBackPageRows && rows <= maxRows; ++pages) {
        const TrmAswRow after = last;
        rc = readBackStatement(
            texts.nextPage, {sqlText(after.DnlTrm), sqlText(after.DnlTrm), sqlText(after.DnlAsw)},
            take, rows, last);
    }
    return rc;
}

int WriteTrmAswDnl(const TrmAswRow& row, bool* inserted) {
    int rc = SQLUpdateTrmAswDnl(row);
    if (inserted != nullptr)
        *inserted = rc == DbErrorCodes.NotFound;
    if (rc == DbErrorCodes.NotFound) {
        rc = SQLInsertTrmAswDnl(row);
        if (rc != 0) {
            logFailure(LastDiag, "Fehler SQLInsertTrmAswDnl() Terminal:%s Ausweis:%s! Errcode: %ld",
                       row.DnlTrm, row.DnlAsw, static_cast<long>(rc));
        }
    } else if (rc != 0) {
        logFailure(LastDiag, "Fehler SQLUpdateTrmAswDnl() Terminal:%s Ausweis:%s! Errcode: %ld",
                   row.DnlTrm, row.DnlAsw, static_cast<long>(rc));
    }
    return rc;
}
