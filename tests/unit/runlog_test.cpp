#include "log/runlog.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "log/console.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kTimestampChars = 19;

class RunLog : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vendrak_runlog_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        log_ = dir_ + "/vendraklog.txt";
        backup_ = dir_ + "/vendraklog.bak";
        LogFiles = {log_.c_str(), backup_.c_str()};
    }
    void TearDown() override {
        fs::remove_all(dir_);
        LogFiles = {kLogFilePath, kLogBackupPath};
    }

    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // A log of `size` bytes (zeros), standing in for a long-running log.
    static void prefill(const std::string& path, long size) {
        std::FILE* file = std::fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fclose(file);
        ASSERT_EQ(truncate(path.c_str(), size), 0);
    }
    // The line that logWrite appended last, given its message.
    static bool endsWithLine(const std::string& text, const std::string& message) {
        std::size_t length = kTimestampChars + 1 + message.size() + 1;
        if (text.size() < length)
            return false;
        static const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d .*\n)");
        std::string tail = text.substr(text.size() - length);
        return std::regex_match(tail, line) && tail.substr(kTimestampChars + 1) == message + "\n";
    }

    std::string dir_;
    std::string log_;
    std::string backup_;
};

TEST_F(RunLog, FirstLineCreatesTheLogWithLocalTimestamp) {
    std::time_t before = std::time(nullptr);
    logWrite(log_.c_str(), "**********");
    std::time_t after = std::time(nullptr);
    std::string text = read(log_);
    ASSERT_TRUE(std::regex_match(text, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \*{10}\n)")))
        << text;
    struct tm parsed = {};
    ASSERT_NE(strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &parsed), nullptr);
    parsed.tm_isdst = -1;
    std::time_t stamped = mktime(&parsed);
    EXPECT_GE(stamped, before - 1);
    EXPECT_LE(stamped, after);
}

TEST_F(RunLog, LinesAreAppendedInOrder) {
    logWrite(log_.c_str(), "erste Zeile");
    logWrite(log_.c_str(), "zweite Zeile");
    std::string text = read(log_);
    std::regex twoLines(R"([-0-9]{10} [:0-9]{8} erste Zeile\n[-0-9]{10} [:0-9]{8} zweite Zeile\n)");
    EXPECT_TRUE(std::regex_match(text, twoLines)) << text;
}

TEST_F(RunLog, EmptyMessageGivesTimestampAndOneBlank) {
    logWrite(log_.c_str(), "");
    std::string text = read(log_);
    ASSERT_EQ(text.size(), kTimestampChars + 2);
    EXPECT_EQ(text.substr(kTimestampChars), " \n");
}

TEST_F(RunLog, LogLineFormatsIntoLogMessageAndWritesToTheLogPath) {
    logLine("Fehler SQLOpenTrmAsw()! Errcode: %ld Terminal:%s", -1L, "T01");
    EXPECT_STREQ(LogMessage, "Fehler SQLOpenTrmAsw()! Errcode: -1 Terminal:T01");
    EXPECT_EQ(read(log_).substr(kTimestampChars), " " + std::string(LogMessage) + "\n");
}

// Cut to 255 bytes after the last whole character, by logLine and logWrite
// alike: the line stays valid UTF-8.
TEST_F(RunLog, OverlongMessageIsCutTo255BytesOnACharacterBoundary) {
    for (std::size_t kept : {255u, 254u}) {
        const std::string message = std::string(kept, 'x') + "\xc3\xbc" + std::string(99, 'x');
        fs::remove(log_);
        logLine("%s", message.c_str());
        EXPECT_EQ(std::string(LogMessage), std::string(kept, 'x'));
        logWrite(log_.c_str(), message.c_str());
        EXPECT_EQ(read(log_).size(), 2 * (kTimestampChars + 1 + kept + 1));
        EXPECT_TRUE(endsWithLine(read(log_), std::string(kept, 'x')));
    }
}

