// The interposer's event log for the benchmark (odbc_interposer.h describes
// its lines), apart from the forwarding and the faults: the interposer's
// definitions of SQLSetStmtAttr, SQLExecDirect, SQLFetch and SQLFreeHandle
// report each call here. Nothing is written while no event log is open.
#pragma once

#include <sql.h>

#include <string>

// Opens the event log that VENDRAK_IP_EVENTS names, at load. True when the
// variable is set: the statement texts are then not also kept in memory.
bool eventLogFromEnvironment();

void eventAttribute(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value);
void eventExec(SQLHSTMT stmt, const std::string& text);
void eventFetch(SQLHSTMT stmt);
// A freed statement that never had an event is left out.
void eventFree(SQLHANDLE stmt);
