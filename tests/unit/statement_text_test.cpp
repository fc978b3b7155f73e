// Statement texts: how values become SQL literals, and the right trim.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "db/statement.h"
#include "platform/text.h"
#include "settings/settings.h"

namespace {

std::string format(const char* pattern, SqlValues values) {
    char out[256];
    if (!formatStatement(out, sizeof out, pattern, values))
        return "<refused>";
    return out;
}

class StatementTextTest : public ::testing::Test {
  protected:
    void SetUp() override { copyField(Settings.dbSystem, "ORACLE"); }
    void TearDown() override { Settings.dbSystem[0] = '\0'; }
};

TEST_F(StatementTextTest, TextValuesBecomeQuotedLiteralsWithEveryQuoteDoubled) {
    EXPECT_EQ(format("X = '%s'", {sqlText("plain")}), "X = 'plain'");
    EXPECT_EQ(format("X = '%s'", {sqlText("O'Neil")}), "X = 'O''Neil'");
    EXPECT_EQ(format("X = '%s'", {sqlText("'a''b'")}), "X = '''a''''b'''");
    EXPECT_EQ(format("X = '%s'", {sqlText("")}), "X = ''");
    // A value that tries to close the literal stays inside it.
    EXPECT_EQ(format("X = '%s'", {sqlText("x' OR '1'='1")}), "X = 'x'' OR ''1''=''1'");
}

TEST_F(StatementTextTest, BackslashesAreDoubledOnlyForMySql) {
    EXPECT_EQ(format("X = '%s'", {sqlText("a\\'b")}), "X = 'a\\''b'");
    copyField(Settings.dbSystem, "MYSQL");
    EXPECT_EQ(format("X = '%s'", {sqlText("a\\'b")}), "X = 'a\\\\''b'");
}

TEST_F(StatementTextTest, IntegersAreBareDecimalsAndFixedQuotesStay) {
    EXPECT_EQ(format("A = %ld AND B = '%s' AND C = ','", {sqlInt(-42), sqlText("x")}),
              "A = -42 AND B = 'x' AND C = ','");
}

TEST_F(StatementTextTest, PatternAndValuesThatDoNotMatchAreRefused) {
    EXPECT_EQ(format("A = '%s'", {}), "<refused>");
    EXPECT_EQ(format("A = '%s'", {sqlInt(1)}), "<refused>");
    EXPECT_EQ(format("A = %ld", {sqlText("1")}), "<refused>");
    EXPECT_EQ(format("A = 1", {sqlInt(1)}), "<refused>");
    // An unquoted text placeholder would put a value outside any literal.
    EXPECT_EQ(format("A = %s", {sqlText("1")}), "<refused>");
}

// Found by fuzzing: the formatter stepped past the end of the values on a
// placeholder without one, which for values without storage (a null begin)
// is undefined behaviour that clang's UBSan reports.
TEST_F(StatementTextTest, PlaceholdersBeyondTheValuesAreRefusedWithoutSteppingPastThem) {
    char out[64] = "old";
    EXPECT_FALSE(formatStatement(out, sizeof out, "A = '%s'", SqlValues(nullptr, 0)));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(formatStatement(out, sizeof out, "A = %ld", SqlValues(nullptr, 0)));
    const SqlValue one[] = {sqlText("x")};
    EXPECT_FALSE(
        formatStatement(out, sizeof out, "A = '%s' AND B = %ld AND C = '%s'", SqlValues(one, 1)));
    EXPECT_STREQ(out, "");
}

TEST_F(StatementTextTest, ATextThatDoesNotFitIsRefusedNotCut) {
    char out[16];
    EXPECT_FALSE(formatStatement(out, sizeof out, "A = '%s'", {sqlText("0123456789")}));
    EXPECT_STREQ(out, "");
    EXPECT_TRUE(formatStatement(out, sizeof out, "A = '%s'", {sqlText("012345678")}));
    EXPECT_STREQ(out, "A = '012345678'");
    // The same for the plain text of the pattern and for a literal's quotes,
    // which are copied in runs: 15 characters fit, 16 do not.
    EXPECT_TRUE(formatStatement(out, sizeof out, "SELECT 1 FROM A", {}));
    EXPECT_FALSE(formatStatement(out, sizeof out, "SELECT 1 FROM AB", {}));
    EXPECT_TRUE(formatStatement(out, sizeof out, "'%s' ", {sqlText("a'b'c'd'")}));
    EXPECT_STREQ(out, "'a''b''c''d''' ");
    EXPECT_FALSE(formatStatement(out, sizeof out, "'%s' 1", {sqlText("a'b'c'd'")}));
}

TEST_F(StatementTextTest, DialectTextFollowsTheDbSystemExactly) {
    EXPECT_STREQ(dialectText("o", "m"), "o");
    copyField(Settings.dbSystem, "MSSQL");
    EXPECT_STREQ(dialectText("o", "m"), "m");
    copyField(Settings.dbSystem, "MYSQL");
    EXPECT_EQ(dialectText("o", "m"), nullptr);
    copyField(Settings.dbSystem, "oracle");
    EXPECT_EQ(dialectText("o", "m"), nullptr);
}

TEST(TrimRight, RemovesTrailingBlanksTabsAndLineFeedsOnly) {
    struct Case {
        const char* in;
        const char* out;
    } const cases[] = {
        {"ab  ", "ab"},      {"   ", ""},        {"ab", "ab"},       {"", ""},
        {"a b\t\n ", "a b"}, {"ab \r", "ab \r"}, {"ab\r  ", "ab\r"}, {" a", " a"},
    };
    for (const Case& c : cases) {
        char text[16];
        copyField(text, c.in);
        trimRight(text);
        EXPECT_STREQ(text, c.out) << "input: [" << c.in << "]";
    }
}

}  // namespace
