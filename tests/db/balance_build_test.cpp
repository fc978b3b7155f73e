// The balance values phase on the real test database: the rebuild of
// SalAswDnl and SalAswDnl2, its statements and texts, and its failures.
#include <algorithm>
#include <string>
#include <vector>

#include "balance_data.h"
#include "db_fixture.h"
#include "download/balance_value_list.h"
#include "download/balance_values.h"

namespace {

using Lines = std::vector<std::string>;

std::string blanks(std::size_t n) {
    return std::string(n, ' ');
}

std::string padded(const std::string& label) {
    return label + blanks(20 - label.size());
}

// Balance table SAL1 (keys LZ1/MD1) in language 7: line 1 "Saldo" of value
// type 5, line 2 with the standard label of display code 2 and type 2, line 3
// "Info" of type 21; lines 4 to 8 undefined.
void balanceTable() {
    addListText(kStandardLabels, 1, 7, "Standard");
    addListText(kStandardLabels, 2, 7, "Urlaub");
    addListText(kValueTypeNames, 5, 7, "Gleitzeit");
    addBalanceLine({1, "Saldo", 1, 5});
    addBalanceLine({2, "", 2, 2});
    addBalanceLine({3, "Info", 1, 21});
}

// Badge B1 with values for the three lines of SAL1.
void badgeWithValues(const std::string& badge = "B1") {
    addBadgeRow({badge});
    addBalanceValues(badge, {{"tsww05", "-    12,50"}, {"tsww02", "+  7"}, {"tswf01", "8,50 h"}});
}

const Lines kB1Lines = {"Saldo" + blanks(9) + "12,50-",
                        "Urlaub" + blanks(12) + "7 ",
                        blanks(14) + "8,50 h",
                        blanks(20),
                        blanks(20),
                        blanks(20),
                        blanks(20),
                        blanks(20),
                        "12,50-",
                        "7 ",
                        "",
                        "",
                        "",
                        "",
                        "",
                        ""};
const Lines kB1List = {"2=$     7$", "5=$ 12,50-", "21=" + blanks(14) + "8,50 h"};

int countOf(const Lines& trace, const std::string& start) {
    return static_cast<int>(std::count_if(
        trace.begin(), trace.end(), [&](const std::string& t) { return t.rfind(start, 0) == 0; }));
}

const char* const kTextsStart = "SELECT  (SELECT COALESCE(NULLIF(MSDTXT";
const char* const kCountBStart = "SELECT COUNT(*) FROM QVSYSTEM.QVS1140TRM  WHERE TRMSAL = '";

using BalanceBuildTest = DbTest;

TEST_F(BalanceBuildTest, EmptyTablesAreEmptiedWithSuccess) {
    EXPECT_EQ(BuildSalAswDnl(), 1);
    addBadgeRow({"OLD"});
    testDbExec("INSERT INTO qvsystem.salaswdnl (dnlsal, dnlasw) VALUES ('X', 'OLD')");
    testDbExec("INSERT INTO qvsystem.salaswdnl2 (dnlsal, dnlasw) VALUES ('X', 'OLD')");
    testDbExec("UPDATE qvsystem.trmaswdnl SET dnlkze = 0");
    EXPECT_EQ(BuildSalAswDnl(), 1) << "no badge row with time recording";
    EXPECT_EQ(tableRows("salaswdnl"), 0);
    EXPECT_EQ(tableRows("salaswdnl2"), 0);
    EXPECT_TRUE(logLines().empty());
    EXPECT_EQ(ipOpenStatementHandles(), 0);
}

TEST_F(BalanceBuildTest, DisplayLinesWithoutListATerminal) {
    balanceTable();
    badgeWithValues("B1");
    addBadgeRow({"B2"});  // no balance values
    addBadgeRow({"ACCESS", "SAL1", "LZ1", "MD1", 7, 0});
    addCountedTerminal("T1", "SAL1", "5830-010");
    EXPECT_EQ(BuildSalAswDnl(), 1);
    EXPECT_EQ(displayLines("B1"), kB1Lines);
    EXPECT_EQ(displayLines("B2"),
              (Lines{padded("Saldo"), padded("Urlaub"), blanks(20), blanks(20), blanks(20),
                     blanks(20), blanks(20), blanks(20), " ", " ", "", "", "", "", "", ""}));
    EXPECT_TRUE(displayLines("ACCESS").empty());
    EXPECT_EQ(tableRows("salaswdnl"), 2);
    EXPECT_EQ(tableRows("salaswdnl2"), 0);
    EXPECT_TRUE(logLines().empty()) << "a badge without values is no failure";
    const Lines sent = trace();
    EXPECT_EQ(countOf(sent, kTextsStart), 8) << "the texts are read once for the group";
    EXPECT_EQ(countOf(sent, kCountBStart), 0) << "count A is 0";
}

TEST_F(BalanceBuildTest, ValueListForTablesOfListATerminals) {
    balanceTable();
    addBalanceLine({1, "Saldo", 1, 5, "SAL2"});
    addCountedTerminal("A1", "SAL1", "5820-311X");  // the first eight characters count
    addCountedTerminal("OTHER", "SAL2", "5830-010");
    badgeWithValues("B1");
    addBadgeRow({"B2"});
    addBadgeRow({"B3", "SAL2"});
    EXPECT_EQ(BuildSalAswDnl(), 1);
    EXPECT_EQ(listRows("B1"), kB1List);
    EXPECT_EQ(listRows("B2"), (Lines{"2=$      $", "5=$      $", "21=" + blanks(20)}));
    EXPECT_TRUE(listRows("B3").empty()) << "SAL2 is not used by a list-A terminal";
    EXPECT_EQ(displayLines("B3")[0], padded("Saldo"));
    EXPECT_EQ(logLines(),
              (Lines{"Fehler SQLWriteSalAswDnl2() ReadSaldoWerte:SAL1 Ausweis:B2! Errcode: 100"}));
    const Lines sent = trace();
    EXPECT_EQ(countOf(sent, kCountBStart), 3) << "count B is sent for every badge row";
    EXPECT_EQ(countOf(sent, kTextsStart), 16) << "two groups";
}

TEST_F(BalanceBuildTest, ALanguageChangeAloneReadsTheTextsAgain) {
    balanceTable();
    addListText(kStandardLabels, 2, 8, "Holiday");
    badgeWithValues("B1");
    BalanceBadgeRow english = {"B1"};
    english.language = 8;
    addBadgeRow(english, "T2");
    EXPECT_EQ(BuildSalAswDnl(), 1);
    EXPECT_EQ(countOf(trace(), kTextsStart), 16);
    EXPECT_EQ(displayLines("B1", 7)[1], "Urlaub" + blanks(12) + "7 ");
    EXPECT_EQ(displayLines("B1", 8)[1], "Holiday" + blanks(11) + "7 ");
    EXPECT_EQ(displayLines("B1", 8)[0], blanks(14) + "12,50-")
        << "display code 1 has no standard label in language 8, so line 1 has none";
}

TEST_F(BalanceBuildTest, TableWithoutLinesGivesEightUndefinedLines) {
    badgeWithValues("B1");
    EXPECT_EQ(BuildSalAswDnl(), 1);
    Lines expected(8, blanks(20));
    expected.resize(16, "");
    EXPECT_EQ(displayLines("B1"), expected);
}

TEST_F(BalanceBuildTest, LineDefinitionsForTheKeysAndForEveryKey) {
    addListText(kStandardLabels, 1, 7, "Standard");
    addListText(kValueTypeNames, 5, 7, "Gleitzeit mit langem Namen");
    BalanceLine shared = {1, "Vorgabe", 1, 5};
    shared.liz = "XX";
    shared.mnd = "YY";
    shared.creator = "VORMANT";
    addBalanceLine(shared);
    addBalanceLine({2, "Eigene", 1, 2});
    shared.number = 2;
    addBalanceLine(shared);
    addBalanceLine({3, "Gleitzeitsaldo des Monats", 1, 0});
    BalanceLine otherKeys = {4, "Fremd", 1, 5};
    otherKeys.liz = "XX";
    addBalanceLine(otherKeys);

    SaldoTexte texts = {};
    copyField(texts.DnlSal, "SAL1");
    copyField(texts.DnlLiz, "LZ1");
    copyField(texts.DnlMnd, "MD1");
    texts.DnlSpr = 7;
    ASSERT_EQ(SQLReadSaldoTexte(texts), 0);
    EXPECT_STREQ(texts.lines[0].Text, "Vorgabe") << "a VORMANT line belongs to every key";
    EXPECT_STREQ(texts.lines[0].Wert, "Gleitzeit mit langem") << "cut to 20 characters";
    EXPECT_EQ(texts.lines[0].WrtWhl, 5);
    // The statement fixes no order between the two definitions of line 2.
    EXPECT_TRUE(std::string(texts.lines[1].Text) == "Eigene" ||
                std::string(texts.lines[1].Text) == "Vorgabe")
        << texts.lines[1].Text;
    EXPECT_STREQ(texts.lines[2].Text, "Gleitzeitsaldo des M");
    EXPECT_STREQ(texts.lines[3].Text, "") << "a line of other keys is undefined";
    EXPECT_EQ(texts.lines[3].WrtWhl, 0);

    badgeWithValues("B1");
    EXPECT_EQ(BuildSalAswDnl(), 1);
    EXPECT_EQ(displayLines("B1")[2], "Gleitzeitsaldo des M");
}

// Quotes in every value that reaches a statement: balance table, data keys,
// badge, a label (line 2) and a value (line 1).
void quotedSite() {
    addListText(kStandardLabels, 1, 7, "Standard");
    addBalanceLine({1, "Wert", 1, 21, "S'AL", "L'Z", "M'D"});
    addBalanceLine({2, "Mo's", 1, 0, "S'AL", "L'Z", "M'D"});
    addCountedTerminal("A1", "S'AL", "4917-301");
    addBadgeRow({"B'1", "S'AL", "L'Z", "M'D"});
    addBalanceValues("B'1", {{"tswf01", "5 o'clock"}});
}

TEST_F(BalanceBuildTest, QuotesInLabelsValuesAndKeysAreStoredAsRead) {
    quotedSite();
    EXPECT_EQ(BuildSalAswDnl(), 1);
    EXPECT_TRUE(logLines().empty());
    Lines lines = displayLines("B'1");
    ASSERT_EQ(lines.size(), 16u);
    EXPECT_EQ(lines[0], blanks(11) + "5 o'clock");
    EXPECT_EQ(lines[1], padded("Mo's"));
    EXPECT_EQ(listRows("B'1"), (Lines{"21=" + blanks(11) + "5 o'clock"}));
    EXPECT_EQ(testDbValue("SELECT dnlsal || dnlliz || dnlmnd FROM qvsystem.salaswdnl2"),
              "S'ALL'ZM'D");
}

TEST_F(BalanceBuildTest, DuplicateDisplayRowIsLoggedAndTheListStillWritten) {
    balanceTable();
    addCountedTerminal("A1", "SAL1", "5820-355");
    badgeWithValues("B1");
    ASSERT_EQ(ipConfigure("exec 1 1 23505 1 INSERT INTO Qvsystem.SalAswDnl  ("), 0);
    EXPECT_EQ(BuildSalAswDnl(), 1);
    EXPECT_EQ(logLines(),
              (Lines{"Fehler SQLWriteSalAswDnl() Saldotabelle:SAL1 Ausweis:B1! Errcode: 1"}));
    EXPECT_EQ(listRows("B1"), kB1List);
}

TEST_F(BalanceBuildTest, SecondListLineOfOneValueTypeIsARefusedDuplicate) {
    addListText(kStandardLabels, 1, 7, "Standard");
    addBalanceLine({1, "Saldo", 1, 5});
    addBalanceLine({2, "Nochmal", 1, 5});
    addBalanceLine({3, "Urlaub", 1, 3});
    addCountedTerminal("A1", "SAL1", "5820-301");
    addBadgeRow({"B1"});
    addBalanceValues("B1", {{"tsww05", "+1"}, {"tsww03", "-2"}});
    EXPECT_EQ(BuildSalAswDnl(), 1);
    EXPECT_EQ(logLines(),
              (Lines{"Fehler SQLWriteSalAswDnl2() Saldotabelle:SAL1 Ausweis:B1! Errcode: 1"}));
    EXPECT_EQ(listRows("B1"), (Lines{"3=$     2-", "5=$     1$"})) << "the loop went on";
}

TEST_F(BalanceBuildTest, MySqlEmptiesBothTablesAndFailsAtTheFirstCount) {
    testDbExec("INSERT INTO qvsystem.salaswdnl (dnlsal, dnlasw) VALUES ('X', 'OLD')");
    testDbExec("INSERT INTO qvsystem.salaswdnl2 (dnlsal, dnlasw) VALUES ('X', 'OLD')");
    badgeWithValues("B1");
    useDbSystem("MYSQL");
    EXPECT_EQ(BuildSalAswDnl(), 0);
    EXPECT_EQ(trace(),
              (Lines{"DELETE FROM QVSYSTEM.SALASWDNL", "DELETE FROM QVSYSTEM.SALASWDNL2"}));
    EXPECT_EQ(logLines(), (Lines{"Fehler SQLCount5820_neu()! Errcode: -1"}));
    EXPECT_EQ(tableRows("salaswdnl") + tableRows("salaswdnl2"), 0);
    EXPECT_EQ(ipOpenStatementHandles(), 0);
}

struct FailureCase {
    const char* name;
    const char* rule;
    const char* logLine;
    int displayRows;  // SalAswDnl rows left behind
    int listRows;     // SalAswDnl2 rows left behind
};

TEST_F(BalanceBuildTest, FailuresAreLoggedAndEndThePhase) {
    const FailureCase cases[] = {
        {"no handle", "alloc 3 1 1", "Fehler SQLDeleteSalAswDnl()! Errcode: -1", 0, 0},
        {"delete", "exec 1 1 HY000 55 DELETE FROM QVSYSTEM.SALASWDNL",
         "Fehler SQLDeleteSalAswDnl()! Errcode: 55", 0, 0},
        {"delete list", "exec 1 1 HY000 56 DELETE FROM QVSYSTEM.SALASWDNL2",
         "Fehler SQLDeleteSalAswDnl2()! Errcode: 56", 0, 0},
        {"count A", "exec 1 1 HY000 57 TRMSAL IS NOT NULL",
         "Fehler SQLCount5820_neu()! Errcode: 57", 0, 0},
        {"count A fetch", "fetch 1 1 HY000 58 TRMSAL IS NOT NULL",
         "Fehler SQLCount5820_neu()! Errcode: 58", 0, 0},
        {"open", "exec 1 1 42000 900 SELECT DISTINCT DNLSAL",
         "Fehler SQLOpenSalTabAsw()! Errcode: -1", 0, 0},
        {"read", "fetch 2 1 HY000 7 SELECT DISTINCT DNLSAL",
         "Fehler SQLReadSalTabAsw()! Errcode: -1", 1, 3},
        {"texts", "exec 3 1 HY000 59 FROM  QVSYSTEM.QVS119MSD a",
         "Fehler SQLReadSaldoTexte() Saldotabelle:SAL1! Errcode: -1", 0, 0},
        {"texts fetch", "fetch 2 1 HY000 60 FROM  QVSYSTEM.QVS119MSD a",
         "Fehler SQLReadSaldoTexte() Saldotabelle:SAL1! Errcode: -1", 0, 0},
        {"values for the lines", "exec 1 1 HY000 61 QVSYSTEM.O2002TSW",
         "Fehler SQLWriteSalAswDnl2() ReadSaldoWerte:SAL1 Ausweis:B1! Errcode: 61", 0, 0},
        {"values for the lines fetch", "fetch 1 1 HY000 62 QVSYSTEM.O2002TSW",
         "Fehler SQLWriteSalAswDnl2() ReadSaldoWerte:SAL1 Ausweis:B1! Errcode: 62", 0, 0},
        {"display row", "exec 1 1 HY000 63 INSERT INTO Qvsystem.SalAswDnl  (",
         "Fehler SQLWriteSalAswDnl() Saldotabelle:SAL1 Ausweis:B1! Errcode: 63", 0, 0},
        {"count B", "exec 1 1 HY000 64 WHERE TRMSAL = '",
         "Fehler SQLCountSal_neu() Saldotabelle:SAL1  Errcode: 64", 1, 0},
        {"values for the list", "exec 2 1 HY000 65 QVSYSTEM.O2002TSW",
         "Fehler SQLWriteSalAswDnl2() ReadSaldoWerte:SAL1 Ausweis:B1! Errcode: 65", 1, 0},
        {"list row", "exec 2 1 HY000 66 INSERT INTO Qvsystem.SalAswDnl2",
         "Fehler SQLWriteSalAswDnl2() Saldotabelle:SAL1 Ausweis:B1! Errcode: 66", 1, 1},
    };
    balanceTable();
    addCountedTerminal("A1", "SAL1", "5820-301");
    badgeWithValues("B1");
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        ipReset();
        std::remove(LogFiles.path);
        useDbSystem("ORACLE");
        ASSERT_EQ(ipConfigure(c.rule), 0);
        EXPECT_EQ(BuildSalAswDnl(), 0);
        EXPECT_EQ(logLines(), (Lines{c.logLine}));
        EXPECT_EQ(tableRows("salaswdnl"), c.displayRows);
        EXPECT_EQ(tableRows("salaswdnl2"), c.listRows);
        EXPECT_EQ(ipOpenStatementHandles(), 0);
        EXPECT_TRUE(cursorHandle(CursorSlot::SalTabAsw) == SQL_NULL_HSTMT);
    }
}

