// Fault injection: which allocation, pool or lock creation is refused, and
// the allocation count it rests on.
#include <gtest/gtest.h>

#include <vector>

#include "host_test.h"

namespace {

class Faults : public HostTest {};

// The outcome of each of `n` allocations in turn: true when it was refused.
std::vector<bool> refusals(QVWord *pool, int n) {
    std::vector<bool> refused;
    for (int i = 0; i < n; ++i) refused.push_back(allocate(pool, 24 + i) == nullptr);
    return refused;
}

TEST_F(Faults, FailAllocationRefusesExactlyTheNthFromNow) {
    QVWord *pool = createPool("f", 1);
    allocate(pool, 8);  // counting starts at the call, not at the pool
    qvhostFailAllocation(host, 3);
    EXPECT_EQ(refusals(pool, 6), (std::vector<bool>{false, false, true, false, false, false}));
    qvhostFailAllocation(host, 1);
    EXPECT_EQ(refusals(pool, 2), (std::vector<bool>{true, false}));
    destroy(pool);
}

TEST_F(Faults, FailFromRefusesTheNthAndEveryOneAfterUntilZero) {
    QVWord *pool = createPool("f");
    qvhostFailAllocationsFrom(host, 2);
    EXPECT_EQ(refusals(pool, 5), (std::vector<bool>{false, true, true, true, true}));
    EXPECT_EQ(allocate(pool, 100000), nullptr) << "large blocks too";
    qvhostFailAllocation(host, 0);
    EXPECT_EQ(refusals(pool, 3), (std::vector<bool>{false, false, false})) << "0 turns it off";
    destroy(pool);
}

TEST_F(Faults, RefusedAllocationCostsNothingButIsCounted) {
    QVWord *pool = createPool("f");
    void *kept = allocate(pool, 40);
    QVHostPoolStats before = stats(pool);
    uint64_t count = qvhostAllocationCount(host);
    qvhostFailAllocation(host, 1);
    EXPECT_EQ(allocate(pool, 40, QV_ALLOC_ZERO), nullptr);
    QVHostPoolStats after = stats(pool);
    EXPECT_EQ(after.allocations, before.allocations);
    EXPECT_EQ(after.liveBlocks, 1u);
    EXPECT_EQ(after.liveBytes, 40u);
    EXPECT_EQ(qvhostAllocationCount(host), count + 1);
    release(pool, kept);
    destroy(pool);
}

TEST_F(Faults, AllocationCountSpansPoolsIncludingDestroyedOnes) {
    EXPECT_EQ(qvhostAllocationCount(host), 0u);
    QVWord *a = createPool("a");
    QVWord *b = createPool("b", 1);
    allocate(a, 1);
    allocate(a, 1000);
    allocate(b, 1);
    EXPECT_EQ(qvhostAllocationCount(host), 3u);
    destroy(a);
    EXPECT_EQ(qvhostAllocationCount(host), 3u) << "a destroyed pool's allocations still count";
    qvhostFailAllocation(host, 2);
    allocate(b, 1);
    allocate(b, 1);  // refused
    EXPECT_EQ(qvhostAllocationCount(host), 5u);
    destroy(b);
    EXPECT_EQ(qvhostAllocationCount(host), 5u);
}

TEST_F(Faults, FailAllocationCountsAcrossAllPoolsOfTheHandle) {
    QVWord *a = createPool("a");
    QVWord *b = createPool("b");
    qvhostFailAllocation(host, 2);
    EXPECT_NE(allocate(a, 8), nullptr);
    EXPECT_EQ(allocate(b, 8), nullptr);
    EXPECT_NE(allocate(a, 8), nullptr);
    destroy(a);
    destroy(b);
}

TEST_F(Faults, FailPoolCreationRefusesTheNthAndCountsNothing) {
    qvhostFailPoolCreation(host, 2);
    QVWord *first = createPool("1");
    QVWord *second = createPool("2");
    QVWord *third = createPool("3");
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    EXPECT_EQ(counters().poolsCreated, 2u);
    EXPECT_EQ(qvhostLivePools(host), 2u);
    EXPECT_EQ(qvhostFindPool(host, "2"), nullptr);
    destroy(first);
    destroy(third);
}

TEST_F(Faults, FailLockCreationRefusesTheNth) {
    qvhostFailLockCreation(host, 1);
    EXPECT_EQ(createLock(), nullptr);
    QVWord *lock = createLock();
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(counters().locksCreated, 1u);
    slot<QVLockDestroyFn>(lock, QV_LOCK_DESTROY)(lock);
    EXPECT_EQ(counters().locksDestroyed, 1u);
}

TEST_F(Faults, PoolAndLockCountdownsAreSeparateFromAllocations) {
    qvhostFailAllocation(host, 1);
    QVWord *pool = createPool("p");
    ASSERT_NE(pool, nullptr) << "a pool creation is not an allocation";
    QVWord *lock = createLock();
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(allocate(pool, 1), nullptr);
    slot<QVLockDestroyFn>(lock, QV_LOCK_DESTROY)(lock);
    destroy(pool);
}

TEST_F(Faults, ConcurrentAllocationsRefuseExactlyOne) {
    QVWord *pool = createPool("threads");
    constexpr int kEach = 5000;
    qvhostFailAllocation(host, 3000);
    int refused[2] = {};
    inTwoThreads([&](int t) {
        for (int i = 0; i < kEach; ++i)
            if (!allocate(pool, 16)) ++refused[t];
    });
    EXPECT_EQ(refused[0] + refused[1], 1);
    EXPECT_EQ(stats(pool).allocations, 2u * kEach - 1);
    EXPECT_EQ(qvhostAllocationCount(host), 2u * kEach);
    destroy(pool);
}

}  // namespace
