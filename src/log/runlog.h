// The run log: one timestamped line per call, opened and closed per line,
// rotated to a single backup once it passes 10 MiB.
#pragma once

#include <cstddef>

#include "platform/diag_record.h"

constexpr std::size_t kLogMessageSize = 256;
constexpr long kLogRotateSize = 0xA00000;  // 10 485 760 bytes

// The installation's fixed paths of the log and its backup (platform.h maps them).
extern const char* const kLogFilePath;    // "..\..\Quorvance_php\log\vendraklog.txt"
extern const char* const kLogBackupPath;  // "..\..\Quorvance_php\log\vendraklog.bak"

// The files that logLine writes and a rotation moves: in the program always
// the fixed paths; tests that log in their own process point them elsewhere.
struct RunLogFiles {
    const char* path;
    const char* backupPath;
};
extern RunLogFiles LogFiles;

// The one message buffer every log line is formatted into.
extern char LogMessage[kLogMessageSize];

// Appends "<local time> <message>" to the log at `path`; rotates to
// LogFiles.backupPath when the file has grown past kLogRotateSize. A log
// that cannot be opened loses the line; the first such loss of a run is
// reported on standard error with the path and the cause.
void logWrite(const char* path, const char* message);

// Formats into LogMessage (cut to its size, never overrun) and writes it to
// LogFiles.path.
void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The line of a failed call: logLine, and the call's diagnostic, when `diag`
// holds one, beside the line on standard error
// ("<line>: SQLSTATE <state> native <number>: <message>", a time-out
// cause before "SQLSTATE"; "<line>: no diagnostic record from the driver").
void logFailure(const DiagRecord& diag, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
