// Balance values: the full build of SalAswDnl and SalAswDnl2, with the
// statements of its cursor, counts and line definitions.
#pragma once

#include <cstdint>

#include "download/balance_record.h"
#include "download/content_digest.h"

// Empties both tables and writes, for every badge row of a balance terminal,
// its eight display lines and, where a terminal of application list A uses
// the balance table, its value list. 1 when both tables were rebuilt, 0
// after a failure, which it has logged.
int BuildSalAswDnl();

// Empty SalAswDnl / SalAswDnl2. 0, -1 without a handle, otherwise the native
// error number (0 counts as success).
int SQLDeleteSalAswDnl();
int SQLDeleteSalAswDnl2();

// Count the rows of SalAswDnl and SalAswDnl2 into `rows`. 0, or the
// failure's result (see countRows).
int SQLCountSalAswDnl(long& rows);
int SQLCountSalAswDnl2(long& rows);

// Count the terminals of application list A that have a balance table, or
// that use `balanceTable`, into `count` (set to 0 first). 0; -1 without a
// handle or for a DB system without a text ("MYSQL"); otherwise the native
// error number of the failed execution (0 counts as success) or fetch.
int SQLCount5820_neu(int32_t& count);
int SQLCountSal_neu(const char* balanceTable, int32_t& count);

// Opens the cursor of the badge rows of balance terminals, ordered by
// balance table, data keys, language and badge. 0 when open, otherwise -1.
int SQLOpenSalTabAsw();

// Reads the next badge row into the key fields of `row` (the whole row is
// replaced, only when a row arrives): 0, 100 at the end, -1 when the cursor
// is not open or the fetch failed.
int SQLReadSalTabAsw(SalAswRow& row);

// Closes the cursor if it is open. Always 0.
int SQLCloseSalTabAsw();

// Fills the eight line definitions of `texts` for its key fields; a line
// without definition gets an empty label and name and value type 0. 0, or -1
// when a statement cannot be allocated, executed or fetched (the lines
// before it stay filled).
int SQLReadSaldoTexte(SaldoTexte& texts);

// The proof's read-back of SalAswDnl, into `content`. 0, otherwise -1 (no
// handle, failed fetch) or the native error number of a failed execution.
int SQLReadBackSalAswDnl(TableContent& content);

// Inserts the row with its eight display texts and values. 0, -1 without a
// handle, otherwise the native error number (0 counts as success).
int SQLWriteSalAswDnl(const SalAswRow& row);
