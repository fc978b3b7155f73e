// The real vendrak binary, run from its deployment layout against the test
// server with the interposer preloaded: run modes, banners, attempts,
// reconnections, exit codes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../db/balance_data.h"
#include "../db/trm_asw_data.h"
#include "runner.h"
#include "testdb.h"

namespace {

using Lines = std::vector<std::string>;

const char* const kStars = "**********";
const char* const kStart = ">>> QV Downloadaufbereitung (Vendrak) - Beginn <<<";
const char* const kEnd = ">>> QV Downloadaufbereitung (Vendrak) - Ende <<<";
const char* const kFailed = "Bei der Downloadaufbereitung trat ein Fehler auf.";

Lines reconnected(int attempts) {
    Lines lines;
    for (int i = 1; i <= attempts; ++i) {
        lines.push_back("Versuch Nr. " + std::to_string(i) +
                        " zur Wiederherstellung der Datenbankverbindung!");
        if (i < attempts) {
            lines.push_back("Fehler dbConnect(dbReconnect)! Errcode: -1 Versuch-Nr.: " +
                            std::to_string(i));
        }
    }
    lines.push_back("Die Verbindung zur Datenbank wurde wiederhergestellt!");
    return lines;
}

Lines failedReconnection() {
    Lines lines;
    for (int i = 1; i <= 5; ++i) {
        lines.push_back("Versuch Nr. " + std::to_string(i) +
                        " zur Wiederherstellung der Datenbankverbindung!");
        lines.push_back("Fehler dbConnect(dbReconnect)! Errcode: -1 Versuch-Nr.: " +
                        std::to_string(i));
    }
    return lines;
}

void append(Lines& lines, const Lines& more) {
    lines.insert(lines.end(), more.begin(), more.end());
}

// The access phase is not built yet: every attempt fails and the rebuild
// ends after its fifth attempt.
Lines accessPhaseFailing() {
    Lines lines;
    for (int attempt = 1; attempt <= 5; ++attempt) {
        lines.push_back("Erstelle Zutrittsberechtigungen Versuch-Nr:" + std::to_string(attempt) +
                        "!");
        if (attempt < 5)
            append(lines, reconnected(1));
    }
    lines.push_back("Die Zutrittsberechtigungen konnten nicht erstellt werden!");
    return lines;
}

// Phases 1 and 2 as a full rebuild logs them when both succeed at once.
const Lines kFirstTwoPhases = {"Erstelle Terminalberechtigungen Versuch-Nr:1!",
                               "Terminalberechtigungen erstellt!",
                               "Erstelle Saldenwerte Versuch-Nr:1!", "Saldenwerte erstellt!"};

Lines fullRebuildLog() {
    Lines lines = {kStars, kStart};
    append(lines, kFirstTwoPhases);
    append(lines, accessPhaseFailing());
    append(lines, {kFailed, kEnd});
    return lines;
}

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testDbClearTables();
        run_.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
        run_.setRules("dbsystem ORACLE");
    }
    ProgramRun run_;
};

TEST_F(ProgramTest, WithoutArgumentRebuildsTheTerminalAuthorisations) {
    addSite("S1", "ST1");
    addTerminal("T1");
    addEntry("T1", "Z1", 0, "02");
    TestBadge badge;
    badge.number = "4711";
    addBadge(badge);
    addBadgeClass("4711", "Z1");
    testDbExec(
        "INSERT INTO qvsystem.trmaswdnl (dnltrm, dnlasw, dnlkze, dnlkzu, dnlspr, dnlatp) VALUES "
        "('OLD', 'OLD', 0, 0, 0, 0)");

    ProgramResult result = run_.run({});
    EXPECT_EQ(result.exitCode, 99) << "the access phase is not built yet";
    EXPECT_EQ(result.log, fullRebuildLog());
    EXPECT_TRUE(result.timestampsWellFormed);
    EXPECT_EQ(result.waits, std::vector<long>(4, 10000));
    EXPECT_EQ(dnlRowCount(), 1);
    EXPECT_EQ(dnlValue("T1", "4711", "dnlnam || '/' || dnll02 || '/' || dnlkzu"),
              "Max Muster/02/1");
    EXPECT_EQ(result.output, "");
}

