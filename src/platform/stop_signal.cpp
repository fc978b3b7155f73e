#include "platform/stop_signal.h"

#include <signal.h>

namespace {

// Written only by the handler, read by the run; sig_atomic_t keeps both sides
// async-signal-safe.
volatile sig_atomic_t stopSignal = 0;

void onStopSignal(int signal) {
    if (stopSignal == 0)
        stopSignal = signal;
}

}  // namespace

void platformCatchStopSignals() {
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

int platformStopSignal() {
    return stopSignal;
}

const char* platformSignalName(int signal) {
    if (signal == SIGTERM)
        return "SIGTERM";
    if (signal == SIGINT)
        return "SIGINT";
    return "signal";
}
