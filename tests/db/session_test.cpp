// The database session on the real test server: connect, refusals,
// diagnostics and reconnection.
#include <string>
#include <vector>

#include "db_fixture.h"

namespace {

using Lines = std::vector<std::string>;

using SessionTest = DbTest;

int openConnectionStillWorks() {
    return execNonQuery("DELETE FROM QVSYSTEM.ASWBKLDNL", {}, FailureMapping::NativeOrMinusOne);
}

TEST_F(SessionTest, ConnectsAndRunsStatements) {
    EXPECT_TRUE(dbConnection != SQL_NULL_HDBC);
    EXPECT_EQ(openConnectionStillWorks(), 0);
    EXPECT_EQ(DbErrorCodes.DuplicateKey, 1);
    EXPECT_EQ(DbErrorCodes.InvalidColumn, 904);
    EXPECT_EQ(DbErrorCodes.TableNotFound, 942);
    EXPECT_EQ(DbErrorCodes.Reserved, 10001);
}

TEST_F(SessionTest, DbErrorCodesFollowTheDbSystem) {
    ASSERT_EQ(dbConnect(Settings.login, Settings.password, Settings.database, "MSSQL"), 0);
    EXPECT_EQ(DbErrorCodes.NotFound, 100);
    EXPECT_EQ(DbErrorCodes.DuplicateKey, 2627);
    EXPECT_EQ(DbErrorCodes.InvalidColumn, 207);
    EXPECT_EQ(DbErrorCodes.TableNotFound, 208);
    EXPECT_EQ(DbErrorCodes.Reserved, -1);
    ASSERT_EQ(dbConnect(Settings.login, Settings.password, Settings.database, "MYSQL"), 0);
    EXPECT_EQ(DbErrorCodes.NotFound, 100);
    EXPECT_EQ(DbErrorCodes.DuplicateKey, -1);
    EXPECT_EQ(DbErrorCodes.InvalidColumn, -1);
    EXPECT_EQ(DbErrorCodes.TableNotFound, -1);
    EXPECT_EQ(DbErrorCodes.Reserved, -1);
}

TEST_F(SessionTest, WrongPasswordIsReportedWithTheDriverDiagnostic) {
    testing::internal::CaptureStdout();
    int rc = dbConnect(Settings.login, "not-the-password", Settings.database, "ORACLE");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, -1);
    EXPECT_STREQ(LastDiag.SqlState, "08001");
    EXPECT_NE(std::string(LastDiag.MessageText).find("password"), std::string::npos)
        << LastDiag.MessageText;
    std::string expected = "Connect Error: SQLCode: " + std::to_string(LastDiag.NativeError) +
                           " sqlState: 08001 Msg: " + LastDiag.MessageText + "\n";
    EXPECT_EQ(out, expected);
    EXPECT_EQ(out.find("not-the-password"), std::string::npos);
}

TEST_F(SessionTest, UnsupportedDbSystemsAreRefusedWithoutTouchingTheSession) {
    for (const char* system : {"oracle", "MSSQL ", "", "POSTGRES"}) {
        DbErrorCodes.DuplicateKey = 12345;
        testing::internal::CaptureStdout();
        int rc = dbConnect(Settings.login, Settings.password, Settings.database, system);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(rc, -1) << "[" << system << "]";
        EXPECT_EQ(out, std::string("DBSystem: ") + system + "\n");
        EXPECT_EQ(DbErrorCodes.DuplicateKey, 12345) << "codes must stay untouched";
        EXPECT_EQ(openConnectionStillWorks(), 0) << "the open session must stay usable";
    }
}

TEST_F(SessionTest, GetDiagWithoutARecordLeavesZeroAndEmptyTexts) {
    LastDiag.NativeError = 77;
    copyField(LastDiag.SqlState, "XXXXX");
    dbGetDiag(SQL_HANDLE_DBC, dbConnection);
    EXPECT_EQ(LastDiag.NativeError, 0);
    EXPECT_STREQ(LastDiag.SqlState, "");
    EXPECT_STREQ(LastDiag.MessageText, "");
}

TEST_F(SessionTest, AllocationFailuresEndTheConnectQuietly) {
    ASSERT_EQ(ipConfigure("alloc 1 1 1"), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(dbConnect(Settings.login, Settings.password, Settings.database, "ORACLE"), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_EQ(ipConfigure("alloc 2 1 1"), 0);
    EXPECT_EQ(dbConnect(Settings.login, Settings.password, Settings.database, "ORACLE"), -1);
    EXPECT_EQ(dbConnect(Settings.login, Settings.password, Settings.database, "ORACLE"), 0);
}

TEST_F(SessionTest, ReconnectSucceedingAtTheThirdAttempt) {
    ASSERT_EQ(ipConfigure("connect 1 2 08001 12541"), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(dbReconnect(), 1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(logLines(), (Lines{
                              "Versuch Nr. 1 zur Wiederherstellung der Datenbankverbindung!",
                              "Fehler dbConnect(dbReconnect)! Errcode: -1 Versuch-Nr.: 1",
                              "Versuch Nr. 2 zur Wiederherstellung der Datenbankverbindung!",
                              "Fehler dbConnect(dbReconnect)! Errcode: -1 Versuch-Nr.: 2",
                              "Versuch Nr. 3 zur Wiederherstellung der Datenbankverbindung!",
                              "Die Verbindung zur Datenbank wurde wiederhergestellt!",
                          }));
    EXPECT_EQ(waits(), (std::vector<long>{60000, 60000}));
    EXPECT_NE(out.find("Connect Error: SQLCode: 12541 sqlState: 08001"), std::string::npos) << out;
    EXPECT_EQ(openConnectionStillWorks(), 0);
}

TEST_F(SessionTest, ReconnectGivesUpAfterFiveAttemptsWithAWaitAfterEach) {
    ASSERT_EQ(ipConfigure("connect 1 5 08001 12541"), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(dbReconnect(), 0);
    testing::internal::GetCapturedStdout();
    Lines lines = logLines();
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[8], "Versuch Nr. 5 zur Wiederherstellung der Datenbankverbindung!");
    EXPECT_EQ(lines[9], "Fehler dbConnect(dbReconnect)! Errcode: -1 Versuch-Nr.: 5");
    EXPECT_EQ(waits(), (std::vector<long>(5, 60000)));
}

TEST_F(SessionTest, ServerRestartedUnderAnOpenSessionIsRecoveredByReconnect) {
    testDbServerStop();
    EXPECT_NE(openConnectionStillWorks(), 0);
    testDbServerStart();
    EXPECT_EQ(dbReconnect(), 1);
    EXPECT_EQ(openConnectionStillWorks(), 0);
    EXPECT_EQ(logLines().back(), "Die Verbindung zur Datenbank wurde wiederhergestellt!");
}

}  // namespace