TEST_F(ProgramTest, FullRunBuildsTheTerminalAuthorisationsAndTheBalanceValues) {
    addSite("S1", "ST1");
    addTerminal("T1", "SAL1");
    testDbExec("UPDATE qvsystem.qvs1140trm SET trmapp = '5820-301'");
    addEntry("T1", "K1", 1, "01");
    TestBadge badge;
    badge.number = "4711";
    addBadge(badge);
    addBadgeClass("4711", "K1");
    addBalanceValues("4711", {{"tsww05", "-    12,50"}});
    addListText(kStandardLabels, 1, 7, "Standard");
    addBalanceLine({1, "Saldo", 1, 5});
    testDbExec("INSERT INTO qvsystem.salaswdnl (dnlsal, dnlasw) VALUES ('OLD', 'OLD')");

    ProgramResult result = run_.run({});
    // Until the access phase exists the run still ends with 99 after it;
    // phases 1 and 2 must have succeeded at their first attempt.
    ASSERT_GE(result.log.size(), 6u);
    EXPECT_EQ(Lines(result.log.begin(), result.log.begin() + 6),
              (Lines{kStars, kStart, kFirstTwoPhases[0], kFirstTwoPhases[1], kFirstTwoPhases[2],
                     kFirstTwoPhases[3]}));
    EXPECT_EQ(dnlValue("T1", "4711", "dnlkze || dnlsal"), "1SAL1");
    EXPECT_EQ(displayLines("4711")[0], "Saldo         12,50-");
    EXPECT_EQ(displayLines("4711")[8], "12,50-");
    EXPECT_EQ(listRows("4711"), (Lines{"5=$ 12,50-"}));
    EXPECT_EQ(tableRows("salaswdnl"), 1);
}

TEST_F(ProgramTest, OnlyASingleArgumentIsADownloadKey) {
    for (const Lines& arguments : {Lines{"K1", "K2"}, Lines{""}}) {
        ProgramResult result = run_.run(arguments);
        EXPECT_EQ(result.exitCode, 99);
        EXPECT_EQ(result.log, fullRebuildLog()) << "no key, so a full rebuild";
        std::remove((run_.root() + "/Quorvance_php/log/vendraklog.txt").c_str());
    }
}

TEST_F(ProgramTest, DownloadKeyIsCutTo14CharactersAndFailsWithoutFullRebuild) {
    ProgramResult result = run_.run({"KEY-0123456789-TOO-LONG"});
    EXPECT_EQ(result.exitCode, 99);
    EXPECT_EQ(result.log,
              (Lines{kStars, kStart, "Download-Key: KEY-0123456789.",
                     "Die Berechtigungen zu Key KEY-0123456789 konnten nicht aktualisiert werden!",
                     kFailed, kEnd}));
    EXPECT_TRUE(result.trace.empty()) << "no rebuild after a failed key run";
}

TEST_F(ProgramTest, TerminalPhaseFailingFiveTimesEndsTheRun) {
    run_.setRules("dbsystem ORACLE\nexec 1 5 HY000 4242 DELETE FROM QVSYSTEM.TRMASWDNL");
    ProgramResult result = run_.run({});
    Lines expected = {kStars, kStart};
    for (int attempt = 1; attempt <= 5; ++attempt) {
        expected.push_back("Erstelle Terminalberechtigungen Versuch-Nr:" + std::to_string(attempt) +
                           "!");
        expected.push_back("Fehler SQLDeleteTrmAswDnl()! Errcode: 4242");
        if (attempt < 5)
            append(expected, reconnected(1));
    }
    append(expected, {"Die Terminalberechtigungen konnten nicht erstellt werden!", kFailed, kEnd});
    EXPECT_EQ(result.exitCode, 99);
    EXPECT_EQ(result.log, expected);
    EXPECT_EQ(result.waits, std::vector<long>(4, 10000));
}

