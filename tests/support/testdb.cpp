#include "testdb.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "test_config.h"

namespace {

// The server's folder: VENDRAK_TEST_DB_DIR as set for the tests, else the
// folder this build configured.
std::string dbDir() {
    const char* dir = std::getenv("VENDRAK_TEST_DB_DIR");
    return dir != nullptr && *dir != '\0' ? dir : VENDRAK_TEST_DB_DIR;
}

std::string serverPort() {
    std::ifstream in(dbDir() + "/port");
    std::string port;
    in >> port;
    return port;
}

// The server's database: "vendrak", or the one that DIR/database names (the
// engine's database under a TDS server).
std::string databaseName() {
    std::ifstream in(dbDir() + "/database");
    std::string name = "vendrak";
    in >> name;
    return name;
}

// The script that runs the server of DIR: bfserver.sh for a TDS server.
const char* serverScript() {
    return std::ifstream(dbDir() + "/tds-port") ? "bfserver.sh" : "pgserver.sh";
}

// One connection for the whole test process, opened on first use and again
// after the server was restarted.
PGconn* conn = nullptr;

void closeConnection() {
    if (conn != nullptr)
        PQfinish(conn);
    conn = nullptr;
}

PGconn* connection() {
    if (conn != nullptr && PQstatus(conn) == CONNECTION_OK)
        return conn;
    closeConnection();
    std::string info = "host=127.0.0.1 port=" + serverPort() + " dbname=" + databaseName() +
                       " user=" + kTestDbUser + " password=" + kTestDbPassword +
                       " options='-c client_min_messages=warning'";
    conn = PQconnectdb(info.c_str());
    if (PQstatus(conn) != CONNECTION_OK)
        ADD_FAILURE() << "test database: " << PQerrorMessage(conn);
    return conn;
}

// Runs `sql`; on failure reports it and returns nullptr. A connection lost
// since the last call (the server was restarted) is opened again once.
PGresult* run(const std::string& sql) {
    PGresult* result = PQexec(connection(), sql.c_str());
    if (PQstatus(conn) == CONNECTION_BAD) {
        PQclear(result);
        result = PQexec(connection(), sql.c_str());
    }
    ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        ADD_FAILURE() << "test database: " << PQresultErrorMessage(result) << "in: " << sql;
        PQclear(result);
        return nullptr;
    }
    return result;
}

void runScript(const char* action) {
    std::string command = testDbServerCommand(action);
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

}  // namespace

std::string testDbPsqlCommand(const std::string& sql) {
    return ". '" + dbDir() + "/env' && psql -X -At -c '" + sql + "'";
}

std::string testDbServerCommand(const char* action) {
    return std::string(VENDRAK_TEST_SOURCE_DIR) + "/support/" + serverScript() + " " + action +
           " '" + dbDir() + "' >/dev/null";
}

bool testDbExec(const std::string& sql) {
    PGresult* result = run(sql);
    if (result == nullptr)
        return false;
    PQclear(result);
    return true;
}

std::vector<std::vector<std::string>> testDbQuery(const std::string& sql) {
    std::vector<std::vector<std::string>> rows;
    PGresult* result = run(sql);
    if (result == nullptr)
        return rows;
    for (int r = 0; r < PQntuples(result); ++r) {
        std::vector<std::string> row;
        for (int c = 0; c < PQnfields(result); ++c) {
            row.emplace_back(PQgetisnull(result, r, c) ? kTestDbNull : PQgetvalue(result, r, c));
        }
        rows.push_back(row);
    }
    PQclear(result);
    return rows;
}

std::string testDbValue(const std::string& sql) {
    std::vector<std::vector<std::string>> rows = testDbQuery(sql);
    if (rows.empty() || rows[0].empty()) {
        ADD_FAILURE() << "test database: no value from: " << sql;
        return std::string();
    }
    return rows[0][0];
}

