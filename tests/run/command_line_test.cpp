// The information options of the real binary: "--help", "-h" and "--version"
// print to standard output and end with 0 before the settings, the run log
// or the database come into play; every other command line keeps its meaning.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "runner.h"
#include "test_config.h"
#include "testdb.h"

namespace {

class InformationOptionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testDbClearTables();
        run_.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
        // Every connect fails: a run that went on to the database would
        // print its connect errors and end with 99.
        run_.setRules("dbsystem ORACLE\nconnect 1 6 08001 12541");
    }
    std::string logPath() const { return run_.root() + "/Quorvance_php/log/vendraklog.txt"; }
    ProgramRun run_;
};

TEST_F(InformationOptionTest, HelpAndVersionPrintAndEndWithoutLogOrDatabase) {
    for (const char* option : {"--help", "-h"}) {
        ProgramResult result = run_.run({option});
        EXPECT_EQ(result.exitCode, 0) << option;
        EXPECT_EQ(result.output.rfind("Usage: vendrak [DOWNLOAD-KEY]\n", 0), 0u) << result.output;
        EXPECT_NE(result.output.find("Exit codes: 0 success, 99 failure"), std::string::npos);
        EXPECT_TRUE(result.trace.empty()) << option;
        EXPECT_FALSE(std::filesystem::exists(logPath())) << option << " wrote the run log";
    }
    ProgramResult version = run_.run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.output, "vendrak " VENDRAK_PROJECT_VERSION "\n");
    EXPECT_FALSE(std::filesystem::exists(logPath())) << "--version wrote the run log";
}

TEST_F(InformationOptionTest, LookAlikesAreDownloadKeysAndTwoArgumentsStayAFullRebuild) {
    run_.setRules("dbsystem ORACLE");
    for (const std::string key : {"-v", "--HELP", "--version2", "-h "}) {
        ProgramResult result = run_.run({key});
        ASSERT_GE(result.log.size(), 3u) << key;
        EXPECT_EQ(result.log[2], "Download-Key: " + key + ".");
        EXPECT_EQ(result.output, "") << key;
        std::remove(logPath().c_str());
    }
    ProgramResult result = run_.run({"--help", "--version"});
    ASSERT_GE(result.log.size(), 3u);
    EXPECT_EQ(result.log[2], "Erstelle Terminalberechtigungen Versuch-Nr:1!");
    EXPECT_EQ(result.output, "") << "no usage text with two arguments";
    EXPECT_FALSE(result.trace.empty());
}

}  // namespace
