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

// The rows inserted since the current unit of work began (an atomic
// rebuild's attempt, or one badge of a key run), per table: what its commit
// expects to find added. Unlike RowsWritten it leaves out the rows that the
// key update's update-else-insert only updated, and it runs on across the
// phases of an atomic rebuild. The unit clears it when it begins.
struct UnitInsertsRecord {
    long rows[static_cast<int>(DownloadTable::Count)];
};
extern UnitInsertsRecord UnitInserts;

// The table's name as the log, the metrics and the dry run show it.
const char* downloadTableName(DownloadTable table);

// Counts one row written to `table` and moves the progress line.
void countRowWritten(DownloadTable table);

// Counts one row inserted into `table`: written, and new to the table.
void countRowInserted(DownloadTable table);

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

// Sets every count of RowsWritten to 0.
void clearRowsWritten();
