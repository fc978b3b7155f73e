// The attempt policy that the full rebuild and the key update share: up to
// five attempts of a unit of work, a reconnection and a pause between two of
// them, the commit of an atomic rebuild's writes and the rollback of a failed
// attempt's.
#pragma once

#include <cstddef>

#include "run/run_metrics.h"

constexpr long kAttempts = 5;
constexpr long kAttemptWaitMs = 10000;
constexpr std::size_t kWorkTextWidth = 128;

// One step of a unit of work: its work (nonzero on success), its log lines
// and the phase that its attempts count for in the run's metrics. Before
// each attempt `attempting` is logged with " Versuch-Nr:N!" appended;
// `succeeded` after a successful one; `failed` after the fifth failure and
// `connectionLost` when the reconnection after a failure failed. With
// `commits` its success includes the commit of the attempt's writes.
struct WorkStep {
    int (*work)();
    char attempting[kWorkTextWidth];
    char succeeded[kWorkTextWidth];
    char failed[kWorkTextWidth];
    char connectionLost[kWorkTextWidth];
    RunPhase metrics;
    bool commits;
};

// Up to five attempts of `count` steps that succeed or fail together: each
// attempt runs them in order from the first, with their attempt and success
// lines and the attempt number of the whole, up to the first that fails. A
// failed attempt is rolled back; then the run gives up at a stop signal, with
// the failed step's `failed` at the fifth attempt, at once after a refusal of
// the shrink guard (logged already) and with its
// `connectionLost` when the reconnection fails; otherwise the next attempt
// follows after the pause. 1 when all steps succeeded, else 0.
int runAttempts(const WorkStep* steps, std::size_t count);

// The end of a unit of work that succeeded: in an atomic rebuild its writes
// are proved (commit_proof.h) and committed now; a difference, a refusal of
// the shrink guard or a failed commit is logged and fails the unit (false).
// A dry run proves and does not commit. Without transactions every statement has taken effect
// already: true at once.
bool commitUnitOfWork();
