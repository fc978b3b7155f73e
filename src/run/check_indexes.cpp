#include "run/check_indexes.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "db/catalog.h"
#include "db/results.h"
#include "platform/text.h"

namespace {

// Every lookup of the runs' statements: the table, the columns of the
// equality conditions that find its rows (as few as make the lookup
// selective, so that a site's own key over more columns still counts), and
// what a run does without an index that starts with them. The lookups of
// one table stand together. A statement that looks rows up by other columns
// adds its lookup here.
struct Lookup {
    const char* table;    // as the check names it
    const char* columns;  // ", "-separated
    const char* scan;
};

const Lookup kLookups[] = {
    {"QVS1140TRM", "TRMNAM",
     "full rebuilds and key runs read the whole table for every terminal whose rows they write"},
    {"MGSST35P", "M35TRM",
     "full rebuilds and key runs read the whole table for every terminal and badge pair"},
    {"QVS301ASW", "ASWNUM", "key runs read the whole table for every badge they update"},
    {"QVS301AWB", "AWBASW",
     "full rebuilds and key runs read the whole table for every terminal and badge pair"},
    {"O2002TSW", "TSWIDN",
     "full rebuilds and key runs read the whole table for every terminal and badge pair"},
    {"QVS119MST", "MSTNAM",
     "full rebuilds and key runs read the whole table for every row of a badge with a balance "
     "table of its own"},
    {"QVS119MSD", "MSDSAL",
     "full rebuilds read the whole table for every display line of every balance table they "
     "write"},
    {"QVS102WHL", "FTXNUMSPR, FTXWHL, FTXSPR",
     "full rebuilds read the whole table twice for every display line of every balance table "
     "they write"},
    {"QvsAswDnl", "DnlKey", "key runs read the whole table once"},
    {"TrmAswDnl", "DnlTrm, DnlAsw",
     "full rebuilds and key runs read the whole table for every row they update"},
    {"TrmAswDnl", "DnlAsw", "key runs read the whole table for every badge they update"},
    {"AswBklDnl", "DnlTrm, DnlAsw",
     "full rebuilds and key runs read the whole table for every reader of every access row"},
};

const char* const kSchema = "QVSYSTEM";

// Only the first columns of an index can serve a lookup; no lookup has more
// columns than this.
constexpr std::size_t kLeadingColumns = 4;
// Indexes beyond these of one table are not looked at.
constexpr std::size_t kMaxIndexes = 32;
constexpr std::size_t kListSize = 512;
constexpr std::size_t kFailureSize = 1400;  // a diagnostic's state and message
constexpr std::size_t kTextSize = 4096;

struct IndexColumns {
    char name[kCatalogNameSize];
    char columns[kLeadingColumns][kCatalogNameSize];
};

// What SQLStatistics listed for one table: `rows` counts every row, also
// the table's own statistics row that some drivers add.
struct TableIndexes {
    long rows;
    std::size_t count;
    IndexColumns indexes[kMaxIndexes];
};

// The entry of index `name`, made when it is new; nullptr when the table has
// more indexes than are looked at.
IndexColumns* indexNamed(TableIndexes& table, const char* name) {
    for (std::size_t i = 0; i < table.count; ++i) {
        if (std::strcmp(table.indexes[i].name, name) == 0)
            return &table.indexes[i];
    }
    if (table.count == kMaxIndexes)
        return nullptr;
    IndexColumns* entry = &table.indexes[table.count++];
    copyField(entry->name, name);
    return entry;
}

// Files one statistics row under its index; rows that name no index or
// column, and columns beyond the first kLeadingColumns, are only counted.
void addStatisticsRow(const IndexStatisticsRow& row, void* context) {
    TableIndexes& out = *static_cast<TableIndexes*>(context);
    ++out.rows;
    if (!row.described || row.position < 1 ||
        static_cast<std::size_t>(row.position) > kLeadingColumns)
        return;
    IndexColumns* index = indexNamed(out, row.indexName);
    if (index != nullptr)
        copyField(index->columns[row.position - 1], row.columnName);
}

// Lists the table's indexes. Catalog names go in capitals: the dictionaries
// of ORACLE and the folded names of PostgreSQL are found so, and MSSQL
// compares them without regard to case. Returns false when the call failed
// (the diagnostic is in LastDiag).
bool readIndexes(const char* table, TableIndexes& out) {
    std::memset(&out, 0, sizeof out);
    char catalogName[kCatalogNameSize] = {};
    for (std::size_t i = 0; table[i] != '\0' && i + 1 < sizeof catalogName; ++i)
        catalogName[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(table[i])));
    return dbReadIndexStatistics(kSchema, catalogName, addStatisticsRow, &out);
}

// True when the first columns of the index, as many as the lookup has, are
// the lookup's columns in any order, compared without regard to case. An
// empty name (the index has no column there) matches no lookup column.
bool indexServes(const IndexColumns& index, const Lookup& lookup) {
    const std::size_t wanted = listNameCount(lookup.columns);
    if (wanted > kLeadingColumns)
        return false;
    for (std::size_t i = 0; i < wanted; ++i) {
        if (!listHoldsName(lookup.columns, index.columns[i]))
            return false;
    }
    // The index's columns are distinct, so `wanted` of them from a list of
    // `wanted` names are all of them.
    return true;
}

