#include "platform/file_lock.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/stop_signal.h"

namespace {

constexpr long kLockPollMs = 250;

}  // namespace

int platformOpenLockFile(const char* path, bool create) {
    char hostPath[PATH_MAX];
    if (!platformMapPath(path, hostPath, sizeof hostPath))
        return -1;
    return platformOpenRegularFile(hostPath, O_RDONLY | (create ? O_CREAT : 0), 0644);
}

bool platformLockFileStillAt(int fd, const char* path) {
    char hostPath[PATH_MAX];
    struct stat opened;
    struct stat atPath;
    return platformMapPath(path, hostPath, sizeof hostPath) && fstat(fd, &opened) == 0 &&
           lstat(hostPath, &atPath) == 0 && opened.st_dev == atPath.st_dev &&
           opened.st_ino == atPath.st_ino;
}

int platformOpenLockFolder(const char* path) {
    char hostPath[PATH_MAX];
    if (!platformMapPath(path, hostPath, sizeof hostPath))
        return -1;
    char* slash = std::strrchr(hostPath, '/');
    if (slash == nullptr)
        return open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (slash == hostPath)
        ++slash;  // the root folder
    *slash = '\0';
    return open(hostPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

void platformCloseLockFile(int fd) {
    close(fd);
}

int platformTryLockFile(int fd) {
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return kLockBusy;
        if (errno != EINTR)
            return kLockFailed;
    }
    return kLockTaken;
}

int platformWaitForLockFile(int fd, long timeoutMs) {
    const long long deadline = platformMonotonicNs() + timeoutMs * kNsPerMs;
    for (;;) {
        int rc = platformTryLockFile(fd);
        if (rc != kLockBusy)
            return rc;
        if (platformStopSignal() != 0)
            return kLockStopped;
        long long leftNs = deadline - platformMonotonicNs();
        if (leftNs <= 0)
            return kLockTimedOut;
        // Whole milliseconds, rounded up: poll never pauses for less.
        long long leftMs = (leftNs + kNsPerMs - 1) / kNsPerMs;
        // The stop descriptor ends the pause at once, also when the stop
        // signal came after the check above.
        struct pollfd stop = {platformStopDescriptor(), POLLIN, 0};
        poll(&stop, 1, static_cast<int>(leftMs < kLockPollMs ? leftMs : kLockPollMs));
    }
}
