#include "db/transaction.h"

#include "db/session.h"
#include "db/statement.h"
#include "log/console.h"
#include "platform/stop_signal.h"

namespace {

bool transactionsOn = false;

SQLRETURN endTransaction(SQLSMALLINT completion) {
    return SQLEndTran(SQL_HANDLE_DBC, dbConnection, completion);
}

}  // namespace

void dbUseTransactions() {
    transactionsOn = true;
}

bool dbTransactionsOn() {
    return transactionsOn;
}

int dbApplyCommitMode() {
    if (!transactionsOn)
        return 0;
    SQLRETURN rc =
        SQLSetConnectAttr(dbConnection, SQL_ATTR_AUTOCOMMIT,
                          reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), SQL_IS_UINTEGER);
    if (SQL_SUCCEEDED(rc))
        return 0;
    dbGetDiag(SQL_HANDLE_DBC, dbConnection, LastDiag);
    consoleClearPendingDiagnostic();
    consoleLine("auto-commit cannot be switched off: SQLSTATE %s native %ld: %s", LastDiag.SqlState,
                static_cast<long>(LastDiag.NativeError), LastDiag.MessageText);
    return kResultFailed;
}

int dbCommit() {
    // A stop signal ends the run before its writes take effect, as it ends
    // it before any further statement.
    if (platformStopSignal() != 0)
        return kResultFailed;
    consoleClearPendingDiagnostic();
    if (SQL_SUCCEEDED(endTransaction(SQL_COMMIT)))
        return kResultOk;
    dbGetDiag(SQL_HANDLE_DBC, dbConnection, LastDiag);
    return failureResult(LastDiag.NativeError);
}

int dbRollback() {
    return endTransaction(SQL_ROLLBACK);
}
