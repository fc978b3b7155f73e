#include "download/terminal_writing.h"

#include "db/session.h"
#include "db/statement.h"
#include "log/runlog.h"

int TrmAswDnlHasPnrNam = 1;
int TrmAswDnlHasPin = 1;

namespace {

// The three inserts share their first 37 columns; the wider ones append
// DnlPin, then DnlPnr and DnlNam.
#define TRM_ASW_DNL_COLUMNS_37                                                                 \
    "INSERT INTO Qvsystem.TrmAswDnl (DnlTrm, DnlSal, DnlAsw, DnlGvo, DnlGbi, DnlStb, DnlKze, " \
    "DnlKzu, DnlSpr, DnlLiz, DnlMnd, DnlSa1, DnlL01, DnlB01, DnlL02, DnlB02, DnlL03, DnlB03, " \
    "DnlL04, DnlB04, DnlL05, DnlB05, DnlL06, DnlB06, DnlL07, DnlB07, DnlL08, DnlB08, DnlL09, " \
    "DnlB09, DnlL10, DnlB10, DnlL11, DnlB11, DnlSto, DnlAtp, DnlAan"
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

#undef TRM_ASW_DNL_COLUMNS_37
#undef TRM_ASW_DNL_VALUES_37

const char* const kUpdateTrmAswDnl =
    "UPDATE Qvsystem.TrmAswDnl SET DnlSal = '%s', DnlGvo = '%s', DnlGbi = '%s', DnlStb = '%s', "
    "DnlKze = %ld, DnlKzu = %ld, DnlSpr = %ld, DnlLiz = '%s', DnlMnd = '%s', DnlSa1 = '%s', "
    "DnlL01 = '%s', DnlB01 = '%s', DnlL02 = '%s', DnlB02 = '%s', DnlL03 = '%s', DnlB03 = '%s', "
    "DnlL04 = '%s', DnlB04 = '%s', DnlL05 = '%s', DnlB05 = '%s', DnlL06 = '%s', DnlB06 = '%s', "
    "DnlL07 = '%s', DnlB07 = '%s', DnlL08 = '%s', DnlB08 = '%s', DnlL09 = '%s', DnlB09 = '%s', "
    "DnlL10 = '%s', DnlB10 = '%s', DnlL11 = '%s', DnlB11 = '%s', DnlSto = '%s', DnlAtp = %ld, "
    "DnlAan = '%s', DnlPin = '%s', DnlPnr = '%s', DnlNam = '%s' WHERE DnlTrm = '%s' AND DnlAsw = "
    "'%s'";

constexpr std::size_t kInsertValueCount = 40;

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

}  // namespace

int SQLInsertTrmAswDnl(const TrmAswRow& row) {
    SqlValue values[kInsertValueCount];
    insertValues(row, values);
    if (TrmAswDnlHasPnrNam == 1) {
        ExecOutcome outcome = execStatement(kInsertTrmAswDnl40, SqlValues(values, 40));
        if (outcome.sent && !outcome.failed)
            return kResultOk;
        if (!outcome.sent || !lacksColumns(outcome))
            return insertFailure(outcome);
        TrmAswDnlHasPnrNam = 0;
    }
    if (TrmAswDnlHasPin == 1) {
        ExecOutcome outcome = execStatement(kInsertTrmAswDnl38, SqlValues(values, 38));
        if (outcome.sent && !outcome.failed)
            return kResultOk;
        if (!outcome.sent || !lacksColumns(outcome))
            return insertFailure(outcome);
        TrmAswDnlHasPin = 0;
    }
    ExecOutcome outcome = execStatement(kInsertTrmAswDnl37, SqlValues(values, 37));
    if (outcome.sent && !outcome.failed)
        return kResultOk;
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
    return execNonQuery(
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
