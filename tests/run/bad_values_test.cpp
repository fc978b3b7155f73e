// Values that could change a statement's structure: quotes, a backslash,
// format directives, a semicolon, multi-byte characters, and values at and
// beyond their field widths, in every text column that reaches a download
// table. Each must be stored exactly as read (or cut at its field's width)
// by a full rebuild of the real binary that sends exactly the statements of
// a run with plain values.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../db/trm_asw_data.h"
#include "log_lines.h"
#include "runner.h"
#include "testdb.h"

namespace {

using Lines = std::vector<std::string>;

// Puts `v` into every text column of the site that reaches a download table:
// terminal T1, badge B1 with its name, PIN, personnel number and text, site
// S1, balance table SAL1, booking class Z1, a label and a text of the balance
// lines, and two balance values.
void spread(const std::string& v) {
    std::string t = quoted("T1" + v), b = quoted("B1" + v), s = quoted("S" + v),
                sal = quoted("SAL" + v), z = quoted("Z" + v);
    testDbExec("UPDATE qvsystem.qvs1140trm SET trmnam = " + t + " WHERE trmnam = 'T1';" +
               "UPDATE qvsystem.mgsst35p SET m35trm = " + t + " WHERE m35trm = 'T1';" +
               "UPDATE qvsystem.qvs1140trm SET trmsal = " + sal + " WHERE trmsal = 'SAL1';" +
               "UPDATE qvsystem.qvs119msd SET msdsal = " + sal + " WHERE msdsal = 'SAL1';" +
               "UPDATE qvsystem.qvs119mst SET mstnam = " + sal + " WHERE mstnam = 'SAL1';" +
               "UPDATE qvsystem.qvs301asw SET aswnum = " + b +
               ", aswnam = " + quoted("Muster" + v + ", Max" + v) +
               ", aswpin = " + quoted(v + "1") + ", aswaan = " + quoted("A" + v) +
               ", aswpnr = " + quoted(v) + " WHERE aswnum = 'B1';" +
               "UPDATE qvsystem.qvs301awb SET awbasw = " + b + " WHERE awbasw = 'B1';" +
               "UPDATE qvsystem.o2002tsw SET tswidn = " + b + ", tswf01 = " + quoted("f" + v) +
               " WHERE tswidn = 'B1';" + "UPDATE qvsystem.qvs113sto_base SET stonum = " + s +
               ", stoktx = " + quoted("x" + v) + " WHERE stonum = 'S1';" +
               "UPDATE qvsystem.qvs301asw SET aswsto = " + s + " WHERE aswsto = 'S1';" +
               "UPDATE qvsystem.qvs119msd SET msdtxt = " + quoted("L" + v) +
               ", msdanz = 1 WHERE msdlfd = 3;" + "UPDATE qvsystem.qvs102whl SET ftxt50 = " +
               quoted("St" + v) + " WHERE ftxnumspr = 220001 AND ftxspr = 1;");
    testDbExec("UPDATE qvsystem.mgsst35p SET m35bkl = " + z + " WHERE m35bkl = 'Z1';" +
               "UPDATE qvsystem.qvs301awb SET awbbkl = " + z + " WHERE awbbkl = 'Z1'");
}

std::string cut(const std::string& text, std::size_t width) {
    return text.substr(0, width);
}

std::string value(const std::string& sql) {
    return testDbValue(sql);
}

class BadValuesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        run_.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
        run_.setRules("dbsystem ORACLE");
    }

    ProgramResult fullRebuildWith(const std::string& v) {
        testDbLoadSmallSite();
        spread(v);
        std::remove((run_.root() + "/Quorvance_php/log/vendraklog.txt").c_str());
        return run_.run({});
    }

    ProgramRun run_;
};

