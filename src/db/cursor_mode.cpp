#include "db/cursor_mode.h"

#include "log/console.h"

namespace {

int CursorMode = kCursorsDefault;

void setAttribute(SQLHSTMT stmt, SQLINTEGER attribute, SQLULEN value) {
    SQLSetStmtAttr(stmt, attribute, reinterpret_cast<SQLPOINTER>(value), SQL_IS_INTEGER);
}

}  // namespace

int readCursorMode(char* refusal, std::size_t refusalSize) {
    return platformReadChoice(kCursorModeVariable, kReadOnlyCursors, "cursor mode", refusal,
                              refusalSize);
}

bool takeCursorMode() {
    char refusal[1024];
    const int mode = readCursorMode(refusal, sizeof refusal);
    if (mode == kCursorsUnknown) {
        consoleLine("%s", refusal);
        return false;
    }
    CursorMode = mode;
    return true;
}

int cursorMode() {
    return CursorMode;
}

const char* cursorModeName() {
    return CursorMode == kCursorsReadOnly ? "read-only server cursors" : "locking cursors";
}

void setCursorAttributes(SQLHSTMT stmt) {
    if (CursorMode != kCursorsReadOnly) {
        setAttribute(stmt, SQL_ATTR_CURSOR_SCROLLABLE, SQL_NONSCROLLABLE);
        setAttribute(stmt, SQL_ATTR_CONCURRENCY, SQL_CONCUR_LOCK);
        return;
    }
    // The type first: setting it may reset the concurrency to the type's own.
    setAttribute(stmt, SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC);
    setAttribute(stmt, SQL_ATTR_CONCURRENCY, SQL_CONCUR_READ_ONLY);
    SQLSetCursorName(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>("")), 0);
}
