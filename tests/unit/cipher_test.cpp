#include "settings/cipher.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

const char kKey[] = "MOLDRAX";

uint64_t parseHex64(const char* text) {
    return std::strtoull(text, nullptr, 16);
}

// Key bytes from hex text, two digits per byte.
std::string keyBytes(const char* hex) {
    std::string bytes;
    for (std::size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2) {
        char pair[3] = {hex[i], hex[i + 1], '\0'};
        bytes.push_back(static_cast<char>(std::strtoul(pair, nullptr, 16)));
    }
    return bytes;
}

// Enciphers one block given as a big-endian 64-bit number, as the published
// vectors give it: the left half is the upper word.
uint64_t encipherVector(const std::string& key, uint64_t plain) {
    BfState state;
    bfInit(state, reinterpret_cast<const unsigned char*>(key.data()), key.size());
    uint32_t left = static_cast<uint32_t>(plain >> 32);
    uint32_t right = static_cast<uint32_t>(plain);
    bfEncryptBlock(state, left, right);
    uint64_t cipher = (static_cast<uint64_t>(left) << 32) | right;
    bfDecryptBlock(state, left, right);
    EXPECT_EQ((static_cast<uint64_t>(left) << 32) | right, plain) << "decipher does not invert";
    return cipher;
}

struct Vector {
    const char* key;
    const char* plain;
    const char* cipher;
};

