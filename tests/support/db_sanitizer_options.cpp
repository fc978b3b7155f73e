// Sanitizer options of the database test process and of the real binary it
// starts. The driver manager and the driver keep allocations until process
// exit that the leak checker would report as ours, and the interposer is
// preloaded ahead of the sanitizer runtime, which the order check refuses.
#include <cstdlib>

extern "C" const char* __asan_default_options() {
    return "verify_asan_link_order=0:detect_leaks=0";
}

static const bool childSanitizerOptionsReady = [] {
    setenv("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0", 1);
    return true;
}();
