// Runs of the real binary whose database call never returns: a link that
// goes silent (the TCP relay of the test support stops passing data, both
// sockets open) and a commit that waits for a synchronous standby that does
// not exist. The program's own bound ends each run, by itself and on
// SIGTERM, and an atomic rebuild leaves the tables as they were, or complete
// where the server took the commit. The statement time-out is 1 s, so a run
// ends by itself after 1 + 30 + 10 seconds.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "log_lines.h"
#include "runner.h"
#include "tcp_relay.h"
#include "testdb.h"

namespace {

using Lines = std::vector<std::string>;
using Rows = std::vector<std::vector<std::string>>;
using Clock = std::chrono::steady_clock;

bool eventually(int seconds, bool (*done)()) {
    auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (!done() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return done();
}

bool noOtherSession() {
    return testDbValue(
               "SELECT count(*) FROM pg_stat_activity WHERE backend_type = 'client backend' "
               "AND pid <> pg_backend_pid()") == "0";
}

bool commitWaitsForTheStandby() {
    return testDbValue("SELECT count(*) FROM pg_stat_activity WHERE wait_event = 'SyncRep'") == "1";
}

// The line of a call that did not return, with the seconds it waited;
// `seconds` < 0 matches any number of them.
constexpr const char* kHangStart = "Der Datenbankaufruf ";
constexpr const char* kStatementHangEnd = " Sekunden nicht; der Lauf wird beendet.";
constexpr const char* kCommitHangEnd =
    " Sekunden nicht; ob die Aufbereitung übernommen wurde, ist unbekannt: die Zeilen von "
    "TrmAswDnl zeigen es.";
bool isHangLine(const std::string& line, const char* call, long seconds, const char* end) {
    const std::string start = std::string(kHangStart) + call + " antwortete nach ";
    if (line.rfind(start, 0) != 0 || line.size() < start.size() + std::strlen(end) ||
        line.compare(line.size() - std::strlen(end), std::string::npos, end) != 0)
        return false;
    const std::string number =
        line.substr(start.size(), line.size() - start.size() - std::strlen(end));
    return number.find_first_not_of("0123456789") == std::string::npos &&
           (seconds < 0 || number == std::to_string(seconds));
}

Lines lastLines(const ProgramResult& result, std::size_t count) {
    if (result.log.size() < count)
        return result.log;
    return Lines(result.log.end() - static_cast<long>(count), result.log.end());
}

// A run that the test watches: started at once, killed when it has not
// ended after `limitSeconds` (the test then fails instead of hanging).
struct WatchedRun {
    WatchedRun(ProgramRun& run, int limitSeconds, const std::vector<std::string>& arguments = {})
        : run_(run), started_(run.start(arguments, "")) {
        killer_ = std::thread([this, limitSeconds] {
            auto deadline = Clock::now() + std::chrono::seconds(limitSeconds);
            while (!ended_ && Clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (!ended_)
                kill(started_.pid, SIGKILL);
        });
    }
    ProgramResult finish() {
        ProgramResult result = run_.finish(started_);
        ended_ = true;
        killer_.join();
        return result;
    }
    int pid() const { return started_.pid; }

    ProgramRun& run_;
    StartedRun started_;
    std::atomic<bool> ended_{false};
    std::thread killer_;
};

// The seconds from `since` to now.
double secondsSince(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

class HungCallTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testDbLoadSmallSite();
        before_ = testDbDownloadTables();
        atomic_.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
        atomic_.addEnvironment("VENDRAK_REBUILD=atomic");
        atomic_.setRules("dbsystem ORACLE");
    }

    // The server waits for a standby named "ghost" at every commit that
    // writes; the test's own session commits locally. Reset in TearDown,
    // whatever the test did.
    void withoutStandby() {
        testDbExec("SET synchronous_commit = local");
        standbyNamed_ = true;
        ASSERT_EQ(standby("ghost"), 0);
    }
    void TearDown() override { restoreStandby(); }
    void restoreStandby() {
        if (!standbyNamed_)
            return;
        standbyNamed_ = false;
        EXPECT_EQ(standby(""), 0);
        testDbExec("RESET synchronous_commit");
        EXPECT_TRUE(eventually(10, noOtherSession)) << "the hung commit's session stays";
    }
    static int standby(const char* name) {
        std::string command = testDbServerCommand("standby") + " " + name;
        return std::system(command.c_str());
    }

    // Through a relay that the test silences once the run is at the
    // statement that `hookText` matches; that statement meets the silence.
    void silenceAt(ProgramRun& run, const TcpRelay& relay, const std::string& hookText) {
        run.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", testDbAddDsn(relay.port(), ""));
        marker_ = run.root() + "/at-statement";
        run.setRules("dbsystem ORACLE\nhook exec 1 " + hookText);
        run.setHook("touch " + marker_ + " && sleep 1");
    }
    bool atTheStatement() { return reached(marker_); }
    static bool reached(const std::string& marker) {
        auto deadline = Clock::now() + std::chrono::seconds(30);
        while (!std::filesystem::exists(marker) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return std::filesystem::exists(marker);
    }

    // Through a relay, with `settings` for its data source; the hook of
    // `rule` holds the run before its call until the link is silent (go_).
    void holdAt(ProgramRun& run, const TcpRelay& relay, const std::string& settings,
                const std::string& rule) {
        run.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE",
                          testDbAddDsn(relay.port(), settings));
        run.setRules("dbsystem ORACLE\n" + rule);
        run.setHook("touch " + run.root() + "/held; while [ ! -e " + go_ +
                    " ]; do sleep 0.05; done");
        run.addEnvironment("VENDRAK_METRICS_FILE=" + run.root() + "/metrics.prom");
    }

    ProgramRun atomic_;  // the installation with VENDRAK_REBUILD=atomic
    std::string go_ = atomic_.root() + "/go";
    std::vector<Rows> before_;
    std::string marker_;
    bool standbyNamed_ = false;
};

// Two runs side by side, each ending by itself 1 + 30 + 10 seconds into its
// call: one whose first statement meets a silent link, and an atomic
// rebuild whose commit waits for the missing standby. The silent run never
// reached the server, so the commit's locks do not stand in its way.
TEST_F(HungCallTest, SilentLinkAndHangingCommitEndTheRunByThemselves) {
    ASSERT_NO_FATAL_FAILURE(withoutStandby());
    TcpRelay relay(testDbServerPort());
    ProgramRun silent;
    silenceAt(silent, relay, "DELETE FROM QVSYSTEM.TRMASWDNL");
    silent.addEnvironment("VENDRAK_STATEMENT_TIMEOUT=1");
    atomic_.addEnvironment("VENDRAK_STATEMENT_TIMEOUT=1");

    WatchedRun silentRun(silent, 60);
    ASSERT_TRUE(atTheStatement());
    relay.silence();
    const Clock::time_point silenced = Clock::now();
    WatchedRun commitRun(atomic_, 90);
    ASSERT_TRUE(eventually(30, commitWaitsForTheStandby));
    const Clock::time_point committing = Clock::now();

    ProgramResult silentResult = silentRun.finish();
    const double silentSeconds = secondsSince(silenced);
    ProgramResult commitResult = commitRun.finish();
    const double commitSeconds = secondsSince(committing);

    EXPECT_EQ(silentResult.exitCode, 99);
    EXPECT_GT(silentSeconds, 39.0);
    EXPECT_LT(silentSeconds, 44.0);
    Lines silentTail = lastLines(silentResult, 3);
    ASSERT_EQ(silentTail.size(), 3u);
    EXPECT_TRUE(isHangLine(silentTail[0], "SQLExecDirect", 41, kStatementHangEnd)) << silentTail[0];
    EXPECT_EQ(Lines(silentTail.begin() + 1, silentTail.end()), (Lines{kFailed, kEnd}));
    EXPECT_EQ(commitResult.exitCode, 99);
    EXPECT_GT(commitSeconds, 39.0);
    EXPECT_LT(commitSeconds, 44.0);
    Lines commitTail = lastLines(commitResult, 4);
    ASSERT_EQ(commitTail.size(), 4u);
    EXPECT_EQ(commitTail[0], "Erstelle Zutrittsberechtigungen Versuch-Nr:1!");
    EXPECT_TRUE(isHangLine(commitTail[1], "SQLEndTran(COMMIT)", 41, kCommitHangEnd))
        << commitTail[1];
    EXPECT_EQ(Lines(commitTail.begin() + 2, commitTail.end()), (Lines{kFailed, kEnd}));
    std::printf("ended %.1f s after the silence, %.1f s into the commit\n", silentSeconds,
                commitSeconds);
}

// Sends SIGTERM to a run whose `call` hangs and expects its end 9-15 s later:
// exit 99, the hang line of `call` (ending in `end`) and the stop's lines.
void stopAndExpectTheEnd(WatchedRun& run, const char* call, const char* end) {
    const Clock::time_point signalled = Clock::now();
    ASSERT_EQ(kill(run.pid(), SIGTERM), 0);
    ProgramResult result = run.finish();
    const double seconds = secondsSince(signalled);

    EXPECT_EQ(result.exitCode, 99);
    EXPECT_GT(seconds, 9.0);
    EXPECT_LT(seconds, 15.0);
    Lines tail = lastLines(result, 4);
    ASSERT_EQ(tail.size(), 4u);
    EXPECT_TRUE(isHangLine(tail[0], call, -1, end)) << tail[0];
    EXPECT_EQ(Lines(tail.begin() + 1, tail.end()), (Lines{kStoppedBy[0], kFailed, kEnd}));
}

// SIGTERM while the statement of an atomic rebuild's second phase meets the
// silent link, without a statement time-out: the cancel cannot reach the
// server either, and the run ends 10 s after the signal with the stop's
// lines. The first phase's writes never took effect.
TEST_F(HungCallTest, SigtermEndsARunWhoseStatementMeetsASilentLink) {
    TcpRelay relay(testDbServerPort());
    silenceAt(atomic_, relay, "DELETE FROM QVSYSTEM.SALASWDNL");
    atomic_.addEnvironment("VENDRAK_STATEMENT_TIMEOUT=0");
    WatchedRun run(atomic_, 60);
    ASSERT_TRUE(atTheStatement());
    relay.silence();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_NO_FATAL_FAILURE(stopAndExpectTheEnd(run, "SQLExecDirect", kStatementHangEnd));
    relay.close();
    EXPECT_TRUE(eventually(10, noOtherSession)) << "the run's session outlived the relay";
    EXPECT_EQ(testDbDownloadTables(), before_);
}

// SIGTERM while the atomic rebuild's commit waits for the missing standby:
// the run ends 10 s later and says that the commit's outcome is unknown.
// Once the standby is no longer required, the server finishes the commit that
// it had written locally: the tables are complete, never half.
TEST_F(HungCallTest, SigtermEndsARunWhoseCommitDoesNotReturn) {
    ASSERT_EQ(atomic_.run({}).exitCode, 0);
    const std::vector<Rows> complete = testDbDownloadTables();
    testDbLoadSmallSite();
    ASSERT_NO_FATAL_FAILURE(withoutStandby());
    atomic_.addEnvironment("VENDRAK_STATEMENT_TIMEOUT=0");
    WatchedRun run(atomic_, 60);
    ASSERT_TRUE(eventually(30, commitWaitsForTheStandby));
    ASSERT_NO_FATAL_FAILURE(stopAndExpectTheEnd(run, "SQLEndTran(COMMIT)", kCommitHangEnd));
    restoreStandby();
    EXPECT_NE(complete, before_);
    EXPECT_EQ(testDbDownloadTables(), complete) << "the server had written the commit";
}

// Three held at once by the silent link, each ended 10 s after SIGTERM: a
// rebuild at the free of its first cursor, which a failed insert closes
// before its end and psqlODBC, reading in batches, closes on the server
// (the end still writes the metrics file); a dry run at its first statement
// (it writes none); and the check at its first probe, with its own summary.
TEST_F(HungCallTest, SigtermEndsAFreeADryRunAndTheCheckOnASilentLink) {
    TcpRelay relay(testDbServerPort());
    ProgramRun rebuild, dryRun, check;
    holdAt(rebuild, relay, "UseDeclareFetch=1\nFetch=2\n",
           "exec 1 1 HY000 20000 INSERT INTO Qvsystem.TrmAswDnl\nhook free 1 as knzzet");
    holdAt(dryRun, relay, "", "hook exec 1 DELETE FROM QVSYSTEM.TRMASWDNL");
    holdAt(check, relay, "", "hook exec 1 SELECT");
    WatchedRun rebuildRun(rebuild, 60), dryRunRun(dryRun, 60, {"--dry-run"}),
        checkRun(check, 60, {"--check"});
    for (const ProgramRun* run : {&rebuild, &dryRun, &check})
        ASSERT_TRUE(reached(run->root() + "/held"));
    relay.silence();
    { std::ofstream create(go_); }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    // The other two are stopped with the rebuild and end with it.
    ASSERT_EQ(kill(dryRunRun.pid(), SIGTERM) | kill(checkRun.pid(), SIGTERM), 0);
    ASSERT_NO_FATAL_FAILURE(
        stopAndExpectTheEnd(rebuildRun, "SQLFreeHandle(STMT)", kStatementHangEnd));
    EXPECT_TRUE(std::filesystem::exists(rebuild.root() + "/metrics.prom"));
    ProgramResult tried = dryRunRun.finish();
    EXPECT_EQ(tried.exitCode, 99);
    ASSERT_GE(tried.log.size(), 4u);
    EXPECT_TRUE(isHangLine(lastLines(tried, 4)[0], "SQLExecDirect", -1, kStatementHangEnd));
    EXPECT_EQ(lastLines(tried, 3), (Lines{kStoppedBy[0], kFailed, kEnd}));
    EXPECT_FALSE(std::filesystem::exists(dryRun.root() + "/metrics.prom"));
    ProgramResult checked = checkRun.finish();
    EXPECT_EQ(checked.exitCode, 99);
    EXPECT_NE(checked.output.find("FAILED   SQLExecDirect did not answer after "),
              std::string::npos)
        << checked.output;
    EXPECT_EQ(
        checked.output.substr(checked.output.rfind("summary: ")),
        "summary: 6 ok, 0 warnings, 1 failed: stopped by SIGTERM, the check did not finish\n");
}

}  // namespace
