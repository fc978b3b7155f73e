// Whole runs of the real binary on a small site: the exact tables of a clean
// full rebuild, and the proof that any single failure, anywhere, is retried
// and ends in the same tables as a clean run. The cases are generated from the statements a clean
// run sends: every kind of statement fails once at its first and once at its last occurrence, as a
// server error with a native number, as a failure without a diagnostic record, and as a server
// crash under the program's connection. The real binary runs each case from its deployment layout;
// the interposer records the waits instead of sleeping them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "log_lines.h"
#include "odbc_interposer.h"
#include "runner.h"
#include "test_config.h"
#include "testdb.h"

namespace {

using Lines = std::vector<std::string>;
using Rows = std::vector<std::vector<std::string>>;

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

// Every form at every position; or, to keep the matrix short, one form per
// position, the forms taking turns so that each kind of failure is met.
std::vector<Fault> faultMatrix(const Lines& cleanTrace, bool everyForm) {
    std::vector<Fault> faults;
    auto add = [&](const std::vector<Fault>& forms) {
        if (everyForm)
            faults.insert(faults.end(), forms.begin(), forms.end());
        else
            faults.push_back(forms[faults.size() % forms.size()]);
    };
    for (const KindCount& k : statementKinds(cleanTrace)) {
        add(faultsAt(k.kind, 1));
        if (k.occurrences > 1)
            add(faultsAt(k.kind, k.occurrences));
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

void freshDownloadTables();

class SiteRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testDbLoadSmallSite();
        run_.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
        atomic_.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
        atomic_.addEnvironment("VENDRAK_REBUILD=atomic");
    }

    ProgramResult runWith(const std::vector<std::string>& arguments, const Fault& fault) {
        return runWith(run_, arguments, fault);
    }
    ProgramResult runWith(ProgramRun& run, const std::vector<std::string>& arguments,
                          const Fault& fault) {
        run.setRules(dbSystemRule_ + fault.rule);
        run.setHook(fault.hook);
        std::remove((run.root() + "/Quorvance_php/log/vendraklog.txt").c_str());
        return run.run(arguments);
    }

    // Runs every fault of the clean run's trace; each must end like the
    // clean run. `restore` puts the tables back to where the clean run began.
    void expectEveryFaultRecovers(const std::vector<std::string>& arguments, void (*restore)(),
                                  ProgramRun& run, bool everyForm) {
        restore();
        ProgramResult clean = runWith(run, arguments, Fault{});
        ASSERT_EQ(clean.exitCode, 0) << ::testing::PrintToString(clean.log);
        std::vector<Rows> expected = testDbDownloadTables();
        std::vector<Fault> faults = faultMatrix(clean.trace, everyForm);
        ASSERT_GT(faults.size(), 15u);
        expectFaultsRecover(arguments, restore, run, faults, expected);
        std::printf("%zu faulted runs of %zu statements\n", faults.size(), clean.trace.size());
    }

    // Each fault once: the run ends like the clean run with `expected`.
    void expectFaultsRecover(const std::vector<std::string>& arguments, void (*restore)(),
                             ProgramRun& run, const std::vector<Fault>& faults,
                             const std::vector<Rows>& expected) {
        for (const Fault& fault : faults) {
            SCOPED_TRACE(fault.name);
            restore();
            ProgramResult result = runWith(run, arguments, fault);
            EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result.log);
            EXPECT_TRUE(contains(result.log, kReconnected));
            EXPECT_EQ(result.waits, std::vector<long>{10000}) << "one retry after the fault";
            EXPECT_EQ(testDbDownloadTables(), expected);
        }
    }

    void expectStatementTimeOutFailsTheAttempt(const char* errcode, const char* sqlState);
    void expectSigtermEndsAStatementHeldUpByALock(const std::string& evidence, int seconds,
                                                  int timeout);

    enum LockFile { kKept, kRemovedBeforeTheSecondStarts, kRemovedWhileTheSecondWaits };
    void expectTheSecondRunWaits(LockFile lockFile);

    // The tables of a clean full rebuild, into `tables`; the download tables
    // are emptied again, so that the test's own runs start from nothing.
    void cleanRebuildTables(std::vector<Rows>& tables) {
        ProgramResult clean = runWith({}, Fault{});
        ASSERT_EQ(clean.exitCode, 0);
        tables = testDbDownloadTables();
        freshDownloadTables();
    }

    ProgramRun run_;
    ProgramRun atomic_;  // the same installation with VENDRAK_REBUILD=atomic
    // The interposer gives the native numbers of ORACLE; a real server's own
    // numbers pass unchanged without this rule.
    std::string dbSystemRule_ = "dbsystem ORACLE\n";
};

void freshDownloadTables() {
    for (const char* name : kTestDbDownloadTables)
        testDbExec(std::string("DELETE FROM qvsystem.") + name);
    plantStaleRows();
}

// The dates of the site are relative to today; {D-10}, {D-3} and {D+30} stand
// for them in the expected rows.
std::string withDates(std::string row) {
    for (const char* offset : {"-10", "-3", "+30"}) {
        std::string mark = std::string("{D") + offset + "}";
        std::string date =
            testDbValue(std::string("SELECT to_char(CURRENT_DATE ") + offset + ", 'yyyymmdd')");
        for (std::size_t at = row.find(mark); at != std::string::npos; at = row.find(mark))
            row.replace(at, mark.size(), date);
    }
    return row;
}

Rows asRows(std::initializer_list<const char*> texts, bool dated = false) {
    Rows rows;
    for (const char* text : texts)
        rows.push_back({dated ? withDates(text) : text});
    return rows;
}

