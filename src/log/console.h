// Standard error of the program, for the operator beside the run log: one
// line per report, starting with "vendrak:" (under systemd they land in the
// journal), and on a terminal a progress line per phase.
#pragma once

#include <cstdint>

// Writes "vendrak: <formatted text>" and a line end to standard error, as
// one line: control characters in the text become blanks, blanks at its end
// are dropped. A progress line that is being shown is erased first, so that
// the report stands alone.
void consoleLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The diagnostic of a failed driver call, held until the next run log line
// (the caller's failure line) reports it: SQLSTATE, native number and the
// driver's message; an empty SQLSTATE means the driver posted no record.
void consoleSetPendingDiagnostic(const char* sqlState, int32_t native, const char* message);

// Adds to the pending diagnostic what it means in words ("timed out (...)"),
// written before its SQLSTATE. Cleared with the diagnostic.
void consoleSetPendingCause(const char* cause);

// Drops a pending diagnostic that no failure line reported: the call it
// belonged to was tolerated, and it must not be taken for a later line's.
void consoleClearPendingDiagnostic();

// Called for every run log line: with a diagnostic pending, writes
// "vendrak: <line>: SQLSTATE <state> native <number>: <message>" (with its
// cause, if one was given, before "SQLSTATE") and clears it. Nothing
// otherwise.
void consoleReportPendingDiagnostic(const char* logLine);

// The progress line of one phase attempt, shown only when standard error is
// a terminal: rows written, rate and elapsed time, redrawn in place at most
// every kProgressIntervalMs. Begin shows it, Rows updates its count (cheap
// enough to call for every row), End draws it a last time and ends the line.
constexpr long long kProgressIntervalMs = 250;
void consoleProgressBegin(const char* label);
void consoleProgressRows(long rows);
void consoleProgressEnd();
