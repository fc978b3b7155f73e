// Test-wide settings that must be in place before any test runs: the private
// ODBC configuration of the test server, the paths of the binaries under
// test.
#include <cstdlib>

#include "test_config.h"

// unixODBC reads ODBCSYSINI and ODBCINI from the environment; the run tests
// hand the same environment on to the real binary.
static const bool testEnvironmentReady = [] {
    setenv("ODBCSYSINI", VENDRAK_TEST_DB_DIR, 1);
    setenv("ODBCINI", VENDRAK_TEST_DB_DIR "/odbc.ini", 1);
    setenv("VENDRAK_TEST_DB_DIR", VENDRAK_TEST_DB_DIR, 1);
    setenv("VENDRAK_BINARY", VENDRAK_BINARY, 1);
    setenv("VENDRAK_SETTINGS_TOOL", VENDRAK_SETTINGS_TOOL, 1);
    setenv("VENDRAK_INTERPOSER", VENDRAK_INTERPOSER, 1);
    return true;
}();
