#include "db/statement.h"

#include <cstdio>
#include <cstring>

#include "db/call_in_flight.h"
#include "db/catalog.h"
#include "db/cursor_mode.h"
#include "db/session.h"
#include "db/time_limits.h"
#include "platform/stop_signal.h"
#include "platform/text.h"

char StatementBuffer[kStatementBufferSize];

namespace {

// One length/indicator per result column position. Every read binds its
// columns anew right before it fetches and reads the indicators right after,
// so the statements may share them. The widest row has 40 columns (the
// read-back of TrmAswDnl); a column beyond the array shares the spare, which
// is never read (its text is not checked for a cut character).
constexpr std::size_t kIndicatorCount = 40;
SQLLEN columnIndicators[kIndicatorCount] = {};
SQLLEN spareIndicator = 0;

SQLHSTMT cursorSlots[static_cast<int>(CursorSlot::Count)] = {};

SQLHSTMT& slotHandle(CursorSlot slot) {
    return cursorSlots[static_cast<int>(slot)];
}

// Appends the first `count` characters of `text` to `out` at `*length`,
// terminated. False when they and the terminator do not fit (out unchanged).
bool appendRun(char* out, std::size_t outSize, std::size_t* length, const char* text,
               std::size_t count) {
    if (count >= outSize - *length)
        return false;
    std::memcpy(out + *length, text, count);
    *length += count;
    out[*length] = '\0';
    return true;
}

bool appendChar(char* out, std::size_t outSize, std::size_t* length, char c) {
    return appendRun(out, outSize, length, &c, 1);
}

bool appendInteger(char* out, std::size_t outSize, std::size_t* length, long value) {
    char digits[32];
    int count = std::snprintf(digits, sizeof digits, "%ld", value);
    return count > 0 && appendRun(out, outSize, length, digits, static_cast<std::size_t>(count));
}

// Once a stop signal has come, the run is to end at the next statement: no
// statement is executed and no row fetched any more; each fails with -1.
bool stopRequested() {
    return platformStopSignal() != 0;
}

// A statement that the database holds up (a lock that another session keeps)
// fails after the time-out like any other failure. 0 leaves the driver's
// default: no limit.
void setStatementTimeout(SQLHSTMT stmt) {
    if (DbTimeLimits.statementSeconds <= 0)
        return;
    SQLSetStmtAttr(
        stmt, SQL_ATTR_QUERY_TIMEOUT,
        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(DbTimeLimits.statementSeconds)),
        SQL_IS_UINTEGER);
}

// Freeing a statement handle can wait on the server: a driver that reads a
// cursor in batches closes it there. It is bounded like every other call,
// and runs after a stop signal too, so that no handle is left behind.
SQLRETURN freeStatement(SQLHSTMT stmt) {
    DbCallInFlight call(DbCallKind::Free, SQL_HANDLE_STMT, stmt);
    return SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

// Owns a statement handle for the length of one statement function, so that
// every path frees it. A cursor hands its handle over to its slot instead.
class StatementHandle {
  public:
    // After a stop signal no statement is started: without a handle every
    // shape fails with -1 before anything is sent.
    StatementHandle() {
        if (stopRequested())
            return;
        if (SQLAllocHandle(SQL_HANDLE_STMT, dbConnection, &handle_) == SQL_ERROR) {
            handle_ = SQL_NULL_HSTMT;
            return;
        }
        setStatementTimeout(handle_);
    }
    ~StatementHandle() {
        if (handle_ != SQL_NULL_HSTMT)
            freeStatement(handle_);
    }
    StatementHandle(const StatementHandle&) = delete;
    StatementHandle& operator=(const StatementHandle&) = delete;

    bool allocated() const { return handle_ != SQL_NULL_HSTMT; }
    SQLHSTMT get() const { return handle_; }
    SQLHSTMT release() {
        SQLHSTMT handle = handle_;
        handle_ = SQL_NULL_HSTMT;
        return handle;
    }

  private:
    SQLHSTMT handle_ = SQL_NULL_HSTMT;
};

// Formats the statement into the shared buffer. A text that cannot be
// formatted (longer than the buffer, values not matching the pattern) is
// never sent; its statement fails with -1 whatever its failure mapping, so
// that it can never count as executed.
bool formatText(const char* pattern, SqlValues values) {
    return formatStatement(StatementBuffer, sizeof StatementBuffer, pattern, values);
}

// Every execution and fetch starts by dropping the diagnostic of the last
// call (a failure its caller let pass without a log line, an insert variant
// that a narrower one replaced), so that a failure line only ever carries
// the diagnostic of its own call.
SQLRETURN executeText(SQLHSTMT stmt) {
    dbClearDiag();
    DbCallInFlight call(DbCallKind::Execute, SQL_HANDLE_STMT, stmt);
    if (!call.admitted())
        return SQL_ERROR;
    return SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(StatementBuffer), SQL_NTS);
}

