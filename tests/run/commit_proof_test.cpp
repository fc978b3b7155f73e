// What an atomic unit proves before its commit, the shrink guard and the dry
// run, on whole runs of the real binary on the small site: a transaction
// that the driver lost without a word is found and retried, a rebuild that
// would remove too many authorisations is refused, and a dry run changes
// nothing and prints what a clean rebuild writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "runner.h"
#include "testdb.h"

namespace {

using Lines = std::vector<std::string>;
using Rows = std::vector<std::vector<std::string>>;

void saveTables() {
    for (const char* name : kTestDbDownloadTables) {
        testDbExec(std::string("DROP TABLE IF EXISTS public.proof_") + name);
        testDbExec(std::string("CREATE TABLE public.proof_") + name +
                   " AS SELECT * FROM qvsystem." + name);
    }
}

void restoreTables() {
    for (const char* name : kTestDbDownloadTables) {
        testDbExec(std::string("DELETE FROM qvsystem.") + name);
        testDbExec(std::string("INSERT INTO qvsystem.") + name + " SELECT * FROM public.proof_" +
                   name);
    }
}

bool hasLineStarting(const Lines& lines, const std::string& start) {
    for (const std::string& line : lines) {
        if (line.rfind(start, 0) == 0)
            return true;
    }
    return false;
}

bool hasLineContaining(const Lines& lines, const std::string& part) {
    for (const std::string& line : lines) {
        if (line.find(part) != std::string::npos)
            return true;
    }
    return false;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class CommitProofTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testDbLoadSmallSite();
        atomic_.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
        atomic_.addEnvironment("VENDRAK_REBUILD=atomic");
    }
    ProgramResult runWith(ProgramRun& run, const std::vector<std::string>& arguments,
                          const std::string& rules) {
        run.setRules("dbsystem ORACLE\n" + rules);
        std::remove(logPath(run).c_str());
        return run.run(arguments);
    }
    static std::string logPath(const ProgramRun& run) {
        return run.root() + "/Quorvance_php/log/vendraklog.txt";
    }
    ProgramRun atomic_;
};

// A driver that ends the transaction part-way without a word: the
// interposer sends ROLLBACK instead of one statement, the statements after
// it succeed on their own. The proof before the commit finds the
// difference, the attempt is rolled back and retried once, and the tables
// are those of a clean run: for the full rebuild, and for key runs. Where
// B1's rows are missing the counts differ; B2's changed PIN and name leave
// every count as it was, and only the rows' content tells (lost after the
// balance phase's last insert, or at a booking class set in place after
// the key run updated B2's rows). The clean run keeps B2's new PIN.
TEST_F(CommitProofTest, TransactionLostUnnoticedIsFoundAndRetriedToTheCleanTables) {
    ASSERT_EQ(runWith(atomic_, {}, "").exitCode, 0);
    testDbExec(
        "UPDATE qvsystem.qvs301asw SET aswpin = '7777', aswnam = 'Neu, Nora' WHERE aswnum = 'B2';"
        "INSERT INTO qvsystem.qvsaswdnl (dnlkey, dnllfd, dnlasw) VALUES ('K1', 1, 'B1'), "
        "('K2', 1, 'B2')");
    const char* const withoutB1 =
        "DELETE FROM qvsystem.trmaswdnl WHERE dnlasw = 'B1';"
        "DELETE FROM qvsystem.aswbkldnl WHERE dnlasw = 'B1'";
    const struct {
        std::vector<std::string> arguments;
        const char* rule;
        const char* before;
        const char* differenceLine;
        const char* rowsWithNewPin;
    } cases[] = {
        {{},
         "rollback-instead 3 1 INSERT INTO Qvsystem.TrmAswDnl",
         withoutB1,
         "Die Tabelle TrmAswDnl hält ",
         "3"},
        {{"K1"},
         "rollback-instead 1 1 INSERT INTO Qvsystem.AswBklDnl",
         withoutB1,
         "Die Tabelle TrmAswDnl hält zu Ausweisnr. B1 ",
         "0"},
        {{},
         "rollback-instead 40 1 INSERT INTO Qvsystem.SalAswDnl2",
         "",
         "Die Tabelle TrmAswDnl hält 12 Zeilen, aber nicht die geschriebenen; ",
         "3"},
        {{"K2"},
         "rollback-instead 1 1 UPDATE QVSYSTEM.TRMASWDNL SET DNLB01",
         "",
         "Die Tabelle TrmAswDnl hält zu Ausweisnr. B2 3 Zeilen, aber nicht die erwarteten; ",
         "3"},
    };
    saveTables();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        restoreTables();
        testDbExec(std::string("SELECT 1;") + c.before);
        ProgramResult clean = runWith(atomic_, c.arguments, "");
        ASSERT_EQ(clean.exitCode, 0);
        ASSERT_EQ(clean.waits, std::vector<long>{});
        const std::vector<Rows> expected = testDbDownloadTables();
        restoreTables();
        testDbExec(std::string("SELECT 1;") + c.before);
        ProgramResult lost = runWith(atomic_, c.arguments, c.rule);
        EXPECT_EQ(lost.exitCode, 0) << ::testing::PrintToString(lost.log);
        EXPECT_TRUE(hasLineStarting(lost.log, c.differenceLine))
            << ::testing::PrintToString(lost.log);
        EXPECT_EQ(lost.waits, std::vector<long>{10000}) << "one retry";
        EXPECT_EQ(testDbDownloadTables(), expected);
        EXPECT_EQ(testDbValue("SELECT count(*) FROM qvsystem.trmaswdnl WHERE dnlasw = 'B2' AND "
                              "dnlpin = '7777' AND dnlnam = 'Nora Neu'"),
                  c.rowsWithNewPin);
    }
}

