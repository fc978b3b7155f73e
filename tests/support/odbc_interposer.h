// Test-only ODBC interposer. It sits between the program and unixODBC and
// forwards every call, and on top of that:
//   - gives native error numbers as the configured DB system would (the test
//     server reports 1 for every error and tells them apart by SQLSTATE);
//   - injects scripted faults;
//   - records every statement text sent;
//   - records the program's waits (nanosleep) instead of sleeping.
//
// Rules, one per line ('#' starts a comment); FROM is 1-based and counts only
// the calls that match the rule; COUNT consecutive matching calls fail:
//   dbsystem ORACLE|MSSQL|MYSQL
//   exec FROM COUNT SQLSTATE NATIVE TEXT   SQLExecDirect of a text containing TEXT
//   fetch FROM COUNT SQLSTATE NATIVE TEXT  SQLFetch on a statement whose text contains TEXT
//   connect FROM COUNT SQLSTATE NATIVE     SQLConnect
//   alloc TYPE FROM COUNT                  SQLAllocHandle of TYPE (1 env, 2 dbc, 3 stmt)
//   nodata-as-success FROM COUNT TEXT      an UPDATE/DELETE containing TEXT that changed no
//                                          row returns SQL_SUCCESS, as some drivers do
// NATIVE is a number or "none" (the failure then has no diagnostic record).
// An injected failure returns SQL_ERROR without reaching the driver; its
// diagnostic carries SQLSTATE and NATIVE exactly as scripted.
//
// Preloaded (LD_PRELOAD) into the real binary it is configured by
// VENDRAK_IP_SCRIPT (rules file), VENDRAK_IP_TRACE (statement texts are
// appended, one per line) and VENDRAK_IP_WAITS (waits in milliseconds are
// appended, one per line, and not slept). Linked into a test, it is driven
// by the functions below.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Clears rules, counters, trace, waits and injected diagnostics, and turns
// the recording of waits on.
void ipReset(void);

// Adds rules (several lines allowed). 0, or -1 when a line is not a rule.
int ipConfigure(const char* rules);

int ipTraceCount(void);
const char* ipTraceAt(int index);
int ipWaitCount(void);
long ipWaitAt(int index);

// Statement handles allocated and not yet freed.
int ipOpenStatementHandles(void);

#ifdef __cplusplus
}
#endif
