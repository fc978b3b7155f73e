#include "testdb.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <cstdlib>
#include <fstream>

#include "test_config.h"

namespace {

std::string serverPort() {
    std::ifstream in(std::string(VENDRAK_TEST_DB_DIR) + "/port");
    std::string port;
    in >> port;
    return port;
}

// One connection for the whole test process, opened on first use and opened
// again after the server was restarted.
PGconn* connection() {
    static PGconn* conn = nullptr;
    if (conn != nullptr && PQstatus(conn) == CONNECTION_OK)
        return conn;
    if (conn != nullptr)
        PQfinish(conn);
    std::string info = "host=127.0.0.1 port=" + serverPort() +
                       " dbname=vendrak user=" + kTestDbUser + " password=" + kTestDbPassword;
    conn = PQconnectdb(info.c_str());
    if (PQstatus(conn) != CONNECTION_OK) {
        ADD_FAILURE() << "test database: " << PQerrorMessage(conn);
    }
    return conn;
}

PGresult* run(const std::string& sql) {
    PGresult* result = PQexec(connection(), sql.c_str());
    ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        ADD_FAILURE() << "test database: " << PQresultErrorMessage(result) << "in: " << sql;
        PQclear(result);
        return nullptr;
    }
    return result;
}

void runScript(const char* action) {
    std::string command = std::string(VENDRAK_TEST_SOURCE_DIR) + "/support/pgserver.sh " + action +
                          " " + VENDRAK_TEST_DB_DIR + " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

}  // namespace

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

void testDbClearTables() {
    testDbSetTrmAswDnlColumns(40);
    testDbExec(
        "TRUNCATE qvsystem.qvs1140trm, qvsystem.mgsst35p, qvsystem.qvs301asw, qvsystem.qvs301awb, "
        "qvsystem.qvs113sto_base, qvsystem.o2002tsw, qvsystem.qvs119mst, qvsystem.qvs119msd, "
        "qvsystem.qvs102whl, qvsystem.trmaswdnl, qvsystem.aswbkldnl, qvsystem.salaswdnl, "
        "qvsystem.salaswdnl2, qvsystem.qvsaswdnl");
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

void testDbServerStop() {
    runScript("stop");
}

void testDbServerStart() {
    runScript("start");
}