// With half the badges gone from the master data, TrmAswDnl and AswBklDnl
// would shrink to half. VENDRAK_MAX_SHRINK=20 refuses the rebuild
// at once: rolled back, not retried, on the log, standard error and in the
// metrics; 70, 100 (also as 0100) and no limit let it go ahead, and so do a
// table that held no rows and one that shrinks by exactly the limit (10
// AswBklDnl rows to 3 at 70). A dry run is judged alike.
TEST_F(CommitProofTest, RebuildAfterHalfTheBadgesAreGoneIsRefusedBeyondTheLimit) {
    const struct {
        const char* limit;
        bool dryRun;
        bool emptyBefore;
        int exitCode;
        bool tenAccessRows = false;
    } cases[] = {
        {"20", false, false, 99}, {"70", false, false, 0},   {"", false, false, 0},
        {"20", false, true, 0},   {"20", true, false, 99},   {"70", false, false, 0, true},
        {"100", false, false, 0}, {"0100", false, false, 0},
    };
    ASSERT_EQ(runWith(atomic_, {}, "").exitCode, 0);
    saveTables();
    testDbExec("DELETE FROM qvsystem.qvs301asw WHERE aswnum IN ('B1', 'B2', 'B4')");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.limit) + (c.dryRun ? " dry run" : "") +
                     (c.emptyBefore ? " empty before" : "") + (c.tenAccessRows ? " exactly" : ""));
        restoreTables();
        if (c.emptyBefore)
            testDbExec("DELETE FROM qvsystem.trmaswdnl; DELETE FROM qvsystem.aswbkldnl");
        if (c.tenAccessRows)
            testDbExec("INSERT INTO qvsystem.aswbkldnl VALUES ('S', 'S1', 'S'), ('S', 'S2', 'S')");
        const std::vector<Rows> before = testDbDownloadTables();
        ProgramRun run;
        run.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
        if (!c.dryRun)
            run.addEnvironment("VENDRAK_REBUILD=atomic");
        run.addEnvironment(std::string("VENDRAK_MAX_SHRINK=") + c.limit);
        run.addEnvironment("VENDRAK_METRICS_FILE=" + run.root() + "/metrics.prom");
        ProgramResult result = runWith(run, c.dryRun ? Lines{"--dry-run"} : Lines{}, "");
        EXPECT_EQ(result.exitCode, c.exitCode) << ::testing::PrintToString(result.log);
        if (c.exitCode == 0) {
            EXPECT_NE(testDbDownloadTables(), before);
            continue;
        }
        EXPECT_TRUE(
            hasLineStarting(result.log,
                            "Die Tabelle TrmAswDnl hielte 6 statt 12 Zeilen, weniger als 80% "
                            "(VENDRAK_MAX_SHRINK=20); die Aufbereitung wird zurückgenommen!"))
            << ::testing::PrintToString(result.log);
        EXPECT_NE(result.errors.find("vendrak: TrmAswDnl would hold 6 rows instead of 12, fewer "
                                     "than 80% of them (VENDRAK_MAX_SHRINK=20)"),
                  std::string::npos)
            << result.errors;
        EXPECT_EQ(result.waits, std::vector<long>{}) << "not retried";
        EXPECT_EQ(testDbDownloadTables(), before);
        EXPECT_EQ(result.output, "");
        const std::string metrics = fileText(run.root() + "/metrics.prom");
        if (!c.dryRun) {
            EXPECT_NE(metrics.find("vendrak_last_run_refused{reason=\"shrink\"} 1\n"),
                      std::string::npos)
                << metrics;
        }
    }
}

