// What every list-like family promises, checked once over the array list, the
// linked list and the storage over each: creation in its own or a caller's
// pool, locking, refused adds, random operations against a std::vector (the
// iterator walking the list after each) and threads. Then each family's own
// rules: growth (the thin list's too), key sizes, Compare, ToArray, searches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "creation_sweep.h"
#include "lists/array_list.h"
#include "lists/linked_list.h"
#include "lists/storage.h"
#include "lists/thin_array_list.h"
#include "tree_keys.h"

namespace {

const OmbrixKeyDefinition kVariableKey{OMBRIX_KEY_VARIABLE, 0, nullptr, 0};

// One operation and the times it must take the list's lock.
struct LockRow { const char *what; uint64_t times; std::function<void()> run; };

// `giveBack` frees what RemoveLast handed out when the caller owns it.
template <typename H, OmbrixIterator (*kIterator)(H *), bool kCopiesOut>
struct TableOps {
    using Handle = H;
    static void destroy(H *h) { h->destroy(h); }
    static QVStatus addLast(H *h, const void *v) { return h->addLast(h, v); }
    static QVStatus add(H *h, int32_t i, const void *v) { return h->add(h, i, v); }
    static void remove(H *h, const void *v) { h->remove(h, v); }
    static void *removeLast(H *h) { return h->removeLast(h); }
    static void giveBack(H *h, void *copy) { omb::poolFree(h->pool, kCopiesOut ? copy : nullptr); }
    static void *get(H *h, int32_t i) { return h->get(h, i); }
    static void *getLast(H *h) { return h->getLast(h); }
    static int32_t size(H *h) { return h->size(h); }
    static void reset(H *h) { h->reset(h); }
    static OmbrixIterator iterator(H *h) { return kIterator(h); }
    static void ownStep(H *, std::vector<int32_t> &, std::mt19937 &) {}
    static constexpr int32_t kFull = 3;  // elements that fill a new list

