// The real vendrak binary, run from its deployment layout against the test
// server with the interposer preloaded: run modes, banners, attempts,
// reconnections, exit codes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../db/balance_data.h"
#include "../db/trm_asw_data.h"
#include "db/session.h"
#include "download/access_authorisations.h"
#include "download/terminal_authorisations.h"
#include "log/runlog.h"
#include "log_lines.h"
#include "odbc_interposer.h"
#include "platform/text.h"
#include "runner.h"
#include "settings/cipher.h"
#include "settings/settings.h"
#include "testdb.h"

namespace {

using Lines = std::vector<std::string>;

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
    lines.push_back(kReconnected);
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

// Phases 1 and 2 as a full rebuild logs them when both succeed at once.
const Lines kFirstTwoPhases = {"Erstelle Terminalberechtigungen Versuch-Nr:1!",
                               "Terminalberechtigungen erstellt!",
                               "Erstelle Saldenwerte Versuch-Nr:1!", "Saldenwerte erstellt!"};

// A full rebuild whose three phases succeed at their first attempt.
Lines fullRebuildLog() {
    Lines lines = {kStars, kStart};
    append(lines, kFirstTwoPhases);
    append(lines, {"Erstelle Zutrittsberechtigungen Versuch-Nr:1!",
                   "Zutrittsberechtigungen erstellt!", kEnd});
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
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.log, fullRebuildLog());
    EXPECT_TRUE(result.timestampsWellFormed);
    EXPECT_TRUE(result.waits.empty());
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
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.log, fullRebuildLog()) << "no key, so a full rebuild";
        std::remove((run_.root() + "/Quorvance_php/log/vendraklog.txt").c_str());
    }
}

TEST_F(ProgramTest, DownloadKeyOf14CharactersWithoutRowsRunsTheFullRebuild) {
    addRequest("KEY-0123456789-OTHER", 1, "4711");
    ProgramResult keyed = run_.run({"KEY-0123456789"});
    std::remove((run_.root() + "/Quorvance_php/log/vendraklog.txt").c_str());
    ProgramResult plain = run_.run({});

    Lines expected = {kStars, kStart, "Download-Key: KEY-0123456789.",
                      "Aktualisiere Berechtigungen zu Key: KEY-0123456789. Versuch-Nr:1!",
                      "Die Berechtigungen zu Key KEY-0123456789 wurden aktualisiert."};
    ASSERT_GE(plain.log.size(), 2u);
    expected.insert(expected.end(), plain.log.begin() + 2, plain.log.end());
    EXPECT_EQ(keyed.log, expected);
    EXPECT_EQ(keyed.exitCode, plain.exitCode);
    ASSERT_GE(keyed.trace.size(), 2u);
    EXPECT_NE(keyed.trace[0].find("WHERE DnlKey = 'KEY-0123456789' ORDER BY"), std::string::npos);
    EXPECT_EQ(keyed.trace[1], "DELETE FROM QVSYSTEM.TRMASWDNL");
}

// Builds TrmAswDnl and AswBklDnl in this process, as a full run's first and
// third phases leave them.
void buildAuthorisationTables() {
    copyField(Settings.login, kTestDbUser);
    copyField(Settings.password, kTestDbPassword);
    copyField(Settings.database, kTestDbDsn);
    copyField(Settings.dbSystem, "ORACLE");
    LogFiles.path = "";
    ipReset();
    ASSERT_EQ(ipConfigure("dbsystem ORACLE"), 0);
    ASSERT_EQ(dbConnect(Settings.login, Settings.password, Settings.database, Settings.dbSystem),
              0);
    EXPECT_EQ(BuildTrmAswDnl(), 1);
    EXPECT_EQ(BuildAswBklDnl(), 1);
    dbDisconnect();
}

void badgeHolding(const char* number, std::initializer_list<const char*> classes) {
    TestBadge b;
    b.number = number;
    addBadge(b);
    for (const char* bookingClass : classes)
        addBadgeClass(number, bookingClass);
}

