#include "db/session.h"

#include <cstdio>
#include <cstring>

#include "db/time_limits.h"
#include "db/transaction.h"
#include "log/console.h"
#include "log/runlog.h"
#include "platform/platform.h"
#include "platform/stop_signal.h"
#include "platform/text.h"
#include "settings/settings.h"

DiagRecord LastDiag;
DbErrorCodeTable DbErrorCodes = {100, -1, -1, -1, -1};
SQLHENV dbEnvironment = SQL_NULL_HENV;
SQLHDBC dbConnection = SQL_NULL_HDBC;

namespace {

struct DbSystemCodes {
    const char* name;
    DbErrorCodeTable codes;
};

constexpr DbSystemCodes kDbSystems[] = {
    {"ORACLE", {100, 1, 904, 942, 10001}},
    {"MSSQL", {100, 2627, 207, 208, -1}},
    {"MYSQL", {100, -1, -1, -1, -1}},
};

const DbSystemCodes* findDbSystem(const char* dbSystem) {
    for (const DbSystemCodes& system : kDbSystems) {
        if (std::strcmp(system.name, dbSystem) == 0)
            return &system;
    }
    return nullptr;
}

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

constexpr std::size_t kTimeoutCauseWidth = 96;

}  // namespace

int dbConnect(const char* user, const char* password, const char* database, const char* dbSystem) {
    const DbSystemCodes* system = findDbSystem(dbSystem);
    if (system == nullptr) {
        std::printf("DBSystem: %s\n", dbSystem);
        std::fflush(stdout);
        return -1;
    }
    DbErrorCodes = system->codes;
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
    SQLRETURN rc = SQLConnect(dbConnection, odbcText(databaseField), SQL_NTS, odbcText(userField),
                              SQL_NTS, odbcText(passwordField), SQL_NTS);
    // explicit_bzero: the field is not read again, so a plain memset could
    // be dropped by the compiler and leave the password on the stack.
    explicit_bzero(passwordField, sizeof passwordField);
    if (rc == SQL_ERROR) {
        dbGetDiag(SQL_HANDLE_DBC, dbConnection, LastDiag);
        std::printf("Connect Error: SQLCode: %ld sqlState: %s Msg: %s\n",
                    static_cast<long>(LastDiag.NativeError), LastDiag.SqlState,
                    LastDiag.MessageText);
        std::fflush(stdout);
        return -1;
    }
    // An atomic rebuild needs every session, a reconnected one included,
    // out of auto-commit.
    if (dbApplyCommitMode() != 0)
        return -1;
    return 0;
}

int dbDisconnect() {
    // A diagnostic that no failure line has reported by now belongs to a
    // session that is being given up; it must not be reported beside the
    // reconnection's lines.
    consoleClearPendingDiagnostic();
    if (dbConnection != SQL_NULL_HDBC) {
        SQLDisconnect(dbConnection);
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
        logLine("Fehler dbConnect(dbReconnect)! Errcode: %ld Versuch-Nr.: %ld",
                static_cast<long>(rc), attempt);
        platformWaitMs(kReconnectWaitMs);
    }
    return 0;
}

void dbGetDiag(SQLSMALLINT handleType, SQLHANDLE handle, DiagRecord& record) {
    std::memset(&record, 0, sizeof record);
    SQLINTEGER native = 0;
    SQLSMALLINT textLength = 0;
    SQLRETURN rc = SQLGetDiagRec(handleType, handle, 1, reinterpret_cast<SQLCHAR*>(record.SqlState),
                                 &native, reinterpret_cast<SQLCHAR*>(record.MessageText),
                                 sizeof record.MessageText, &textLength);
    if (!SQL_SUCCEEDED(rc)) {
        // Without a record the driver manager may still fill in "00000";
        // the record stays empty so that no stale state is reported.
        std::memset(&record, 0, sizeof record);
    } else {
        record.NativeError = native;
        // Drivers terminate within the buffer, but a defensive terminator
        // keeps a misbehaving driver from leaving an unterminated text behind.
        record.SqlState[sizeof record.SqlState - 1] = '\0';
        record.MessageText[sizeof record.MessageText - 1] = '\0';
    }
    // The caller's failure line, written next, takes it to standard error.
    consoleSetPendingDiagnostic(record.SqlState, record.NativeError, record.MessageText);
    char cause[kTimeoutCauseWidth];
    if (describeTimeout(handleType, record.SqlState, cause, sizeof cause))
        consoleSetPendingCause(cause);
}
