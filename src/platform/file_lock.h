// Exclusive advisory locks on a lock file (flock). The lock belongs to the
// open file: it lasts while the descriptor is open and ends with the process,
// however that ends.
#pragma once

#include <cstddef>

// Results of the lock functions.
constexpr int kLockTaken = 0;     // the lock is held through the descriptor
constexpr int kLockBusy = 1;      // another open file holds it
constexpr int kLockTimedOut = 2;  // still held by another after the wait
constexpr int kLockStopped = 3;   // a stop signal ended the wait
constexpr int kLockFailed = -1;   // flock itself failed; errno tells why

// Opens the lock file at the program path `path`; with `create`, creates it
// (mode 0644 before the umask) when it is missing. Read-only, so that a lock
// file made by another user of the installation still opens; close-on-exec,
// so that no program started from this one inherits the lock; by the rules
// of platformOpenRegularFile, so that a symbolic link is not followed and a
// FIFO or device neither blocks the open nor serves as the lock. The
// descriptor, or -1 with errno set.
int platformOpenLockFile(const char* path, bool create);

// True while the file open as `fd` is the one at the program path `path`.
// A lock taken on a file that has been removed or replaced since it was
// opened keeps nobody out: the next run opens the file now at the path.
bool platformLockFileStillAt(int fd, const char* path);

// Opens, read-only, the folder that holds the program path `path`, for a
// lock that removing or replacing the file cannot undo (a folder that holds
// files cannot be removed). The descriptor, or -1 with errno set.
int platformOpenLockFolder(const char* path);

// Closes a descriptor of the functions above, and with it its lock.
void platformCloseLockFile(int fd);

// One try for the exclusive lock, without waiting: kLockTaken, kLockBusy or
// kLockFailed.
int platformTryLockFile(int fd);

// Tries for the lock every quarter of a second until it is taken, the
// timeout has passed or a stop signal has come: kLockTaken, kLockTimedOut,
// kLockStopped or kLockFailed. A stop signal ends the wait at once. A real
// wait (poll), not platformWaitMs: it is no pause between attempts of the
// run, and the test interposer does not record it.
int platformWaitForLockFile(int fd, long timeoutMs);
