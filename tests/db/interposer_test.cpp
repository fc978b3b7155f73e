// The test harness itself: the interposer linked into this process forwards
// to the real driver manager and server, maps native numbers, injects the
// scripted faults and records statements and waits; the test server has the
// tables and the stand-ins for Oracle functions; the preloaded interposer
// works in the real binary. Raw ODBC calls only, so that these tests do not
// rest on the program's own database layer.
#include <gtest/gtest.h>
#include <poll.h>
#include <sql.h>
#include <sqlext.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "odbc_interposer.h"
#include "runner.h"
#include "testdb.h"

namespace {

using Texts = std::vector<std::string>;

SQLCHAR* sqlChars(const char* text) {
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

struct Diagnostic {
    SQLRETURN rc = SQL_NO_DATA;
    std::string sqlState;
    SQLINTEGER native = 0;
    std::string message;
};

Diagnostic diagnostic(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record = 1) {
    Diagnostic d;
    SQLCHAR state[6] = {0};
    SQLCHAR message[512] = {0};
    SQLSMALLINT length = 0;
    d.rc = SQLGetDiagRec(type, handle, record, state, &d.native, message, sizeof message, &length);
    d.sqlState = reinterpret_cast<char*>(state);
    d.message = reinterpret_cast<char*>(message);
    return d;
}

// A raw ODBC connection to the test DSN, made and ended through the
// interposer.
class InterposerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ipReset();
        testDbClearTables();
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_SUCCESS);
        ASSERT_EQ(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION,
                                reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
                  SQL_SUCCESS);
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_SUCCESS);
        ASSERT_TRUE(SQL_SUCCEEDED(connect(dbc_))) << diagnostic(SQL_HANDLE_DBC, dbc_).message;
        openBefore_ = ipOpenStatementHandles();
    }

    void TearDown() override {
        EXPECT_EQ(ipOpenStatementHandles(), openBefore_) << "a statement handle was left";
        if (dbc_ != SQL_NULL_HANDLE) {
            SQLDisconnect(dbc_);
            SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        }
        if (env_ != SQL_NULL_HANDLE)
            SQLFreeHandle(SQL_HANDLE_ENV, env_);
    }

    static SQLRETURN connect(SQLHDBC dbc) {
        return SQLConnect(dbc, sqlChars(kTestDbDsn), SQL_NTS, sqlChars(kTestDbUser), SQL_NTS,
                          sqlChars(kTestDbPassword), SQL_NTS);
    }

    SQLHSTMT newStatement() {
        SQLHSTMT stmt = SQL_NULL_HANDLE;
        EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt), SQL_SUCCESS);
        return stmt;
    }

    // Executes `sql` on a statement of its own; the result code and the first
    // diagnostic record (rc SQL_NO_DATA when there is none).
    Diagnostic execute(const char* sql, SQLRETURN* rc) {
        SQLHSTMT stmt = newStatement();
        *rc = SQLExecDirect(stmt, sqlChars(sql), SQL_NTS);
        Diagnostic d = diagnostic(SQL_HANDLE_STMT, stmt);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return d;
    }

    // The texts of the first column of every row of `sql`, read through ODBC.
    Texts column(const char* sql) {
        Texts texts;
        SQLHSTMT stmt = newStatement();
        SQLRETURN rc = SQLExecDirect(stmt, sqlChars(sql), SQL_NTS);
        EXPECT_TRUE(SQL_SUCCEEDED(rc)) << diagnostic(SQL_HANDLE_STMT, stmt).message;
        char value[256];
        SQLLEN indicator = 0;
        SQLBindCol(stmt, 1, SQL_C_CHAR, value, sizeof value, &indicator);
        while (SQL_SUCCEEDED(SQLFetch(stmt)))
            texts.emplace_back(indicator == SQL_NULL_DATA ? kTestDbNull : value);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return texts;
    }

    SQLHENV env_ = SQL_NULL_HANDLE;
    SQLHDBC dbc_ = SQL_NULL_HANDLE;
    int openBefore_ = 0;
};

