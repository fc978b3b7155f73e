// Blowfish (64-bit blocks, 16 rounds, the published initial tables) as used
// for the stored setting values.
#pragma once

#include <cstddef>
#include <cstdint>

struct BfState {
    uint32_t P[18];
    uint32_t S[4][256];
};
// The one process-wide key state; built at the start of every enciphering or
// deciphering call and wiped to zeros at its end.
extern BfState bfState;

void bfInit(BfState& state, const unsigned char* key, std::size_t keyLength);
void bfEncryptBlock(const BfState& state, uint32_t& left, uint32_t& right);
void bfDecryptBlock(const BfState& state, uint32_t& left, uint32_t& right);

// Decodes `digits` hexadecimal characters of `hex` into digits / 2 bytes.
void hexDecode(const char* hex, std::size_t digits, unsigned char* out);

// Deciphers the stored form `hex` under `key` into `out` (`outSize` bytes,
// always terminated, never overrun). Returns 1.
int bfDecryptHex(const char* hex, char* out, std::size_t outSize, const char* key);

// The exact mirror of bfDecryptHex: writes the stored form of `plain` (zero
// padded to a multiple of 8 bytes, uppercase hex) into `out`. Returns 1, or 0
// when `out` is too small (it is then empty).
int bfEncryptHex(const char* plain, char* out, std::size_t outSize, const char* key);
