// The one ODBC session of the program: connect, disconnect, reconnect,
// diagnostics and the native error numbers of the configured DB system.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

struct DiagRecord {
    char SqlState[256];
    char MessageText[1000];
    int32_t NativeError;
};
// The diagnostic of the last failed call that was examined.
extern DiagRecord LastDiag;

struct DbErrorCodeTable {
    int32_t NotFound;
    int32_t DuplicateKey;
    int32_t InvalidColumn;
    int32_t TableNotFound;
    int32_t Reserved;
};
// Native numbers the callers compare results with; set by dbConnect.
extern DbErrorCodeTable DbErrorCodes;

// Process-wide handles; SQL_NULL_HANDLE while absent.
extern SQLHENV dbEnvironment;
extern SQLHDBC dbConnection;

constexpr int kReconnectAttempts = 5;
constexpr long kReconnectWaitMs = 60000;

// Opens the session. Refuses (without touching anything) a DB system other
// than "ORACLE", "MSSQL" or "MYSQL". Returns 0 when connected, -1 otherwise.
int dbConnect(const char* user, const char* password, const char* database, const char* dbSystem);

// Disconnects and frees both handles. Always 0.
int dbDisconnect();

// Up to five attempts to reconnect with the values of Settings, with a
// 60-second wait after each failed attempt. 1 when connected again, else 0;
// 0 at once, without a further attempt, once a stop signal has come.
int dbReconnect();

// Fills `record` from the first diagnostic record of `handle` (zeroed first,
// so a call without a diagnostic leaves NativeError 0 and empty texts), and
// leaves it pending for standard error beside the next run log line, the
// caller's failure line (console.h). dbDisconnect drops one left unreported.
void dbGetDiag(SQLSMALLINT handleType, SQLHANDLE handle, DiagRecord& record);
