// The diagnostic of a failed driver call, as a failure line reports it.
#pragma once

#include <cstdint>

struct DiagRecord {
    bool Held;  // a failed call's diagnostic was read (its texts are empty without a record)
    char SqlState[256];
    char MessageText[1000];
    int32_t NativeError;
    char TimeoutCause[96];  // what a time-out means in words; empty for any other failure
};

// For a failure line that reports no diagnostic.
inline constexpr DiagRecord kNoDiag = {};
