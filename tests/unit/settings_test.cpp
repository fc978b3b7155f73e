#include "settings/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>

#include "settings/cipher.h"

namespace {

std::string stored(const std::string& plain) {
    char hex[1024];
    EXPECT_EQ(bfEncryptHex(plain.c_str(), hex, sizeof hex, "MOLDRAX"), 1);
    return hex;
}

// One record: a head line with a non-empty group, then "number;key;value".
std::string record(const std::string& number, const std::string& key, const std::string& value,
                   const char* lineEnd = "\n") {
    return "1;DATABASE;CONNECT" + std::string(lineEnd) + number + ";" + key + ";" + value + lineEnd;
}

class SettingsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/vendrak_settings_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/quorvance.ini";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    void write(const std::string& content) {
        std::FILE* file = std::fopen(path_.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
    }
    void load(const std::string& content) {
        write(content);
        loadSettings(path_.c_str());
    }

    std::string dir_;
    std::string path_;
};

TEST_F(SettingsFile, EachKeyGetsItsOwnRecordInAnyOrder) {
    load(record("4", "DATABASE", stored("QVS_DSN")) + record("2", "PASS", stored("geheim")) +
         record("1", "LOGIN", stored("qvsystem")) + record("3", "DB_SYSTEM", stored("ORACLE")));
    EXPECT_STREQ(Settings.login, "qvsystem");
    EXPECT_STREQ(Settings.password, "geheim");
    EXPECT_STREQ(Settings.dbSystem, "ORACLE");
    EXPECT_STREQ(Settings.database, "QVS_DSN");
}

// Only the key finds a record. A record numbered 0 (or with a number text
// that reads as 0) used to be taken by every lookup that reached it; now it
// is passed over unless its key is the wanted one.
TEST_F(SettingsFile, RecordsAreFoundByTheirKeyWhateverTheirNumber) {
    const char* const numbers[] = {"0", "abc", "  0", "", "-0", "+0x5", " 7x"};
    for (const char* number : numbers) {
        load(record("5", "DB_SYSTEM", stored("MSSQL")) + record(number, "OTHER", stored("zero")) +
             record(number, "PASS", stored("geheim")) + record("1", "LOGIN", stored("qvsystem")));
        EXPECT_STREQ(Settings.login, "qvsystem") << "number '" << number << "'";
        EXPECT_STREQ(Settings.password, "geheim") << "number '" << number << "'";
        EXPECT_STREQ(Settings.dbSystem, "MSSQL") << "number '" << number << "'";
        EXPECT_STREQ(Settings.database, "") << "number '" << number << "'";
    }
}

TEST_F(SettingsFile, FirstOfTwoRecordsWithTheSameKeyWins) {
    load(record("1", "PASS", stored("first")) + record("2", "PASS", stored("second")));
    EXPECT_STREQ(Settings.password, "first");
}

TEST_F(SettingsFile, KeysCompareExactlyAndCaseSensitive) {
    load(record("1", "login", stored("lower")) + record("2", "LOGIN ", stored("blank")));
    EXPECT_STREQ(Settings.login, "");
}

// The trailing line looks like a body line that would be taken; it is a
// head line without body and must be ignored.
TEST_F(SettingsFile, LastHeadLineWithoutBodyIsIgnored) {
    load(record("1", "LOGIN", stored("qvsystem")) + "0;PASS;" + stored("dangling") + "\n");
    EXPECT_STREQ(Settings.login, "qvsystem");
    EXPECT_STREQ(Settings.password, "");
}

// Everything behind the second ';' goes to the decipherer, further ';'
// included; compared with deciphering that whole text directly.
TEST_F(SettingsFile, ValueIsTheWholeRestOfTheLine) {
    std::string value = stored("abcdefgh") + ";" + stored("ijklmnop");
    char expected[64];
    bfDecryptHex(value.c_str(), expected, sizeof expected, "MOLDRAX");
    ASSERT_STRNE(expected, "abcdefgh");
    load(record("1", "LOGIN", value));
    EXPECT_STREQ(Settings.login, expected);

    write(record("1", "LOGIN", value));
    iniGetValue("LOGIN", path_.c_str());
    EXPECT_STREQ(IniEntry.key, "LOGIN");
    EXPECT_STREQ(IniEntry.group, "DATABASE");
    EXPECT_EQ(IniEntry.number, 1);
}

