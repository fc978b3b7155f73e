// One row of the request table QvsAswDnl: a badge whose authorisations are to
// be brought up to date under a download key. The key-driven update reads it
// and the per-badge builders take it, so it lives with the builders.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kDownloadKeyWidth = 15;  // a download key with its terminator

struct QvsAswDnlRow {
    char DnlKey[kDownloadKeyWidth];
    int32_t DnlLfd;
    char DnlMnd[6];
    char DnlLiz[6];
    // Badge numbers are 50 characters wide everywhere; a narrower field would
    // make a key run work on a prefix of the badge, that is on another badge.
    char DnlAsw[51];  // empty means all badges
    int32_t DnlKze;
    int32_t DnlKzu;
    int32_t DnlKmp;
    int32_t DnlSta;
    char DnlErf[51];
};
