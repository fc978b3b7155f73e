// The guard of every driver call on a statement: its handle (with the
// statement time-out) and the registration of the call in flight, which the
// stop watcher cancels. For the statement shapes and the catalog calls.
#pragma once

#include <sql.h>

// Registers `stmt` as the call in flight for the guard's lifetime, so that a
// stop cancels it; the watcher cancels under the same lock, so it never
// cancels a handle that is being freed. A stop that came before the
// registration refuses it (the watcher may have looked already).
class CallInFlight {
  public:
    explicit CallInFlight(SQLHSTMT stmt);
    ~CallInFlight();
    CallInFlight(const CallInFlight&) = delete;
    CallInFlight& operator=(const CallInFlight&) = delete;

    // False after a stop: the call must not be made.
    bool admitted() const { return admitted_; }

  private:
    bool admitted_ = false;
};

// Owns a statement handle for the length of one statement function, so that
// every path frees it. A cursor hands its handle over to its slot instead.
class StatementHandle {
  public:
    // After a stop signal no statement is started: without a handle every
    // shape fails with -1 before anything is sent.
    StatementHandle();
    ~StatementHandle();
    StatementHandle(const StatementHandle&) = delete;
    StatementHandle& operator=(const StatementHandle&) = delete;

    bool allocated() const { return handle_ != SQL_NULL_HSTMT; }
    SQLHSTMT get() const { return handle_; }
    SQLHSTMT release() {
        SQLHSTMT handle = handle_;
        handle_ = SQL_NULL_HSTMT;
        return handle;
    }

  private:
    SQLHSTMT handle_ = SQL_NULL_HSTMT;
};
