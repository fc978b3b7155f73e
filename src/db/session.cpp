#include "db/session.h"

#include <cstdio>
#include <cstring>

#include "db/call_in_flight.h"
#include "db/time_limits.h"
#include "log/runlog.h"
#include "platform/platform.h"
#include "platform/stop_signal.h"
#include "platform/text.h"
#include "settings/settings.h"

SQLHDBC dbConnection = SQL_NULL_HDBC;
TransactionFault SessionTransactionFault = TransactionFault::None;

namespace {

SQLHENV dbEnvironment = SQL_NULL_HENV;
bool transactionsOn = false;

// A host that drops packets would otherwise hold the connect for as long as
// the operating system keeps trying. 0 leaves the driver's default.
void setLoginTimeout(SQLHDBC connection) {
    if (DbTimeLimits.loginSeconds <= 0)
        return;
    SQLSetConnectAttr(connection, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(DbTimeLimits.loginSeconds)),
                      SQL_IS_UINTEGER);
}

SQLCHAR* odbcText(char* text) {
    return reinterpret_cast<SQLCHAR*>(text);
}

SQLRETURN connectTo(char* database, char* user, char* password) {
    DbCallInFlight call(DbCallKind::Connect, SQL_HANDLE_DBC, dbConnection);
    return SQLConnect(dbConnection, odbcText(database), SQL_NTS, odbcText(user), SQL_NTS,
                      odbcText(password), SQL_NTS);
}

void disconnect() {
    DbCallInFlight call(DbCallKind::Disconnect, SQL_HANDLE_DBC, dbConnection);
    SQLDisconnect(dbConnection);
}

// True when the session says that auto-commit is off; false when it says on
// or does not answer.
bool autoCommitReadsBackOff() {
    SQLULEN value = SQL_AUTOCOMMIT_ON;
    SQLRETURN rc =
        SQLGetConnectAttr(dbConnection, SQL_ATTR_AUTOCOMMIT, &value, SQL_IS_UINTEGER, nullptr);
    return SQL_SUCCEEDED(rc) && value == SQL_AUTOCOMMIT_OFF;
}

// True unless the driver reports no transactions (SQL_TC_NONE) or does not
// answer. DML in a transaction is all the run needs of it.
bool driverHasTransactions() {
    SQLUSMALLINT capable = SQL_TC_NONE;
    SQLRETURN rc = SQLGetInfo(dbConnection, SQL_TXN_CAPABLE, &capable, sizeof capable, nullptr);
    return SQL_SUCCEEDED(rc) && capable != SQL_TC_NONE;
}

SQLRETURN setAutoCommit(SQLULEN mode) {
    return SQLSetConnectAttr(dbConnection, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(mode),
                             SQL_IS_UINTEGER);
}

// Switches auto-commit off and proves it: the driver's "done" alone is not
// enough, since some answer it (or "option value changed") and go on
// committing every statement.
TransactionFault switchAutoCommitOff() {
    SQLRETURN rc = setAutoCommit(SQL_AUTOCOMMIT_OFF);
    // A refusal posts a diagnostic that no failure line is about.
    dbClearDiag();
    if (!SQL_SUCCEEDED(rc))
        return TransactionFault::AutoCommitRefused;
    if (!autoCommitReadsBackOff())
        return TransactionFault::AutoCommitKept;
    if (!driverHasTransactions())
        return TransactionFault::NoTransactions;
    return TransactionFault::None;
}

}  // namespace

const char* dbTransactionFaultText(TransactionFault fault) {
    switch (fault) {
        case TransactionFault::AutoCommitRefused:
            return "the driver refuses to switch auto-commit off";
        case TransactionFault::AutoCommitKept:
            return "auto-commit reads back as on after it was switched off: the driver commits "
                   "every statement";
        case TransactionFault::NoTransactions:
            return "the driver reports no transactions (SQL_TXN_CAPABLE)";
        case TransactionFault::None:
            break;
    }
    return "";
}