// --- Forwarding and the statement trace ---

TEST_F(InterposerTest, StatementsReachTheServerAndAreTracedOnceInOrder) {
    const char* insert = "INSERT INTO qvsystem.qvs301awb (awbasw, awbbkl) VALUES ('4711', 'Z1')";
    const char* select = "SELECT awbbkl FROM qvsystem.qvs301awb WHERE awbasw = '4711'";
    SQLRETURN rc;
    execute(insert, &rc);
    EXPECT_EQ(rc, SQL_SUCCESS);
    EXPECT_EQ(testDbQuery("SELECT awbasw, awbbkl FROM qvsystem.qvs301awb"),
              (std::vector<Texts>{{"4711", "Z1"}}));
    EXPECT_EQ(column(select), Texts{"Z1"});
    // Each text once: the driver manager called the driver, not this
    // interposer a second time. Setup through libpq is not traced.
    EXPECT_EQ(ipTrace(), (Texts{insert, select}));
}

TEST_F(InterposerTest, OpenStatementHandlesAreCounted) {
    SQLHSTMT first = newStatement();
    SQLHSTMT second = newStatement();
    EXPECT_EQ(ipOpenStatementHandles(), openBefore_ + 2);
    SQLFreeHandle(SQL_HANDLE_STMT, first);
    EXPECT_EQ(ipOpenStatementHandles(), openBefore_ + 1);
    SQLFreeHandle(SQL_HANDLE_STMT, second);
    EXPECT_EQ(ipOpenStatementHandles(), openBefore_);
}

// --- Native numbers by DB system ---

struct NativeCase {
    const char* sql;
    const char* sqlState;
    SQLINTEGER oracle;
    SQLINTEGER mssql;
};

TEST_F(InterposerTest, ServerErrorsGetTheNativeNumbersOfTheDbSystem) {
    testDbExec(
        "INSERT INTO qvsystem.aswbkldnl (dnltrm, dnlasw, dnlbkl) VALUES ('T1', '4711', 'Z1')");
    const NativeCase cases[] = {
        {"INSERT INTO qvsystem.aswbkldnl (dnltrm, dnlasw, dnlbkl) VALUES ('T1', '4711', 'Z1')",
         "23505", 1, 2627},
        {"SELECT nocolumn FROM qvsystem.aswbkldnl", "42703", 904, 207},
        {"SELECT * FROM qvsystem.notable", "42P01", 942, 208},
        {"SELEKT 1", "42601", 900, 102},
        {"SELECT 1 / 0", "22012", 20000, 50000},
    };
    for (const NativeCase& c : cases) {
        for (const char* system : {"ORACLE", "MSSQL", "MYSQL", ""}) {
            ipReset();
            if (*system != '\0') {
                ASSERT_EQ(ipConfigure((std::string("dbsystem ") + system).c_str()), 0);
            }
            SQLRETURN rc;
            Diagnostic d = execute(c.sql, &rc);
            std::string name = std::string(c.sql) + " under '" + system + "'";
            EXPECT_EQ(rc, SQL_ERROR) << name;
            EXPECT_EQ(d.sqlState, c.sqlState) << name;
            // The server itself reports 1 for every error.
            SQLINTEGER expected = std::string(system) == "ORACLE"  ? c.oracle
                                  : std::string(system) == "MSSQL" ? c.mssql
                                                                   : 1;
            EXPECT_EQ(d.native, expected) << name;
        }
    }
}

