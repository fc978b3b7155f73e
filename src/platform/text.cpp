#include "platform/text.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

namespace {

// The bytes of a UTF-8 character that begins with `lead`: 1 to 4, or 0 when
// `lead` cannot begin one (a continuation byte, C0, C1, F5 to FF).
std::size_t characterBytes(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// Whether `byte` may follow `lead` at position `index` (1 to 3) of its
// character. The second byte's narrower ranges exclude overlong forms,
// surrogates and code points above U+10FFFF, which a UTF-8 database refuses
// just as it refuses a split character.
bool continues(unsigned char lead, std::size_t index, unsigned char byte) {
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (index == 1) {
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
        else if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    }
    return byte >= low && byte <= high;
}

// What a scan of the first `length` bytes of a text found.
struct Utf8Scan {
    bool valid;            // well-formed UTF-8, except perhaps for the last character
    std::size_t wholeEnd;  // end of the last whole character
};

// Scans text[0, length). A last character that the end interrupts counts as
// valid when its bytes so far fit; `wholeEnd` then lies before it.
Utf8Scan scanUtf8(const char* text, std::size_t length) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    std::size_t i = 0;
    while (i < length) {
        const std::size_t count = characterBytes(bytes[i]);
        if (count == 0)
            return {false, length};
        for (std::size_t k = 1; k < count; ++k) {
            if (i + k == length)
                return {true, i};
            if (!continues(bytes[i], k, bytes[i + k]))
                return {false, length};
        }
        i += count;
    }
    return {true, length};
}

}  // namespace

bool copyField(char* field, std::size_t width, const char* source) {
    if (width == 0)
        return source[0] == '\0';
    std::size_t i = 0;
    for (; source[i] != '\0' && i + 1 < width; ++i)
        field[i] = source[i];
    field[i] = '\0';
    return source[i] == '\0';
}

std::size_t textCutLength(const char* value, std::size_t limit) {
    const std::size_t length = std::strlen(value);
    if (length <= limit)
        return length;
    // The whole value decides: a Latin-1 value may hold a byte that looks
    // like the lead of a UTF-8 character right at the limit, but its other
    // non-ASCII bytes (or that one's own follower) break UTF-8 elsewhere.
    const Utf8Scan whole = scanUtf8(value, length);
    if (!whole.valid || whole.wholeEnd != length)
        return limit;
    return scanUtf8(value, limit).wholeEnd;
}

bool copyText(char* field, std::size_t width, const char* source) {
    if (width == 0)
        return source[0] == '\0';
    const std::size_t kept = textCutLength(source, width - 1);
    std::memcpy(field, source, kept);
    std::memset(field + kept, '\0', width - kept);
    return source[kept] == '\0';
}

void dropCutCharacter(char* text) {
    // Only the prefix is known here, so the rest of the value cannot help.
    // A single-byte value whose prefix is ASCII apart from a last byte that
    // looks like the start of a UTF-8 character (Latin-1 "Caf\xE9" cut after
    // the "é") reads the same as a UTF-8 prefix cut inside a character; it
    // is taken for UTF-8 and loses that byte. Keeping it would make every
    // following statement with the value fail on a UTF-8 database, whereas
    // dropping it costs a single-byte database one character of a value that
    // is cut anyway. Prefixes with other non-ASCII Latin-1 letters are rarely
    // valid UTF-8 (a letter is not followed by bytes 80 to BF) and stay whole.
    const std::size_t length = std::strlen(text);
    const Utf8Scan scan = scanUtf8(text, length);
    if (scan.valid)
        text[scan.wholeEnd] = '\0';
}

std::size_t characterBytesAt(const char* text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead == '\0')
        return 0;
    const std::size_t length = std::strlen(text);
    const Utf8Scan whole = scanUtf8(text, length);
    if (!whole.valid || whole.wholeEnd != length)
        return 1;
    // Every character of a valid value is whole; `at` that does not begin
    // one (a caller's error) still moves on by a byte.
    const std::size_t count = characterBytes(lead);
    return count == 0 ? 1 : count;
}

std::size_t listNameCount(const char* list) {
    std::size_t count = 1;
    for (; *list != '\0'; ++list)
        count += *list == ',' ? 1 : 0;
    return count;
}

const char* nextListName(const char* list, char* name, std::size_t nameSize) {
    const char* comma = std::strchr(list, ',');
    std::size_t length =
        comma == nullptr ? std::strlen(list) : static_cast<std::size_t>(comma - list);
    if (length >= nameSize)
        length = nameSize - 1;
    std::memcpy(name, list, length);
    name[length] = '\0';
    if (comma == nullptr)
        return nullptr;
    return comma[1] == ' ' ? comma + 2 : comma + 1;
}

bool listHoldsName(const char* list, const char* name) {
    char item[256];
    for (const char* rest = *list != '\0' ? list : nullptr; rest != nullptr;) {
        rest = nextListName(rest, item, sizeof item);
        if (strcasecmp(item, name) == 0)
            return true;
    }
    return false;
}

void appendListName(char* list, std::size_t listSize, const char* name) {
    std::size_t length = std::strlen(list);
    std::snprintf(list + length, listSize - length, "%s%s", length > 0 ? ", " : "", name);
}