TEST_F(ProgramTest, FailedReconnectionAfterAFailedAttemptEndsTheRun) {
    run_.setRules(
        "dbsystem ORACLE\nexec 1 1 HY000 4242 DELETE FROM QVSYSTEM.TRMASWDNL\n"
        "connect 2 5 08001 12541");
    ProgramResult result = run_.run({});
    Lines expected = {kStars, kStart, "Erstelle Terminalberechtigungen Versuch-Nr:1!",
                      "Fehler SQLDeleteTrmAswDnl()! Errcode: 4242"};
    append(expected, failedReconnection());
    append(expected, {"Die Terminalberechtigungen konnten auf Grund von DB-Verbindungproblemen "
                      "nicht erstellt werden!",
                      kFailed, kEnd});
    EXPECT_EQ(result.exitCode, 99);
    EXPECT_EQ(result.log, expected);
    EXPECT_EQ(result.waits, std::vector<long>(5, 60000));
}

TEST_F(ProgramTest, ConnectionFailureAtStartWithoutReconnectionEndsAt99) {
    run_.setRules("dbsystem ORACLE\nconnect 1 6 08001 12541");
    ProgramResult result = run_.run({});
    Lines expected = {kStars, kStart};
    append(expected, failedReconnection());
    expected.push_back(
        "Datenbankverbindung fehlgeschlagen, Fehler: 0. User: vendrak  Pwd: ***  DB: vendrak_test  "
        "DbSystem: ORACLE ");
    EXPECT_EQ(result.exitCode, 99);
    EXPECT_EQ(result.log, expected) << "no end banner after a failed connection";
    EXPECT_EQ(result.waits, std::vector<long>(5, 60000));
    std::string connectError =
        "Connect Error: SQLCode: 12541 sqlState: 08001 Msg: [interposer] injected fault\n";
    std::string sixTimes;
    for (int i = 0; i < 6; ++i)
        sixTimes += connectError;
    EXPECT_EQ(result.output, sixTimes);
    EXPECT_TRUE(result.trace.empty());
}

TEST_F(ProgramTest, ConnectionFailureAtStartWithSuccessfulReconnectionRunsOn) {
    run_.setRules("dbsystem ORACLE\nconnect 1 1 08001 12541");
    ProgramResult result = run_.run({});
    Lines expected = {kStars, kStart};
    append(expected, reconnected(1));
    Lines rebuild = fullRebuildLog();
    expected.insert(expected.end(), rebuild.begin() + 2, rebuild.end());
    EXPECT_EQ(result.exitCode, 99);
    EXPECT_EQ(result.log, expected);
}

TEST_F(ProgramTest, PasswordNeverReachesLogOrOutput) {
    run_.writeSettings(kTestDbUser, "wrong-secret-pw", "ORACLE", kTestDbDsn);
    ProgramResult result = run_.run({});
    EXPECT_EQ(result.exitCode, 99);
    ASSERT_FALSE(result.log.empty());
    EXPECT_EQ(result.log.back(),
              "Datenbankverbindung fehlgeschlagen, Fehler: 0. User: vendrak  Pwd: ***  DB: "
              "vendrak_test  DbSystem: ORACLE ");
    EXPECT_NE(result.output.find("sqlState: 08001"), std::string::npos) << result.output;
    for (const std::string& line : result.log) {
        EXPECT_EQ(line.find("wrong-secret-pw"), std::string::npos);
    }
    EXPECT_EQ(result.output.find("wrong-secret-pw"), std::string::npos);
}

TEST_F(ProgramTest, MissingSettingsFileEndsAtTheConnection) {
    std::remove((run_.root() + "/files/quorvance.ini").c_str());
    ProgramResult result = run_.run({});
    EXPECT_EQ(result.exitCode, 99);
    std::string refusals;
    for (int i = 0; i < 6; ++i)
        refusals += "DBSystem: \n";
    EXPECT_EQ(result.output, refusals) << "the empty DB system is refused at every connect";
    ASSERT_FALSE(result.log.empty());
    EXPECT_EQ(result.log.back(),
              "Datenbankverbindung fehlgeschlagen, Fehler: 0. User:   Pwd: ***  DB:   DbSystem:  ");
}

}  // namespace