void testDbClearTables() {
    testDbSetTrmAswDnlColumns(40);
    testDbExec(
        "TRUNCATE qvsystem.qvs1140trm, qvsystem.mgsst35p, qvsystem.qvs301asw, qvsystem.qvs301awb, "
        "qvsystem.qvs113sto_base, qvsystem.o2002tsw, qvsystem.qvs119mst, qvsystem.qvs119msd, "
        "qvsystem.qvs102whl, qvsystem.trmaswdnl, qvsystem.aswbkldnl, qvsystem.salaswdnl, "
        "qvsystem.salaswdnl2, qvsystem.qvsaswdnl");
}

void testDbLoadSmallSite() {
    testDbClearTables();
    std::ifstream in(std::string(VENDRAK_TEST_SOURCE_DIR) + "/support/small_site.sql");
    std::stringstream sql;
    sql << in.rdbuf();
    testDbExec(sql.str());
}

void testDbSetTrmAswDnlColumns(int columns) {
    const char* const optional[] = {"dnlpin", "dnlpnr", "dnlnam"};
    const char* const types[] = {"varchar(60)", "varchar(30)", "varchar(100)"};
    // 40 keeps all three, 38 drops the last two, 37 drops all three.
    int keep = columns >= 40 ? 3 : columns == 38 ? 1 : 0;
    for (int i = 0; i < 3; ++i) {
        std::string column = optional[i];
        if (i < keep) {
            testDbExec("ALTER TABLE qvsystem.trmaswdnl ADD COLUMN IF NOT EXISTS " + column + " " +
                       types[i]);
        } else {
            testDbExec("ALTER TABLE qvsystem.trmaswdnl DROP COLUMN IF EXISTS " + column);
        }
    }
}

int testDbServerPort() {
    return std::atoi(serverPort().c_str());
}

const char* const kTestDbDownloadTables[4] = {"trmaswdnl", "salaswdnl", "salaswdnl2", "aswbkldnl"};

std::vector<std::vector<std::vector<std::string>>> testDbDownloadTables() {
    std::vector<std::vector<std::vector<std::string>>> tables;
    for (const char* name : kTestDbDownloadTables) {
        tables.push_back(testDbQuery(std::string("SELECT t::text FROM qvsystem.") + name +
                                     " t ORDER BY t::text"));
    }
    return tables;
}

std::string testDbOwnDsnSection() {
    std::stringstream file;
    file << std::ifstream(dbDir() + "/odbc.ini").rdbuf();
    const std::string text = file.str();
    // pgserver.sh writes the tests' own section first; testDbAddDsn appends.
    const std::size_t next = text.find("\n[");
    return next == std::string::npos ? text : text.substr(0, next + 1);
}

std::string testDbAddDsn(int port, const std::string& settings) {
    static int added = 0;
    // The process id too: every test process appends to the same file.
    const std::string name =
        std::string(kTestDbDsn) + "_" + std::to_string(getpid()) + "_" + std::to_string(++added);
    const std::string path = dbDir() + "/odbc.ini";
    std::ofstream out(path, std::ios::app);
    out << '[' << name << "]\nDriver=PostgreSQL ANSI\nServername=127.0.0.1\nPort=" << port
        << "\nDatabase=vendrak\n"
        << settings;
    if (!out.flush())
        ADD_FAILURE() << "cannot write " << path;
    return name;
}

bool testDbUseServer(const std::string& dir, const char* script) {
    if (script != nullptr) {
        const std::string command = std::string("'") + VENDRAK_TEST_SOURCE_DIR + "/support/" +
                                    script + "' start '" + dir + "'";
        const int status = std::system(command.c_str());
        if (WIFEXITED(status) && WEXITSTATUS(status) == kTestDbServerAbsent)
            return false;
        EXPECT_EQ(status, 0) << command;
    }
    closeConnection();
    setenv("VENDRAK_TEST_DB_DIR", dir.c_str(), 1);
    setenv("ODBCSYSINI", dir.c_str(), 1);
    setenv("ODBCINI", (dir + "/odbc.ini").c_str(), 1);
    return true;
}

void testDbServerStop() {
    closeConnection();
    runScript("halt");
}

void testDbServerStart() {
    runScript("start");
}