// The statement texts as they must reach the driver, with their
// placeholders; filled() fills them in the order given.
const char* const kCount5820Oracle =
    "SELECT COUNT(*) FROM QVSYSTEM.QVS1140TRM  WHERE TRMSAL IS NOT NULL   AND  ((SUBSTR(TRMAP"
    "P, 1, 8) = '4917-301')    OR   (SUBSTR(TRMAPP, 1, 8) = '5820-301')    OR   (SUBSTR(TRMAP"
    "P, 1, 8) = '5820-311')    OR   (SUBSTR(TRMAPP, 1, 8) = '5820-314')    OR   (SUBSTR(TRMAP"
    "P, 1, 8) = '5820-315')    OR   (SUBSTR(TRMAPP, 1, 8) = '5820-351')    OR   (SUBSTR(TRMAP"
    "P, 1, 8) = '5820-352')    OR   (SUBSTR(TRMAPP, 1, 8) = '5820-354')    OR   (SUBSTR(TRMAP"
    "P, 1, 8) = '5820-355')) ";
const char* const kCountSalOracle =
    "SELECT COUNT(*) FROM QVSYSTEM.QVS1140TRM  WHERE TRMSAL = '%s'   AND  ((SUBSTR(TRMAPP, 1,"
    " 8) = '4917-301')    OR   (SUBSTR(TRMAPP, 1, 8) = '5820-301')    OR   (SUBSTR(TRMAPP, 1,"
    " 8) = '5820-311')    OR   (SUBSTR(TRMAPP, 1, 8) = '5820-314')    OR   (SUBSTR(TRMAPP, 1,"
    " 8) = '5820-315')    OR   (SUBSTR(TRMAPP, 1, 8) = '5820-351')    OR   (SUBSTR(TRMAPP, 1,"
    " 8) = '5820-352')    OR   (SUBSTR(TRMAPP, 1, 8) = '5820-354')    OR   (SUBSTR(TRMAPP, 1,"
    " 8) = '5820-355'))";