TEST_F(SiteRunTest, FullRebuildOfTheSmallSiteWritesTheExpectedTables) {
    freshDownloadTables();
    ProgramResult result = runWith({}, Fault{});
    EXPECT_EQ(result.exitCode, 0);
    const char* const noBalanceValues =
        "Fehler SQLWriteSalAswDnl2() ReadSaldoWerte:SAL1 Ausweis:B3! Errcode: 100";
    EXPECT_EQ(result.log,
              (Lines{kStars, kStart, "Erstelle Terminalberechtigungen Versuch-Nr:1!",
                     "Terminalberechtigungen erstellt!", "Erstelle Saldenwerte Versuch-Nr:1!",
                     noBalanceValues, noBalanceValues, "Saldenwerte erstellt!",
                     "Erstelle Zutrittsberechtigungen Versuch-Nr:1!",
                     "Zutrittsberechtigungen erstellt!", kEnd}));
    std::vector<Rows> tables = testDbDownloadTables();
    EXPECT_EQ(
        tables[0],
        asRows(
            {R"((T1,SAL1,B1,{D-10},00000000,Wer,1,1,1,LZ1,MD1," 12,50 ",01,Z1,02,"","","","","","","","","","","","","","","","","","","",S1,1,A1,1111,P1,"Max Muster"))",
             R"((T1,SAL1,B2,{D-10},{D+30},Wer,1,1,1,LZ1,MD1,"  0,50-",01,"",02,Z2,"","","","","","","","","","","","","","","","","","",S1,2,A2,2222,P2,"Eva Kurz"))",
             R"((T1,SAL1,B3,{D-3},00000000,Wer,1,0,1,LZ1,MD1,"       ",01,"",02,"","","","","","","","","","","","","","","","","","","",S2,3,A3,3333,P3,"Otto Lang"))",
             R"((T1,SAL1,B6,{D-10},00000000,Wer,1,1,1,LZ1,MD1,"       ",01,"",02,Z2,"","","","","","","","","","","","","","","","","","",S2,6,A6,6666,P6,"Sean O'Brien"))",
             R"((T2,SAL2,B1,{D-10},00000000,Wer,1,1,2,LZ1,MD1," 12,50 ",01,Z1,"","","","","","","","","","","","","","","","","","","","",S1,1,A1,1111,P1,"Max Muster"))",
             R"((T2,SAL2,B3,{D-3},00000000,Wer,1,0,2,LZ1,MD1,"       ",01,"","","","","","","","","","","","","","","","","","","","","",S2,3,A3,3333,P3,"Otto Lang"))",
             R"((T2,SAL2,B6,{D-10},00000000,Wer,1,0,2,LZ1,MD1,"       ",01,"","","","","","","","","","","","","","","","","","","","","",S2,6,A6,6666,P6,"Sean O'Brien"))",
             R"((T2,SALX,B2,{D-10},{D+30},Wer,1,0,2,LZ1,MD1,"  0,50-",01,"","","","","","","","","","","","","","","","","","","","","",S1,2,A2,2222,P2,"Eva Kurz"))",
             R"((T3,SAL1,B1,{D-10},00000000,Wer,1,0,2,LZ1,MD1," 12,50 ","","","","","","",04,"","","","","","","","","","","","","","","",S1,1,A1,1111,P1,"Max Muster"))",
             R"((T3,SAL1,B2,{D-10},{D+30},Wer,1,1,2,LZ1,MD1,"  0,50-","","","","","","",04,Z2,"","","","","","","","","","","","","","",S1,2,A2,2222,P2,"Eva Kurz"))",
             R"((T3,SAL1,B3,{D-3},00000000,Wer,1,0,2,LZ1,MD1,"       ","","","","","","",04,"","","","","","","","","","","","","","","",S2,3,A3,3333,P3,"Otto Lang"))",
             R"((T3,SAL1,B6,{D-10},00000000,Wer,1,1,2,LZ1,MD1,"       ","","","","","","",04,Z2,"","","","","","","","","","","","","","",S2,6,A6,6666,P6,"Sean O'Brien"))"},
            true));
    EXPECT_EQ(
        tables[1],
        asRows(
            {R"((SAL1,LZ1,MD1,1,B1,"            07.12.26","Stunden       12,50 ","               3,25-","-  ","                    ","                frei","                  7 ","                    ",07.12.26,"12,50 ","3,25-","","","","7 ",""))",
             R"((SAL1,LZ1,MD1,1,B2,"            01.01.26","Stunden        0,50-","              10,00 ",+54,"                    ","                    ","                  2-","                    ",01.01.26,"0,50-","10,00 ",54,"","",2-,""))",
             R"((SAL1,LZ1,MD1,1,B3,"                    ","Stunden             ","                    ","+  ","                    ","                    ","                    ","                    ",""," "," ","","",""," ",""))",
             R"((SAL1,LZ1,MD1,1,B6,"                    ","Stunden             ","              99,99-","+  ","                    ","                   x","                    ","                    ","","       ","99,99-","","",""," ",""))",
             R"((SAL1,LZ1,MD1,2,B1,"            07.12.26","Hours         12,50 ","               3,25-","-  ","                    ","                frei","                  7 ","                    ",07.12.26,"12,50 ","3,25-","","","","7 ",""))",
             R"((SAL1,LZ1,MD1,2,B2,"            01.01.26","Hours          0,50-","              10,00 ",+54,"                    ","                    ","                  2-","                    ",01.01.26,"0,50-","10,00 ",54,"","",2-,""))",
             R"((SAL1,LZ1,MD1,2,B3,"                    ","Hours               ","                    ","+  ","                    ","                    ","                    ","                    ",""," "," ","","",""," ",""))",
             R"((SAL1,LZ1,MD1,2,B6,"                    ","Hours               ","              99,99-","+  ","                    ","                   x","                    ","                    ","","       ","99,99-","","",""," ",""))",
             R"((SAL2,LZ1,MD1,2,B1,"+ 12,50","+     7",+12,"-  ","","","","","+ 12,50","+     7",+12,"-  ","","","",""))",
             R"((SAL2,LZ1,MD1,2,B3,"+      ","+      ","+  ","+  ","","","","","+      ","+      ","+  ","+  ","","","",""))",
             R"((SAL2,LZ1,MD1,2,B6,"+      ","+      ","+  ","+  ","","","","","+      ","+      ","+  ","+  ","","","",""))",
             R"((SALX,LZ1,MD1,2,B2,"               2,00 ","               Spaet","                    ","                    ","                    ","                    ","                    ","                    ","2,00 ","","","","","","",""))"}));
    EXPECT_EQ(tables[2].size(), 40u);
    EXPECT_EQ(
        testDbQuery("SELECT t::text FROM qvsystem.salaswdnl2 t WHERE dnlasw = 'B1' AND "
                    "dnlspr = 1 ORDER BY 1"),
        asRows({R"((SAL1,LZ1,MD1,1,B1,1,07.12.26))", R"((SAL1,LZ1,MD1,1,B1,2,"$ 12,50$"))",
                R"((SAL1,LZ1,MD1,1,B1,21,"                frei"))",
                R"((SAL1,LZ1,MD1,1,B1,5,"$  3,25-"))", R"((SAL1,LZ1,MD1,1,B1,9,"$     7$"))"}));
    EXPECT_EQ(tables[3],
              asRows({R"((T1,B1,Z1))", R"((T1,B1,Z3))", R"((T1,B2,Z2))", R"((T1,B6,Z2))",
                      R"((T2,B1,Z1))", R"((T3,B2,Z2))", R"((T3,B6,Z2))", R"((T3,B6,Z9))"}));
}

TEST_F(SiteRunTest, EveryFailureOfAFullRebuildIsRetriedToTheCleanResult) {
    expectEveryFaultRecovers({}, freshDownloadTables, run_, true);
}

// The atomic rebuild starts every retry with the first phase, after a
// rollback and on a reconnected session that must be out of auto-commit too.
TEST_F(SiteRunTest, EveryFailureOfAnAtomicRebuildIsRetriedToTheCleanResult) {
    expectEveryFaultRecovers({}, freshDownloadTables, atomic_, false);
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
    for (const char* name : kTestDbDownloadTables) {
        testDbExec(std::string("DROP TABLE IF EXISTS public.saved_") + name);
        testDbExec(std::string("CREATE TABLE public.saved_") + name +
                   " AS SELECT * FROM qvsystem." + name);
    }
}

void savedDownloadTables() {
    for (const char* name : kTestDbDownloadTables) {
        testDbExec(std::string("DELETE FROM qvsystem.") + name);
        testDbExec(std::string("INSERT INTO qvsystem.") + name + " SELECT * FROM public.saved_" +
                   name);
    }
}

TEST_F(SiteRunTest, EveryFailureOfAKeyRunIsRetriedToTheCleanResult) {
    run_.setRules("dbsystem ORACLE");
    prepareKeyRun(run_);
    expectEveryFaultRecovers({"K1"}, savedDownloadTables, run_, true);
}

TEST_F(SiteRunTest, EveryFailureOfAnAtomicKeyRunIsRetriedToTheCleanResult) {
    run_.setRules("dbsystem ORACLE");
    prepareKeyRun(run_);
    expectEveryFaultRecovers({"K1"}, savedDownloadTables, atomic_, false);
}

// The reads of the tables that grow with the badges in one statement's
// plan that look at more than the rows the statement is after, as "table:
// node": a sequential scan, or an index scan whose condition leaves the
// index's first column free (a scan of the whole index). The planner is
// told to avoid sequential scans, so one left in a plan has no index to
// replace it. The tables of terminals, sites and lists are left out: a
// badge is paired with every terminal by design.
Lines wholeTableReads(const std::string& statement) {
    testDbExec(R"(
        CREATE OR REPLACE FUNCTION pg_temp.whole_reads(statement text) RETURNS SETOF text
        LANGUAGE plpgsql AS $$
        DECLARE plan jsonb;
        BEGIN
            SET LOCAL enable_seqscan = off;
            EXECUTE 'EXPLAIN (FORMAT JSON) ' || statement INTO plan;
            RETURN QUERY
            SELECT r.tab || ': ' || r.node FROM (
                SELECT COALESCE(i.indrelid::regclass::text, 'qvsystem.' || (n->>'Relation Name'))
                           AS tab, n->>'Node Type' AS node,
                       n->>'Node Type' = 'Seq Scan' OR COALESCE(n->>'Index Cond', '') !~
                           ('\m' || a.attname || '\M') AS whole
                FROM jsonb_path_query(plan, 'strict $.**') AS n
                LEFT JOIN pg_class c ON c.relname = n->>'Index Name'
                LEFT JOIN pg_index i ON i.indexrelid = c.oid
                LEFT JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = i.indkey[0]
                WHERE jsonb_typeof(n) = 'object'
                  AND (n->>'Node Type' = 'Seq Scan' OR n ? 'Index Name')) r
            WHERE r.whole AND r.tab IN ('qvsystem.qvs301asw', 'qvsystem.qvs301awb',
                'qvsystem.o2002tsw', 'qvsystem.qvsaswdnl', 'qvsystem.trmaswdnl',
                'qvsystem.aswbkldnl');
        END $$)");
    Lines reads;
    for (const auto& row : testDbQuery("SELECT pg_temp.whole_reads($s$" + statement + "$s$)"))
        reads.push_back(row[0]);
    return reads;
}

// A key run's work grows with its badges, not with the site: with the
// indexes of the test schema every statement of a key run finds its rows by
// an index. Inserts look nothing up, and the access pass's first query reads
// every access row of TrmAswDnl whatever the indexes: it names the badge only
// in a subquery tied to the outer row, which no index can narrow (the planner
// may reach those rows through an index by terminal, so its plan is not
// judged).
TEST_F(SiteRunTest, KeyRunStatementsFindTheirRowsByIndex) {
    run_.setRules("dbsystem ORACLE");
    prepareKeyRun(run_);
    savedDownloadTables();
    ProgramResult result = runWith({"K1"}, Fault{});
    ASSERT_EQ(result.exitCode, 0) << ::testing::PrintToString(result.log);
    std::vector<KindCount> kinds = statementKinds(result.trace);
    ASSERT_GE(kinds.size(), 9u);
    const std::string accessPass = "SELECT DISTINCT DNLTRM, DNLASW, M35BKL FROM ";
    for (const KindCount& kind : kinds) {
        if (kind.kind.rfind("INSERT", 0) == 0)
            continue;
        for (const std::string& text : result.trace) {
            if (text.find(kind.kind) == std::string::npos)
                continue;
            if (text.rfind(accessPass, 0) != 0) {
                EXPECT_EQ(wholeTableReads(text), Lines{}) << text;
            }
            break;
        }
    }
}

// Five failures in a row of one statement of each phase: the phase gives up,
// the later phases do not run, and the run ends with 99.
TEST_F(SiteRunTest, FiveFailuresInARowEndTheRunInTheirPhase) {
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
TEST_F(SiteRunTest, ServerComingBackDuringTheReconnectionAtStart) {
    std::vector<Rows> expected;
    ASSERT_NO_FATAL_FAILURE(cleanRebuildTables(expected));
    testDbServerStop();
    ProgramResult result = runWith({}, Fault{"hook wait 1", testDbServerCommand("start"), ""});
    testDbServerStart();  // the tests after this one need the server, whatever happened here
    EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result.log);
    EXPECT_EQ(result.waits, std::vector<long>{60000});
    EXPECT_TRUE(contains(result.log, kReconnected));
    EXPECT_EQ(testDbDownloadTables(), expected);
}

// Two full rebuilds of one installation started half a second apart: the
// second waits for the first's run lock, so the runs follow each other and
// the tables come out as after one run. Each run sleeps a second at its first
// statement, so that they would overlap without the lock. The same holds
// when the lock file is removed while the first run holds it, before the
// second starts or while it waits; the run that goes on locks the file then
// at the path, so the lock file stands there again.
TEST_F(SiteRunTest, RunStartedDuringAnotherWaitsForItsEnd) {
    for (LockFile lockFile : {kKept, kRemovedBeforeTheSecondStarts, kRemovedWhileTheSecondWaits}) {
        SCOPED_TRACE(lockFile);
        expectTheSecondRunWaits(lockFile);
    }
}

void SiteRunTest::expectTheSecondRunWaits(LockFile lockFile) {
    const std::string lockPath = run_.root() + "/Quorvance_php/log/vendrak.lock";
    std::vector<Rows> expected;
    ASSERT_NO_FATAL_FAILURE(cleanRebuildTables(expected));
    run_.setRules("dbsystem ORACLE\nhook exec 1 DELETE FROM QVSYSTEM.TRMASWDNL");
    run_.setHook("sleep 1");
    std::remove((run_.root() + "/Quorvance_php/log/vendraklog.txt").c_str());
    StartedRun firstStarted = run_.start({}, "first-");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    if (lockFile == kRemovedBeforeTheSecondStarts) {
        ASSERT_EQ(std::remove(lockPath.c_str()), 0);
    }
    StartedRun secondStarted = run_.start({}, "second-");
    if (lockFile == kRemovedWhileTheSecondWaits) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_EQ(std::remove(lockPath.c_str()), 0);
    }
    ProgramResult first = run_.finish(firstStarted);
    ProgramResult second = run_.finish(secondStarted);

    EXPECT_EQ(first.exitCode, 0);
    EXPECT_EQ(second.exitCode, 0);
    Lines banners;
    int waitingLines = 0;
    for (const std::string& line : second.log) {
        if (line == kStart || line == kEnd)
            banners.push_back(line);
        if (line.rfind("Warte auf das Ende eines laufenden Laufs (Sperrdatei ", 0) == 0)
            ++waitingLines;
    }
    EXPECT_EQ(banners, (Lines{kStart, kEnd, kStart, kEnd})) << ::testing::PrintToString(second.log);
    EXPECT_EQ(waitingLines, 1) << "the second run waited, and said so once";
    EXPECT_EQ(first.errors, "");
    EXPECT_EQ(second.errors.rfind("vendrak: waiting for the run lock ", 0), 0u) << second.errors;
    EXPECT_EQ(testDbDownloadTables(), expected);
    EXPECT_TRUE(std::filesystem::exists(lockPath));
}

