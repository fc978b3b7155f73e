// `vendrak --check`, run as deployed: a sound installation passes; each broken
// one is named, with exit code 99, or 0 and a warning for a narrow TrmAswDnl.
// Every check leaves nothing behind: no run log, no lock file, no wait and
// no statement but the zero-row probes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <utility>

#include "runner.h"
#include "settings/cipher.h"
#include "settings/settings.h"
#include "test_config.h"
#include "testdb.h"

namespace {

std::string lastLine(std::string output) {
    if (!output.empty() && output.back() == '\n')
        output.pop_back();
    std::size_t lineEnd = output.rfind('\n');
    return lineEnd == std::string::npos ? output : output.substr(lineEnd + 1);
}

void writeSoundSettings(ProgramRun& run) {
    run.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
}

void expectNothingWritten(const ProgramRun& run, const ProgramResult& result,
                          const std::string& label) {
    EXPECT_FALSE(std::filesystem::is_regular_file(
        std::filesystem::symlink_status(run.root() + "/Quorvance_php/log/vendraklog.txt")))
        << label << ": the run log was written";
    EXPECT_TRUE(result.waits.empty()) << label;
    static const std::regex probe(
        R"((SELECT [A-Za-z0-9, ]+ FROM QVSYSTEM\.\w+|DELETE FROM QVSYSTEM\.\w+|)"
        R"(UPDATE QVSYSTEM\.\w+ SET (\w+) = \2) WHERE 1 = 0|SELECT TRMNAM FROM QVSYSTEM\.QVS1140TRM)");
    for (const std::string& statement : result.trace)
        EXPECT_TRUE(std::regex_match(statement, probe)) << label << ": " << statement;
}

TEST(CheckTest, SoundInstallationPassesWithOneProbePerTableAndTwoPerDownloadTable) {
    testDbClearTables();
    ProgramRun run;
    writeSoundSettings(run);
    const std::string lockPath = run.root() + "/Quorvance_php/log/vendrak.lock";

    ProgramResult result = run.run({"--check"});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(lastLine(result.output),
              "summary: 26 ok, 0 warnings, 0 failed: a full rebuild can run");
    EXPECT_NE(result.output.find("ok       connected to data source vendrak_test as vendrak\n"),
              std::string::npos);
    EXPECT_NE(result.output.find("ok       TrmAswDnl has the form of 40 columns\n"),
              std::string::npos);
    EXPECT_NE(result.output.find("ok       indexes serve all 12 lookups of the runs\n"),
              std::string::npos);
    EXPECT_NE(result.output.find("info     no run in progress\n"), std::string::npos);
    EXPECT_EQ(result.output.find(kTestDbPassword), std::string::npos) << "password shown";
    EXPECT_NE(result.output.find("ok       table QVSYSTEM.SalAswDnl2 may be emptied and updated\n"),
              std::string::npos);
    EXPECT_EQ(result.trace.size(), 22u) << "one probe for each table, a DELETE and an UPDATE "
                                           "for each download table";
    expectNothingWritten(run, result, "sound");
    EXPECT_FALSE(std::filesystem::exists(lockPath)) << "the check created the lock file";

    // A run holding the run lock is information, not a failure.
    { std::ofstream create(lockPath); }
    int lock = open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    ProgramResult during = run.run({"--check"});
    close(lock);
    EXPECT_EQ(during.exitCode, 0);
    EXPECT_NE(during.output.find("info     a run is in progress (" + lockPath + " is held)\n"),
              std::string::npos)
        << during.output;

    // The atomic rebuild on the test's data source: one check more, passed.
    run.addEnvironment("VENDRAK_REBUILD=atomic");
    ProgramResult atomic = run.run({"--check"});
    EXPECT_EQ(lastLine(atomic.output),
              "summary: 27 ok, 0 warnings, 0 failed: a full rebuild can run");
    EXPECT_NE(atomic.output.find(
                  "ok       atomic rebuild: data source vendrak_test has no setting against it\n"),
              std::string::npos)
        << atomic.output;
}

// The statements that scripts/gen_site.py writes to give a site the chosen
// indexes (all, source or none) and drop the others.
std::string generatedSiteIndexes(const std::string& choice) {
    std::string command = "python3 '" + std::string(VENDRAK_TEST_SOURCE_DIR) +
                          "/../scripts/gen_site.py' --indexes-only --indexes " + choice;
    std::string text;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        text.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0) << command;
    return text;
}

