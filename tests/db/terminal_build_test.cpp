// The terminal authorisation builders on the real test database: the full
// build of TrmAswDnl and the update of one badge's rows.
#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "db_fixture.h"
#include "download/terminal_authorisations.h"
#include "trm_asw_data.h"

namespace {

using Lines = std::vector<std::string>;

QvsAswDnlRow requestFor(const char* badge) {
    QvsAswDnlRow request = {};
    copyField(request.DnlAsw, badge);
    return request;
}

// Terminal T1 with access readers 01 and 03 (and 12, beyond the slots) for
// booking class Z1 and time recording for K1; one site S1.
void smallSite() {
    addSite("S1", "ST1");
    addTerminal("T1");
    addEntry("T1", "Z1", 0, "01");
    addEntry("T1", "Z1", 0, "03");
    addEntry("T1", "Z1", 0, "12");
    addEntry("T1", "K1", 1, "02");
}

void badgeWithClass(TestBadge badge, const char* bookingClass = "Z1") {
    addBadge(badge);
    addBadgeClass(badge.number, bookingClass);
}

TestBadge badge(const char* number) {
    TestBadge b;
    b.number = number;
    return b;
}

// Badges holding Z1 that differ from the default in one text field.
void badgesWith(std::string TestBadge::*field,
                std::initializer_list<std::pair<const char*, const char*>> numbersAndValues) {
    for (const auto& [number, value] : numbersAndValues) {
        TestBadge b = badge(number);
        b.*field = value;
        badgeWithClass(b);
    }
}

using TerminalBuildTest = DbTest;

TEST_F(TerminalBuildTest, EmptySiteGivesAnEmptyTable) {
    testDbExec(
        "INSERT INTO qvsystem.trmaswdnl (dnltrm, dnlasw, dnlkze, dnlkzu, dnlspr, dnlatp) VALUES "
        "('OLD', 'OLD', 0, 0, 0, 0)");
    EXPECT_EQ(BuildTrmAswDnl(), 1);
    EXPECT_EQ(dnlRowCount(), 0);
    EXPECT_TRUE(logLines().empty());
}

TEST_F(TerminalBuildTest, ValidityByDatesCodeAndSite) {
    smallSite();
    TestBadge open = badge("OPEN");
    TestBadge endsToday = badge("TODAY");
    endsToday.validTo = "CURRENT_DATE";
    TestBadge startsTomorrow = badge("TOMORROW");
    startsTomorrow.validFrom = "CURRENT_DATE + 1";
    TestBadge endedYesterday = badge("YESTERDAY");
    endedYesterday.validTo = "CURRENT_DATE - 1";
    TestBadge blocked = badge("CODE8");
    blocked.code = "8";
    TestBadge otherCode = badge("CODE3");
    otherCode.code = "3";
    TestBadge noSite = badge("NOSITE");
    noSite.site = "S9";
    for (const TestBadge& b :
         {open, endsToday, startsTomorrow, endedYesterday, blocked, otherCode, noSite}) {
        badgeWithClass(b);
    }
    EXPECT_EQ(BuildTrmAswDnl(), 1);
    auto rows = testDbQuery("SELECT dnlasw FROM qvsystem.trmaswdnl ORDER BY dnlasw");
    Lines badges;
    for (const auto& row : rows)
        badges.push_back(row[0]);
    EXPECT_EQ(badges, (Lines{"CODE3", "OPEN", "TODAY"}));
    EXPECT_EQ(dnlValue("T1", "OPEN", "dnlgbi"), "00000000");
    auto today = testDbQuery(
        "SELECT to_char(CURRENT_DATE, 'yyyymmdd'), "
        "to_char(CURRENT_DATE - 10, 'yyyymmdd')")[0];
    EXPECT_EQ(dnlValue("T1", "TODAY", "dnlgbi"), today[0]);
    EXPECT_EQ(dnlValue("T1", "TODAY", "dnlgvo"), today[1]);
}

TEST_F(TerminalBuildTest, RowCarriesTerminalBadgeSiteAndReaderSlots) {
    smallSite();
    badgeWithClass(badge("B1"));
    EXPECT_EQ(BuildTrmAswDnl(), 1);
    auto row = testDbQuery(
        "SELECT dnlsal, dnlstb, dnlsto, dnlspr, dnlliz, dnlmnd, dnlatp, dnlaan, dnlpin, dnlpnr, "
        "dnll01, dnll02, dnll03, dnll04, dnll11, dnlb01, dnlb03 FROM qvsystem.trmaswdnl")[0];
    EXPECT_EQ(row, (Lines{"SAL1", "ST1", "S1", "7", "LZ1", "MD1", "3", "AAN", "1234", "P1", "01",
                          "", "03", "", "", "", ""}));
    int slotLookups = 0;
    for (const std::string& text : trace()) {
        slotLookups += text.rfind(" SELECT (select distinct m35les", 0) == 0;
        EXPECT_EQ(text.find("m35les = '12'"), std::string::npos)
            << "readers above 11 are never asked";
    }
    EXPECT_EQ(slotLookups, 1);
}

TEST_F(TerminalBuildTest, ReaderSlotsAreSharedByEveryRowOfTheTerminal) {
    smallSite();
    badgeWithClass(badge("B1"));
    badgeWithClass(badge("B2"));
    badgeWithClass(badge("B3"));
    EXPECT_EQ(BuildTrmAswDnl(), 1);
    for (const char* b : {"B1", "B2", "B3"}) {
        EXPECT_EQ(dnlValue("T1", b, "dnll01"), "01");
        EXPECT_EQ(dnlValue("T1", b, "dnll03"), "03");
    }
}

TEST_F(TerminalBuildTest, BookingFlagsAreIndependent) {
    smallSite();
    badgeWithClass(badge("ACCESS"), "Z1");
    badgeWithClass(badge("TIME"), "K1");
    badgeWithClass(badge("BOTH"), "Z1");
    addBadgeClass("BOTH", "K1");
    EXPECT_EQ(BuildTrmAswDnl(), 1);
    EXPECT_EQ(dnlValue("T1", "ACCESS", "dnlkze || '/' || dnlkzu"), "0/1");
    EXPECT_EQ(dnlValue("T1", "TIME", "dnlkze || '/' || dnlkzu"), "1/0");
    EXPECT_EQ(dnlValue("T1", "BOTH", "dnlkze || '/' || dnlkzu"), "1/1");
}

TEST_F(TerminalBuildTest, BalanceDisplayValue) {
    smallSite();
    for (const char* b : {"NONE", "PLUS", "MINUS", "SHORT"})
        badgeWithClass(badge(b));
    addBalance("PLUS", "+0001234567");
    addBalance("MINUS", "-0001234567");
    addBalance("SHORT", "+0001");
    EXPECT_EQ(BuildTrmAswDnl(), 1);
    EXPECT_EQ(dnlValue("T1", "NONE", "dnlsa1"), "       ");
    EXPECT_EQ(dnlValue("T1", "PLUS", "dnlsa1"), "123456 ");
    EXPECT_EQ(dnlValue("T1", "MINUS", "dnlsa1"), "123456-");
    EXPECT_EQ(dnlValue("T1", "SHORT", "dnlsa1"), "     1 ");
}

TEST_F(TerminalBuildTest, BalanceTableRuleOfTheBalanceTerminal) {
    addSite("S1", "ST1");
    addTerminal("T2", "TSAL", "5830-020");
    addEntry("T2", "Z1", 1);
    addTerminal("T3", "TSAL3", "5830-010");
    addEntry("T3", "Z1", 1);
    addBalanceTable("BS60", "5830-060");
    addBalanceTable("BS10", "5830-010");
    badgesWith(&TestBadge::balanceTable,
               {{"OWN60", "BS60"}, {"OWN10", "BS10"}, {"UNKNOWN", "BSXX"}, {"NOTABLE", ""}});
    EXPECT_EQ(BuildTrmAswDnl(), 1);
    EXPECT_EQ(dnlValue("T2", "OWN60", "dnlsal"), "BS60");
    EXPECT_EQ(dnlValue("T2", "OWN10", "dnlsal"), "TSAL");
    EXPECT_EQ(dnlValue("T2", "UNKNOWN", "dnlsal"), "TSAL");
    EXPECT_EQ(dnlValue("T2", "NOTABLE", "dnlsal"), "TSAL");
    EXPECT_EQ(dnlValue("T3", "OWN60", "dnlsal"), "TSAL3") << "other models keep their table";
    EXPECT_EQ(logLines(), (Lines{"Fehler SQLReadSalTabModell() Terminal:T2! Errcode: 100"}));
    int lookups = 0;
    for (const std::string& text : trace())
        lookups += text.rfind("SELECT MSTTTP", 0) == 0;
    EXPECT_EQ(lookups, 3) << "no lookup for the other model or for a badge without a table";
}

TEST_F(TerminalBuildTest, NamesAreReorderedAndStoredWithTheirQuotes) {
    smallSite();
    badgesWith(&TestBadge::name, {{"COMMA", "Muster,   Max"},
                                  {"PLAIN", "Cher"},
                                  {"ONEQ", "O'Neil, Shaq"},
                                  {"TWOQ", "D'Art'agnan, Charles"},
                                  {"THREE", "O'N"},
                                  {"LONG", "Abcdefghijklmnopqrstuvwxyz'abcdefghijk, Klmnopqrstu"}});
    EXPECT_EQ(BuildTrmAswDnl(), 1);
    EXPECT_EQ(dnlValue("T1", "COMMA", "dnlnam"), "Max Muster");
    EXPECT_EQ(dnlValue("T1", "PLAIN", "dnlnam"), "Cher ");
    EXPECT_EQ(dnlValue("T1", "ONEQ", "dnlnam"), "Shaq O'Neil");
    EXPECT_EQ(dnlValue("T1", "TWOQ", "dnlnam"), "Charles D'Art'agnan");
    EXPECT_EQ(dnlValue("T1", "THREE", "dnlnam"), "O'N ");
    EXPECT_EQ(dnlValue("T1", "LONG", "dnlnam"),
              "Klmnopqrstu Abcdefghijklmnopqrstuvwxyz'abcdefghijk")
        << "a name of 50 characters with a quote is kept whole";
    EXPECT_TRUE(logLines().empty());
}

TEST_F(TerminalBuildTest, QuotesInEveryValueAreStoredAsRead) {
    addSite("S'1", "S'T");
    addTerminal("T'1", "S'AL");
    addEntry("T'1", "Z'1", 0, "01");
    TestBadge b = badge("B'1");
    b.site = "S'1";
    b.pin = "1'2";
    b.personnel = "P'";
    badgeWithClass(b, "Z'1");
    EXPECT_EQ(BuildTrmAswDnl(), 1);
    EXPECT_EQ(dnlValue("T'1", "B'1", "dnlsal || dnlstb || dnlsto || dnlpin || dnlpnr || dnll01"),
              "S'ALS'TS'11'2P'01");
}

TEST_F(TerminalBuildTest, DuplicatePairIsLoggedAndSkipped) {
    smallSite();
    addSite("S2", "AAA");
    addSite("S2", "BBB");
    TestBadge b = badge("DUP");
    b.site = "S2";
    badgeWithClass(b);
    badgeWithClass(badge("OK"));
    EXPECT_EQ(BuildTrmAswDnl(), 1);
    EXPECT_EQ(dnlRowCount(), 2);
    EXPECT_EQ(logLines(),
              (Lines{"Fehler SQLInsertTrmAswDnl() Terminal:T1 Ausweis:DUP! Errcode: 1"}));
}

TEST_F(TerminalBuildTest, MySqlSendsTheDeleteAndFailsAtTheOpen) {
    useDbSystem("MYSQL");
    smallSite();
    badgeWithClass(badge("B1"));
    EXPECT_EQ(BuildTrmAswDnl(), 0);
    EXPECT_EQ(trace(), (Lines{"DELETE FROM QVSYSTEM.TRMASWDNL"}));
    EXPECT_EQ(logLines(), (Lines{"Fehler SQLOpenTrmAsw()! Errcode: -1"}));
    EXPECT_EQ(ipOpenStatementHandles(), 0);
}

struct FailureCase {
    const char* name;
    const char* rule;
    const char* logLine;
    int result;
    int rowsWritten;  // -1: depends on the row order
};

TEST_F(TerminalBuildTest, FailuresAreLoggedAndTheCursorIsAlwaysClosed) {
    const FailureCase cases[] = {
        {"delete", "exec 1 1 HY000 55 DELETE FROM QVSYSTEM.TRMASWDNL",
         "Fehler SQLDeleteTrmAswDnl()! Errcode: 55", 0, 0},
        {"open", "exec 1 1 42000 900 SELECT DISTINCT TRMNAM", "Fehler SQLOpenTrmAsw()! Errcode: -1",
         0, 0},
        {"read", "fetch 2 1 HY000 7 SELECT DISTINCT TRMNAM", "Fehler SQLReadTrmAsw()! Errcode: -1",
         0, 1},
        {"slots not found", "exec 1 1 02000 100 m35les = '01'",
         "Fehler SQLReadTrmLeser() Terminal:T1! Errcode: 100", 1, 2},
        {"slots failing", "exec 1 1 HY000 3113 m35les = '01'",
         "Fehler SQLReadTrmLeser() Terminal:T1! Errcode: 3113", 0, 0},
        {"insert", "exec 1 3 HY000 4242 'B2'",
         "Fehler SQLInsertTrmAswDnl() Terminal:T1 Ausweis:B2! Errcode: 4242", 0, -1},
    };
    smallSite();
    badgeWithClass(badge("B1"));
    badgeWithClass(badge("B2"));
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        ipReset();
        std::remove(LogFiles.path);
        useDbSystem("ORACLE");
        testDbExec("DELETE FROM qvsystem.trmaswdnl");
        ASSERT_EQ(ipConfigure(c.rule), 0);
        EXPECT_EQ(BuildTrmAswDnl(), c.result);
        EXPECT_EQ(logLines(), (Lines{c.logLine}));
        // The cursor has no order, so whether B1 came before B2 is open.
        if (c.rowsWritten >= 0) {
            EXPECT_EQ(dnlRowCount(), c.rowsWritten);
        }
        EXPECT_EQ(ipOpenStatementHandles(), 0);
        EXPECT_TRUE(cursorHandle(CursorSlot::TrmAsw) == SQL_NULL_HSTMT);
    }
}

