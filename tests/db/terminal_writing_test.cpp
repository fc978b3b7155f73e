// Writing terminal authorisation rows: the insert that adapts to the three
// forms of TrmAswDnl, and update-else-insert.
#include <string>
#include <vector>

#include "db_fixture.h"
#include "trm_asw_data.h"

namespace {

using Lines = std::vector<std::string>;

TrmAswRow makeRow(const char* terminal, const char* badge) {
    TrmAswRow row = {};
    copyField(row.DnlTrm, terminal);
    copyField(row.DnlAsw, badge);
    copyField(row.DnlGvo, "20260101");
    copyField(row.DnlGbi, "00000000");
    copyField(row.DnlSal, "SAL1");
    copyField(row.DnlSa1, "  12:30");
    copyField(row.DnlPin, "9876");
    copyField(row.DnlPnr, "P77");
    copyField(row.DnlNam, "Max Muster");
    copyField(row.slots[0].L, "01");
    row.DnlKze = 1;
    row.DnlAtp = 4;
    return row;
}

// Which insert variants the interposer saw, by their column count.
std::vector<int> insertVariants(const std::vector<std::string>& texts) {
    std::vector<int> variants;
    for (const std::string& text : texts) {
        if (text.rfind("INSERT INTO Qvsystem.TrmAswDnl", 0) != 0)
            continue;
        if (text.find("DnlNam)") != std::string::npos) {
            variants.push_back(40);
        } else if (text.find("DnlPin)") != std::string::npos) {
            variants.push_back(38);
        } else {
            variants.push_back(37);
        }
    }
    return variants;
}

class TerminalWritingTest : public DbTest {
  protected:
    void TearDown() override {
        DbTest::TearDown();
        testDbSetTrmAswDnlColumns(40);
    }
};

TEST_F(TerminalWritingTest, FullTableTakesEveryRowWithAllColumns) {
    EXPECT_EQ(SQLInsertTrmAswDnl(makeRow("T1", "A1")), 0);
    EXPECT_EQ(SQLInsertTrmAswDnl(makeRow("T1", "A2")), 0);
    EXPECT_EQ(insertVariants(trace()), (std::vector<int>{40, 40}));
    EXPECT_EQ(TrmAswDnlHasPnrNam, 1);
    EXPECT_EQ(TrmAswDnlHasPin, 1);
    EXPECT_EQ(dnlValue("T1", "A2", "dnlnam"), "Max Muster");
    EXPECT_EQ(dnlValue("T1", "A2", "dnlsa1"), "  12:30");
    EXPECT_EQ(dnlValue("T1", "A2", "dnll01"), "01");
    EXPECT_EQ(dnlValue("T1", "A2", "dnlkze"), "1");
}

TEST_F(TerminalWritingTest, TableWithoutPersonnelNumberAndNameFallsBackTo38Columns) {
    testDbSetTrmAswDnlColumns(38);
    EXPECT_EQ(SQLInsertTrmAswDnl(makeRow("T1", "A1")), 0);
    EXPECT_EQ(SQLInsertTrmAswDnl(makeRow("T1", "A2")), 0);
    EXPECT_EQ(insertVariants(trace()), (std::vector<int>{40, 38, 38}));
    EXPECT_EQ(TrmAswDnlHasPnrNam, 0);
    EXPECT_EQ(TrmAswDnlHasPin, 1);
    EXPECT_EQ(dnlValue("T1", "A2", "dnlpin"), "9876");
}

TEST_F(TerminalWritingTest, TableWithoutPinFallsBackTo37Columns) {
    testDbSetTrmAswDnlColumns(37);
    EXPECT_EQ(SQLInsertTrmAswDnl(makeRow("T1", "A1")), 0);
    EXPECT_EQ(SQLInsertTrmAswDnl(makeRow("T1", "A2")), 0);
    EXPECT_EQ(insertVariants(trace()), (std::vector<int>{40, 38, 37, 37}));
    EXPECT_EQ(TrmAswDnlHasPnrNam, 0);
    EXPECT_EQ(TrmAswDnlHasPin, 0);
    EXPECT_EQ(dnlRowCount(), 2);
}

TEST_F(TerminalWritingTest, DuplicateRowIsReportedWithoutTryingNarrowerColumns) {
    ASSERT_EQ(SQLInsertTrmAswDnl(makeRow("T1", "A1")), 0);
    EXPECT_EQ(SQLInsertTrmAswDnl(makeRow("T1", "A1")), DbErrorCodes.DuplicateKey);
    EXPECT_EQ(DbErrorCodes.DuplicateKey, 1);
    EXPECT_EQ(insertVariants(trace()), (std::vector<int>{40, 40}));
    EXPECT_EQ(TrmAswDnlHasPnrNam, 1);
    EXPECT_EQ(TrmAswDnlHasPin, 1);
}

TEST_F(TerminalWritingTest, DuplicateWhile38ColumnsAreInUseKeepsThe38Columns) {
    testDbSetTrmAswDnlColumns(38);
    ASSERT_EQ(SQLInsertTrmAswDnl(makeRow("T1", "A1")), 0);
    EXPECT_EQ(SQLInsertTrmAswDnl(makeRow("T1", "A1")), 1);
    EXPECT_EQ(SQLInsertTrmAswDnl(makeRow("T1", "A2")), 0);
    EXPECT_EQ(insertVariants(trace()), (std::vector<int>{40, 38, 38, 38}));
    EXPECT_EQ(TrmAswDnlHasPnrNam, 0);
    EXPECT_EQ(TrmAswDnlHasPin, 1);
}

// A lost link, a time-out or a lock on a wide table must not make this row
// or later ones go in without personnel number and name.
TEST_F(TerminalWritingTest, TransientFailureEndsTheCallAndKeepsAllColumns) {
    struct Case {
        const char* rule;
        int expected;
    } const cases[] = {
        {"exec 1 1 08S01 3113 INSERT INTO Qvsystem.TrmAswDnl", 3113},
        {"exec 1 1 HYT00 0 INSERT INTO Qvsystem.TrmAswDnl", -1},
        {"exec 1 1 08S01 none INSERT INTO Qvsystem.TrmAswDnl", -1},
    };
    for (const Case& c : cases) {
        ipReset();
        ASSERT_EQ(ipConfigure("dbsystem ORACLE"), 0);
        testDbExec("DELETE FROM qvsystem.trmaswdnl");
        ASSERT_EQ(ipConfigure(c.rule), 0);
        EXPECT_EQ(SQLInsertTrmAswDnl(makeRow("T1", "A1")), c.expected) << c.rule;
        EXPECT_EQ(SQLInsertTrmAswDnl(makeRow("T1", "A2")), 0);
        EXPECT_EQ(insertVariants(trace()), (std::vector<int>{40, 40})) << c.rule;
        EXPECT_EQ(TrmAswDnlHasPnrNam, 1);
        EXPECT_EQ(TrmAswDnlHasPin, 1);
        EXPECT_EQ(dnlRowCount(), 1) << "the failed row is not in the table";
        EXPECT_EQ(dnlValue("T1", "A2", "dnlnam"), "Max Muster");
    }
}

TEST_F(TerminalWritingTest, NoFormFitsResetsTheFlagsForTheNextRow) {
    ASSERT_EQ(ipConfigure("exec 1 3 42703 904 INSERT INTO Qvsystem.TrmAswDnl"), 0);
    EXPECT_EQ(SQLInsertTrmAswDnl(makeRow("T1", "A1")), 904);
    EXPECT_EQ(TrmAswDnlHasPnrNam, 1);
    EXPECT_EQ(TrmAswDnlHasPin, 1);
    EXPECT_EQ(SQLInsertTrmAswDnl(makeRow("T1", "A2")), 0);
    EXPECT_EQ(insertVariants(trace()), (std::vector<int>{40, 38, 37, 40}));
}

TEST_F(TerminalWritingTest, NoStatementHandleStopsTheInsertAtOnce) {
    ASSERT_EQ(ipConfigure("alloc 3 1 1"), 0);
    EXPECT_EQ(SQLInsertTrmAswDnl(makeRow("T1", "A1")), -1);
    EXPECT_TRUE(trace().empty());
    EXPECT_EQ(TrmAswDnlHasPnrNam, 1);
}

TEST_F(TerminalWritingTest, WriteInsertsAMissingRowAndUpdatesAnExistingOne) {
    TrmAswRow row = makeRow("T1", "A1");
    EXPECT_EQ(WriteTrmAswDnl(row), 0);
    EXPECT_EQ(dnlRowCount(), 1);

    testDbExec("UPDATE qvsystem.trmaswdnl SET dnlb01 = 'B7', dnlb05 = 'B9'");
    copyField(row.DnlNam, "Erika Muster");
    copyField(row.slots[2].L, "03");
    EXPECT_EQ(WriteTrmAswDnl(row), 0);
    EXPECT_EQ(dnlRowCount(), 1);
    EXPECT_EQ(dnlValue("T1", "A1", "dnlnam"), "Erika Muster");
    EXPECT_EQ(dnlValue("T1", "A1", "dnll03"), "03");
    EXPECT_EQ(dnlValue("T1", "A1", "dnlb01"), "") << "booking classes are emptied by the update";
    EXPECT_EQ(dnlValue("T1", "A1", "dnlb05"), "");
    EXPECT_EQ(insertVariants(trace()), (std::vector<int>{40})) << "the second write is an update";
    EXPECT_TRUE(logLines().empty());
}

TEST_F(TerminalWritingTest, DriverReportingSuccessForAnUpdateWithoutRowStillLeadsToTheInsert) {
    ASSERT_EQ(ipConfigure("nodata-as-success 1 1 UPDATE Qvsystem.TrmAswDnl"), 0);
    EXPECT_EQ(SQLUpdateTrmAswDnl(makeRow("T1", "A1")), 100) << "told by the row count";
    ASSERT_EQ(ipConfigure("nodata-as-success 1 1 UPDATE Qvsystem.TrmAswDnl"), 0);
    EXPECT_EQ(WriteTrmAswDnl(makeRow("T1", "A1")), 0);
    EXPECT_EQ(dnlRowCount(), 1);
}

TEST_F(TerminalWritingTest, UpdateFailingOnTheNarrowTableIsLogged) {
    testDbSetTrmAswDnlColumns(38);
    int rc = WriteTrmAswDnl(makeRow("T1", "A'1"));
    EXPECT_EQ(rc, 904) << "an unknown column under ORACLE";
    EXPECT_EQ(logLines(),
              (Lines{"Fehler SQLUpdateTrmAswDnl() Terminal:T1 Ausweis:A'1! Errcode: 904"}));
    EXPECT_EQ(dnlRowCount(), 0) << "a failed update is not followed by an insert";
}

TEST_F(TerminalWritingTest, FailedInsertAfterAMissingRowIsLogged) {
    ASSERT_EQ(ipConfigure("exec 1 3 HY000 4242 INSERT INTO Qvsystem.TrmAswDnl"), 0);
    EXPECT_EQ(WriteTrmAswDnl(makeRow("T1", "A1")), 4242);
    EXPECT_EQ(logLines(),
              (Lines{"Fehler SQLInsertTrmAswDnl() Terminal:T1 Ausweis:A1! Errcode: 4242"}));
}

}  // namespace
