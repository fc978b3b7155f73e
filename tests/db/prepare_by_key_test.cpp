// The key-driven update on the real test database: the request cursor, and
// PrepareByKey with its attempts, reconnections and waits.
#include "run/prepare_by_key.h"

#include <iterator>
#include <string>
#include <vector>

#include "db_fixture.h"
#include "log_lines.h"
#include "trm_asw_data.h"

namespace {

using Lines = std::vector<std::string>;

const Lines kReconnection(std::begin(kReconnectedAtOnce), std::end(kReconnectedAtOnce));

// Terminal T1 with access class Z1 at reader 01; badges B1 to B4 hold Z1.
class PrepareByKeyTest : public DbTest {
  protected:
    void SetUp() override {
        DbTest::SetUp();
        addSite("S1", "ST1");
        addTerminal("T1");
        addEntry("T1", "Z1", 0, "01");
        for (const char* number : {"B1", "B2", "B3", "B4"}) {
            TestBadge b;
            b.number = number;
            addBadge(b);
            addBadgeClass(number, "Z1");
        }
    }

    // The badge of every terminal authorisation cursor opened, "*" for all.
    static Lines badgesOpened() {
        Lines badges;
        for (const std::string& text : trace()) {
            if (text.rfind("SELECT DISTINCT TRMNAM", 0) != 0)
                continue;
            std::size_t at = text.find("ASWNUM = '");
            badges.push_back(at == std::string::npos
                                 ? "*"
                                 : text.substr(at + 10, text.find('\'', at + 10) - at - 10));
        }
        return badges;
    }
};

TEST_F(PrepareByKeyTest, RequestRowsAreProcessedInSequenceOrderInOneAttempt) {
    addRequest("K1", 3, "B3");
    addRequest("K1", 1, "B1");
    addRequest("K1", 2, "B2");
    addRequest("K2", 1, "B4");
    EXPECT_EQ(PrepareByKey("K1"), 3);
    EXPECT_EQ(logLines(), (Lines{"Aktualisiere Berechtigungen zu Key: K1. Versuch-Nr:1!",
                                 "Die Berechtigungen zu Key K1 wurden aktualisiert."}));
    ASSERT_FALSE(trace().empty());
    EXPECT_EQ(
        trace()[0],
        "SELECT DnlKey, DnlLfd, DnlMnd, DnlLiz, DnlAsw, DnlKze, DnlKzu, DnlKmp, DnlSta, DnlErf "
        "FROM QVSYSTEM.QvsAswDnl WHERE DnlKey = 'K1' ORDER BY DnlLfd");
    EXPECT_EQ(badgesOpened(), (Lines{"B1", "B2", "B3"}));
    EXPECT_EQ(aswBklRows(), (Lines{"T1/B1/Z1", "T1/B2/Z1", "T1/B3/Z1"}));
    EXPECT_EQ(dnlBookingClasses("T1", "B3"), "Z1//////////");
    EXPECT_EQ(dnlValue("T1", "B4", "dnlasw"), "<none>");
    EXPECT_TRUE(waits().empty());
    EXPECT_TRUE(cursorHandle(CursorSlot::QvsAswDnl) == SQL_NULL_HSTMT);
}

TEST_F(PrepareByKeyTest, KeyWithoutRowsSucceedsWithNoRows) {
    addRequest("K2", 1, "B4");
    EXPECT_EQ(PrepareByKey("K1"), 0);
    EXPECT_EQ(logLines(), (Lines{"Aktualisiere Berechtigungen zu Key: K1. Versuch-Nr:1!",
                                 "Die Berechtigungen zu Key K1 wurden aktualisiert."}));
    EXPECT_EQ(trace().size(), 1u);
}

TEST_F(PrepareByKeyTest, SecondRowFailingOnceRepeatsTheWholeListAfterAReconnection) {
    for (int n = 1; n <= 3; ++n)
        addRequest("K1", n, "B" + std::to_string(n));
    ASSERT_EQ(ipConfigure("exec 1 1 HY000 3113 ASWNUM = 'B2'"), 0);
    EXPECT_EQ(PrepareByKey("K1"), 3);
    Lines expected = {"Aktualisiere Berechtigungen zu Key: K1. Versuch-Nr:1!",
                      "Fehler SQLOpenTrmAsw() Ausweisnr. B2! Errcode: -1"};
    expected.insert(expected.end(), kReconnection.begin(), kReconnection.end());
    expected.push_back("Aktualisiere Berechtigungen zu Key: K1. Versuch-Nr:2!");
    // B1's access row from the first attempt is already there.
    expected.push_back("Fehler SQLWriteAswBklDnl() Ausweis:B1 BKL:Z1! Errcode: 1");
    expected.push_back("Die Berechtigungen zu Key K1 wurden aktualisiert.");
    EXPECT_EQ(logLines(), expected);
    EXPECT_EQ(badgesOpened(), (Lines{"B1", "B2", "B1", "B2", "B3"}));
    EXPECT_EQ(waits(), (std::vector<long>{10000}));
    EXPECT_EQ(ipOpenStatementHandles(), 0);
}

TEST_F(PrepareByKeyTest, RequestCursorFailuresFailTheAttempt) {
    struct Case {
        const char* rule;
        const char* logLine;
    } const cases[] = {
        {"exec 1 1 42000 900 FROM QVSYSTEM.QvsAswDnl",
         "Fehler SQLOpenQvsAswDnl()! Key: K'1 Errcode: 900"},
        {"fetch 1 1 HY000 none FROM QVSYSTEM.QvsAswDnl", "Fehler SQLFetchQvsAswDnl()! Errcode: -1"},
    };
    addRequest("K'1", 1, "B1");
    addRequest("K'1", 2, "B2");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        ipReset();
        std::remove(LogFiles.path);
        useDbSystem("ORACLE");
        testDbExec("DELETE FROM qvsystem.aswbkldnl");
        ASSERT_EQ(ipConfigure(c.rule), 0);
        EXPECT_EQ(PrepareByKey("K'1"), 2);
        Lines expected = {"Aktualisiere Berechtigungen zu Key: K'1. Versuch-Nr:1!", c.logLine};
        expected.insert(expected.end(), kReconnection.begin(), kReconnection.end());
        expected.push_back("Aktualisiere Berechtigungen zu Key: K'1. Versuch-Nr:2!");
        expected.push_back("Die Berechtigungen zu Key K'1 wurden aktualisiert.");
        EXPECT_EQ(logLines(), expected);
        EXPECT_EQ(ipOpenStatementHandles(), 0);
    }
}

