#include "platform/monitoring.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"

namespace {

// Writes all `size` bytes, also when the kernel takes them in pieces.
int writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

// Fills the open temporary file and gives it its final mode. 0 or an errno.
int fillTemporary(int fd, const char* data, std::size_t size, unsigned mode) {
    int error = writeAll(fd, data, size);
    // mkstemp creates the file 0600; readers such as a monitoring agent
    // under another user need the mode asked for, whatever the umask.
    if (error == 0 && fchmod(fd, static_cast<mode_t>(mode)) != 0)
        error = errno;
    if (error == 0 && fsync(fd) != 0)
        error = errno;
    return error;
}

}  // namespace

long long platformMonotonicMs() {
    return platformMonotonicNs() / kNsPerMs;
}

double platformWallClockSeconds() {
    struct timespec now;
    if (clock_gettime(CLOCK_REALTIME, &now) != 0)
        return 0.0;
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

bool platformStandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

void platformDescribePath(const char* path, char* out, std::size_t outSize) {
    if (outSize == 0)
        return;
    char hostPath[PATH_MAX];
    if (!platformMapPath(path, hostPath, sizeof hostPath)) {
        std::snprintf(out, outSize, "%s", path);
        return;
    }
    char directory[PATH_MAX];
    if (hostPath[0] == '/' || getcwd(directory, sizeof directory) == nullptr) {
        std::snprintf(out, outSize, "%s", hostPath);
        return;
    }
    std::snprintf(out, outSize, "%s/%s", directory, hostPath);
}

int platformReplaceFile(const char* hostPath, const char* data, std::size_t size, unsigned mode) {
    // The temporary name ends in random characters, not in the target's
    // suffix, so that a collector reading "*.prom" never picks it up.
    char temporary[PATH_MAX];
    int length = std::snprintf(temporary, sizeof temporary, "%s.XXXXXX", hostPath);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof temporary)
        return ENAMETOOLONG;
    int fd = mkstemp(temporary);
    if (fd < 0)
        return errno;
    int error = fillTemporary(fd, data, size, mode);
    if (close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && std::rename(temporary, hostPath) != 0)
        error = errno;
    if (error != 0)
        unlink(temporary);
    return error;
}
