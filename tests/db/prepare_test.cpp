// The full-rebuild driver with phases of the tests' own: attempts,
// reconnections, waits and messages.
#include "run/prepare.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "db_fixture.h"
#include "log_lines.h"
#include "platform/stop_signal.h"
#include "run/attempt_policy.h"

namespace {

using Lines = std::vector<std::string>;

// Phase builders that fail a scripted number of times before succeeding.
int failuresLeft[3];
int calls[3];
template <int N>
int scriptedBuilder() {
    ++calls[N];
    if (failuresLeft[N] > 0) {
        --failuresLeft[N];
        return 0;
    }
    return 1;
}

const WorkStep kPhases[] = {
    {scriptedBuilder<0>, "A", "A ok", "A failed", "A no connection",
     RunPhase::TerminalAuthorisations, false},
    {scriptedBuilder<1>, "B", "B ok", "B failed", "B no connection", RunPhase::BalanceValues,
     false},
    {scriptedBuilder<2>, "C", "C ok", "C failed", "C no connection", RunPhase::AccessAuthorisations,
     true},
};

class PrepareTest : public DbTest {
  protected:
    void SetUp() override {
        DbTest::SetUp();
        for (int i = 0; i < 3; ++i)
            failuresLeft[i] = calls[i] = 0;
    }
    int run() { return runPhases(kPhases, 3); }
};

TEST_F(PrepareTest, AllPhasesSucceedAtTheFirstAttempt) {
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(logLines(), (Lines{"A Versuch-Nr:1!", "A ok", "B Versuch-Nr:1!", "B ok",
                                 "C Versuch-Nr:1!", "C ok"}));
    EXPECT_TRUE(waits().empty());
}

TEST_F(PrepareTest, SecondPhaseFailingOnceIsRepeatedAfterAReconnection) {
    failuresLeft[1] = 1;
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(logLines(),
              (Lines{"A Versuch-Nr:1!", "A ok", "B Versuch-Nr:1!", kReconnectedAtOnce[0],
                     kReconnectedAtOnce[1], "B Versuch-Nr:2!", "B ok", "C Versuch-Nr:1!", "C ok"}));
    EXPECT_EQ(waits(), (std::vector<long>{10000}));
    EXPECT_EQ(calls[1], 2);
}

TEST_F(PrepareTest, FirstPhaseFailingFiveTimesEndsTheRebuild) {
    failuresLeft[0] = 5;
    EXPECT_EQ(run(), 0);
    Lines expected;
    for (int attempt = 1; attempt <= 5; ++attempt) {
        expected.push_back("A Versuch-Nr:" + std::to_string(attempt) + "!");
        if (attempt < 5)
            expected.insert(expected.end(), kReconnectedAtOnce, kReconnectedAtOnce + 2);
    }
    expected.push_back("A failed");
    EXPECT_EQ(logLines(), expected);
    EXPECT_EQ(waits(), (std::vector<long>(4, 10000)));
    EXPECT_EQ(calls[1], 0);
    EXPECT_EQ(calls[2], 0);
}

TEST_F(PrepareTest, FailedReconnectionEndsTheRebuildAtOnce) {
    failuresLeft[2] = 1;
    ASSERT_EQ(ipConfigure("connect 1 5 08001 12541"), 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(run(), 0);
    testing::internal::GetCapturedStdout();
    Lines lines = logLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Fehler dbConnect(dbReconnect)! Errcode: -1 Versuch-Nr.: 5");
    EXPECT_EQ(lines.back(), "C no connection");
    EXPECT_EQ(waits(), (std::vector<long>(5, 60000)))
        << "no attempt wait after a failed reconnection";
    EXPECT_EQ(calls[2], 1);
}

// A stop signal that comes as the pause between two attempts begins, after
// the run looked at the stop flag, still ends the pause at once, and no
// further attempt follows. The pause is waited for real; the hook sends the
// signal inside the wait call, before the pause starts. In a child process,
// since the stop stays for the rest of the process.
TEST_F(PrepareTest, StopJustBeforeThePauseEndsItAtOnce) {
    EXPECT_EXIT(
        {
            platformCatchStopSignals(nullptr);
            ipRecordWaits(0);
            ipSetHook("kill -TERM $PPID");
            ipConfigure("hook wait 1");
            failuresLeft[0] = 1;
            auto start = std::chrono::steady_clock::now();
            int result = run();
            auto took = std::chrono::steady_clock::now() - start;
            std::exit(result == 0 && calls[0] == 1 && took < std::chrono::seconds(5) ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