// The published variable-key vectors (8-byte keys).
const Vector kVariableKeyVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
    {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
    {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
    {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
    {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
    {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
    {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
    {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
    {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
    {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
};

// The published key-length vectors: prefixes of one key, plain FEDCBA9876543210.
// They check that keys of other lengths (the settings key has 7 bytes) are
// used cyclically across word boundaries.
const char kKeyLengthKey[] = "F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677";
const char* const kKeyLengthCiphers[] = {
    "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05",
    "B39E44481BDB1E6E", "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82",
    "15750E7A4F4EC577", "122BA70B3AB64AE0", "3A833C9AFFC537F6", "9409DA87A90F6BF2",
    "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F", "93142887EE3BE15C",
    "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
    "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080",
};

TEST(BlowfishBlock, ReproducesPublishedVariableKeyVectors) {
    for (const Vector& v : kVariableKeyVectors) {
        EXPECT_EQ(encipherVector(keyBytes(v.key), parseHex64(v.plain)), parseHex64(v.cipher))
            << "key " << v.key << " plain " << v.plain;
    }
}

TEST(BlowfishBlock, ReproducesPublishedKeyLengthVectors) {
    std::string fullKey = keyBytes(kKeyLengthKey);
    for (std::size_t length = 1; length <= 24; ++length) {
        EXPECT_EQ(encipherVector(fullKey.substr(0, length), 0xFEDCBA9876543210ull),
                  parseHex64(kKeyLengthCiphers[length - 1]))
            << "key length " << length;
    }
}

std::string encipher(const char* plain) {
    char out[512];
    EXPECT_EQ(bfEncryptHex(plain, out, sizeof out, kKey), 1);
    return out;
}

std::string decipher(const std::string& hex) {
    std::unique_ptr<char[]> out(new char[hex.size() / 2 + 1]);
    EXPECT_EQ(bfDecryptHex(hex.c_str(), out.get(), hex.size() / 2 + 1, kKey), 1);
    return out.get();
}

// Writes two enciphered halves as the stored form should hold them.
std::string storedBlock(uint32_t left, uint32_t right) {
    char text[17];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X%02X%02X", left & 0xFF,
                  (left >> 8) & 0xFF, (left >> 16) & 0xFF, left >> 24, right & 0xFF,
                  (right >> 8) & 0xFF, (right >> 16) & 0xFF, right >> 24);
    return text;
}

// The stored layout independently of bfEncryptHex: halves from block bytes
// 0-3 and 4-7, least significant byte first, zero padding, written back in
// that order as uppercase hex.
TEST(StoredValue, LayoutIsLittleEndianHalvesInUppercaseHex) {
    const unsigned char plain[8] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'};
    BfState state;
    bfInit(state, reinterpret_cast<const unsigned char*>(kKey), 7);
    uint32_t left =
        plain[0] | plain[1] << 8 | plain[2] << 16 | static_cast<uint32_t>(plain[3]) << 24;
    uint32_t right =
        plain[4] | plain[5] << 8 | plain[6] << 16 | static_cast<uint32_t>(plain[7]) << 24;
    bfEncryptBlock(state, left, right);
    EXPECT_EQ(encipher("ABCDEFGH"), storedBlock(left, right));

    // "A" is padded with zero bytes: the block 'A', 0, 0, 0 | 0, 0, 0, 0.
    left = 'A';
    right = 0;
    bfEncryptBlock(state, left, right);
    EXPECT_EQ(encipher("A"), storedBlock(left, right));
}

TEST(StoredValue, RoundTripsTextsOfEveryBlockBoundary) {
    std::string long199(199, 'x');
    for (std::size_t i = 0; i < long199.size(); ++i)
        long199[i] = static_cast<char>('!' + i % 90);
    const std::string texts[] = {
        "", "a", "passwd7", "8charsXY", "nine char", "sixteen chars 16", long199};
    for (const std::string& text : texts) {
        std::string hex = encipher(text.c_str());
        EXPECT_EQ(hex.size(), (text.size() + 7) / 8 * 16) << text;
        EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos) << hex;
        EXPECT_EQ(decipher(hex), text);
    }
}

TEST(StoredValue, LowercaseDigitsGiveDifferentText) {
    std::string hex = encipher("MSSQL");
    std::string lower = hex;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ASSERT_NE(lower, hex) << "value without letters A-F; pick another";
    EXPECT_NE(decipher(lower), "MSSQL");
}

TEST(StoredValue, EncipherRefusesTooSmallOutput) {
    char out[16];  // 8 characters need 16 digits and the terminator
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(bfEncryptHex("8charsXY", out, sizeof out, kKey), 0);
    EXPECT_STREQ(out, "");
}

TEST(HexDigits, DecodeByCodeMinus55OrMinus48) {
    unsigned char out[5];
    // "0F" = 15; "A9" = 169; "a0" = 16 * ('a' - 48) mod 256 = 16 * 49 mod 256 = 16;
    // "G0" = 16 * ('G' - 48) = 16 * 23 = 368 mod 256 = 112; " 0" = 16 * -16 mod 256 = 0.
    hexDecode("0FA9a0G0 1", 10, out);
    EXPECT_EQ(out[0], 0x0F);
    EXPECT_EQ(out[1], 0xA9);
    EXPECT_EQ(out[2], 16);
    EXPECT_EQ(out[3], 112);
    EXPECT_EQ(out[4], 1);
}

bool stateIsZero() {
    for (uint32_t word : bfState.P) {
        if (word != 0)
            return false;
    }
    for (const uint32_t(&box)[256] : bfState.S) {
        for (uint32_t word : box) {
            if (word != 0)
                return false;
        }
    }
    return true;
}

TEST(KeyState, WipedAfterEveryCall) {
    char hex[64];
    char out[64];
    bfEncryptHex("secret", hex, sizeof hex, kKey);
    EXPECT_TRUE(stateIsZero()) << "after enciphering";
    bfInit(bfState, reinterpret_cast<const unsigned char*>(kKey), 7);
    ASSERT_FALSE(stateIsZero());
    bfDecryptHex(hex, out, sizeof out, kKey);
    EXPECT_TRUE(stateIsZero()) << "after deciphering";
    bfDecryptHex("", out, sizeof out, kKey);
    EXPECT_TRUE(stateIsZero()) << "after an empty text";
}

// Deciphers `hex` from a heap copy of exactly its size, so that reading past
// the text is caught by the address sanitizer; the output has room to spare.
std::string decipherExactText(const std::string& hex) {
    std::unique_ptr<char[]> text(new char[hex.size() + 1]);
    std::memcpy(text.get(), hex.c_str(), hex.size() + 1);
    char out[64];
    bfDecryptHex(text.get(), out, sizeof out, kKey);
    return out;
}

// The incomplete trailing group is ignored and never read.
TEST(IncompleteGroup, IsIgnoredAndNeverRead) {
    EXPECT_EQ(decipherExactText(encipher("8charsXY") + "0123456"), "8charsXY");
    EXPECT_EQ(decipherExactText(encipher("8charsXY") + "F"), "8charsXY");
    EXPECT_EQ(decipherExactText("ABCDEF1"), "");
}

// The output area of the documented minimum size (half the text plus one)
// is not overrun either.
TEST(IncompleteGroup, MinimumOutputIsNotOverrun) {
    std::string hex = encipher("8charsXY") + "0123456";  // 23 digits
    std::unique_ptr<char[]> out(new char[hex.size() / 2 + 1]);
    bfDecryptHex(hex.c_str(), out.get(), hex.size() / 2 + 1, kKey);
    EXPECT_STREQ(out.get(), "8charsXY");
}

TEST(IncompleteGroup, OutputTooSmallKeepsWholeBlocksThatFit) {
    std::string hex = encipher("0123456789abcdef");  // two blocks
    std::unique_ptr<char[]> out(new char[12]);       // room for one block
    bfDecryptHex(hex.c_str(), out.get(), 12, kKey);
    EXPECT_STREQ(out.get(), "01234567");
}

// The real tool prints the same stored form that deciphers back.
TEST(StoredValue, ToolEncipherMatchesLibrary) {
    const char* tool = std::getenv("VENDRAK_SETTINGS_TOOL");
    ASSERT_NE(tool, nullptr) << "VENDRAK_SETTINGS_TOOL names the tool; ctest sets it";
    std::string command = std::string("'") + tool + "' encipher 'pass word;7'";
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[256] = "";
    ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
    EXPECT_EQ(pclose(pipe), 0);
    std::string printed(line);
    EXPECT_EQ(printed, encipher("pass word;7") + "\n");
    EXPECT_EQ(decipher(printed.substr(0, printed.size() - 1)), "pass word;7");
}

}  // namespace
