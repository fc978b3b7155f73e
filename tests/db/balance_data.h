// Test data for the balance value tests: badge rows of TrmAswDnl, line
// definitions of balance tables, selection-list texts and balance values,
// written straight into the test database, and readers of the two balance
// download tables.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "testdb.h"
#include "trm_asw_data.h"

// A badge row as the terminal phase leaves it for the balance phase.
struct BalanceBadgeRow {
    std::string badge;
    std::string table = "SAL1";
    std::string liz = "LZ1";
    std::string mnd = "MD1";
    int language = 7;
    int timeRecording = 1;  // DnlKze: only rows with 1 get balance values
};

inline void addBadgeRow(const BalanceBadgeRow& r, const std::string& terminal = "T1") {
    testDbExec(
        "INSERT INTO qvsystem.trmaswdnl (dnltrm, dnlasw, dnlsal, dnlliz, dnlmnd, dnlspr, dnlkze, "
        "dnlkzu, dnlatp) VALUES (" +
        quoted(terminal) + ", " + quoted(r.badge) + ", " + quoted(r.table) + ", " + quoted(r.liz) +
        ", " + quoted(r.mnd) + ", " + std::to_string(r.language) + ", " +
        std::to_string(r.timeRecording) + ", 0, 0)");
}

// A terminal that only matters for the two counts: its balance table and
// its application code.
inline void addCountedTerminal(const std::string& name, const std::string& table,
                               const std::string& application) {
    testDbExec("INSERT INTO qvsystem.qvs1140trm (trmnam, trmsal, trmapp) VALUES (" + quoted(name) +
               ", " + (table.empty() ? std::string("NULL") : quoted(table)) + ", " +
               quoted(application) + ")");
}

// Line `number` of a balance table: its own label, display code, value type
// and creator marker ("VORMANT": the line belongs to every pair of keys).
struct BalanceLine {
    int number;
    std::string label;
    int displayCode;
    int valueType;
    std::string table = "SAL1";
    std::string liz = "LZ1";
    std::string mnd = "MD1";
    std::string creator = "TEST";
};

inline void addBalanceLine(const BalanceLine& l) {
    testDbExec(
        "INSERT INTO qvsystem.qvs119msd (msdsal, msdliz, msdmnd, msdlfd, msdtxt, msdanz, msdwrt, "
        "msderf) VALUES (" +
        quoted(l.table) + ", " + quoted(l.liz) + ", " + quoted(l.mnd) + ", " +
        std::to_string(l.number) + ", " + quoted(l.label) + ", " + std::to_string(l.displayCode) +
        ", " + std::to_string(l.valueType) + ", " + quoted(l.creator) + ")");
}

// Selection-list texts: 220001 holds the standard labels of the display
// codes (FTXT50), 220002 the names of the value types (FTXT30).
constexpr int kStandardLabels = 220001;
constexpr int kValueTypeNames = 220002;

inline void addListText(int list, int entry, int language, const std::string& text) {
    testDbExec(
        "INSERT INTO qvsystem.qvs102whl (ftxnumspr, ftxwhl, ftxspr, ftxt30, ftxt50) VALUES (" +
        std::to_string(list) + ", " + std::to_string(entry) + ", " + std::to_string(language) +
        ", " + quoted(text) + ", " + quoted(text) + ")");
}

// The balance values of a badge: column names ("tsww05", "tswf01") and values.
inline void addBalanceValues(const std::string& badge,
                             const std::vector<std::pair<std::string, std::string>>& columns) {
    std::string names = "tswidn";
    std::string values = quoted(badge);
    for (const auto& [column, value] : columns) {
        names += ", " + column;
        values += ", " + quoted(value);
    }
    testDbExec("INSERT INTO qvsystem.o2002tsw (" + names + ") VALUES (" + values + ")");
}

// The eight display texts, then the eight values, of a badge's SalAswDnl
// row; empty without a row.
inline std::vector<std::string> displayLines(const std::string& badge, int language = 7) {
    auto rows = testDbQuery(
        "SELECT dnlsa1, dnlsa2, dnlsa3, dnlsa4, dnlsa5, dnlsa6, dnlsa7, dnlsa8, dnlwr1, dnlwr2, "
        "dnlwr3, dnlwr4, dnlwr5, dnlwr6, dnlwr7, dnlwr8 FROM qvsystem.salaswdnl WHERE dnlasw = " +
        quoted(badge) + " AND dnlspr = " + std::to_string(language));
    return rows.empty() ? std::vector<std::string>() : rows[0];
}

// The list rows of a badge as "type=value", ordered by type.
inline std::vector<std::string> listRows(const std::string& badge) {
    std::vector<std::string> result;
    for (const auto& row : testDbQuery("SELECT dnlwrt || '=' || dnlval FROM qvsystem.salaswdnl2 "
                                       "WHERE dnlasw = " +
                                       quoted(badge) + " ORDER BY dnlwrt::integer"))
        result.push_back(row[0]);
    return result;
}

inline int tableRows(const std::string& table) {
    return std::stoi(testDbValue("SELECT count(*) FROM qvsystem." + table));
}
