// Run control: the program run and the full-rebuild driver with its attempt
// and reconnection policy.
#pragma once

#include <cstddef>

#include "run/run_metrics.h"

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 99;
constexpr long kPhaseAttempts = 5;
constexpr long kAttemptWaitMs = 10000;
constexpr std::size_t kDownloadKeyWidth = 15;

// One phase of the full rebuild: its builder (nonzero on success) and the
// four log messages around it. The attempt message takes the attempt number
// (%ld). `metrics` names the phase in the run's bookkeeping.
struct Phase {
    int (*build)();
    const char* attemptMessage;
    const char* successMessage;
    const char* failedMessage;
    const char* connectionFailedMessage;
    RunPhase metrics;
};

// Results of prepareNextAttempt.
constexpr int kNextAttemptReady = 0;           // reconnected and waited
constexpr int kNextAttemptWithoutSession = 1;  // the reconnection failed
constexpr int kNextAttemptStopped = 2;         // a stop signal came: no further attempt

// Between two attempts of a unit of work: reconnects, then waits 10 seconds.
// The caller logs its own message for kNextAttemptWithoutSession; a stop
// signal is logged once at the end of the run.
int prepareNextAttempt();

// Runs the phases in order, each with up to five attempts; a phase runs only
// after the one before it succeeded. Returns 1 when all succeeded, else 0.
int runPhases(const Phase* phases, std::size_t count);

// The full rebuild: terminal authorisations, balance values, access
// authorisations. 1 when all three succeeded, 0 otherwise.
int PrepareFull();

// The whole program run: settings, banners, session, run mode, exit code.
int runProgram(int argc, char** argv);
