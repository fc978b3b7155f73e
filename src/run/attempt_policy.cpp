#include "run/attempt_policy.h"

#include "db/session.h"
#include "db/transaction.h"
#include "log/runlog.h"
#include "platform/platform.h"
#include "run/run_guard.h"

int prepareNextAttempt() {
    // Reconnect after every failure, whatever its cause: a builder that
    // failed half-way may have left the session in any state.
    if (dbReconnect() == 0)
        return runStopRequested() ? kNextAttemptStopped : kNextAttemptWithoutSession;
    platformWaitMs(kAttemptWaitMs);
    return runStopRequested() ? kNextAttemptStopped : kNextAttemptReady;
}

bool commitUnitOfWork() {
    if (!dbTransactionsOn())
        return true;
    int rc = dbCommit();
    if (rc == 0)
        return true;
    // After a stop signal nothing was sent; the stop is logged at the end.
    if (!runStopRequested())
        logFailure(LastDiag, "Fehler SQLCommit()! Errcode: %ld", static_cast<long>(rc));
    return false;
}

void rollBackFailedAttempt() {
    if (dbTransactionsOn())
        dbRollback();
}
