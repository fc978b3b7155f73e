#include "settings/settings.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log/console.h"
#include "platform/monitoring.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "settings/cipher.h"

const char* const kSettingsFilePath = "..\\..\\files\\quorvance.ini";
const char* const kRunLockPath = "..\\..\\Quorvance_php\\log\\vendrak.lock";
const char* const kSettingsCipherKey = "MOLDRAX";

SettingsRecord Settings;
IniEntryRecord IniEntry;

namespace {

// Longest head and body line, line end not counted.
constexpr std::size_t kHeadLineChars = kIniHeadLineSize - 1;
constexpr std::size_t kBodyLineChars = kIniBodyLineSize - 1;

enum LineResult { kLineEnd, kLineRead, kLineOverlong };

void clearIniEntry() {
    IniEntry.number = 0;
    IniEntry.group[0] = '\0';
    IniEntry.key[0] = '\0';
    IniEntry.value[0] = '\0';
}

// Reads one line of any length into `line` (room for `maxChars` characters,
// a CR and the terminator), without its line end; "\n" and "\r\n" both end a
// line. Returns kLineEnd when the file has ended before any character, and
// kLineOverlong when the line held more than `maxChars` characters: the rest
// of such a line is consumed, so the next read starts at the next line and
// the two-line records stay aligned.
LineResult readLine(std::FILE* file, char* line, std::size_t maxChars) {
    std::size_t length = 0;
    bool any = false;
    bool overlong = false;
    int c;
    while ((c = std::getc(file)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        if (length < maxChars + 1)
            line[length++] = static_cast<char>(c);
        else
            overlong = true;
    }
    if (c == '\n' && length > 0 && line[length - 1] == '\r')
        --length;
    line[length] = '\0';
    if (!any)
        return kLineEnd;
    return overlong || length > maxChars ? kLineOverlong : kLineRead;
}

int countChar(const char* text, char c) {
    int count = 0;
    for (; *text != '\0'; ++text)
        count += *text == c ? 1 : 0;
    return count;
}

// The record number in the manner of atoi: leading white space, an optional
// sign and the digits up to the first other character (here the ';'); no
// digits read as 0. Numbers beyond the 32-bit range are clamped instead of
// overflowing.
int32_t readNumber(const char* text) {
    long value = std::strtol(text, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

// Cuts group, number, key and value (still enciphered) out of a record into
// IniEntry. The caller has made sure both lines hold at least two ';'.
void splitRecord(const char* head, const char* body) {
    int first = findNthChar(head, ';', 1);
    int second = findNthChar(head, ';', 2);
    copySubstring(head, first + 1, second - first - 1, IniEntry.group, sizeof IniEntry.group);

    first = findNthChar(body, ';', 1);
    second = findNthChar(body, ';', 2);
    IniEntry.number = readNumber(body);
    copySubstring(body, first + 1, second - first - 1, IniEntry.key, sizeof IniEntry.key);
    // Length 0: the value is everything behind the second ';'.
    copySubstring(body, second + 1, 0, IniEntry.value, sizeof IniEntry.value);
}

// Only the key decides. The group and the number are read but never matched:
// a stray record numbered 0, or one whose group comes out empty, would
// otherwise be taken for every key and hand one setting's value (the
// password, say) to all the others.
bool recordTaken(const char* key) {
    return std::strcmp(IniEntry.key, key) == 0;
}

// Replaces the stored value in IniEntry by its plain text.
void decipherEntryValue() {
    char stored[kIniValueWidth];
    copyField(stored, IniEntry.value);
    bfDecryptHex(stored, IniEntry.value, sizeof IniEntry.value, kSettingsCipherKey);
}

}  // namespace

int findNthChar(const char* text, char c, int n) {
    int found = -1;
    int count = 0;
    for (int i = 0; text[i] != '\0' && count < n; ++i) {
        if (text[i] == c) {
            found = i;
            ++count;
        }
    }
    return found;
}

// A negative start counts as 0, a start behind the text or a negative length
// gives an empty text.
void copySubstring(const char* text, int start, int length, char* out, std::size_t outSize) {
    if (outSize == 0)
        return;
    out[0] = '\0';
    if (length < 0)
        return;
    std::size_t textLength = std::strlen(text);
    std::size_t from = start < 0 ? 0 : static_cast<std::size_t>(start);
    if (from >= textLength)
        return;
    std::size_t count = textLength - from;
    if (length > 0 && static_cast<std::size_t>(length) < count)
        count = static_cast<std::size_t>(length);
    if (count > outSize - 1)
        count = outSize - 1;
    std::memcpy(out, text + from, count);
    out[count] = '\0';
}

// Records that are not well formed are never taken and the lookup goes on
// with the next record: a head or body line with fewer than two ';', or a
// line longer than its limit (198 / 398 characters). Such a record is
// skipped whole rather than taken as a cut prefix, which could only yield a
// wrong value. A last body line without line end is read as complete.
void iniGetValue(const char* key, const char* path) {
    clearIniEntry();
    std::FILE* file = platformOpenFile(path, "r");
    if (file == nullptr)
        return;
    char head[kHeadLineChars + 2];
    char body[kBodyLineChars + 2];
    for (;;) {
        LineResult headResult = readLine(file, head, kHeadLineChars);
        if (headResult == kLineEnd)
            break;
        LineResult bodyResult = readLine(file, body, kBodyLineChars);
        if (bodyResult == kLineEnd)
            break;
        if (headResult == kLineOverlong || bodyResult == kLineOverlong ||
            countChar(head, ';') < 2 || countChar(body, ';') < 2)
            continue;
        splitRecord(head, body);
        if (recordTaken(key)) {
            decipherEntryValue();
            std::fclose(file);
            return;
        }
        clearIniEntry();
    }
    clearIniEntry();
    std::fclose(file);
}

namespace {

// A settings file that cannot be read leaves every value empty, and the run
// then fails at its connect minutes later; the operator learns the real
// cause here, on standard error, with the full path and the system's error.
void reportUnreadableSettings(const char* path) {
    std::FILE* file = platformOpenFile(path, "r");
    if (file != nullptr) {
        std::fclose(file);
        return;
    }
    int error = errno;
    char where[PATH_MAX];
    platformDescribePath(path, where, sizeof where);
    consoleLine("cannot read the settings file %s: %s", where, std::strerror(error));
}

}  // namespace

// Deciphered values longer than their Settings field are cut to it.
void loadSettings(const char* path) {
    reportUnreadableSettings(path);
    std::memset(Settings.login, 0, sizeof Settings.login);
    std::memset(Settings.password, 0, sizeof Settings.password);
    std::memset(Settings.dbSystem, 0, sizeof Settings.dbSystem);
    std::memset(Settings.database, 0, sizeof Settings.database);

    iniGetValue("LOGIN", path);
    copyField(Settings.login, IniEntry.value);
    iniGetValue("PASS", path);
    copyField(Settings.password, IniEntry.value);
    // The next lookup only shortens the entry; the deciphered password must
    // not stay behind it for the rest of the run.
    explicit_bzero(IniEntry.value, sizeof IniEntry.value);
    iniGetValue("DB_SYSTEM", path);
    copyField(Settings.dbSystem, IniEntry.value);
    iniGetValue("DATABASE", path);
    copyField(Settings.database, IniEntry.value);
}