TransactionFault dbTryTransactions() {
    TransactionFault fault = switchAutoCommitOff();
    setAutoCommit(SQL_AUTOCOMMIT_ON);
    dbClearDiag();
    return fault;
}

void dbUseTransactions() {
    transactionsOn = true;
}

bool dbTransactionsOn() {
    return transactionsOn;
}

int dbConnect(const char* user, const char* password, const char* database, const char* dbSystem) {
    const DbErrorCodeTable* codes = dbSystemCodes(dbSystem);
    if (codes == nullptr) {
        std::printf("DBSystem: %s\n", dbSystem);
        std::fflush(stdout);
        return -1;
    }
    DbErrorCodes = *codes;
    dbDisconnect();

    // The driver gets the values whole, in fields as wide as the settings
    // that hold them. A cut value could connect to another data source (one
    // named by a prefix) or fail with a wrong password.
    char userField[kLoginWidth] = {};
    char passwordField[kPasswordWidth] = {};
    char databaseField[kDatabaseWidth] = {};
    copyField(userField, user);
    copyField(passwordField, password);
    copyField(databaseField, database);

    if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &dbEnvironment) == SQL_ERROR) {
        dbEnvironment = SQL_NULL_HENV;
        return -1;
    }
    SQLSetEnvAttr(dbEnvironment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                  SQL_IS_INTEGER);
    if (SQLAllocHandle(SQL_HANDLE_DBC, dbEnvironment, &dbConnection) == SQL_ERROR) {
        dbConnection = SQL_NULL_HDBC;
        return -1;
    }
    setLoginTimeout(dbConnection);
    SQLRETURN rc = connectTo(databaseField, userField, passwordField);
    // explicit_bzero: the field is not read again, so a plain memset could
    // be dropped by the compiler and leave the password on the stack.
    explicit_bzero(passwordField, sizeof passwordField);
    if (rc == SQL_ERROR) {
        dbGetDiag(SQL_HANDLE_DBC, dbConnection);
        std::printf("Connect Error: SQLCode: %ld sqlState: %s Msg: %s\n",
                    static_cast<long>(LastDiag.NativeError), LastDiag.SqlState,
                    LastDiag.MessageText);
        std::fflush(stdout);
        return -1;
    }
    SessionTransactionFault = TransactionFault::None;
    if (transactionsOn)
        SessionTransactionFault = switchAutoCommitOff();
    return 0;
}

int dbDisconnect() {
    // A diagnostic that no failure line has reported by now belongs to a
    // session that is being given up.
    dbClearDiag();
    if (dbConnection != SQL_NULL_HDBC) {
        disconnect();
        SQLFreeHandle(SQL_HANDLE_DBC, dbConnection);
        dbConnection = SQL_NULL_HDBC;
    }
    if (dbEnvironment != SQL_NULL_HENV) {
        SQLFreeHandle(SQL_HANDLE_ENV, dbEnvironment);
        dbEnvironment = SQL_NULL_HENV;
    }
    return 0;
}

int dbReconnect() {
    for (long attempt = 1; attempt <= kReconnectAttempts; ++attempt) {
        // A stop signal ends the reconnection at once: the run is to end.
        if (platformStopSignal() != 0)
            return 0;
        dbDisconnect();
        logLine("Versuch Nr. %ld zur Wiederherstellung der Datenbankverbindung!", attempt);
        int rc = dbConnect(Settings.login, Settings.password, Settings.database, Settings.dbSystem);
        if (rc == 0) {
            logLine("Die Verbindung zur Datenbank wurde wiederhergestellt!");
            return 1;
        }
        logFailure(LastDiag, "Fehler dbConnect(dbReconnect)! Errcode: %ld Versuch-Nr.: %ld",
                   static_cast<long>(rc), attempt);
        platformWaitMs(kReconnectWaitMs);
    }
    return 0;
}
