#include "platform/file_checks.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/file_lock.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace {

constexpr std::size_t kHostPathSize = PATH_MAX;

// Copies the first `length` characters of `text` into `out`, terminated.
// False when they did not fit.
bool copyPrefix(const char* text, std::size_t length, char* out, std::size_t outSize) {
    if (length >= outSize)
        return false;
    std::memcpy(out, text, length);
    out[length] = '\0';
    return true;
}

// Joins `folder` and `name` with one '/' into `out`. False when it did not fit.
bool joinPath(const char* folder, const char* name, char* out, std::size_t outSize) {
    const char* separator = folder[0] != '\0' && folder[std::strlen(folder) - 1] == '/' ? "" : "/";
    int length = std::snprintf(out, outSize, "%s%s%s", folder, separator, name);
    return length >= 0 && static_cast<std::size_t>(length) < outSize;
}

// The resolved folder of a host path whose last part does not exist, joined
// with that last part. False when the folder does not resolve either.
bool resolveThroughFolder(const char* host, char* out, std::size_t outSize) {
    const char* slash = std::strrchr(host, '/');
    char folder[kHostPathSize];
    const char* name = host;
    if (slash == nullptr) {
        copyField(folder, ".");
    } else {
        std::size_t folderLength = slash == host ? 1 : static_cast<std::size_t>(slash - host);
        if (!copyPrefix(host, folderLength, folder, sizeof folder))
            return false;
        name = slash + 1;
    }
    char resolved[kHostPathSize];
    if (realpath(folder, resolved) == nullptr)
        return false;
    return joinPath(resolved, name, out, outSize);
}

}  // namespace

bool platformAbsolutePath(const char* path, char* out, std::size_t outSize) {
    char host[kHostPathSize];
    if (!platformMapPath(path, host, sizeof host)) {
        copyField(out, outSize, path);
        return false;
    }
    // A link as the last part is named itself: the run log and the run lock
    // do not follow it, and the check names what stands at their paths.
    struct stat status;
    bool link = lstat(host, &status) == 0 && S_ISLNK(status.st_mode);
    char resolved[kHostPathSize];
    if (!link && realpath(host, resolved) != nullptr)
        return copyField(out, outSize, resolved);
    if (resolveThroughFolder(host, out, outSize))
        return true;
    char workingDirectory[kHostPathSize];
    if (host[0] != '/' && getcwd(workingDirectory, sizeof workingDirectory) != nullptr &&
        joinPath(workingDirectory, host, out, outSize))
        return true;
    return copyField(out, outSize, host);
}

bool platformFolderOf(const char* path, char* out, std::size_t outSize) {
    const char* separator = nullptr;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/')
            separator = p;
    }
    if (separator == nullptr)
        return copyField(out, outSize, ".");
    std::size_t length = separator == path ? 1 : static_cast<std::size_t>(separator - path);
    return copyPrefix(path, length, out, outSize);
}

int platformFileReadable(const char* path) {
    char host[kHostPathSize];
    if (!platformMapPath(path, host, sizeof host))
        return ENAMETOOLONG;
    int file = open(host, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (file < 0)
        return errno;
    // Opening a folder read-only succeeds; reading it does not.
    char first;
    int error = read(file, &first, 1) < 0 ? errno : 0;
    close(file);
    return error;
}

int platformFolderWritable(const char* path) {
    char host[kHostPathSize];
    if (!platformMapPath(path, host, sizeof host))
        return ENAMETOOLONG;
    struct stat status;
    if (stat(host, &status) != 0)
        return errno;
    if (!S_ISDIR(status.st_mode))
        return ENOTDIR;
    // Writing and searching the folder are what creating, renaming and
    // removing the files in it need.
    return access(host, W_OK | X_OK) == 0 ? 0 : errno;
}

int platformLogFileWritable(const char* path) {
    int file = platformOpenLogDescriptor(path, false);
    if (file < 0)
        return errno;
    close(file);
    return 0;
}

LockProbe platformProbeLock(const char* path, int* error) {
    *error = 0;
    // Not created: looking must not leave a lock file behind.
    int file = platformOpenLockFile(path, false);
    if (file < 0) {
        if (errno == ENOENT)
            return LockProbe::NoLockFile;
        *error = errno;
        return LockProbe::Unknown;
    }
    LockProbe result = LockProbe::Free;
    // A shared lock conflicts only with the exclusive lock of a run; closing
    // the file lets it go again at once.
    if (flock(file, LOCK_SH | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            result = LockProbe::Held;
        } else {
            *error = errno;
            result = LockProbe::Unknown;
        }
    }
    close(file);
    return result;
}
