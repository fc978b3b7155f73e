// What a run tells monitoring and the operator besides its log: the metrics
// file of VENDRAK_METRICS_FILE after a successful and a failed run, and the
// driver's diagnostic on standard error beside each failure line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "runner.h"
#include "test_config.h"
#include "testdb.h"

namespace {

using Metrics = std::map<std::string, double>;

// The samples of a metrics file, keyed by name and labels as written. The
// file must be what node_exporter's textfile collector accepts: every line a
// comment or a sample, every family announced by "# HELP" and
// "# TYPE ... gauge" before its first sample, no sample twice.
Metrics readMetrics(const std::string& path) {
    static const std::regex help(R"(# HELP (\w+) \S.*)");
    static const std::regex type(R"(# TYPE (\w+) gauge)");
    static const std::regex sample(R"((\w+)(\{[^}]*\})? (-?[0-9.]+))");
    std::set<std::string> announced;
    Metrics samples;
    std::ifstream in(path);
    EXPECT_TRUE(in.good()) << "no metrics file " << path;
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_match(line, m, help) || std::regex_match(line, m, type)) {
            announced.insert(m[1].str() + line.substr(2, 4));
        } else if (std::regex_match(line, m, sample)) {
            EXPECT_TRUE(announced.count(m[1].str() + "HELP") &&
                        announced.count(m[1].str() + "TYPE"))
                << line;
            EXPECT_TRUE(samples.emplace(m[1].str() + m[2].str(), std::stod(m[3].str())).second)
                << "twice: " << line;
        } else {
            ADD_FAILURE() << "not a metrics line: " << line;
        }
    }
    return samples;
}

const char* const kTables[] = {"TrmAswDnl", "SalAswDnl", "SalAswDnl2", "AswBklDnl"};
const char* const kPhases[] = {"terminal_authorisations", "balance_values", "access_authorisations",
                               "key_update"};

double rowsWritten(Metrics& m, const std::string& table) {
    return m["vendrak_rows_written{table=\"" + table + "\"}"];
}
double attempts(Metrics& m, const std::string& phase) {
    return m["vendrak_phase_attempts{phase=\"" + phase + "\"}"];
}

// After a full rebuild, each table's figure is its number of rows.
void expectRowsWrittenAreTheTablesRows(Metrics& m) {
    for (const char* table : kTables) {
        EXPECT_EQ(rowsWritten(m, table),
                  std::stod(testDbValue(std::string("SELECT count(*) FROM qvsystem.") + table)))
            << table;
    }
}

class MonitoringTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testDbLoadSmallSite();
        run_.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
        run_.setRules("dbsystem ORACLE");
        std::filesystem::create_directory(metricsFolder());
        run_.addEnvironment("VENDRAK_METRICS_FILE=" + metricsFile());
    }
    std::string metricsFolder() const { return run_.root() + "/textfile"; }
    std::string metricsFile() const { return metricsFolder() + "/vendrak.prom"; }

    ProgramRun run_;
};

TEST_F(MonitoringTest, FullRebuildWritesItsMetricsAtomicallyReadableByAll) {
    double before = static_cast<double>(std::time(nullptr));
    ProgramResult result = run_.run({});
    double after = static_cast<double>(std::time(nullptr)) + 1;
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.errors, "") << "nothing to report, and no progress off a terminal";

    Metrics m = readMetrics(metricsFile());
    EXPECT_EQ(m["vendrak_last_run_success"], 1);
    EXPECT_EQ(
        m.count("vendrak_last_run_info{mode=\"full\",version=\"" VENDRAK_PROJECT_VERSION "\"}"),
        1u);
    double start = m["vendrak_last_run_start_timestamp_seconds"];
    double end = m["vendrak_last_run_end_timestamp_seconds"];
    EXPECT_LE(before, start);
    EXPECT_LE(start, end);
    EXPECT_LE(end, after);
    expectRowsWrittenAreTheTablesRows(m);
    EXPECT_GT(rowsWritten(m, "SalAswDnl2"), 0) << "every table has rows on the small site";
    double phaseSeconds = 0;
    for (const char* phase : kPhases) {
        EXPECT_EQ(attempts(m, phase), std::string(phase) == "key_update" ? 0 : 1) << phase;
        phaseSeconds += m[std::string("vendrak_phase_duration_seconds{phase=\"") + phase + "\"}"];
    }
    EXPECT_GT(phaseSeconds, 0);
    EXPECT_LE(phaseSeconds, end - start + 0.001);

    struct stat info;
    ASSERT_EQ(stat(metricsFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(metricsFolder()))
        files.push_back(entry.path().filename());
    EXPECT_EQ(files, std::vector<std::string>{"vendrak.prom"}) << "no temporary file left";
    EXPECT_EQ(m.count("vendrak_last_run_atomic"), 1u);
    EXPECT_EQ(m["vendrak_last_run_atomic"], 0);

    // The same run as an atomic rebuild says so, with the same figures.
    run_.addEnvironment("VENDRAK_REBUILD=atomic");
    ASSERT_EQ(run_.run({}).exitCode, 0);
    Metrics atomic = readMetrics(metricsFile());
    EXPECT_EQ(atomic["vendrak_last_run_atomic"], 1);
    expectRowsWrittenAreTheTablesRows(atomic);
}