// SIGTERM while the terminal phase writes its rows: the run stops at the next
// statement without a retry, logs why and ends with 99; the next run
// rebuilds the complete tables.
TEST_F(SiteRunTest, SigtermStopsTheRunAtTheNextStatementAndTheNextRunRebuildsAll) {
    std::vector<Rows> expected;
    ASSERT_NO_FATAL_FAILURE(cleanRebuildTables(expected));
    // The hook marks that the run is at its third TrmAswDnl row, then holds
    // it there for a second; the signal comes during that second.
    const std::string marker = run_.root() + "/at-third-row";
    run_.setRules("dbsystem ORACLE\nhook exec 3 INSERT INTO Qvsystem.TrmAswDnl");
    run_.setHook("touch " + marker + " && sleep 1");
    std::remove((run_.root() + "/Quorvance_php/log/vendraklog.txt").c_str());
    StartedRun started = run_.start({}, "");
    for (int i = 0; i < 300 && !std::filesystem::exists(marker); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(std::filesystem::exists(marker));
    ASSERT_EQ(kill(started.pid, SIGTERM), 0);
    ProgramResult stopped = run_.finish(started);

    EXPECT_EQ(stopped.exitCode, 99);
    ASSERT_GE(stopped.log.size(), 3u);
    EXPECT_EQ(Lines(stopped.log.end() - 3, stopped.log.end()),
              (Lines{kStoppedBy[0], kFailed, kEnd}));
    EXPECT_FALSE(contains(stopped.log, "Erstelle Terminalberechtigungen Versuch-Nr:2!"));
    EXPECT_FALSE(contains(stopped.log, kReconnected));
    EXPECT_TRUE(stopped.waits.empty());
    EXPECT_EQ(testDbValue("SELECT count(*) FROM qvsystem.trmaswdnl"), "3")
        << "the insert in flight completed, nothing ran after it";

    ProgramResult next = runWith({}, Fault{});
    EXPECT_EQ(next.exitCode, 0);
    EXPECT_EQ(testDbDownloadTables(), expected);
}

// --- Time limits and stops ---

// True once `done` holds, checked every 50 ms for up to 30 seconds.
bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 600 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return done();
}