TEST_F(SettingsFile, CrLfLineEndsAreOneLineEnd) {
    load(record("1", "LOGIN", stored("qvsystem"), "\r\n") +
         record("2", "PASS", stored("geheim"), "\r\n") +
         record("3", "DB_SYSTEM", stored("MSSQL"), "\r\n") +
         record("4", "DATABASE", stored("QVS_DSN"), "\r\n"));
    EXPECT_STREQ(Settings.login, "qvsystem");
    EXPECT_STREQ(Settings.password, "geheim");
    EXPECT_STREQ(Settings.dbSystem, "MSSQL");
    EXPECT_STREQ(Settings.database, "QVS_DSN");
}

// A body line of exactly 398 characters is read whole with either line end;
// one character more makes the record malformed and it is skipped.
TEST_F(SettingsFile, BodyLineLimitIs398CharactersBeforeTheLineEnd) {
    std::string password(192, 'p');
    std::string body = "00000001;PASS;" + stored(password);
    ASSERT_EQ(body.size(), 398u);
    for (const char* lineEnd : {"\n", "\r\n"}) {
        load("1;DATABASE;CONNECT" + std::string(lineEnd) + body + lineEnd);
        EXPECT_EQ(std::string(Settings.password), password);
        load("1;DATABASE;CONNECT" + std::string(lineEnd) + "0" + body + lineEnd);
        EXPECT_STREQ(Settings.password, "");
    }
}

// Each lookup only overwrites the shared entry as far as the values it
// reads: with the password as the last record, the lookups after it stop
// before it, and a long password's tail would stay there for the whole run.
TEST_F(SettingsFile, PasswordLeavesNoCopyInTheLookupEntry) {
    load(record("1", "LOGIN", stored("qvsystem")) + record("2", "DB_SYSTEM", stored("ORACLE")) +
         record("3", "DATABASE", stored("QVS_DSN")) +
         record("4", "PASS", stored("geheim-und-sehr-lang-2026")));
    EXPECT_STREQ(Settings.password, "geheim-und-sehr-lang-2026");
    const std::string entry(IniEntry.value, sizeof IniEntry.value);
    EXPECT_EQ(entry.find("2026"), std::string::npos);
}

TEST_F(SettingsFile, MissingFileLeavesAllSettingsEmpty) {
    load(record("1", "LOGIN", stored("qvsystem")));
    loadSettings((dir_ + "/missing.ini").c_str());
    EXPECT_STREQ(Settings.login, "");
    EXPECT_STREQ(Settings.password, "");
    EXPECT_STREQ(Settings.dbSystem, "");
    EXPECT_STREQ(Settings.database, "");
}

TEST_F(SettingsFile, MissingKeysLeaveTheirSettingsEmpty) {
    load(record("1", "LOGIN", stored("qvsystem")) + record("7", "TIMEOUT", stored("30")));
    EXPECT_STREQ(Settings.login, "qvsystem");
    EXPECT_STREQ(Settings.password, "");
    EXPECT_STREQ(Settings.dbSystem, "");
    EXPECT_STREQ(Settings.database, "");
    EXPECT_STREQ(IniEntry.key, "");
    EXPECT_STREQ(IniEntry.value, "");
}

TEST_F(SettingsFile, TrailingBlanksAreKept) {
    load(record("3", "DB_SYSTEM", stored("MSSQL ")) + record("1", "LOGIN", stored(" user  ")));
    EXPECT_STREQ(Settings.dbSystem, "MSSQL ");
    EXPECT_STREQ(Settings.login, " user  ");
}

TEST_F(SettingsFile, OverlongValuesAreCutToTheirFields) {
    std::string database(60, 'd');
    std::string login(199, 'l');  // stored in 400 digits: longer than a body line
    load(record("3", "DB_SYSTEM", stored("ORACLE_AND_MORE")) +
         record("4", "DATABASE", stored(database)) + record("1", "LOGIN", stored(login)));
    EXPECT_STREQ(Settings.dbSystem, "ORACLE_AN");
    EXPECT_EQ(std::string(Settings.database), database.substr(0, 40));
    EXPECT_STREQ(Settings.login, "");  // skipped as an overlong line
}

