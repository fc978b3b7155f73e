// How the program opens its cursors, as the site chooses it in the
// environment. By default a cursor is forward-only with locking concurrency.
// With VENDRAK_CURSORS=read-only each cursor is a read-only server cursor,
// for servers that refuse locking cursors (a TDS server that supports READ
// ONLY cursors alone): such a cursor leaves the connection free for the
// statements that run while it is open, where a plain result set would hold
// it until its last row is read.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>

#include "platform/platform.h"

constexpr const char* kCursorModeVariable = "VENDRAK_CURSORS";
constexpr const char* kReadOnlyCursors = "read-only";

enum {
    kCursorsDefault = kChoiceDefault,
    kCursorsReadOnly = kChoiceTaken,
    kCursorsUnknown = kChoiceUnknown
};

// What VENDRAK_CURSORS asks for: unset or empty the default, "read-only" the
// read-only server cursors. Any other value is none (kCursorsUnknown);
// `refusal` then says so, with the value and what to do.
int readCursorMode(char* refusal, std::size_t refusalSize);

// Reads VENDRAK_CURSORS once, at the start of a run or check, and keeps the
// mode for every later cursor open. A value that is no mode is refused with
// a line on standard error and returns false (the default stays in force):
// a mistyped value must not leave a site with cursors its server refuses.
bool takeCursorMode();

// The mode in force: kCursorsDefault or kCursorsReadOnly.
int cursorMode();

// A few words for the mode in force, for check lines.
const char* cursorModeName();

// Sets the attributes of a cursor's statement before its execute, ignoring
// the driver's answers as for every cursor. Default: not scrollable, locking
// concurrency. Read-only: a static server cursor with read-only concurrency
// and an empty cursor name; without the name, FreeTDS would name the cursor
// with a call that some servers refuse, and the name is not used.
void setCursorAttributes(SQLHSTMT stmt);
