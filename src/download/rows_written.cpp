#include "download/rows_written.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>

#include "db/results.h"
#include "log/console.h"
#include "log/runlog.h"
#include "platform/text.h"

RowsWrittenRecord RowsWritten;
UnitInsertsRecord UnitInserts;

namespace {

const char* const kTableNames[] = {"TrmAswDnl", "SalAswDnl", "SalAswDnl2", "AswBklDnl"};
static_assert(sizeof kTableNames / sizeof kTableNames[0] ==
                  static_cast<std::size_t>(DownloadTable::Count),
              "one name per download table");

}  // namespace

const char* downloadTableName(DownloadTable table) {
    return kTableNames[static_cast<int>(table)];
}

void countRowWritten(DownloadTable table) {
    ++RowsWritten.rows[static_cast<int>(table)];
    ++RowsWritten.total;
    consoleProgressRows(RowsWritten.total + RowsWritten.updatedInPlace);
}

void countRowInserted(DownloadTable table) {
    ++UnitInserts.rows[static_cast<int>(table)];
    countRowWritten(table);
}

void countRowUpdatedInPlace() {
    ++RowsWritten.updatedInPlace;
    consoleProgressRows(RowsWritten.total + RowsWritten.updatedInPlace);
}

bool countInsert(DownloadTable table, int result, const char* format, ...) {
    if (result == kResultOk) {
        countRowInserted(table);
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
