// The one database call in flight, and the bound on it. Every call that can
// wait on the database registers for as long as it runs; the run's watcher
// thread looks at it every few hundred milliseconds (dbSuperviseCallInFlight).
// A call that has not returned 30 s after its own limit is cancelled, and
// 10 s after that the run must end; after a stop signal it is cancelled at
// once, and 10 s after the stop the run must end. The driver's own time-outs
// cannot do this: a link that goes silent keeps the client's read blocked
// however the server enforces its limit.
#pragma once

#include <sql.h>

enum class DbCallKind { Execute, Fetch, Statistics, Connect, Commit, Rollback, Disconnect, Free };

// The ODBC name of the call for the log: "SQLExecDirect", "SQLEndTran(COMMIT)".
const char* dbCallName(DbCallKind kind);

constexpr long kCancelAfterLimitSeconds = 30;  // from the call's limit to the cancel
constexpr long kEndAfterCancelSeconds = 10;    // from that cancel to the end of the run
constexpr long kEndAfterStopSeconds = 10;      // from a stop to the end of the run
constexpr long kCancelRepeatSeconds = 2;       // between two cancels after a stop

// Registers one call for its length. The limit is the statement time-out for
// executes, fetches, statistics, commits, rollbacks and the free of a
// statement handle, the login time-out for a connect and a disconnect (0:
// none). After a stop signal an execute,
// fetch, statistics call or commit is refused: admitted() is false and the
// call must not be made. When the watcher has claimed the end of the run
// while the call was in flight, the destructor never returns: the process is
// ending, and the run's thread must not touch its state again.
class DbCallInFlight {
  public:
    DbCallInFlight(DbCallKind kind, SQLSMALLINT handleType, SQLHANDLE handle);
    ~DbCallInFlight();
    DbCallInFlight(const DbCallInFlight&) = delete;
    DbCallInFlight& operator=(const DbCallInFlight&) = delete;

    bool admitted() const { return admitted_; }

  private:
    bool admitted_ = false;
};

// The call that the run must end for.
struct OverdueCall {
    DbCallKind kind;
    long waitedSeconds;  // since it began
};

constexpr int kDbCallsGoOn = 0;
constexpr int kDbRunMustEnd = 1;

// One look of the watcher at `nowMs` (platformMonotonicMs), `stopped` once a
// stop signal has come. Starts a cancel where one is due; each runs on a
// thread of its own, since a cancel can itself block on a silent link.
// kDbRunMustEnd, with the call in `*overdue`, when the call in flight is past
// its end: the end is then claimed, once, and that call never returns to the
// run. kDbCallsGoOn otherwise, also when the call returned in time.
int dbSuperviseCallInFlight(long long nowMs, bool stopped, OverdueCall* overdue);
