// What the builders share between their full and their per-badge build.
#pragma once

#include "db/statement.h"

// Which build runs: the full one, or the one for a request row's badge.
struct BuildTexts {
    const char* badge;  // nullptr for the full build
};

// The line of a failed call of the build, with the call's diagnostic:
// "Fehler <function>()! Errcode: <rc>", and in the per-badge build
// " Ausweisnr. <badge>" after the parentheses.
void logBuildFailure(const BuildTexts& texts, const char* function, int rc);

// Opens the cursor of `slot` for all badges, or with `oneBadge` (its one
// placeholder the badge number) when `badgeNumber` is not empty.
int openBadgeCursor(CursorSlot slot, const char* allBadges, const char* oneBadge,
                    const char* badgeNumber, FailureMapping mapping);

// Runs a "SELECT COUNT(*)" of the proof before a commit into `rows`: 0, or
// the failure's result (queryRow), `rows` then 0.
int countRows(const char* pattern, SqlValues values, long& rows);

// Calls a cursor's close function on every path out of the scope. Placed
// before the open: closing a cursor that did not open does nothing.
class CursorCloser {
  public:
    explicit CursorCloser(int (*close)()) : close_(close) {}
    ~CursorCloser() { close_(); }
    CursorCloser(const CursorCloser&) = delete;
    CursorCloser& operator=(const CursorCloser&) = delete;

  private:
    int (*close_)();
};

// Closes the proof's read-back cursor if it is open. Always 0.
int closeReadBack();

// Runs one read-back statement of the proof and calls `take` with each row
// fetched into `row` through `columns` (bound to its fields). The row is
// cleared before every fetch, since a NULL column leaves its field as it
// was. 0 after the last row; otherwise -1 (no handle, a failed fetch) or
// the native error number of the failed execution.
template <typename Row, typename Take>
int readBackRows(const char* pattern, SqlValues values, Row& row, ColumnSpan columns, Take take) {
    CursorCloser closer(closeReadBack);
    int rc = cursorOpen(CursorSlot::ReadBack, pattern, values, FailureMapping::NativeOrMinusOne);
    while (rc == kResultOk) {
        row = Row{};
        rc = cursorFetch(CursorSlot::ReadBack, columns);
        if (rc == kResultOk)
            take();
    }
    return rc == kResultNoData ? kResultOk : rc;
}
