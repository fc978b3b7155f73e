// The three statement shapes and their result codes on the real test server,
// with failures injected through the interposer where a healthy server never
// fails.
#include <string>
#include <vector>

#include "db_fixture.h"

namespace {

using StatementTest = DbTest;

const char* const kInsert =
    "INSERT INTO Qvsystem.AswBklDnl (DnlTrm, DnlAsw, DnlBkl) VALUES ('%s', '%s', '%s') ";
const char* const kSelectOne = "SELECT DnlAsw, DnlBkl FROM QVSYSTEM.ASWBKLDNL WHERE DnlTrm = '%s'";
const char* const kSelectAll = "SELECT DnlTrm, DnlAsw FROM QVSYSTEM.ASWBKLDNL ORDER BY DnlTrm";

int insertRow(const char* terminal, const char* badge, const char* bookingClass) {
    return execNonQuery(kInsert, {sqlText(terminal), sqlText(badge), sqlText(bookingClass)},
                        FailureMapping::NativeOrMinusOne);
}

struct Pair {
    char first[51];
    char second[4];
};

int readOne(const char* terminal, Pair& pair) {
    Pair local = {};
    int rc = queryRow(kSelectOne, {sqlText(terminal)}, FailureMapping::Native,
                      {textColumn(local.first), textColumn(local.second)});
    if (rc == 0)
        pair = local;
    return rc;
}

TEST_F(StatementTest, NonQuerySingleRowAndCursorShapes) {
    EXPECT_EQ(insertRow("T1", "A1", "B1"), 0);
    EXPECT_EQ(insertRow("T2", "A2", "B2"), 0);
    Pair pair = {};
    EXPECT_EQ(readOne("T2", pair), 0);
    EXPECT_STREQ(pair.first, "A2");
    EXPECT_STREQ(pair.second, "B2");
    EXPECT_EQ(readOne("T9", pair), 100);
    EXPECT_STREQ(pair.first, "A2") << "no row leaves the caller's record alone";

    ASSERT_EQ(cursorOpen(CursorSlot::ZutAswBkl, kSelectAll, {}, FailureMapping::NativeOrMinusOne),
              0);
    char terminal[256] = {};
    char badge[51] = {};
    EXPECT_EQ(cursorFetch(CursorSlot::ZutAswBkl, {textColumn(terminal), textColumn(badge)}), 0);
    EXPECT_STREQ(terminal, "T1");
    EXPECT_EQ(cursorFetch(CursorSlot::ZutAswBkl, {textColumn(terminal), textColumn(badge)}), 0);
    EXPECT_STREQ(badge, "A2");
    EXPECT_EQ(cursorFetch(CursorSlot::ZutAswBkl, {textColumn(terminal), textColumn(badge)}), 100);
    EXPECT_EQ(cursorFetch(CursorSlot::ZutAswBkl, {textColumn(terminal), textColumn(badge)}), 100)
        << "the cursor stays open after its end until closed";
    EXPECT_EQ(cursorClose(CursorSlot::ZutAswBkl), 0);
    EXPECT_EQ(cursorClose(CursorSlot::ZutAswBkl), 0) << "closing a closed cursor does nothing";
    EXPECT_EQ(ipOpenStatementHandles(), 0);
}

TEST_F(StatementTest, DeleteAllOnAnEmptyTableSucceeds) {
    EXPECT_EQ(execNonQuery("DELETE FROM QVSYSTEM.ASWBKLDNL", {}, FailureMapping::Native), 0);
}

TEST_F(StatementTest, UpdateWithoutRowIsNoDataOnlyWhereAsked) {
    const char* update = "UPDATE QVSYSTEM.ASWBKLDNL SET DnlBkl = '%s' WHERE DnlTrm = '%s'";
    EXPECT_EQ(execNonQuery(update, {sqlText("X"), sqlText("none")},
                           FailureMapping::NativeOrMinusOne, NoRowsResult::NoData),
              100);
    EXPECT_EQ(
        execNonQuery(update, {sqlText("X"), sqlText("none")}, FailureMapping::NativeOrMinusOne), 0);
    ASSERT_EQ(insertRow("T1", "A1", "B1"), 0);
    EXPECT_EQ(execNonQuery(update, {sqlText("X"), sqlText("T1")}, FailureMapping::NativeOrMinusOne,
                           NoRowsResult::NoData),
              0);
}

struct MappingCase {
    const char* native;  // as scripted: a number or "none"
    FailureMapping mapping;
    int expected;
};

TEST_F(StatementTest, FailedExecutionsFollowTheirMapping) {
    const MappingCase cases[] = {
        {"4711", FailureMapping::Native, 4711},
        {"0", FailureMapping::Native, -1},
        {"none", FailureMapping::Native, -1},
        {"4711", FailureMapping::NativeOrMinusOne, 4711},
        {"0", FailureMapping::NativeOrMinusOne, -1},
        {"none", FailureMapping::NativeOrMinusOne, -1},
        {"4711", FailureMapping::MinusOne, -1},
    };
    for (const MappingCase& c : cases) {
        ipReset();
        ASSERT_EQ(ipConfigure((std::string("exec 1 3 42000 ") + c.native + " DnlTrm").c_str()), 0);
        EXPECT_EQ(execNonQuery(kInsert, {sqlText("T"), sqlText("A"), sqlText("B")}, c.mapping),
                  c.expected)
            << "native " << c.native;
        EXPECT_EQ(queryRow(kSelectOne, {sqlText("T")}, c.mapping, {}), c.expected);
        EXPECT_EQ(cursorOpen(CursorSlot::ZutAswBkl, kSelectAll, {}, c.mapping), c.expected);
        EXPECT_TRUE(cursorHandle(CursorSlot::ZutAswBkl) == SQL_NULL_HSTMT)
            << "a failed open leaves no cursor";
        EXPECT_EQ(ipOpenStatementHandles(), 0);
    }
    EXPECT_STREQ(LastDiag.SqlState, "42000") << "the diagnostic is fetched under every mapping";
    EXPECT_EQ(LastDiag.NativeError, 4711);
}

TEST_F(StatementTest, FetchFailures) {
    ASSERT_EQ(insertRow("T1", "A1", "B1"), 0);
    ASSERT_EQ(ipConfigure("fetch 1 2 HY000 815 ASWBKLDNL"), 0);
    Pair pair = {};
    EXPECT_EQ(readOne("T1", pair), 815) << "a single-row fetch failure gives its native number";
    ASSERT_EQ(cursorOpen(CursorSlot::ZutAswBkl, kSelectAll, {}, FailureMapping::NativeOrMinusOne),
              0);
    LastDiag.NativeError = 0;
    char terminal[256] = {};
    EXPECT_EQ(cursorFetch(CursorSlot::ZutAswBkl, {textColumn(terminal)}), -1);
    EXPECT_EQ(LastDiag.NativeError, 0) << "a cursor read takes no diagnostic";
    EXPECT_EQ(cursorFetch(CursorSlot::ZutAswBkl, {textColumn(terminal)}), 0)
        << "the cursor stays open after a failed read";
    EXPECT_STREQ(terminal, "T1");
}

TEST_F(StatementTest, FetchFailureWithoutNativeNumberIsNeverSuccess) {
    ASSERT_EQ(insertRow("T1", "A1", "B1"), 0);
    ASSERT_EQ(ipConfigure("fetch 1 1 HY000 none ASWBKLDNL"), 0);
    Pair pair = {};
    EXPECT_EQ(readOne("T1", pair), -1);
}

TEST_F(StatementTest, ReadingACursorThatIsNotOpen) {
    char terminal[256] = "unchanged";
    EXPECT_EQ(cursorFetch(CursorSlot::TrmAsw, {textColumn(terminal)}), -1);
    ASSERT_EQ(ipConfigure("exec 1 1 42P01 942 ASWBKLDNL"), 0);
    EXPECT_NE(cursorOpen(CursorSlot::TrmAsw, kSelectAll, {}, FailureMapping::MinusOne), 0);
    EXPECT_EQ(cursorFetch(CursorSlot::TrmAsw, {textColumn(terminal)}), -1);
    EXPECT_STREQ(terminal, "unchanged");
}

TEST_F(StatementTest, HandleAllocationFailureExecutesNothing) {
    ASSERT_EQ(ipConfigure("alloc 3 1 3"), 0);
    EXPECT_EQ(insertRow("T1", "A1", "B1"), -1);
    EXPECT_EQ(queryRow(kSelectOne, {sqlText("T1")}, FailureMapping::Native, {}), -1);
    EXPECT_EQ(cursorOpen(CursorSlot::ZutAswBkl, kSelectAll, {}, FailureMapping::Native), -1);
    EXPECT_TRUE(trace().empty());
    EXPECT_EQ(testDbQuery("SELECT count(*) FROM qvsystem.aswbkldnl")[0][0], "0");
}

TEST_F(StatementTest, NullColumnsDeliverEmptyTextAndZero) {
    testDbExec("INSERT INTO qvsystem.qvs301asw (aswnum, aswnam, aswatp) VALUES ('N1', NULL, NULL)");
    char name[51] = "old";
    int32_t number = 99;
    char local[51] = {};
    int32_t localNumber = 0;
    ASSERT_EQ(queryRow("SELECT ASWNAM, ASWATP FROM QVSYSTEM.QVS301ASW WHERE ASWNUM = '%s'",
                       {sqlText("N1")}, FailureMapping::Native,
                       {textColumn(local), intColumn(localNumber)}),
              0);
    copyField(name, local);
    number = localNumber;
    EXPECT_STREQ(name, "");
    EXPECT_EQ(number, 0);
}

TEST_F(StatementTest, ValuesLongerThanTheirFieldArriveCut) {
    std::string longName(80, 'x');
    ASSERT_EQ(insertRow("T1", longName.c_str(), "B1"), 0);
    Pair pair = {};
    ASSERT_EQ(readOne("T1", pair), 0);
    EXPECT_EQ(std::string(pair.first), std::string(50, 'x'));
}

TEST_F(StatementTest, QuotesAndBackslashesRoundTripUnchanged) {
    const char* values[] = {"O'Neil", "''", "a\\b", "\\'",
                            "x'); DELETE FROM qvsystem.aswbkldnl; --"};
    int n = 0;
    for (const char* value : values) {
        std::string terminal = "T" + std::to_string(n++);
        ASSERT_EQ(insertRow(terminal.c_str(), value, "B"), 0) << value;
        Pair pair = {};
        ASSERT_EQ(readOne(terminal.c_str(), pair), 0);
        EXPECT_STREQ(pair.first, value);
    }
    EXPECT_EQ(testDbQuery("SELECT count(*) FROM qvsystem.aswbkldnl")[0][0], "5");
}

TEST_F(StatementTest, TwoCursorsStayOpenWhileOtherStatementsRun) {
    for (int i = 0; i < 3; ++i) {
        std::string terminal = "T" + std::to_string(i);
        ASSERT_EQ(insertRow(terminal.c_str(), "A", "B"), 0);
    }
    ASSERT_EQ(cursorOpen(CursorSlot::ZutAswBkl, kSelectAll, {}, FailureMapping::Native), 0);
    ASSERT_EQ(cursorOpen(CursorSlot::TrmAswDnlZut, kSelectAll, {}, FailureMapping::Native), 0);
    char a[256] = {};
    char b[256] = {};
    int rowsA = 0;
    int rowsB = 0;
    while (cursorFetch(CursorSlot::ZutAswBkl, {textColumn(a)}) == 0) {
        ++rowsA;
        ASSERT_EQ(cursorFetch(CursorSlot::TrmAswDnlZut, {textColumn(b)}), 0);
        ++rowsB;
        EXPECT_STREQ(a, b);
        EXPECT_EQ(insertRow((std::string("new") + a).c_str(), "A", "B"), 0);
    }
    EXPECT_EQ(rowsA, 3);
    EXPECT_EQ(rowsB, 3);
    EXPECT_EQ(testDbQuery("SELECT count(*) FROM qvsystem.aswbkldnl")[0][0], "6");
}

TEST_F(StatementTest, TextLongerThanTheBufferIsNeverSentAndNeverSucceeds) {
    std::string huge(kStatementBufferSize, 'x');
    EXPECT_EQ(execNonQuery(kInsert, {sqlText("T"), sqlText(huge.c_str()), sqlText("B")},
                           FailureMapping::Native),
              -1);
    EXPECT_EQ(queryRow(kSelectOne, {sqlText(huge.c_str())}, FailureMapping::Native, {}), -1);
    EXPECT_FALSE(execStatement(kInsert, {sqlText(huge.c_str()), sqlText("A"), sqlText("B")}).sent);
    EXPECT_TRUE(trace().empty());
    EXPECT_EQ(ipOpenStatementHandles(), 0);
}

TEST_F(StatementTest, NoTextForTheDbSystemSendsNothing) {
    EXPECT_EQ(execNonQuery(nullptr, {}, FailureMapping::Native), -1);
    EXPECT_EQ(cursorOpen(CursorSlot::TrmAsw, nullptr, {}, FailureMapping::MinusOne), -1);
    EXPECT_TRUE(trace().empty());
    EXPECT_EQ(ipOpenStatementHandles(), 0);
}

}  // namespace
