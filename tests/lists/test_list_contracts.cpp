// What every list-like family promises, checked once over the array list,
// the linked list and the storage facade over each: creation in its own or a
// caller's pool, the lock discipline, refused adds, random operations against
// a std::vector model (the iterator walks the list after every step) and
// sharing between threads. Then the storage facade's own Compare and ToArray.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "creation_sweep.h"
#include "list_families.h"
#include "tree_keys.h"

namespace {

template <typename F>
class ListContract : public HostTest {
  protected:
    typename F::Handle *filled(int32_t n, uint32_t flags = 0) {
        auto *h = F::make(nullptr, flags);
        for (int32_t v = 1; v <= n; ++v) EXPECT_EQ(F::addLast(h, &v), OMBRIX_OK);
        return h;
    }
    // The elements as the iterator hands them out; its size must agree.
    static std::vector<int32_t> values(typename F::Handle *h) {
        std::vector<int32_t> out;
        OmbrixIterator it = F::iterator(h);
        EXPECT_EQ(it.size(&it), F::size(h));
        while (it.hasNext) out.push_back(*static_cast<int32_t *>(it.next(&it)));
        EXPECT_EQ(it.next(&it), nullptr);
        it.release(&it);
        return out;
    }
};
using Families = ::testing::Types<ArrayFamily, LinkedFamily, StorageFamily<0>, StorageFamily<3>>;
TYPED_TEST_SUITE(ListContract, Families);

TYPED_TEST(ListContract, RefusedCreationLeavesNothingBehind) {
    using F = TypeParam;
    OmbrixKeyPart parts[2] = {directPart(OMBRIX_PART_BYTES, 4), directPart(OMBRIX_PART_BYTES, 4)};
    CreationAllocations made = sweepCreation(this->host, this->poolsAtStart, [&](QVWord *pool) {
        auto *h = F::make(pool, 0, parts, 2);
        if (!h) return false;
        EXPECT_EQ(h->ownsPool, pool == nullptr);
        F::destroy(h);
        return true;
    });
    EXPECT_EQ(made.ownPool, F::kCreateAllocations);
    EXPECT_EQ(made.callerPool, F::kCreateAllocations);
    expectRefusedPoolAndLockGiveNull(this->host, this->poolsAtStart, [&] { return F::make(nullptr, 0, parts, 2); });
}

// Each locked operation takes the lock once and lets it go; a list made
// without one creates, takes and releases none.
TYPED_TEST(ListContract, LockDiscipline) {
    int32_t v = 2;
    auto *h = this->filled(3);
    for (const LockRow &row : TypeParam::lockRows(h, &v)) this->expectLockTaken(row.times, row.what, row.run);
    TypeParam::destroy(h);
    this->expectNoLockUsed("a list without a lock", [&] {
        auto *unlocked = this->filled(3, OMBRIX_FLAG_NO_LOCK);
        for (const LockRow &row : TypeParam::lockRows(unlocked, &v)) row.run();
        TypeParam::destroy(unlocked);
    });
}

// An add that must allocate, at the end and at a position: every refused
// allocation leaves the list, its blocks and its lock as they were.
TYPED_TEST(ListContract, RefusedAddLeavesTheListAsItWas) {
    using F = TypeParam;
    for (int32_t index : {-1, 1}) {
        auto *h = this->filled(F::kFull);
        std::vector<int32_t> values = this->values(h);
        uint64_t blocks = poolStats(h->pool).liveBlocks;
        int32_t v = 42;
        uint64_t made = sweepAllocationFailures(
            this->host, [&] { return (index < 0 ? F::addLast(h, &v) : F::add(h, index, &v)) == OMBRIX_OK; },
            [&](uint64_t n) {
                EXPECT_EQ(this->values(h), values) << n;
                EXPECT_EQ(poolStats(h->pool).liveBlocks, blocks) << n;
                EXPECT_EQ(this->counters().lockAcquires, this->counters().lockReleases) << n;
            });
        EXPECT_EQ(made, F::kAddAllocations);
        values.insert(index < 0 ? values.end() : values.begin() + index, 42);
        EXPECT_EQ(this->values(h), values);
        F::destroy(h);
    }
}

// Random adds, removes, reads, resets and the family's own steps against a
// std::vector, in the list's own pool with a lock and in a caller's pool
// without; contents, GetLast and the blocks held are checked after each step.
TYPED_TEST(ListContract, RandomOperationsAgreeWithAVector) {
    using F = TypeParam;
    for (bool inCallersPool : {false, true}) {
        QVWord *pool = inCallersPool ? omb::hostCreatePool(this->host, omb::poolParms, nullptr, "c") : nullptr;
        auto *h = F::make(pool, inCallersPool ? OMBRIX_FLAG_NO_LOCK : 0);
        std::vector<int32_t> model;
        std::mt19937 rng(inCallersPool ? 11 : 7);
        for (int step = 0; step < 2000; ++step) {
            int32_t size = static_cast<int32_t>(model.size()), v = static_cast<int32_t>(rng() % 40);
            int32_t index = static_cast<int32_t>(rng() % static_cast<uint32_t>(size + 3)) - 1;
            bool inRange = index >= 0 && index < size;
            switch (rng() % 8) {
                case 0:
                    ASSERT_EQ(F::addLast(h, &v), OMBRIX_OK);
                    model.push_back(v);
                    break;
                case 1:
                    ASSERT_EQ(F::add(h, index, &v), OMBRIX_OK);
                    if (inRange || index == size) model.insert(model.begin() + index, v);
                    else if (F::kOutOfRangeAppends) model.push_back(v);
                    break;
                case 2: case 3:
                    if (inRange && rng() % 4) v = model[static_cast<size_t>(index)];
                    F::remove(h, &v);
                    if (auto at = std::find(model.begin(), model.end(), v); at != model.end()) model.erase(at);
                    break;
                case 4: {
                    auto *last = static_cast<int32_t *>(F::removeLast(h));
                    ASSERT_EQ(last ? *last : -1, size ? model.back() : -1) << step;
                    if (last) F::giveBack(h, last), model.pop_back();
                    break;
                }
                case 5: {
                    auto *got = static_cast<int32_t *>(F::get(h, index));
                    ASSERT_EQ(got ? *got : -1, inRange ? model[static_cast<size_t>(index)] : -1) << step;
                    break;
                }
                case 6: F::ownStep(h, model, rng); break;
                default:
                    if (rng() % 16 == 0) F::reset(h), model.clear();
            }
            ASSERT_EQ(this->values(h), model) << step;
            auto *last = static_cast<int32_t *>(F::getLast(h));
            ASSERT_EQ(last ? *last : -1, model.empty() ? -1 : model.back()) << step;
            ASSERT_EQ(poolStats(h->pool).liveBlocks, F::blocksHeld(h, model.size())) << step;
        }
        F::destroy(h);
        if (!pool) continue;
        EXPECT_EQ(poolStats(pool).liveBlocks, 0u) << "every block back";
        omb::poolDestroy(pool);
    }
}

// Four threads on one locked list, after eight sentinels so that every
// position used exists. Each adds its 400 values at the front, the end or a
// position below 7 and reads as it goes, then removes its odd values: the
// sentinels and the even values stay. Under ThreadSanitizer a missing lock
// shows as a race.
TYPED_TEST(ListContract, SharedByThreadsKeepsExactlyTheValuesNotRemoved) {
    using F = TypeParam;
    auto *list = F::make(nullptr, 0);
    std::vector<int32_t> expected;
    for (int32_t s = -8; s < 0; ++s) F::addLast(list, &s), expected.push_back(s);
    std::vector<int> lost(4, 0);
    auto work = [&](int t) {
        for (int32_t v = t * 400; v < t * 400 + 400; ++v) {
            QVStatus status = v % 3 == 1 ? F::addLast(list, &v) : F::add(list, v % 3 ? v % 7 : 0, &v);
            lost[t] += status != OMBRIX_OK || !F::get(list, v % 5) || !F::getLast(list);
        }
        for (int32_t v = t * 400 + 1; v < t * 400 + 400; v += 2) F::remove(list, &v);
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(work, t);
    for (auto &thread : threads) thread.join();
    EXPECT_EQ(lost, std::vector<int>(4, 0));
    std::vector<int32_t> left = this->values(list);
    std::sort(left.begin(), left.end());
    for (int32_t v = 0; v < 1600; v += 2) expected.push_back(v);
    EXPECT_EQ(left, expected);
    F::destroy(list);
}

class StorageTest : public HostTest, public ::testing::WithParamInterface<uint32_t> {
  protected:
    OmbrixStorage *make(std::vector<const void *> items, int32_t keySize = 4, uint32_t keyType = 0) {
        OmbrixStorage *s = storageNew(nullptr, {{}, GetParam(), keySize, keyType, 0, 0, nullptr});
        for (const void *item : items) EXPECT_EQ(storageAdd(s, storageSize(s), item), OMBRIX_OK);
        return s;
    }
};
INSTANTIATE_TEST_SUITE_P(Backings, StorageTest, ::testing::Values(0u, 3u));

// Rows of two storages, equal (0) when of one keySize and size and every pair
// of elements agrees in keySize bytes. By reference an array backing stores
// null: a null pair agrees, a null and a stored pointer differ.
TEST_P(StorageTest, CompareRows) {
    int32_t a[] = {1, 2, 4}, b[] = {5, 1, 5, 2, 6, 1};  // b: three records of id, other
    const struct {
        std::vector<const void *> left, right;
        int32_t rightKeySize;
        uint32_t keyType;
        int32_t result;
    } rows[] = {{{a, a + 1}, {a, a + 1}, 4, 0, 0}, {{a, a + 1}, {a, a + 2}, 4, 0, 1}, {{a, a + 1}, {a}, 4, 0, 1},
                {{}, {}, 4, 0, 0}, {{}, {}, 8, 0, 1}, {{b}, {b + 2}, 4, OMBRIX_BY_REFERENCE, 0},
                {{b, b}, {b + 2, b + 4}, 4, OMBRIX_BY_REFERENCE, 1},
                {{nullptr, b}, {nullptr, b + 2}, 4, OMBRIX_BY_REFERENCE, 0},
                {{nullptr, b}, {b, b}, 4, OMBRIX_BY_REFERENCE, 1}};
    for (const auto &row : rows) {
        OmbrixStorage *l = make(row.left, 4, row.keyType), *r = make(row.right, row.rightKeySize, row.keyType);
        EXPECT_EQ(storageCompare(l, r), row.result) << &row - rows;
        EXPECT_EQ(storageCompare(r, l), row.result) << &row - rows;
        storageDestroy(l), storageDestroy(r);
    }
    OmbrixStorage *s = make({a});
    qvhostFailPoolCreation(host, 2);
    EXPECT_EQ(storageCompare(s, s), 1) << "no iterator: not shown equal";
    EXPECT_EQ(storageCompare(nullptr, nullptr), 1);
    storageDestroy(s);
}

// A new array of the element pointers at each call, the earlier ones left in
// the pool; nothing written for an empty storage or when refused.
TEST_P(StorageTest, ToArrayMakesANewArrayOfTheElementPointers) {
    int32_t count = -1, values[] = {10, 11, 12};
    void **array = nullptr;
    OmbrixStorage *s = make({});
    EXPECT_EQ(storageToArray(s, &count, &array), OMBRIX_OK);
    for (int32_t &v : values) storageAddLast(s, &v);
    uint64_t made = sweepAllocationFailures(
        host, [&] { return storageToArray(s, &count, &array) == OMBRIX_OK; },
        [&](uint64_t n) { EXPECT_TRUE(count == -1 && !array && !s->pointerArray) << n; });
    EXPECT_EQ(made, 2u) << "the iterator state and the array";
    ASSERT_EQ(count, 3);
    EXPECT_EQ(storageToArray(s, nullptr, nullptr), OMBRIX_OK);
    EXPECT_NE(s->pointerArray, array);
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(array[i], storageGet(s, i));
    storageDestroy(s);
}

}  // namespace
