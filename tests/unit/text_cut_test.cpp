// Cuts of text values to their fields never end inside a UTF-8 character;
// values that are not UTF-8 are cut at the byte limit as before.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "platform/text.h"

namespace {

// "ä" 2 bytes, "€" 3 bytes, "😀" 4 bytes; \xE4 is Latin-1 "ä".
TEST(TextCut, OwnCutsBackOffToWholeCharactersOfUtf8ValuesOnly) {
    struct Case {
        const char* source;
        std::size_t width;  // field width, terminator included
        const char* kept;
    } const cases[] = {
        {"abcdef", 4, "abc"},
        {"ab\xC3\xA4", 4, "ab"},          // 2-byte character at the cut
        {"ab\xC3\xA4", 5, "ab\xC3\xA4"},  // it fits whole
        {"a\xE2\x82\xAC", 3, "a"},        // 3-byte, cut after its first byte
        {"a\xE2\x82\xAC", 4, "a"},        // and after its second
        {"a\xF0\x9F\x98\x80x", 5, "a"},   // 4-byte
        {"ab\xE4\xE4", 4, "ab\xE4"},      // Latin-1: cut at the byte limit
        {"a\xC3xy", 3, "a\xC3"},          // a lead byte at the cut, but not UTF-8
        {"ab\xC3\xA4\xFF", 4, "ab\xC3"},  // an invalid byte after the cut decides
        {"a\xC0\x80", 3, "a\xC0"},        // overlong form: not UTF-8
        {"a\xED\xA0\x80", 3, "a\xED"},    // surrogate: not UTF-8
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " in " + std::to_string(c.width));
        char field[8];
        std::memset(field, '#', sizeof field);
        EXPECT_EQ(copyText(field, c.width, c.source), std::strlen(c.source) < c.width);
        EXPECT_EQ(std::string(field, c.width),
                  c.kept + std::string(c.width - std::strlen(c.kept), '\0'))
            << "the freed bytes stay empty";
    }
}

TEST(TextCut, ADriverCutDropsAnIncompleteLastCharacterOfAUtf8Prefix) {
    const std::pair<const char*, const char*> cases[] = {
        {"abc", "abc"},
        {"ab\xC3\xA4", "ab\xC3\xA4"},
        {"ab\xC3", "ab"},
        {"a\xE2\x82", "a"},
        {"a\xF0\x9F\x98", "a"},
        {"\xE4z\xC3", "\xE4z\xC3"},  // Latin-1 before it: not UTF-8, stays
        {"a\xC3\xC3", "a\xC3\xC3"},  // a lead byte cannot follow a lead byte
        {"Caf\xE9", "Caf"},          // ambiguous: taken for UTF-8
    };
    for (const auto& [prefix, kept] : cases) {
        char text[8] = {};
        copyField(text, prefix);
        dropCutCharacter(text);
        EXPECT_STREQ(text, kept) << prefix;
    }
}

}  // namespace