TEST_F(TerminalBuildTest, SlotsNotFoundLeaveTheTerminalsRowsWithoutReaders) {
    smallSite();
    badgeWithClass(badge("B1"));
    ASSERT_EQ(ipConfigure("exec 1 1 02000 100 m35les = '01'"), 0);
    EXPECT_EQ(BuildTrmAswDnl(), 1);
    EXPECT_EQ(dnlValue("T1", "B1", "dnll01 || '/' || dnll03"), "/");
}

// The cursor texts exactly as they must reach the driver, the badge number
// "B'1" with its quote doubled.
const char* const kOracleBadgeText =
    "SELECT DISTINCT TRMNAM, TRMSAL, TRMSPR, TRMLIZ, TRMMND, ASWNUM, TO_CHAR(ASWGVO, 'yyyymmdd'"
    "), COALESCE(TO_CHAR(ASWGBI, 'yyyymmdd'), '00000000'), ASWATP, ASWAAN, STOKTX, STONUM, (sel"
    "ect sign(count(*)) from qvsystem.MGSST35P where m35trm = a.trmnam and m35bch = 1 and M35BK"
    "L IN (SELECT AWBBKL FROM QVSYSTEM.QVS301AWB WHERE AWBASW = ASWNUM) ) as knzzet, (select si"
    "gn(count(*)) from qvsystem.MGSST35P where m35trm = a.trmnam and M35BCH = 0 and M35BKL IN ("
    "SELECT AWBBKL FROM QVSYSTEM.QVS301AWB WHERE AWBASW = ASWNUM) ) as knzzut, (select CONCAT(s"
    "ubstr(TswW02, 5, 6), COALESCE(NULLIF(substr(TswW02, 1, 1), '+'),' ')) from qvsystem.O2002T"
    "SW where tswidn = d.aswnum) as salsa1, TRMMOD, ASWSAL, ASWPIN, ASWPNR, CONCAT( CONCAT(LTRI"
    "M(SUBSTR(ASWNAM, INSTR(ASWNAM, ',') + 1)),' '), RTRIM(SUBSTR(ASWNAM, 1, INSTR(ASWNAM, ',')"
    "-1)) ) as ASWNAM FROM qvsystem.qvs1140trm a, qvsystem.mgsst35p b, qvsystem.qvs301asw d, qv"
    "system.qvs113sto e WHERE trmnam = M35TRM AND ASWNUM = 'B''1' AND ASWGVO <= trunc(sysdate) "
    "AND (ASWGBI is null or ASWGBI >= trunc(sysdate)) AND M35BKL in (select AWBBKL FROM QVSYSTE"
    "M.QVS301AWB WHERE AWBASW = ASWNUM) AND (ASWCOD <> 8 or ASWCOD IS NULL) AND ASWSTO = STONUM";
