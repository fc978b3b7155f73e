// platformReadChoice: the environment's one-value choices (VENDRAK_REBUILD,
// VENDRAK_CURSORS) as the run and the check read them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/platform.h"

// A choice is taken only when spelled exactly; any other value is refused
// with its text, never read as the default, and the refusal fits any buffer.
TEST(EnvironmentChoiceTest, OnlyTheExactValueIsTakenAndEveryOtherIsRefused) {
    struct Case {
        const char* value;
        int expected;
    };
    const Case cases[] = {{nullptr, kChoiceDefault}, {"", kChoiceDefault},
                          {"atomic", kChoiceTaken},  {"Atomic", kChoiceUnknown},
                          {"atomi", kChoiceUnknown}, {"atomic ", kChoiceUnknown},
                          {" ", kChoiceUnknown}};
    const char* variable = "VENDRAK_TEST_CHOICE";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(unset)");
        if (c.value)
            setenv(variable, c.value, 1);
        else
            unsetenv(variable);
        char refusal[128] = "";
        EXPECT_EQ(platformReadChoice(variable, "atomic", "rebuild mode", refusal, sizeof refusal),
                  c.expected);
        if (c.expected == kChoiceUnknown)
            EXPECT_EQ(std::string(refusal), std::string("VENDRAK_TEST_CHOICE='") + c.value +
                                                "' is not a rebuild mode; unset it, or set it "
                                                "to 'atomic'");
        else
            EXPECT_STREQ(refusal, "");
    }
    char small[8] = "";
    setenv(variable, "wrong", 1);
    EXPECT_EQ(platformReadChoice(variable, "atomic", "rebuild mode", small, sizeof small),
              kChoiceUnknown);
    EXPECT_STREQ(small, "VENDRAK");
    unsetenv(variable);
}
