#include "db/call_in_flight.h"

#include <pthread.h>
#include <unistd.h>

#include "db/time_limits.h"
#include "platform/monitoring.h"
#include "platform/stop_signal.h"

namespace {

constexpr long long kNever = -1;
constexpr long long kMsPerSecond = 1000;

// The call in flight. The run's thread registers and removes it under the
// lock; the watcher looks, cancels and claims the end under the same lock,
// so that it never cancels a handle that is being freed and the end is
// claimed only while the call has not returned. A cancel thread counts in
// `cancelsRunning` until its cancel has returned; the call is removed only
// after that, so no cancel outlives its handle.
struct CallRegistry {
    pthread_mutex_t lock;
    pthread_cond_t changed;  // a cancel returned, or the end was claimed
    bool inFlight;
    DbCallKind kind;
    SQLSMALLINT handleType;
    SQLHANDLE handle;
    long long startMs;
    long limitSeconds;
    long long cancelledMs;  // the last cancel of this call, kNever before one
    int cancelsRunning;
    long long stopSeenMs;  // when the watcher first saw the stop, kNever before
    bool endClaimed;
};

CallRegistry calls = {PTHREAD_MUTEX_INITIALIZER,
                      PTHREAD_COND_INITIALIZER,
                      false,
                      DbCallKind::Execute,
                      0,
                      SQL_NULL_HANDLE,
                      0,
                      0,
                      kNever,
                      0,
                      kNever,
                      false};

bool refusedAfterStop(DbCallKind kind) {
    return kind == DbCallKind::Execute || kind == DbCallKind::Fetch ||
           kind == DbCallKind::Statistics || kind == DbCallKind::Commit;
}

long limitOf(DbCallKind kind) {
    if (kind == DbCallKind::Connect || kind == DbCallKind::Disconnect)
        return DbTimeLimits.loginSeconds;
    return DbTimeLimits.statementSeconds;
}

// The process ends on the watcher's thread; this one stays inside the call.
[[noreturn]] void parkForever() {
    for (;;)
        pause();
}

void cancelReturned() {
    pthread_mutex_lock(&calls.lock);
    --calls.cancelsRunning;
    pthread_cond_broadcast(&calls.changed);
    pthread_mutex_unlock(&calls.lock);
}

void* cancelStatement(void* handle) {
    SQLCancel(static_cast<SQLHSTMT>(handle));
    cancelReturned();
    return nullptr;
}

// A commit or rollback has no statement to cancel; a driver that cancels
// connection handles (ODBC 3.8) gets the chance, others refuse it.
void* cancelTransactionEnd(void* handle) {
    SQLCancelHandle(SQL_HANDLE_DBC, static_cast<SQLHDBC>(handle));
    cancelReturned();
    return nullptr;
}

// Under the lock: cancels the call in flight on a short-lived thread of its
// own, so that a cancel that blocks holds neither the lock nor the watcher.
void startCancel(long long nowMs) {
    calls.cancelledMs = nowMs;
    void* (*cancel)(void*) = cancelStatement;
    if (calls.handleType != SQL_HANDLE_STMT)
        cancel = cancelTransactionEnd;
    // A connect or disconnect has nothing to cancel: unixODBC's cancel of a
    // connection that is not (or no longer) connected may reach a driver
    // that is not loaded. A free is not cancelled either: the cancel would
    // use the handle while the free destroys it. Their end comes all the same.
    if (calls.kind == DbCallKind::Connect || calls.kind == DbCallKind::Disconnect ||
        calls.kind == DbCallKind::Free)
        return;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, cancel, calls.handle) != 0)
        return;
    ++calls.cancelsRunning;
    pthread_detach(thread);
}

// Under the lock: starts a cancel that is due and returns when the run must
// end for the call in flight (kNever: not yet known).
long long endOfCallInFlight(long long nowMs, bool stopped) {
    if (stopped) {
        if (calls.cancelsRunning == 0 &&
            (calls.cancelledMs == kNever ||
             nowMs - calls.cancelledMs >= kCancelRepeatSeconds * kMsPerSecond))
            startCancel(nowMs);
        long long from = calls.stopSeenMs > calls.startMs ? calls.stopSeenMs : calls.startMs;
        return from + kEndAfterStopSeconds * kMsPerSecond;
    }
    if (calls.limitSeconds <= 0)
        return kNever;
    if (calls.cancelledMs == kNever &&
        nowMs >= calls.startMs + (calls.limitSeconds + kCancelAfterLimitSeconds) * kMsPerSecond)
        startCancel(nowMs);
    if (calls.cancelledMs == kNever)
        return kNever;
    return calls.cancelledMs + kEndAfterCancelSeconds * kMsPerSecond;
}

}  // namespace

const char* dbCallName(DbCallKind kind) {
    switch (kind) {
        case DbCallKind::Execute:
            return "SQLExecDirect";
        case DbCallKind::Fetch:
            return "SQLFetch";
        case DbCallKind::Statistics:
            return "SQLStatistics";
        case DbCallKind::Connect:
            return "SQLConnect";
        case DbCallKind::Commit:
            return "SQLEndTran(COMMIT)";
        case DbCallKind::Rollback:
            return "SQLEndTran(ROLLBACK)";
        case DbCallKind::Disconnect:
            return "SQLDisconnect";
        case DbCallKind::Free:
            return "SQLFreeHandle(STMT)";
    }
    return "ODBC";
}

DbCallInFlight::DbCallInFlight(DbCallKind kind, SQLSMALLINT handleType, SQLHANDLE handle) {
    pthread_mutex_lock(&calls.lock);
    // A stop that came before the registration refuses it: the watcher may
    // have looked already.
    admitted_ = !(refusedAfterStop(kind) && platformStopSignal() != 0);
    if (admitted_) {
        calls.inFlight = true;
        calls.kind = kind;
        calls.handleType = handleType;
        calls.handle = handle;
        calls.startMs = platformMonotonicMs();
        calls.limitSeconds = limitOf(kind);
        calls.cancelledMs = kNever;
    }
    pthread_mutex_unlock(&calls.lock);
}

DbCallInFlight::~DbCallInFlight() {
    if (!admitted_)
        return;
    pthread_mutex_lock(&calls.lock);
    while (calls.cancelsRunning > 0 && !calls.endClaimed)
        pthread_cond_wait(&calls.changed, &calls.lock);
    if (calls.endClaimed) {
        pthread_mutex_unlock(&calls.lock);
        parkForever();
    }
    calls.inFlight = false;
    calls.handle = SQL_NULL_HANDLE;
    pthread_mutex_unlock(&calls.lock);
}

int dbSuperviseCallInFlight(long long nowMs, bool stopped, OverdueCall* overdue) {
    pthread_mutex_lock(&calls.lock);
    if (stopped && calls.stopSeenMs == kNever)
        calls.stopSeenMs = nowMs;
    if (!calls.inFlight || calls.endClaimed) {
        pthread_mutex_unlock(&calls.lock);
        return kDbCallsGoOn;
    }
    long long endMs = endOfCallInFlight(nowMs, stopped);
    if (endMs == kNever || nowMs < endMs) {
        pthread_mutex_unlock(&calls.lock);
        return kDbCallsGoOn;
    }
    calls.endClaimed = true;
    pthread_cond_broadcast(&calls.changed);
    overdue->kind = calls.kind;
    overdue->waitedSeconds = static_cast<long>((nowMs - calls.startMs) / kMsPerSecond);
    pthread_mutex_unlock(&calls.lock);
    return kDbRunMustEnd;
}
