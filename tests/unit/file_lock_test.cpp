// The run lock's mechanism: two opens of one lock file exclude each other,
// a wait ends after its timeout, and the lock comes free with its descriptor.
#include "platform/file_lock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

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

}  // namespace
