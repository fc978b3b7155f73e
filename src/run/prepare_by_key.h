// The key-driven update: brings the terminal and access authorisations of
// the badges listed under one download key in QvsAswDnl up to date.
#pragma once

#include "download/request_row.h"

// Up to five attempts, each working through the key's request rows in
// DnlLfd order from the first, with a reconnection and a 10-second wait
// between attempts. Returns -1 when the update failed, otherwise the number
// of request rows processed by the successful attempt (0 when the key lists
// none).
long PrepareByKey(const char* key);

// Opens the request cursor on the rows of `key`, which is sent as a quoted
// literal like every text value. 0 when open (SQL_SUCCESS_WITH_INFO
// included); -1 without a handle; the native error number of a failed
// execution (-1 when it is 0); any other driver result unchanged, the cursor
// then staying open.
int SQLOpenQvsAswDnl(const char* key);

// Reads the next request row into `row` with trailing blanks, tabs and line
// feeds removed from its five text fields (NULL columns give empty texts and
// 0). 0 with a row; 100 at the end; -1 when the cursor is not open; after a
// failed fetch the native error number (-1 when it is 0), the cursor then
// closed; any other driver result unchanged. `row` is written only with a
// row.
int SQLFetchQvsAswDnl(QvsAswDnlRow& row);

// Closes the request cursor. The result of releasing its handle, 0 when it
// was not open.
int SQLCloseQvsAswDnl();
