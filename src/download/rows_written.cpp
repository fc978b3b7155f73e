#include "download/rows_written.h"

#include "db/results.h"
#include "log/console.h"
#include "platform/text.h"

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

bool skipDuplicateRow(int result) {
    if (!isDuplicateKey(result))
        return false;
    if (RowsWritten.duplicatesSkipped++ == 0)
        copyField(RowsWritten.duplicateState, LastDiag.SqlState);
    return true;
}

void clearRowsWritten() {
    RowsWritten = RowsWrittenRecord{};
}
