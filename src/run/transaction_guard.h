// What the atomic rebuild and the dry run ask of the session's transactions:
// a transaction that is really open before the run writes, and a rollback
// that really leaves the download tables as the unit of work found them. A
// driver that says yes to auto-commit off and still commits every statement
// passes the proof before a commit (the tables hold what was written), and
// would keep what the run rolls back: a failed rebuild's half-written tables,
// or everything a dry run wrote.
#pragma once

// With transactions on, on the run's first session: refuses a session that
// is not in a transaction of its own (SessionTransactionFault) before
// anything is written, with a log line and the cause on standard error; the
// run then ends without retries, for it is the driver or the data source that
// has to change. kRebuildModeRefused then, else kRebuildModeTaken.
int checkSessionTransactions(const char* dataSource);

// The start of a unit of work: beginRebuildUnit (badge nullptr) or
// beginBadgeUnit of commit_proof.h, and its result. Once the unit's counts
// are taken, its rollback is proved against them (proveRollback).
int beginProvedUnit(const char* badge);

// After the unit's commit: nothing of it is left to roll back.
void unitCommitted();

// Results of proveRollback.
constexpr int kRollbackLeftTables = 0;     // as the unit found them, or no unit to prove
constexpr int kRollbackUnproved = 1;       // not counted: a stop signal, or a failed count (logged)
constexpr int kRollbackChangedTables = 2;  // logged, and on standard error

// Right after the rollback of a unit: counts the unit's tables and compares
// them with their counts when it began (CommitProof.before). A table that
// differs is logged ("obwohl ... zurückgenommen") and named on standard
// error; the run must then end without a retry. A unit is proved once;
// after kRollbackUnproved a later call (on a new session) counts again.
int proveRollback();
