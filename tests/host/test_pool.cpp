// The reference host's pools, fault injection and locks, reached through
// their slots as the library reaches them: fills, statistics, refusals,
// sanitizer poisoning, exclusion, and misuse counted instead of obeyed.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "core/host_calls.h"
#include "host_fixture.h"

// Under AddressSanitizer the host gives every block a malloc of its own, so
// freed memory is the sanitizer's and may not be looked at.
#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ASAN 1
#else
#define UNDER_ASAN 0
#endif

namespace {

using omb::poolAllocate;
using omb::poolFree;

bool allBytesAre(const void *block, size_t n, unsigned char value) {
    auto *p = static_cast<const unsigned char *>(block);
    for (size_t i = 0; i < n; ++i)
        if (p[i] != value) return false;
    return true;
}

class Pools : public HostTest {
  protected:
    QVWord *createPool(const char *name, uint32_t flags = 0, void *journal = nullptr) {
        QVPoolOptions options{};
        options.flags = flags;
        return omb::hostCreatePool(host, options, static_cast<QVWord *>(journal), name);
    }
    QVWord *createLock() { return omb::hostCreateLock(host, QVLockOptions{}); }
};

// A block of the same size is made dirty and freed first, so a reused block
// must be filled as well. Scribble off leaves the old bytes past the link.
TEST_F(Pools, FillsByFlagAndScribble) {
    const struct {
        uint64_t size;
        uint32_t flags;
        int scribble;
        int expected;  // the byte every position holds; -1: the old contents
    } cases[] = {{1, QV_ALLOC_ZERO, 1, 0},       {100, QV_ALLOC_ZERO, 1, 0},
                 {4096, QV_ALLOC_ZERO, 0, 0},    {100000, QV_ALLOC_ZERO, 1, 0},
                 {48, 0, 1, 0xA5},               {2000, 0, 1, 0xA5},
                 {100000, 0, 1, 0xA5},           {48, 0x1234, 1, 0xA5},
                 {48, 0, 0, -1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.size << " flags " << c.flags);
        qvhostSetScribble(host, c.scribble);
        QVWord *pool = createPool("fill", 1);
        void *dirty = poolAllocate(pool, c.size, 0);
        std::memset(dirty, 0x77, c.size);
        poolFree(pool, dirty);
        bool readable = !UNDER_ASAN && c.size > 8;  // and past the free-list link
        if (c.scribble && readable) {
            EXPECT_TRUE(allBytesAre(static_cast<char *>(dirty) + 8, c.size - 8, 0xDD)) << "freed";
        }
        auto *block = static_cast<unsigned char *>(poolAllocate(pool, c.size, c.flags));
        if (c.expected >= 0) {
            EXPECT_TRUE(allBytesAre(block, c.size, static_cast<unsigned char>(c.expected)));
        } else if (readable) {
            EXPECT_TRUE(block == dirty && allBytesAre(block + 8, c.size - 8, 0x77));
        }
        omb::poolDestroy(pool);
    }
}

// Scribbling sends every free through the slow path; without it the common
// case runs inline. Both keep the same books.
TEST_F(Pools, StatisticsFollowAllocationsAndFrees) {
    for (int scribble : {1, 0}) {
        SCOPED_TRACE(scribble ? "scribbling" : "not scribbling");
        qvhostSetScribble(host, scribble);
        QVWord *pool = createPool("stats");
        void *a = poolAllocate(pool, 10, 0);
        void *b = poolAllocate(pool, 30, 0);
        void *c = poolAllocate(pool, 100000, 0);
        void *d = poolAllocate(pool, 0, 0);
        ASSERT_TRUE(d && d != a && d != b) << "a zero-byte block is still a block";
        auto expect = [&](uint64_t live, uint64_t bytes, uint64_t peak, uint64_t made,
                          uint64_t freed) {
            QVHostPoolStats s = poolStats(pool);
            EXPECT_EQ(s.liveBlocks, live);
            EXPECT_EQ(s.liveBytes, bytes) << "bytes asked for, not rounded";
            EXPECT_EQ(s.peakBytes, peak);
            EXPECT_EQ(s.allocations, made);
            EXPECT_EQ(s.frees, freed);
        };
        expect(4, 100040, 100040, 4, 0);
        poolFree(pool, c);
        poolFree(pool, a);
        expect(2, 30, 100040, 4, 2);
        poolFree(pool, b);
        poolFree(pool, d);
        void *e = poolAllocate(pool, 20, 0);
        expect(1, 20, 100040, 5, 4);  // a reused block counts its new size
        poolFree(pool, e);
        omb::poolDestroy(pool);
    }
}

TEST_F(Pools, BlocksAre16ByteAlignedAndDoNotOverlap) {
    QVWord *pool = createPool("align", 1);
    std::vector<std::pair<char *, uint64_t>> blocks;
    for (uint64_t size = 0; size < 9000; size += 37) {
        auto *p = static_cast<char *>(poolAllocate(pool, size, 0));
        ASSERT_TRUE(p && reinterpret_cast<uintptr_t>(p) % 16 == 0) << "size " << size;
        std::memset(p, static_cast<int>(size & 0xff), size);
        blocks.emplace_back(p, size);
    }
    for (auto &[p, size] : blocks)
        EXPECT_TRUE(allBytesAre(p, size, static_cast<unsigned char>(size & 0xff))) << size;
    EXPECT_EQ(poolStats(pool).liveBlocks, blocks.size());
    omb::poolDestroy(pool);  // frees every block still in it
}

TEST_F(Pools, RegistryKnowsNamesFlagsJournalsAndTheNewestOfAName) {
    int journal = 0;
    QVWord *first = createPool("twin", 0x31, &journal);
    QVWord *second = createPool("twin");
    auto *unnamed = static_cast<QVWord *>(omb::slotFunction<QVCreatePoolFn>(
        host, QV_HOST_CREATE_POOL)(host, nullptr, nullptr, nullptr));
    EXPECT_STREQ(qvhostPoolName(first), "twin");
    EXPECT_EQ(qvhostPoolFlags(first), 0x31u);
    EXPECT_EQ(qvhostPoolJournal(first), &journal);
    EXPECT_STREQ(qvhostPoolName(unnamed), "");
    EXPECT_EQ(qvhostPoolFlags(unnamed), 0u) << "no options: a locked pool";
    EXPECT_EQ(qvhostLivePools(host), poolsAtStart + 3);
    EXPECT_EQ(qvhostFindPool(host, "twin"), second);
    EXPECT_EQ(qvhostFindPool(host, "none"), nullptr);
    omb::poolDestroy(second);
    EXPECT_EQ(qvhostFindPool(host, "twin"), first);
    omb::poolDestroy(first);
    omb::poolDestroy(unnamed);
    EXPECT_EQ(qvhostFindPool(host, "twin"), nullptr);
    EXPECT_TRUE(counters().poolsCreated == 3 && counters().poolsDestroyed == 3);
}

// Counting starts at the call, not at the pool, and runs across every pool
// of the handle; each countdown is its own.
TEST_F(Pools, FaultInjectionRefusesExactlyTheCountedCalls) {
    QVWord *pool = createPool("f", 1);
    QVWord *other = createPool("g");
    poolAllocate(pool, 8, 0);
    const struct {
        void (*arm)(QVWord *, uint64_t);
        uint64_t n;
        std::vector<bool> refused;
    } cases[] = {{qvhostFailAllocation, 3, {false, false, true, false, false}},
                 {qvhostFailAllocation, 1, {true, false}},
                 {qvhostFailAllocationsFrom, 2, {false, true, true, true}},
                 {qvhostFailAllocation, 0, {false, false}}};
    for (const auto &c : cases) {
        c.arm(host, c.n);
        std::vector<bool> refused;  // the outcome of each allocation in turn
        for (size_t i = 0; i < c.refused.size(); ++i) refused.push_back(!poolAllocate(pool, 24, 0));
        EXPECT_EQ(refused, c.refused) << c.n;
    }
    qvhostFailAllocationsFrom(host, 1);
    EXPECT_EQ(poolAllocate(other, 100000, QV_ALLOC_ZERO), nullptr) << "large blocks too";
    qvhostFailAllocation(host, 2);
    EXPECT_NE(poolAllocate(other, 8, 0), nullptr);
    EXPECT_EQ(poolAllocate(pool, 8, 0), nullptr) << "the count spans pools";
    uint64_t count = qvhostAllocationCount(host);
    QVHostPoolStats before = poolStats(pool);
    qvhostFailAllocation(host, 1);
    EXPECT_EQ(poolAllocate(pool, 40, 0), nullptr);
    EXPECT_EQ(qvhostAllocationCount(host), count + 1) << "a refusal is counted as a call";
    EXPECT_EQ(poolStats(pool).allocations, before.allocations) << "and costs nothing";
    EXPECT_EQ(poolStats(pool).liveBytes, before.liveBytes);
    omb::poolDestroy(other);
    EXPECT_EQ(qvhostAllocationCount(host), count + 1) << "a destroyed pool's calls still count";

    qvhostFailAllocation(host, 1);
    qvhostFailPoolCreation(host, 2);
    qvhostFailLockCreation(host, 1);
    QVWord *made = createPool("1");
    EXPECT_EQ(createPool("2"), nullptr);
    EXPECT_EQ(qvhostFindPool(host, "2"), nullptr);
    EXPECT_EQ(createLock(), nullptr);
    QVWord *lock = createLock();
    ASSERT_TRUE(made && lock) << "pool and lock creations are no allocations";
    EXPECT_EQ(poolAllocate(made, 1, 0), nullptr) << "the allocation countdown still waits";
    EXPECT_EQ(counters().poolsCreated, 3u) << "a refused creation counts nothing";
    EXPECT_EQ(counters().locksCreated, 1u);
    omb::lockDestroy(lock);
    omb::poolDestroy(made);
    omb::poolDestroy(pool);
}

// Two threads at once: the lock excludes, the locked pool serves both, and
// exactly one allocation of the two is refused.
TEST_F(Pools, TwoThreadsShareALockAndALockedPool) {
    QVWord *pool = createPool("threads");
    QVWord *lock = createLock();
    constexpr int kEach = 20000;
    long shared = 0;
    int refused[2] = {}, freed[2] = {};
    qvhostFailAllocation(host, 3000);
    auto work = [&](int t) {
        for (int i = 0; i < kEach; ++i) {
            omb::lockAcquire(lock);
            long v = shared;
            shared = v + 1;
            omb::lockRelease(lock);
            auto *p = static_cast<char *>(poolAllocate(pool, 16 + i % 600, 0));
            refused[t] += !p;
            if (p) std::memset(p, t, 16);
            if (p && i % 2) poolFree(pool, p), ++freed[t];
        }
    };
    std::thread first(work, 0), second(work, 1);
    first.join();
    second.join();
    EXPECT_EQ(shared, 2L * kEach);
    EXPECT_EQ(refused[0] + refused[1], 1);
    EXPECT_TRUE(counters().lockAcquires == 2u * kEach && counters().lockReleases == 2u * kEach);
    QVHostPoolStats s = poolStats(pool);
    EXPECT_EQ(s.allocations, 2u * kEach - 1);
    EXPECT_EQ(s.frees, uint64_t(freed[0] + freed[1]));
    EXPECT_EQ(qvhostAllocationCount(host), 2u * kEach);
    omb::lockDestroy(lock);
    EXPECT_EQ(counters().locksDestroyed, 1u);
    omb::poolDestroy(pool);
}

// Each misuse counts once and is not obeyed: the books stay as they were.
TEST_F(Pools, MisuseIsCountedAndChangesNothing) {
    QVWord *pool = createPool("a");
    QVWord *other = createPool("b");
    QVWord *lock = createLock();
    void *block = poolAllocate(pool, 32, 0);
    void *foreign = poolAllocate(other, 32, 0);
    void *freed = poolAllocate(pool, 32, 0);
    poolFree(pool, freed);
    auto raw = [](QVWord *object, int slot) {
        return omb::slotFunction<uintptr_t (*)(QVWord *, uintptr_t, uintptr_t)>(object, slot);
    };
    const struct { const char *what; std::function<void()> misuse; } cases[] = {
        {"foreign block", [&] { poolFree(pool, foreign); }},
        {"freed twice", [&] { poolFree(pool, UNDER_ASAN ? foreign : freed); }},  // else ASan's
        {"acquire not given 1, 1",
         [&] { omb::slotFunction<QVLockAcquireFn>(lock, QV_LOCK_ACQUIRE)(lock, 0, 1), omb::lockRelease(lock); }},
        {"taken again by its holder", [&] {
             omb::lockAcquire(lock);
             omb::lockAcquire(lock);
             omb::lockRelease(lock);
             omb::lockRelease(lock);
         }},
        {"lock options not zero", [&] { omb::lockDestroy(omb::hostCreateLock(host, {{0, 7, 0}})); }},
        {"handle slot 7", [&] { EXPECT_EQ(raw(host, 7)(host, 1, 2), 0u); }},
        {"pool slot 5", [&] { EXPECT_EQ(raw(pool, 5)(pool, 1, 2), 0u); }},
    };
    for (const auto &c : cases) {
        QVHostPoolStats before = poolStats(pool);
        c.misuse();
        EXPECT_EQ(counters().unexpectedCalls, ++expectedUnexpected) << c.what;
        EXPECT_EQ(poolStats(pool).frees, before.frees) << c.what;
        EXPECT_EQ(poolStats(pool).liveBlocks, before.liveBlocks) << c.what;
    }
    poolFree(pool, block);
    omb::lockDestroy(lock);
    omb::poolDestroy(other);
    omb::poolDestroy(pool);
}

using PoolsDeathTest = Pools;

TEST_F(PoolsDeathTest, UnderAsanOverflowAndUseAfterFreeAreCaught) {
    if (!UNDER_ASAN) GTEST_SKIP() << "only blocks of their own show the sanitizer an overflow";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    QVWord *pool = createPool("asan");
    auto *block = static_cast<volatile char *>(poolAllocate(pool, 24, 0));
    block[23] = 1;
    EXPECT_DEATH(block[24] = 1, "heap-buffer-overflow");
    poolFree(pool, const_cast<char *>(block));
    EXPECT_DEATH((void)block[0], "heap-use-after-free");
    auto *kept = static_cast<volatile char *>(poolAllocate(pool, 24, 0));
    omb::poolDestroy(pool);
    EXPECT_DEATH((void)kept[0], "heap-use-after-free") << "destroy freed the block";
}

}  // namespace
