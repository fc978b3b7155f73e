// The one ODBC session of the program: connect, disconnect, reconnect and
// its commit mode: the driver's auto-commit, or with transactions on, the
// run's own commits and rollbacks (transaction.h).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "db/db_system.h"
#include "db/results.h"

// The process-wide connection; SQL_NULL_HDBC while absent.
extern SQLHDBC dbConnection;

constexpr int kReconnectAttempts = 5;
constexpr long kReconnectWaitMs = 60000;

// Opens the session. Refuses (without touching anything) a DB system other
// than "ORACLE", "MSSQL" or "MYSQL". With transactions on, switches
// auto-commit off; a driver that refuses fails the connect, with the reason
// on standard error: a session that commits every statement must not be
// taken for one that does not. Returns 0 when connected, -1 otherwise.
int dbConnect(const char* user, const char* password, const char* database, const char* dbSystem);

// Disconnects and frees both handles. Always 0.
int dbDisconnect();

// Up to five attempts to reconnect with the values of Settings, with a
// 60-second wait after each failed attempt. 1 when connected again, else 0;
// 0 at once, without a further attempt, once a stop signal has come.
int dbReconnect();

// Turns the session's transactions on for every later dbConnect.
void dbUseTransactions();

// True once dbUseTransactions was called.
bool dbTransactionsOn();
