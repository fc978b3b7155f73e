// The access authorisation builders on the real test database: the full
// build of AswBklDnl with the booking classes of TrmAswDnl, and the build for
// one badge.
#include <string>
#include <vector>

#include "db_fixture.h"
#include "download/access_authorisations.h"
#include "download/terminal_authorisations.h"
#include "trm_asw_data.h"

namespace {

using Lines = std::vector<std::string>;

const char* const kOpenZutAll =
    "SELECT DISTINCT DNLTRM, DNLASW, M35BKL FROM QVSYSTEM.TRMASWDNL, QVSYSTEM.MGSST35P WHERE "
    "DNLTRM = M35TRM AND DNLKZU = 1 AND M35BCH = 0 AND M35BKL IN (SELECT AWBBKL FROM "
    "QVSYSTEM.QVS301AWB WHERE AWBASW = DNLASW) ORDER BY DNLTRM, DNLASW, M35BKL ";
const char* const kOpenZutBadge =
    "SELECT DISTINCT DNLTRM, DNLASW, M35BKL FROM QVSYSTEM.TRMASWDNL, QVSYSTEM.MGSST35P WHERE "
    "DNLTRM = M35TRM AND DNLKZU = 1 AND M35BCH = 0 AND M35BKL IN (SELECT AWBBKL FROM "
    "QVSYSTEM.QVS301AWB WHERE AWBASW = 'NO''BODY' AND AWBASW = DNLASW) ORDER BY DNLTRM, DNLASW, "
    "M35BKL ";
const char* const kOpenDnlZutAll =
    "SELECT DNLTRM, DNLASW, DNLL01, DNLL02, DNLL03, DNLL04, DNLL05, DNLL06, DNLL07, DNLL08, "
    "DNLL09, DNLL10, DNLL11 FROM QVSYSTEM.TRMASWDNL WHERE DNLKZU = 1 ORDER BY DNLTRM, DNLASW";
const char* const kOpenDnlZutBadge =
    "SELECT DNLTRM, DNLASW, DNLL01, DNLL02, DNLL03, DNLL04, DNLL05, DNLL06, DNLL07, DNLL08, "
    "DNLL09, DNLL10, DNLL11 FROM QVSYSTEM.TRMASWDNL WHERE DNLASW = 'NO''BODY' AND DNLKZU = 1 "
    "ORDER BY DNLTRM, DNLASW";

QvsAswDnlRow requestFor(const char* badge) {
    QvsAswDnlRow request = {};
    copyField(request.DnlAsw, badge);
    return request;
}

int buildForB1() {
    return BuildAswBklDnlForBadge(requestFor("B1"));
}

class AccessBuildTest : public DbTest {
  protected:
    // Badge `number` holding `classes`, valid at site S1.
    static void badgeHolding(const char* number, std::initializer_list<const char*> classes) {
        TestBadge b;
        b.number = number;
        addBadge(b);
        for (const char* bookingClass : classes)
            addBadgeClass(number, bookingClass);
    }

    // Builds TrmAswDnl as the first phase does, then starts a fresh trace.
    void buildTerminalRows() {
        ASSERT_EQ(BuildTrmAswDnl(), 1);
        ipReset();
        useDbSystem("ORACLE");
    }