// A driver message with a carriage return or a tab stays one clean line on
// standard error; a line too long for it is cut after a whole character.
TEST_F(RunLog, StandardErrorLinesAreCleanAndCutOnACharacterBoundary) {
    DiagRecord diag = {};
    diag.Held = true;
    copyField(diag.SqlState, "42P01");
    diag.NativeError = 942;
    copyField(diag.MessageText, "ERROR:\trelation does not exist;\r\nError\n");
    testing::internal::CaptureStderr();
    logFailure(diag, "Fehler SQLOpenTrmAsw()! Errcode: %ld", 942L);
    consoleLine("%s", (std::string(2044, 'y') + "\xc3\xbc\xc3\xbc").c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "vendrak: Fehler SQLOpenTrmAsw()! Errcode: 942: SQLSTATE 42P01 native 942: ERROR: "
              "relation does not exist;  Error\nvendrak: " +
                  std::string(2044, 'y') + "\xc3\xbc\n");
}

TEST_F(RunLog, LogOfExactlyTheThresholdIsNotRotatedUntilTheNextLine) {
    const std::string message = "Ende";
    const long lineLength = static_cast<long>(kTimestampChars + 1 + message.size() + 1);
    prefill(log_, kLogRotateSize - lineLength);
    logWrite(log_.c_str(), message.c_str());
    EXPECT_EQ(fs::file_size(log_), static_cast<std::uintmax_t>(kLogRotateSize));
    EXPECT_FALSE(fs::exists(backup_));

    logWrite(log_.c_str(), "naechste");
    EXPECT_EQ(fs::file_size(log_), 0u);
    ASSERT_TRUE(fs::exists(backup_));
    EXPECT_EQ(fs::file_size(backup_), static_cast<std::uintmax_t>(kLogRotateSize + lineLength + 4));
    EXPECT_TRUE(endsWithLine(read(backup_), "naechste"));
}

TEST_F(RunLog, LogOneBytePastTheThresholdReplacesTheBackup) {
    std::ofstream(backup_) << "older backup\n";
    const std::string message = "Ende";
    const long lineLength = static_cast<long>(kTimestampChars + 1 + message.size() + 1);
    prefill(log_, kLogRotateSize - lineLength + 1);
    logWrite(log_.c_str(), message.c_str());

    ASSERT_TRUE(fs::exists(log_));
    EXPECT_EQ(fs::file_size(log_), 0u);
    EXPECT_EQ(fs::file_size(backup_), static_cast<std::uintmax_t>(kLogRotateSize + 1));
    std::string backup = read(backup_);
    EXPECT_EQ(backup.find("older backup"), std::string::npos);
    EXPECT_TRUE(endsWithLine(backup, "Ende"));

    // The next line starts the new log.
    logWrite(log_.c_str(), "neu");
    EXPECT_EQ(read(log_).substr(kTimestampChars), " neu\n");
}

// The log is created 0640 (under the usual umask), and a symbolic link at
// the log path is not followed: the line is lost as for an unwritable log,
// and the file the link points to stays as it was.
TEST_F(RunLog, LogIsCreated0640AndASymbolicLinkIsNotFollowed) {
    mode_t umaskBefore = umask(022);
    logWrite(log_.c_str(), "erste Zeile");
    umask(umaskBefore);
    EXPECT_EQ(fs::status(log_).permissions(), fs::perms(0640));

    std::ofstream(dir_ + "/target") << "fremd\n";
    fs::remove(log_);
    fs::create_symlink(dir_ + "/target", log_);
    logWrite(log_.c_str(), "verloren");
    EXPECT_EQ(read(dir_ + "/target"), "fremd\n");
    EXPECT_TRUE(fs::is_symlink(log_));
}

TEST_F(RunLog, MissingFolderLosesTheLineSilently) {
    std::string missing = dir_ + "/missing/vendraklog.txt";
    LogFiles.path = missing.c_str();
    logWrite(missing.c_str(), "verloren");
    logLine("auch %s", "verloren");
    EXPECT_FALSE(fs::exists(dir_ + "/missing"));
    EXPECT_TRUE(fs::is_empty(dir_));
}

}  // namespace
