// Direct access to the test database for setting up and checking data. It
// goes through libpq, not ODBC, so nothing done here appears in the
// interposer's statement trace. The server is the one that pgserver.sh runs
// in VENDRAK_TEST_DB_DIR (its port is in DIR/port); the program under test
// reaches it through the DSN below with the same role.
#pragma once

#include <string>
#include <vector>

constexpr const char* kTestDbDsn = "vendrak_test";
constexpr const char* kTestDbUser = "vendrak";
constexpr const char* kTestDbPassword = "vendrak-secret";

// Marks a NULL value in the results of testDbQuery.
constexpr const char* kTestDbNull = "<NULL>";

// Runs `sql`; a failure is reported as a test failure with the server's
// message. Returns true on success.
bool testDbExec(const std::string& sql);

// Rows of `sql`, each a list of column texts (NULL as kTestDbNull). A
// failure is reported as a test failure and gives no rows.
std::vector<std::vector<std::string>> testDbQuery(const std::string& sql);

// The four download tables, lower case, in the order the runs write them.
extern const char* const kTestDbDownloadTables[4];

// Every row of each download table as its text, sorted: a table's whole
// contents, for comparing a run's outcome with another's.
std::vector<std::vector<std::vector<std::string>>> testDbDownloadTables();

// The first column of the first row of `sql`; a failure or no row is
// reported as a test failure and gives "".
std::string testDbValue(const std::string& sql);

// Empties every qvsystem table and gives TrmAswDnl its 40-column form.
void testDbClearTables();

// Empties every qvsystem table and loads the small site of
// tests/support/small_site.sql, on which every phase has work.
void testDbLoadSmallSite();

// Gives TrmAswDnl 40, 38 (without DnlPnr, DnlNam) or 37 columns (also
// without DnlPin).
void testDbSetTrmAswDnlColumns(int columns);

// The test server's TCP port on 127.0.0.1.
int testDbServerPort();

// Adds a data source to the test configuration's odbc.ini and returns its
// name: the test database at `port` of 127.0.0.1 (a relay's, say), with
// `settings` (further KEY=VALUE lines, each ending in a line break) after the
// usual ones. Each call gives a name of its own in the whole test run, since the driver manager
// keeps what it read of a data source for a while. pgserver.sh start writes
// odbc.ini anew, without these.
std::string testDbAddDsn(int port, const std::string& settings);

// The tests' own data source section of odbc.ini (vendrak_test), without the
// sections testDbAddDsn appended: a copy with a setting added at its end
// changes that data source alone.
std::string testDbOwnDsnSection();

// What a server script's start exits with when its server cannot be had on
// this machine (its files are absent): the tests on it are skipped.
constexpr int kTestDbServerAbsent = 77;

// Makes the server of `dir` the test database of every later call: with a
// `script` (bfserver.sh for a TDS server, say), starts it first. False when
// the script says that its server cannot be had here (nothing changes then).
bool testDbUseServer(const std::string& dir, const char* script = nullptr);

// Stops and starts the test server (same port, same data) with
// pgserver.sh; a failure of the script fails the test.
void testDbServerStop();
void testDbServerStart();

// A shell command line that runs `sql` (no single quotes in it) with psql in
// a session of its own on the test server and prints the result unaligned,
// for interposer hooks that look at the database from beside the program.
std::string testDbPsqlCommand(const std::string& sql);

// The shell command line that runs pgserver.sh ACTION ("start", "halt",
// "crash") on the test server, for interposer hooks.
std::string testDbServerCommand(const char* action);
