#include "run/attempt_policy.h"

#include "db/session.h"
#include "db/transaction.h"
#include "log/runlog.h"
#include "platform/platform.h"
#include "run/commit_proof.h"
#include "run/run_guard.h"
#include "run/transaction_guard.h"

namespace {

// One attempt: the steps in order up to the first that fails. The index of
// that step, or `count` when all succeeded.
std::size_t runAttempt(const WorkStep* steps, std::size_t count, long attempt) {
    for (std::size_t i = 0; i < count; ++i) {
        const WorkStep& step = steps[i];
        logLine("%s Versuch-Nr:%ld!", step.attempting, attempt);
        phaseAttemptBegins(step.metrics);
        bool done = step.work() != 0 && (!step.commits || commitUnitOfWork());
        phaseAttemptEnds(step.metrics);
        if (!done)
            return i;
        logLine("%s", step.succeeded);
    }
    return count;
}

// After failed attempt `attempt`: first its writes are rolled back in an
// atomic rebuild, so that the tables stay as they were before it. Ending the
// session would undo them as well, but a driver may refuse to disconnect
// while a transaction is open, and the old session would then keep its locks
// on the download tables. The rollback is proved by counting the tables (on
// the new session when the failure took the old one with it); tables that
// changed all the same end the run. Then true when the next attempt may
// start: the session is built anew whatever the failure's cause, since work
// that failed half-way may have left it in any state, and the pause is over.
// A stop signal is logged once at the end of the run.
bool readyForNextAttempt(const WorkStep& failedStep, long attempt) {
    if (dbTransactionsOn())
        dbRollback();
    // A data source that kept what was rolled back would keep it again.
    if (proveRollback() == kRollbackChangedTables)
        return false;
    // Another attempt would find the same master data.
    if (runStopRequested() || CommitProof.shrinkRefused)
        return false;
    if (attempt == kAttempts) {
        logLine("%s", failedStep.failed);
        return false;
    }
    if (dbReconnect() == 0) {
        if (!runStopRequested())
            logLine("%s", failedStep.connectionLost);
        return false;
    }
    if (proveRollback() == kRollbackChangedTables)
        return false;
    platformWaitMs(kAttemptWaitMs);
    return !runStopRequested();
}

}  // namespace

int runAttempts(const WorkStep* steps, std::size_t count) {
    for (long attempt = 1; attempt <= kAttempts; ++attempt) {
        std::size_t failed = runAttempt(steps, count, attempt);
        if (failed == count)
            return 1;
        if (!readyForNextAttempt(steps[failed], attempt))
            return 0;
    }
    return 0;
}

bool commitUnitOfWork() {
    if (!dbTransactionsOn())
        return true;
    if (!unitHoldsWhatItWrote())
        return false;
    // The dry run's rebuild is rolled back once it has succeeded.
    if (CommitProof.dryRun)
        return true;
    int rc = dbCommit();
    if (rc == 0) {
        unitCommitted();
        return true;
    }
    // After a stop signal nothing was sent; the stop is logged at the end.
    if (!runStopRequested())
        logFailure(LastDiag, "Fehler SQLCommit()! Errcode: %ld", static_cast<long>(rc));
    return false;
}
