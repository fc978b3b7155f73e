// Any single failure, anywhere, is retried and ends in the same tables as a
// clean run. The cases are generated from the statements a clean run sends:
// every kind of statement fails once at its first and once at its last
// occurrence, as a server error with a native number, as a failure without a
// diagnostic record, and as a server crash under the program's connection.
// The real binary runs each case from its deployment layout; the interposer
// records the waits instead of sleeping them.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "odbc_interposer.h"
#include "runner.h"
#include "test_config.h"
#include "testdb.h"

namespace {

using Lines = std::vector<std::string>;
using Rows = std::vector<std::vector<std::string>>;

const char* const kDownloadTables[] = {"trmaswdnl", "salaswdnl", "salaswdnl2", "aswbkldnl"};
const char* const kReconnected = "Die Verbindung zur Datenbank wurde wiederhergestellt!";
const char* const kFailed = "Bei der Downloadaufbereitung trat ein Fehler auf.";
const char* const kEnd = ">>> QV Downloadaufbereitung (Vendrak) - Ende <<<";

void loadSmallSite() {
    testDbClearTables();
    std::ifstream in(std::string(VENDRAK_TEST_SOURCE_DIR) + "/support/small_site.sql");
    std::stringstream sql;
    sql << in.rdbuf();
    ASSERT_TRUE(testDbExec(sql.str()));
}

// The four download tables, each row as its text, in a fixed order.
std::vector<Rows> downloadTables() {
    std::vector<Rows> tables;
    for (const char* name : kDownloadTables) {
        tables.push_back(testDbQuery(std::string("SELECT t::text FROM qvsystem.") + name +
                                     " t ORDER BY t::text"));
    }
    return tables;
}

// A row in every download table that a run must remove: a delete that
// failed but counted as done would leave it.
void plantStaleRows() {
    testDbExec("INSERT INTO qvsystem.trmaswdnl (dnltrm, dnlasw) VALUES ('STALE', 'STALE')");
    testDbExec("INSERT INTO qvsystem.salaswdnl (dnlsal, dnlasw) VALUES ('STALE', 'STALE')");
    testDbExec("INSERT INTO qvsystem.salaswdnl2 (dnlsal, dnlasw) VALUES ('STALE', 'STALE')");
    testDbExec("INSERT INTO qvsystem.aswbkldnl (dnltrm, dnlasw, dnlbkl) VALUES ('S', 'S', 'S')");
}

// The kind of a statement: its text up to the first literal. Statements that
// differ only in their values (the eight balance text queries, the inserts)
// are one kind; the interposer matches a kind by this prefix.
std::string statementKind(const std::string& text) {
    std::string kind = text.substr(0, text.find('\''));
    std::size_t start = kind.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : kind.substr(start);
}

struct KindCount {
    std::string kind;
    int occurrences;  // statements of the trace that contain the kind
};

std::vector<KindCount> statementKinds(const Lines& trace) {
    std::vector<KindCount> kinds;
    for (const std::string& text : trace) {
        std::string kind = statementKind(text);
        bool known = false;
        for (const KindCount& k : kinds)
            known = known || k.kind == kind;
        if (!known && !kind.empty())
            kinds.push_back({kind, 0});
    }
    for (KindCount& k : kinds) {
        for (const std::string& text : trace)
            k.occurrences += text.find(k.kind) != std::string::npos ? 1 : 0;
    }
    return kinds;
}

struct Fault {
    std::string rule;
    std::string hook;  // command line run by a hook rule
    std::string name;
};

// The three forms of one failure of the `at`th statement of `kind`.
std::vector<Fault> faultsAt(const std::string& kind, int at) {
    std::string n = std::to_string(at);
    return {
        {"exec " + n + " 1 HY000 20000 " + kind, "", "server error #" + n + ": " + kind},
        {"exec " + n + " 1 HY000 none " + kind, "", "no diagnostic #" + n + ": " + kind},
        {"hook exec " + n + " " + kind, testDbServerCommand("crash"),
         "server crash #" + n + ": " + kind},
    };
}

std::vector<Fault> faultMatrix(const Lines& cleanTrace) {
    std::vector<Fault> faults;
    for (const KindCount& k : statementKinds(cleanTrace)) {
        for (const Fault& f : faultsAt(k.kind, 1))
            faults.push_back(f);
        if (k.occurrences > 1) {
            for (const Fault& f : faultsAt(k.kind, k.occurrences))
                faults.push_back(f);
        }
    }
    return faults;
}

bool contains(const Lines& lines, const std::string& line) {
    for (const std::string& l : lines) {
        if (l == line)
            return true;
    }
    return false;
}

class FaultMatrixTest : public ::testing::Test {
  protected:
    void SetUp() override {
        loadSmallSite();
        run_.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
    }

    ProgramResult runWith(const std::vector<std::string>& arguments, const Fault& fault) {
        run_.setRules("dbsystem ORACLE\n" + fault.rule);
        run_.setHook(fault.hook);
        std::remove((run_.root() + "/Quorvance_php/log/vendraklog.txt").c_str());
        return run_.run(arguments);
    }

