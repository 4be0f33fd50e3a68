// The shared container rules: pools named and owned, locks, key part copies
// and the iterator factory steps and rules.
#include <gtest/gtest.h>

#include <cstring>

#include "core/container.h"
#include "host_fixture.h"

namespace {

class ContainerRules : public HostTest {};

TEST_F(ContainerRules, OwnPoolIsNamedFlaggedAndDestroyedWithTheContainer) {
    omb::ContainerPool own = omb::acquireContainerPool(nullptr, 0x31, "ombrixa");
    ASSERT_NE(own.pool, nullptr);
    EXPECT_TRUE(own.ownsPool);
    EXPECT_STREQ(qvhostPoolName(own.pool), "ombrixa");
    EXPECT_EQ(qvhostPoolFlags(own.pool), 0x31u) << "the whole word reaches the host";
    EXPECT_EQ(qvhostPoolJournal(own.pool), nullptr);
    omb::releaseContainerPool(own);
    EXPECT_EQ(qvhostFindPool(host, "ombrixa"), nullptr);
}

TEST_F(ContainerRules, CallersPoolIsUsedAndNeverDestroyed) {
    QVWord *mine = omb::hostCreatePool(host, omb::poolParms, nullptr, "mine");
    ASSERT_NE(mine, nullptr);
    omb::ContainerPool borrowed = omb::acquireContainerPool(mine, 0, "ombrixl");
    EXPECT_EQ(borrowed.pool, mine);
    EXPECT_FALSE(borrowed.ownsPool);
    EXPECT_EQ(counters().poolsCreated, 1u);
    omb::releaseContainerPool(borrowed);
    EXPECT_EQ(qvhostFindPool(host, "mine"), mine);
    omb::poolDestroy(mine);
}

TEST_F(ContainerRules, RefusedPoolAndLockComeBackNull) {
    qvhostFailPoolCreation(host, 1);
    omb::ContainerPool refused = omb::acquireContainerPool(nullptr, 0, "ombrixh");
    EXPECT_EQ(refused.pool, nullptr);
    omb::releaseContainerPool(refused);  // nothing to destroy, and no call to make
    qvhostFailLockCreation(host, 1);
    EXPECT_EQ(omb::createContainerLock(), nullptr);
    EXPECT_EQ(counters().locksCreated, 0u);
}

TEST_F(ContainerRules, LockScopeTakesTheLockOnceWithArgumentsOneOne) {
    QVWord *lock = omb::createContainerLock();
    ASSERT_NE(lock, nullptr);
    {
        omb::LockScope held(lock);
        EXPECT_EQ(counters().lockAcquires, 1u);
        EXPECT_EQ(counters().lockReleases, 0u);
    }
    EXPECT_EQ(counters().lockReleases, 1u);
    { omb::LockScope none(nullptr); }
    EXPECT_EQ(counters().lockAcquires, 1u);
    omb::lockDestroy(lock);
    EXPECT_EQ(counters().locksDestroyed, 1u);
}

TEST_F(ContainerRules, KeyPartsAreCopiedIntoThePool) {
    omb::ContainerPool own = omb::acquireContainerPool(nullptr, 0, "ombrixt");
    OmbrixKeyPart parts[2] = {};
    parts[0].partSize = 4;
    parts[1].partSize = 8;
    parts[1].levels = 2;
    parts[1].offsets[1] = 16;
    bool failed = true;
    OmbrixKeyPart *copy = omb::copyKeyParts(own.pool, parts, 2, &failed);
    ASSERT_NE(copy, nullptr);
    EXPECT_FALSE(failed);
    EXPECT_NE(copy, parts);
    EXPECT_EQ(std::memcmp(copy, parts, sizeof parts), 0);

    EXPECT_EQ(omb::copyKeyParts(own.pool, parts, 0, &failed), nullptr);
    EXPECT_FALSE(failed) << "no parts is not a failure";
    qvhostFailAllocation(host, 1);
    EXPECT_EQ(omb::copyKeyParts(own.pool, parts, 2, &failed), nullptr);
    EXPECT_TRUE(failed);
    omb::releaseContainerPool(own);
}

TEST_F(ContainerRules, IteratorStateIsZeroedInAnUnlockedPoolOfItsOwn) {
    QVWord *pool = nullptr;
    void *state = omb::openIteratorState("ombrixa iter", 40, &pool);
    ASSERT_NE(state, nullptr);
    ASSERT_EQ(pool, qvhostFindPool(host, "ombrixa iter"));
    EXPECT_EQ(qvhostPoolFlags(pool), 1u);
    const unsigned char zero[40] = {};
    EXPECT_EQ(std::memcmp(state, zero, sizeof zero), 0);

    OmbrixIterator it = omb::iter;
    it.state = state;
    omb::releaseIteratorState(&it, pool);
    EXPECT_EQ(it.state, nullptr);
    EXPECT_EQ(qvhostFindPool(host, "ombrixa iter"), nullptr);
    omb::releaseIteratorState(&it, pool);  // a second release finds no state
}

TEST_F(ContainerRules, IteratorStepsLeaveNothingBehindWhenRefused) {
    QVWord *pool = reinterpret_cast<QVWord *>(&pool);
    qvhostFailPoolCreation(host, 1);
    EXPECT_EQ(omb::openIteratorState("ombrixl iter", 32, &pool), nullptr);
    EXPECT_EQ(pool, nullptr);
    qvhostFailAllocation(host, 1);
    EXPECT_EQ(omb::openIteratorState("ombrixl iter", 32, &pool), nullptr);
    EXPECT_EQ(pool, nullptr);
    EXPECT_EQ(qvhostLivePools(host), poolsAtStart);
}

TEST_F(ContainerRules, AbandonedCreationGivesBackItsPoolOrItsBlocks) {
    QVWord *caller = omb::hostCreatePool(host, omb::poolParms, nullptr, "caller");
    ASSERT_NE(caller, nullptr);
    void *a = omb::poolAllocate(caller, 16, 0);
    void *b = omb::poolAllocate(caller, 16, 0);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(omb::abandonContainer({caller, false}, {a, nullptr, b}), nullptr);
    EXPECT_EQ(poolStats(caller).liveBlocks, 0u) << "each block back, the null one skipped";
    omb::poolDestroy(caller);

    omb::ContainerPool own = omb::acquireContainerPool(nullptr, 0, "ombrixa");
    ASSERT_NE(own.pool, nullptr);
    void *c = omb::poolAllocate(own.pool, 16, 0);
    EXPECT_EQ(omb::abandonContainer(own, {c}), nullptr);
    EXPECT_EQ(qvhostLivePools(host), poolsAtStart) << "an own pool goes whole";
}

TEST_F(ContainerRules, ALockIsMadeUnlessTheFlagsSayNoLock) {
    QVWord *lock = nullptr;
    EXPECT_TRUE(omb::createLockUnlessUnlocked(OMBRIX_FLAG_NO_LOCK | 0x30, &lock));
    EXPECT_EQ(lock, nullptr);
    EXPECT_EQ(counters().locksCreated, 0u);
    qvhostFailLockCreation(host, 1);
    EXPECT_FALSE(omb::createLockUnlessUnlocked(0, &lock));
    EXPECT_EQ(lock, nullptr);
    ASSERT_TRUE(omb::createLockUnlessUnlocked(0x30, &lock));
    ASSERT_NE(lock, nullptr);
    omb::lockDestroy(lock);
    EXPECT_EQ(counters().locksCreated, 1u);
    EXPECT_EQ(counters().locksDestroyed, 1u);
}

// A family of the smallest kind for the shared iterator rules: a count of
// elements, walked by position; its restart can be told to run out of memory.
struct Counted {
    int32_t count;
};

int32_t countedSize(Counted *counted) { return counted->count; }

// The container and the pool last, as no family lays them out: the rules
// must reach them through the members named, not a fixed head.
struct CountedState {
    int32_t position;
    Counted *counted;
    QVWord *pool;
};

using CountedRules =
    omb::IteratorRules<CountedState, Counted, &CountedState::counted, &CountedState::pool>;

bool restartRefused = false;

QVStatus restartCounted(OmbrixIterator *it, CountedState *state) {
    if (restartRefused) return OMBRIX_E_NO_MEMORY;
    state->position = 0;
    it->hasNext = CountedRules::container(it)->count > 0;
    return OMBRIX_OK;
}

void *nextCounted(OmbrixIterator *it) {
    auto *state = static_cast<CountedState *>(it->state);
    state->position += 1;
    it->hasNext = state->position < CountedRules::container(it)->count;
    return &state->position;
}

OmbrixIterator countedIterator(Counted *counted) {
    return CountedRules::open<restartCounted, countedSize>("counted iter", counted, nextCounted);
}

TEST_F(ContainerRules, SharedIteratorRulesSizeResetAndRelease) {
    Counted two{2}, none{0};
    OmbrixIterator it = countedIterator(&two);
    ASSERT_NE(it.state, nullptr);
    EXPECT_EQ(CountedRules::stateOf(&it)->pool, qvhostFindPool(host, "counted iter"));
    EXPECT_EQ(CountedRules::container(&it), &two);
    EXPECT_TRUE(it.hasNext) << "made iterators are restarted";
    EXPECT_EQ(it.size(&it), 2);
    it.next(&it);
    it.next(&it);
    EXPECT_FALSE(it.hasNext);

    EXPECT_EQ(it.reset(&it, nullptr), OMBRIX_OK);
    EXPECT_TRUE(it.hasNext) << "a reset without a container restarts on the same one";
    EXPECT_EQ(it.reset(&it, &none), OMBRIX_OK);
    EXPECT_FALSE(it.hasNext);
    EXPECT_EQ(it.size(&it), 0) << "the size is the new container's";
    none.count = 5;
    EXPECT_EQ(it.size(&it), 5) << "the size is asked at each call";

    it.release(&it);
    EXPECT_EQ(it.state, nullptr);
    EXPECT_EQ(qvhostFindPool(host, "counted iter"), nullptr);
    it.release(&it);  // a second release finds no state
    EXPECT_EQ(it.size(&it), 0);
    EXPECT_EQ(it.reset(&it, &two), OMBRIX_OK);
    EXPECT_EQ(it.state, nullptr);
}

TEST_F(ContainerRules, SharedIteratorFactoryGivesTheTemplateWhenRefused) {
    Counted two{2};
    OmbrixIterator null = countedIterator(nullptr);
    EXPECT_EQ(null.state, nullptr);
    EXPECT_EQ(null.next, nullptr);
    EXPECT_EQ(qvhostLivePools(host), poolsAtStart) << "no pool for a null container";

    qvhostFailPoolCreation(host, 1);
    EXPECT_EQ(countedIterator(&two).next, nullptr);
    qvhostFailAllocation(host, 1);
    EXPECT_EQ(countedIterator(&two).next, nullptr);
    restartRefused = true;
    OmbrixIterator refused = countedIterator(&two);
    restartRefused = false;
    EXPECT_EQ(refused.state, nullptr);
    EXPECT_EQ(refused.release, nullptr);
    EXPECT_EQ(qvhostLivePools(host), poolsAtStart) << "a refused restart takes the pool away";
}

}  // namespace
