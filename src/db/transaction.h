// Transactions of a session that dbUseTransactions (session.h) took out of
// auto-commit: the run decides itself when its writes take effect (dbCommit)
// or are undone (dbRollback).
#pragma once

#include "db/session.h"

// Makes the open transaction's writes take effect. 0 on success; the native
// number of a failure (-1 without one), its diagnostic in LastDiag for the
// caller's failure line. After a stop signal nothing is committed: -1.
int dbCommit();

// Undoes the open transaction's writes. Its result is that of SQLEndTran;
// a session that is lost has nothing left to undo (the server rolls back
// what the session left open), so callers go on either way.
int dbRollback();
