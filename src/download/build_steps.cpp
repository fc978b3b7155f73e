#include "download/build_steps.h"

#include "log/runlog.h"
#include "platform/text.h"

void logBuildFailure(const BuildTexts& texts, const char* function, int rc) {
    const bool forBadge = texts.badge != nullptr;
    logFailure(LastDiag, "Fehler %s()%s%s! Errcode: %ld", function, forBadge ? " Ausweisnr. " : "",
               forBadge ? texts.badge : "", static_cast<long>(rc));
}

int countRows(const char* pattern, SqlValues values, long& rows) {
    rows = 0;
    int32_t count = 0;
    int rc = queryRow(pattern, values, FailureMapping::Native, {intColumn(count)});
    if (rc == 0)
        rows = count;
    return rc;
}

int openBadgeCursor(CursorSlot slot, const char* allBadges, const char* oneBadge,
                    const char* badgeNumber, FailureMapping mapping) {
    if (isEmptyText(badgeNumber))
        return cursorOpen(slot, allBadges, {}, mapping);
    return cursorOpen(slot, oneBadge, {sqlText(badgeNumber)}, mapping);
}

int closeReadBack() {
    cursorClose(CursorSlot::ReadBack);
    return 0;
}
