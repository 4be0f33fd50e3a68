// A reference host for each test, with the library's handle pointing at it.
// Traps count instead of aborting; tear-down fails the test if a pool was
// left alive, a lock is still held, or a slot outside the host interface was
// called more often than the test said it would (`expectedUnexpected`).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "ombrix/extension.h"
#include "qvhost.h"

inline QVHostPoolStats poolStats(QVWord *pool) {
    QVHostPoolStats s{};
    qvhostPoolStats(pool, &s);
    return s;
}

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host = qvhostCreate();
        ASSERT_NE(host, nullptr);
        qvhostSetTrapAborts(host, 0);
        qvhostJournalSetEcho(qvhostDefaultJournal(host), 0);
        uint64_t major = 0, minor = 0;
        ASSERT_EQ(qvextver(host, &major, &minor), 0u);
        poolsAtStart = qvhostLivePools(host);
    }

    void TearDown() override {
        QVHostCounters c = counters();
        EXPECT_EQ(c.unexpectedCalls, expectedUnexpected) << "a slot outside the host interface";
        EXPECT_EQ(qvhostLivePools(host), poolsAtStart) << "a pool was left behind";
        EXPECT_EQ(c.lockAcquires, c.lockReleases) << "a lock is still held";
        qvhostDestroy(host);
        Exported_QVHandle = nullptr;
    }

    QVHostCounters counters() const {
        QVHostCounters c{};
        qvhostCounters(host, &c);
        return c;
    }

    // `operation` takes and lets go the lock `times` times.
    template <typename Operation>
    void expectLockTaken(uint64_t times, const char *what, Operation operation) {
        QVHostCounters before = counters();
        operation();
        QVHostCounters after = counters();
        EXPECT_EQ(after.lockAcquires - before.lockAcquires, times) << what;
        EXPECT_EQ(after.lockReleases - before.lockReleases, times) << what;
    }

    // `operation` creates, takes and releases no lock.
    template <typename Operation>
    void expectNoLockUsed(const char *what, Operation operation) {
        uint64_t made = counters().locksCreated;
        expectLockTaken(0, what, operation);
        EXPECT_EQ(counters().locksCreated, made) << what;
    }

    QVWord *host = nullptr;
    uint64_t poolsAtStart = 0;
    uint64_t expectedUnexpected = 0;
};
