// How long the program lets the database keep it waiting: the login time-out
// of every connect and the time-out of every statement, in seconds (0: no
// limit), taken from the environment once at the start of a run.
#pragma once

#include <cstddef>

struct DbTimeLimitTable {
    long loginSeconds;      // SQL_ATTR_LOGIN_TIMEOUT of the connection
    long statementSeconds;  // SQL_ATTR_QUERY_TIMEOUT of every statement
};
// The limits in force; the defaults until dbReadTimeLimits has run.
extern DbTimeLimitTable DbTimeLimits;

constexpr long kDefaultLoginTimeoutSeconds = 30;
constexpr long kDefaultStatementTimeoutSeconds = 900;
// The largest limit taken: a day, which every driver can turn into
// milliseconds without overflow.
constexpr long kLongestTimeoutSeconds = 86400;

constexpr const char* kLoginTimeoutVariable = "VENDRAK_LOGIN_TIMEOUT";
constexpr const char* kStatementTimeoutVariable = "VENDRAK_STATEMENT_TIMEOUT";

// A limit as the environment gives it: true with the number in `*seconds`
// when `text` consists of decimal digits only and names 0 to
// kLongestTimeoutSeconds; false otherwise (`*seconds` unchanged).
bool parseTimeoutSeconds(const char* text, long* seconds);

// Sets DbTimeLimits from VENDRAK_LOGIN_TIMEOUT and VENDRAK_STATEMENT_TIMEOUT.
// A variable that is unset or empty keeps the default; one that is not a
// limit (parseTimeoutSeconds) keeps it too, with a warning on standard error
// that names the variable, its value and the limit used instead.
void dbReadTimeLimits();

// When the SQLSTATE of a diagnostic of `handleType` (SQL_HANDLE_DBC or
// SQL_HANDLE_STMT) says that a time limit ran out, writes what that means
// in words into `out` ("timed out (statement time-out of 900 s)") and
// returns true; false (out empty) otherwise. Time-outs: HYT00 and HYT01
// (ODBC's), and 57014 (the server cancelled the statement) while no stop
// signal has come: without a stop the program cancels a statement only
// when it ran 30 s past its time-out.
bool describeTimeout(short handleType, const char* sqlState, char* out, std::size_t outSize);
