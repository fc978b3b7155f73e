#include "db/transaction.h"

#include "db/results.h"
#include "db/session.h"
#include "platform/stop_signal.h"

namespace {

SQLRETURN endTransaction(SQLSMALLINT completion) {
    return SQLEndTran(SQL_HANDLE_DBC, dbConnection, completion);
}

}  // namespace

int dbCommit() {
    // A stop signal ends the run before its writes take effect, as it ends
    // it before any further statement.
    if (platformStopSignal() != 0)
        return kResultFailed;
    dbClearDiag();
    if (SQL_SUCCEEDED(endTransaction(SQL_COMMIT)))
        return kResultOk;
    dbGetDiag(SQL_HANDLE_DBC, dbConnection);
    return failureResult(LastDiag.NativeError);
}

int dbRollback() {
    return endTransaction(SQL_ROLLBACK);
}
