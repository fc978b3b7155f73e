#include "run/rebuild_mode.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/statement_rollback.h"
#include "db/transaction.h"
#include "log/console.h"
#include "log/runlog.h"
#include "platform/text.h"

int readRebuildMode(char* refusal, std::size_t refusalSize) {
    const char* value = std::getenv(kRebuildModeVariable);
    if (value == nullptr || isEmptyText(value))
        return kRebuildDefault;
    if (std::strcmp(value, kAtomicRebuild) == 0)
        return kRebuildAtomic;
    std::snprintf(refusal, refusalSize,
                  "%s='%s' is not a rebuild mode; unset it, or set it to '%s'",
                  kRebuildModeVariable, value, kAtomicRebuild);
    return kRebuildUnknown;
}

int takeRebuildMode() {
    char refusal[4096];  // longer than a console line, which cuts it as every line
    const int mode = readRebuildMode(refusal, sizeof refusal);
    if (mode == kRebuildAtomic)
        dbUseTransactions();
    if (mode != kRebuildUnknown)
        return kRebuildModeTaken;
    consoleLine("%s", refusal);
    return kRebuildModeRefused;
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