// Malformed records are skipped whole and the next record is still read as
// head and body. Each of them carries the key LOGIN where a reader that
// lost the record boundaries could find it.
TEST_F(SettingsFile, MalformedRecordsAreSkipped) {
    std::string content;
    content += "no separator\n0;LOGIN;" + stored("bad1") + "\n";  // head with no ';'
    content += "1;DATABASE;CONNECT\n0;LOGIN\n";                   // body with one ';'
    content += std::string(5000, 'h') + ";;\n0;LOGIN;" + stored("bad2") + "\n";  // long head
    content += "1;DATABASE;CONNECT\n0;LOGIN;" + std::string(1000, 'A') + "\n";   // long body
    content += "\n\n";                                                           // empty lines
    // A NUL byte ends the text of its line; the line itself still ends at "\n".
    content +=
        std::string("1;DATABASE;CONNECT\n1;OTHER;") + '\0' + "0;LOGIN;" + stored("bad3") + "\n";
    content += record("1", "LOGIN", stored("qvsystem"));
    load(content);
    EXPECT_STREQ(Settings.login, "qvsystem");
}

TEST_F(SettingsFile, LastBodyLineWithoutLineEndIsRead) {
    load("1;DATABASE;CONNECT\n1;LOGIN;" + stored("qvsystem"));
    EXPECT_STREQ(Settings.login, "qvsystem");
}

TEST_F(SettingsFile, IncompleteTrailingHexGroupIsIgnored) {
    load(record("1", "LOGIN", stored("qvsystem") + "ABC"));
    EXPECT_STREQ(Settings.login, "qvsystem");
}

// The fixed path in its program form resolves relative to the working
// directory.
TEST_F(SettingsFile, ProgramPathResolvesFromTheWorkingDirectory) {
    std::filesystem::create_directories(dir_ + "/files");
    std::filesystem::create_directories(dir_ + "/bin/x64");
    path_ = dir_ + "/files/quorvance.ini";
    write(record("1", "LOGIN", stored("qvsystem")));
    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir((dir_ + "/bin/x64").c_str()), 0);
    loadSettings(kSettingsFilePath);
    EXPECT_EQ(chdir(previous), 0);
    EXPECT_STREQ(Settings.login, "qvsystem");
}

TEST(FindNthChar, FindsOccurrenceOrLastOrNone) {
    EXPECT_EQ(findNthChar("1;KEY;VALUE", ';', 1), 1);
    EXPECT_EQ(findNthChar("1;KEY;VALUE", ';', 2), 5);
    EXPECT_EQ(findNthChar("1;KEY;A;B", ';', 2), 5);
    EXPECT_EQ(findNthChar("1;KEY", ';', 2), 1);  // fewer than n: the last one
    EXPECT_EQ(findNthChar("no separator", ';', 1), -1);
    EXPECT_EQ(findNthChar("", ';', 1), -1);
}

TEST(CopySubstring, CopiesWithinTextAndField) {
    char out[6];
    copySubstring("1;KEY;VALUE", 2, 3, out, sizeof out);
    EXPECT_STREQ(out, "KEY");
    copySubstring("1;KEY;VALUE", 6, 0, out, sizeof out);  // 0: to the end
    EXPECT_STREQ(out, "VALUE");
    copySubstring("1;KEY;VALUES", 6, 0, out, sizeof out);  // cut to the field
    EXPECT_STREQ(out, "VALUE");
    copySubstring("1;KEY", 2, 50, out, sizeof out);  // length past the end
    EXPECT_STREQ(out, "KEY");
    copySubstring("abc", 9, 1, out, sizeof out);  // start behind the text
    EXPECT_STREQ(out, "");
    copySubstring("abc", 1, -1, out, sizeof out);
    EXPECT_STREQ(out, "");
}

}  // namespace
