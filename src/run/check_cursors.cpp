#include "run/check_cursors.h"

#include <cstdio>

#include "db/catalog.h"
#include "db/cursor_mode.h"
#include "db/results.h"
#include "db/session.h"
#include "db/statement.h"

namespace {

constexpr std::size_t kLineSize = 2048;

// A cursor with rows whenever the site has terminals; the check reads none of
// them, so the rows stay pending as they do while a run writes.
const char* const kCursorText = "SELECT TRMNAM FROM QVSYSTEM.QVS1140TRM";

// The line of a refusal, with the diagnostic: with the default cursors it
// names the setting that a server which allows only read-only cursors needs.
void describeRefusal(char* line, std::size_t size, const char* what) {
    if (cursorMode() == kCursorsDefault)
        std::snprintf(line, size, "cursor: %s (SQLSTATE %s: %s); set %s=%s", what,
                      LastDiag.SqlState, LastDiag.MessageText, kCursorModeVariable,
                      kReadOnlyCursors);
    else
        std::snprintf(line, size, "cursor: %s with %s=%s (SQLSTATE %s: %s)", what,
                      kCursorModeVariable, kReadOnlyCursors, LastDiag.SqlState,
                      LastDiag.MessageText);
}

}  // namespace

void checkCursors(bool connected, CursorLineSink sink) {
    char line[kLineSize];
    const int mode = readCursorMode(line, sizeof line);
    if (mode == kCursorsUnknown) {
        sink(false, line);
        return;
    }
    takeCursorMode();
    if (!connected || (mode == kCursorsDefault && !dbSystemIs("MSSQL")))
        return;
    if (cursorOpen(CursorSlot::TrmAsw, kCursorText, SqlValues(nullptr, 0),
                   FailureMapping::NativeOrMinusOne) != kResultOk) {
        describeRefusal(line, sizeof line,
                        "the server refuses a cursor opened as runs open theirs");
        sink(false, line);
        return;
    }
    const bool besideAllowed = dbProbe("QVSYSTEM", "QVS113STO", "1");
    cursorClose(CursorSlot::TrmAsw);
    if (!besideAllowed) {
        describeRefusal(line, sizeof line,
                        "while a cursor is open, the server refuses further statements on the "
                        "connection");
        sink(false, line);
        return;
    }
    std::snprintf(line, sizeof line,
                  "cursor: %s stay open while further statements run on the connection",
                  cursorModeName());
    sink(true, line);
}
