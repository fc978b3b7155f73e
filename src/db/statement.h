// What every statement function shares: the statement buffer, SQL literals,
// the three statement shapes (non-query, single-row query, cursor), the
// cursor slots and trimRight. They return the result codes of results.h.
// Once a stop signal has come, every statement and every fetch fails with -1
// without reaching the driver.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>

#include "db/results.h"

// Large enough for the longest statement (the reader-slot query with a
// terminal name of 255 characters, every quote doubled) with ample margin.
constexpr std::size_t kStatementBufferSize = 16384;
extern char StatementBuffer[kStatementBufferSize];

// A value substituted into a statement text. Text values always become quoted
// literals with every quote doubled; integers become bare decimal numbers.
struct SqlValue {
    enum class Kind { Text, Integer } kind;
    const char* text;
    long integer;
};
inline SqlValue sqlText(const char* text) {
    return {SqlValue::Kind::Text, text, 0};
}
inline SqlValue sqlInt(long value) {
    return {SqlValue::Kind::Integer, nullptr, value};
}
// The values of one statement, in the order of their placeholders: a braced
// list at the call, or an array when the values are assembled first.
class SqlValues {
  public:
    SqlValues(std::initializer_list<SqlValue> list)
        : begin_(std::data(list)), end_(std::data(list) + list.size()) {}
    SqlValues(const SqlValue* values, std::size_t count) : begin_(values), end_(values + count) {}
    const SqlValue* begin() const { return begin_; }
    const SqlValue* end() const { return end_; }

  private:
    const SqlValue* begin_;
    const SqlValue* end_;
};

// Appends `value` as a quoted SQL literal to `out` at `*length`: every single
// quote doubled, and for "MYSQL" every backslash as well. Returns false when
// it does not fit (out is then left terminated at its old length).
bool appendSqlLiteral(char* out, std::size_t outSize, std::size_t* length, const char* value);

// Formats `pattern` into `out`. The pattern uses '%s' (a quoted text
// placeholder, quotes included) and %ld (an integer); each takes the next
// value, which must be of the matching kind. Returns false on overflow or a
// mismatch between pattern and values (out is then empty).
bool formatStatement(char* out, std::size_t outSize, const char* pattern, SqlValues values);

// One result column bound for a fetch.
struct ColumnBinding {
    SQLSMALLINT cType;  // SQL_C_CHAR or SQL_C_LONG
    void* target;
    SQLLEN width;  // characters including the terminator; 4 for integers
};
inline ColumnBinding textColumn(char* field, std::size_t width) {
    return {SQL_C_CHAR, field, static_cast<SQLLEN>(width)};
}
template <std::size_t N>
ColumnBinding textColumn(char (&field)[N]) {
    return textColumn(field, N);
}
inline ColumnBinding intColumn(int32_t& field) {
    return {SQL_C_LONG, &field, 4};
}
using ColumnBindings = std::initializer_list<ColumnBinding>;

// Bindings assembled first (a prefix of a table's columns, for its narrower
// forms): the first `count` of `first`.
class ColumnSpan {
  public:
    ColumnSpan(ColumnBindings list)
        : begin_(std::data(list)), end_(std::data(list) + list.size()) {}
    ColumnSpan(const ColumnBinding* first, std::size_t count)
        : begin_(first), end_(first + count) {}
    const ColumnBinding* begin() const { return begin_; }
    const ColumnBinding* end() const { return end_; }

  private:
    const ColumnBinding* begin_;
    const ColumnBinding* end_;
};

// Chooses the text of a statement that differs by DB system: the ORACLE or
// the MSSQL text, nullptr for any other DB system (no text exists).
const char* dialectText(const char* oracleText, const char* mssqlText);

// How a non-query treats an UPDATE or DELETE that affected no row.
enum class NoRowsResult {
    Success,  // 0
    NoData,   // 100 (SQL_NO_DATA, or a row count of 0 from the driver)
};

// Non-query: allocate, format, execute, map, free. A pattern of nullptr
// (no text for the DB system) or a text that cannot be formatted returns -1
// with nothing executed; so do the other shapes.
int execNonQuery(const char* pattern, SqlValues values, FailureMapping mapping,
                 NoRowsResult noRows = NoRowsResult::Success);

// Outcome of one execution for callers that must tell a failure with native
// number 0 from a success (the insert fallback).
struct ExecOutcome {
    bool sent;       // false: no handle could be allocated, or the text not formatted
    bool failed;     // SQLExecDirect returned SQL_ERROR
    int32_t native;  // NativeError of the failure, 0 without one
};
ExecOutcome execStatement(const char* pattern, SqlValues values);

// Single-row query: allocate, format, execute; on a row the bound columns are
// filled (text fields terminated at their last position) and 0 is returned;
// 100 without a row. Execution failures follow `mapping`; fetch failures
// return the fetched NativeError (-1 without one). The columns are written only by the
// driver during the fetch, so callers bind a zeroed local record and copy it
// on 0.
int queryRow(const char* pattern, SqlValues values, FailureMapping mapping, ColumnBindings columns);

// The cursor slots, one per cursor kind; ReadBack is the proof's read of
// the download tables before a commit.
enum class CursorSlot { TrmAsw, SalTabAsw, ZutAswBkl, TrmAswDnlZut, QvsAswDnl, ReadBack, Count };

// Cursor open: allocate into the slot, set the cursor attributes (cursor_mode.h), format
// and execute. A pattern of nullptr releases the handle and returns -1. On
// failure the handle is released and the slot emptied.
int cursorOpen(CursorSlot slot, const char* pattern, SqlValues values, FailureMapping mapping);

// Cursor read: -1 when the slot is empty; binds the columns, fetches; 0 with
// a row (text fields terminated at their last position), 100 at the end, -1
// on any other fetch result (no diagnostic; the cursor stays open).
int cursorFetch(CursorSlot slot, ColumnBindings columns);
int cursorFetch(CursorSlot slot, ColumnSpan columns);

// The request cursor reports what the driver returned instead of folding it
// into 0 and -1. Its open is cursorOpen, except that SQL_SUCCESS_WITH_INFO
// counts as 0 and any other result than SQL_SUCCESS or SQL_ERROR is returned
// unchanged with the handle kept in the slot.
int cursorOpenPassingResult(CursorSlot slot, const char* pattern, SqlValues values,
                            FailureMapping mapping);

// Its read: -1 when the slot is empty; 0 with a row (SQL_SUCCESS_WITH_INFO
// included, text fields terminated at their last position); on SQL_ERROR the
// diagnostic is fetched, the cursor closed and the result follows `mapping`;
// any other result (100 at the end) is returned unchanged.
int cursorFetchPassingResult(CursorSlot slot, ColumnBindings columns, FailureMapping mapping);

// The statement handle held in the slot, SQL_NULL_HSTMT while it is closed.
SQLHSTMT cursorHandle(CursorSlot slot);

// Cursor close: frees the slot's handle if one is held. Returns the result of
// SQLFreeHandle, 0 when the slot was empty.
int cursorClose(CursorSlot slot);

// Removes trailing blanks, tabs and line feeds in place.
void trimRight(char* text);
