// Terminal authorisations: the full build of TrmAswDnl and the update of one
// badge's rows, with the cursor and lookups they share.
#pragma once

#include <cstddef>

#include "download/request_row.h"
#include "download/terminal_writing.h"

constexpr std::size_t kModelCodeWidth = 11;

// 1 when TrmAswDnl was emptied and rebuilt completely, 0 otherwise.
int BuildTrmAswDnl();

// Updates or inserts the rows of the request row's badge (all badges when
// its badge number is empty). 1 when every row was written, 0 otherwise.
int BuildTrmAswDnlForBadge(const QvsAswDnlRow& request);

// Empties TrmAswDnl. 0, -1 without a handle, or the native error number
// (-1 when the failure has none).
int SQLDeleteTrmAswDnl();

// Counts the rows of TrmAswDnl, or with a badge number that badge's rows,
// into `rows`. 0, or the failure's result (see countRows).
int SQLCountTrmAswDnl(const char* badgeNumber, long& rows);

// Opens the authorisation cursor, for one badge or, with an empty badge
// number, for all. 0 when open, -1 on any failure (also for a DB system
// without a text).
int SQLOpenTrmAsw(const char* badgeNumber);

// Reads the next row into `row` (written only when a row arrives): 0, 100 at
// the end, -1 when the cursor is not open or the fetch failed.
int SQLReadTrmAsw(TrmAswRow& row);

// Closes the authorisation cursor if it is open. Always 0.
int SQLCloseTrmAsw();

// Fills the reader numbers (L) of the slots of row.DnlTrm's terminal; the
// rest of the row is kept. 0, 100 when the terminal is unknown, -1 without a
// handle or a failure without native number, otherwise the native error
// number.
int SQLReadTrmLeser(TrmAswRow& row);

// Reads the model code of the badge's balance table (row.AswSal with the
// row's data keys) into `model` (kModelCodeWidth). 0, 100 when the table is
// unknown, -1 without a handle, otherwise the native error number.
int SQLReadSalTabModell(const TrmAswRow& row, char* model);