const char* const kOpen =
    "SELECT DISTINCT DNLSAL, DNLLIZ, DNLMND, DNLSPR, DNLASW FROM   QVSYSTEM.TRMASWDNL WHERE  "
    "DNLKZE = 1 AND    DNLSAL IS NOT NULL ORDER BY DNLSAL, DNLLIZ, DNLMND, DNLSPR, DNLASW";
const char* const kWrite =
    "INSERT INTO Qvsystem.SalAswDnl  (DnlSal, DnlLiz, DnlMnd, DnlSpr, DnlAsw,   DnlSa1, DnlSa"
    "2, DnlSa3, DnlSa4,   DnlSa5, DnlSa6, DnlSa7, DnlSa8,   DnlWr1, DnlWr2, DnlWr3, DnlWr4,  "
    " DnlWr5, DnlWr6, DnlWr7, DnlWr8)  VALUES  ('%s', '%s', '%s',  %ld, '%s',   '%s', '%s', '"
    "%s', '%s',   '%s', '%s', '%s', '%s',   '%s', '%s', '%s', '%s',   '%s', '%s', '%s', '%s')"
    " ";
const char* const kTexts =
    "SELECT  (SELECT COALESCE(NULLIF(MSDTXT, ''), FTXT50, '')   FROM   QVSYSTEM.QVS102WHL, QV"
    "SYSTEM.QVS119MSD b   WHERE  a.MSDSAL = b.MSDSAL   AND    a.MSDLIZ = b.MSDLIZ   AND    a."
    "MSDMND = b.MSDMND   AND    a.MSDLFD = b.MSDLFD   AND    FTXNUMSPR = 220001   AND    FTXW"
    "HL = b.MSDANZ   AND    FTXWHL > 0   AND    FTXWHL < 90   AND    FTXSPR = %ld  )as Text, "
    " (SELECT COALESCE(FTXT30, '')   FROM   QVSYSTEM.QVS102WHL  WHERE  FTXNUMSPR = 220002   A"
    "ND    FTXWHL = a.MSDWRT   AND    FTXSPR = %ld  ) as Wert,  MSDWRT as WrtWhl FROM  QVSYST"
    "EM.QVS119MSD a WHERE MSDSAL = '%s' AND  ((MSDLIZ = '%s' AND MSDMND = '%s')  OR   MSDERF "
    "= 'VORMANT') AND   MSDLFD = %ld ";