TEST_F(ProgramTest, KeyRunBringsTheListedBadgesUpToDate) {
    addSite("S1", "ST1");
    addTerminal("T1");
    addEntry("T1", "Z1", 0, "01");
    addEntry("T1", "Z2", 0, "02");
    addTerminal("T2");
    addEntry("T2", "Z3", 0, "01");
    addEntry("T2", "K1", 1, "02");
    badgeHolding("B1", {"Z1"});
    badgeHolding("B2", {"Z1", "Z2"});
    badgeHolding("B3", {"Z3", "K1"});
    badgeHolding("B4", {"Z1"});
    buildAuthorisationTables();
    addBadgeClass("B1", "Z2");
    testDbExec("DELETE FROM qvsystem.qvs301awb WHERE awbasw = 'B2' AND awbbkl = 'Z1'");
    testDbExec("UPDATE qvsystem.qvs301asw SET aswnam = 'Neu, Anna' WHERE aswnum = 'B2'");
    addBadgeClass("B3", "Z1");
    testDbExec("UPDATE qvsystem.qvs301asw SET aswpin = '9999' WHERE aswnum IN ('B3', 'B4')");
    addRequest("K1", 1, "B1");
    addRequest("K1", 2, "B2");
    addRequest("K1", 3, "B3");
    addRequest("K2", 1, "B4");

    ProgramResult result = run_.run({"K1"});
    EXPECT_EQ(result.exitCode, 0);
    // Its duplicates are the badges' rows of the last full build: standard
    // error shows neither their reasons nor a count.
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.log, (Lines{kStars, kStart, "Download-Key: K1.",
                                 "Aktualisiere Berechtigungen zu Key: K1. Versuch-Nr:1!",
                                 "Fehler SQLWriteAswBklDnl() Ausweis:B1 BKL:Z1! Errcode: 1",
                                 "Fehler SQLWriteAswBklDnl() Ausweis:B2 BKL:Z2! Errcode: 1",
                                 "Fehler SQLWriteAswBklDnl() Ausweis:B3 BKL:Z3! Errcode: 1",
                                 "Die Berechtigungen zu Key K1 wurden aktualisiert.", kEnd}));
    EXPECT_EQ(aswBklRows(), (Lines{"T1/B1/Z1", "T1/B1/Z2", "T1/B2/Z1", "T1/B2/Z2", "T1/B3/Z1",
                                   "T1/B4/Z1", "T2/B3/Z3"}));
    Lines rows;
    for (const auto& row : testDbQuery(
             "SELECT concat_ws('/', dnltrm, dnlasw, dnlnam, dnlpin, dnlkze, dnlkzu, dnll01, "
             "dnlb01, dnll02, dnlb02, dnlb03) FROM qvsystem.trmaswdnl ORDER BY dnltrm, dnlasw"))
        rows.push_back(row[0]);
    EXPECT_EQ(rows,
              (Lines{"T1/B1/Max Muster/1234/0/1/01/Z1/02/Z2/",
                     "T1/B2/Anna Neu/1234/0/1/01/Z1/02/Z2/", "T1/B3/Max Muster/9999/0/1/01/Z1/02//",
                     "T1/B4/Max Muster/1234/0/1/01/Z1/02//", "T2/B3/Max Muster/9999/1/1/01/Z3///"}))
        << "B2's removed Z1 still counts; B4 is not listed";
    EXPECT_TRUE(result.waits.empty());
}

TEST_F(ProgramTest, BadgeFailingInEveryAttemptFailsTheKeyRunWithoutRebuild) {
    addSite("S1", "ST1");
    addTerminal("T1");
    addEntry("T1", "Z1", 0, "01");
    badgeHolding("B1", {"Z1"});
    addRequest("K1", 1, "B1");
    run_.setRules("dbsystem ORACLE\nexec 1 5 HY000 4242 INSERT INTO Qvsystem.AswBklDnl");
    ProgramResult result = run_.run({"K1"});
    Lines expected = {kStars, kStart, "Download-Key: K1."};
    for (int attempt = 1; attempt <= 5; ++attempt) {
        expected.push_back(
            "Aktualisiere Berechtigungen zu Key: K1. Versuch-Nr:" + std::to_string(attempt) + "!");
        expected.push_back("Fehler SQLWriteAswBklDnl() Ausweis:B1 BKL:Z1! Errcode: 4242");
        if (attempt < 5)
            append(expected, reconnected(1));
    }
    append(expected,
           {"Die Berechtigungen zu Key K1 konnten nicht aktualisiert werden!", kFailed, kEnd});
    EXPECT_EQ(result.exitCode, 99);
    EXPECT_EQ(result.log, expected);
    EXPECT_EQ(result.waits, std::vector<long>(4, 10000));
    for (const std::string& text : result.trace)
        EXPECT_NE(text, "DELETE FROM QVSYSTEM.TRMASWDNL")
            << "no full rebuild after a failed key run";
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
    EXPECT_EQ(result.exitCode, 0);
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
    EXPECT_EQ(result.errors.find("wrong-secret-pw"), std::string::npos);
}

// A stray record "0;PASS;..." ahead of the tool's records used to be taken
// for every key, so the password became the DB system and was printed.
TEST_F(ProgramTest, LeadingPasswordRecordNumberedZeroIsTakenForThePasswordOnly) {
    std::string settingsPath = run_.root() + "/files/quorvance.ini";
    std::ostringstream written;
    written << std::ifstream(settingsPath).rdbuf();
    char stored[128];
    ASSERT_EQ(bfEncryptHex(kTestDbPassword, stored, sizeof stored, kSettingsCipherKey), 1);
    std::ofstream(settingsPath) << "0;DATABASE;CONNECT\n0;PASS;" << stored << "\n" << written.str();

    ProgramResult result = run_.run({});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.log, fullRebuildLog());
    std::string everything = result.output + result.errors;
    for (const std::string& line : result.log)
        everything += line + "\n";
    EXPECT_EQ(everything.find(kTestDbPassword), std::string::npos) << everything;
}

