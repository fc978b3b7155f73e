#include "run/rebuild_mode.h"

#include <cstdlib>
#include <cstring>

#include "db/transaction.h"
#include "log/console.h"
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