TEST_F(BadValuesTest, EveryValueIsStoredAsReadAndNoStatementChangesItsStructure) {
    ProgramResult plain = fullRebuildWith("x");
    ASSERT_EQ(plain.exitCode, 0);
    // Short enough for every field they go into, except where noted below.
    // Each fits every field it goes into behind its one-letter prefix, and a
    // value cut at three bytes behind one ASCII letter (the site's short text
    // and the booking class) never ends inside a two-byte character.
    const char* const values[] = {"'", "a'b", "'a", "a'",    "''", "a''b", "\\",  "a\\",
                                  "%", "%s",  ";",  "a;b--", "é",  "äü",   "%d'", "'--"};
    for (const std::string v : values) {
        SCOPED_TRACE("value [" + v + "]");
        ProgramResult result = fullRebuildWith(v);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.log.size(), plain.log.size()) << ::testing::PrintToString(result.log);
        EXPECT_EQ(result.trace.size(), plain.trace.size()) << "one statement per statement";
        const std::string row = "FROM qvsystem.trmaswdnl WHERE dnltrm = " + quoted("T1" + v) +
                                " AND dnlasw = " + quoted("B1" + v);
        EXPECT_EQ(value("SELECT dnlnam " + row), "Max" + v + " Muster" + v);
        EXPECT_EQ(value("SELECT dnlpin || '|' || dnlpnr || '|' || dnlaan || '|' || dnlsto " + row),
                  v + "1|" + v + "|A" + v + "|S" + v);
        EXPECT_EQ(value("SELECT dnlstb " + row), cut("x" + v, 3));
        // Reader 01 takes the smaller of the badge's classes Z<v> and Z3 there;
        // a class longer than its field never matches its own cut form.
        std::string klass = "Z" + v;
        EXPECT_EQ(
            value("SELECT dnlsal || '|' || dnlb01 " + row),
            "SAL" + v + "|" + (klass.size() <= 3 ? std::min(klass, std::string("Z3")) : "Z3"));
        EXPECT_EQ(
            value("SELECT count(*) FROM qvsystem.aswbkldnl WHERE dnltrm = " + quoted("T1" + v) +
                  " AND dnlasw = " + quoted("B1" + v) + " AND dnlbkl = " + quoted(cut("Z" + v, 3))),
            "1");
        const std::string balance = "FROM qvsystem.salaswdnl WHERE dnlsal = " + quoted("SAL" + v) +
                                    " AND dnlspr = 1 AND dnlasw = " + quoted("B1" + v);
        EXPECT_EQ(value("SELECT rtrim(dnlsa2) || '|' || dnlsa6 " + balance),
                  "St" + v + std::string(12 - v.size(), ' ') + "12,50|" +
                      std::string(19 - v.size(), ' ') + "f" + v);
        EXPECT_EQ(value("SELECT rtrim(substr(dnlsa3, 1, 10)) " + balance), "L" + v);
        EXPECT_EQ(
            value("SELECT dnlval FROM qvsystem.salaswdnl2 WHERE dnlsal = " + quoted("SAL" + v) +
                  " AND dnlspr = 1 AND dnlwrt = '21' AND dnlasw = " + quoted("B1" + v)),
            std::string(19 - v.size(), ' ') + "f" + v);
    }
}

// A value one character longer than its field arrives cut to the field; one
// that fits arrives whole. The badge number is a key of later statements, so
// its cut form must carry through all phases.
TEST_F(BadValuesTest, ValuesAtAndBeyondTheirWidthsAreCutToTheirFields) {
    struct Field {
        const char* update;  // sets the column to VALUE
        const char* stored;  // reads the download value back
        std::size_t width;
    } const fields[] = {
        {"UPDATE qvsystem.qvs301asw SET aswnam = VALUE WHERE aswnum = 'B1'",
         "SELECT dnlnam FROM qvsystem.trmaswdnl WHERE dnltrm = 'T1' AND dnlasw = 'B1'", 50},
        {"UPDATE qvsystem.qvs301asw SET aswpin = VALUE WHERE aswnum = 'B1'",
         "SELECT dnlpin FROM qvsystem.trmaswdnl WHERE dnltrm = 'T1' AND dnlasw = 'B1'", 32},
        {"UPDATE qvsystem.qvs301asw SET aswpnr = VALUE WHERE aswnum = 'B1'",
         "SELECT dnlpnr FROM qvsystem.trmaswdnl WHERE dnltrm = 'T1' AND dnlasw = 'B1'", 8},
        {"UPDATE qvsystem.qvs301asw SET aswaan = VALUE WHERE aswnum = 'B1'",
         "SELECT dnlaan FROM qvsystem.trmaswdnl WHERE dnltrm = 'T1' AND dnlasw = 'B1'", 50},
        {"UPDATE qvsystem.qvs119msd SET msdtxt = VALUE, msdanz = 1, msdwrt = 0 WHERE msdlfd = 3",
         "SELECT dnlsa3 FROM qvsystem.salaswdnl WHERE dnlasw = 'B2' AND dnlspr = 1", 20},
        {"UPDATE qvsystem.o2002tsw SET tswf01 = VALUE WHERE tswidn = 'B1'",
         "SELECT dnlval FROM qvsystem.salaswdnl2 WHERE dnlasw = 'B1' AND dnlspr = 1 AND "
         "dnlwrt = '21'",
         20},
    };
    for (const Field& f : fields) {
        for (std::size_t length : {f.width, f.width + 1}) {
            SCOPED_TRACE(std::string(f.update) + " with " + std::to_string(length));
            std::string v = "'" + std::string(length - 2, 'x') + "'";
            testDbLoadSmallSite();
            std::string update = f.update;
            update.replace(update.find("VALUE"), 5, ::quoted(v));
            testDbExec(update);
            std::remove((run_.root() + "/Quorvance_php/log/vendraklog.txt").c_str());
            EXPECT_EQ(run_.run({}).exitCode, 0);
            EXPECT_EQ(value(f.stored), cut(v, f.width));
        }
    }
}