// User, password and data source name longer than 23 characters reach the
// driver whole: the role and the DSN exist only under their full names.
TEST_F(ProgramTest, LongUserPasswordAndDataSourceNameConnect) {
    const std::string user = "vendrak_user_of_28_character";
    const std::string password = "password-of-24-character";
    const std::string dsn = "vendrak_test_dsn_of_30_charact";
    ASSERT_EQ(user.size() * 10000 + password.size() * 100 + dsn.size(), 282430u);
    testDbExec("DROP ROLE IF EXISTS " + user);
    testDbExec("CREATE ROLE " + user + " LOGIN PASSWORD '" + password + "' IN ROLE " + kTestDbUser);
    testDbExec("ALTER ROLE " + user + " SET search_path = oracompat, pg_catalog, public");
    // The test server's DSN section again under the long name.
    std::ostringstream odbcIni;
    odbcIni << std::ifstream(std::string(std::getenv("VENDRAK_TEST_DB_DIR")) + "/odbc.ini").rdbuf();
    std::string section = odbcIni.str();
    section.replace(0, section.find(']') + 1, "[" + dsn + "]");
    std::ofstream(run_.root() + "/odbc.ini") << odbcIni.str() << "\n" << section;
    run_.addEnvironment("ODBCINI=" + run_.root() + "/odbc.ini");
    run_.writeSettings(user, password, "ORACLE", dsn);

    ProgramResult result = run_.run({});
    testDbExec("DROP ROLE " + user);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.log, fullRebuildLog());
}

// Nothing at the lock file's or the log's path hangs a run (one still going
// after ten seconds is killed). A lock file that cannot serve ends the run
// before it prepares anything (a symbolic link is not followed, its target
// stays untouched); a FIFO at the log's path loses the lines as an
// unwritable log does.
TEST_F(ProgramTest, NothingAtTheLockOrLogPathHangsTheRunOrLetsItRunUnlocked) {
    const std::string folder = run_.root() + "/Quorvance_php/log/";
    const std::string lock = "../../Quorvance_php/log/vendrak.lock";
    std::ofstream(run_.root() + "/target") << "fremd\n";
    const struct {
        std::string file;
        const char* make;
        std::string cause;  // why the lock file cannot serve; empty for the log
    } rows[] = {
        {"vendrak.lock", "ln -s ../../target", "a symbolic link, which is not followed"},
        {"vendrak.lock", "mkfifo", "not a regular file"},
        {"vendraklog.txt", "mkfifo", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.make + (" " + row.file));
        ASSERT_EQ(std::system(("cd " + folder + " && " + row.make + " " + row.file).c_str()), 0);
        StartedRun started = run_.start({}, "");
        siginfo_t ended = {};
        for (int i = 0; i < 200 && ended.si_pid != started.pid; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            waitid(P_PID, started.pid, &ended, WEXITED | WNOHANG | WNOWAIT);
        }
        if (ended.si_pid != started.pid)
            kill(started.pid, SIGKILL);
        std::filesystem::remove(folder + row.file);
        ProgramResult result = run_.finish(started);
        ASSERT_EQ(ended.si_pid, started.pid) << "the run hung";
        if (row.cause.empty()) {
            EXPECT_EQ(result.exitCode, 0);
            EXPECT_EQ(result.errors, "vendrak: cannot write the run log " + run_.root() +
                                         "/app/bin/../../Quorvance_php/log/vendraklog.txt: not a "
                                         "regular file\n");
            continue;
        }
        EXPECT_EQ(result.exitCode, 99);
        EXPECT_EQ(result.log, Lines{"Die Sperrdatei " + lock + " kann nicht genutzt werden (" +
                                    row.cause + "); dieser Lauf wird ohne Aufbereitung beendet."});
        EXPECT_EQ(result.errors, "vendrak: cannot use the run lock " + lock + " (" + row.cause +
                                     "); this run prepares nothing\n");
        EXPECT_TRUE(result.trace.empty()) << "a run without its lock prepared";
        std::filesystem::remove(folder + "vendraklog.txt");
    }
    std::ifstream target(run_.root() + "/target");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(target), {}), "fremd\n");
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
    EXPECT_EQ(result.errors, "vendrak: cannot read the settings file " + run_.root() +
                                 "/app/bin/../../files/quorvance.ini: No such file or directory\n")
        << "the cause, once, where the operator sees it";
}

}  // namespace
