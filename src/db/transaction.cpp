#include "db/transaction.h"

#include "db/call_in_flight.h"
#include "db/results.h"
#include "db/session.h"
#include "platform/stop_signal.h"

namespace {

// A commit after a stop signal is refused here as well (SQL_ERROR), for a
// stop that comes between the check in dbCommit and the call.
SQLRETURN endTransaction(SQLSMALLINT completion) {
    DbCallInFlight call(completion == SQL_COMMIT ? DbCallKind::Commit : DbCallKind::Rollback,
                        SQL_HANDLE_DBC, dbConnection);
    if (!call.admitted())
        return SQL_ERROR;
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