const char* const kOracleAllText =
    "SELECT DISTINCT TRMNAM, TRMSAL, TRMSPR, TRMLIZ, TRMMND, ASWNUM, TO_CHAR(ASWGVO, 'yyyymmdd'"
    "), COALESCE(TO_CHAR(ASWGBI, 'yyyymmdd'), '00000000'), ASWATP, ASWAAN, STOKTX, STONUM, (sel"
    "ect sign(count(*)) from qvsystem.MGSST35P where m35trm = a.trmnam and m35bch = 1 and M35BK"
    "L IN (SELECT AWBBKL FROM QVSYSTEM.QVS301AWB WHERE AWBASW = ASWNUM) ) as knzzet, (select si"
    "gn(count(*)) from qvsystem.MGSST35P where m35trm = a.trmnam and M35BCH = 0 and M35BKL IN ("
    "SELECT AWBBKL FROM QVSYSTEM.QVS301AWB WHERE AWBASW = ASWNUM) ) as knzzut, (select CONCAT(s"
    "ubstr(TswW02, 5, 6), COALESCE(NULLIF(substr(TswW02, 1, 1), '+'),' ')) from qvsystem.O2002T"
    "SW where tswidn = d.aswnum) as salsa1, TRMMOD, ASWSAL, ASWPIN, ASWPNR, CONCAT( CONCAT(LTRI"
    "M(SUBSTR(ASWNAM, INSTR(ASWNAM, ',') + 1)),' '), RTRIM(SUBSTR(ASWNAM, 1, INSTR(ASWNAM, ',')"
    "-1)) ) as ASWNAM FROM qvsystem.qvs1140trm a, qvsystem.mgsst35p b, qvsystem.qvs301asw d, qv"
    "system.qvs113sto e WHERE trmnam = M35TRM AND ASWGVO <= trunc(sysdate) AND (ASWGBI is null "
    "or ASWGBI >= trunc(sysdate)) AND M35BKL in (select AWBBKL FROM QVSYSTEM.QVS301AWB WHERE AW"
    "BASW = ASWNUM) AND (ASWCOD <> 8 or ASWCOD IS NULL) AND ASWSTO = STONUM";
