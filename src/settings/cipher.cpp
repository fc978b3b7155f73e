#include "settings/cipher.h"

#include <cstring>

#include "settings/bf_tables.h"

BfState bfState;

namespace {

constexpr std::size_t kBlockBytes = 8;
constexpr std::size_t kBlockDigits = 2 * kBlockBytes;
constexpr int kRounds = 16;

// The round function: S-box lookups by the four bytes of x, most significant
// byte first; unsigned arithmetic gives the additions modulo 2^32.
uint32_t roundF(const BfState& state, uint32_t x) {
    uint32_t a = state.S[0][(x >> 24) & 0xFF];
    uint32_t b = state.S[1][(x >> 16) & 0xFF];
    uint32_t c = state.S[2][(x >> 8) & 0xFF];
    uint32_t d = state.S[3][x & 0xFF];
    return ((a + b) ^ c) + d;
}

// The next key word: four key bytes, the first one most significant, taking
// the key cyclically from `*position`. An empty key contributes zero words.
uint32_t nextKeyWord(const unsigned char* key, std::size_t keyLength, std::size_t* position) {
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
        uint32_t byte = 0;
        if (keyLength > 0) {
            byte = key[*position];
            *position = (*position + 1) % keyLength;
        }
        word = (word << 8) | byte;
    }
    return word;
}

// Block bytes 0..3 form the left half and 4..7 the right half, each with the
// lower byte less significant (the stored value layout, not the big-endian
// layout of the published test vectors).
uint32_t loadLittleEndian(const unsigned char* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void storeLittleEndian(uint32_t word, unsigned char* bytes) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>((word >> (8 * i)) & 0xFF);
}

// The decoder's digit value: 'A'..'F' give 10..15, every other character its
// code minus the code of '0'. Unsigned arithmetic makes the result the value
// modulo 256 whether char is signed or not.
unsigned digitValue(char digit) {
    unsigned code = static_cast<unsigned char>(digit);
    if (digit >= 'A' && digit <= 'F')
        return code - 55u;
    return code - 48u;
}

void wipeState() {
    std::memset(&bfState, 0, sizeof bfState);
}

}  // namespace

void bfInit(BfState& state, const unsigned char* key, std::size_t keyLength) {
    std::memcpy(state.S, kBfInitS, sizeof state.S);
    std::size_t position = 0;
    for (int i = 0; i < 18; ++i)
        state.P[i] = kBfInitP[i] ^ nextKeyWord(key, keyLength, &position);

    uint32_t left = 0;
    uint32_t right = 0;
    for (int i = 0; i < 18; i += 2) {
        bfEncryptBlock(state, left, right);
        state.P[i] = left;
        state.P[i + 1] = right;
    }
    for (int s = 0; s < 4; ++s) {
        for (int j = 0; j < 256; j += 2) {
            bfEncryptBlock(state, left, right);
            state.S[s][j] = left;
            state.S[s][j + 1] = right;
        }
    }
}

void bfEncryptBlock(const BfState& state, uint32_t& left, uint32_t& right) {
    uint32_t l = left;
    uint32_t r = right;
    for (int i = 0; i < kRounds; ++i) {
        l ^= state.P[i];
        r ^= roundF(state, l);
        uint32_t swap = l;
        l = r;
        r = swap;
    }
    // Undo the last exchange, then whiten with the last two P entries.
    uint32_t swap = l;
    l = r;
    r = swap;
    right = r ^ state.P[16];
    left = l ^ state.P[17];
}

void bfDecryptBlock(const BfState& state, uint32_t& left, uint32_t& right) {
    uint32_t l = left;
    uint32_t r = right;
    for (int i = kRounds + 1; i > 1; --i) {
        l ^= state.P[i];
        r ^= roundF(state, l);
        uint32_t swap = l;
        l = r;
        r = swap;
    }
    uint32_t swap = l;
    l = r;
    r = swap;
    right = r ^ state.P[1];
    left = l ^ state.P[0];
}

void hexDecode(const char* hex, std::size_t digits, unsigned char* out) {
    for (std::size_t i = 0; i < digits / 2; ++i) {
        unsigned high = digitValue(hex[2 * i]);
        unsigned low = digitValue(hex[2 * i + 1]);
        out[i] = static_cast<unsigned char>((16u * high + low) & 0xFFu);
    }
}

// Only whole 16-digit groups are deciphered: an incomplete trailing group
// (a text whose length is not a multiple of 16) is ignored, so the text is
// never read past its end and the output ends behind the last whole block.
// A block is written only when it and the terminator fit into `outSize`;
// deciphering stops at the first block that would not fit.
int bfDecryptHex(const char* hex, char* out, std::size_t outSize, const char* key) {
    if (outSize == 0)
        return 1;
    bfInit(bfState, reinterpret_cast<const unsigned char*>(key), std::strlen(key));
    std::size_t hexLength = std::strlen(hex);
    std::size_t written = 0;
    for (std::size_t p = 0; p + kBlockDigits <= hexLength; p += kBlockDigits) {
        if (written + kBlockBytes + 1 > outSize)
            break;
        unsigned char block[kBlockBytes];
        hexDecode(hex + p, kBlockDigits, block);
        uint32_t left = loadLittleEndian(block);
        uint32_t right = loadLittleEndian(block + 4);
        bfDecryptBlock(bfState, left, right);
        storeLittleEndian(left, reinterpret_cast<unsigned char*>(out + written));
        storeLittleEndian(right, reinterpret_cast<unsigned char*>(out + written + 4));
        written += kBlockBytes;
    }
    out[written] = '\0';
    wipeState();
    return 1;
}

// The plain text is padded with zero bytes to the next multiple of 8 (none
// when it already is one); an empty text gives an empty stored form.
int bfEncryptHex(const char* plain, char* out, std::size_t outSize, const char* key) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::size_t plainLength = std::strlen(plain);
    std::size_t blocks = (plainLength + kBlockBytes - 1) / kBlockBytes;
    if (outSize == 0)
        return 0;
    out[0] = '\0';
    if (blocks * kBlockDigits + 1 > outSize)
        return 0;
    bfInit(bfState, reinterpret_cast<const unsigned char*>(key), std::strlen(key));
    for (std::size_t b = 0; b < blocks; ++b) {
        unsigned char block[kBlockBytes] = {0};
        std::size_t offset = b * kBlockBytes;
        std::size_t take = plainLength - offset < kBlockBytes ? plainLength - offset : kBlockBytes;
        std::memcpy(block, plain + offset, take);
        uint32_t left = loadLittleEndian(block);
        uint32_t right = loadLittleEndian(block + 4);
        bfEncryptBlock(bfState, left, right);
        storeLittleEndian(left, block);
        storeLittleEndian(right, block + 4);
        for (std::size_t i = 0; i < kBlockBytes; ++i) {
            out[b * kBlockDigits + 2 * i] = kDigits[block[i] >> 4];
            out[b * kBlockDigits + 2 * i + 1] = kDigits[block[i] & 0x0F];
        }
    }
    out[blocks * kBlockDigits] = '\0';
    wipeState();
    return 1;
}
