// The command line of the real binary: "--help", "-h" and "--version" print
// to standard output and end with 0, and a single argument that cannot be a
// key, or an option beside other arguments, ends with 99, before the
// settings, the run log or the database come into play; every other command
// line keeps its meaning.
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

// A single argument that is no option and no key, and an option beside other
// arguments, are refused before anything happens; keys up to 14 bytes, an
// empty argument and two or more arguments without an option keep their
// meaning.
TEST_F(InformationOptionTest, ArgumentsThatAreNoKeyAreRefusedAndEdgeCasesRunAsBefore) {
    for (const std::string refused : {"-x", "--dry", "-v", "--HELP", "--version2", "-h ", "-",
                                      "KEY-0123456789X", "Schl\xc3\xbcssel12345"}) {
        ProgramResult result = run_.run({refused});
        EXPECT_EQ(result.exitCode, 99) << refused;
        EXPECT_NE(result.errors.find("'" + refused + "'"), std::string::npos) << result.errors;
        EXPECT_NE(result.errors.find("\nUsage: vendrak [DOWNLOAD-KEY]\n"), std::string::npos)
            << refused;
        EXPECT_EQ(result.output, "") << refused;
        EXPECT_TRUE(result.trace.empty()) << refused;
        EXPECT_FALSE(std::filesystem::exists(logPath())) << refused << " wrote the run log";
    }
    const struct {
        std::vector<std::string> arguments;
        std::string named;
    } optionAmongOthers[] = {{{"--check", "-v"}, "--check"},
                             {{"--help", "--version"}, "--help"},
                             {{"-x", "y"}, "-x"},
                             {{"K1", "K2", "-v"}, "-v"}};
    for (const auto& c : optionAmongOthers) {
        ProgramResult result = run_.run(c.arguments);
        EXPECT_EQ(result.exitCode, 99) << c.named;
        EXPECT_NE(result.errors.find("'" + c.named + "'"), std::string::npos) << result.errors;
        EXPECT_TRUE(result.trace.empty()) << c.named;
        EXPECT_FALSE(std::filesystem::exists(logPath())) << c.named << " wrote the run log";
    }
    run_.setRules("dbsystem ORACLE");
    const std::string fullRebuild = "Erstelle Terminalberechtigungen Versuch-Nr:1!";
    const struct {
        std::vector<std::string> arguments;
        std::string thirdLogLine;
    } accepted[] = {
        {{"KEY-0123456789"}, "Download-Key: KEY-0123456789."},
        {{"K-1"}, "Download-Key: K-1."},
        {{""}, fullRebuild},
        {{"K1", "K2"}, fullRebuild},
    };
    for (const auto& c : accepted) {
        ProgramResult result = run_.run(c.arguments);
        EXPECT_EQ(result.exitCode, 0) << c.thirdLogLine;
        ASSERT_GE(result.log.size(), 3u) << c.thirdLogLine;
        EXPECT_EQ(result.log[2], c.thirdLogLine);
        EXPECT_EQ(result.errors, "") << c.thirdLogLine;
        std::remove(logPath().c_str());
    }
}

// VENDRAK_REBUILD is read before anything happens: a value other than
// "atomic" is refused (an operator who mistyped it must not get the default's
// half-built tables in silence), an empty one keeps the default.
TEST_F(InformationOptionTest, UnknownRebuildModeIsRefusedBeforeAnythingHappens) {
    ProgramRun mistyped;
    mistyped.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
    mistyped.setRules("dbsystem ORACLE");
    mistyped.addEnvironment("VENDRAK_REBUILD=Atomic");
    ProgramResult refused = mistyped.run({});
    EXPECT_EQ(refused.exitCode, 99);
    EXPECT_EQ(refused.errors,
              "vendrak: VENDRAK_REBUILD='Atomic' is not a rebuild mode; unset it, or set it to "
              "'atomic'\n");
    EXPECT_TRUE(refused.trace.empty());
    EXPECT_FALSE(std::filesystem::exists(mistyped.root() + "/Quorvance_php/log/vendraklog.txt"));
    // VENDRAK_CURSORS likewise: only "read-only" is a cursor mode.
    ProgramRun cursors;
    cursors.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
    cursors.setRules("dbsystem ORACLE");
    cursors.addEnvironment("VENDRAK_CURSORS=readonly");
    ProgramResult refusedCursors = cursors.run({});
    EXPECT_EQ(refusedCursors.exitCode, 99);
    EXPECT_EQ(refusedCursors.errors,
              "vendrak: VENDRAK_CURSORS='readonly' is not a cursor mode; unset it, or set it to "
              "'read-only'\n");
    EXPECT_TRUE(refusedCursors.trace.empty());

    run_.setRules("dbsystem ORACLE");
    run_.addEnvironment("VENDRAK_REBUILD=");
    ProgramResult empty = run_.run({});
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_EQ(empty.errors, "");
}

// VENDRAK_MAX_SHRINK is read with VENDRAK_REBUILD: a value that is no whole
// percent from 0 to 100, or a limit without the transaction that its refusal
// rolls back, is refused before anything happens.
TEST_F(InformationOptionTest, BadShrinkLimitIsRefusedBeforeAnythingHappens) {
    const std::string needsAtomic =
        "vendrak: VENDRAK_MAX_SHRINK=20 needs VENDRAK_REBUILD=atomic or --dry-run: its refusal "
        "rolls back the rebuild's transaction\n";
    const struct {
        const char* value;
        bool atomic;
        std::string errors;
    } cases[] = {
        {"20", false, needsAtomic},
        {"101", true, "vendrak: VENDRAK_MAX_SHRINK='101' is not a whole percent from 0 to 100\n"},
        {"-1", true, "vendrak: VENDRAK_MAX_SHRINK='-1' is not a whole percent from 0 to 100\n"},
        {"2.5", true, "vendrak: VENDRAK_MAX_SHRINK='2.5' is not a whole percent from 0 to 100\n"},
        {"0101", true, "vendrak: VENDRAK_MAX_SHRINK='0101' is not a whole percent from 0 to 100\n"},
        {"20%", true, "vendrak: VENDRAK_MAX_SHRINK='20%' is not a whole percent from 0 to 100\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        ProgramRun run;
        run.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
        run.setRules("dbsystem ORACLE");
        run.addEnvironment(std::string("VENDRAK_MAX_SHRINK=") + c.value);
        if (c.atomic)
            run.addEnvironment("VENDRAK_REBUILD=atomic");
        ProgramResult refused = run.run({});
        EXPECT_EQ(refused.exitCode, 99);
        EXPECT_EQ(refused.errors, c.errors);
        EXPECT_TRUE(refused.trace.empty());
        EXPECT_FALSE(std::filesystem::exists(run.root() + "/Quorvance_php/log/vendraklog.txt"));
    }
}

}  // namespace