// A key run whose connection fails at the start, with the log folder gone:
// the run ends early with 99, and yet the metrics file says so, and standard
// error names the lost log once and the driver's reason at every attempt.
// Two arguments are no key: such a run's mode is "full".
TEST_F(MonitoringTest, RunFailingAtItsConnectionStillWritesMetricsAndItsReasons) {
    std::filesystem::remove_all(run_.root() + "/Quorvance_php/log");
    run_.setRules("dbsystem ORACLE\nconnect 1 6 08001 12541");
    ProgramResult twoArguments = run_.run({"K1", "K2"});
    ASSERT_EQ(twoArguments.exitCode, 99);
    EXPECT_EQ(
        readMetrics(metricsFile())
            .count("vendrak_last_run_info{mode=\"full\",version=\"" VENDRAK_PROJECT_VERSION "\"}"),
        1u);

    std::ofstream(metricsFile()) << "vendrak_last_run_success 1\n";  // last night's
    ProgramResult result = run_.run({"K1"});
    ASSERT_EQ(result.exitCode, 99);

    Metrics m = readMetrics(metricsFile());
    EXPECT_EQ(m["vendrak_last_run_success"], 0);
    EXPECT_EQ(
        m.count("vendrak_last_run_info{mode=\"key\",version=\"" VENDRAK_PROJECT_VERSION "\"}"), 1u);
    for (const char* phase : kPhases)
        EXPECT_EQ(attempts(m, phase), 0) << phase;
    for (const char* table : kTables)
        EXPECT_EQ(rowsWritten(m, table), 0) << table;

    std::string expected =
        "vendrak: cannot create the run lock ../../Quorvance_php/log/vendrak.lock (No such file "
        "or directory); running without it\n"
        "vendrak: cannot write the run log " +
        run_.root() +
        "/app/bin/../../Quorvance_php/log/vendraklog.txt: No such file or "
        "directory\n";
    for (int attempt = 1; attempt <= 5; ++attempt) {
        expected += "vendrak: Fehler dbConnect(dbReconnect)! Errcode: -1 Versuch-Nr.: " +
                    std::to_string(attempt) +
                    ": SQLSTATE 08001 native 12541: [interposer] injected fault\n";
    }
    EXPECT_EQ(result.errors, expected);
}

TEST_F(MonitoringTest, MetricsFileThatCannotBeWrittenIsOnlyAWarning) {
    std::filesystem::remove_all(metricsFolder());
    ProgramResult result = run_.run({});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.errors, "vendrak: cannot write the metrics file " + metricsFile() +
                                 ": No such file or directory\n");
}

// The insert learns a narrower TrmAswDnl by a failing wider variant; that
// failure is no failure of the run and must not surface beside a later line.
TEST_F(MonitoringTest, InsertFallingBackToANarrowerTableReportsNothing) {
    testDbSetTrmAswDnlColumns(38);
    ProgramResult result = run_.run({});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.errors, "");
}

// One injected failure per case, each retried to success: standard error
// carries exactly one line, the log's failure line with the diagnostic of
// its statement. The clean run's end-of-data lines ("Errcode: 100") fetched
// no diagnostic and get none. A tolerated duplicate is logged too, but
// standard error only counts it once its phase ends; a failure that merely
// shares the duplicate's native number is none. The metrics count the
// attempts, and the rows of the last attempt only; a skipped duplicate
// wrote no row.
TEST_F(MonitoringTest, InjectedFailurePutsItsDiagnosticBesideTheLogLine) {
    struct Case {
        const char* rule;
        const char* failureLine;  // the start of the log's failure line
        const char* diagnostic;   // beside that line on standard error; nullptr: none
        const char* countLine;    // the duplicate count on standard error; nullptr: none
        const char* phase;        // the phase that meets the failure
        int attempts;
    } const cases[] = {
        {"exec 1 1 42P01 942 DELETE FROM QVSYSTEM.SALASWDNL",
         "Fehler SQLDeleteSalAswDnl()! Errcode: 942",
         ": SQLSTATE 42P01 native 942: [interposer] injected fault", nullptr, "balance_values", 2},
        {"exec 5 1 HY000 none INSERT INTO Qvsystem.SalAswDnl2",
         "Fehler SQLWriteSalAswDnl2() Saldotabelle:", ": no diagnostic record from the driver",
         nullptr, "balance_values", 2},
        {"exec 2 1 23505 1 INSERT INTO Qvsystem.AswBklDnl", "Fehler SQLWriteAswBklDnl() Ausweis:",
         nullptr, "access authorisations: 1 duplicate row skipped (SQLSTATE 23505)",
         "access_authorisations", 1},
        {"exec 2 1 22021 1 INSERT INTO Qvsystem.AswBklDnl", "Fehler SQLWriteAswBklDnl() Ausweis:",
         ": SQLSTATE 22021 native 1: [interposer] injected fault", nullptr, "access_authorisations",
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rule);
        run_.setRules(std::string("dbsystem ORACLE\n") + c.rule);
        std::filesystem::remove(run_.root() + "/Quorvance_php/log/vendraklog.txt");
        ProgramResult result = run_.run({});
        EXPECT_EQ(result.exitCode, 0);
        std::vector<std::string> failureLines;
        for (const std::string& line : result.log) {
            if (line.rfind(c.failureLine, 0) == 0)
                failureLines.push_back(line);
        }
        ASSERT_EQ(failureLines.size(), 1u) << ::testing::PrintToString(result.log);
        std::string expected;
        if (c.diagnostic != nullptr)
            expected += "vendrak: " + failureLines[0] + c.diagnostic + "\n";
        if (c.countLine != nullptr)
            expected += std::string("vendrak: ") + c.countLine + "\n";
        EXPECT_EQ(result.errors, expected);
        Metrics m = readMetrics(metricsFile());
        EXPECT_EQ(attempts(m, c.phase), c.attempts);
        expectRowsWrittenAreTheTablesRows(m);
    }
}

}  // namespace
