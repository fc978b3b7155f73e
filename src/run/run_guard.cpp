#include "run/run_guard.h"

#include <limits.h>

#include <cerrno>
#include <cstring>

#include "log/console.h"
#include "log/runlog.h"
#include "platform/file_lock.h"
#include "platform/platform.h"
#include "platform/stop_signal.h"
#include "settings/settings.h"

namespace {

// The descriptor that holds the run lock. It stays open, and the lock held,
// until the process ends.
int runLockFd = -1;

void reportNoLock(const char* hostPath, const char* what) {
    consoleLine("cannot %s the run lock %s (%s); running without it", what, hostPath,
                std::strerror(errno));
}

// The wait for the lock has ended without it: the reason goes to the log
// (and standard error), and this run prepares nothing.
int endWithoutLock(int rc, const char* hostPath) {
    if (rc == kLockStopped) {
        logLine(
            "Das Warten auf den laufenden Lauf wurde durch das Signal %s abgebrochen; dieser Lauf "
            "wird ohne Aufbereitung beendet.",
            platformSignalName(platformStopSignal()));
        return kRunMustEnd;
    }
    logLine(
        "Der laufende Lauf hat die Sperrdatei %s nach 60 Minuten nicht freigegeben; dieser Lauf "
        "wird ohne Aufbereitung beendet.",
        hostPath);
    consoleLine("gave up waiting for the run lock %s after 60 minutes", hostPath);
    return kRunMustEnd;
}

}  // namespace

int takeRunLock() {
    char hostPath[PATH_MAX];
    platformMapPath(kRunLockPath, hostPath, sizeof hostPath);
    runLockFd = platformOpenLockFile(kRunLockPath);
    if (runLockFd < 0) {
        reportNoLock(hostPath, "create");
        return kRunMayStart;
    }
    int rc = platformTryLockFile(runLockFd);
    if (rc == kLockBusy) {
        logLine("Warte auf das Ende eines laufenden Laufs (Sperrdatei %s).", hostPath);
        consoleLine("waiting for the run lock %s: another run of this installation is in progress",
                    hostPath);
        rc = platformWaitForLockFile(runLockFd, kRunLockWaitMs);
    }
    if (rc == kLockTimedOut || rc == kLockStopped)
        return endWithoutLock(rc, hostPath);
    if (rc == kLockFailed)
        reportNoLock(hostPath, "take");
    return kRunMayStart;
}

bool runStopRequested() {
    return platformStopSignal() != 0;
}

void logRunStopped() {
    if (runStopRequested()) {
        logLine("Der Lauf wurde durch das Signal %s abgebrochen.",
                platformSignalName(platformStopSignal()));
    }
}
