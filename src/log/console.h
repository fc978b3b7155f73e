// Standard error of the program, for the operator beside the run log: one
// line per report, starting with "vendrak:" (under systemd they land in the
// journal), and on a terminal a progress line per phase.
#pragma once

// Writes "vendrak: <formatted text>" and a line end to standard error, as
// one line: control characters in the text become blanks, blanks at its end
// are dropped. A progress line that is being shown is erased first, so that
// the report stands alone.
void consoleLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The progress line of one phase attempt, shown only when standard error is
// a terminal: rows written, rate and elapsed time, redrawn in place at most
// every kProgressIntervalMs. Begin shows it, Rows updates its count (cheap
// enough to call for every row), End draws it a last time and ends the line.
constexpr long long kProgressIntervalMs = 250;
void consoleProgressBegin(const char* label);
void consoleProgressRows(long rows);
void consoleProgressEnd();