const char* const kMssqlBadgeText =
    "SELECT DISTINCT TRMNAM, TRMSAL, TRMSPR, TRMLIZ, TRMMND, ASWNUM, CONVERT(char(8), ASWGVO, 1"
    "12), COALESCE(CONVERT(char(8), ASWGBI, 112), '00000000'), ASWATP, ASWAAN, STOKTX, STONUM, "
    "(select sign(count(*)) from qvsystem.MGSST35P where m35trm = a.trmnam and m35bch = 1 and M"
    "35BKL IN (SELECT AWBBKL FROM QVSYSTEM.QVS301AWB WHERE AWBASW = ASWNUM) ) as knzzet, (selec"
    "t sign(count(*)) from qvsystem.MGSST35P where m35trm = a.trmnam and M35BCH = 0 and M35BKL "
    "IN (SELECT AWBBKL FROM QVSYSTEM.QVS301AWB WHERE AWBASW = ASWNUM) ) as knzzut, (select subs"
    "tring(TswW02, 5, 6) + COALESCE(NULLIF(substring(TswW02, 1, 1), '+'),' ') from qvsystem.O20"
    "02TSW where tswidn = d.aswnum) as salsa1, TRMMOD, ASWSAL, ASWPIN, ASWPNR, ASWNAM FROM qvsy"
    "stem.qvs1140trm a, qvsystem.mgsst35p b, qvsystem.qvs301asw d, qvsystem.qvs113sto e WHERE t"
    "rmnam = M35TRM AND ASWNUM = 'B''1' AND ASWGVO <= getdate() AND (ASWGBI is null or ASWGBI >"
    "= getdate()-1) AND M35BKL in (select AWBBKL FROM QVSYSTEM.QVS301AWB WHERE AWBASW = ASWNUM)"
    " AND (ASWCOD <> 8 or ASWCOD IS NULL) AND ASWSTO = STONUM";
