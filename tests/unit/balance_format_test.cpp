// The pure formatting of the balance values: display lines in normal and
// value-only layout, value type 17, dates, preformatted values, and the
// values of the list with their "$" alignment.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "download/balance_record.h"
#include "download/balance_value_list.h"
#include "platform/text.h"

namespace {

struct Definition {
    int32_t type;
    const char* label;
};
struct Value {
    const char* column;  // "TSWW01".."TSWW16", "TSWF01".."TSWF10"
    const char* text;
};
// Expected value (DnlWr) and display text (DnlSa) of one line.
using Line = std::pair<std::string, std::string>;

std::string blanks(std::size_t n) {
    return std::string(n, ' ');
}

// The label padded to 20 characters, as an undefined or valueless line shows it.
std::string padded(const std::string& label) {
    return label + blanks(20 - label.size());
}

SaldoTexte textsOf(const std::vector<Definition>& definitions) {
    SaldoTexte texts = {};
    for (std::size_t n = 0; n < definitions.size(); ++n) {
        texts.lines[n].WrtWhl = definitions[n].type;
        copyField(texts.lines[n].Text, definitions[n].label);
    }
    return texts;
}

SaldoWerte valuesOf(const std::vector<Value>& list) {
    SaldoWerte values = {};
    char* const formatted[] = {values.TSWF01, values.TSWF02, values.TSWF03, values.TSWF04,
                               values.TSWF05, values.TSWF06, values.TSWF07, values.TSWF08,
                               values.TSWF09, values.TSWF10};
    const std::size_t widths[] = {kTswf01Width, kTswf02Width, kTswf03Width, kTswf04Width,
                                  kTswf05Width, kTswf06Width, kTswf07Width, kTswf08Width,
                                  kTswf09Width, kTswf10Width};
    for (const Value& v : list) {
        std::string column = v.column;
        int number = std::stoi(column.substr(4));
        if (column.compare(0, 4, "TSWW") == 0) {
            copyField(values.TSWW[number - 1], v.text);
        } else {
            copyField(formatted[number - 1], widths[number - 1], v.text);
        }
    }
    return values;
}

std::vector<Line> format(const std::vector<Definition>& definitions,
                         const std::vector<Value>& values) {
    SalAswRow row = {};
    copyField(row.lines[4].DnlSa, "stale");  // the formatting clears every line
    FormatSalAswLines(textsOf(definitions), valuesOf(values), row);
    std::vector<Line> lines;
    for (const SalAswLine& line : row.lines)
        lines.emplace_back(line.DnlWr, line.DnlSa);
    return lines;
}

struct LinesCase {
    const char* name;
    std::vector<Definition> definitions;
    std::vector<Value> values;
    std::vector<Line> expected;
};

TEST(BalanceLines, EightLinesByValueTypeAndLayout) {
    const Line empty = {"", ""};
    const Line undefined = {"", blanks(20)};
    const LinesCase cases[] = {
        {"badge without balance row, normal layout",
         {{1, "Datum"},
          {2, "Saldo"},
          {16, "Urlaub"},
          {21, "Text"},
          {30, "X"},
          {0, ""},
          {5, "Gleitzeit"},
          {9, "Rest"}},
         {},
         {{"", padded("Datum")},
          {" ", padded("Saldo")},
          {" ", padded("Urlaub")},
          undefined,
          undefined,
          undefined,
          {" ", padded("Gleitzeit")},
          {" ", padded("Rest")}}},
        {"badge without balance row, value-only layout",
         {{2, "Saldo"}, {4, "Urlaub"}, {17, "Stunden"}, {9, "Rest"}, {1, "Datum"}},
         {},
         {{"+" + blanks(6), "+" + blanks(6)},
          {" ", padded("Urlaub")},
          {"+  ", "+  "},
          {"+  ", "+  "},
          empty,
          empty,
          empty,
          empty}},
        {"the examples: normal layout",
         {{5, "Saldo"}, {9, "Rest"}, {3, "Plus"}},
         {{"TSWW05", "-    12,50"}, {"TSWW09", "+   123"}, {"TSWW03", "+7"}},
         {{"12,50-", "Saldo" + blanks(9) + "12,50-"},
          {"123 ", "Rest" + blanks(12) + "123 "},
          {"7 ", "Plus" + blanks(14) + "7 "},
          undefined,
          undefined,
          undefined,
          undefined,
          undefined}},
        {"value-only layout: lines 1 and 2 by their types, 17 fills lines 3 and 4",
         {{9, "Rest"}, {3, "Plus"}, {17, "x"}, {2, "y"}, {5, "z"}, {1, "Datum"}, {0, ""}, {21, ""}},
         {{"TSWW09", "+   123"},
          {"TSWW03", "-12"},
          {"TSWW07", "+  12345"},
          {"TSWW08", "-1234567"},
          {"TSWW05", "+5"},
          {"TSWW01", "20240315"}},
         {{"+   123", "+   123"},
          {"12-", "Plus" + blanks(13) + "12-"},
          {"+12", "+12"},
          {"-1234", "-1234"},
          empty,
          empty,
          empty,
          empty}},
        {"type-17 source of three digits or fewer",
         {{0, ""}, {0, ""}, {17, ""}},
         {{"TSWW07", "-123"}, {"TSWW08", "+  7"}},
         {undefined, undefined, {"-  ", "-  "}, {"+  ", "+  "}, empty, empty, empty, empty}},
        {"normal layout: 17 shows TSWW08 on its own line, the next line keeps its own type",
         {{17, "x"}, {5, "Saldo"}, {0, ""}, {0, ""}, {17, "y"}, {0, "Leer"}, {0, ""}, {17, "z"}},
         {{"TSWW07", "+  12345"}, {"TSWW08", "-1234567"}, {"TSWW05", "+  42"}},
         {{"1234", "-1234"},
          {"42 ", "Saldo" + blanks(12) + "42 "},
          undefined,
          undefined,
          {"1234", "-1234"},
          {"", padded("Leer")},
          undefined,
          {"1234", "-1234"}}},
        {"signed values of sign and blanks only keep the blanks",
         {{5, "Saldo"}, {6, "Rest"}},
         {{"TSWW05", "-    "}, {"TSWW06", "+  "}},
         {{"    -", "Saldo" + blanks(14) + "-"},
          {"   ", padded("Rest")},
          undefined,
          undefined,
          undefined,
          undefined,
          undefined,
          undefined}},
        {"a label of 20 characters keeps 13 beside a value of 7",
         {{3, "Gleitzeitsaldo Monat"}, {10, "12345678901234567890"}},
         {{"TSWW03", "-  123,45"}, {"TSWW10", "-1234567890123456789"}},
         {{"123,45-", "Gleitzeitsald123,45-"},
          {"1234567890123456789-", "1234567890123456789-"},
          undefined,
          undefined,
          undefined,
          undefined,
          undefined,
          undefined}},
        {"preformatted types 21 to 30 right-aligned, longer ones keep their first 20",
         {{21, "a"}, {22, "b"}, {25, "c"}, {26, ""}, {30, ""}, {28, ""}, {27, ""}, {24, ""}},
         {{"TSWF01", "8,50 h"},
          {"TSWF02", "abcdefghijklmnopqrstu"},
          {"TSWF05", "123456789012345678901234"},
          {"TSWF10", "Ende"},
          {"TSWF08", "12345678901234567890"},
          {"TSWF07", "  x  "},
          {"TSWF04", "TSWF04"}},
         {{"", blanks(14) + "8,50 h"},
          {"", "abcdefghijklmnopqrst"},
          {"", "12345678901234567890"},
          {"", blanks(20)},
          {"", blanks(16) + "Ende"},
          {"", "12345678901234567890"},
          {"", blanks(15) + "  x  "},
          {"", blanks(14) + "TSWF04"}}},
        {"UTF-8 labels and values are cut after their last whole character",
         {{5,
           "Zeitausgleich \xC3\x9C"
           "ber"},
          {22, ""}},
         {{"TSWW05", "-    3,25"}, {"TSWF02", "abcdefghijklmnopqrs\xC3\xA4"}},
         {{"3,25-", "Zeitausgleich  3,25-"},
          {"", " abcdefghijklmnopqrs"},
          undefined,
          undefined,
          undefined,
          undefined,
          undefined,
          undefined}},
        // U+2212 (typographic minus) takes the sign position whole and, not
        // being "-", counts as positive; type 17 drops its last three
        // characters, the euro sign among them, not three bytes.
        {"a multi-byte sign character and multi-byte digits stay whole",
         {{5, "Saldo"}, {17, ""}, {3, "Eigen"}},
         {{"TSWW05", "\xE2\x88\x92    3,25"},
          {"TSWW08", "-12345\xE2\x82\xAC"},
          {"TSWW03", "\xE2\x88\x92"}},
         {{"3,25 ", "Saldo" + blanks(10) + "3,25 "},
          {"123", "-123"},
          {" ", padded("Eigen")},
          undefined,
          undefined,
          undefined,
          undefined,
          undefined}},
        {"types without a value show the padded label",
         {{0, "Null"}, {18, "a"}, {19, "b"}, {20, "c"}, {-1, "d"}, {31, "e"}, {99, ""}, {0, ""}},
         {{"TSWW02", "+5"}, {"TSWF10", "x"}},
         {{"", padded("Null")},
          {"", padded("a")},
          {"", padded("b")},
          {"", padded("c")},
          {"", padded("d")},
          {"", padded("e")},
          undefined,
          undefined}},
    };
    for (const LinesCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Definition> definitions = c.definitions;
        definitions.resize(8, {0, ""});
        EXPECT_EQ(format(definitions, c.values), c.expected);
    }
}

TEST(BalanceLines, DateIsDdMmYyAndEndsWhereTsww01Ends) {
    const std::pair<const char*, Line> cases[] = {
        {"20240315", {"15.03.24", "Stand" + blanks(7) + "15.03.24"}},
        {"2024031", {"1", "Stand" + blanks(14) + "1"}},
        {"202403", {"", padded("Stand")}},
        {"", {"", padded("Stand")}},
        {"20240315xyz", {"15.03.24", "Stand" + blanks(7) + "15.03.24"}},
        // Characters, not bytes, are moved; a Latin-1 byte is one character.
        {"2024\xE2\x88\x92"
         "315",
         {"15.\xE2\x88\x92"
          "3.24",
          "Stand" + blanks(5) + "15.\xE2\x88\x92" + "3.24"}},
        {"2024\xE9"
         "315",
         {"15.\xE9"
          "3.24",
          "Stand" + blanks(7) + "15.\xE9" + "3.24"}},
    };
    for (const auto& [date, expected] : cases) {
        SCOPED_TRACE(date);
        std::vector<Definition> definitions(8, {0, ""});
        definitions[0] = {1, "Stand"};
        EXPECT_EQ(format(definitions, {{"TSWW01", date}})[0], expected);
    }
}

TEST(BalanceLines, SkipBlanks) {
    const std::pair<const char*, const char*> cases[] = {
        {"  12", "12"}, {"\t\n x", "x"}, {"a b ", "a b "}, {"", ""}, {"   ", "   "}, {"\r1", "\r1"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_STREQ(SkipBlanks(text), expected) << '"' << text << '"';
}

TEST(BalanceList, AlignDollar) {
    const std::pair<const char*, const char*> cases[] = {
        {"1234567", "$1234567"}, {"12345678", "12345678"}, {"1234567890-", "1234567890-"},
        {"12,50-", "$ 12,50-"},  {"123$", "$   123$"},     {"$", "$      $"},
        {"", "$       "},
    };
    for (const auto& [text, expected] : cases) {
        char value[kLineTextWidth];
        copyField(value, text);
        AlignDollar(value);
        EXPECT_STREQ(value, expected) << '"' << text << '"';
    }
}

TEST(BalanceList, ValuesByType) {
    const SaldoWerte values = valuesOf({{"TSWW01", "20240315"},
                                        {"TSWW05", "-    12,50"},
                                        {"TSWW02", "+123"},
                                        {"TSWW03", "-1234567"},
                                        {"TSWW07", "-  "},
                                        {"TSWF01", "8,50 h"},
                                        {"TSWF05", "123456789012345678901234"}});
    const std::pair<int32_t, const char*> written[] = {
        {5, "$ 12,50-"},  // the three examples
        {2, "$   123$"},
        {9, "$      $"},
        {3, "1234567-"},  // 8 characters: no "$", no blanks
        {7, "$      -"},  // the blanks of a sign-and-blanks value count
        {1, "15.03.24"},
        {21, "              8,50 h"},
        {25, "12345678901234567890"},
        {26, "                    "},
    };
    for (const auto& [type, expected] : written) {
        char value[kLineTextWidth] = "stale";
        EXPECT_TRUE(FormatSalAswDnl2Value(type, values, value)) << type;
        EXPECT_STREQ(value, expected) << type;
    }
    for (int32_t type : {0, 17, 18, 19, 20, -1, 31}) {
        char value[kLineTextWidth];
        EXPECT_FALSE(FormatSalAswDnl2Value(type, values, value)) << type;
    }
    char date[kLineTextWidth];
    EXPECT_TRUE(FormatSalAswDnl2Value(1, SaldoWerte{}, date));
    EXPECT_STREQ(date, "") << "an empty date is still written, empty";
}

}  // namespace