    // The rows every family shares, with `extra`, its own operations.
    static std::vector<LockRow> lockRowsWith(H *h, int32_t *v, std::vector<LockRow> extra) {
        extra.insert(extra.end(), {
            {"AddLast", 1, [=] { addLast(h, v); }}, {"Add", 1, [=] { add(h, 1, v); }},
            {"Get", 1, [=] { get(h, 1); }}, {"Get past the end", 1, [=] { get(h, 100); }},
            {"Get of -1", 0, [=] { get(h, -1); }}, {"GetLast", 1, [=] { getLast(h); }},
            {"Remove", 1, [=] { remove(h, v); }}, {"Size", 0, [=] { size(h); }},
            {"RemoveLast", 1, [=] { giveBack(h, removeLast(h)); }},
            {"Iterator", 0, [=] { OmbrixIterator it = iterator(h); it.next(&it), it.release(&it); }},
            {"Reset", 0, [=] { reset(h); }}});
        return extra;
    }
};

struct ArrayFamily : TableOps<OmbrixArrayList, arrayListIterator, false> {
    static constexpr bool kOutOfRangeAppends = false;
    // Creation: the object, the parts, the array; an add to a full list: the grown array.
    static constexpr uint64_t kCreateAllocations = 3, kAddAllocations = 1;
    static Handle *make(QVWord *pool, uint32_t flags, OmbrixKeyPart *parts = nullptr, int32_t n = 0) {
        return arrayListNew(pool, {4, 0, flags, 3, n, parts});
    }
    static uint64_t blocksHeld(Handle *h, size_t) { return h->keySizes ? 3 : 2; }
    static std::vector<LockRow> lockRows(Handle *h, int32_t *v) {
        return lockRowsWith(h, v, {
            {"AddWithKeySize", 1, [=] { h->addWithKeySize(h, 0, v, 4); }},
            {"Add past the end", 1, [=] { h->add(h, 100, v); }}, {"Add at -1", 0, [=] { h->add(h, -1, v); }},
            {"Find null", 1, [=] { h->find(h, nullptr); }},
            {"FindByKey", 1, [=] { h->findByKey(h, v, 4, kVariableKey); }},
            {"ToArray", 0, [=] { h->toArray(h, nullptr, nullptr); }}});
    }
};

struct LinkedFamily : TableOps<OmbrixLinkedList, linkedListIterator, true> {
    using Entry = OmbrixLinkedListEntry;
    static constexpr bool kOutOfRangeAppends = true;
    // Creation: the object, the parts; an add: the entry, the copy.
    static constexpr uint64_t kCreateAllocations = 2, kAddAllocations = 2;
    static Handle *make(QVWord *pool, uint32_t flags, OmbrixKeyPart *parts = nullptr, int32_t n = 0) {
        return linkedListNew(pool, {4, 0, flags, n, parts});
    }
    // Entries and copies; the chain's prev links, tail and count checked on the way.
    static uint64_t blocksHeld(Handle *h, size_t count) {
        const Entry *previous = nullptr;
        for (const Entry *e = h->head; e; previous = e, e = e->next) EXPECT_EQ(e->prev, previous);
        EXPECT_EQ(h->tail, previous);
        return h->count == static_cast<int32_t>(count) ? 1 + 2 * count : 0;
    }
    // The front, an entry's neighbours and entry handles, on `model` too.
    static void ownStep(Handle *h, std::vector<int32_t> &model, std::mt19937 &rng) {
        int32_t v = static_cast<int32_t>(rng() % 40), at = model.empty() ? 0 : rng() % model.size();
        Entry *e = h->head;
        for (auto i = at; i > 0; --i) e = e->next;
        auto place = model.begin() + at;
        switch (e ? rng() % 6 : rng() % 2) {
            case 0: h->addFirst(h, &v), model.insert(model.begin(), v); break;
            case 1:
                (v % 2 ? h->addFirstEntry : h->addLastEntry)(h, linkedListNewEntry(h, &v, 0));
                model.insert(v % 2 ? model.begin() : model.end(), v);
                break;
            case 2:
                EXPECT_EQ(*static_cast<int32_t *>(h->getFirst(h)), model.front());
                giveBack(h, h->removeFirst(h)), model.erase(model.begin());
                break;
            case 3: h->addBefore(h, e, &v), model.insert(place, v); break;
            case 4: h->addAfter(h, e, &v), model.insert(place + 1, v); break;
            default:  // unlinked and freed, or kept and linked again at the end
                v = *place, model.erase(place);
                h->removeEntry(h, e, v % 2);
                if (v % 2 == 0) h->addLastEntry(h, e), model.push_back(v);
        }
    }
    static std::vector<LockRow> lockRows(Handle *h, int32_t *v) {
        return lockRowsWith(h, v, {
            {"AddFirst", 1, [=] { h->addFirst(h, v); }}, {"Add at -1", 1, [=] { h->add(h, -1, v); }},
            {"AddBefore", 1, [=] { h->addBefore(h, h->tail, v); }},
            {"AddAfter", 1, [=] { h->addAfter(h, h->head, v); }},
            {"GetFirstEntry", 1, [=] { h->getFirstEntry(h); }}, {"Find", 1, [=] { h->find(h, v); }},
            {"FindByKey", 1, [=] { h->findByKey(h, v, 4, kVariableKey); }},
            {"RemoveFirst", 1, [=] { giveBack(h, h->removeFirst(h)); }}});
    }
};

// The storage facade over an array list (kind 0) or a linked list.
template <uint32_t kKind>
struct StorageFamily : TableOps<OmbrixStorage, storageIterator, kKind != 0> {
    using Backing = std::conditional_t<kKind == 0, ArrayFamily, LinkedFamily>;
    static constexpr bool kOutOfRangeAppends = Backing::kOutOfRangeAppends;
    static constexpr int32_t kFull = kKind == 0 ? 16 : 3;  // an array backing starts at 16
    static constexpr uint64_t kCreateAllocations = 1 + Backing::kCreateAllocations,
                              kAddAllocations = Backing::kAddAllocations;
    static OmbrixStorage *make(QVWord *pool, uint32_t flags, OmbrixKeyPart *parts = nullptr, int32_t n = 0) {
        return storageNew(pool, {{}, kKind, 4, 0, flags, n, parts});
    }
    static uint64_t blocksHeld(OmbrixStorage *h, size_t count) {
        return 1 + Backing::blocksHeld(static_cast<typename Backing::Handle *>(h->list), count);
    }
    static std::vector<LockRow> lockRows(OmbrixStorage *h, int32_t *v) {
        return StorageFamily::lockRowsWith(h, v, {{"Compare", 0, [=] { h->compare(h, h); }},
                                                  {"ToArray", 0, [=] { h->toArray(h, nullptr, nullptr); }}});
    }
};

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
    expectRefusedPoolAndLockGiveNull(this->host, this->poolsAtStart,
                                     [&] { return F::make(nullptr, 0, parts, 2); });
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

// Every refused allocation of an add leaves the list, its blocks, its lock as they were.
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

// Random operations (the family's own too) against a std::vector, in an own
// locked pool and in a caller's pool unlocked; contents, GetLast and blocks
// held are checked after each step.
TYPED_TEST(ListContract, RandomOperationsAgreeWithAVector) {
    using F = TypeParam;
    for (bool inCallersPool : {false, true}) {
        QVWord *pool = inCallersPool ? omb::hostCreatePool(this->host, omb::poolParms, nullptr, "c")
                                     : nullptr;
        auto *h = F::make(pool, inCallersPool ? OMBRIX_FLAG_NO_LOCK : 0);
        std::vector<int32_t> model;
        std::mt19937 rng(inCallersPool ? 11 : 7);
        for (int step = 0; step < 2000; ++step) {
            int32_t size = static_cast<int32_t>(model.size()), v = static_cast<int32_t>(rng() % 40);
            int32_t index = static_cast<int32_t>(rng() % static_cast<uint32_t>(size + 3)) - 1;
            bool inRange = index >= 0 && index < size;
            const void *item = &v;  // or, for half the adds, one of the list's own elements
            if (size && rng() % 2) v = *static_cast<const int32_t *>(item = F::get(h, rng() % size));
            switch (rng() % 8) {
                case 0:
                    ASSERT_EQ(F::addLast(h, item), OMBRIX_OK);
                    model.push_back(v);
                    break;
                case 1:
                    ASSERT_EQ(F::add(h, index, item), OMBRIX_OK);
                    if (inRange || index == size || F::kOutOfRangeAppends)
                        model.insert(inRange || index == size ? model.begin() + index : model.end(), v);
                    break;
                case 2: case 3:
                    if (inRange && rng() % 4) v = model[static_cast<size_t>(index)];
                    F::remove(h, &v);
                    if (auto at = std::find(model.begin(), model.end(), v); at != model.end())
                        model.erase(at);
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

// Four threads on one locked list after eight sentinels (every position used
// exists) add 400 values each at the front, the end or below 7, read, then
// remove their odd values; a missing lock shows as a race under ThreadSanitizer.
TYPED_TEST(ListContract, SharedByThreadsKeepsExactlyTheValuesNotRemoved) {
    using F = TypeParam;
    auto *list = F::make(nullptr, 0);
    std::vector<int32_t> expected;
    for (int32_t s = -8; s < 0; ++s) F::addLast(list, &s), expected.push_back(s);
    auto work = [&](int t) {
        for (int32_t v = t * 400; v < t * 400 + 400; ++v) {
            EXPECT_EQ(v % 3 == 1 ? F::addLast(list, &v) : F::add(list, v % 3 ? v % 7 : 0, &v), OMBRIX_OK);
            EXPECT_TRUE(F::get(list, v % 5) && F::getLast(list));
        }
        for (int32_t v = t * 400 + 1; v < t * 400 + 400; v += 2) F::remove(list, &v);
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(work, t);
    for (auto &thread : threads) thread.join();
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
    const struct { std::vector<const void *> left, right; int32_t rightKeySize, keyType, result; } rows[] = {
        {{a, a + 1}, {a, a + 1}, 4, 0, 0}, {{a, a + 1}, {a, a + 2}, 4, 0, 1}, {{a, a + 1}, {a}, 4, 0, 1},
        {{}, {}, 4, 0, 0}, {{}, {}, 8, 0, 1}, {{b}, {b + 2}, 4, OMBRIX_BY_REFERENCE, 0},
        {{b, b}, {b + 2, b + 4}, 4, OMBRIX_BY_REFERENCE, 1},
        {{nullptr, b}, {nullptr, b + 2}, 4, OMBRIX_BY_REFERENCE, 0},
        {{nullptr, b}, {b, b}, 4, OMBRIX_BY_REFERENCE, 1}};
    for (const auto &row : rows) {
        OmbrixStorage *l = make(row.left, 4, row.keyType);
        OmbrixStorage *r = make(row.right, row.rightKeySize, row.keyType);
        EXPECT_EQ(storageCompare(l, r), row.result) << &row - rows;
        EXPECT_EQ(storageCompare(r, l), row.result) << &row - rows;
        storageDestroy(l), storageDestroy(r);
    }
    OmbrixStorage *s = make({a});
    qvhostFailPoolCreation(host, 2);
    EXPECT_EQ(storageCompare(s, s), 1) << "no iterator: not shown equal";
    storageDestroy(s);
}

// A new pointer array at each call (the earlier ones stay); none when empty or refused.
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

using List = OmbrixArrayList;
std::vector<int32_t> keySizes(const List *l) {
    return l->keySizes ? std::vector<int32_t>(l->keySizes, l->keySizes + l->count) : std::vector<int32_t>{};
}
List *newList(int32_t size, int32_t capacity = 0, uint32_t keyType = 0, uint32_t flags = 0) {
    return arrayListNew(nullptr, {size, keyType, flags, capacity, 0, nullptr});
}

using ArrayListTest = HostTest;

// Each row appends 0, 1, 2 ... and lists the capacities it passes through;
// the last element survives every move and the old arrays go back.
TEST_F(ArrayListTest, GrowsByHalfAgainPlusOne) {
    const struct { bool thin; int32_t size, capacity, adds; std::vector<int32_t> capacities; } rows[] = {
        {false, 4, 0, 59, {16, 25, 38, 58, 88}}, {true, 4, 0, 14, {8, 13, 20}}, {true, 8, 2, 5, {2, 4, 7}},
        {false, 8, 2, 40, {2, 4, 7, 11, 17, 26, 40}}};  // unlocked 8-byte, a key size at 20
    for (const auto &row : rows) {
        OmbrixThinArrayList *thin = row.thin ? thinArrayListNew(nullptr, 0, row.size, row.capacity) : nullptr;
        List *list = row.thin ? nullptr : newList(row.size, row.capacity, 0, OMBRIX_FLAG_NO_LOCK);
        auto capacity = [&] { return thin ? thin->capacity : list->parms.capacity; };
        std::vector<int32_t> seen = {capacity()};
        for (int64_t v = 0; v < row.adds; ++v) {
            auto status = thin ? thinArrayListAdd(thin, &v)
                               : arrayListAddLastWithKeySize(list, &v, v == 20 ? 8 : 0);
            ASSERT_EQ(status, OMBRIX_OK);
            if (capacity() != seen.back()) seen.push_back(capacity());
        }
        EXPECT_EQ(seen, row.capacities);
        const auto *slots = static_cast<const unsigned char *>(thin ? thin->elements : list->elements);
        EXPECT_EQ(slots[(row.adds - 1) * row.size], row.adds - 1);
        EXPECT_EQ(poolStats(thin ? thin->pool : list->pool).liveBlocks, thin || row.adds <= 20 ? 2u : 3u);
        EXPECT_EQ(list && row.adds > 20 ? keySizes(list)[20] : 8, 8);
        thin ? thinArrayListDestroy(thin) : arrayListDestroy(list);
    }
}

// A list of a negative element size is refused; a thin list's add of its own
// element reads it where the growth moved it.
TEST_F(ArrayListTest, ElementSizesAndTheThinListsOwnElements) {
    EXPECT_TRUE(!linkedListNew(nullptr, {-1, 0, 0, 0, nullptr}) && !newList(-1) &&
                !thinArrayListNew(nullptr, 0, -1, 0));
    OmbrixThinArrayList *thin = thinArrayListNew(nullptr, 0, 4, 1);
    for (int32_t v : {7, 0, 0, 0}) ASSERT_EQ(thinArrayListAdd(thin, thin->count ? thin->elements : &v), OMBRIX_OK);
    auto *elements = static_cast<const int32_t *>(thin->elements);
    EXPECT_EQ(std::vector<int32_t>(elements, elements + thin->count), std::vector<int32_t>(4, 7));
    thinArrayListDestroy(thin);
}

// Key sizes move with their elements; the iterator hands out what is below
// the current count, but hasNext follows the count at its start.
TEST_F(ArrayListTest, KeySizesAndTheIteratorsCount) {
    List *list = newList(4);
    int32_t values[] = {10, 20, 30, 40, 15, 5};
    for (int32_t i = 0; i < 4; ++i) arrayListAddLast(list, &values[i]);
    arrayListAddWithKeySize(list, 1, &values[4], 4);
    arrayListAdd(list, 0, &values[5]);
    EXPECT_EQ(keySizes(list), (std::vector<int32_t>{0, 0, 4, 0, 0, 0}));
    OmbrixIterator it = arrayListIterator(list);
    arrayListRemove(list, &values[1]);
    arrayListRemove(list, &values[5]);
    EXPECT_EQ(keySizes(list), (std::vector<int32_t>{0, 4, 0, 0}));
    for (int32_t i = 0; i < 4; ++i) it.next(&it);
    EXPECT_TRUE(it.hasNext) << "six when the walk began";
    EXPECT_EQ(it.next(&it), nullptr) << "four now";
    it.release(&it);
    arrayListDestroy(list);
}

// Each row: an add into a list of {1, 2, 3} that must allocate; every refused
// allocation leaves the object, the key sizes and the pool's bytes as they were.
TEST_F(ArrayListTest, RefusedGrowthLeavesTheListAsItWas) {
    const struct { int32_t capacity, startKeySize, keySize, index; uint64_t allocations; } rows[] = {
        {8, 0, 4, 1, 1}, {3, 0, 0, 3, 1}, {3, 2, 0, 1, 2}, {3, 0, 5, 0, 2}};
    for (const auto &row : rows) {
        List *list = newList(4, row.capacity);
        for (int32_t v = 1; v <= 3; ++v) arrayListAddLastWithKeySize(list, &v, row.startKeySize);
        const List before = *list;
        std::vector<int32_t> sizes = keySizes(list);
        uint64_t bytes = poolStats(list->pool).liveBytes;
        int32_t v = 42;
        uint64_t made = sweepAllocationFailures(
            host, [&] { return arrayListAddWithKeySize(list, row.index, &v, row.keySize) == OMBRIX_OK; },
            [&](uint64_t n) {
                EXPECT_EQ(std::memcmp(list, &before, sizeof before), 0) << n;
                EXPECT_EQ(keySizes(list), sizes) << n;
                EXPECT_EQ(poolStats(list->pool).liveBytes, bytes) << n;
            });
        EXPECT_EQ(made, row.allocations) << &row - rows;
        EXPECT_EQ(*static_cast<int32_t *>(arrayListGet(list, row.index)), 42);
        arrayListDestroy(list);
    }
}

struct Record { int32_t code, group, pad; };

// Find and Remove compare whole elements (by reference, keySize bytes at the
// stored pointers); FindByKey hands back the first element its definition
// finds, a variable key only among elements recorded with that key size.
TEST_F(ArrayListTest, SearchesOfBothLists) {
    Record items[4] = {{1, 10, 0}, {2, 20, 0}, {2, 21, 0}, {2, 20, 5}}, probe = items[3];
    OmbrixKeyPart parts[2] = {directPart(OMBRIX_PART_BYTES, 4, offsetof(Record, code)),
                              directPart(OMBRIX_PART_BYTES, 4, offsetof(Record, group))};
    OmbrixKeyDefinition composite{OMBRIX_KEY_COMPOSITE, 2, parts, 0};
    OmbrixKeyDefinition byAddress{OMBRIX_KEY_REFERENCE, 1, parts, 0};
    int32_t key[2] = {2, 20};
    OmbrixArrayList *list = arrayListNew(nullptr, {sizeof(Record), 0, 0, 0, 0, nullptr});
    for (int i = 0; i < 4; ++i) arrayListAddLastWithKeySize(list, &items[i], i < 2 ? 0 : 8);
    EXPECT_EQ(arrayListFindByKey(list, key, 0, composite), 1);
    EXPECT_EQ(arrayListFindByKey(list, key, 8, kVariableKey), 3) << "1 was added without a key size";
    EXPECT_EQ(arrayListFindByKey(list, key, 4, kVariableKey), -1) << "none was added with 4";
    EXPECT_EQ(arrayListFind(list, &items[3]), 3) << "all 12 bytes compare";
    arrayListRemove(list, &items[1]);
    EXPECT_EQ(arrayListFindByKey(list, key, 0, composite), 2);
    arrayListDestroy(list);

    OmbrixLinkedList *refs = linkedListNew(nullptr, {4, OMBRIX_BY_REFERENCE, 0, 0, nullptr});
    for (int i = 0; i < 4; ++i) linkedListAddLastWithKeySize(refs, &items[i], i < 2 ? 0 : 8);
    EXPECT_EQ(linkedListFindByKey(refs, key, 0, composite), &items[1]);
    EXPECT_EQ(linkedListFindByKey(refs, &probe, 8, kVariableKey), &items[3]);
    EXPECT_EQ(linkedListFindByKey(refs, &items[2], 0, byAddress), &items[2]);
    EXPECT_EQ(linkedListFindByKey(refs, &probe, 0, byAddress), nullptr) << "an equal copy is not it";
    EXPECT_EQ(linkedListFind(refs, &probe), &items[1]) << "the first with the same 4 bytes";
    linkedListRemove(refs, &probe);
    EXPECT_EQ(linkedListFind(refs, &probe), &items[2]);
    linkedListDestroy(refs);
}

}  // namespace