const char* const kMssqlAllText =
    "SELECT DISTINCT TRMNAM, TRMSAL, TRMSPR, TRMLIZ, TRMMND, ASWNUM, CONVERT(char(8), ASWGVO, 1"
    "12), COALESCE(CONVERT(char(8), ASWGBI, 112), '00000000'), ASWATP, ASWAAN, STOKTX, STONUM, "
    "(select sign(count(*)) from qvsystem.MGSST35P where m35trm = a.trmnam and m35bch = 1 and M"
    "35BKL IN (SELECT AWBBKL FROM QVSYSTEM.QVS301AWB WHERE AWBASW = ASWNUM) ) as knzzet, (selec"
    "t sign(count(*)) from qvsystem.MGSST35P where m35trm = a.trmnam and M35BCH = 0 and M35BKL "
    "IN (SELECT AWBBKL FROM QVSYSTEM.QVS301AWB WHERE AWBASW = ASWNUM) ) as knzzut, (select subs"
    "tring(TswW02, 5, 6) + COALESCE(NULLIF(substring(TswW02, 1, 1), '+'),' ') from qvsystem.O20"
    "02TSW where tswidn = d.aswnum) as salsa1, TRMMOD, ASWSAL, ASWPIN, ASWPNR, ASWNAM FROM qvsy"
    "stem.qvs1140trm a, qvsystem.mgsst35p b, qvsystem.qvs301asw d, qvsystem.qvs113sto e WHERE t"
    "rmnam = M35TRM AND ASWGVO <= getdate() AND (ASWGBI is null or ASWGBI >= getdate()-1) AND M"
    "35BKL in (select AWBBKL FROM QVSYSTEM.QVS301AWB WHERE AWBASW = ASWNUM) AND (ASWCOD <> 8 or"
    " ASWCOD IS NULL) AND ASWSTO = STONUM";