// The check's index lines: those after the last table line up to the run lock.
std::string indexLines(const std::string& output) {
    const std::string lastTable = "ok       table QVSYSTEM.AswBklDnl may be emptied and updated\n";
    std::size_t begin = output.find(lastTable);
    std::size_t end = output.find("info     no run in progress\n");
    if (begin == std::string::npos || end == std::string::npos || end < begin)
        return "index lines not found in:\n" + output;
    begin += lastTable.size();
    return output.substr(begin, end - begin);
}

// The demo and the benchmark run on the indexes that gen_site.py creates:
// with all of them no lookup lacks its index; without those of the download
// tables the key run's lookup by badge does; without any, every lookup that
// the download tables' unique keys do not serve does, since the driver lists
// those keys and so gives statistics. Without the keys as well, it lists
// nothing for any table, and the check cannot tell missing indexes from
// missing statistics.
TEST(CheckTest, GeneratedSiteIndexesServeEveryLookup) {
    testDbClearTables();
    auto literal = [](const std::string& text) {
        return std::regex_replace(text, std::regex(R"([()\[\].*+?])"), R"(\$&)");
    };
    auto unlisted = [&](const std::string& table, const std::string& lookups) {
        return literal("info     the driver lists no indexes of QVSYSTEM." + table +
                       " (it has none, or the driver gives no statistics); its lookups by " +
                       lookups + " are not checked\n");
    };
    const std::string byBadge =
        "WARNING  no index of QVSYSTEM.TrmAswDnl starts with DnlAsw: key runs read the whole "
        "table for every badge they update\n";
    const std::string unservedSource =
        "WARNING  no index of QVSYSTEM.QVS1140TRM starts with TRMNAM: [\\s\\S]*"
        "WARNING  no index of QVSYSTEM.QvsAswDnl starts with DnlKey: key runs read the whole "
        "table once\n";
    const char* const keys[][2] = {
        {"trmaswdnl", "(dnltrm, dnlasw)"},
        {"aswbkldnl", "(dnltrm, dnlasw, dnlbkl)"},
        {"salaswdnl", "(dnlsal, dnlliz, dnlmnd, dnlspr, dnlasw)"},
        {"salaswdnl2", "(dnlsal, dnlliz, dnlmnd, dnlspr, dnlasw, dnlwrt)"}};
    std::string dropKeys, addKeys;
    for (const auto& key : keys) {
        dropKeys +=
            std::string("ALTER TABLE qvsystem.") + key[0] + " DROP CONSTRAINT " + key[0] + "_key;";
        addKeys += std::string("ALTER TABLE qvsystem.") + key[0] + " ADD CONSTRAINT " + key[0] +
                   "_key UNIQUE " + key[1] + ";";
    }
    struct Case {
        std::string name, schema, lines;  // lines: a regular expression
    } const cases[] = {
        {"none", generatedSiteIndexes("none"), literal(byBadge) + unservedSource},
        {"none, without unique keys", dropKeys,
         unlisted("QVS1140TRM", "(TRMNAM)") + "[\\s\\S]*" +
             unlisted("TrmAswDnl", "(DnlTrm, DnlAsw), (DnlAsw)") +
             unlisted("AswBklDnl", "(DnlTrm, DnlAsw)")},
        {"source", addKeys + generatedSiteIndexes("source"), literal(byBadge)},
        // Last, so that the test database keeps its indexes.
        {"all", generatedSiteIndexes("all"), "ok       indexes serve all 12 lookups of the runs\n"},
    };
    for (const Case& c : cases) {
        testDbExec(c.schema);
        ProgramRun run;
        writeSoundSettings(run);
        ProgramResult result = run.run({"--check"});
        EXPECT_EQ(result.exitCode, 0) << c.name;
        EXPECT_TRUE(std::regex_match(indexLines(result.output), std::regex(c.lines)))
            << c.name << ":\n"
            << indexLines(result.output);
        expectNothingWritten(run, result, c.name);
    }
}

