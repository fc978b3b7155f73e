// The time limits an operator sets in the environment, and a time-out in
// words for standard error.
#include "db/time_limits.h"

#include <gtest/gtest.h>
#include <sql.h>

#include <cstdlib>
#include <string>

namespace {

TEST(TimeLimitsTest, EnvironmentValuesAreTakenOrRefusedWithAWarning) {
    struct Case {
        const char* value;  // nullptr: unset
        long seconds;       // 900, the default, with a warning for a refused value
    } const cases[] = {
        {nullptr, 900}, {"", 900},   {"0", 0},    {"86400", 86400}, {"86401", 900},
        {"-1", 900},    {" 5", 900}, {"5s", 900}, {"1.5", 900},     {"99999999999999999999", 900}};
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
        bool refused = c.value != nullptr && *c.value != '\0' && c.seconds == 900;
        EXPECT_EQ(warning, refused ? std::string("vendrak: VENDRAK_STATEMENT_TIMEOUT='") + c.value +
                                         "' is not a number of seconds from 0 to 86400; using 900\n"
                                   : "");
    }
    unsetenv(kLoginTimeoutVariable);
    unsetenv(kStatementTimeoutVariable);
    dbReadTimeLimits();
    char cause[96];
    EXPECT_TRUE(describeTimeout(SQL_HANDLE_DBC, "HYT00", cause, sizeof cause));
    EXPECT_STREQ(cause, "timed out (login time-out of 30 s)");
}

}  // namespace