// Cuts inside a multi-byte character: the turned name at 50 bytes inside
// "ä", the site's short text at 3 inside "ß", the label beside the value
// "3,25-" at 15 inside "Ü". Each cut ends after the last whole character, and
// every row is written, as with ASCII values of the same widths. So are
// balance values with a multi-byte character where a sign or a digit of the
// date is read: a typographic minus (U+2212) is a sign character like any
// other but "-".
TEST_F(BadValuesTest, CutsInsideMultiByteCharactersLoseNoRow) {
    auto rowCounts = [this](const std::string& name, const std::string& site,
                            const std::string& label, const std::string& balanceValues) {
        testDbLoadSmallSite();
        testDbExec(
            "UPDATE qvsystem.qvs301asw SET aswnam = " + quoted(name) +
            " WHERE aswnum = 'B1';UPDATE qvsystem.qvs113sto_base SET stoktx = " + quoted(site) +
            " WHERE stonum = 'S1';UPDATE qvsystem.qvs119msd SET msdtxt = " + quoted(label) +
            ", msdanz = 1 WHERE msdsal = 'SAL1' AND msdlfd = 3;UPDATE qvsystem.o2002tsw SET " +
            balanceValues + " WHERE tswidn = 'B1'");
        std::remove((run_.root() + "/Quorvance_php/log/vendraklog.txt").c_str());
        EXPECT_EQ(run_.run({}).exitCode, 0);
        return value(
            "SELECT (SELECT count(*) FROM qvsystem.trmaswdnl) || '/' || (SELECT count(*) FROM "
            "qvsystem.salaswdnl) || '/' || (SELECT count(*) FROM qvsystem.salaswdnl2) || '/' || "
            "(SELECT count(*) FROM qvsystem.aswbkldnl)");
    };
    const std::string x49(49, 'x');
    const std::string ascii = rowCounts("Muller, " + x49 + "a", "Aus", "Zeitausgleich Uber",
                                        "tsww01 = '20262207', tsww08 = '-  54321'");
    EXPECT_EQ(rowCounts("Müller, " + x49 + "ä", "Auß", "Zeitausgleich Über",
                        "tsww01 = '2026−207', tsww02 = '−   12,50', tsww08 = '−  54321'"),
              ascii);
    const std::string b1 = "FROM qvsystem.trmaswdnl WHERE dnltrm = 'T1' AND dnlasw = 'B1'";
    EXPECT_EQ(value("SELECT dnlnam || '|' || dnlstb " + b1), x49 + "|Au");
    const std::string balance =
        "FROM qvsystem.salaswdnl WHERE dnlsal = 'SAL1' AND dnlspr = 1 AND dnlasw = 'B1'";
    EXPECT_EQ(value("SELECT dnlsa3 " + balance), "Zeitausgleich  3,25-");
    EXPECT_EQ(value("SELECT dnlwr1 || '|' || dnlwr2 || '|' || dnlwr4 || '|' || dnlsa4 " + balance),
              "07.−2.26|12,50 |54|+54");
}

// A request row whose badge number would widen the badge condition selects
// no badge: the other badges' rows stay as the full rebuild wrote them.
TEST_F(BadValuesTest, RequestedBadgeNumberCannotWidenTheKeyRun) {
    testDbLoadSmallSite();
    ASSERT_EQ(run_.run({}).exitCode, 0);
    testDbExec(
        "UPDATE qvsystem.qvs301asw SET aswnam = 'Anders, Ann', aswpin = '0000';"
        "INSERT INTO qvsystem.qvsaswdnl (dnlkey, dnllfd, dnlasw) VALUES "
        "('K''1', 1, 'x'' OR ''1''=''1');");
    std::string before = value(
        "SELECT string_agg(t::text, ';' ORDER BY t::text) FROM "
        "qvsystem.trmaswdnl t");
    std::remove((run_.root() + "/Quorvance_php/log/vendraklog.txt").c_str());
    ProgramResult result = run_.run({"K'1"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.log.back(), kEnd);
    EXPECT_EQ(result.log[result.log.size() - 2],
              "Die Berechtigungen zu Key K'1 wurden aktualisiert.");
    EXPECT_EQ(value("SELECT string_agg(t::text, ';' ORDER BY t::text) FROM qvsystem.trmaswdnl t"),
              before);
}

}  // namespace