struct BrokenInstallation {
    const char* name;
    std::function<void(ProgramRun&)> breakIt;
    std::function<void()> restore;
    int exitCode;
    std::string cause;  // a regular expression; {root} stands for the installation root
};

TEST(CheckTest, BrokenInstallationsNameTheirCause) {
    testDbClearTables();
    auto settings = [](const char* password, const char* dbSystem, const char* dsn) {
        return [=](ProgramRun& run) { run.writeSettings(kTestDbUser, password, dbSystem, dsn); };
    };
    auto sql = [](const std::string& statement) { return [=]() { testDbExec(statement); }; };
    auto breakBy = [](const std::string& statement) {
        return [=](ProgramRun&) { testDbExec(statement); };
    };
    auto none = []() {};
    auto atLogFolder = [](const std::string& command) {
        return [=](const ProgramRun& run) {
            ASSERT_EQ(
                std::system(("cd " + run.root() + "/Quorvance_php/log && " + command).c_str()), 0);
        };
    };
    const BrokenInstallation rows[] = {
        {"wrong password", settings("wrong", "ORACLE", kTestDbDsn), none, 99,
         "FAILED   connect to data source vendrak_test as vendrak failed: SQLSTATE 08001, native "
         "error 101: .*password authentication failed for user \"vendrak\"\n"},
        {"wrong data source", settings(kTestDbPassword, "ORACLE", "no_such_dsn"), none, 99,
         "FAILED   connect to data source no_such_dsn as vendrak failed: SQLSTATE IM002"},
        {"missing settings file",
         [](ProgramRun& run) { std::filesystem::remove(run.root() + "/files/quorvance.ini"); },
         none, 99,
         "FAILED   settings file {root}/files/quorvance.ini cannot be read: No such file "
         "or directory\n"},
        {"settings file is a folder",
         [](ProgramRun& run) {
             std::filesystem::remove(run.root() + "/files/quorvance.ini");
             std::filesystem::create_directory(run.root() + "/files/quorvance.ini");
         },
         none, 99,
         "FAILED   settings file {root}/files/quorvance.ini cannot be read: Is a directory\n"},
        // The log and the lock file are opened as a run opens them: no link
        // followed, nothing but a regular file, no wait on a FIFO.
        {"link at the run log", atLogFolder("ln -s /etc/hostname vendraklog.txt"), none, 99,
         "FAILED   run log {root}/Quorvance_php/log/vendraklog.txt cannot be written: a symbolic "
         "link, which is not followed\n"},
        {"FIFO at the run log", atLogFolder("mkfifo vendraklog.txt"), none, 99,
         "FAILED   run log {root}/Quorvance_php/log/vendraklog.txt cannot be written: not a "
         "regular file\n"},
        {"link at the run lock", atLogFolder("ln -s /etc/hostname vendrak.lock"), none, 99,
         "FAILED   run lock {root}/Quorvance_php/log/vendrak.lock cannot be used: a symbolic "
         "link, which is not followed; every run would end with 99\n"},
        {"FIFO at the run lock", atLogFolder("mkfifo vendrak.lock"), none, 99,
         "FAILED   run lock {root}/Quorvance_php/log/vendrak.lock cannot be used: not a regular "
         "file"},
        {"missing log folder",
         [](ProgramRun& run) { std::filesystem::remove(run.root() + "/Quorvance_php/log"); }, none,
         99, "FAILED   log folder {root}/Quorvance_php/log: No such file or directory"},
        // The settings tool refuses such a value; a file written by hand can hold it.
        {"DB system in lower case",
         [](ProgramRun& run) {
             std::string path = run.root() + "/files/quorvance.ini";
             std::ostringstream written;
             written << std::ifstream(path).rdbuf();
             char stored[64];
             ASSERT_EQ(bfEncryptHex("oracle", stored, sizeof stored, kSettingsCipherKey), 1);
             std::ofstream(path) << "0;DATABASE;CONNECT\n0;DB_SYSTEM;" << stored << "\n"
                                 << written.str();
         },
         none, 99,
         "FAILED   DB_SYSTEM \"oracle\" is not one of ORACLE, MSSQL, MYSQL[\\s\\S]*"
         "skipped  connect: not tried without a valid DB_SYSTEM\n"},
        {"MYSQL", settings(kTestDbPassword, "MYSQL", kTestDbDsn), none, 99,
         "FAILED   DB_SYSTEM MYSQL: only connecting is supported"},
        {"missing table", breakBy("ALTER TABLE qvsystem.aswbkldnl RENAME TO x"),
         sql("ALTER TABLE qvsystem.x RENAME TO aswbkldnl"), 99,
         // Its indexes are not looked for, and no refused write comes on top.
         "FAILED   table QVSYSTEM.AswBklDnl is missing or cannot be read: SQLSTATE 42P01"
         "(?![\\s\\S]*AswBklDnl)[\\s\\S]*, 1 failed: "},
        {"missing columns",
         breakBy("ALTER TABLE qvsystem.qvs119msd RENAME msdanz TO x;"
                 "ALTER TABLE qvsystem.qvs119msd RENAME msderf TO y"),
         sql("ALTER TABLE qvsystem.qvs119msd RENAME x TO msdanz;"
             "ALTER TABLE qvsystem.qvs119msd RENAME y TO msderf"),
         99, "FAILED   table QVSYSTEM.QVS119MSD lacks MSDANZ, MSDERF\n"},
        {"TrmAswDnl of 38 columns", [](ProgramRun&) { testDbSetTrmAswDnlColumns(38); },
         [] { testDbSetTrmAswDnlColumns(40); }, 0,
         "WARNING  TrmAswDnl has the form of 38 columns, without DnlPnr, DnlNam: full rebuilds "
         "write it, but key runs fail on it, because their update names DnlPin, DnlPnr and "
         "DnlNam\n"},
        {"TrmAswDnl without DnlNam", breakBy("ALTER TABLE qvsystem.trmaswdnl DROP dnlnam"),
         [] { testDbSetTrmAswDnlColumns(40); }, 0,
         "WARNING  TrmAswDnl has none of its forms, it lacks DnlNam: full rebuilds"},
        // A user who may read everything and write all but two rights.
        {"download tables not writable",
         [](ProgramRun& run) {
             testDbExec(
                 "DROP ROLE IF EXISTS vendrak_reader;"
                 "CREATE ROLE vendrak_reader LOGIN PASSWORD 'reader-pw';"
                 "GRANT USAGE ON SCHEMA qvsystem TO vendrak_reader;"
                 "GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA qvsystem TO "
                 "vendrak_reader;"
                 "REVOKE DELETE ON qvsystem.salaswdnl2 FROM vendrak_reader;"
                 "REVOKE UPDATE ON qvsystem.aswbkldnl FROM vendrak_reader");
             run.writeSettings("vendrak_reader", "reader-pw", "ORACLE", kTestDbDsn);
         },
         sql("REVOKE ALL ON ALL TABLES IN SCHEMA qvsystem FROM vendrak_reader;"
             "REVOKE USAGE ON SCHEMA qvsystem FROM vendrak_reader;DROP ROLE vendrak_reader"),
         99,
         "ok       table QVSYSTEM.SalAswDnl may be emptied and updated\n"
         "FAILED   table QVSYSTEM.SalAswDnl2: DELETE refused: SQLSTATE 42501: .*permission "
         "denied.*\n"
         "FAILED   table QVSYSTEM.AswBklDnl: UPDATE refused: SQLSTATE 42501: .*permission "
         "denied.*\n"},
        {"atomic rebuild on a data source with UseDeclareFetch=1",
         [](ProgramRun& run) {
             std::ofstream(run.root() + "/odbc.ini")
                 << testDbOwnDsnSection() << "UseDeclareFetch=1\n";
             run.addEnvironment("ODBCINI=" + run.root() + "/odbc.ini");
             run.addEnvironment("VENDRAK_REBUILD=atomic");
         },
         none, 99,
         "FAILED   atomic rebuild: data source vendrak_test has UseDeclareFetch=1 "
         "\\(odbc.ini \\[vendrak_test\\]\\), with which psqlODBC does not roll back a failed "
         "statement alone; set UseDeclareFetch=0 there, or unset VENDRAK_REBUILD\n"},
        // A driver that holds no transaction open is named.
        {"atomic rebuild on a driver that keeps committing",
         [](ProgramRun& run) {
             run.setRules("autocommit-off ignored");
             run.addEnvironment("VENDRAK_REBUILD=atomic");
         },
         none, 99,
         "FAILED   transactions: auto-commit reads back as on after it was switched off: the "
         "driver commits every statement; VENDRAK_REBUILD=atomic and --dry-run are refused on "
         "data source vendrak_test\n"},
        {"mistyped rebuild mode",
         [](ProgramRun& run) { run.addEnvironment("VENDRAK_REBUILD=Atomic"); }, none, 99,
         "FAILED   VENDRAK_REBUILD='Atomic' is not a rebuild mode; unset it, or set it to "
         "'atomic'\n"},
        {"mistyped cursor mode",
         [](ProgramRun& run) { run.addEnvironment("VENDRAK_CURSORS=readonly"); }, none, 99,
         "FAILED   VENDRAK_CURSORS='readonly' is not a cursor mode; unset it, or set it to "
         "'read-only'\n"},
        {"read-only cursors on psqlODBC",
         [](ProgramRun& run) { run.addEnvironment("VENDRAK_CURSORS=read-only"); }, none, 0,
         "ok       cursor: read-only server cursors stay open while further statements run on "
         "the connection\n"},
        {"read-only cursors on a server that refuses statements beside them",
         [](ProgramRun& run) {
             run.addEnvironment("VENDRAK_CURSORS=read-only");
             run.setRules("exec 1 1 24000 0 SELECT 1 FROM QVSYSTEM.QVS113STO");
         },
         none, 99,
         "FAILED   cursor: while a cursor is open, the server refuses further statements on the "
         "connection with VENDRAK_CURSORS=read-only \\(SQLSTATE 24000"},
        {"TrmAswDnl of 37 columns", [](ProgramRun&) { testDbSetTrmAswDnlColumns(37); },
         [] { testDbSetTrmAswDnlColumns(40); }, 0,
         "WARNING  TrmAswDnl has the form of 37 columns, without DnlPin, DnlPnr, DnlNam:"},
        // Indexes: each lookup of the runs needs one whose first columns are
        // its columns, in any order.
        {"TrmAswDnl without its index by badge", breakBy("DROP INDEX qvsystem.site_trmaswdnl_asw"),
         sql("CREATE INDEX site_trmaswdnl_asw ON qvsystem.trmaswdnl (dnlasw)"), 0,
         "WARNING  no index of QVSYSTEM.TrmAswDnl starts with DnlAsw: key runs read the whole "
         "table for every badge they update\n"},
        {"TrmAswDnl keyed by terminal alone",
         breakBy("ALTER TABLE qvsystem.trmaswdnl DROP CONSTRAINT trmaswdnl_key;"
                 "CREATE INDEX x ON qvsystem.trmaswdnl (dnltrm)"),
         sql("DROP INDEX qvsystem.x; ALTER TABLE qvsystem.trmaswdnl ADD CONSTRAINT trmaswdnl_key "
             "UNIQUE (dnltrm, dnlasw)"),
         0,
         "WARNING  no index of QVSYSTEM.TrmAswDnl starts with DnlTrm, DnlAsw \\(in any order\\): "
         "full rebuilds and key runs read the whole table for every row they update\n"},
        {"AswBklDnl keyed by badge and terminal",
         breakBy("ALTER TABLE qvsystem.aswbkldnl DROP CONSTRAINT aswbkldnl_key;"
                 "ALTER TABLE qvsystem.aswbkldnl ADD CONSTRAINT x UNIQUE (dnlasw, dnltrm, dnlbkl)"),
         sql("ALTER TABLE qvsystem.aswbkldnl DROP CONSTRAINT x; ALTER TABLE qvsystem.aswbkldnl "
             "ADD CONSTRAINT aswbkldnl_key UNIQUE (dnltrm, dnlasw, dnlbkl)"),
         0, "ok       indexes serve all 12 lookups of the runs\n"},
        {"AswBklDnl keyed by badge and booking class",
         breakBy("ALTER TABLE qvsystem.aswbkldnl DROP CONSTRAINT aswbkldnl_key;"
                 "ALTER TABLE qvsystem.aswbkldnl ADD CONSTRAINT x UNIQUE (dnlasw, dnlbkl, dnltrm)"),
         sql("ALTER TABLE qvsystem.aswbkldnl DROP CONSTRAINT x; ALTER TABLE qvsystem.aswbkldnl "
             "ADD CONSTRAINT aswbkldnl_key UNIQUE (dnltrm, dnlasw, dnlbkl)"),
         0,
         "WARNING  no index of QVSYSTEM.AswBklDnl starts with DnlTrm, DnlAsw \\(in any order\\)"},
        // psqlODBC lists nothing for a table without any index, but as it
        // lists the indexes of the other tables, it gives statistics.
        {"QVS301AWB without any index", breakBy("DROP INDEX qvsystem.site_qvs301awb_asw"),
         sql("CREATE INDEX site_qvs301awb_asw ON qvsystem.qvs301awb (awbasw, awbbkl)"), 0,
         "WARNING  no index of QVSYSTEM.QVS301AWB starts with AWBASW: full rebuilds and key runs "
         "read the whole table for every terminal and badge pair\n"},
        {"driver without index statistics",
         [](ProgramRun& run) { run.setRules("statistics 1 1 HYC00 0"); }, none, 0,
         "info     indexes of QVSYSTEM.QVS1140TRM not read \\(SQLSTATE HYC00: [^\n]*\\); its "
         "lookups by \\(TRMNAM\\) are not checked\n[\\s\\S]*"
         "ok       indexes serve the 11 lookups checked \\(1 not checked\\)\n"},
        {"driver failing without a diagnostic",
         [](ProgramRun& run) { run.setRules("statistics 11 1 HY000 none"); }, none, 0,
         "info     indexes of QVSYSTEM.AswBklDnl not read \\(without a diagnostic\\); its lookups "
         "by \\(DnlTrm, DnlAsw\\) are not checked\n"},
    };
    for (const BrokenInstallation& row : rows) {
        ProgramRun run;
        writeSoundSettings(run);
        row.breakIt(run);
        ProgramResult result = run.run({"--check"});
        row.restore();

        std::string cause = std::regex_replace(row.cause, std::regex("\\{root\\}"), run.root());
        EXPECT_EQ(result.exitCode, row.exitCode) << row.name << "\n" << result.output;
        EXPECT_TRUE(std::regex_search(result.output, std::regex(cause))) << row.name << "\n"
                                                                         << result.output;
        std::string summary = lastLine(result.output);
        EXPECT_EQ(summary.rfind("summary: ", 0), 0u) << row.name;
        EXPECT_EQ(summary.find("failed: a full rebuild can run") != std::string::npos,
                  row.exitCode == 0)
            << row.name << ": " << summary;
        expectNothingWritten(run, result, row.name);
    }
}

}  // namespace
