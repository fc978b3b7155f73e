// Fuzzes the settings file reader with whole file contents: each input is
// written to a scratch file (under TMPDIR) and read as the program reads its
// settings file at start.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "settings/cipher.h"
#include "settings/settings.h"

namespace {

std::string scratchPath;

void removeScratch() {
    std::remove(scratchPath.c_str());
}

void writeScratch(const std::string& content) {
    std::FILE* file = std::fopen(scratchPath.c_str(), "wb");
    if (file == nullptr || std::fwrite(content.data(), 1, content.size(), file) != content.size()) {
        std::perror(scratchPath.c_str());
        std::abort();
    }
    std::fclose(file);
}

template <std::size_t N>
bool terminated(const char (&field)[N]) {
    return std::memchr(field, '\0', N) != nullptr;
}

// What loadSettings resolved: every field terminated within its width, the
// key state wiped.
void checkLoaded() {
    FUZZ_CHECK(terminated(Settings.login) && terminated(Settings.password));
    FUZZ_CHECK(terminated(Settings.dbSystem) && terminated(Settings.database));
    FUZZ_CHECK(terminated(IniEntry.group) && terminated(IniEntry.key) &&
               terminated(IniEntry.value));
    FUZZ_CHECK(std::all_of(reinterpret_cast<const unsigned char*>(&bfState),
                           reinterpret_cast<const unsigned char*>(&bfState + 1),
                           [](unsigned char byte) { return byte == 0; }));
}

// The key: the field between the first and the second ';' of a body line
// (both present); an empty one reads as everything behind the first ';', as
// the reader's cut with length 0 does.
std::string field(const std::string& line) {
    std::size_t first = line.find(';');
    std::size_t second = line.find(';', first + 1);
    return line.substr(first + 1, second == first + 1 ? std::string::npos : second - first - 1);
}

// The reader's rules restated over whole strings, as a model to compare
// with: lines end at "\n" (a CR before it dropped); lines pair into records
// from the first line on; a record counts only when its head line holds at
// most 198 and its body line at most 398 characters and each at least two
// ';' (the text functions see a line up to a zero byte); the first counting
// record whose key is the wanted one gives the value, everything behind the
// body's second ';'.
std::string modelValue(const std::string& content, const char* wanted, std::size_t width) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = content.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    if (start < content.size())
        lines.push_back(content.substr(start));

    for (std::size_t i = 0; i + 1 < lines.size(); i += 2) {
        if (lines[i].size() > kIniHeadLineSize - 1 || lines[i + 1].size() > kIniBodyLineSize - 1)
            continue;
        const std::string head = lines[i].c_str();
        const std::string body = lines[i + 1].c_str();
        if (std::count(head.begin(), head.end(), ';') < 2 ||
            std::count(body.begin(), body.end(), ';') < 2)
            continue;
        if (field(body) == wanted) {
            std::size_t valueStart = body.find(';', body.find(';') + 1) + 1;
            char plain[kIniValueWidth];
            bfDecryptHex(body.c_str() + valueStart, plain, sizeof plain, kSettingsCipherKey);
            return std::string(plain).substr(0, width - 1);
        }
    }
    return "";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir != nullptr ? dir : "/tmp") + "/vendrak_fuzz_XXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0) {
        std::perror(path.c_str());
        std::abort();
    }
    close(fd);
    scratchPath = path;
    std::atexit(removeScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    writeScratch(input);
    loadSettings(scratchPath.c_str());
    checkLoaded();
    FUZZ_CHECK(Settings.login == modelValue(input, "LOGIN", kLoginWidth));
    FUZZ_CHECK(Settings.password == modelValue(input, "PASS", kPasswordWidth));
    FUZZ_CHECK(Settings.dbSystem == modelValue(input, "DB_SYSTEM", kDbSystemWidth));
    FUZZ_CHECK(Settings.database == modelValue(input, "DATABASE", kDatabaseWidth));
    return 0;
}