int mapFailure(FailureMapping mapping) {
    if (mapping == FailureMapping::MinusOne)
        return kResultFailed;
    return failureResult(LastDiag.NativeError);
}

void bindColumns(SQLHSTMT stmt, ColumnSpan columns) {
    std::size_t index = 0;
    for (const ColumnBinding& column : columns) {
        SQLLEN* indicator = index < kIndicatorCount ? &columnIndicators[index] : &spareIndicator;
        *indicator = 0;  // nothing left over from another statement's row
        ++index;
        SQLBindCol(stmt, static_cast<SQLUSMALLINT>(index), column.cType, column.target,
                   column.width, indicator);
    }
}

// True when the driver cut the text of column `index`: the length it reports
// (or "unknown") does not fit the buffer with its terminator.
bool textWasCut(std::size_t index, const ColumnBinding& column) {
    if (index >= kIndicatorCount)
        return false;
    const SQLLEN length = columnIndicators[index];
    return length == SQL_NO_TOTAL || length >= column.width;
}

// Some drivers fill a text buffer that is too short without a terminator;
// every bound text field is therefore terminated at its last position. A
// text that the driver cut may end inside a multi-byte character, which
// would make every statement that carries it fail on a UTF-8 database; that
// partial character is dropped.
void finishTextColumns(ColumnSpan columns) {
    std::size_t index = 0;
    for (const ColumnBinding& column : columns) {
        if (column.cType == SQL_C_CHAR && column.width > 0) {
            char* text = static_cast<char*>(column.target);
            text[column.width - 1] = '\0';
            if (textWasCut(index, column))
                dropCutCharacter(text);
        }
        ++index;
    }
}