// Another session holds TrmAswDnl, as a forgotten transaction does; here
// the test's own connection, until releaseTableLock.
void holdTableLock() {
    testDbExec("BEGIN; LOCK TABLE qvsystem.trmaswdnl IN ACCESS EXCLUSIVE MODE");
}
void releaseTableLock() {
    testDbExec("ROLLBACK");
}

// The first statement of the rebuild waits for the lock until the statement
// time-out fails it; the failure is retried like any other, and the run
// succeeds once the lock is gone. The hook holds the pause after the failure
// until the test has let go of the lock.
TEST_F(SiteRunTest, StatementHeldUpByALockFailsAtTheStatementTimeOut) {
    expectStatementTimeOutFailsTheAttempt("20000", "57014");
}

// `errcode` and `sqlState` are those of the statement that timed out.
void SiteRunTest::expectStatementTimeOutFailsTheAttempt(const char* errcode, const char* sqlState) {
    const std::string pausing = run_.root() + "/pausing", released = run_.root() + "/released";
    run_.addEnvironment("VENDRAK_STATEMENT_TIMEOUT=1");
    run_.setRules(dbSystemRule_ + "hook wait 1");
    run_.setHook("touch " + pausing + "; until [ -e " + released + " ]; do sleep 0.1; done");
    std::remove((run_.root() + "/Quorvance_php/log/vendraklog.txt").c_str());
    holdTableLock();
    StartedRun started = run_.start({}, "");
    EXPECT_TRUE(eventually([&] { return std::filesystem::exists(pausing); }));
    releaseTableLock();
    std::ofstream(released).close();
    ProgramResult result = run_.finish(started);

    const std::string failure = std::string("Fehler SQLDeleteTrmAswDnl()! Errcode: ") + errcode;
    EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result.log);
    ASSERT_GE(result.log.size(), 7u);
    EXPECT_EQ(
        Lines(result.log.begin() + 2, result.log.begin() + 7),
        (Lines{"Erstelle Terminalberechtigungen Versuch-Nr:1!", failure, kReconnectedAtOnce[0],
               kReconnected, "Erstelle Terminalberechtigungen Versuch-Nr:2!"}));
    EXPECT_NE(result.errors.find("vendrak: " + failure +
                                 ": timed out (statement time-out of 1 s): SQLSTATE " + sqlState),
              std::string::npos)
        << result.errors;
}

// SIGTERM while the first statement waits for the lock: the statement is
// cancelled and the run ends at once, as a stop, long before the statement
// time-out (which only keeps a run that ignores the stop from hanging here).
TEST_F(SiteRunTest, SigtermCancelsAStatementHeldUpByALock) {
    expectSigtermEndsAStatementHeldUpByALock("SQLSTATE 57014", 3, 10);
}

// `evidence` is what standard error or the run log shows of how the
// statement ended; the run ends within `seconds` of the signal, long before
// the statement time-out `timeout`.
void SiteRunTest::expectSigtermEndsAStatementHeldUpByALock(const std::string& evidence, int seconds,
                                                           int timeout) {
    run_.addEnvironment("VENDRAK_STATEMENT_TIMEOUT=" + std::to_string(timeout));
    holdTableLock();
    StartedRun started = run_.start({}, "");
    bool blocked = eventually(
        [] { return testDbValue("SELECT count(*) FROM pg_locks WHERE NOT granted") != "0"; });
    auto signalled = std::chrono::steady_clock::now();
    ASSERT_EQ(kill(started.pid, SIGTERM), 0);
    ProgramResult result = run_.finish(started);
    auto took = std::chrono::steady_clock::now() - signalled;
    releaseTableLock();
    ASSERT_TRUE(blocked);
    EXPECT_LT(took, std::chrono::seconds(seconds));
    EXPECT_EQ(result.exitCode, 99);
    ASSERT_GE(result.log.size(), 3u);
    EXPECT_EQ(Lines(result.log.end() - 3, result.log.end()), (Lines{kStoppedBy[0], kFailed, kEnd}));
    EXPECT_EQ(result.trace, Lines{"DELETE FROM QVSYSTEM.TRMASWDNL"});
    EXPECT_NE((result.errors + ::testing::PrintToString(result.log)).find(evidence),
              std::string::npos)
        << result.errors;
    EXPECT_EQ(result.errors.find("timed out"), std::string::npos) << "a cancel, not a time-out";
}

// The session calls of a trace under trace-session: its lines that are no
// statement.
Lines sessionCalls(const Lines& trace) {
    Lines calls;
    for (const std::string& line : trace) {
        if (line == "CONNECT" || line == "COMMIT" || line == "ROLLBACK" ||
            line.rfind("DISCONNECT", 0) == 0)
            calls.push_back(line);
    }
    return calls;
}

// True when the interposer's event log has a fetch after its last statement.
bool fetchedAfterLastStatement(const std::string& eventsPath) {
    std::ifstream in(eventsPath);
    bool fetched = false;
    for (std::string event; std::getline(in, event);)
        fetched = event[0] == 'F' || (fetched && event[0] != 'E');
    return fetched;
}

