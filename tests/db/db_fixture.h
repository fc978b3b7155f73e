// Common ground of the in-process database tests: a connected session on the
// test server under a chosen DB system, a private run log, the interposer
// reset, and every table empty.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "db/session.h"
#include "db/statement.h"
#include "download/terminal_writing.h"
#include "log/runlog.h"
#include "odbc_interposer.h"
#include "platform/text.h"
#include "settings/settings.h"
#include "testdb.h"

class DbTest : public ::testing::Test {
  protected:
    void SetUp() override { startSession("ORACLE"); }

    void TearDown() override {
        for (int slot = 0; slot < static_cast<int>(CursorSlot::Count); ++slot) {
            cursorClose(static_cast<CursorSlot>(slot));
        }
        dbDisconnect();
        std::remove(LogFiles.path);
        std::remove(LogFiles.backupPath);
        rmdir(logDir_.c_str());
        LogFiles = {kLogFilePath, kLogBackupPath};
    }

    // Connects under `dbSystem` with a clean interposer and empty tables.
    void startSession(const char* dbSystem) {
        ipReset();
        testDbClearTables();
        char dirTemplate[] = "/tmp/vendrak-dbtest-XXXXXX";
        ASSERT_NE(mkdtemp(dirTemplate), nullptr);
        logDir_ = dirTemplate;
        logPath_ = logDir_ + "/vendraklog.txt";
        backupPath_ = logDir_ + "/vendraklog.bak";
        LogFiles = {logPath_.c_str(), backupPath_.c_str()};
        useDbSystem(dbSystem);
        TrmAswDnlHasPnrNam = 1;
        TrmAswDnlHasPin = 1;
        ASSERT_EQ(
            dbConnect(Settings.login, Settings.password, Settings.database, Settings.dbSystem), 0)
            << LastDiag.MessageText;
    }

    // Sets the settings and the interposer's native numbers for `dbSystem`.
    static void useDbSystem(const char* dbSystem) {
        copyField(Settings.login, kTestDbUser);
        copyField(Settings.password, kTestDbPassword);
        copyField(Settings.database, kTestDbDsn);
        copyField(Settings.dbSystem, dbSystem);
        ASSERT_EQ(ipConfigure((std::string("dbsystem ") + dbSystem).c_str()), 0);
    }

    // The run log's lines without their timestamps.
    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        std::ifstream in(LogFiles.path);
        std::string line;
        while (std::getline(in, line))
            lines.push_back(line.size() > 20 ? line.substr(20) : "");
        return lines;
    }

    // Every statement text sent since the last reset.
    static std::vector<std::string> trace() {
        std::vector<std::string> texts;
        for (int i = 0; i < ipTraceCount(); ++i)
            texts.emplace_back(ipTraceAt(i));
        return texts;
    }

    static std::vector<long> waits() {
        std::vector<long> result;
        for (int i = 0; i < ipWaitCount(); ++i)
            result.push_back(ipWaitAt(i));
        return result;
    }

    std::string logDir_;
    std::string logPath_;  // the run log's files, while the test runs
    std::string backupPath_;
};
