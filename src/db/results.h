// What the database functions return and what a failed call left behind.
// Result codes: 0 success; 100 no (more) rows; -1 no handle, failed cursor
// read, closed cursor or no text for the DB system; otherwise the native
// error number of a failed execution or fetch.
#pragma once

#include <sql.h>

#include <cstdint>

#include "platform/diag_record.h"

constexpr int kResultOk = 0;
constexpr int kResultNoData = 100;
constexpr int kResultFailed = -1;

// What a failed execution (SQL_ERROR) returns. A failure is never 0: when
// the driver reports it without a native number (no diagnostic record, or
// NativeError 0, as some drivers do for time-outs and lost links) the result
// is -1 under every mapping, so no caller can take it for success.
enum class FailureMapping {
    Native,            // NativeError, -1 without one
    NativeOrMinusOne,  // NativeError, -1 without one (the same since failures are never 0)
    MinusOne,          // always -1
};

// The result of a failure that came with `native`: the number itself, or -1
// when the driver gave none.
int failureResult(int32_t native);

// The diagnostic of the last failed call of the session, with what a
// time-out means in words. Every execution, fetch, commit and disconnect
// clears it as it begins, so a failure line that reports it after its call
// can only report that call's diagnostic.
extern DiagRecord LastDiag;

// Fills LastDiag from the first diagnostic record of `handle`: Held, and
// NativeError 0 with empty texts when the driver posted none.
void dbGetDiag(SQLSMALLINT handleType, SQLHANDLE handle);

void dbClearDiag();  // empties LastDiag (not Held)

// True when a statement's result is the DB system's duplicate-key refusal,
// which the builders tolerate: the DB system's duplicate number, with a
// SQLSTATE of class 23 (integrity constraint violation) where the driver
// reports one (read from LastDiag, which must carry the same number). A DB
// system without such a number ("MYSQL" has -1) never has one.
bool isDuplicateKey(int result);
