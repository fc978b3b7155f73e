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

// One row of a table's index statistics; not `described` when it names no
// index, column or position (the table's own row that some drivers add).
struct IndexStatisticsRow {
    bool described;
    char indexName[kCatalogNameSize];
    char columnName[kCatalogNameSize];
    int position;  // of the column in the index, from 1
};
using IndexStatisticsSink = void (*)(const IndexStatisticsRow& row, void* context);

// Lists every index of schema.table (SQLStatistics, all indexes, quick), one
// call of `sink` per row. False when the call failed (diagnostic in LastDiag).
bool dbReadIndexStatistics(const char* schema, const char* table, IndexStatisticsSink sink,
                           void* context);
