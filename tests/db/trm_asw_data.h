// Test data for the terminal authorisation tests: terminals, their entries,
// badges and their booking classes, written straight into the test database.
#pragma once

#include <string>
#include <vector>

#include "testdb.h"

struct TestBadge {
    std::string number;
    std::string validFrom = "CURRENT_DATE - 10";  // SQL date expressions
    std::string validTo = "NULL";
    std::string name = "Muster, Max";
    std::string code = "NULL";
    std::string site = "S1";
    std::string balanceTable = "";
    std::string pin = "1234";
    std::string personnel = "P1";
};

inline std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += '\'';
        out += c;
    }
    return out + "'";
}

inline void addSite(const std::string& number, const std::string& shortText) {
    testDbExec("INSERT INTO qvsystem.qvs113sto (stonum, stoktx) VALUES (" + quoted(number) + ", " +
               quoted(shortText) + ")");
}

inline void addTerminal(const std::string& name, const std::string& balanceTable = "SAL1",
                        const std::string& model = "5830-010") {
    testDbExec(
        "INSERT INTO qvsystem.qvs1140trm (trmnam, trmsal, trmspr, trmliz, trmmnd, trmmod) VALUES "
        "(" +
        quoted(name) + ", " + quoted(balanceTable) + ", 7, 'LZ1', 'MD1', " + quoted(model) + ")");
}

// An entry of a terminal: booking class, kind (1 time recording, 0 access),
// reader number and firm.
inline void addEntry(const std::string& terminal, const std::string& bookingClass, int kind,
                     const std::string& reader = "01", const std::string& firm = "001") {
    testDbExec("INSERT INTO qvsystem.mgsst35p (m35trm, m35bkl, m35bch, m35les, m35fir) VALUES (" +
               quoted(terminal) + ", " + quoted(bookingClass) + ", " + std::to_string(kind) + ", " +
               quoted(reader) + ", " + quoted(firm) + ")");
}

inline void addBadge(const TestBadge& b) {
    testDbExec(
        "INSERT INTO qvsystem.qvs301asw (aswnum, aswgvo, aswgbi, aswatp, aswaan, aswsal, aswpin, "
        "aswpnr, aswnam, aswcod, aswsto) VALUES (" +
        quoted(b.number) + ", " + b.validFrom + ", " + b.validTo + ", 3, 'AAN', " +
        quoted(b.balanceTable) + ", " + quoted(b.pin) + ", " + quoted(b.personnel) + ", " +
        quoted(b.name) + ", " + b.code + ", " + quoted(b.site) + ")");
}

inline void addBadgeClass(const std::string& badge, const std::string& bookingClass) {
    testDbExec("INSERT INTO qvsystem.qvs301awb (awbasw, awbbkl) VALUES (" + quoted(badge) + ", " +
               quoted(bookingClass) + ")");
}

inline void addBalance(const std::string& badge, const std::string& value) {
    testDbExec("INSERT INTO qvsystem.o2002tsw (tswidn, tsww02) VALUES (" + quoted(badge) + ", " +
               quoted(value) + ")");
}

inline void addBalanceTable(const std::string& name, const std::string& model) {
    testDbExec("INSERT INTO qvsystem.qvs119mst (mstnam, mstliz, mstmnd, mstttp) VALUES (" +
               quoted(name) + ", 'LZ1', 'MD1', " + quoted(model) + ")");
}

// One column of the TrmAswDnl row of a terminal and badge ("<none>" without a row).
inline std::string dnlValue(const std::string& terminal, const std::string& badge,
                            const std::string& column) {
    auto rows = testDbQuery("SELECT " + column + " FROM qvsystem.trmaswdnl WHERE dnltrm = " +
                            quoted(terminal) + " AND dnlasw = " + quoted(badge));
    return rows.empty() ? "<none>" : rows[0][0];
}

inline int dnlRowCount() {
    return std::stoi(testDbQuery("SELECT count(*) FROM qvsystem.trmaswdnl")[0][0]);
}

// The rows of AswBklDnl as "terminal/badge/class", sorted.
inline std::vector<std::string> aswBklRows() {
    std::vector<std::string> rows;
    for (const auto& row : testDbQuery("SELECT dnltrm || '/' || dnlasw || '/' || dnlbkl FROM "
                                       "qvsystem.aswbkldnl ORDER BY 1"))
        rows.push_back(row[0]);
    return rows;
}

// The booking classes DnlB01 to DnlB11 of a TrmAswDnl row, joined by '/'.
inline std::string dnlBookingClasses(const std::string& terminal, const std::string& badge) {
    return dnlValue(terminal, badge,
                    "concat_ws('/', dnlb01, dnlb02, dnlb03, dnlb04, dnlb05, dnlb06, dnlb07, "
                    "dnlb08, dnlb09, dnlb10, dnlb11)");
}

// A request row of QvsAswDnl; a badge of "NULL" is stored as NULL.
inline void addRequest(const std::string& key, int sequence, const std::string& badge) {
    testDbExec(
        "INSERT INTO qvsystem.qvsaswdnl (dnlkey, dnllfd, dnlmnd, dnlliz, dnlasw, dnlkze, dnlkzu, "
        "dnlkmp, dnlsta, dnlerf) VALUES (" +
        quoted(key) + ", " + std::to_string(sequence) + ", 'MD1', 'LZ1', " +
        (badge == "NULL" ? badge : quoted(badge)) + ", 1, 1, 0, 0, 'test')");
}