TEST_F(TerminalBuildTest, CursorTextsAsSentForEachDbSystem) {
    struct TextCase {
        const char* dbSystem;
        const char* badge;
        const char* text;
    } const cases[] = {
        {"ORACLE", "B'1", kOracleBadgeText},
        {"ORACLE", "", kOracleAllText},
        {"MSSQL", "B'1", kMssqlBadgeText},
        {"MSSQL", "", kMssqlAllText},
    };
    for (const TextCase& c : cases) {
        ipReset();
        useDbSystem(c.dbSystem);
        SQLOpenTrmAsw(c.badge);
        SQLCloseTrmAsw();
        ASSERT_EQ(trace().size(), 1u);
        EXPECT_EQ(trace()[0], c.text);
    }
    ipReset();
    useDbSystem("MYSQL");
    EXPECT_EQ(SQLOpenTrmAsw("B1"), -1);
    EXPECT_TRUE(trace().empty());
}

// The per-badge update.

TEST_F(TerminalBuildTest, BadgeWithoutQualifyingTerminalWritesNothing) {
    smallSite();
    badgeWithClass(badge("OTHER"));
    EXPECT_EQ(BuildTrmAswDnlForBadge(requestFor("NOBODY")), 1);
    EXPECT_EQ(dnlRowCount(), 0);
    EXPECT_TRUE(logLines().empty());
}

