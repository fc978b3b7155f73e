// What the check asks of the database besides statements: zero-row probes of
// tables and columns, and the index statistics of a table. Both go through
// the statement guard, with the statement time-out and the cancel on a stop.
#pragma once

#include <cstddef>

// Catalog names are at most 128 characters in the supported DB systems.
constexpr std::size_t kCatalogNameSize = 129;

// Runs "SELECT <columns> FROM <schema>.<table> WHERE 1 = 0". True when it
// ran; on failure the driver's diagnostic is in LastDiag.
bool dbProbe(const char* schema, const char* table, const char* columns);

// One row of a table's index statistics. `described` is false for a row that
// names no index, no column or no position (the table's own statistics row
// that some drivers add); its other fields are then not to be read.
struct IndexStatisticsRow {
    bool described;
    char indexName[kCatalogNameSize];
    char columnName[kCatalogNameSize];
    int position;  // of the column in the index, from 1
};
using IndexStatisticsSink = void (*)(const IndexStatisticsRow& row, void* context);

// Lists every index of schema.table as the driver gives them (SQLStatistics,
// all indexes, quick statistics), one call of `sink` per row. Returns false
// when the call failed (the diagnostic is in LastDiag).
bool dbReadIndexStatistics(const char* schema, const char* table, IndexStatisticsSink sink,
                           void* context);