TEST_F(InterposerTest, LostServerAndRefusedConnectionGetTheirNativeNumbers) {
    ASSERT_EQ(ipConfigure("dbsystem MSSQL"), 0);
    testDbServerStop();
    SQLRETURN rc;
    Diagnostic lost = execute("SELECT 1", &rc);
    EXPECT_EQ(rc, SQL_ERROR);
    EXPECT_TRUE(lost.sqlState == "57P01" || lost.sqlState == "08S01" || lost.sqlState == "08006")
        << lost.sqlState;
    EXPECT_EQ(lost.native, 10054);

    ipReset();
    ASSERT_EQ(ipConfigure("dbsystem ORACLE"), 0);
    SQLHDBC other = SQL_NULL_HANDLE;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &other), SQL_SUCCESS);
    EXPECT_EQ(connect(other), SQL_ERROR);
    Diagnostic refused = diagnostic(SQL_HANDLE_DBC, other);
    EXPECT_EQ(refused.sqlState, "08001");
    EXPECT_EQ(refused.native, 12541);

    testDbServerStart();
    EXPECT_TRUE(SQL_SUCCEEDED(connect(other))) << diagnostic(SQL_HANDLE_DBC, other).message;
    SQLDisconnect(other);
    SQLFreeHandle(SQL_HANDLE_DBC, other);
    // The fixture's own connection died with the server: make a new one.
    SQLDisconnect(dbc_);
    ASSERT_TRUE(SQL_SUCCEEDED(connect(dbc_)));
    EXPECT_EQ(column("SELECT 7"), Texts{"7"});
}

// --- Scripted faults ---

TEST_F(InterposerTest, InjectedExecFailureWithoutDiagnosticIsNotSentButTraced) {
    ASSERT_EQ(ipConfigure("dbsystem ORACLE\nexec 1 1 HY000 none INTO qvsystem.qvs301awb"), 0);
    const char* insert = "INSERT INTO qvsystem.qvs301awb (awbasw, awbbkl) VALUES ('1', 'A')";
    SQLRETURN rc;
    Diagnostic d = execute(insert, &rc);
    EXPECT_EQ(rc, SQL_ERROR);
    EXPECT_EQ(d.rc, SQL_NO_DATA);
    EXPECT_EQ(testDbValue("SELECT count(*) FROM qvsystem.qvs301awb"), "0");
    EXPECT_EQ(ipTrace(), Texts{insert});
    // COUNT 1: the next matching statement goes through.
    execute(insert, &rc);
    EXPECT_EQ(rc, SQL_SUCCESS);
    EXPECT_EQ(testDbValue("SELECT count(*) FROM qvsystem.qvs301awb"), "1");
}

