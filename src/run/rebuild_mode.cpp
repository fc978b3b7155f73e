#include "run/rebuild_mode.h"

#include <cstdlib>
#include <cstring>

#include "db/statement_rollback.h"
#include "db/transaction.h"
#include "log/console.h"
#include "log/runlog.h"
#include "platform/text.h"

int takeRebuildMode() {
    const char* value = std::getenv(kRebuildModeVariable);
    if (value == nullptr || isEmptyText(value))
        return kRebuildModeTaken;
    if (std::strcmp(value, kAtomicRebuild) == 0) {
        dbUseTransactions();
        return kRebuildModeTaken;
    }
    consoleLine("%s='%s' is not a rebuild mode; unset it, or set it to '%s'", kRebuildModeVariable,
                value, kAtomicRebuild);
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
