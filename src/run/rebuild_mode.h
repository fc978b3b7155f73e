// The site's choice of how the full rebuild writes its tables, from the
// environment: by default every statement takes effect on its own; with
// VENDRAK_REBUILD=atomic the whole rebuild (and each badge of a key run) is
// one transaction that takes effect only once it has succeeded.
#pragma once

#include <cstddef>

#include "platform/platform.h"

constexpr const char* kRebuildModeVariable = "VENDRAK_REBUILD";
constexpr const char* kAtomicRebuild = "atomic";

// What VENDRAK_REBUILD asks for: unset or empty the default, "atomic" the
// atomic rebuild. Any other value is none (kRebuildUnknown); `refusal` then
// says so, with the value and what to do, as the run and the check print it.
enum {
    kRebuildDefault = kChoiceDefault,
    kRebuildAtomic = kChoiceTaken,
    kRebuildUnknown = kChoiceUnknown
};
int readRebuildMode(char* refusal, std::size_t refusalSize);

// Results of takeRebuildMode.
constexpr int kRebuildModeTaken = 0;
constexpr int kRebuildModeRefused = 1;

// Reads VENDRAK_REBUILD once, at the start of a run. Unset or empty keeps the
// default; "atomic", or a dry run (CommitProof.dryRun), turns the session's
// transactions on. Any other value is refused with a message on standard
// error (kRebuildModeRefused): a mistyped value must not make the site
// believe its tables are protected when they are not. VENDRAK_MAX_SHRINK
// (commit_proof.h), when set, must be a whole percent from 0 to 100 and
// needs the transaction of "atomic" or of a dry run; otherwise it is refused
// the same way.
int takeRebuildMode();

// With the atomic rebuild, on the run's first session: refuses a data source
// whose driver would not roll back a failed statement alone inside the
// rebuild's transaction (statement_rollback.h), so that such a site gets no
// rebuild that reports success with rows lost. The refusal is logged (the
// data source and its setting) and explained on standard error; the run then
// ends without a statement and without retries, for it is the configuration
// that has to change. kRebuildModeRefused then, else kRebuildModeTaken.
// Without the atomic rebuild nothing is asked of the driver.
int checkDataSourceForRebuildMode(const char* dataSource);