    // Runs every fault of the clean run's trace; each must end like the
    // clean run. `restore` puts the tables back to where the clean run began.
    void expectEveryFaultRecovers(const std::vector<std::string>& arguments, void (*restore)()) {
        restore();
        ProgramResult clean = runWith(arguments, Fault{});
        ASSERT_EQ(clean.exitCode, 0) << ::testing::PrintToString(clean.log);
        std::vector<Rows> expected = downloadTables();
        std::vector<Fault> faults = faultMatrix(clean.trace);
        ASSERT_GT(faults.size(), 20u);
        for (const Fault& fault : faults) {
            SCOPED_TRACE(fault.name);
            restore();
            ProgramResult result = runWith(arguments, fault);
            EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result.log);
            EXPECT_TRUE(contains(result.log, kReconnected));
            EXPECT_EQ(result.waits, std::vector<long>{10000}) << "one retry after the fault";
            EXPECT_EQ(downloadTables(), expected);
        }
        std::printf("%zu faulted runs of %zu statements\n", faults.size(), clean.trace.size());
    }

    ProgramRun run_;
};

void freshDownloadTables() {
    for (const char* name : kDownloadTables)
        testDbExec(std::string("DELETE FROM qvsystem.") + name);
    plantStaleRows();
}

TEST_F(FaultMatrixTest, EveryFailureOfAFullRebuildIsRetriedToTheCleanResult) {
    expectEveryFaultRecovers({}, freshDownloadTables);
}

// The state after a full rebuild, with changes to three badges' master data
// and a request for them under key K1; kept in copies so that every key run
// starts from it.
void prepareKeyRun(ProgramRun& run) {
    ASSERT_EQ(run.run({}).exitCode, 0);
    testDbExec(
        "UPDATE qvsystem.qvs301asw SET aswnam = 'Neu, Nora', aswpin = '9999' WHERE aswnum = 'B1';"
        "INSERT INTO qvsystem.qvs301awb (awbasw, awbbkl) VALUES ('B3', 'Z1'), ('B6', 'Z1');"
        "DELETE FROM qvsystem.qvs301awb WHERE awbasw = 'B2' AND awbbkl = 'Z2';"
        "INSERT INTO qvsystem.qvsaswdnl (dnlkey, dnllfd, dnlasw) VALUES "
        "('K1', 1, 'B1'), ('K1', 2, 'B3  '), ('K1', 3, 'B6'), ('K2', 1, 'B2');");
    for (const char* name : kDownloadTables) {
        testDbExec(std::string("DROP TABLE IF EXISTS public.saved_") + name);
        testDbExec(std::string("CREATE TABLE public.saved_") + name +
                   " AS SELECT * FROM qvsystem." + name);
    }
}

void savedDownloadTables() {
    for (const char* name : kDownloadTables) {
        testDbExec(std::string("DELETE FROM qvsystem.") + name);
        testDbExec(std::string("INSERT INTO qvsystem.") + name + " SELECT * FROM public.saved_" +
                   name);
    }
}

TEST_F(FaultMatrixTest, EveryFailureOfAKeyRunIsRetriedToTheCleanResult) {
    run_.setRules("dbsystem ORACLE");
    prepareKeyRun(run_);
    expectEveryFaultRecovers({"K1"}, savedDownloadTables);
}

// Five failures in a row of one statement of each phase: the phase gives up,
// the later phases do not run, and the run ends with 99.
TEST_F(FaultMatrixTest, FiveFailuresInARowEndTheRunInTheirPhase) {
    struct Case {
        const char* statement;
        const char* errorLine;
        const char* phase;
        const char* gaveUp;
        const char* laterPhase;
    } const cases[] = {
        {"DELETE FROM QVSYSTEM.TRMASWDNL", "Fehler SQLDeleteTrmAswDnl()! Errcode: 20000",
         "Terminalberechtigungen", "Die Terminalberechtigungen konnten nicht erstellt werden!",
         "Erstelle Saldenwerte Versuch-Nr:1!"},
        {"DELETE FROM QVSYSTEM.SALASWDNL", "Fehler SQLDeleteSalAswDnl()! Errcode: 20000",
         "Saldenwerte", "Die Saldenwerte konnten nicht erstellt werden!",
         "Erstelle Zutrittsberechtigungen Versuch-Nr:1!"},
        {"DELETE FROM QVSYSTEM.ASWBKLDNL", "Fehler SQLDeleteAswBklDnl()! Errcode: 20000",
         "Zutrittsberechtigungen", "Die Zutrittsberechtigungen konnten nicht erstellt werden!", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.statement);
        ProgramResult result =
            runWith({}, Fault{std::string("exec 1 5 HY000 20000 ") + c.statement, "", ""});
        EXPECT_EQ(result.exitCode, 99);
        ASSERT_GE(result.log.size(), 5u);
        Lines tail(result.log.end() - 5, result.log.end());
        EXPECT_EQ(tail, (Lines{std::string("Erstelle ") + c.phase + " Versuch-Nr:5!", c.errorLine,
                               c.gaveUp, kFailed, kEnd}));
        EXPECT_FALSE(*c.laterPhase != '\0' && contains(result.log, c.laterPhase));
        EXPECT_EQ(result.waits, std::vector<long>(4, 10000));
    }
}

// The server is down when the run starts and comes back during the first
// 60-second wait of the reconnection.
TEST_F(FaultMatrixTest, ServerComingBackDuringTheReconnectionAtStart) {
    ProgramResult clean = runWith({}, Fault{});
    ASSERT_EQ(clean.exitCode, 0);
    std::vector<Rows> expected = downloadTables();
    freshDownloadTables();
    testDbServerStop();
    ProgramResult result = runWith({}, Fault{"hook wait 1", testDbServerCommand("start"), ""});
    testDbServerStart();  // the tests after this one need the server, whatever happened here
    EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result.log);
    EXPECT_EQ(result.waits, std::vector<long>{60000});
    EXPECT_TRUE(contains(result.log, kReconnected));
    EXPECT_EQ(downloadTables(), expected);
}

}  // namespace
