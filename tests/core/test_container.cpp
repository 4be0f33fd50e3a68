// The shared container rules: pools named and owned, locks, key part copies
// and the iterator factory (each family's creation sweep checks refusals).
#include <gtest/gtest.h>

#include <cstring>

#include "core/container.h"
#include "host_fixture.h"

namespace {

class ContainerRules : public HostTest {};

TEST_F(ContainerRules, PoolsOwnedOrBorrowedKeyPartsCopiedLocksMadeUnlessTheFlagsSayNo) {
    omb::ContainerPool own = omb::acquireContainerPool(nullptr, 0x31, "ombrixa");
    ASSERT_TRUE(own.pool && own.ownsPool);
    EXPECT_STREQ(qvhostPoolName(own.pool), "ombrixa");
    EXPECT_EQ(qvhostPoolFlags(own.pool), 0x31u) << "the whole word reaches the host";
    EXPECT_EQ(qvhostPoolJournal(own.pool), nullptr);
    OmbrixKeyPart parts[2] = {{0, 4, 0, {}, 0}, {5, 8, 2, {0, 16}, 1}};
    bool failed = true;
    OmbrixKeyPart *copy = omb::copyKeyParts(own.pool, parts, 2, &failed);
    ASSERT_TRUE(copy && copy != parts && !failed);
    EXPECT_EQ(std::memcmp(copy, parts, sizeof parts), 0);
    EXPECT_TRUE(!omb::copyKeyParts(own.pool, parts, 0, &failed) && !failed) << "none to copy";
    qvhostFailAllocation(host, 1);
    EXPECT_TRUE(!omb::copyKeyParts(own.pool, parts, 2, &failed) && failed);
    omb::ContainerPool borrowed = omb::acquireContainerPool(own.pool, 0, "ombrixl");
    EXPECT_TRUE(borrowed.pool == own.pool && !borrowed.ownsPool);
    omb::releaseContainerPool(borrowed);
    EXPECT_EQ(qvhostFindPool(host, "ombrixa"), own.pool) << "a borrowed pool stays";
    omb::releaseContainerPool(own);
    EXPECT_EQ(qvhostFindPool(host, "ombrixa"), nullptr);
    qvhostFailPoolCreation(host, 1);
    omb::ContainerPool refused = omb::acquireContainerPool(nullptr, 0, "ombrixh");
    EXPECT_EQ(refused.pool, nullptr);
    omb::releaseContainerPool(refused);  // nothing to destroy, and no call to make

    QVWord *lock = nullptr;
    EXPECT_TRUE(omb::createLockUnlessUnlocked(OMBRIX_FLAG_NO_LOCK | 0x30, &lock) && !lock);
    qvhostFailLockCreation(host, 1);
    EXPECT_TRUE(!omb::createLockUnlessUnlocked(0, &lock) && !lock && !counters().locksCreated);
    ASSERT_TRUE(omb::createLockUnlessUnlocked(0x30, &lock));
    expectLockTaken(1, "a scope takes the lock once", [&] {
        omb::LockScope held(lock);
        EXPECT_EQ(counters().lockReleases, 0u) << "until it ends";
    });
    expectNoLockUsed("a scope of no lock", [] { omb::LockScope none(nullptr); });
    omb::lockDestroy(lock);
    EXPECT_EQ(counters().locksDestroyed, 1u);
}

// The smallest family: a count walked by position, its restart refusable. The
// container and pool come last so the rules must reach them by member, not a fixed head.
struct Counted { int32_t count; };
struct CountedState { int32_t position; Counted *counted; QVWord *pool; };
using CountedRules =
    omb::IteratorRules<CountedState, Counted, &CountedState::counted, &CountedState::pool>;
bool restartRefused = false;

int32_t countedSize(Counted *counted) { return counted->count; }
QVStatus restartCounted(OmbrixIterator *it, CountedState *state) {
    if (restartRefused) return OMBRIX_E_NO_MEMORY;
    state->position = 0;
    it->hasNext = CountedRules::container(it)->count > 0;
    return OMBRIX_OK;
}

void *nextCounted(OmbrixIterator *it) {
    auto *state = static_cast<CountedState *>(it->state);
    it->hasNext = ++state->position < CountedRules::container(it)->count;
    return &state->position;
}
constexpr auto openCounted = CountedRules::open<restartCounted, countedSize>;

TEST_F(ContainerRules, IteratorRulesSizeResetReleaseZeroedStateAndRefusalsLeaveNothing) {
    Counted two{2}, none{0};
    OmbrixIterator it = openCounted("counted iter", &two, nextCounted);
    ASSERT_NE(it.state, nullptr);
    QVWord *pool = qvhostFindPool(host, "counted iter");
    EXPECT_TRUE(CountedRules::stateOf(&it)->pool == pool && CountedRules::container(&it) == &two);
    EXPECT_EQ(qvhostPoolFlags(pool), 1u) << "iterators never lock";
    EXPECT_TRUE(it.hasNext && it.size(&it) == 2) << "made iterators are restarted";
    for (int i = 0; i < 2; ++i) it.next(&it);
    EXPECT_FALSE(it.hasNext);
    EXPECT_TRUE(it.reset(&it, nullptr) == OMBRIX_OK && it.hasNext) << "restarts on the same one";
    EXPECT_TRUE(it.reset(&it, &none) == OMBRIX_OK && !it.hasNext);
    none.count = 5;
    EXPECT_EQ(it.size(&it), 5) << "the size is the new container's, asked at each call";
    it.release(&it);
    EXPECT_TRUE(!it.state && !qvhostFindPool(host, "counted iter"));
    it.release(&it);  // a second release finds no state
    EXPECT_TRUE(it.size(&it) == 0 && it.reset(&it, &two) == OMBRIX_OK && !it.state);
    it.state = omb::openIteratorState("zeroed", 40, &pool);
    const unsigned char zero[40] = {};
    ASSERT_EQ(std::memcmp(it.state, zero, sizeof zero), 0);
    omb::releaseIteratorState(&it, pool);
    const struct { const char *what; void (*refuse)(QVWord *); Counted *counted; } cases[] = {
        {"null container", [](QVWord *) {}, nullptr},
        {"pool refused", [](QVWord *h) { qvhostFailPoolCreation(h, 1); }, &two},
        {"state refused", [](QVWord *h) { qvhostFailAllocation(h, 1); }, &two},
        {"restart refused", [](QVWord *) { restartRefused = true; }, &two}};
    for (const auto &c : cases) {
        c.refuse(host);
        it = openCounted("counted iter", c.counted, nextCounted);
        restartRefused = false;
        EXPECT_TRUE(!it.state && !it.next && !it.release) << c.what;
        EXPECT_EQ(qvhostLivePools(host), poolsAtStart) << c.what;
    }
}

}  // namespace
