// The index part of `vendrak --check`: for every lookup by which the runs'
// statements find rows (a table and the columns of its equality conditions),
// whether an index of the table serves it. The schema belongs to the site;
// without such an index the database reads the whole table for each lookup,
// and a run's time grows with the size of the table.
#pragma once

enum class IndexFinding {
    AllServed,     // every lookup that could be checked has its index
    NotServed,     // one lookup without an index: the run mode that scans
    NoStatistics,  // the driver lists no indexes of the table: not checked
};

// Receives one check line: what was found and its text.
using IndexLineSink = void (*)(IndexFinding finding, const char* text);

// Reads the indexes of every table with a lookup through the open session
// (SQLStatistics) and hands `sink` a line per lookup that no index serves, a
// line per table whose indexes the driver does not list, and one line when
// no lookup lacks its index. Changes nothing.
void checkIndexes(IndexLineSink sink);
