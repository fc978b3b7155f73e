#include "run/run_guard.h"

#include <limits.h>

#include <cerrno>
#include <cstring>

#include "log/console.h"
#include "log/runlog.h"
#include "platform/file_lock.h"
#include "platform/monitoring.h"
#include "platform/platform.h"
#include "platform/stop_signal.h"
#include "settings/settings.h"

namespace {

// The descriptors that hold the run lock: the lock file and the log folder
// that holds it. They stay open, and the locks held, until the process ends.
int runLockFd = -1;
int runLockFolderFd = -1;

// A wait for the run lock, however many files it takes: one deadline, and
// one announcement per run.
struct LockWait {
    const char* hostPath;
    long long deadlineMs;
    bool announced;
};

// Without a log folder there is no log and no lock; the run goes on and
// says so on standard error.
void reportNoLogFolder(const char* hostPath) {
    consoleLine("cannot create the run lock %s (%s); running without it", hostPath,
                std::strerror(errno));
}

// A log folder whose lock file cannot serve: a run without the lock could
// run beside another, so this one prepares nothing and says why.
int endUnusableLock(const char* hostPath, int error) {
    logLine(
        "Die Sperrdatei %s kann nicht genutzt werden (%s); dieser Lauf wird ohne Aufbereitung "
        "beendet.",
        hostPath, platformErrorText(error));
    consoleLine("cannot use the run lock %s (%s); this run prepares nothing", hostPath,
                platformErrorText(error));
    return kRunMustEnd;
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

// Takes the lock on `fd`, waiting while another run holds it and the
// deadline allows: a result of platformWaitForLockFile.
int lockOrWait(int fd, LockWait& wait) {
    int rc = platformTryLockFile(fd);
    if (rc != kLockBusy)
        return rc;
    if (!wait.announced) {
        wait.announced = true;
        logLine("Warte auf das Ende eines laufenden Laufs (Sperrdatei %s).", wait.hostPath);
        consoleLine("waiting for the run lock %s: another run of this installation is in progress",
                    wait.hostPath);
    }
    long long leftMs = wait.deadlineMs - platformMonotonicMs();
    return platformWaitForLockFile(fd, leftMs > 0 ? static_cast<long>(leftMs) : 0);
}

// kRunMayStart once the lock is held, else the end of the run, logged.
int endUnlessLocked(int rc, const char* hostPath) {
    if (rc == kLockTaken)
        return kRunMayStart;
    if (rc == kLockFailed)
        return endUnusableLock(hostPath, errno);
    return endWithoutLock(rc, hostPath);
}

// Locks the lock file that stands at its path once the lock is held: a
// file removed or replaced during the wait is let go, and the one now at
// the path is locked instead.
int lockTheFileAtThePath(LockWait& wait) {
    for (;;) {
        runLockFd = platformOpenLockFile(kRunLockPath, true);
        if (runLockFd < 0)
            return kLockFailed;
        int rc = lockOrWait(runLockFd, wait);
        if (rc != kLockTaken || platformLockFileStillAt(runLockFd, kRunLockPath))
            return rc;
        platformCloseLockFile(runLockFd);
    }
}

}  // namespace

int takeRunLock() {
    char hostPath[PATH_MAX];
    platformMapPath(kRunLockPath, hostPath, sizeof hostPath);
    LockWait wait = {hostPath, platformMonotonicMs() + kRunLockWaitMs, false};
    int rc = lockTheFileAtThePath(wait);
    if (runLockFd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
        reportNoLogFolder(hostPath);
        return kRunMayStart;
    }
    if (rc != kLockTaken)
        return endUnlessLocked(rc, hostPath);
    // The lock file can be removed under a run that holds it, and the next
    // run would create and lock a new one; the folder that holds it cannot
    // be removed while it holds files, so its lock keeps that run waiting.
    runLockFolderFd = platformOpenLockFolder(kRunLockPath);
    if (runLockFolderFd < 0)
        return endUnusableLock(hostPath, errno);
    return endUnlessLocked(lockOrWait(runLockFolderFd, wait), hostPath);
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
