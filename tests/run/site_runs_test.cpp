// Whole runs of the real binary on a small site: the exact tables of a clean
// full rebuild, and the proof that any single failure, anywhere, is retried
// and ends in the same tables as a clean run. The cases are generated from the statements a clean
// run sends: every kind of statement fails once at its first and once at its last occurrence, as a
// server error with a native number, as a failure without a diagnostic record, and as a server
// crash under the program's connection. The real binary runs each case from its deployment layout;
// the interposer records the waits instead of sleeping them.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "odbc_interposer.h"
#include "runner.h"
#include "testdb.h"

namespace {

using Lines = std::vector<std::string>;
using Rows = std::vector<std::vector<std::string>>;

const char* const kDownloadTables[] = {"trmaswdnl", "salaswdnl", "salaswdnl2", "aswbkldnl"};
const char* const kReconnected = "Die Verbindung zur Datenbank wurde wiederhergestellt!";
const char* const kFailed = "Bei der Downloadaufbereitung trat ein Fehler auf.";
const char* const kStart = ">>> QV Downloadaufbereitung (Vendrak) - Beginn <<<";
const char* const kEnd = ">>> QV Downloadaufbereitung (Vendrak) - Ende <<<";

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

void freshDownloadTables();

class SiteRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testDbLoadSmallSite();
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

    // The tables of a clean full rebuild, into `tables`; the download tables
    // are emptied again, so that the test's own runs start from nothing.
    void cleanRebuildTables(std::vector<Rows>& tables) {
        ProgramResult clean = runWith({}, Fault{});
        ASSERT_EQ(clean.exitCode, 0);
        tables = downloadTables();
        freshDownloadTables();
    }

    ProgramRun run_;
};

void freshDownloadTables() {
    for (const char* name : kDownloadTables)
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
    EXPECT_EQ(
        result.log,
        (Lines{"**********", ">>> QV Downloadaufbereitung (Vendrak) - Beginn <<<",
               "Erstelle Terminalberechtigungen Versuch-Nr:1!", "Terminalberechtigungen erstellt!",
               "Erstelle Saldenwerte Versuch-Nr:1!", noBalanceValues, noBalanceValues,
               "Saldenwerte erstellt!", "Erstelle Zutrittsberechtigungen Versuch-Nr:1!",
               "Zutrittsberechtigungen erstellt!", kEnd}));
    std::vector<Rows> tables = downloadTables();
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

TEST_F(SiteRunTest, EveryFailureOfAKeyRunIsRetriedToTheCleanResult) {
    run_.setRules("dbsystem ORACLE");
    prepareKeyRun(run_);
    expectEveryFaultRecovers({"K1"}, savedDownloadTables);
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
    EXPECT_EQ(downloadTables(), expected);
}

// Two full rebuilds of one installation started half a second apart: the
// second waits for the first's run lock, so the runs follow each other and
// the tables come out as after one run. Each run sleeps a second at its first
// statement, so that they would overlap without the lock.
TEST_F(SiteRunTest, RunStartedDuringAnotherWaitsForItsEnd) {
    std::vector<Rows> expected;
    ASSERT_NO_FATAL_FAILURE(cleanRebuildTables(expected));
    run_.setRules("dbsystem ORACLE\nhook exec 1 DELETE FROM QVSYSTEM.TRMASWDNL");
    run_.setHook("sleep 1");
    std::remove((run_.root() + "/Quorvance_php/log/vendraklog.txt").c_str());
    StartedRun firstStarted = run_.start({}, "first-");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    StartedRun secondStarted = run_.start({}, "second-");
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
    EXPECT_EQ(downloadTables(), expected);
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
              (Lines{"Der Lauf wurde durch das Signal SIGTERM abgebrochen.", kFailed, kEnd}));
    EXPECT_FALSE(contains(stopped.log, "Erstelle Terminalberechtigungen Versuch-Nr:2!"));
    EXPECT_FALSE(contains(stopped.log, kReconnected));
    EXPECT_TRUE(stopped.waits.empty());
    EXPECT_EQ(testDbValue("SELECT count(*) FROM qvsystem.trmaswdnl"), "3")
        << "the insert in flight completed, nothing ran after it";

    ProgramResult next = runWith({}, Fault{});
    EXPECT_EQ(next.exitCode, 0);
    EXPECT_EQ(downloadTables(), expected);
}

}  // namespace