TEST_F(InterposerTest, InjectedDiagnosticIsScriptedUnmappedAndClearedByTheNextCall) {
    ASSERT_EQ(ipConfigure("dbsystem ORACLE\nexec 1 1 42S02 4242 SELECT 'with blanks'"), 0);
    SQLHSTMT stmt = newStatement();
    EXPECT_EQ(SQLExecDirect(stmt, sqlChars("SELECT 'with blanks'"), SQL_NTS), SQL_ERROR);
    Diagnostic d = diagnostic(SQL_HANDLE_STMT, stmt);
    EXPECT_EQ(d.rc, SQL_SUCCESS);
    EXPECT_EQ(d.sqlState, "42S02");
    EXPECT_EQ(d.native, 4242);
    EXPECT_NE(d.message.find("injected fault"), std::string::npos) << d.message;
    EXPECT_EQ(diagnostic(SQL_HANDLE_STMT, stmt).native, 4242) << "reading keeps it";
    EXPECT_EQ(diagnostic(SQL_HANDLE_STMT, stmt, 2).rc, SQL_NO_DATA);

    EXPECT_EQ(SQLExecDirect(stmt, sqlChars("SELECT 'with blanks'"), SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(diagnostic(SQL_HANDLE_STMT, stmt).rc, SQL_NO_DATA);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

TEST_F(InterposerTest, FromAndCountCountOnlyMatchingCalls) {
    ASSERT_EQ(ipConfigure("exec 2 2 HY000 7 'MARK'"), 0);
    const char* marked = "SELECT 'MARK'";
    std::vector<SQLRETURN> results;
    for (const char* sql : {marked, "SELECT 1", "SELECT 'mark'", marked, marked, marked}) {
        SQLRETURN rc;
        execute(sql, &rc);
        results.push_back(rc);
    }
    EXPECT_EQ(results, (std::vector<SQLRETURN>{SQL_SUCCESS, SQL_SUCCESS, SQL_SUCCESS, SQL_ERROR,
                                               SQL_ERROR, SQL_SUCCESS}));
}

TEST_F(InterposerTest, InjectedFetchFailureSkipsTheDriverOnce) {
    testDbExec(
        "INSERT INTO qvsystem.qvs301awb (awbasw, awbbkl) VALUES ('1', 'A'), ('2', 'B'), "
        "('3', 'C')");
    ASSERT_EQ(ipConfigure("dbsystem MSSQL\nfetch 2 1 HY000 815 FROM qvsystem.qvs301awb"), 0);
    SQLHSTMT stmt = newStatement();
    ASSERT_EQ(
        SQLExecDirect(stmt, sqlChars("SELECT awbbkl FROM qvsystem.qvs301awb ORDER BY 1"), SQL_NTS),
        SQL_SUCCESS);
    char value[8] = "";
    SQLLEN indicator = 0;
    SQLBindCol(stmt, 1, SQL_C_CHAR, value, sizeof value, &indicator);
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_STREQ(value, "A");
    EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
    EXPECT_EQ(diagnostic(SQL_HANDLE_STMT, stmt).native, 815);
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_STREQ(value, "B") << "the failed fetch did not reach the driver";
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

TEST_F(InterposerTest, InjectedConnectAndAllocFailures) {
    ASSERT_EQ(ipConfigure("dbsystem ORACLE\nconnect 1 1 08001 17\nalloc 3 2 1\nalloc 2 1 1"), 0);
    SQLHDBC failed = reinterpret_cast<SQLHDBC>(1);
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &failed), SQL_ERROR);
    EXPECT_EQ(failed, nullptr);

    SQLHDBC other = SQL_NULL_HANDLE;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env_, &other), SQL_SUCCESS);
    EXPECT_EQ(connect(other), SQL_ERROR);
    Diagnostic d = diagnostic(SQL_HANDLE_DBC, other);
    EXPECT_EQ(d.sqlState, "08001");
    EXPECT_EQ(d.native, 17) << "scripted, not mapped";
    EXPECT_TRUE(SQL_SUCCEEDED(connect(other))) << diagnostic(SQL_HANDLE_DBC, other).message;
    SQLDisconnect(other);
    SQLFreeHandle(SQL_HANDLE_DBC, other);

    SQLHSTMT first = newStatement();
    SQLHSTMT second = reinterpret_cast<SQLHSTMT>(1);
    EXPECT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &second), SQL_ERROR);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(ipOpenStatementHandles(), openBefore_ + 1);
    SQLFreeHandle(SQL_HANDLE_STMT, first);
}

// In manual-commit mode a statement opens a transaction, and the driver
// played under refuse-disconnect-in-transaction keeps the session until it
// ends: the disconnect fails with 25000 and the session still works.
TEST_F(InterposerTest, DisconnectIsRefusedInsideATransactionAndTracedWithTheSession) {
    ASSERT_EQ(ipConfigure("trace-session\nrefuse-disconnect-in-transaction"), 0);
    ASSERT_EQ(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                                reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), SQL_IS_UINTEGER),
              SQL_SUCCESS);
    SQLRETURN rc;
    execute("SELECT 1", &rc);
    EXPECT_EQ(SQLDisconnect(dbc_), SQL_ERROR);
    EXPECT_EQ(diagnostic(SQL_HANDLE_DBC, dbc_).sqlState, "25000");
    execute("SELECT 2", &rc);
    EXPECT_EQ(rc, SQL_SUCCESS) << "the session was kept";
    EXPECT_EQ(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK), SQL_SUCCESS);
    EXPECT_EQ(SQLDisconnect(dbc_), SQL_SUCCESS);
    EXPECT_TRUE(SQL_SUCCEEDED(connect(dbc_)));
    EXPECT_EQ(ipTrace(), (Texts{"SELECT 1", "DISCONNECT REFUSED", "SELECT 2", "ROLLBACK",
                                "DISCONNECT", "CONNECT"}));
}