bool lookupServed(const TableIndexes& table, const Lookup& lookup) {
    for (std::size_t i = 0; i < table.count; ++i) {
        if (indexServes(table.indexes[i], lookup))
            return true;
    }
    return false;
}

// The lookups of the table that starts at `first`, as "(A), (B, C)", and the
// index one past its last lookup.
std::size_t tableLookups(std::size_t first, char (&list)[kListSize]) {
    list[0] = '\0';
    std::size_t end = first;
    for (; end < sizeof kLookups / sizeof kLookups[0] &&
           std::strcmp(kLookups[end].table, kLookups[first].table) == 0;
         ++end) {
        std::size_t length = std::strlen(list);
        std::snprintf(list + length, sizeof list - length, "%s(%s)", length > 0 ? ", " : "",
                      kLookups[end].columns);
    }
    return end;
}

struct IndexTally {
    std::size_t checked;
    std::size_t missing;
    std::size_t listedTables;  // tables for which the driver listed indexes
};

// Why the indexes could not be read, from the failed call's diagnostic.
void describeFailure(char (&out)[kFailureSize]) {
    if (isEmptyText(LastDiag.SqlState))
        std::snprintf(out, sizeof out, "without a diagnostic");
    else
        std::snprintf(out, sizeof out, "SQLSTATE %s: %s", LastDiag.SqlState, LastDiag.MessageText);
}

// One line per lookup of the table kLookups[first] to kLookups[end - 1]
// that no index serves, `indexes` being the table's indexes.
void reportUnservedLookups(std::size_t first, std::size_t end, const TableIndexes& indexes,
                           IndexLineSink sink, IndexTally& tally) {
    char text[kTextSize];
    for (std::size_t i = first; i < end; ++i) {
        ++tally.checked;
        if (lookupServed(indexes, kLookups[i]))
            continue;
        ++tally.missing;
        std::snprintf(text, sizeof text, "no index of QVSYSTEM.%s starts with %s%s: %s",
                      kLookups[i].table, kLookups[i].columns,
                      listNameCount(kLookups[i].columns) > 1 ? " (in any order)" : "",
                      kLookups[i].scan);
        sink(IndexFinding::NotServed, text);
    }
}

// Checks the lookups kLookups[first] to kLookups[end - 1] of one table.
// Returns true when the table exists but the driver listed nothing for it:
// whether it has no index or the driver gives no statistics is decided once
// every table has been asked.
bool checkTable(std::size_t first, std::size_t end, const char* lookups, IndexLineSink sink,
                IndexTally& tally) {
    static TableIndexes indexes;
    const char* table = kLookups[first].table;
    if (!readIndexes(table, indexes)) {
        char failure[kFailureSize];
        describeFailure(failure);
        char text[kTextSize];
        std::snprintf(text, sizeof text,
                      "indexes of QVSYSTEM.%s not read (%s); its lookups by %s are not checked",
                      table, failure, lookups);
        sink(IndexFinding::NoStatistics, text);
        return false;
    }
    // A table that does not exist has no statistics either; the table check
    // reports it, so it gets no line here.
    if (indexes.rows == 0)
        return dbProbe(kSchema, table, "1");
    ++tally.listedTables;
    reportUnservedLookups(first, end, indexes, sink, tally);
    return false;
}

// A table for which the driver listed nothing. A driver that listed the
// indexes of another table gives statistics, so this table has no index at
// all and none of its lookups is served; a driver that listed nothing for
// any table may give no statistics, and the table is not checked.
void reportUnlistedTable(std::size_t first, std::size_t end, IndexLineSink sink,
                         IndexTally& tally) {
    if (tally.listedTables > 0) {
        static const TableIndexes none = {};
        reportUnservedLookups(first, end, none, sink, tally);
        return;
    }
    char lookups[kListSize];
    tableLookups(first, lookups);
    char text[kTextSize];
    std::snprintf(text, sizeof text,
                  "the driver lists no indexes of QVSYSTEM.%s (it has none, or the driver gives "
                  "no statistics); its lookups by %s are not checked",
                  kLookups[first].table, lookups);
    sink(IndexFinding::NoStatistics, text);
}

}  // namespace

void checkIndexes(IndexLineSink sink) {
    const std::size_t lookupCount = sizeof kLookups / sizeof kLookups[0];
    IndexTally tally = {};
    // The first lookup of each table for which the driver listed nothing.
    std::size_t unlisted[sizeof kLookups / sizeof kLookups[0]];
    std::size_t unlistedCount = 0;
    for (std::size_t first = 0; first < lookupCount;) {
        char lookups[kListSize];
        const std::size_t end = tableLookups(first, lookups);
        if (checkTable(first, end, lookups, sink, tally))
            unlisted[unlistedCount++] = first;
        first = end;
    }
    for (std::size_t i = 0; i < unlistedCount; ++i) {
        char lookups[kListSize];
        reportUnlistedTable(unlisted[i], tableLookups(unlisted[i], lookups), sink, tally);
    }
    if (tally.checked == 0 || tally.missing > 0)
        return;
    char text[kTextSize];
    if (tally.checked == lookupCount)
        std::snprintf(text, sizeof text, "indexes serve all %zu lookups of the runs",
                      tally.checked);
    else
        std::snprintf(text, sizeof text, "indexes serve the %zu lookups checked (%zu not checked)",
                      tally.checked, lookupCount - tally.checked);
    sink(IndexFinding::AllServed, text);
}