TEST_F(TerminalBuildTest, BadgeRowsAreUpdatedOrInsertedAndOthersLeftAlone) {
    smallSite();
    addTerminal("T2");
    addEntry("T2", "Z1", 0, "02");
    addTerminal("GONE");
    badgeWithClass(badge("B1"));
    badgeWithClass(badge("B2"));
    ASSERT_EQ(BuildTrmAswDnl(), 1);
    testDbExec("DELETE FROM qvsystem.trmaswdnl WHERE dnltrm = 'T2'");
    testDbExec("UPDATE qvsystem.trmaswdnl SET dnlb01 = 'X', dnlnam = 'old'");
    testDbExec(
        "INSERT INTO qvsystem.trmaswdnl (dnltrm, dnlasw, dnlkze, dnlkzu, dnlspr, dnlatp, dnlnam) "
        "VALUES ('GONE', 'B1', 0, 0, 0, 0, 'stays')");

    EXPECT_EQ(BuildTrmAswDnlForBadge(requestFor("B1")), 1);
    EXPECT_EQ(dnlValue("T1", "B1", "dnlnam || '/' || dnlb01"), "Max Muster/");
    EXPECT_EQ(dnlValue("T2", "B1", "dnll02"), "02") << "missing row inserted";
    EXPECT_EQ(dnlValue("GONE", "B1", "dnlnam"), "stays");
    EXPECT_EQ(dnlValue("T1", "B2", "dnlnam || '/' || dnlb01"), "old/X") << "other badges untouched";
    EXPECT_EQ(dnlValue("T2", "B2", "dnlnam"), "<none>");
    EXPECT_TRUE(logLines().empty());
}

TEST_F(TerminalBuildTest, EmptyBadgeNumberUpdatesEveryBadgeWithoutDeleting) {
    smallSite();
    badgeWithClass(badge("B1"));
    badgeWithClass(badge("B2"));
    testDbExec(
        "INSERT INTO qvsystem.trmaswdnl (dnltrm, dnlasw, dnlkze, dnlkzu, dnlspr, dnlatp) VALUES "
        "('GONE', 'B9', 0, 0, 0, 0)");
    EXPECT_EQ(BuildTrmAswDnlForBadge(requestFor("")), 1);
    EXPECT_EQ(dnlRowCount(), 3);
    EXPECT_EQ(dnlValue("T1", "B2", "dnll01"), "01");
}

TEST_F(TerminalBuildTest, FailedWriteStopsTheBadgeUpdate) {
    smallSite();
    badgeWithClass(badge("B1"));
    ASSERT_EQ(ipConfigure("exec 1 1 HY000 4242 UPDATE Qvsystem.TrmAswDnl"), 0);
    EXPECT_EQ(BuildTrmAswDnlForBadge(requestFor("B1")), 0);
    EXPECT_EQ(logLines(),
              (Lines{"Fehler SQLUpdateTrmAswDnl() Terminal:T1 Ausweis:B1! Errcode: 4242"}));
    EXPECT_EQ(ipOpenStatementHandles(), 0);
}

TEST_F(TerminalBuildTest, BadgeUpdateFailuresNameTheBadge) {
    smallSite();
    badgeWithClass(badge("B1"));
    ASSERT_EQ(ipConfigure("fetch 1 1 HY000 7 SELECT DISTINCT TRMNAM"), 0);
    EXPECT_EQ(BuildTrmAswDnlForBadge(requestFor("B1")), 0);
    useDbSystem("MYSQL");
    EXPECT_EQ(BuildTrmAswDnlForBadge(requestFor("B1")), 0);
    EXPECT_EQ(logLines(), (Lines{"Fehler SQLReadTrmAsw() Ausweisnr. B1! Errcode: -1",
                                 "Fehler SQLOpenTrmAsw() Ausweisnr. B1! Errcode: -1"}));
    EXPECT_EQ(ipOpenStatementHandles(), 0);
}

TEST_F(TerminalBuildTest, BadgeUpdateBalanceModelLineSaysErrorcode) {
    addSite("S1", "ST1");
    addTerminal("T2", "TSAL", "5830-020");
    addEntry("T2", "Z1", 1);
    TestBadge b = badge("B1");
    b.balanceTable = "BSXX";
    badgeWithClass(b);
    EXPECT_EQ(BuildTrmAswDnlForBadge(requestFor("B1")), 1);
    EXPECT_EQ(logLines(), (Lines{"Fehler SQLReadSalTabModell() Terminal:T2! Errorcode: 100"}));
    EXPECT_EQ(dnlValue("T2", "B1", "dnlsal"), "TSAL");
}

}  // namespace
