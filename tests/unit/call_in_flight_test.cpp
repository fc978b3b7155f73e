// The bound on a database call in flight, with the watcher's clock given by
// the test: when the watcher cancels, when it ends the run, and that exactly
// one of the watcher and a call returning at the last moment ends the run.
// Each case runs in a child process of its own, since the registry is the
// process's and a claimed end is final (the call's thread then never
// returns).
#include "db/call_in_flight.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "db/time_limits.h"
#include "platform/monitoring.h"

namespace {

// One look of the watcher, `atMs` after the call began.
struct Look {
    long long atMs;
    bool stopped;
    int expected;
};

struct Case {
    const char* name;
    DbCallKind kind;
    long statementSeconds;
    long loginSeconds;
    std::vector<Look> looks;
    bool returnsBeforeLastLook;  // the call comes back right before the last look
    bool endsTheRun;             // the watcher claims the end: the call never returns
    bool cancelBlocks = false;   // its cancel returns only once the call has been released
};

// The test's cancels (SQLCancel below) block while this is set.
std::atomic<bool> cancelHeld{false};

bool eventually(const std::atomic<bool>& flag) {
    for (int i = 0; i < 200 && !flag; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return flag;
}

// In the child: 0 when every look gave what it should and the call's thread
// returned or stayed inside the call as the case says; otherwise the number
// of the check that failed.
int runCase(const Case& c) {
    DbTimeLimits = {c.loginSeconds, c.statementSeconds};
    cancelHeld = c.cancelBlocks;
    std::atomic<bool> registered{false}, release{false}, returned{false};
    std::thread call([&] {
        {
            DbCallInFlight inFlight(c.kind, SQL_HANDLE_STMT, SQL_NULL_HSTMT);
            registered = true;
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        returned = true;
    });
    call.detach();
    if (!eventually(registered))
        return 1;
    const long long start = platformMonotonicMs();
    OverdueCall overdue = {};
    for (std::size_t i = 0; i < c.looks.size(); ++i) {
        const Look& look = c.looks[i];
        if (c.returnsBeforeLastLook && i + 1 == c.looks.size()) {
            release = true;
            // The handle is freed after the call: no cancel may outlive it.
            std::this_thread::sleep_for(std::chrono::milliseconds(c.cancelBlocks ? 300 : 0));
            if (returned && c.cancelBlocks)
                return 5;
            cancelHeld = false;
            if (!eventually(returned))
                return 2;
        }
        if (dbSuperviseCallInFlight(start + look.atMs, look.stopped, &overdue) != look.expected)
            return 10 + static_cast<int>(i);
        if (look.expected == kDbRunMustEnd &&
            (overdue.kind != c.kind || overdue.waitedSeconds != look.atMs / 1000))
            return 3;
    }
    release = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return returned == !c.endsTheRun ? 0 : 4;
}

TEST(CallInFlightTest, WatcherCancelsAndEndsTheRunAtItsBoundAndExactlyOneSideEndsIt) {
    const int go = kDbCallsGoOn, end = kDbRunMustEnd;
    const Case cases[] = {
        // Statement time-out 1 s: the cancel at 31 s, the end 10 s after it,
        // claimed once.
        {"time-out",
         DbCallKind::Execute,
         1,
         30,
         {{30900, false, go},
          {31000, false, go},
          {40900, false, go},
          {41000, false, end},
          {41500, false, go}},
         false,
         true},
        // A connect has the login time-out.
        {"connect",
         DbCallKind::Connect,
         900,
         2,
         {{31900, false, go}, {32000, false, go}, {42000, false, end}},
         false,
         true},
        // A disconnect has the login time-out too; a statement's free has the
        // statement time-out, and its end comes without a cancel.
        {"disconnect",
         DbCallKind::Disconnect,
         900,
         2,
         {{31900, false, go}, {32000, false, go}, {42000, false, end}},
         false,
         true},
        {"free", DbCallKind::Free, 1, 900, {{31000, false, go}, {41000, false, end}}, false, true},
        // The call comes back at the last moment before the end: the run
        // goes on.
        {"returned in time",
         DbCallKind::Commit,
         1,
         30,
         {{31000, false, go}, {41000, false, go}},
         true,
         false},
        // A call that comes back while its cancel still runs waits for it.
        {"returned while cancelled",
         DbCallKind::Execute,
         1,
         30,
         {{31000, false, go}, {31500, false, go}},
         true,
         false,
         true},
        // No limit: only a stop ends it, 10 s after the stop.
        {"stop without a limit",
         DbCallKind::Fetch,
         0,
         0,
         {{86400000, false, go},
          {86500000, false, go},
          {86501000, true, go},
          {86510900, true, go},
          {86511000, true, end}},
         false,
         true},
        // A call that began after the stop (a rollback) still gets its 10 s.
        {"call after the stop",
         DbCallKind::Rollback,
         0,
         0,
         {{-5000, true, go}, {9900, true, go}, {10000, true, end}},
         false,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            _exit(runCase(c));
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "the check that failed";
    }
}

}  // namespace

// The test's cancel; the driver manager's would return at once for the null
// handle of these calls.
extern "C" SQLRETURN SQL_API SQLCancel(SQLHSTMT) {
    while (cancelHeld)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return SQL_SUCCESS;
}
