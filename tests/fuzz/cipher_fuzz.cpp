// Fuzzes the hex decoding and the deciphering of stored setting values.
// Input: the stored form up to the first line feed; the rest, when there is
// a line feed, is the key (else the settings key is used).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "settings/cipher.h"
#include "settings/settings.h"

namespace {

constexpr std::size_t kBlockBytes = 8;
constexpr std::size_t kBlockDigits = 2 * kBlockBytes;
const char kDigits[] = "0123456789ABCDEF";

bool isUpperHex(const std::string& text) {
    return text.find_first_not_of(kDigits) == std::string::npos;
}

// The key state is left as zeros after every enciphering or deciphering.
bool keyStateWiped() {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&bfState);
    for (std::size_t i = 0; i < sizeof bfState; ++i) {
        if (bytes[i] != 0)
            return false;
    }
    return true;
}

// Decoding writes digits / 2 bytes (the buffer has exactly that size, so
// ASan sees any write beyond); uppercase hex decodes to bytes that print
// back as the same digits.
void checkHexDecode(const std::string& hex) {
    std::vector<unsigned char> bytes(hex.size() / 2);
    hexDecode(hex.data(), hex.size(), bytes.data());
    if (!isUpperHex(hex))
        return;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        FUZZ_CHECK(hex[2 * i] == kDigits[bytes[i] >> 4]);
        FUZZ_CHECK(hex[2 * i + 1] == kDigits[bytes[i] & 0x0F]);
    }
}

// Deciphering into `outSize` bytes (an exact allocation) writes whole blocks
// while a block and the terminator fit, and terminates behind the last one.
void checkDecipher(const char* hex, std::size_t outSize, const char* key) {
    std::vector<char> out(outSize);
    FUZZ_CHECK(bfDecryptHex(hex, out.data(), outSize, key) == 1);
    FUZZ_CHECK(keyStateWiped());
    if (outSize == 0)
        return;
    std::size_t blocks = std::strlen(hex) / kBlockDigits;
    std::size_t fitting = (outSize - 1) / kBlockBytes;
    FUZZ_CHECK(out[kBlockBytes * (blocks < fitting ? blocks : fitting)] == '\0');
}

// Any text (up to its first zero byte) enciphers into 16 uppercase digits
// per started block, refuses one byte less room, and deciphers back to itself.
void checkRoundTrip(const char* plain, const char* key) {
    std::size_t blocks = (std::strlen(plain) + kBlockBytes - 1) / kBlockBytes;
    std::size_t storedSize = blocks * kBlockDigits + 1;
    std::vector<char> tooSmall(storedSize - 1);
    if (!tooSmall.empty()) {
        FUZZ_CHECK(bfEncryptHex(plain, tooSmall.data(), tooSmall.size(), key) == 0);
        FUZZ_CHECK(tooSmall[0] == '\0');
    }
    std::vector<char> stored(storedSize);
    FUZZ_CHECK(bfEncryptHex(plain, stored.data(), stored.size(), key) == 1);
    FUZZ_CHECK(keyStateWiped());
    FUZZ_CHECK(std::strlen(stored.data()) == storedSize - 1 && isUpperHex(stored.data()));
    std::vector<char> plainAgain(blocks * kBlockBytes + 1);
    FUZZ_CHECK(bfDecryptHex(stored.data(), plainAgain.data(), plainAgain.size(), key) == 1);
    FUZZ_CHECK(std::strcmp(plainAgain.data(), plain) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t lineEnd = input.find('\n');
    std::string hex = input.substr(0, lineEnd);
    std::string key = lineEnd == std::string::npos ? kSettingsCipherKey : input.substr(lineEnd + 1);

    checkHexDecode(hex);
    // The C functions see the texts up to their first zero byte.
    std::size_t wholeSize = std::strlen(hex.c_str()) / kBlockDigits * kBlockBytes + 1;
    for (std::size_t outSize : {std::size_t{0}, std::size_t{1}, wholeSize - 1, wholeSize})
        checkDecipher(hex.c_str(), outSize, key.c_str());
    checkRoundTrip(hex.c_str(), key.c_str());
    return 0;
}
