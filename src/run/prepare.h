// Run control: the program run and the full-rebuild driver. The attempt
// policy that it shares with the key update is in attempt_policy.h.
#pragma once

#include <cstddef>

#include "run/exit_codes.h"
#include "run/run_metrics.h"

constexpr long kPhaseAttempts = 5;

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

// Runs the phases in order, each with up to five attempts; a phase runs only
// after the one before it succeeded. Returns 1 when all succeeded, else 0.
int runPhases(const Phase* phases, std::size_t count);

// The same phases as one unit of work in one transaction: up to five
// attempts of all of them, each attempt starting again with the first phase
// and committing only after the last one succeeded; a failed attempt is
// rolled back. The phases log their lines as in runPhases, with the attempt
// number of the whole; the final messages are those of the phase that failed
// (a failed commit fails the last phase). 1 when committed, else 0.
int runPhasesAtomically(const Phase* phases, std::size_t count);

// The full rebuild: terminal authorisations, balance values, access
// authorisations, as one transaction when the site chose an atomic rebuild.
// 1 when all three succeeded, 0 otherwise.
int PrepareFull();

// The whole program run: settings, banners, session, run mode; its exit code.
int runProgram(int argc, char** argv);
