// One row of the request table QvsAswDnl: a badge whose authorisations are to
// be brought up to date under a download key.
#pragma once

#include <cstdint>

struct QvsAswDnlRow {
    char DnlKey[15];
    int32_t DnlLfd;
    char DnlMnd[6];
    char DnlLiz[6];
    char DnlAsw[50];  // badge number; empty means all badges
    int32_t DnlKze;
    int32_t DnlKzu;
    int32_t DnlKmp;
    int32_t DnlSta;
    char DnlErf[50];
};