// The dry run of a site whose tables hold one stale row each, without
// VENDRAK_REBUILD: the tables stay as they were, standard output gives each
// table's rows now and those of a clean rebuild, the log says that nothing
// was kept, and no metrics file is written. 400 more badges give TrmAswDnl
// 1212 rows, which its proof reads in two pages (the second after T3, X0188).
TEST_F(CommitProofTest, DryRunLeavesTheTablesAndPrintsWhatACleanRebuildWrites) {
    testDbExec(
        "INSERT INTO qvsystem.qvs301asw (aswnum, aswgvo, aswatp, aswaan, aswsal, aswpin, aswnam, "
        "aswsto) SELECT 'X' || lpad(n::text, 4, '0'), CURRENT_DATE - 1, n, 'A', '', '1', 'X, Y', "
        "'S1' FROM generate_series(1, 400) n;"
        "INSERT INTO qvsystem.qvs301awb SELECT aswnum, 'K1' FROM qvsystem.qvs301asw "
        "WHERE aswnum LIKE 'X%'");
    ASSERT_EQ(runWith(atomic_, {}, "").exitCode, 0);
    const char* const names[] = {"TrmAswDnl", "SalAswDnl", "SalAswDnl2", "AswBklDnl"};
    std::string expected;
    for (int t = 0; t < 4; ++t) {
        expected +=
            std::string(names[t]) + " 1 -> " +
            testDbValue(std::string("SELECT count(*) FROM qvsystem.") + kTestDbDownloadTables[t]) +
            "\n";
    }
    for (const char* name : kTestDbDownloadTables) {
        testDbExec(std::string("DELETE FROM qvsystem.") + name +
                   " WHERE ctid <> (SELECT min(ctid) FROM qvsystem." + name + ")");
    }
    const std::vector<Rows> before = testDbDownloadTables();
    ProgramRun run;
    run.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
    run.addEnvironment("VENDRAK_METRICS_FILE=" + run.root() + "/metrics.prom");
    ProgramResult result = runWith(run, {"--dry-run"}, "");
    EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result.log);
    EXPECT_EQ(result.output, expected);
    EXPECT_EQ(result.waits, std::vector<long>{});
    EXPECT_TRUE(hasLineStarting(result.trace, "SELECT DnlTrm, DnlSal, DnlAsw,"))
        << ::testing::PrintToString(result.trace);
    EXPECT_TRUE(hasLineContaining(result.trace,
                                  "WHERE DnlTrm >= 'T3' AND (DnlTrm > 'T3' OR DnlAsw > 'X0188')"));
    EXPECT_EQ(testDbDownloadTables(), before);
    ASSERT_GE(result.log.size(), 2u);
    EXPECT_EQ(result.log[result.log.size() - 2], "Probelauf: nichts wurde übernommen.");
    EXPECT_FALSE(hasLineStarting(result.log, "Download-Key")) << "the option taken for a key";
    EXPECT_FALSE(std::filesystem::exists(run.root() + "/metrics.prom"));

    // SIGTERM after the proof (at the free of its last count): 99 and the
    // stop's line, as an atomic run's commit would be refused.
    run.setHook("kill -TERM $PPID");
    ProgramResult stopped =
        runWith(run, {"--dry-run"}, "hook free 2 SELECT COUNT(*) FROM QVSYSTEM.ASWBKLDNL");
    EXPECT_EQ(stopped.exitCode, 99);
    EXPECT_TRUE(hasLineStarting(stopped.log, "Der Lauf wurde durch das Signal SIGTERM"));
    EXPECT_EQ(stopped.output, "");
    EXPECT_EQ(testDbDownloadTables(), before);
}

