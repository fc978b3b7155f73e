// The run lock's mechanism: two opens of one lock file exclude each other,
// a wait ends after its timeout, and the lock comes free with its descriptor;
// only a regular file serves, and a lock on a file that left its path is
// recognised.
#include "platform/file_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/platform.h"

namespace {

TEST(FileLock, SecondOpenWaitsUntilItsTimeoutAndTakesTheLockOnceFreed) {
    const std::string path = "/tmp/vendrak_lock_test_" + std::to_string(getpid());
    int holder = platformOpenLockFile(path.c_str(), true);
    int waiter = platformOpenLockFile(path.c_str(), true);
    ASSERT_GE(holder, 0);
    ASSERT_GE(waiter, 0);
    EXPECT_EQ(platformTryLockFile(holder), kLockTaken);
    EXPECT_EQ(platformTryLockFile(waiter), kLockBusy);

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(platformWaitForLockFile(waiter, 600), kLockTimedOut);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(600));
    EXPECT_LT(waited, std::chrono::milliseconds(1500));

    close(holder);
    EXPECT_EQ(platformWaitForLockFile(waiter, 600), kLockTaken);
    close(waiter);
    std::remove(path.c_str());
}

// Opened read-only and without blocking, a symbolic link, a FIFO or a
// folder at the path is refused, and the link's target stays untouched.
TEST(FileLock, OnlyARegularFileServesAsTheLockFile) {
    namespace fs = std::filesystem;
    const std::string dir = "/tmp/vendrak_lock_kinds_" + std::to_string(getpid());
    fs::create_directory(dir);
    std::ofstream(dir + "/target") << "fremd\n";
    fs::create_symlink(dir + "/target", dir + "/link");
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    fs::create_directory(dir + "/folder");
    const struct {
        const char* name;
        int createError;    // with the run's create
        int existingError;  // without, as the check opens it
    } rows[] = {
        {"link", kErrorSymbolicLink, kErrorSymbolicLink},
        {"fifo", kErrorNotRegularFile, kErrorNotRegularFile},
        {"folder", EISDIR, kErrorNotRegularFile},
    };
    for (const auto& row : rows) {
        const std::string path = dir + "/" + row.name;
        errno = 0;
        EXPECT_EQ(platformOpenLockFile(path.c_str(), true), -1) << row.name;
        EXPECT_EQ(errno, row.createError) << row.name;
        EXPECT_EQ(platformOpenLockFile(path.c_str(), false), -1) << row.name;
        EXPECT_EQ(errno, row.existingError) << row.name;
    }
    std::ifstream target(dir + "/target");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(target), {}), "fremd\n");

    // A lock file removed, or replaced, after it was opened.
    const std::string path = dir + "/vendrak.lock";
    int fd = platformOpenLockFile(path.c_str(), true);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(platformLockFileStillAt(fd, path.c_str()));
    fs::remove(path);
    EXPECT_FALSE(platformLockFileStillAt(fd, path.c_str()));
    std::ofstream(path) << "";
    EXPECT_FALSE(platformLockFileStillAt(fd, path.c_str()));
    close(fd);
    fs::remove_all(dir);
}

}  // namespace