    static int sentContaining(const std::string& part) {
        int count = 0;
        for (const std::string& text : trace())
            count += text.find(part) != std::string::npos;
        return count;
    }
};

TEST_F(AccessBuildTest, EmptyTrmAswDnlEmptiesAswBklDnlAndEndsBothPasses) {
    testDbExec("INSERT INTO qvsystem.aswbkldnl VALUES ('OLD', 'OLD', 'OLD')");
    EXPECT_EQ(BuildAswBklDnl(), 1);
    EXPECT_TRUE(aswBklRows().empty());
    EXPECT_EQ(trace(), (Lines{"DELETE FROM QVSYSTEM.ASWBKLDNL", kOpenZutAll, kOpenDnlZutAll}));
    EXPECT_TRUE(logLines().empty());
}

TEST_F(AccessBuildTest, AccessRowsAndTheSmallestBookingClassPerReader) {
    addSite("S1", "ST1");
    addTerminal("T1");
    addEntry("T1", "Z1", 0, "01");
    addEntry("T1", "Z0", 0, "01");
    addEntry("T1", "Z2", 0, "02", "002");  // another firm: no class for reader 02
    addEntry("T1", "K1", 1, "03");         // time recording only
    addEntry("T1", "ZLONG", 0, "04");      // arrives as ZLO, which reader 04 lacks
    addEntry("T1", "ZLO", 0, "05");
    addTerminal("T2");
    addEntry("T2", "K1", 1, "01");
    badgeHolding("B1", {"Z1", "Z0", "Z2", "K1", "ZLONG", "ZLO"});
    badgeHolding("B2", {"Z1", "K1"});
    badgeHolding("B3", {"K1"});
    buildTerminalRows();

    EXPECT_EQ(BuildAswBklDnl(), 1);
    EXPECT_EQ(aswBklRows(), (Lines{"T1/B1/Z0", "T1/B1/Z1", "T1/B1/Z2", "T1/B1/ZLO", "T1/B2/Z1"}));
    EXPECT_EQ(logLines(), (Lines{"Fehler SQLWriteAswBklDnl() Ausweis:B1 BKL:ZLO! Errcode: 1"}))
        << "the cut duplicate is refused, and B2's row after it still written";
    EXPECT_EQ(dnlBookingClasses("T1", "B1"), "Z0////ZLO//////");
    EXPECT_EQ(dnlBookingClasses("T1", "B2"), "Z1//////////");
    EXPECT_EQ(dnlBookingClasses("T2", "B1"), "//////////") << "no access at T2";
    EXPECT_EQ(sentContaining("SELECT MIN(M35BKL)"), 8) << "four reader slots of two rows";
}

TEST_F(AccessBuildTest, RowWithoutReaderSlotsGetsEmptyClassesWithoutLookup) {
    addSite("S1", "ST1");
    addTerminal("T1");
    addEntry("T1", "Z1", 0, "12");
    badgeHolding("B1", {"Z1"});
    buildTerminalRows();
    testDbExec("UPDATE qvsystem.trmaswdnl SET dnlb01 = 'X', dnlb06 = 'X', dnlb11 = 'X'");

    EXPECT_EQ(BuildAswBklDnl(), 1);
    EXPECT_EQ(aswBklRows(), (Lines{"T1/B1/Z1"}));
    EXPECT_EQ(dnlBookingClasses("T1", "B1"), "//////////");
    EXPECT_EQ(sentContaining("SELECT MIN"), 0);
}

// Terminal T1 with Z1 and Z2 at reader 01 and Z3 at reader 02; B1 holds all
// three, B2 holds Z1.
class AccessSiteTest : public AccessBuildTest {
  protected:
    void SetUp() override {
        AccessBuildTest::SetUp();
        addSite("S1", "ST1");
        addTerminal("T1");
        addEntry("T1", "Z1", 0, "01");
        addEntry("T1", "Z2", 0, "01");
        addEntry("T1", "Z3", 0, "02");
        badgeHolding("B1", {"Z1", "Z2", "Z3"});
        badgeHolding("B2", {"Z1"});
        buildTerminalRows();
    }
};

TEST_F(AccessSiteTest, FailedLookupOfAnEarlierSlotIsNotHiddenByALaterOne) {
    ASSERT_EQ(ipConfigure("fetch 1 1 HY000 4711 M35LES = '01'"), 0);
    EXPECT_EQ(BuildAswBklDnl(), 0);
    EXPECT_EQ(logLines(),
              (Lines{"Fehler SQLReadTrmAswDnlZut() Terminal:T1 Ausweis:B1! Errcode: 4711"}));
    EXPECT_EQ(sentContaining("M35LES = '02'"), 0) << "the later slot is not looked up";
    EXPECT_EQ(sentContaining("UPDATE"), 0);
}

TEST_F(AccessSiteTest, LookupEndingWithoutRowIsLoggedAndTheRowStillUpdated) {
    ASSERT_EQ(ipConfigure("fetch 1 1 02000 100 M35LES = '02'"), 0);
    EXPECT_EQ(BuildAswBklDnl(), 1);
    EXPECT_EQ(logLines(),
              (Lines{"Fehler SQLReadTrmAswDnlZut() Terminal:T1 Ausweis:B1! Errcode: 100"}));
    EXPECT_EQ(dnlBookingClasses("T1", "B1"), "Z1//////////");
    EXPECT_EQ(dnlBookingClasses("T1", "B2"), "Z1//////////");
}

struct FailureCase {
    const char* name;
    int (*build)();
    const char* rule;
    const char* logLine;
    int rowsWritten;  // AswBklDnl rows afterwards
    bool secondPass;  // the second cursor was opened
};

TEST_F(AccessSiteTest, FailuresAreLoggedAndEndTheBuildWithBothCursorsClosed) {
    const FailureCase cases[] = {
        {"delete", BuildAswBklDnl, "exec 1 1 HY000 55 DELETE FROM QVSYSTEM.ASWBKLDNL",
         "Fehler SQLDeleteAswBklDnl()! Errcode: 55", 0, false},
        {"first open", BuildAswBklDnl, "exec 1 1 42000 none SELECT DISTINCT DNLTRM",
         "Fehler SQLOpenZutAswBkl()! Errcode: -1", 0, false},
        {"first read", BuildAswBklDnl, "fetch 2 1 HY000 7 SELECT DISTINCT DNLTRM",
         "Fehler SQLReadZutAswBkl()! Errcode: -1", 1, false},
        {"insert", BuildAswBklDnl, "exec 4 1 HY000 4242 INSERT INTO Qvsystem.AswBklDnl",
         "Fehler SQLWriteAswBklDnl() Ausweis:B2 BKL:Z1! Errcode: 4242", 3, false},
        {"second open", BuildAswBklDnl, "exec 1 1 42000 900 SELECT DNLTRM, DNLASW, DNLL01",
         "Fehler SQLOpenTrmAswDnlZut()! Errcode: 900", 4, true},
        {"second read", BuildAswBklDnl, "fetch 2 1 HY000 7 SELECT DNLTRM, DNLASW, DNLL01",
         "Fehler SQLReadTrmAswDnlZut() Terminal: Ausweis:! Errcode: -1", 4, true},
        {"update", BuildAswBklDnl, "exec 1 1 HY000 4242 UPDATE QVSYSTEM.TRMASWDNL",
         "Fehler SQLUpdateTrmAswDnlBkl() Terminal:T1 Ausweis:B1! Errcode: 4242", 4, true},
        {"badge open", buildForB1, "exec 1 1 42000 900 SELECT DISTINCT DNLTRM",
         "Fehler SQLOpenZutAswBkl() Ausweisnr. B1! Errcode: 900", 0, false},
        {"badge read", buildForB1, "fetch 1 1 HY000 7 SELECT DISTINCT DNLTRM",
         "Fehler SQLReadZutAswBkl() Ausweisnr. B1! Errcode: -1", 0, false},
        {"badge insert", buildForB1, "exec 2 1 HY000 4242 INSERT INTO Qvsystem.AswBklDnl",
         "Fehler SQLWriteAswBklDnl() Ausweis:B1 BKL:Z2! Errcode: 4242", 1, false},
        {"badge second open", buildForB1, "exec 1 1 42000 900 SELECT DNLTRM, DNLASW, DNLL01",
         "Fehler SQLOpenTrmAswDnlZut()! Errcode: 900", 3, true},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        ipReset();
        std::remove(LogFiles.path);
        useDbSystem("ORACLE");
        testDbExec("DELETE FROM qvsystem.aswbkldnl");
        ASSERT_EQ(ipConfigure(c.rule), 0);
        EXPECT_EQ(c.build(), 0);
        EXPECT_EQ(logLines(), (Lines{c.logLine}));
        EXPECT_EQ(aswBklRows().size(), static_cast<std::size_t>(c.rowsWritten));
        EXPECT_EQ(sentContaining("DNLL01") > 0, c.secondPass);
        EXPECT_EQ(ipOpenStatementHandles(), 0);
        EXPECT_TRUE(cursorHandle(CursorSlot::ZutAswBkl) == SQL_NULL_HSTMT);
        EXPECT_TRUE(cursorHandle(CursorSlot::TrmAswDnlZut) == SQL_NULL_HSTMT);
    }
}

// "MYSQL" has no duplicate-key number (-1 in its table): an insert failing
// without a native number must not pass for a tolerated duplicate.
TEST_F(AccessSiteTest, FailureWithoutNativeNumberIsNeverATolerableDuplicate) {
    useDbSystem("MYSQL");
    ASSERT_EQ(dbConnect(Settings.login, Settings.password, Settings.database, Settings.dbSystem),
              0);
    ASSERT_EQ(DbErrorCodes.DuplicateKey, -1);
    ASSERT_EQ(ipConfigure("exec 1 1 HY000 none INSERT INTO Qvsystem.AswBklDnl"), 0);
    EXPECT_EQ(BuildAswBklDnl(), 0);
    EXPECT_EQ(logLines(), (Lines{"Fehler SQLWriteAswBklDnl() Ausweis:B1 BKL:Z1! Errcode: -1"}));
}

// The build for one badge.

TEST_F(AccessSiteTest, BadgeWithoutAccessRowsWritesNothing) {
    EXPECT_EQ(BuildAswBklDnlForBadge(requestFor("NO'BODY")), 1);
    EXPECT_TRUE(aswBklRows().empty());
    EXPECT_EQ(trace(), (Lines{kOpenZutBadge, kOpenDnlZutBadge}));
    EXPECT_TRUE(logLines().empty());
}

TEST_F(AccessSiteTest, BadgeBuiltBeforeLogsEachRefusedInsertAndKeepsItsRemovedClass) {
    ASSERT_EQ(BuildAswBklDnl(), 1);
    ASSERT_EQ(dnlBookingClasses("T1", "B1"), "Z1/Z3/////////");
    testDbExec("DELETE FROM qvsystem.qvs301awb WHERE awbasw = 'B1' AND awbbkl = 'Z1'");
    testDbExec("UPDATE qvsystem.trmaswdnl SET dnlb01 = 'X', dnlb02 = 'X'");
    std::remove(LogFiles.path);

    EXPECT_EQ(buildForB1(), 1);
    EXPECT_EQ(logLines(), (Lines{"Fehler SQLWriteAswBklDnl() Ausweis:B1 BKL:Z2! Errcode: 1",
                                 "Fehler SQLWriteAswBklDnl() Ausweis:B1 BKL:Z3! Errcode: 1"}));
    EXPECT_EQ(aswBklRows(), (Lines{"T1/B1/Z1", "T1/B1/Z2", "T1/B1/Z3", "T1/B2/Z1"}));
    EXPECT_EQ(dnlBookingClasses("T1", "B1"), "Z1/Z3/////////")
        << "the removed Z1 still counts in the minimum";
    EXPECT_EQ(dnlBookingClasses("T1", "B2"), "X/X/////////") << "other badges untouched";
}

TEST_F(AccessSiteTest, EmptyBadgeNumberWorksOverAllBadgesWithoutTheDelete) {
    testDbExec("INSERT INTO qvsystem.aswbkldnl VALUES ('GONE', 'B9', 'Z9')");
    EXPECT_EQ(BuildAswBklDnlForBadge(requestFor("")), 1);
    EXPECT_EQ(aswBklRows(), (Lines{"GONE/B9/Z9", "T1/B1/Z1", "T1/B1/Z2", "T1/B1/Z3", "T1/B2/Z1"}));
    EXPECT_EQ(dnlBookingClasses("T1", "B2"), "Z1//////////");
    ASSERT_FALSE(trace().empty());
    EXPECT_EQ(trace()[0], kOpenZutAll);
    EXPECT_EQ(sentContaining("DELETE"), 0);
}

}  // namespace