const char* const kValues =
    "SELECT TSWW01, TSWW02, TSWW03, TSWW04, TSWW05,        TSWW06, TSWW07, TSWW08, TSWW09, TS"
    "WW10,        TSWW11, TSWW12, TSWW13, TSWW14, TSWW15, TSWW16,        TSWF01, TSWF02, TSWF"
    "03, TSWF04, TSWF05,        TSWF06, TSWF07, TSWF08, TSWF09, TSWF10 FROM   QVSYSTEM.O2002T"
    "SW WHERE  TSWIDN = '%s' ";
const char* const kWrite2 =
    "INSERT INTO Qvsystem.SalAswDnl2  (DnlSal, DnlLiz, DnlMnd, DnlSpr, DnlAsw,   DnlWrt, DnlV"
    "al ) VALUES  ('%s', '%s', '%s',  %ld, '%s',   '%ld', '%s') ";

// Fills the placeholders ("%s" and "%ld", quotes stay in the text) in order.
std::string filled(std::string text, const Lines& values) {
    std::size_t at = 0;
    for (const std::string& value : values) {
        at = text.find('%', at);
        std::size_t length = text.compare(at, 3, "%ld") == 0 ? 3 : 2;
        text.replace(at, length, value);
        at += value.size();
    }
    return text;
}

