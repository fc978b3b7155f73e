// Test-only ODBC interposer. It sits between the program and unixODBC and
// forwards every call (odbc_interposer.cpp), and on top of that:
//   - gives native error numbers as the configured DB system would (the test
//     server reports 1 for every error and tells them apart by SQLSTATE);
//   - injects scripted faults;
//   - records every statement text sent;
//   - records the program's waits (ppoll) instead of sleeping.
//
// Rules, one per line ('#' at the start of a line makes it a comment); FROM
// is 1-based and counts only the calls that match the rule; COUNT
// consecutive matching calls fail:
//   dbsystem ORACLE|MSSQL|MYSQL
//   exec FROM COUNT SQLSTATE NATIVE TEXT   SQLExecDirect of a text containing TEXT
//   fetch FROM COUNT SQLSTATE NATIVE TEXT  SQLFetch on a statement whose text contains TEXT
//   connect FROM COUNT SQLSTATE NATIVE     SQLConnect
//   statistics FROM COUNT SQLSTATE NATIVE  SQLStatistics
//   alloc TYPE FROM COUNT                  SQLAllocHandle of TYPE (1 env, 2 dbc, 3 stmt)
//   nodata-as-success FROM COUNT TEXT      an UPDATE/DELETE containing TEXT that changed no
//                                          row returns SQL_SUCCESS, as some drivers do
//   rollback-instead FROM COUNT TEXT       sends "ROLLBACK" to the driver instead of
//                                          a text containing TEXT and returns
//                                          SQL_SUCCESS: a transaction lost unnoticed
//   hook exec FROM TEXT                    runs the hook command once, before the
//                                          FROMth SQLExecDirect of a text containing
//                                          TEXT reaches the driver
//   hook wait FROM                         runs the hook command once, at the FROMth
//                                          wait (recorded or really waited), before it
//   hook connect FROM                      runs the hook command once, before the
//                                          FROMth SQLConnect (and its faults)
//   hook alloc FROM                        runs the hook command once, after the
//                                          FROMth statement handle was allocated
//   hook free FROM TEXT                    runs the hook command once, before the
//                                          FROMth SQLFreeHandle of a statement whose
//                                          last text contains TEXT
//   trace-session                          SQLConnect, SQLDisconnect and SQLEndTran go
//                                          into the trace too, as the lines CONNECT,
//                                          DISCONNECT (DISCONNECT REFUSED), COMMIT, ROLLBACK
//   refuse-disconnect-in-transaction       SQLDisconnect fails with 25000 and does
//                                          nothing while a transaction is open: in
//                                          manual-commit mode, from the first
//                                          SQLExecDirect after a connect or an
//                                          SQLEndTran that succeeded
//   autocommit-off refused|ignored|hidden  SQL_ATTR_AUTOCOMMIT = OFF fails (HYC00); or
//                                          returns SQL_SUCCESS without reaching the
//                                          driver, which keeps committing every
//                                          statement: reading the attribute back gives
//                                          the driver's "on" (ignored) or "off" (hidden)
//   txn-capable none                       SQLGetInfo(SQL_TXN_CAPABLE) gives SQL_TC_NONE
// TEXT is the rest of the line, blanks included, matched case-sensitively.
// NATIVE is a number or "none" (the failure then has no diagnostic record).
// An injected failure returns SQL_ERROR without reaching the driver (an exec
// is still traced); SQLGetDiagRec on that handle gives, as record 1, the
// SQLSTATE and NATIVE exactly as scripted, until the next call on the handle.
//
// Native numbers by SQLSTATE under "dbsystem" (ORACLE / MSSQL): 23505 1 /
// 2627, 42703 904 / 207, 42P01 942 / 208, 42601 900 / 102, 08001 12541 / 17,
// 57P01, 08S01 and 08006 3113 / 10054, any other 20000 / 50000. MYSQL or no
// dbsystem: the driver's numbers unchanged.
//
// Preloaded (LD_PRELOAD) into the real binary it is configured by
// VENDRAK_IP_SCRIPT (rules file), VENDRAK_IP_TRACE (statement texts are
// appended, one per line), VENDRAK_IP_WAITS (waits in milliseconds are
// appended, one per line, and not slept), VENDRAK_IP_HOOK (the command line
// that hook rules run, without the preload) and VENDRAK_IP_EVENTS (the event
// log below; the statement texts are then not also kept in memory, so that a
// long run keeps its memory flat). Linked into a test, it is driven by the
// functions below.
//
// The event log, for the benchmark (odbc_interposer_events.cpp): what the program asked of the
// driver, in order, with enough detail to replay it (the statement texts, which handle ran them,
// the cursor attributes, how many fetches each handle made and when it was freed) and with the
// clock and the process's CPU time and peak memory at every statement. It is written through a
// large buffer and flushed at exit, so that recording costs next to nothing. One event a line; a
// statement's number is given at its first event and never reused:
//   S T U Y M         recording starts
//   A N ATTR VALUE    SQLSetStmtAttr on statement N
//   E N T U Y M TEXT  SQLExecDirect of TEXT on statement N ('\' and line
//                     breaks in TEXT written as "\\" and "\n")
//   F N COUNT         COUNT calls of SQLFetch in a row on statement N
//   X N               SQLFreeHandle of statement N
//   Q T U Y M         recording ends (exit, or ipSetEventFile)
// T is CLOCK_MONOTONIC in nanoseconds, U and Y the user and system CPU time
// in microseconds and M the peak resident memory in KiB (getrusage).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Clears rules, counters, dbsystem, trace, waits and injected diagnostics,
// and turns the recording of waits on.
void ipReset(void);

// Adds rules (several lines allowed). 0, or -1 when a line is not a rule (the
// valid lines are still taken).
int ipConfigure(const char* rules);

// Statement texts in the order they were passed to SQLExecDirect.
int ipTraceCount(void);
const char* ipTraceAt(int index);

// Recorded waits in milliseconds.
int ipWaitCount(void);
long ipWaitAt(int index);

// The shell command line that hook rules run (empty: hooks do nothing).
void ipSetHook(const char* command);

// Turns the recording of waits on (1) or off (0: ppoll really waits).
void ipRecordWaits(int on);

// Statement handles allocated and not yet freed.
int ipOpenStatementHandles(void);

// Starts the event log in `path` (ending the current one first); nullptr or
// "" only ends it. 0, or -1 when the file cannot be opened.
int ipSetEventFile(const char* path);

#ifdef __cplusplus
}

#include <string>
#include <vector>

// The trace and the waits as containers, for comparisons in tests.
inline std::vector<std::string> ipTrace() {
    std::vector<std::string> texts;
    for (int i = 0; i < ipTraceCount(); ++i)
        texts.emplace_back(ipTraceAt(i));
    return texts;
}

inline std::vector<long> ipWaits() {
    std::vector<long> waits;
    for (int i = 0; i < ipWaitCount(); ++i)
        waits.push_back(ipWaitAt(i));
    return waits;
}
#endif
