// The invariant check of the fuzz targets. assert() is compiled out in the
// fuzz build (RelWithDebInfo defines NDEBUG), so a violated invariant names
// itself and traps: libFuzzer then reports it as a crash with its input.
#pragma once

#include <cstdio>

#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "invariant violated: %s (%s:%d)\n", #condition, __FILE__, \
                         __LINE__);                                                        \
            __builtin_trap();                                                              \
        }                                                                                  \
    } while (0)
