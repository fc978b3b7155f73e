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

// Why a session that was to be taken out of auto-commit is not in a
// transaction of its own: a driver may accept the switch and still commit
// every statement.
enum class TransactionFault {
    None,               // auto-commit reads back off, and the driver has transactions
    AutoCommitRefused,  // the driver refused to switch auto-commit off
    AutoCommitKept,     // auto-commit reads back on (or not at all) after the switch
    NoTransactions,     // SQL_TXN_CAPABLE is SQL_TC_NONE (or not answered)
};

// What dbConnect found on its last session with transactions on; None
// without them.
extern TransactionFault SessionTransactionFault;

// The fault in words, for standard error and the check ("" for None).
const char* dbTransactionFaultText(TransactionFault fault);

// Opens the session. Refuses (without touching anything) a DB system other
// than "ORACLE", "MSSQL" or "MYSQL". With transactions on, switches
// auto-commit off, reads it back and asks the driver whether it has
// transactions; what it finds is in SessionTransactionFault, for the run to
// refuse such a session before it writes (the session is open all the
// same). Returns 0 when connected, -1 otherwise.
int dbConnect(const char* user, const char* password, const char* database, const char* dbSystem);

// On a session in auto-commit (the check's): switches auto-commit off, finds
// the fault as dbConnect does, and switches it on again before any statement.
TransactionFault dbTryTransactions();

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
