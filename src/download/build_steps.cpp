#include "download/build_steps.h"

#include "db/results.h"
#include "log/runlog.h"

void logBuildFailure(const BuildTexts& texts, const char* function, int rc) {
    const bool forBadge = texts.badge != nullptr;
    logFailure(LastDiag, "Fehler %s()%s%s! Errcode: %ld", function, forBadge ? " Ausweisnr. " : "",
               forBadge ? texts.badge : "", static_cast<long>(rc));
}
