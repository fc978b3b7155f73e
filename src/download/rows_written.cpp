#include "download/rows_written.h"

#include "log/console.h"

RowsWrittenRecord RowsWritten;

void countRowWritten(DownloadTable table) {
    ++RowsWritten.rows[static_cast<int>(table)];
    ++RowsWritten.total;
    consoleProgressRows(RowsWritten.total + RowsWritten.updatedInPlace);
}

void countRowUpdatedInPlace() {
    ++RowsWritten.updatedInPlace;
    consoleProgressRows(RowsWritten.total + RowsWritten.updatedInPlace);
}

void clearRowsWritten() {
    RowsWritten = RowsWrittenRecord{};
}
