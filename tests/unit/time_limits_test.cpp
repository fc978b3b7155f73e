// The time limits an operator sets in the environment, and how a time-out is
// put in words on standard error.
#include "db/time_limits.h"

#include <gtest/gtest.h>
#include <sql.h>

#include <cstdlib>
#include <string>

namespace {

TEST(TimeLimitsTest, EnvironmentValuesAreTakenOrRefusedWithAWarning) {
    struct Case {
        const char* value;  // nullptr: unset
        long seconds;
        bool warned;
    } const cases[] = {
        {nullptr, 900, false},
        {"", 900, false},
        {"0", 0, false},
        {"1", 1, false},
        {"86400", 86400, false},
        {"86401", 900, true},
        {"-1", 900, true},
        {" 5", 900, true},
        {"5s", 900, true},
        {"1.5", 900, true},
        {"99999999999999999999", 900, true},
    };
    setenv(kLoginTimeoutVariable, "7", 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value != nullptr ? c.value : "(unset)");
        if (c.value != nullptr)
            setenv(kStatementTimeoutVariable, c.value, 1);
        else
            unsetenv(kStatementTimeoutVariable);
        ::testing::internal::CaptureStderr();
        dbReadTimeLimits();
        std::string warning = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(DbTimeLimits.statementSeconds, c.seconds);
        EXPECT_EQ(DbTimeLimits.loginSeconds, 7);
        std::string expected = c.warned
                                   ? std::string("vendrak: VENDRAK_STATEMENT_TIMEOUT='") + c.value +
                                         "' is not a number of seconds from 0 to 86400; "
                                         "using 900\n"
                                   : "";
        EXPECT_EQ(warning, expected);
    }
    unsetenv(kLoginTimeoutVariable);
    unsetenv(kStatementTimeoutVariable);
    dbReadTimeLimits();
    EXPECT_EQ(DbTimeLimits.loginSeconds, 30);
}

TEST(TimeLimitsTest, TimeOutStatesArePutInWords) {
    char cause[96];
    EXPECT_TRUE(describeTimeout(SQL_HANDLE_DBC, "HYT00", cause, sizeof cause));
    EXPECT_STREQ(cause, "timed out (login time-out of 30 s)");
    EXPECT_TRUE(describeTimeout(SQL_HANDLE_STMT, "HYT01", cause, sizeof cause));
    EXPECT_STREQ(cause, "timed out (statement time-out of 900 s)");
    EXPECT_FALSE(describeTimeout(SQL_HANDLE_STMT, "HY000", cause, sizeof cause));
    EXPECT_STREQ(cause, "");
}

}  // namespace
