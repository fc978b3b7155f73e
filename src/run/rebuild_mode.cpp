#include "run/rebuild_mode.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/statement_rollback.h"
#include "db/transaction.h"
#include "log/console.h"
#include "log/runlog.h"
#include "platform/text.h"
#include "run/commit_proof.h"

int readRebuildMode(char* refusal, std::size_t refusalSize) {
    return platformReadChoice(kRebuildModeVariable, kAtomicRebuild, "rebuild mode", refusal,
                              refusalSize);
}

namespace {

// A whole percent from 0 to 100, digits only, leading zeros allowed
// ("020", "0100").
bool readPercent(const char* text, long& percent) {
    percent = 0;
    if (*text == '\0')
        return false;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9')
            return false;
        percent = percent * 10 + (*c - '0');
        if (percent > 100)
            return false;
    }
    return true;
}

// VENDRAK_MAX_SHRINK into CommitProof. The guard needs the rebuild's
// transaction: without VENDRAK_REBUILD=atomic (or a dry run, which has one
// always) it would judge nothing, so it is refused, as is a value that is
// no whole percent.
bool takeMaxShrink(int mode, char* refusal, std::size_t refusalSize) {
    const char* value = std::getenv(kMaxShrinkVariable);
    CommitProof.maxShrinkPercent = kNoShrinkLimit;
    if (value == nullptr || isEmptyText(value))
        return true;
    long percent = 0;
    if (!readPercent(value, percent)) {
        std::snprintf(refusal, refusalSize, "%s='%s' is not a whole percent from 0 to 100",
                      kMaxShrinkVariable, value);
        return false;
    }
    if (mode != kRebuildAtomic && !CommitProof.dryRun) {
        std::snprintf(refusal, refusalSize,
                      "%s=%s needs %s=%s or --dry-run: its refusal rolls back the rebuild's "
                      "transaction",
                      kMaxShrinkVariable, value, kRebuildModeVariable, kAtomicRebuild);
        return false;
    }
    CommitProof.maxShrinkPercent = percent;
    return true;
}

}  // namespace

int takeRebuildMode() {
    char refusal[4096];  // longer than a console line, which cuts it as every line
    const int mode = readRebuildMode(refusal, sizeof refusal);
    if (mode == kRebuildUnknown || !takeMaxShrink(mode, refusal, sizeof refusal)) {
        consoleLine("%s", refusal);
        return kRebuildModeRefused;
    }
    if (mode == kRebuildAtomic || CommitProof.dryRun)
        dbUseTransactions();
    return kRebuildModeTaken;
}

int checkDataSourceForRebuildMode(const char* dataSource) {
    if (!dbTransactionsOn())
        return kRebuildModeTaken;
    RollbackSetting setting;
    if (dbFindUnsafeRollbackSetting(dataSource, setting) == kStatementRollbackSafe)
        return kRebuildModeTaken;
    logLine("Die Datenquelle %s erlaubt keine atomare Aufbereitung (%s=%s)!", dataSource,
            setting.key, setting.value);
    consoleLine(
        "data source %s: with %s=%s (%s) psqlODBC does not roll back a failed statement alone, "
        "and %s=%s could lose rows unnoticed; %s, or unset %s",
        dataSource, setting.key, setting.value, setting.place, kRebuildModeVariable, kAtomicRebuild,
        setting.remedy, kRebuildModeVariable);
    return kRebuildModeRefused;
}
