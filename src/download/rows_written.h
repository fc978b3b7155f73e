// The builders' own count of the download table rows they wrote, for the
// run's metrics and its progress line; no query is spent on it.
//
// A row counts when its statement succeeded: an insert, or in the key
// update a row written by update-else-insert. A duplicate that was skipped
// wrote nothing, and the access phase's update of the booking-class columns
// of existing TrmAswDnl rows writes no row of its own. So after a full
// rebuild each table's count is its number of rows. The progress line
// shows the rows written and those updated in place together.
#pragma once

enum class DownloadTable { TrmAswDnl, SalAswDnl, SalAswDnl2, AswBklDnl, Count };

// The rows of the current attempt, per table and together, and the rows
// only updated in place. The run control clears it when an attempt starts.
struct RowsWrittenRecord {
    long rows[static_cast<int>(DownloadTable::Count)];
    long total;
    long updatedInPlace;
    long duplicatesSkipped;  // inserts refused as a duplicate key and tolerated
    char duplicateState[6];  // the SQLSTATE of the first of them, empty without one
};
extern RowsWrittenRecord RowsWritten;

// Counts one row written to `table` and moves the progress line.
void countRowWritten(DownloadTable table);

// Counts one existing row whose booking classes were updated in place: no
// row written, but work that the progress line shows, so that it keeps
// moving through the access phase's second pass.
void countRowUpdatedInPlace();

// After an insert into `table` that returned `result`: counts the row, or
// writes the failure line, the formatted text and " Errcode: <result>". A
// duplicate key (isDuplicateKey), which the builder skips, is counted as
// such and its line goes to the run log only; any other failure's line
// carries its diagnostic. True when the build goes on: written or skipped.
bool countInsert(DownloadTable table, int result, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Sets every count to 0.
void clearRowsWritten();
