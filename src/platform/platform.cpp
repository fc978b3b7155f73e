#include "platform/platform.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/stop_signal.h"

namespace {

constexpr std::size_t kHostPathSize = PATH_MAX;

constexpr long long kNsPerSecond = 1000 * kNsPerMs;

struct timespec timespecOfNs(long long ns) {
    struct timespec span;
    span.tv_sec = static_cast<time_t>(ns / kNsPerSecond);
    span.tv_nsec = static_cast<long>(ns % kNsPerSecond);
    return span;
}

}  // namespace

long long platformMonotonicNs() {
    struct timespec now = {};
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0)
        return 0;
    return static_cast<long long>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

bool platformMapPath(const char* path, char* out, std::size_t outSize) {
    if (outSize == 0)
        return false;
    std::size_t i = 0;
    for (; path[i] != '\0'; ++i) {
        if (i + 1 >= outSize) {
            out[0] = '\0';
            errno = ENAMETOOLONG;
            return false;
        }
        out[i] = path[i] == '\\' ? '/' : path[i];
    }
    out[i] = '\0';
    return true;
}

std::FILE* platformOpenFile(const char* path, const char* mode) {
    char hostPath[kHostPathSize];
    if (!platformMapPath(path, hostPath, sizeof hostPath))
        return nullptr;
    return std::fopen(hostPath, mode);
}

const char* platformErrorText(int error) {
    if (error == kErrorSymbolicLink)
        return "a symbolic link, which is not followed";
    if (error == kErrorNotRegularFile)
        return "not a regular file";
    return std::strerror(error);
}

int platformOpenRegularFile(const char* hostPath, int flags, unsigned mode) {
    int fd = open(hostPath, flags | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode);
    if (fd < 0) {
        // A link fails with ELOOP, a FIFO without reader or a socket with
        // ENXIO; say what stands at the path instead.
        int error = errno;
        struct stat status;
        if (lstat(hostPath, &status) == 0 && S_ISLNK(status.st_mode))
            error = kErrorSymbolicLink;
        else if (lstat(hostPath, &status) == 0 && !S_ISREG(status.st_mode) &&
                 !S_ISDIR(status.st_mode))
            error = kErrorNotRegularFile;
        errno = error;
        return -1;
    }
    struct stat status;
    int error = fstat(fd, &status) != 0    ? errno
                : !S_ISREG(status.st_mode) ? kErrorNotRegularFile
                                           : 0;
    if (error != 0) {
        close(fd);
        errno = error;
        return -1;
    }
    // A regular file never blocks; the flag has done its part.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

int platformOpenLogDescriptor(const char* path, bool create) {
    char hostPath[kHostPathSize];
    if (!platformMapPath(path, hostPath, sizeof hostPath))
        return -1;
    return platformOpenRegularFile(hostPath, O_WRONLY | O_APPEND | (create ? O_CREAT : 0), 0640);
}

std::FILE* platformOpenLogFile(const char* path) {
    int fd = platformOpenLogDescriptor(path, true);
    if (fd < 0)
        return nullptr;
    std::FILE* file = fdopen(fd, "a");
    if (file == nullptr) {
        // The caller reports errno; the close must not replace fdopen's.
        int error = errno;
        close(fd);
        errno = error;
    }
    return file;
}

int platformRemoveFile(const char* path) {
    char hostPath[kHostPathSize];
    if (!platformMapPath(path, hostPath, sizeof hostPath))
        return -1;
    return std::remove(hostPath);
}

int platformRenameFile(const char* from, const char* to) {
    char hostFrom[kHostPathSize];
    char hostTo[kHostPathSize];
    if (!platformMapPath(from, hostFrom, sizeof hostFrom))
        return -1;
    if (!platformMapPath(to, hostTo, sizeof hostTo))
        return -1;
    return std::rename(hostFrom, hostTo);
}

// Both, because each covers what the other may not: a core limit of 0 is
// not applied when the system hands cores to a pipe (a crash collector),
// and a non-dumpable process also refuses ptrace from its own user.
int platformDisableCoreDumps() {
    struct rlimit none = {0, 0};
    int limited = setrlimit(RLIMIT_CORE, &none);
    int undumpable = prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    return limited == 0 && undumpable == 0 ? 0 : -1;
}

void platformWaitMs(long milliseconds) {
    if (platformStopSignal() != 0)
        return;
    const long long deadlineNs = platformMonotonicNs() + milliseconds * kNsPerMs;
    struct timespec left = timespecOfNs(milliseconds * kNsPerMs);
    // The stop descriptor ends the wait, also when the stop signal came
    // after the check above: the descriptor stays readable. Any other signal
    // cuts the wait short only for a moment: the rest is waited, so that the
    // pause between attempts keeps its length.
    struct pollfd stop = {platformStopDescriptor(), POLLIN, 0};
    while (ppoll(&stop, 1, &left, nullptr) < 0 && errno == EINTR) {
        long long leftNs = deadlineNs - platformMonotonicNs();
        if (leftNs <= 0)
            return;
        left = timespecOfNs(leftNs);
    }
}

int platformReadChoice(const char* variable, const char* value, const char* what, char* refusal,
                       std::size_t refusalSize) {
    const char* set = std::getenv(variable);
    if (set == nullptr || set[0] == '\0')
        return kChoiceDefault;
    if (std::strcmp(set, value) == 0)
        return kChoiceTaken;
    std::snprintf(refusal, refusalSize, "%s='%s' is not a %s; unset it, or set it to '%s'",
                  variable, set, what, value);
    return kChoiceUnknown;
}

std::size_t platformLocalTime(const char* format, char* out, std::size_t outSize) {
    if (outSize == 0)
        return 0;
    out[0] = '\0';
    std::time_t now = std::time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) == nullptr)
        return 0;
    return std::strftime(out, outSize, format, &local);
}