// A stop signal wherever it comes ends the run at once with 99 and says so:
// nothing is sent, fetched, attempted or connected after it. A hook sends
// the signal inside a statement (before it reaches the driver), after a
// statement handle's allocation or inside a pause; the test signals the wait
// for the run lock, which it holds.
TEST_F(SiteRunTest, StopSignalEndsTheRunWhereverItComes) {
    const char* const noAttempt2 = "Erstelle Terminalberechtigungen Versuch-Nr:2!";
    const char* const noReconnect2 = "Versuch Nr. 2 zur Wiederherstellung der Datenbankverbindung!";
    struct Case {
        const char* name;
        int signal;
        const char* key;            // "" for a full rebuild
        const char* rules;          // its hook rule says where the signal comes; "" the run lock
        const char* lastStatement;  // a part of the last statement sent; "" none
        long wait;                  // the one pause recorded; 0 none
        const char* notLogged;      // what a run that went on would log next
    } const cases[] = {
        {"waiting for the run lock", SIGTERM, "", "", "", 0, kStart},
        {"SIGINT at the terminal cursor", SIGINT, "", "hook exec 1 SELECT DISTINCT TRMNAM",
         "SELECT DISTINCT TRMNAM", 0, noAttempt2},
        {"at a single-row query", SIGTERM, "", "hook exec 1 SELECT MSTTTP", "SELECT MSTTTP", 0,
         "Terminalberechtigungen erstellt!"},
        {"at the request cursor", SIGTERM, "K1", "hook exec 1 FROM QVSYSTEM.QvsAswDnl",
         "FROM QVSYSTEM.QvsAswDnl", 0, "Erstelle Terminalberechtigungen Versuch-Nr:1!"},
        {"between a statement's allocation and its execution", SIGTERM, "", "hook alloc 1", "", 0,
         "Terminalberechtigungen erstellt!"},
        {"in the pause between attempts", SIGTERM, "",
         "exec 1 1 HY000 20000 DELETE FROM QVSYSTEM.TRMASWDNL\nhook wait 1", "DELETE FROM", 10000,
         noAttempt2},
        {"in a reconnection pause", SIGTERM, "",
         "exec 1 1 HY000 20000 DELETE FROM QVSYSTEM.TRMASWDNL\n"
         "connect 2 5 08001 12541\nhook wait 1",
         "DELETE FROM", 60000, noReconnect2},
        {"in a reconnection pause at the start", SIGTERM, "",
         "connect 1 6 08001 12541\nhook wait 1", "", 60000, noReconnect2},
        {"in a first connect that fails", SIGTERM, "", "connect 1 1 08001 12541\nhook connect 1",
         "", 0, "Versuch Nr. 1 zur Wiederherstellung der Datenbankverbindung!"},
    };
    const std::string eventsPath = run_.root() + "/events.txt";
    run_.addEnvironment("VENDRAK_IP_EVENTS=" + eventsPath);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool atRunLock = *c.rules == '\0';
        run_.setRules(std::string("dbsystem ORACLE\n") + c.rules);
        run_.setHook(std::string("kill -") + (c.signal == SIGINT ? "INT" : "TERM") +
                     " $PPID; sleep 0.3");
        std::remove((run_.root() + "/Quorvance_php/log/vendraklog.txt").c_str());
        std::remove(eventsPath.c_str());
        int lock = open((run_.root() + "/Quorvance_php/log/vendrak.lock").c_str(),
                        O_RDONLY | O_CREAT, 0644);
        ASSERT_TRUE(lock >= 0 && (!atRunLock || flock(lock, LOCK_EX) == 0));
        StartedRun started = run_.start(*c.key != '\0' ? Lines{c.key} : Lines{}, "");
        if (atRunLock) {  // it says on standard error that it waits
            EXPECT_TRUE(eventually(
                [&] { return std::ifstream(started.files + "stderr.txt").peek() != EOF; }));
            kill(started.pid, c.signal);
        }
        ProgramResult result = run_.finish(started);
        close(lock);

        EXPECT_EQ(result.exitCode, 99);
        Lines tail = {kStoppedBy[c.signal == SIGINT ? 1 : 0], kFailed, kEnd};
        if (atRunLock) {
            tail = {
                "Das Warten auf den laufenden Lauf wurde durch das Signal SIGTERM "
                "abgebrochen; dieser Lauf wird ohne Aufbereitung beendet."};
        }
        ASSERT_GE(result.log.size(), tail.size());
        EXPECT_EQ(Lines(result.log.end() - static_cast<long>(tail.size()), result.log.end()), tail);
        EXPECT_FALSE(contains(result.log, c.notLogged)) << ::testing::PrintToString(result.log);
        EXPECT_EQ(result.trace.empty(), *c.lastStatement == '\0');
        EXPECT_NE((result.trace.empty() ? "" : result.trace.back()).find(c.lastStatement),
                  std::string::npos);
        EXPECT_FALSE(fetchedAfterLastStatement(eventsPath));
        EXPECT_EQ(result.waits, c.wait != 0 ? std::vector<long>{c.wait} : std::vector<long>{});
        // The stop line is the run log's: no failed call's diagnostic takes
        // it to standard error.
        EXPECT_EQ(result.errors.find(kStoppedBy[c.signal == SIGINT ? 1 : 0]), std::string::npos)
            << result.errors;
    }
}

// An atomic rebuild takes effect whole or not at all. A fault in the third
// phase in all five attempts leaves the tables as they were before the run,
// though every attempt had rebuilt the first two phases; a fault in the
// second phase once is retried from the first phase to a clean run's tables.
TEST_F(SiteRunTest, AtomicRebuildTakesEffectWholeOrNotAtAll) {
    std::vector<Rows> clean;
    ASSERT_NO_FATAL_FAILURE(cleanRebuildTables(clean));
    const std::vector<Rows> before = testDbDownloadTables();

    ProgramResult failed =
        runWith(atomic_, {}, Fault{"exec 1 5 HY000 20000 DELETE FROM QVSYSTEM.ASWBKLDNL", "", ""});
    EXPECT_EQ(failed.exitCode, 99);
    EXPECT_TRUE(contains(failed.log, "Erstelle Terminalberechtigungen Versuch-Nr:5!"));
    EXPECT_TRUE(contains(failed.log, "Erstelle Saldenwerte Versuch-Nr:5!"));
    ASSERT_GE(failed.log.size(), 5u);
    EXPECT_EQ(Lines(failed.log.end() - 5, failed.log.end()),
              (Lines{"Erstelle Zutrittsberechtigungen Versuch-Nr:5!",
                     "Fehler SQLDeleteAswBklDnl()! Errcode: 20000",
                     "Die Zutrittsberechtigungen konnten nicht erstellt werden!", kFailed, kEnd}));
    EXPECT_EQ(failed.waits, std::vector<long>(4, 10000));
    EXPECT_EQ(testDbDownloadTables(), before);

    ProgramResult retried =
        runWith(atomic_, {}, Fault{"exec 1 1 HY000 20000 DELETE FROM QVSYSTEM.SALASWDNL", "", ""});
    EXPECT_EQ(retried.exitCode, 0);
    const char* const noBalanceValues =
        "Fehler SQLWriteSalAswDnl2() ReadSaldoWerte:SAL1 Ausweis:B3! Errcode: 100";
    EXPECT_EQ(
        retried.log,
        (Lines{kStars, kStart, "Erstelle Terminalberechtigungen Versuch-Nr:1!",
               "Terminalberechtigungen erstellt!", "Erstelle Saldenwerte Versuch-Nr:1!",
               "Fehler SQLDeleteSalAswDnl()! Errcode: 20000", kReconnectedAtOnce[0], kReconnected,
               "Erstelle Terminalberechtigungen Versuch-Nr:2!", "Terminalberechtigungen erstellt!",
               "Erstelle Saldenwerte Versuch-Nr:2!", noBalanceValues, noBalanceValues,
               "Saldenwerte erstellt!", "Erstelle Zutrittsberechtigungen Versuch-Nr:2!",
               "Zutrittsberechtigungen erstellt!", kEnd}));
    EXPECT_EQ(testDbDownloadTables(), clean);
}

// A session beside the rebuild counts TrmAswDnl when the third phase begins:
// by default it sees the new rows, in an atomic rebuild the previous ones
// (the one stale row) until the commit.
TEST_F(SiteRunTest, UntilTheCommitOtherSessionsReadThePreviousTables) {
    const std::string seen = run_.root() + "/seen";
    const Fault countAtThirdPhase{
        "hook exec 1 DELETE FROM QVSYSTEM.ASWBKLDNL",
        testDbPsqlCommand("SELECT count(*) FROM qvsystem.trmaswdnl") + " >" + seen, ""};
    const struct {
        ProgramRun* run;
        const char* countSeen;
    } cases[] = {{&run_, "12\n"}, {&atomic_, "1\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.countSeen);
        freshDownloadTables();
        std::remove(seen.c_str());
        EXPECT_EQ(runWith(*c.run, {}, countAtThirdPhase).exitCode, 0);
        std::ifstream in(seen);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), c.countSeen);
        EXPECT_EQ(testDbValue("SELECT count(*) FROM qvsystem.trmaswdnl"), "12");
    }
}