TEST_F(InterposerTest, MalformedRulesAreRefusedAndNeverFire) {
    const char* bad[] = {
        "exec 1 1 HY000 x SELECT",     // native neither a number nor none
        "exec 0 1 HY000 1 SELECT",     // FROM starts at 1
        "exec 1 1 HY000 1",            // no text
        "exec 1 1 HY0 1 SELECT",       // SQLSTATE of five characters
        "fetch 1 -1 HY000 1 SELECT",   // negative COUNT
        "connect 1 1 08001 1 SELECT",  // connect takes no text
        "statistics 1 1 HYC00 1 X",    // nor does statistics
        "alloc 4 1 1",                 // handle types 1 to 3
        "alloc 3 1",                   // COUNT missing
        "hook free 1",                 // free needs a text
        "trace-session on",            // takes no argument
        "dbsystem DB2",                // unknown DB system
        "execute 1 1 HY000 1 SELECT",  // unknown kind
    };
    for (const char* rule : bad)
        EXPECT_EQ(ipConfigure(rule), -1) << rule;
    EXPECT_EQ(ipConfigure("# a comment\n\n  \nexec 1 1 HY000 none NEVER SENT\r\n"), 0);
    SQLRETURN rc;
    execute("SELECT 1", &rc);
    EXPECT_EQ(rc, SQL_SUCCESS);
    Diagnostic d = execute("SELECT 1 / 0", &rc);
    EXPECT_EQ(d.native, 1) << "no DB system was taken";
}

// --- Waits ---

