// Bounded text helpers shared by every module: every copy into a fixed-width
// field goes through these, so no value can overrun its field.
#pragma once

#include <cstddef>

// Copies `source` into `field` of `width` characters (terminator included):
// at most width - 1 characters, always terminated. Returns false when the
// source was cut. A byte copy: for codes, keys and values that always fit;
// text values that may be cut go through copyText.
bool copyField(char* field, std::size_t width, const char* source);

template <std::size_t N>
bool copyField(char (&field)[N], const char* source) {
    return copyField(field, N, source);
}

// Text values are cut to their fields by byte width. On a UTF-8 database a
// cut byte-wise can end inside a multi-byte character, and the next
// statement that carries the value is refused ("invalid byte sequence").
// Every cut of a text value therefore goes through the helpers below: when
// the value is valid UTF-8 the cut backs off to the end of its last whole
// character; a value that is not (single-byte code pages such as Latin-1) is
// cut at the byte limit exactly as before. ASCII never changes.

// How many bytes of `value` remain when it is cut to at most `limit` bytes:
// its whole length when it fits; `limit` when it is not valid UTF-8; else the
// end of the last whole character within `limit`.
std::size_t textCutLength(const char* value, std::size_t limit);

// copyField for text values: the cut ends at textCutLength, and the bytes it
// frees up to the field's last position are set to the terminator. Returns
// false when the source was cut.
bool copyText(char* field, std::size_t width, const char* source);

template <std::size_t N>
bool copyText(char (&field)[N], const char* source) {
    return copyText(field, N, source);
}

// For a value that arrived already cut (the driver filled a too-short buffer
// with a prefix): drops a trailing incomplete multi-byte character when the
// rest of `text` is valid UTF-8, in place. Any other text stays as it is.
void dropCutCharacter(char* text);

// The bytes of the character that begins at byte `at` of the value `text`,
// for steps that take a value apart by character position: the length of
// its UTF-8 sequence when the whole value is valid UTF-8, else 1 (in a
// single-byte code page every byte is a character). 0 at the value's end.
std::size_t characterBytesAt(const char* text, std::size_t at);

// True when the text is empty (its first character is the terminator).
inline bool isEmptyText(const char* text) {
    return text[0] == '\0';
}

// Lists of names (tables, columns) written as "A, B, C".

// The number of names in `list`.
std::size_t listNameCount(const char* list);

// Copies the next name of `list` into `name` (cut to fit) and returns where
// the list goes on, nullptr after the last name.
const char* nextListName(const char* list, char* name, std::size_t nameSize);

// True when `name` is one of the names of `list`, without regard to case.
bool listHoldsName(const char* list, const char* name);

// Appends `name` to the list held in `list`, cut to fit.
void appendListName(char* list, std::size_t listSize, const char* name);
