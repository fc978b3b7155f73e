// Whether the session's driver, inside a transaction, rolls back a failed
// statement alone. The atomic rebuild relies on it: it tolerates failed
// statements (a duplicate key, an insert retried in a narrower form) and
// goes on in the same transaction. Oracle and SQL Server do so on their
// own; psqlODBC does so with a savepoint per statement, but two settings of
// its data source turn that off or leave gaps.
#pragma once

#include <cstddef>

constexpr std::size_t kRollbackSettingKeyWidth = 32;
constexpr std::size_t kRollbackSettingValueWidth = 64;
constexpr std::size_t kRollbackSettingPlaceWidth = 192;

// A setting of the data source's configuration, and where it was found:
// "odbc.ini [<data source>]" or "odbcinst.ini [<driver>]"; and what to
// change there.
struct RollbackSetting {
    char key[kRollbackSettingKeyWidth];
    char value[kRollbackSettingValueWidth];
    char place[kRollbackSettingPlaceWidth];
    const char* remedy;
    bool cut;  // the value did not fit into `value`: unsafe, whatever it says
};

// Results of dbFindUnsafeRollbackSetting.
constexpr int kStatementRollbackSafe = 0;
constexpr int kStatementRollbackUnsafe = 1;

// On the open session: when its driver is psqlODBC, reads its settings for
// `dataSource` as psqlODBC itself reads them (the data source's section of
// odbc.ini; for UseDeclareFetch, when the data source does not set it, the
// driver's section of odbcinst.ini). kStatementRollbackUnsafe, with `found`
// filled, for the first of:
// - UseDeclareFetch a nonzero number: after a fetch of a cursor's next batch
//   psqlODBC puts no savepoint before the next statement, and its failure
//   rolls back the whole transaction and ends the cursor without an error;
// - a rollback level in Protocol ("7.4-N") other than 2: at 0 a failed
//   statement aborts the transaction, at 1 psqlODBC rolls back everything
//   before it and goes on.
// A value too long for its field counts as unsafe: its cut start cannot
// tell what the driver reads.
// kStatementRollbackSafe otherwise, and for every other driver.
int dbFindUnsafeRollbackSetting(const char* dataSource, RollbackSetting& found);