TEST_F(InterposerTest, WaitsAreRecordedInsteadOfSlept) {
    auto start = std::chrono::steady_clock::now();
    struct timespec minute = {60, 0};
    struct timespec tenSeconds = {10, 5000000};
    EXPECT_EQ(ppoll(nullptr, 0, &minute, nullptr), 0);
    EXPECT_EQ(ppoll(nullptr, 0, &tenSeconds, nullptr), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(ipWaits(), (std::vector<long>{60000, 10005}));

    ipRecordWaits(0);
    struct timespec shortWait = {0, 30000000};
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(ppoll(nullptr, 0, &shortWait, nullptr), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_EQ(ipWaitCount(), 2) << "a real wait is not recorded";
    ipReset();
    EXPECT_EQ(ipWaitCount(), 0);
}

// --- The event log ---

// The lines of an event log with the clock, CPU and memory fields taken
// out ("E 3 TEXT"), after checking that they are numbers, the clock never
// going back.
Texts eventsWithoutUsage(const std::string& path) {
    Texts events;
    std::ifstream in(path);
    std::string line;
    long long lastClock = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string kind, number;
        fields >> kind;
        if (kind == "E")
            fields >> number;
        if (kind == "S" || kind == "Q" || kind == "E") {
            long long clock = -1, user = -1, system = -1, memory = -1;
            fields >> clock >> user >> system >> memory;
            EXPECT_TRUE(fields && user >= 0 && system >= 0 && memory > 0) << line;
            EXPECT_GE(clock, lastClock) << line;
            lastClock = clock;
            std::string text;
            std::getline(fields, text);
            line = kind + (number.empty() ? "" : " " + number) + text;
        }
        events.push_back(line);
    }
    return events;
}

TEST_F(InterposerTest, EventLogHoldsWhatAReplayNeedsInOrder) {
    testDbExec("INSERT INTO qvsystem.qvs301awb (awbasw, awbbkl) VALUES ('A1', 'K1'), ('A2', 'K2')");
    std::string path = ::testing::TempDir() + "vendrak-events.txt";
    ASSERT_EQ(ipSetEventFile(path.c_str()), 0);
    SQLHSTMT cursor = newStatement();
    SQLSetStmtAttr(cursor, SQL_ATTR_CONCURRENCY, reinterpret_cast<SQLPOINTER>(SQL_CONCUR_LOCK),
                   SQL_IS_INTEGER);
    SQLExecDirect(cursor, sqlChars("SELECT awbbkl FROM qvsystem.qvs301awb"), SQL_NTS);
    EXPECT_EQ(SQLFetch(cursor), SQL_SUCCESS);
    // Another statement while the cursor is open; a text with a backslash
    // and a line break stays one line.
    EXPECT_EQ(column("SELECT 'a\\b',\n 2"), Texts{"a\\b"});
    EXPECT_EQ(SQLFetch(cursor), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(cursor), SQL_NO_DATA);
    SQLFreeHandle(SQL_HANDLE_STMT, cursor);
    SQLHSTMT unused = newStatement();
    SQLFreeHandle(SQL_HANDLE_STMT, unused);
    ASSERT_EQ(ipSetEventFile(nullptr), 0);

    EXPECT_EQ(eventsWithoutUsage(path),
              (Texts{"S", "A 1 7 2", "E 1 SELECT awbbkl FROM qvsystem.qvs301awb", "F 1 1",
                     "E 2 SELECT 'a\\\\b',\\n 2", "F 2 2", "X 2", "F 1 2", "X 1", "Q"}));
    EXPECT_EQ(ipTraceCount(), 2) << "linked into a test, the trace is kept as well";
    EXPECT_EQ(ipSetEventFile("/nonexistent/folder/events.txt"), -1);
    std::remove(path.c_str());
}

// --- The test database ---

TEST_F(InterposerTest, OracleFunctionStandInsAndSysdateWork) {
    testDbExec("INSERT INTO qvsystem.qvs113sto (stonum, stoktx) VALUES ('S1', 'ST1')");
    EXPECT_EQ(testDbQuery("SELECT stonum, stoktx FROM qvsystem.qvs113sto_base"),
              (std::vector<Texts>{{"S1", "ST1"}}));
    EXPECT_EQ(column("SELECT instr('ab,c', ',')"), Texts{"3"});
    EXPECT_EQ(column("SELECT instr('abc', ',')"), Texts{"0"});
    EXPECT_EQ(column("SELECT substr('abc', 1, -1) IS NULL"), Texts{"1"});
    EXPECT_EQ(column("SELECT substr('abc', 0, 2)"), Texts{"ab"});
    EXPECT_EQ(column("SELECT substr('abc', 0)"), Texts{"abc"});
    EXPECT_EQ(column("SELECT substr('abcdef', 5, 6)"), Texts{"ef"});
    EXPECT_EQ(column("SELECT trunc(sysdate) = CURRENT_DATE FROM qvsystem.qvs113sto"), Texts{"1"});
    EXPECT_EQ(column("SELECT trunc(DATE '2024-02-29')"), Texts{"2024-02-29"});
    // The ORACLE reordering of a badge holder's name, with and without comma.
    const char* name =
        "SELECT CONCAT(CONCAT(LTRIM(SUBSTR(n, INSTR(n, ',') + 1)), ' '), "
        "RTRIM(SUBSTR(n, 1, INSTR(n, ',') - 1))) FROM (VALUES ('Muster, Max'), ('Cher')) v(n)";
    EXPECT_EQ(column(name), (Texts{"Max Muster", "Cher "}));
}

TEST_F(InterposerTest, TrmAswDnlHasItsThreeForms) {
    const char* columns =
        "SELECT count(*), count(*) FILTER (WHERE column_name IN ('dnlpin', 'dnlpnr', 'dnlnam')) "
        "FROM information_schema.columns WHERE table_schema = 'qvsystem' "
        "AND table_name = 'trmaswdnl'";
    EXPECT_EQ(testDbQuery(columns), (std::vector<Texts>{{"40", "3"}}));
    testDbSetTrmAswDnlColumns(38);
    EXPECT_EQ(testDbQuery(columns), (std::vector<Texts>{{"38", "1"}}));
    testDbSetTrmAswDnlColumns(37);
    EXPECT_EQ(testDbQuery(columns), (std::vector<Texts>{{"37", "0"}}));
    testDbClearTables();
    EXPECT_EQ(testDbQuery(columns), (std::vector<Texts>{{"40", "3"}}));

    // The key: a second row for the same terminal and badge is refused.
    const char* row =
        "INSERT INTO qvsystem.trmaswdnl (dnltrm, dnlasw, dnlkze, dnlkzu, dnlspr, dnlatp) "
        "VALUES ('T1', '4711', 0, 0, 0, 0)";
    SQLRETURN rc;
    execute(row, &rc);
    EXPECT_EQ(rc, SQL_SUCCESS);
    Diagnostic d = execute(row, &rc);
    EXPECT_EQ(rc, SQL_ERROR);
    EXPECT_EQ(d.sqlState, "23505");
}

TEST_F(InterposerTest, TextColumnsKeepNoTrailingBlanksAndNullIsMarked) {
    testDbExec("INSERT INTO qvsystem.qvs301awb (awbasw, awbbkl) VALUES ('A1 ', NULL)");
    EXPECT_EQ(testDbQuery("SELECT awbasw, awbbkl FROM qvsystem.qvs301awb"),
              (std::vector<Texts>{{"A1 ", kTestDbNull}}));
    EXPECT_EQ(column("SELECT length(awbasw) FROM qvsystem.qvs301awb"), Texts{"3"});
}

// --- Preloaded into the real binary ---

TEST(InterposerPreloadTest, RealBinaryReachesTheServerThroughThePreloadedInterposer) {
    testDbClearTables();
    testDbExec(
        "INSERT INTO qvsystem.trmaswdnl (dnltrm, dnlasw, dnlkze, dnlkzu, dnlspr, dnlatp) "
        "VALUES ('OLD', 'OLD', 0, 0, 0, 0)");
    ProgramRun run;
    run.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
    run.setRules("dbsystem ORACLE\nalloc 3 2 1000");
    ProgramResult result = run.run({});
    // The first statement of a full build, and the only one allowed a handle.
    ASSERT_FALSE(result.trace.empty()) << result.output;
    EXPECT_EQ(result.trace, Texts{"DELETE FROM QVSYSTEM.TRMASWDNL"});
    EXPECT_EQ(testDbValue("SELECT count(*) FROM qvsystem.trmaswdnl"), "0");
    EXPECT_FALSE(result.waits.empty()) << "the retries' waits are recorded";
    EXPECT_EQ(result.exitCode, 99);
}

TEST(InterposerPreloadTest, RealBinaryLeavesACompleteEventLogAtExit) {
    testDbClearTables();
    ProgramRun run;
    run.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
    std::string path = run.root() + "/events.txt";
    run.addEnvironment("VENDRAK_IP_EVENTS=" + path);
    ProgramResult result = run.run({});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    Texts events = eventsWithoutUsage(path);
    Texts executed;
    for (const std::string& event : events) {
        if (event.rfind("E ", 0) == 0)
            executed.push_back(event.substr(event.find(' ', 2) + 1));
    }
    // The statements of a whole full rebuild, each once and in order, and
    // the end of the recording, written from the buffer at exit.
    EXPECT_GT(executed.size(), 5u);
    EXPECT_EQ(executed, result.trace);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "Q");
}

}  // namespace