// A stop signal, or the end of the program without one, in the middle of an
// atomic rebuild: the second phase has begun, and the tables stay as they
// were before the run.
TEST_F(SiteRunTest, StoppedOrKilledAtomicRebuildLeavesThePreviousTables) {
    freshDownloadTables();
    const std::vector<Rows> before = testDbDownloadTables();
    const std::string marker = run_.root() + "/in-second-phase";
    atomic_.setRules("dbsystem ORACLE\nhook exec 1 DELETE FROM QVSYSTEM.SALASWDNL");
    atomic_.setHook("touch " + marker + " && sleep 1");
    for (int signal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(signal);
        std::remove(marker.c_str());
        std::remove((atomic_.root() + "/Quorvance_php/log/vendraklog.txt").c_str());
        StartedRun started = atomic_.start({}, "");
        for (int i = 0; i < 300 && !std::filesystem::exists(marker); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(std::filesystem::exists(marker));
        ASSERT_EQ(kill(started.pid, signal), 0);
        ProgramResult stopped = atomic_.finish(started);
        EXPECT_EQ(stopped.exitCode, signal == SIGTERM ? 99 : 128 + SIGKILL);
        if (signal == SIGTERM) {
            EXPECT_EQ(stopped.log.back(), kEnd);
            EXPECT_FALSE(contains(stopped.log, kReconnected));
        }
        EXPECT_EQ(testDbDownloadTables(), before);
    }
}

// A stop signal after the last statement before the commit still ends the
// atomic rebuild without a commit. The hook sends it as the run frees the
// handle of its last read, that of AswBklDnl's rows, once the proof passed.
TEST_F(SiteRunTest, StopBeforeTheCommitCommitsNothing) {
    freshDownloadTables();
    const std::vector<Rows> before = testDbDownloadTables();
    ProgramResult result = runWith(
        atomic_, {},
        Fault{"trace-session\nhook free 1 SELECT DnlTrm, DnlAsw, DnlBkl FROM Qvsystem.AswBklDnl",
              "kill -TERM $PPID; sleep 0.3", ""});
    EXPECT_EQ(result.exitCode, 99);
    ASSERT_GE(result.log.size(), 4u);
    EXPECT_EQ(
        Lines(result.log.end() - 4, result.log.end()),
        (Lines{"Erstelle Zutrittsberechtigungen Versuch-Nr:1!", kStoppedBy[0], kFailed, kEnd}));
    EXPECT_EQ(sessionCalls(result.trace), (Lines{"CONNECT", "ROLLBACK"}));
    EXPECT_EQ(testDbDownloadTables(), before);
}

// Rows of TrmAswDnl and AswBklDnl of badge B1 (`ofB1`) or of every other
// badge.
std::vector<Rows> keyRunRows(bool ofB1) {
    std::vector<Rows> rows;
    for (const char* name : {"trmaswdnl", "aswbkldnl"}) {
        rows.push_back(testDbQuery(std::string("SELECT t::text FROM qvsystem.") + name +
                                   " t WHERE (dnlasw = 'B1') = " + (ofB1 ? "true" : "false") +
                                   " ORDER BY 1"));
    }
    return rows;
}

// An atomic key run commits each badge's rows as one unit. B3, the second of
// K1's three badges, fails in its access authorisations in every attempt,
// after its terminal authorisations were rewritten: B1 keeps its new rows,
// B3 (and B6 after it) their old ones.
TEST_F(SiteRunTest, AtomicKeyRunCommitsEachBadgeAsOneUnit) {
    run_.setRules("dbsystem ORACLE");
    prepareKeyRun(run_);
    const std::vector<Rows> oldB1 = keyRunRows(true);
    const std::vector<Rows> oldOthers = keyRunRows(false);
    ASSERT_EQ(runWith(atomic_, {"K1"}, Fault{}).exitCode, 0);
    const std::vector<Rows> newB1 = keyRunRows(true);
    ASSERT_NE(newB1, oldB1);
    ASSERT_NE(keyRunRows(false), oldOthers);

    savedDownloadTables();
    ProgramResult failed =
        runWith(atomic_, {"K1"}, Fault{"exec 1 5 HY000 20000 AWBASW = 'B3'", "", ""});
    EXPECT_EQ(failed.exitCode, 99);
    EXPECT_TRUE(
        contains(failed.log, "Die Berechtigungen zu Key K1 konnten nicht aktualisiert werden!"));
    EXPECT_EQ(keyRunRows(true), newB1);
    EXPECT_EQ(keyRunRows(false), oldOthers);
}

// A failed atomic attempt is rolled back before its session is given up, and
// so is the transaction of the counts that prove it, so that a driver that
// keeps a session with an open transaction (ODBC allows it to refuse the
// disconnect) still lets the next attempt start clean: in
// the full rebuild (the second phase fails once, after the first has
// written) and in a key run (badge B3 fails once, after B1 was committed).
// The statement time-out bounds the wait on locks that a kept session holds.
TEST_F(SiteRunTest, FailedAtomicAttemptIsRolledBackBeforeTheReconnection) {
    atomic_.addEnvironment("VENDRAK_STATEMENT_TIMEOUT=3");
    const std::string refuse = "trace-session\nrefuse-disconnect-in-transaction\n";
    const struct {
        const char* key;
        const char* failure;
        Lines calls;
    } cases[] = {
        {"",
         "exec 1 1 HY000 20000 DELETE FROM QVSYSTEM.SALASWDNL",
         {"CONNECT", "ROLLBACK", "ROLLBACK", "DISCONNECT", "CONNECT", "COMMIT"}},
        {"K1",
         "exec 1 1 HY000 20000 AWBASW = 'B3'",
         {"CONNECT", "COMMIT", "ROLLBACK", "ROLLBACK", "DISCONNECT", "CONNECT", "COMMIT", "COMMIT",
          "COMMIT"}},
    };
    run_.setRules("dbsystem ORACLE");
    prepareKeyRun(run_);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failure);
        savedDownloadTables();
        const Lines arguments = *c.key != '\0' ? Lines{c.key} : Lines{};
        ASSERT_EQ(runWith(atomic_, arguments, Fault{}).exitCode, 0);
        const std::vector<Rows> clean = testDbDownloadTables();
        savedDownloadTables();
        ProgramResult result = runWith(atomic_, arguments, Fault{refuse + c.failure, "", ""});
        EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result.log);
        EXPECT_EQ(sessionCalls(result.trace), c.calls);
        EXPECT_EQ(testDbDownloadTables(), clean);
    }
}

