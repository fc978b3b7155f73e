// Transactions of the session. By default the session stays in the driver's
// auto-commit mode and every statement takes effect on its own. With
// transactions on, every connect switches auto-commit off, and the run
// decides itself when its writes take effect (dbCommit) or are undone
// (dbRollback).
#pragma once

// Turns the session's transactions on for every later dbConnect.
void dbUseTransactions();

// True once dbUseTransactions was called.
bool dbTransactionsOn();

// Called by dbConnect on a new connection: with transactions on, switches
// auto-commit off. 0 when done (or nothing to do); -1 when the driver refused,
// with the reason on standard error: a session that commits every statement
// must not be taken for one that does not.
int dbApplyCommitMode();

// Makes the open transaction's writes take effect. 0 on success; the native
// number of a failure (-1 without one), its diagnostic pending for the
// caller's failure line. After a stop signal nothing is committed: -1.
int dbCommit();

// Undoes the open transaction's writes. Its result is that of SQLEndTran;
// a session that is lost has nothing left to undo (the server rolls back
// what the session left open), so callers go on either way.
int dbRollback();
