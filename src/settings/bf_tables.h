// The published Blowfish initial tables (the fractional hexadecimal digits of
// pi); internal to the cipher, never changed.
#pragma once

#include <cstdint>

extern const uint32_t kBfInitP[18];
extern const uint32_t kBfInitS[4][256];
