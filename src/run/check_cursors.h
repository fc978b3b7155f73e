// The cursor part of `vendrak --check`: whether the server lets a run keep a
// cursor open while it sends further statements on the same connection, with
// the cursors opened as the environment (VENDRAK_CURSORS) makes runs open
// them. Runs do exactly that in every phase; a server that refuses it fails
// every run at its first cursor.
#pragma once

// Receives one check line: whether it passed, and its text.
using CursorLineSink = void (*)(bool passed, const char* text);

// Takes VENDRAK_CURSORS as a run takes it; a value that a run refuses gives
// a failed line. Then, through the open session (`connected`) and when the
// DB system is MSSQL or the site asks for read-only cursors: opens a cursor
// over the terminal table, runs a zero-row query beside it and closes it. One
// line says how that went, naming the setting when the server refuses the
// default cursors. Changes nothing.
void checkCursors(bool connected, CursorLineSink sink);