// A driver that holds no transaction open. One that refuses auto-commit off,
// says yes and reads back "on" (committing every statement), or has no
// transactions is refused on the first session, before any statement: the
// atomic rebuild, an atomic key run and the dry run. One that also reads
// back "off" is found by the counts after the rollback of a dry run or of a
// failed attempt (a stale row gone from each table; after a crash, on the new
// session), which end the run loudly, without a retry.
TEST_F(CommitProofTest, DriverWithoutAnOpenTransactionNeverPassesForOne) {
    ASSERT_EQ(runWith(atomic_, {}, "").exitCode, 0);
    testDbExec(
        "INSERT INTO qvsystem.trmaswdnl (dnltrm, dnlasw) VALUES ('STALE', 'STALE');"
        "INSERT INTO qvsystem.aswbkldnl VALUES ('S', 'S', 'S');"
        "INSERT INTO qvsystem.qvsaswdnl (dnlkey, dnllfd, dnlasw) VALUES ('K1', 1, 'B1')");
    saveTables();
    const std::string refused =
        "Die Datenquelle vendrak_test erlaubt keine atomare Aufbereitung und keinen Probelauf: ";
    const std::string kept = refused + "Auto-Commit bleibt nach dem Abschalten eingeschaltet!";
    const std::string changed =
        ", obwohl die Aufbereitung zurückgenommen wurde: die "
        "Datenquelle hat sie übernommen!";
    const std::string emptied = "Die Tabelle AswBklDnl hält 0 Zeilen statt 9" + changed;
    const struct {
        Lines arguments;
        std::string rules;
        std::string line;
        std::string hook = "";
    } cases[] = {
        {{}, "autocommit-off ignored", kept},
        {{"K1"}, "autocommit-off ignored", kept},
        {{"--dry-run"}, "autocommit-off ignored", kept},
        {{"--dry-run"}, "autocommit-off refused", refused + "der Treiber lehnt das Abschalten"},
        {{}, "txn-capable none", refused + "der Treiber unterstützt keine Transaktionen!"},
        {{"--dry-run"}, "autocommit-off hidden", "Die Tabelle TrmAswDnl hält 12 Zeilen statt 13"},
        {{}, "autocommit-off hidden\nexec 1 1 HY000 20000 INSERT INTO Qvsystem.AswBklDnl", emptied},
        {{},
         "autocommit-off hidden\nhook exec 1 INSERT INTO Qvsystem.AswBklDnl",
         emptied,
         testDbServerCommand("crash")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rules + ::testing::PrintToString(c.arguments));
        restoreTables();
        const std::vector<Rows> before = testDbDownloadTables();
        atomic_.setHook(c.hook);
        ProgramResult result = runWith(atomic_, c.arguments, c.rules);
        const bool refusal = c.line.rfind(refused, 0) == 0;
        EXPECT_EQ(result.exitCode, 99);
        EXPECT_TRUE(hasLineStarting(result.log, c.line)) << ::testing::PrintToString(result.log);
        EXPECT_NE(result.errors.find(refusal ? "so this run writes nothing"
                                             : "although the work was rolled back"),
                  std::string::npos);
        EXPECT_EQ(result.waits, std::vector<long>{}) << "not retried";
        EXPECT_EQ(result.output, "");
        if (refusal) {
            EXPECT_EQ(result.trace, Lines{});
            EXPECT_EQ(testDbDownloadTables(), before);
        }
    }
}

}  // namespace
