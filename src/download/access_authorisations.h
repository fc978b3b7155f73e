// Access authorisations: AswBklDnl (one row per terminal, badge and access
// booking class) and the booking classes DnlB01 to DnlB11 of the access rows
// of TrmAswDnl, built for all badges or for the badge of one request row.
#pragma once

#include <cstdint>

#include "download/content_digest.h"
#include "download/request_row.h"
#include "download/terminal_writing.h"

// One row of AswBklDnl, as the first cursor delivers it and as it is written.
struct AswBklRow {
    char DnlTrm[256];
    char DnlAsw[51];
    char DnlBkl[4];
};

// Empties AswBklDnl, fills it from every access row of TrmAswDnl and then
// sets the booking classes of those rows. 1 when both passes completed, 0
// otherwise (what was written so far stays).
int BuildAswBklDnl();

// The same for the request row's badge (all badges when its badge number is
// empty), without emptying AswBklDnl: the badge's earlier rows stay. 1 when
// both passes completed, 0 otherwise.
int BuildAswBklDnlForBadge(const QvsAswDnlRow& request);

// Empties AswBklDnl. 0, -1 without a handle, otherwise the native error
// number (0 when the failure has none).
int SQLDeleteAswBklDnl();

// Counts the rows of AswBklDnl, or with a badge number that badge's rows
// that belong to one of its TrmAswDnl rows, into `rows`. 0, or the
// failure's result (see countRows).
int SQLCountAswBklDnl(const char* badgeNumber, long& rows);

// The hash of the row as written and as read back.
uint64_t aswBklDnlHash(const AswBklRow& row);

// The proof's read-back of the rows that SQLCountAswBklDnl counts, into
// `content`. 0, otherwise -1 (no handle, failed fetch) or the native error
// number of a failed execution.
int SQLReadBackAswBklDnl(const char* badgeNumber, TableContent& content);

// Opens the cursor of terminal x badge x access booking class rows, for one
// badge or, with an empty badge number, for all. 0 when open, -1 without a
// handle, otherwise the native error number (-1 when it is 0).
int SQLOpenZutAswBkl(const char* badgeNumber);

// Reads the next row into `row` (written only when a row arrives): 0, 100 at
// the end, -1 when the cursor is not open or the fetch failed.
int SQLReadZutAswBkl(AswBklRow& row);

// Closes the cursor if it is open. Always 0.
int SQLCloseZutAswBkl();

// Inserts the row. 0, -1 without a handle, otherwise the native error number
// (-1 when it is 0); a duplicate is refused with DbErrorCodes.DuplicateKey.
int SQLWriteAswBklDnl(const AswBklRow& row);

// Opens the cursor of the access rows of TrmAswDnl (DnlKzu = 1) with their
// reader slots, for one badge or, with an empty badge number, for all.
// Results as SQLOpenZutAswBkl.
int SQLOpenTrmAswDnlZut(const char* badgeNumber);

// Reads the next row into `row` (terminal, badge and the L text of every
// reader slot; every other field zero): 0, 100 at the end, -1 when the cursor
// is not open or the fetch failed.
int SQLReadTrmAswDnlZut(TrmAswRow& row);

// Closes the cursor if it is open. Always 0.
int SQLCloseTrmAswDnlZut();

// Sets the B text of every reader slot in use (L text not empty) to the
// smallest access booking class that AswBklDnl holds for the row's terminal
// and badge at that reader; a slot without one is left as it was. 0 (also
// when no slot is in use) or 100 as the last slot gave it; the first failure
// (-1 without a handle, otherwise the native error number) is returned at
// once and the remaining slots are not looked up.
int SQLReadLeserBkl(TrmAswRow& row);

// Writes the eleven B texts into the row of DnlTrm and DnlAsw. 0, also when
// no such row exists; -1 without a handle, otherwise the native error number
// (-1 when it is 0).
int SQLUpdateTrmAswDnlBkl(const TrmAswRow& row);
