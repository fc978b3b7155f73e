// The TCP relay of the test support, between psqlODBC and the test server: it
// passes a session's traffic, holds it while silent with both sockets open,
// passes it again on resume, and on close ends the client's wait and the
// server's session. Raw ODBC calls, so that this rests on the driver alone.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "odbc_interposer.h"
#include "tcp_relay.h"
#include "testdb.h"

namespace {

SQLCHAR* sqlChars(const char* text) {
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

// The outcome of one single-value query.
struct Answer {
    SQLRETURN rc = SQL_ERROR;
    std::string value;
    std::string sqlState;
};

// A raw ODBC session on a data source, ended with its handles.
struct OdbcSession {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;

    SQLRETURN connect(const char* dsn) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        return SQLConnect(dbc, sqlChars(dsn), SQL_NTS, sqlChars(kTestDbUser), SQL_NTS,
                          sqlChars(kTestDbPassword), SQL_NTS);
    }

    Answer query(const char* sql) {
        Answer answer;
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
        answer.rc = SQLExecDirect(stmt, sqlChars(sql), SQL_NTS);
        if (SQL_SUCCEEDED(answer.rc))
            answer.rc = SQLFetch(stmt);
        char value[64] = {0};
        SQLLEN length = 0;
        if (SQL_SUCCEEDED(answer.rc))
            answer.rc = SQLGetData(stmt, 1, SQL_C_CHAR, value, sizeof value, &length);
        answer.value = value;
        SQLCHAR state[6] = {0};
        SQLINTEGER native = 0;
        SQLSMALLINT textLength = 0;
        SQLCHAR text[256];
        if (!SQL_SUCCEEDED(answer.rc) &&
            SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, &native, text, sizeof text,
                                        &textLength)))
            answer.sqlState = reinterpret_cast<char*>(state);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return answer;
    }

    ~OdbcSession() {
        if (dbc != SQL_NULL_HDBC) {
            SQLDisconnect(dbc);
            SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        }
        if (env != SQL_NULL_HENV)
            SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
};

bool serverSessionExists(const std::string& pid) {
    return testDbValue("SELECT count(*) FROM pg_stat_activity WHERE pid = " + pid) == "1";
}

// Waits up to `seconds` for the server session `pid` to end.
bool serverSessionEnds(const std::string& pid, int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (serverSessionExists(pid)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

class RelayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ipReset();
        ASSERT_NE(relay_.port(), 0);
        ASSERT_TRUE(SQL_SUCCEEDED(session_.connect(testDbAddDsn(relay_.port(), "").c_str())));
        ASSERT_EQ(relay_.accepted(), 1) << "the session must go through the relay";
        Answer pid = session_.query("SELECT pg_backend_pid()");
        ASSERT_TRUE(SQL_SUCCEEDED(pid.rc)) << pid.sqlState;
        serverPid_ = pid.value;
    }

    // The query started on a thread of its own, as the link is now.
    std::future<Answer> startQuery(const char* sql) {
        return std::async(std::launch::async, [this, sql] { return session_.query(sql); });
    }

    TcpRelay relay_{testDbServerPort()};
    OdbcSession session_;
    std::string serverPid_;
};

constexpr auto kSilentWait = std::chrono::seconds(2);
constexpr auto kAnswerWait = std::chrono::seconds(10);

TEST_F(RelayTest, SilenceHoldsAQueryWithTheSessionOpenUntilResumed) {
    relay_.silence();
    std::future<Answer> answer = startQuery("SELECT 6 * 7");
    EXPECT_EQ(answer.wait_for(kSilentWait), std::future_status::timeout)
        << "a query passed a silent relay";
    EXPECT_TRUE(serverSessionExists(serverPid_)) << "silence must not end the server's session";

    relay_.resume();
    ASSERT_EQ(answer.wait_for(kAnswerWait), std::future_status::ready);
    Answer result = answer.get();
    EXPECT_TRUE(SQL_SUCCEEDED(result.rc)) << result.sqlState;
    EXPECT_EQ(result.value, "42");
}

TEST_F(RelayTest, ClosingASilentRelayEndsTheWaitingQueryAndTheServerSession) {
    relay_.silence();
    std::future<Answer> answer = startQuery("SELECT 1");
    EXPECT_EQ(answer.wait_for(kSilentWait), std::future_status::timeout)
        << "a query passed a silent relay";

    relay_.close();
    ASSERT_EQ(answer.wait_for(kAnswerWait), std::future_status::ready)
        << "the client still waits after the relay closed";
    Answer result = answer.get();
    EXPECT_EQ(result.rc, SQL_ERROR);
    EXPECT_FALSE(result.sqlState.empty());
    EXPECT_TRUE(serverSessionEnds(serverPid_, 5)) << "the server's session outlived the relay";
}

}  // namespace