TEST_F(PrepareByKeyTest, FailedReconnectionEndsTheUpdate) {
    addRequest("K1", 1, "B1");
    ASSERT_EQ(ipConfigure("exec 1 1 HY000 4242 ASWNUM = 'B1'\nconnect 1 5 08001 12541"), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(PrepareByKey("K1"), -1);
    testing::internal::GetCapturedStdout();
    Lines lines = logLines();
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines.back(),
              "Die Berechtigungen zu Key K1 konnten auf Grund von DB-Verbindungproblemen nicht "
              "aktualisiert werden!");
    EXPECT_EQ(waits(), (std::vector<long>(5, 60000))) << "no attempt wait without a session";
}

// The key goes into the attempt's messages as text: a longest key with
// conversion characters in it is logged unchanged and uncut.
TEST_F(PrepareByKeyTest, LongestKeyWithPercentSignsIsLoggedAsItIs) {
    const std::string key = "K%s%ld%n-01234";
    ASSERT_EQ(ipConfigure("exec 1 5 HY000 4242 FROM QVSYSTEM.QvsAswDnl"), 0);
    EXPECT_EQ(PrepareByKey(key.c_str()), -1);
    Lines keyLines;
    for (const std::string& line : logLines()) {
        if (line.find("Berechtigungen zu Key") != std::string::npos)
            keyLines.push_back(line);
    }
    ASSERT_EQ(keyLines.size(), 6u);
    EXPECT_EQ(keyLines[0], "Aktualisiere Berechtigungen zu Key: " + key + ". Versuch-Nr:1!");
    EXPECT_EQ(keyLines[4], "Aktualisiere Berechtigungen zu Key: " + key + ". Versuch-Nr:5!");
    EXPECT_EQ(keyLines[5],
              "Die Berechtigungen zu Key " + key + " konnten nicht aktualisiert werden!");
}