bool fetchDeliveredRow(SQLRETURN rc) {
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

// Binds the columns (again at every read) and fetches one row; a delivered
// row has its text fields terminated and a character that the driver cut
// dropped. Returns what SQLFetch returned.
SQLRETURN fetchRow(SQLHSTMT stmt, ColumnSpan columns) {
    bindColumns(stmt, columns);
    dbClearDiag();
    SQLRETURN rc = SQL_ERROR;
    {
        DbCallInFlight call(DbCallKind::Fetch, SQL_HANDLE_STMT, stmt);
        if (call.admitted())
            rc = SQLFetch(stmt);
    }
    if (fetchDeliveredRow(rc))
        finishTextColumns(columns);
    return rc;
}

// Allocates into the slot, sets the cursor attributes, formats and
// executes. 0 with the handle in the slot and `*executed` set to what
// SQLExecDirect returned; otherwise -1 or the mapped failure, slot empty.
int openCursor(CursorSlot slot, const char* pattern, SqlValues values, FailureMapping mapping,
               SQLRETURN* executed) {
    slotHandle(slot) = SQL_NULL_HSTMT;
    StatementHandle stmt;
    if (!stmt.allocated())
        return kResultFailed;
    setCursorAttributes(stmt.get());
    if (pattern == nullptr || !formatText(pattern, values))
        return kResultFailed;
    *executed = executeText(stmt.get());
    if (*executed == SQL_ERROR) {
        dbGetDiag(SQL_HANDLE_STMT, stmt.get());
        return mapFailure(mapping);
    }
    slotHandle(slot) = stmt.release();
    return kResultOk;
}

SQLCHAR* catalogText(const char* text) {
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

// Fetches the next statistics row into `row`; false at the end, on a failed
// fetch and after a stop.
bool fetchStatisticsRow(SQLHSTMT stmt, IndexStatisticsRow& row) {
    SQLSMALLINT position = 0;
    SQLLEN indexNameLength = 0, positionLength = 0, columnNameLength = 0;
    SQLBindCol(stmt, 6, SQL_C_CHAR, row.indexName, sizeof row.indexName, &indexNameLength);
    SQLBindCol(stmt, 8, SQL_C_SSHORT, &position, 0, &positionLength);
    SQLBindCol(stmt, 9, SQL_C_CHAR, row.columnName, sizeof row.columnName, &columnNameLength);
    dbClearDiag();
    DbCallInFlight call(DbCallKind::Fetch, SQL_HANDLE_STMT, stmt);
    if (!call.admitted() || !SQL_SUCCEEDED(SQLFetch(stmt)))
        return false;
    row.position = position;
    row.described = indexNameLength != SQL_NULL_DATA && columnNameLength != SQL_NULL_DATA &&
                    positionLength != SQL_NULL_DATA;
    return true;
}

}  // namespace

bool appendSqlLiteral(char* out, std::size_t outSize, std::size_t* length, const char* value) {
    const std::size_t start = *length;
    // The characters written twice; the runs between them go in one piece.
    const char* doubled = dbSystemIs("MYSQL") ? "'\\" : "'";
    bool fits = appendChar(out, outSize, length, '\'');
    for (const char* p = value; fits && *p != '\0';) {
        std::size_t run = std::strcspn(p, doubled);
        fits = appendRun(out, outSize, length, p, run);
        p += run;
        if (fits && *p != '\0') {
            fits = appendChar(out, outSize, length, *p) && appendChar(out, outSize, length, *p);
            ++p;
        }
    }
    if (fits)
        fits = appendChar(out, outSize, length, '\'');
    if (!fits) {
        *length = start;
        out[start] = '\0';
    }
    return fits;
}

bool formatStatement(char* out, std::size_t outSize, const char* pattern, SqlValues values) {
    if (outSize == 0)
        return false;
    std::size_t length = 0;
    out[0] = '\0';
    const SqlValue* next = values.begin();
    bool ok = true;
    // `next` only moves over a value that was there: a placeholder without
    // one stops the loop at the end of the values, never past it (an empty
    // set of values may not even have storage to point into).
    for (const char* p = pattern; ok && *p != '\0';) {
        // A placeholder can only begin at a quote or a percent sign; the text
        // up to the next one goes in one piece (statement texts are long, and
        // this runs for every statement of a run).
        std::size_t run = std::strcspn(p, "'%");
        if (run > 0) {
            ok = appendRun(out, outSize, &length, p, run);
            p += run;
        } else if (std::strncmp(p, "'%s'", 4) == 0) {
            ok = next != values.end() && next->kind == SqlValue::Kind::Text &&
                 appendSqlLiteral(out, outSize, &length, (next++)->text);
            p += 4;
        } else if (std::strncmp(p, "%ld", 3) == 0) {
            ok = next != values.end() && next->kind == SqlValue::Kind::Integer &&
                 appendInteger(out, outSize, &length, (next++)->integer);
            p += 3;
        } else if (*p == '%') {
            ok = false;  // an unquoted text placeholder would bypass the literal rule
        } else {
            ok = appendChar(out, outSize, &length, *p++);
        }
    }
    if (!ok || next != values.end()) {
        out[0] = '\0';
        return false;
    }
    return true;
}

const char* dialectText(const char* oracleText, const char* mssqlText) {
    if (dbSystemIs("ORACLE"))
        return oracleText;
    if (dbSystemIs("MSSQL"))
        return mssqlText;
    return nullptr;
}

ExecOutcome execStatement(const char* pattern, SqlValues values) {
    ExecOutcome outcome = {false, false, 0};
    StatementHandle stmt;
    if (!stmt.allocated() || !formatText(pattern, values))
        return outcome;
    outcome.sent = true;
    if (executeText(stmt.get()) == SQL_ERROR) {
        dbGetDiag(SQL_HANDLE_STMT, stmt.get());
        outcome.failed = true;
        outcome.native = LastDiag.NativeError;
    }
    return outcome;
}

int execNonQuery(const char* pattern, SqlValues values, FailureMapping mapping,
                 NoRowsResult noRows) {
    if (pattern == nullptr)
        return kResultFailed;
    StatementHandle stmt;
    if (!stmt.allocated() || !formatText(pattern, values))
        return kResultFailed;
    SQLRETURN rc = executeText(stmt.get());
    if (rc == SQL_ERROR) {
        dbGetDiag(SQL_HANDLE_STMT, stmt.get());
        return mapFailure(mapping);
    }
    if (noRows != NoRowsResult::NoData)
        return kResultOk;
    if (rc == SQL_NO_DATA)
        return kResultNoData;
    // A driver that reports success for a searched UPDATE that changed no
    // row still knows the row count; zero rows is the same as no data.
    SQLLEN rows = -1;
    if (SQLRowCount(stmt.get(), &rows) != SQL_ERROR && rows == 0)
        return kResultNoData;
    return kResultOk;
}

int queryRow(const char* pattern, SqlValues values, FailureMapping mapping,
             ColumnBindings columns) {
    if (pattern == nullptr)
        return kResultFailed;
    StatementHandle stmt;
    if (!stmt.allocated() || !formatText(pattern, values))
        return kResultFailed;
    if (executeText(stmt.get()) == SQL_ERROR) {
        dbGetDiag(SQL_HANDLE_STMT, stmt.get());
        return mapFailure(mapping);
    }
    if (stopRequested())
        return kResultFailed;
    SQLRETURN rc = fetchRow(stmt.get(), columns);
    if (fetchDeliveredRow(rc))
        return kResultOk;
    if (rc == SQL_NO_DATA)
        return kResultNoData;
    dbGetDiag(SQL_HANDLE_STMT, stmt.get());
    return failureResult(LastDiag.NativeError);
}

int cursorOpen(CursorSlot slot, const char* pattern, SqlValues values, FailureMapping mapping) {
    SQLRETURN executed = SQL_SUCCESS;
    return openCursor(slot, pattern, values, mapping, &executed);
}

int cursorOpenPassingResult(CursorSlot slot, const char* pattern, SqlValues values,
                            FailureMapping mapping) {
    SQLRETURN executed = SQL_SUCCESS;
    int rc = openCursor(slot, pattern, values, mapping, &executed);
    if (rc != kResultOk || executed == SQL_SUCCESS_WITH_INFO)
        return rc;
    return executed;
}

int cursorFetch(CursorSlot slot, ColumnBindings columns) {
    return cursorFetch(slot, ColumnSpan(columns.begin(), columns.size()));
}

int cursorFetch(CursorSlot slot, ColumnSpan columns) {
    SQLHSTMT stmt = slotHandle(slot);
    if (stmt == SQL_NULL_HSTMT || stopRequested())
        return kResultFailed;
    SQLRETURN rc = fetchRow(stmt, columns);
    if (fetchDeliveredRow(rc))
        return kResultOk;
    return rc == SQL_NO_DATA ? kResultNoData : kResultFailed;
}

int cursorFetchPassingResult(CursorSlot slot, ColumnBindings columns, FailureMapping mapping) {
    SQLHSTMT stmt = slotHandle(slot);
    if (stmt == SQL_NULL_HSTMT || stopRequested())
        return kResultFailed;
    SQLRETURN rc = fetchRow(stmt, columns);
    if (fetchDeliveredRow(rc))
        return kResultOk;
    if (rc != SQL_ERROR)
        return rc;
    dbGetDiag(SQL_HANDLE_STMT, stmt);
    cursorClose(slot);
    return mapFailure(mapping);
}

SQLHSTMT cursorHandle(CursorSlot slot) {
    return slotHandle(slot);
}

int cursorClose(CursorSlot slot) {
    SQLHSTMT& stmt = slotHandle(slot);
    if (stmt == SQL_NULL_HSTMT)
        return 0;
    SQLRETURN rc = freeStatement(stmt);
    stmt = SQL_NULL_HSTMT;
    return rc;
}

void trimRight(char* text) {
    std::size_t length = std::strlen(text);
    while (length > 0) {
        char last = text[length - 1];
        if (last != ' ' && last != '\t' && last != '\n')
            break;
        text[--length] = '\0';
    }
}

bool dbProbe(const char* schema, const char* table, const char* columns) {
    char text[kStatementBufferSize];
    int length = std::snprintf(text, sizeof text, "SELECT %s FROM %s.%s WHERE 1 = 0", columns,
                               schema, table);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof text)
        return false;
    ExecOutcome outcome = execStatement(text, SqlValues(nullptr, 0));
    return outcome.sent && !outcome.failed;
}

bool dbReadIndexStatistics(const char* schema, const char* table, IndexStatisticsSink sink,
                           void* context) {
    StatementHandle stmt;
    if (!stmt.allocated()) {
        dbGetDiag(SQL_HANDLE_DBC, dbConnection);
        return false;
    }
    SQLRETURN rc = SQL_ERROR;
    dbClearDiag();
    {
        DbCallInFlight call(DbCallKind::Statistics, SQL_HANDLE_STMT, stmt.get());
        if (call.admitted())
            rc = SQLStatistics(stmt.get(), nullptr, 0, catalogText(schema), SQL_NTS,
                               catalogText(table), SQL_NTS, SQL_INDEX_ALL, SQL_QUICK);
    }
    if (!SQL_SUCCEEDED(rc)) {
        dbGetDiag(SQL_HANDLE_STMT, stmt.get());
        return false;
    }
    for (IndexStatisticsRow row = {}; fetchStatisticsRow(stmt.get(), row); row = {})
        sink(row, context);
    return true;
}
