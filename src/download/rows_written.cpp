#include "download/rows_written.h"

#include <cstdarg>
#include <cstdio>

#include "db/results.h"
#include "log/console.h"
#include "log/runlog.h"
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

bool countInsert(DownloadTable table, int result, const char* format, ...) {
    if (result == kResultOk) {
        countRowWritten(table);
        return true;
    }
    const bool duplicate = isDuplicateKey(result);
    if (duplicate && RowsWritten.duplicatesSkipped++ == 0)
        copyField(RowsWritten.duplicateState, LastDiag.SqlState);
    char text[kLogMessageSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    logFailure(duplicate ? kNoDiag : LastDiag, "%s Errcode: %ld", text, static_cast<long>(result));
    return duplicate;
}

void clearRowsWritten() {
    RowsWritten = RowsWrittenRecord{};
}
