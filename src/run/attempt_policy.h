// The attempt policy that the full rebuild and the key update share: how a
// unit of work is made to take effect, how a failed attempt is given up, and
// what happens between two attempts.
#pragma once

constexpr long kAttemptWaitMs = 10000;

// Results of prepareNextAttempt.
constexpr int kNextAttemptReady = 0;           // reconnected and waited
constexpr int kNextAttemptWithoutSession = 1;  // the reconnection failed
constexpr int kNextAttemptStopped = 2;         // a stop signal came: no further attempt

// Between two attempts of a unit of work: reconnects, then waits 10 seconds.
// The caller logs its own message for kNextAttemptWithoutSession; a stop
// signal is logged once at the end of the run.
int prepareNextAttempt();

// The end of a unit of work that succeeded: in an atomic rebuild its writes
// are committed now, and a failed commit is logged and fails the unit
// (false). Without transactions every statement has taken effect already:
// true at once.
bool commitUnitOfWork();

// After a failed attempt, before anything else (the reconnection, the last
// message): in an atomic rebuild its writes are rolled back, so that the
// tables stay as they were before it. Ending the session would undo them as
// well, but a driver may refuse to disconnect while a transaction is open,
// and the old session would then keep its locks on the download tables.
// Nothing without transactions.
void rollBackFailedAttempt();