std::string mssql(std::string text) {
    for (std::size_t at = 0; (at = text.find("SUBSTR(", at)) != std::string::npos; at += 10)
        text.replace(at, 7, "SUBSTRING(");
    return text;
}

TEST_F(BalanceBuildTest, StatementTextsAsSent) {
    quotedSite();
    ASSERT_EQ(BuildSalAswDnl(), 1);
    Lines sent = trace();
    ASSERT_EQ(sent.size(), 17u);
    const std::string value = blanks(11) + "5 o''clock";
    Lines want = {"DELETE FROM QVSYSTEM.SALASWDNL", "DELETE FROM QVSYSTEM.SALASWDNL2",
                  kCount5820Oracle, kOpen};
    for (int n = 1; n <= 8; ++n) {
        want.push_back(filled(kTexts, {"7", "7", "S''AL", "L''Z", "M''D", std::to_string(n)}));
    }
    want.push_back(filled(kValues, {"B''1"}));
    Lines lineValues = {"S''AL", "L''Z", "M''D", "7", "B''1", value, "Mo''s" + blanks(16)};
    lineValues.resize(13, blanks(20));
    lineValues.resize(21, "");
    want.push_back(filled(kWrite, lineValues));
    want.push_back(filled(kCountSalOracle, {"S''AL"}));
    want.push_back(filled(kValues, {"B''1"}));
    want.push_back(filled(kWrite2, {"S''AL", "L''Z", "M''D", "7", "B''1", "21", value}));
    EXPECT_EQ(sent, want);
}

