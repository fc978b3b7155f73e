// The settings file: two-line records whose values are stored enciphered, and
// the process-wide Settings record filled from it once at start.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kLoginWidth = 200;
constexpr std::size_t kPasswordWidth = 200;
constexpr std::size_t kDbSystemWidth = 10;
constexpr std::size_t kDatabaseWidth = 41;

// Fixed paths, relative to the working directory, in the program's own form;
// the platform layer maps them to the host's separators (the run log's are in
// log/runlog.h).
extern const char* const kSettingsFilePath;  // "..\..\files\quorvance.ini"
// The run lock: one run of an installation at a time. It lies beside the run
// log, in the one folder that the run user must be able to write anyway.
extern const char* const kRunLockPath;  // "..\..\Quorvance_php\log\vendrak.lock"

// The key under which every setting value is enciphered.
extern const char* const kSettingsCipherKey;

struct SettingsRecord {
    char login[kLoginWidth];
    char password[kPasswordWidth];
    char dbSystem[kDbSystemWidth];
    char database[kDatabaseWidth];
};
extern SettingsRecord Settings;

constexpr std::size_t kIniHeadLineSize = 199;  // 198 characters and the line end
constexpr std::size_t kIniBodyLineSize = 399;  // 398 characters and the line end
constexpr std::size_t kIniFieldWidth = 201;
constexpr std::size_t kIniValueWidth = kIniBodyLineSize + 1;

struct IniEntryRecord {
    int32_t number;
    char group[kIniFieldWidth];
    char key[kIniFieldWidth];
    char value[kIniValueWidth];
};
extern IniEntryRecord IniEntry;

// Clears the four connection settings and looks up LOGIN, PASS, DB_SYSTEM
// and DATABASE in the file at `path`. Missing file or keys leave the settings
// empty; only a file that cannot be read is reported, on standard error.
void loadSettings(const char* path);

// Looks up the first record whose key equals `key` and leaves it, value
// deciphered, in IniEntry; IniEntry stays cleared when none matches.
void iniGetValue(const char* key, const char* path);

// Position (from 0) of the n-th occurrence of `c` in `text`; the last one when
// there are fewer than n; -1 when there is none.
int findNthChar(const char* text, char c, int n);

// Copies `length` characters of `text` from `start` into `out` (width
// `outSize`, always terminated, never overrun); length 0 means to the end.
void copySubstring(const char* text, int start, int length, char* out, std::size_t outSize);