// Statements that fail and are tolerated do not end the atomic rebuild's
// transaction (the driver rolls back only the failed statement): inserts
// retried in the narrower form of a 38-column TrmAswDnl, and a second row of
// site S2 that doubles the terminal rows of B3 and B6 on top. Both modes
// write the same log and the same tables.
TEST_F(SiteRunTest, AtomicRebuildToleratesFailedStatementsAsTheDefaultDoes) {
    const struct {
        void (*change)();
        const char* toleratedLine;
    } cases[] = {
        {[] { testDbSetTrmAswDnlColumns(38); }, "Terminalberechtigungen erstellt!"},
        {[] { testDbExec("INSERT INTO qvsystem.qvs113sto (stonum, stoktx) VALUES ('S2', 'b')"); },
         "Fehler SQLInsertTrmAswDnl() Terminal:T1 Ausweis:B3! Errcode: 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.toleratedLine);
        c.change();
        freshDownloadTables();
        ProgramResult plain = runWith({}, Fault{});
        ASSERT_EQ(plain.exitCode, 0);
        ASSERT_TRUE(contains(plain.log, c.toleratedLine));
        const std::vector<Rows> expected = testDbDownloadTables();
        freshDownloadTables();
        ProgramResult atomic = runWith(atomic_, {}, Fault{});
        EXPECT_EQ(atomic.exitCode, 0);
        EXPECT_EQ(atomic.log, plain.log);
        EXPECT_EQ(testDbDownloadTables(), expected);
    }
}

// psqlODBC settings under which a failed statement is not rolled back alone
// make the atomic rebuild refuse the data source before its first statement,
// whether the data source sets them or its driver's section does, and for a
// key run as for a full rebuild: K1 has rows, K0 none (its run falls back to
// the full rebuild). Any number but 0 turns UseDeclareFetch on; blanks
// around it are dropped as the driver reads the file. The same data source
// runs as usual without the atomic rebuild, and so does one that names the
// statement-level rollback or overrides the driver's setting.
TEST_F(SiteRunTest, AtomicRebuildRefusesADataSourceThatRollsBackMoreThanTheFailedStatement) {
    const std::string testDbDir = std::getenv("VENDRAK_TEST_DB_DIR");
    auto fileText = [](const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const struct {
        std::string dataSourceLines;
        const char* driverLine;
        bool atomic;
        std::string refused;  // the setting, empty when the run goes ahead
        const char* place;
        const char* key = "";  // "" a full rebuild
    } cases[] = {
        {"UseDeclareFetch=1", "", true, "UseDeclareFetch=1", "(odbc.ini [vendrak_test])"},
        {"UseDeclareFetch=2", "", true, "UseDeclareFetch=2", "(odbc.ini [vendrak_test])"},
        {"UseDeclareFetch= 1 ", "", true, "UseDeclareFetch=1", "(odbc.ini [vendrak_test])"},
        {"UseDeclareFetch=1", "", true, "UseDeclareFetch=1", "(odbc.ini [vendrak_test])", "K1"},
        {"UseDeclareFetch=1", "", true, "UseDeclareFetch=1", "(odbc.ini [vendrak_test])", "K0"},
        {"Protocol=7.4-1", "", true, "Protocol=7.4-1", "(odbc.ini [vendrak_test])"},
        {"", "UseDeclareFetch=1", true, "UseDeclareFetch=1", "(odbcinst.ini [PostgreSQL ANSI])"},
        {"UseDeclareFetch=1\nProtocol=7.4-1", "", false, "", ""},
        {"UseDeclareFetch=0\nProtocol=7.4-2", "UseDeclareFetch=1", true, "", ""},
        // A value too long for the guard's field: its start says nothing.
        {"UseDeclareFetch=" + std::string(69, '0') + "1", "", true,
         "UseDeclareFetch=" + std::string(63, '0'), "(odbc.ini [vendrak_test])"},
    };
    testDbExec("INSERT INTO qvsystem.qvsaswdnl (dnlkey, dnllfd, dnlasw) VALUES ('K1', 1, 'B1')");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dataSourceLines + " / " + c.driverLine + " / " + c.key);
        freshDownloadTables();
        const std::vector<Rows> before = testDbDownloadTables();
        ProgramRun run;
        std::ofstream(run.root() + "/odbc.ini")
            << testDbOwnDsnSection() << c.dataSourceLines << "\n";
        std::ofstream(run.root() + "/odbcinst.ini")
            << fileText(testDbDir + "/odbcinst.ini") << c.driverLine << "\n";
        run.addEnvironment("ODBCINI=" + run.root() + "/odbc.ini");
        run.addEnvironment("ODBCSYSINI=" + run.root());
        if (c.atomic)
            run.addEnvironment("VENDRAK_REBUILD=atomic");
        run.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
        ProgramResult result = runWith(run, *c.key != '\0' ? Lines{c.key} : Lines{}, Fault{});
        if (c.refused.empty()) {
            EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result.log);
            EXPECT_NE(testDbDownloadTables(), before);
            continue;
        }
        EXPECT_EQ(result.exitCode, 99);
        EXPECT_EQ(result.log,
                  (Lines{kStars, kStart,
                         "Die Datenquelle vendrak_test erlaubt keine atomare Aufbereitung (" +
                             c.refused + ")!",
                         kFailed, kEnd}));
        EXPECT_NE(result.errors.find("vendrak: data source vendrak_test: with " + c.refused + " " +
                                     c.place + " psqlODBC does not roll back"),
                  std::string::npos)
            << result.errors;
        EXPECT_EQ(result.trace, Lines{});
        EXPECT_EQ(result.waits, std::vector<long>{});
        EXPECT_EQ(testDbDownloadTables(), before);
    }
}

// A commit that the server refuses fails the attempt like any statement: a
// deferred foreign key on AswBklDnl, checked only at the commit, refuses
// every attempt; the third phase gives up and the tables stay as before.
TEST_F(SiteRunTest, RefusedCommitFailsTheAttemptAndLeavesThePreviousTables) {
    struct DeferredKey {
        DeferredKey() {
            testDbExec(
                "CREATE TABLE public.no_terminals (trmnam varchar(20) PRIMARY KEY);"
                "ALTER TABLE qvsystem.aswbkldnl ADD CONSTRAINT only_known_terminals FOREIGN KEY "
                "(dnltrm) REFERENCES public.no_terminals DEFERRABLE INITIALLY DEFERRED NOT VALID");
        }
        ~DeferredKey() {
            testDbExec(
                "ALTER TABLE qvsystem.aswbkldnl DROP CONSTRAINT IF EXISTS only_known_terminals;"
                "DROP TABLE IF EXISTS public.no_terminals");
        }
    };
    freshDownloadTables();
    const std::vector<Rows> before = testDbDownloadTables();
    DeferredKey deferredKey;
    ProgramResult result = runWith(atomic_, {}, Fault{});
    EXPECT_EQ(result.exitCode, 99);
    ASSERT_GE(result.log.size(), 5u);
    EXPECT_EQ(Lines(result.log.end() - 5, result.log.end()),
              (Lines{"Erstelle Zutrittsberechtigungen Versuch-Nr:5!",
                     "Fehler SQLCommit()! Errcode: 20000",
                     "Die Zutrittsberechtigungen konnten nicht erstellt werden!", kFailed, kEnd}));
    EXPECT_NE(result.errors.find("Fehler SQLCommit()! Errcode: 20000: SQLSTATE 23503"),
              std::string::npos)
        << result.errors;
    EXPECT_EQ(result.waits, std::vector<long>(4, 10000));
    EXPECT_EQ(testDbDownloadTables(), before);
}

// --- DB_SYSTEM=MSSQL on a TDS server (Babelfish) through FreeTDS ---

// The same site on the TDS server, run with DB_SYSTEM=MSSQL and the
// read-only cursors such a server needs. The tests read and write its
// tables through the engine's PostgreSQL protocol, as on the test database.
class MssqlSiteRunTest : public SiteRunTest {
  protected:
    void SetUp() override {
        if (!testDbUseServer(VENDRAK_TEST_MSSQL_DIR, "bfserver.sh"))
            GTEST_SKIP();
        SiteRunTest::SetUp();
        dbSystemRule_ = "";
        for (ProgramRun* run : {&run_, &atomic_}) {
            run->writeSettings(kTestDbUser, kTestDbPassword, "MSSQL", kTestDbDsn);
            run->addEnvironment("VENDRAK_CURSORS=read-only");
        }
    }
    void TearDown() override { testDbUseServer(VENDRAK_TEST_DB_DIR); }
};

// The tables of a full rebuild and then of the key run K1 (prepareKeyRun) on
// the test database in use; B5's validity ends yesterday shortly before
// midnight.
std::vector<Rows> fullAndKeyRunTables(ProgramRun& run) {
    testDbExec(
        "UPDATE qvsystem.qvs301asw SET aswgbi = CURRENT_DATE - interval '1 second' "
        "WHERE aswnum = 'B5'");
    prepareKeyRun(run);
    std::vector<Rows> tables = testDbDownloadTables();
    EXPECT_EQ(run.run({"K1"}).exitCode, 0);
    for (const Rows& table : testDbDownloadTables())
        tables.push_back(table);
    return tables;
}

