// Bounded text helpers shared by every module: every copy into a fixed-width
// field goes through these, so no value can overrun its field.
#pragma once

#include <cstddef>

// Copies `source` into `field` of `width` characters (terminator included):
// at most width - 1 characters, always terminated. Returns false when the
// source was cut.
bool copyField(char* field, std::size_t width, const char* source);

template <std::size_t N>
bool copyField(char (&field)[N], const char* source) {
    return copyField(field, N, source);
}

// True when the text is empty (its first character is the terminator).
inline bool isEmptyText(const char* text) {
    return text[0] == '\0';
}