TEST_F(PrepareByKeyTest, BadgeListedTwiceIsProcessedTwiceOverItsOwnRows) {
    addRequest("K1", 1, "B1");
    addRequest("K1", 2, "B1");
    EXPECT_EQ(PrepareByKey("K1"), 2);
    EXPECT_EQ(logLines(), (Lines{"Aktualisiere Berechtigungen zu Key: K1. Versuch-Nr:1!",
                                 "Fehler SQLWriteAswBklDnl() Ausweis:B1 BKL:Z1! Errcode: 1",
                                 "Die Berechtigungen zu Key K1 wurden aktualisiert."}));
    EXPECT_EQ(aswBklRows(), (Lines{"T1/B1/Z1"}));
}

TEST_F(PrepareByKeyTest, BadgeNumbersAreTrimmedAndAnEmptyOneMeansEveryBadge) {
    addRequest("K1", 1, "B1  ");
    addRequest("K1", 2, "NULL");
    addRequest("K1", 3, "   ");
    EXPECT_EQ(PrepareByKey("K1"), 3);
    EXPECT_EQ(badgesOpened(), (Lines{"B1", "*", "*"}));
    EXPECT_EQ(aswBklRows(), (Lines{"T1/B1/Z1", "T1/B2/Z1", "T1/B3/Z1", "T1/B4/Z1"}));
    EXPECT_EQ(dnlRowCount(), 4);
}

// A badge number of the full 50 characters is worked on whole, not as its
// 49-character prefix, which here is a badge of its own.
TEST_F(PrepareByKeyTest, BadgeOf50CharactersRewritesExactlyItsOwnRows) {
    const std::string prefix(49, '7');
    for (const std::string& number : {prefix, prefix + "A", prefix + "B"}) {
        TestBadge b;
        b.number = number;
        addBadge(b);
        addBadgeClass(number, "Z1");
    }
    addRequest("K1", 1, prefix + "A");
    EXPECT_EQ(PrepareByKey("K1"), 1);
    EXPECT_EQ(badgesOpened(), (Lines{prefix + "A"}));
    EXPECT_EQ(aswBklRows(), (Lines{"T1/" + prefix + "A/Z1"}));
    EXPECT_EQ(testDbValue("SELECT string_agg(dnlasw, ',') FROM qvsystem.trmaswdnl"), prefix + "A");
}

TEST_F(PrepareByKeyTest, RequestCursorReadsTenColumnsAndTrimsItsTexts) {
    testDbExec(
        "INSERT INTO qvsystem.qvsaswdnl VALUES ('K1 ', 7, 'M1 \t', 'L1\n', 'B1 \r ', 1, 2, 3, 4, "
        "'E1  '), ('K1 ', 8, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)");
    ASSERT_EQ(SQLOpenQvsAswDnl("K1 "), 0);
    QvsAswDnlRow row = {};
    ASSERT_EQ(SQLFetchQvsAswDnl(row), 0);
    EXPECT_EQ(std::string(row.DnlKey) + "|" + row.DnlMnd + "|" + row.DnlLiz + "|" + row.DnlAsw +
                  "|" + row.DnlErf,
              "K1|M1|L1|B1 \r|E1");
    EXPECT_EQ(
        row.DnlLfd * 10000 + row.DnlKze * 1000 + row.DnlKzu * 100 + row.DnlKmp * 10 + row.DnlSta,
        71234);
    ASSERT_EQ(SQLFetchQvsAswDnl(row), 0);
    EXPECT_EQ(std::string(row.DnlMnd) + row.DnlAsw + row.DnlErf, "");
    EXPECT_EQ(row.DnlKze + row.DnlSta, 0);
    EXPECT_EQ(SQLFetchQvsAswDnl(row), 100);
    EXPECT_EQ(row.DnlLfd, 8) << "no row leaves the caller's row alone";
    EXPECT_EQ(SQLCloseQvsAswDnl(), 0);
    EXPECT_EQ(SQLFetchQvsAswDnl(row), -1) << "a closed cursor cannot be read";
    EXPECT_EQ(SQLCloseQvsAswDnl(), 0);
}

}  // namespace