// The MSSQL rows in ORACLE form, by the two differences by design: MSSQL
// takes the name as stored ("Muster, Max", ORACLE "Max Muster"), and measures
// validity against getdate()-1, so B5, expired yesterday evening, stays valid.
std::vector<Rows> inOracleForm(std::vector<Rows> tables) {
    static const std::regex storedName(R"re(,"([^",]*), ([^"]*)"\)$)re");
    for (Rows& table : tables) {
        Rows kept;
        for (std::vector<std::string>& row : table) {
            if (row[0].find(",B5,") != std::string::npos)
                continue;
            kept.push_back({std::regex_replace(row[0], storedName, R"(,"$2 $1"))")});
        }
        std::sort(kept.begin(), kept.end());
        table = kept;
    }
    return tables;
}

// --check first: the server refuses the default locking cursor, and the
// check names the setting that the site needs; with it the cursor passes.
TEST_F(MssqlSiteRunTest, MssqlFullRebuildAndKeyRunGiveTheTablesOfOracle) {
    ProgramRun plain;
    plain.writeSettings(kTestDbUser, kTestDbPassword, "MSSQL", kTestDbDsn);
    ProgramResult refused = plain.run({"--check"});
    EXPECT_NE(refused.output.find("FAILED   cursor: the server refuses a cursor opened as runs "
                                  "open theirs (SQLSTATE 42000: [FreeTDS][SQL Server]only READ "
                                  "ONLY cursors are supported); set VENDRAK_CURSORS=read-only\n"),
              std::string::npos)
        << refused.output;
    ProgramResult passed = run_.run({"--check"});
    EXPECT_EQ(passed.exitCode, 0) << passed.output;
    const std::vector<Rows> mssql = fullAndKeyRunTables(run_);
    ASSERT_TRUE(testDbUseServer(VENDRAK_TEST_DB_DIR));
    testDbLoadSmallSite();
    ProgramRun oracle;
    oracle.writeSettings(kTestDbUser, kTestDbPassword, "ORACLE", kTestDbDsn);
    oracle.setRules("dbsystem ORACLE");
    const std::vector<Rows> expected = fullAndKeyRunTables(oracle);
    EXPECT_EQ(inOracleForm(mssql), expected);
    EXPECT_EQ(mssql[0].size(), expected[0].size() + 3) << "B5 at T1, T2 and T3";
}

// A failure of each form once, at a statement that runs while the
// terminal cursor is open: retried to the tables of a clean run.
TEST_F(MssqlSiteRunTest, MssqlFaultOfEachFormIsRetriedToTheCleanResult) {
    std::vector<Rows> clean;
    ASSERT_NO_FATAL_FAILURE(cleanRebuildTables(clean));
    expectFaultsRecover({}, freshDownloadTables, run_,
                        faultsAt("INSERT INTO Qvsystem.TrmAswDnl", 3), clean);
}

// A second row of site S2 doubles the terminal rows of B3 and B6: the server
// refuses them as duplicate keys (native 2627), which are logged and
// skipped, in both modes. An atomic rebuild whose third phase fails in every
// attempt leaves the tables as they were.
TEST_F(MssqlSiteRunTest, MssqlDuplicateKeysAreSkippedAndAFailedAtomicRebuildRollsBack) {
    testDbExec("INSERT INTO qvsystem.qvs113sto (stonum, stoktx) VALUES ('S2', 'b')");
    for (ProgramRun* run : {&run_, &atomic_}) {
        freshDownloadTables();
        ProgramResult result = runWith(*run, {}, Fault{});
        EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(result.log);
        EXPECT_TRUE(contains(result.log,
                             "Fehler SQLInsertTrmAswDnl() Terminal:T1 Ausweis:B3! "
                             "Errcode: 2627"));
        EXPECT_EQ(testDbValue("SELECT count(*) FROM qvsystem.trmaswdnl"), "12");
    }
    const std::vector<Rows> before = testDbDownloadTables();
    ProgramResult failed =
        runWith(atomic_, {}, Fault{"exec 1 5 HY000 20000 DELETE FROM QVSYSTEM.ASWBKLDNL", "", ""});
    EXPECT_EQ(failed.exitCode, 99);
    EXPECT_EQ(failed.waits, std::vector<long>(4, 10000));
    EXPECT_EQ(testDbDownloadTables(), before);
}

// Babelfish reads FreeTDS's cancel (the attention packet) only between
// requests, so it does not end a statement that waits for a lock. At the
// time-out FreeTDS gives the connection up (HYT00); after SIGTERM the run
// ends 10 s after the signal, when its watch gives the call up, and says so.
TEST_F(MssqlSiteRunTest, MssqlStatementHeldUpByALockFailsAtTheStatementTimeOut) {
    expectStatementTimeOutFailsTheAttempt("-1", "HYT00");
}

TEST_F(MssqlSiteRunTest, MssqlSigtermEndsAStatementHeldUpByALock) {
    expectSigtermEndsAStatementHeldUpByALock("Der Datenbankaufruf SQLExecDirect antwortete nach ",
                                             13, 60);
}

// --- DB_SYSTEM=MYSQL on MariaDB through Connector/ODBC ---

// The statements without DB-system forms run; the terminal authorisation
// cursor has none, sends nothing and fails with -1 in each of the five
// attempts of a full rebuild and of a key run, which end as clean failures.
TEST(MysqlRunTest, MysqlRunsFailInEveryAttemptAtTheTerminalCursor) {
    if (!testDbUseServer(VENDRAK_TEST_MYSQL_DIR, "mariadb.sh"))
        GTEST_SKIP();
    ASSERT_EQ(
        std::system("'" VENDRAK_TEST_SOURCE_DIR "/support/mariadb.sh' sql '" VENDRAK_TEST_MYSQL_DIR
                    "' \"INSERT INTO qvsaswdnl (dnlkey, dnllfd, dnlasw) VALUES ('K1', 1, 'B1')\""),
        0);
    const struct {
        Lines arguments;
        std::string lastAttempt, failure, gaveUp, statement;
    } cases[] = {
        {{},
         "Erstelle Terminalberechtigungen Versuch-Nr:5!",
         "Fehler SQLOpenTrmAsw()! Errcode: -1",
         "Die Terminalberechtigungen konnten nicht erstellt werden!",
         "DELETE FROM QVSYSTEM.TRMASWDNL"},
        {{"K1"},
         "Aktualisiere Berechtigungen zu Key: K1. Versuch-Nr:5!",
         "Fehler SQLOpenTrmAsw() Ausweisnr. B1! Errcode: -1",
         "Die Berechtigungen zu Key K1 konnten nicht aktualisiert werden!",
         "SELECT DnlKey, DnlLfd, DnlMnd, DnlLiz, DnlAsw, DnlKze, DnlKzu, DnlKmp, DnlSta, DnlErf "
         "FROM QVSYSTEM.QvsAswDnl WHERE DnlKey = 'K1' ORDER BY DnlLfd"},
    };
    for (const auto& c : cases) {
        ProgramRun run;
        run.writeSettings(kTestDbUser, kTestDbPassword, "MYSQL", kTestDbDsn);
        run.setRules("");
        ProgramResult result = run.run(c.arguments);
        EXPECT_EQ(result.exitCode, 99);
        ASSERT_GE(result.log.size(), 5u);
        EXPECT_EQ(Lines(result.log.end() - 5, result.log.end()),
                  (Lines{c.lastAttempt, c.failure, c.gaveUp, kFailed, kEnd}));
        EXPECT_EQ(std::count(result.log.begin(), result.log.end(), c.failure), 5);
        EXPECT_EQ(result.trace, Lines(5, c.statement));
        EXPECT_EQ(result.waits, std::vector<long>(4, 10000));
    }
}

}  // namespace