TEST_F(BalanceBuildTest, CountsOfListATerminalsInBothDialects) {
    addCountedTerminal("A", "SAL1", "5820-301 v2");
    addCountedTerminal("B", "", "5820-311");  // no balance table
    addCountedTerminal("C", "SAL2", "4917-301");
    addCountedTerminal("D", "SAL1", "5830-010");
    addCountedTerminal("E", "SAL1", "5820-30");
    for (const char* dbSystem : {"ORACLE", "MSSQL"}) {
        SCOPED_TRACE(dbSystem);
        ipReset();
        useDbSystem(dbSystem);
        int32_t count = -5;
        EXPECT_EQ(SQLCount5820_neu(count), 0);
        EXPECT_EQ(count, 2);
        EXPECT_EQ(SQLCountSal_neu("SAL1", count), 0);
        EXPECT_EQ(count, 1);
        EXPECT_EQ(SQLCountSal_neu("NONE", count), 0);
        EXPECT_EQ(count, 0);
        const std::string dialect = dbSystem;
        EXPECT_EQ(
            trace(),
            (Lines{
                dialect == "MSSQL" ? mssql(kCount5820Oracle) : kCount5820Oracle,
                filled(dialect == "MSSQL" ? mssql(kCountSalOracle) : std::string(kCountSalOracle),
                       {"SAL1"}),
                filled(dialect == "MSSQL" ? mssql(kCountSalOracle) : std::string(kCountSalOracle),
                       {"NONE"})}));
    }
    ipReset();
    useDbSystem("MYSQL");
    int32_t count = 7;
    EXPECT_EQ(SQLCountSal_neu("SAL1", count), -1);
    EXPECT_EQ(count, 0) << "set to 0 before anything else";
    EXPECT_TRUE(trace().empty());
}

}  // namespace
