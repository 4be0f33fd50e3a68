// Locks: exclusion, counters and the arguments the interface fixes.
#include <gtest/gtest.h>

#include <thread>

#include "host_test.h"

namespace {

class Locks : public HostTest {
  protected:
    static void acquire(QVWord *lock, int32_t a = 1, int32_t b = 1) {
        slot<QVLockAcquireFn>(lock, QV_LOCK_ACQUIRE)(lock, a, b);
    }
    static void unlock(QVWord *lock) { slot<QVLockReleaseFn>(lock, QV_LOCK_RELEASE)(lock); }
    static void destroyLock(QVWord *lock) { slot<QVLockDestroyFn>(lock, QV_LOCK_DESTROY)(lock); }
};

TEST_F(Locks, CountersFollowCreateAcquireReleaseDestroy) {
    QVWord *lock = createLock();
    ASSERT_NE(lock, nullptr);
    acquire(lock);
    unlock(lock);
    acquire(lock);
    unlock(lock);
    QVHostCounters c = counters();
    EXPECT_EQ(c.locksCreated, 1u);
    EXPECT_EQ(c.lockAcquires, 2u);
    EXPECT_EQ(c.lockReleases, 2u);
    EXPECT_EQ(c.locksDestroyed, 0u);
    destroyLock(lock);
    EXPECT_EQ(counters().locksDestroyed, 1u);
    EXPECT_EQ(counters().unexpectedCalls, 0u);
}

TEST_F(Locks, ExcludeEachOther) {
    QVWord *lock = createLock();
    long shared = 0;
    constexpr int kRounds = 100000;
    auto work = [&] {
        for (int i = 0; i < kRounds; ++i) {
            acquire(lock);
            long v = shared;
            shared = v + 1;
            unlock(lock);
        }
    };
    inTwoThreads([&](int) { work(); });
    EXPECT_EQ(shared, 2L * kRounds);
    EXPECT_EQ(counters().lockAcquires, 2u * kRounds);
    EXPECT_EQ(counters().lockReleases, 2u * kRounds);
    destroyLock(lock);
}

TEST_F(Locks, WrongArgumentsCountAsUnexpected) {
    QVLockOptions options{};
    options.reserved[1] = 7;
    auto create = slot<QVCreateLockFn>(host, QV_HOST_CREATE_LOCK);
    auto *odd = static_cast<QVWord *>(create(host, &options, 0, 0));
    EXPECT_EQ(counters().unexpectedCalls, 1u) << "options not zero";
    auto *oddArgs = static_cast<QVWord *>(create(host, nullptr, 1, 0));
    EXPECT_EQ(counters().unexpectedCalls, 2u) << "no options and a non-zero argument";

    acquire(odd, 0, 1);
    EXPECT_EQ(counters().unexpectedCalls, 3u) << "acquire is given 1, 1";
    unlock(odd);
    EXPECT_EQ(counters().unexpectedCalls, 3u);
    destroyLock(odd);
    destroyLock(oddArgs);
    expectedUnexpected = 3;
}

TEST_F(Locks, ReentryAndForeignReleaseAreCaughtNotDeadlocked) {
    QVWord *lock = createLock();
    acquire(lock);
    acquire(lock);  // the holder again: reported and let through
    EXPECT_EQ(counters().unexpectedCalls, 1u);
    unlock(lock);  // matches the re-entry
    bool releasedElsewhere = false;
    std::thread other([&] {
        unlock(lock);  // not the holder
        releasedElsewhere = true;
    });
    other.join();
    EXPECT_TRUE(releasedElsewhere);
    EXPECT_EQ(counters().unexpectedCalls, 2u);
    unlock(lock);  // the real release
    std::thread taker([&] {
        acquire(lock);
        unlock(lock);
    });
    taker.join();
    EXPECT_EQ(counters().unexpectedCalls, 2u) << "the lock is free again";
    destroyLock(lock);
    expectedUnexpected = 2;
}

TEST_F(Locks, DestroyWhileHeldIsReportedAndReleases) {
    QVWord *lock = createLock();
    acquire(lock);
    destroyLock(lock);
    EXPECT_EQ(counters().unexpectedCalls, 1u);
    EXPECT_EQ(counters().locksDestroyed, 1u);
    expectedUnexpected = 1;
}

}  // namespace
