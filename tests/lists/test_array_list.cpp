// The array list on the reference host: positions and growth, content and
// key searches, the iterator, the lock discipline and refused allocations.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/container.h"
#include "core/host_calls.h"
#include "creation_sweep.h"
#include "fault_sweep.h"
#include "host_fixture.h"
#include "lists/array_list.h"
#include "qvhost.h"
#include "tree_keys.h"

namespace {

using List = OmbrixArrayList;

OmbrixArrayListParms byValue(int32_t size, int32_t capacity = 0, uint32_t flags = 0) {
    return {size, 0, flags, capacity, 0, nullptr};
}

OmbrixArrayListParms byReference(uint32_t flags = 0) {
    return {4, OMBRIX_BY_REFERENCE, flags, 0, 0, nullptr};
}

class ArrayListTest : public HostTest {
  protected:
    // The int32 values of a by-value list of ints, read from its array.
    static std::vector<int32_t> values(const List *list) {
        std::vector<int32_t> out(static_cast<size_t>(list->count));
        if (!out.empty()) std::memcpy(out.data(), list->elements, out.size() * sizeof(int32_t));
        return out;
    }

    static std::vector<int32_t> keySizes(const List *list) {
        if (!list->keySizes) return {};
        return std::vector<int32_t>(list->keySizes, list->keySizes + list->count);
    }

    List *intList(std::initializer_list<int32_t> items, uint32_t flags = 0, int32_t capacity = 0) {
        List *list = arrayListNew(nullptr, byValue(4, capacity, flags));
        EXPECT_NE(list, nullptr);
        for (int32_t v : items) EXPECT_EQ(arrayListAddLast(list, &v), OMBRIX_OK);
        return list;
    }
};

TEST_F(ArrayListTest, CopyOfTheParametersHoldsTheCurrentCapacity) {
    OmbrixKeyPart parts[2] = {};
    parts[0].levels = parts[1].levels = 1;
    parts[0].partSize = 4;
    parts[1].partSize = 8;
    OmbrixArrayListParms parms = byValue(12, -3);
    parms.keyPartCount = 2;
    parms.keyParts = parts;
    List *list = arrayListNew(nullptr, parms);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->parms.capacity, 16) << "below 1 gives 16";
    EXPECT_EQ(list->parms.keySize, 12);
    EXPECT_EQ(list->elementSize, 12);
    EXPECT_EQ(list->count, 0);
    EXPECT_EQ(list->keySizes, nullptr);
    EXPECT_NE(list->parms.keyParts, parts) << "the list keeps its own copy";
    EXPECT_EQ(list->parms.keyParts[1].partSize, 8);
    EXPECT_EQ(list->destroy, arrayListDestroy);
    EXPECT_EQ(list->sort, nullptr);
    EXPECT_EQ(list->toArray, arrayListToArray);
    EXPECT_STREQ(qvhostPoolName(list->pool), "ombrixa");
    EXPECT_EQ(poolStats(list->pool).liveBytes, sizeof(List) + 2 * sizeof(OmbrixKeyPart) + 16 * 12);
    arrayListDestroy(list);

    List *refs = arrayListNew(nullptr, byReference());
    EXPECT_EQ(refs->elementSize, 8) << "pointers whatever keySize says";
    arrayListDestroy(refs);
    EXPECT_EQ(arrayListNew(nullptr, byValue(-1)), nullptr) << "no negative element size";
    EXPECT_EQ(qvhostLivePools(host), poolsAtStart);
}

TEST_F(ArrayListTest, AddAtAPositionMovesTheTailUp) {
    List *list = intList({10, 20, 30});
    int32_t v = 40;
    EXPECT_EQ(arrayListAdd(list, 3, &v), OMBRIX_OK) << "index count appends";
    v = 99;
    EXPECT_EQ(arrayListAdd(list, 5, &v), OMBRIX_OK) << "beyond count: refused quietly";
    EXPECT_EQ(arrayListAdd(list, -1, &v), OMBRIX_OK);
    EXPECT_EQ(arrayListAdd(list, 0, nullptr), OMBRIX_OK) << "no item to copy";
    EXPECT_EQ(arrayListAddLast(list, nullptr), OMBRIX_OK) << "no item to copy";
    EXPECT_EQ(arrayListAdd(nullptr, 0, &v), OMBRIX_OK);
    EXPECT_EQ(values(list), (std::vector<int32_t>{10, 20, 30, 40}));
    v = 15;
    EXPECT_EQ(arrayListAddWithKeySize(list, 1, &v, 4), OMBRIX_OK);
    v = 5;
    EXPECT_EQ(arrayListAdd(list, 0, &v), OMBRIX_OK);
    EXPECT_EQ(values(list), (std::vector<int32_t>{5, 10, 15, 20, 30, 40}));
    EXPECT_EQ(keySizes(list), (std::vector<int32_t>{0, 0, 4, 0, 0, 0}))
        << "the key sizes move with their elements";
    EXPECT_EQ(*static_cast<int32_t *>(arrayListGet(list, 2)), 15);
    EXPECT_EQ(*static_cast<int32_t *>(arrayListGetLast(list)), 40);
    EXPECT_EQ(arrayListGet(list, 6), nullptr);
    EXPECT_EQ(arrayListGet(list, -1), nullptr);
    EXPECT_EQ(arrayListSize(list), 6);
    arrayListDestroy(list);
}

TEST_F(ArrayListTest, GrowsByHalfPlusOneAndMovesTheElements) {
    List *list = intList({});
    std::vector<int32_t> expected;
    for (int32_t v = 0; v < 16; ++v) {
        arrayListAddLastWithKeySize(list, &v, v % 2 ? 4 : 0);
        expected.push_back(v);
    }
    void *before = arrayListGet(list, 0);
    EXPECT_EQ(list->parms.capacity, 16);
    int32_t v = 16;
    arrayListAddLast(list, &v);
    expected.push_back(v);
    EXPECT_EQ(list->parms.capacity, 25) << "the 17th append";
    const auto *slots = static_cast<const int32_t *>(list->elements);
    EXPECT_EQ(std::vector<int32_t>(slots + 17, slots + 25), std::vector<int32_t>(8, 0))
        << "the grown array reads zero past the elements";
    EXPECT_EQ(std::vector<int32_t>(list->keySizes + 17, list->keySizes + 25),
              std::vector<int32_t>(8, 0));
    EXPECT_NE(arrayListGet(list, 0), before) << "the element's address moved with the array";
    for (v = 17; v < 26; ++v) {
        arrayListAddLast(list, &v);
        expected.push_back(v);
    }
    EXPECT_EQ(list->parms.capacity, 38) << "the 26th append";
    EXPECT_EQ(values(list), expected);
    std::vector<int32_t> sizes = keySizes(list);
    ASSERT_EQ(sizes.size(), 26u);
    EXPECT_EQ(sizes[15], 4) << "key sizes survive the growth";
    EXPECT_EQ(sizes[14], 0);
    EXPECT_EQ(sizes[16], 0);
    for (v = 26; v < 39; ++v) arrayListAddLast(list, &v);
    EXPECT_EQ(list->parms.capacity, 58);

    // A key size given for the first time after a growth makes its array
    // at the new capacity, existing elements at size 0.
    List *late = intList({1, 2, 3}, 0, 3);
    v = 4;
    arrayListAddLastWithKeySize(late, &v, 7);
    EXPECT_EQ(late->parms.capacity, 5);
    EXPECT_EQ(keySizes(late), (std::vector<int32_t>{0, 0, 0, 7}));
    arrayListDestroy(late);
    arrayListDestroy(list);
}

// Unlocked lists of 8-byte elements append without the general path until
// a key size or a full array sends them through it; both paths agree.
TEST_F(ArrayListTest, UnlockedEightByteAppendsAgreeWithTheGeneralPath) {
    List *values8 = arrayListNew(nullptr, byValue(8, 2, OMBRIX_FLAG_NO_LOCK));
    int64_t items[40];
    for (int64_t i = 0; i < 40; ++i) {
        items[i] = i * 1000003;
        QVStatus status = i == 20 ? arrayListAddLastWithKeySize(values8, &items[i], 8)
                                  : arrayListAddLast(values8, &items[i]);
        EXPECT_EQ(status, OMBRIX_OK);
    }
    EXPECT_EQ(values8->parms.capacity, 40) << "2 -> 4 -> 7 -> 11 -> 17 -> 26 -> 40";
    ASSERT_EQ(arrayListSize(values8), 40);
    for (int32_t i = 0; i < 40; ++i)
        EXPECT_EQ(*static_cast<int64_t *>(arrayListGet(values8, i)), items[i]);
    EXPECT_EQ(values8->keySizes[20], 8);
    EXPECT_EQ(values8->keySizes[21], 0) << "after the first key size every add records one";

    List *refs = arrayListNew(nullptr, byReference(OMBRIX_FLAG_NO_LOCK));
    for (int64_t &item : items) EXPECT_EQ(arrayListAddLast(refs, &item), OMBRIX_OK);
    for (int32_t i = 0; i < 40; ++i) EXPECT_EQ(arrayListGet(refs, i), &items[i]);
    EXPECT_EQ(refs->parms.capacity, 58);
    EXPECT_EQ(refs->keySizes, nullptr);
    arrayListDestroy(refs);
    arrayListDestroy(values8);
}

TEST_F(ArrayListTest, ByReferenceListsHandBackTheStoredPointers) {
    int32_t a = 1, b = 2, c = 3;
    List *list = arrayListNew(nullptr, byReference());
    EXPECT_EQ(arrayListAddLast(list, &a), OMBRIX_OK);
    EXPECT_EQ(arrayListAddLast(list, &b), OMBRIX_OK);
    EXPECT_EQ(arrayListAddLast(list, nullptr), OMBRIX_OK) << "the plain append stores null too";
    EXPECT_EQ(arrayListSize(list), 3);
    EXPECT_EQ(arrayListGetLast(list), nullptr);
    EXPECT_EQ(arrayListAddLastWithKeySize(list, nullptr, 4), OMBRIX_OK);
    EXPECT_EQ(arrayListSize(list), 3) << "the WithKeySize append refuses null whatever the mode";
    EXPECT_EQ(list->keySizes, nullptr);
    EXPECT_EQ(arrayListRemoveLast(list), nullptr);
    EXPECT_EQ(arrayListSize(list), 2);
    EXPECT_EQ(arrayListAdd(list, 0, nullptr), OMBRIX_OK) << "a positional add stores null";
    EXPECT_EQ(arrayListSize(list), 3);
    EXPECT_EQ(arrayListGet(list, 0), nullptr);
    EXPECT_EQ(arrayListGet(list, 1), &a);
    EXPECT_EQ(arrayListGetLast(list), &b);

    // Find and Remove compare the stored 8 bytes with those at the item:
    // the address of a pointer variable.
    int32_t *pointer = &b;
    EXPECT_EQ(arrayListFind(list, &pointer), 2);
    int32_t copyOfB = 2;
    pointer = &copyOfB;
    EXPECT_EQ(arrayListFind(list, &pointer), -1) << "an equal value elsewhere is not the pointer";
    pointer = &a;
    arrayListRemove(list, &pointer);
    EXPECT_EQ(arrayListSize(list), 2);
    EXPECT_EQ(arrayListGet(list, 1), &b);
    arrayListAddLast(list, &c);
    EXPECT_EQ(arrayListRemoveLast(list), &c);
    arrayListDestroy(list);
}

TEST_F(ArrayListTest, RemoveFindAndRemoveLastCompareWholeElements) {
    List *list = intList({4, 5, 4, 6});
    int32_t four = 4, absent = 7;
    arrayListAddWithKeySize(list, 4, &four, 9);
    EXPECT_EQ(arrayListFind(list, &four), 0);
    EXPECT_EQ(arrayListFind(list, &absent), -1);
    EXPECT_EQ(arrayListFind(list, nullptr), -1);
    arrayListRemove(list, &four);
    EXPECT_EQ(values(list), (std::vector<int32_t>{5, 4, 6, 4}));
    EXPECT_EQ(keySizes(list), (std::vector<int32_t>{0, 0, 0, 9}));
    arrayListRemove(list, &absent);
    arrayListRemove(list, nullptr);
    arrayListRemove(nullptr, &four);
    EXPECT_EQ(values(list), (std::vector<int32_t>{5, 4, 6, 4}));
    EXPECT_EQ(arrayListFind(list, &four), 1);

    auto *last = static_cast<int32_t *>(arrayListRemoveLast(list));
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(*last, 4);
    EXPECT_EQ(last, static_cast<int32_t *>(list->elements) + 3) << "its slot in the array";
    EXPECT_EQ(values(list), (std::vector<int32_t>{5, 4, 6}));

    List *empty = intList({});
    EXPECT_EQ(arrayListRemoveLast(empty), nullptr);
    EXPECT_EQ(arrayListGetLast(empty), nullptr);
    EXPECT_EQ(arrayListRemoveLast(nullptr), nullptr);
    arrayListDestroy(empty);
    arrayListDestroy(list);
}

struct Keyed {
    int32_t code;
    int32_t group;
    int32_t pad;
};

TEST_F(ArrayListTest, FindByKeyByCompositeVariableAndReferenceKeys) {
    List *list = arrayListNew(nullptr, byValue(sizeof(Keyed)));
    Keyed items[] = {{1, 10, 0}, {2, 20, 0}, {2, 21, 0}, {2, 20, 5}};
    arrayListAddLast(list, &items[0]);
    arrayListAddLast(list, &items[1]);
    arrayListAddLastWithKeySize(list, &items[2], 8);
    arrayListAddLastWithKeySize(list, &items[3], 8);

    // Two parts of 4 bytes: 8 bytes compare, the element's two fields in a row.
    OmbrixKeyPart parts[] = {directPart(OMBRIX_PART_BYTES, 4, offsetof(Keyed, code)),
                           directPart(OMBRIX_PART_BYTES, 4, offsetof(Keyed, group))};
    OmbrixKeyDefinition composite{OMBRIX_KEY_COMPOSITE, 2, parts, 0};
    int32_t key[2] = {2, 21};
    EXPECT_EQ(arrayListFindByKey(list, key, 0, composite), 2);
    key[1] = 20;
    EXPECT_EQ(arrayListFindByKey(list, key, 0, composite), 1);
    key[1] = 22;
    EXPECT_EQ(arrayListFindByKey(list, key, 0, composite), -1);
    OmbrixKeyDefinition noParts{OMBRIX_KEY_COMPOSITE, 0, nullptr, 0};
    EXPECT_EQ(arrayListFindByKey(list, key, 0, noParts), -1) << "a key of no bytes";

    // Variable: the first n bytes, only among elements recorded with size n.
    OmbrixKeyDefinition variable{OMBRIX_KEY_VARIABLE, 0, nullptr, 0};
    Keyed probe{2, 20, 0};
    EXPECT_EQ(arrayListFindByKey(list, &probe, 8, variable), 3)
        << "element 1 matches in 8 bytes but was added without a key size";
    EXPECT_EQ(arrayListFindByKey(list, &probe, 4, variable), -1) << "no element recorded with 4";
    EXPECT_EQ(arrayListFindByKey(list, &probe, 0, variable), -1);
    EXPECT_EQ(arrayListFindByKey(list, nullptr, 8, variable), -1);
    EXPECT_EQ(arrayListFindByKey(nullptr, &probe, 8, variable), -1);
    arrayListDestroy(list);

    // Reference: the key is the pointer that the list hands back. The parts
    // give n = 4 bytes, fewer than the 8 of a pointer; the buffers still
    // take all 8 and the first 4 compare.
    List *refs = arrayListNew(nullptr, byReference());
    for (Keyed &k : items) arrayListAddLast(refs, &k);
    OmbrixKeyDefinition reference{OMBRIX_KEY_REFERENCE, 1, parts, 0};
    EXPECT_EQ(arrayListFindByKey(refs, &items[2], 0, reference), 2);
    EXPECT_EQ(arrayListFindByKey(refs, &probe, 0, reference), -1);
    OmbrixKeyDefinition referenceNoParts{OMBRIX_KEY_REFERENCE, 0, nullptr, 0};
    EXPECT_EQ(arrayListFindByKey(refs, &items[2], 0, referenceNoParts), -1)
        << "no parts: a key of no bytes";
    arrayListDestroy(refs);
}

TEST_F(ArrayListTest, ResetKeepsTheCapacityAndToArrayExposesTheArray) {
    List *list = intList({});
    for (int32_t v = 1; v <= 20; ++v) arrayListAddLast(list, &v);
    int32_t count = -1;
    void *array = nullptr;
    arrayListToArray(list, &count, &array);
    EXPECT_EQ(count, 20);
    EXPECT_EQ(array, list->elements) << "the list's own array, not a copy";
    EXPECT_EQ(static_cast<int32_t *>(array)[19], 20);
    arrayListToArray(list, nullptr, nullptr);

    arrayListReset(list);
    EXPECT_EQ(arrayListSize(list), 0);
    EXPECT_EQ(list->parms.capacity, 25);
    const auto *bytes = static_cast<const unsigned char *>(list->elements);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 25 * 4), std::vector<unsigned char>(100, 0));
    int32_t v = 7;
    arrayListAddLast(list, &v);
    EXPECT_EQ(values(list), (std::vector<int32_t>{7}));
    arrayListReset(nullptr);
    EXPECT_EQ(arrayListSize(nullptr), 0);
    arrayListDestroy(list);
}

TEST_F(ArrayListTest, IteratorFollowsTheCountTakenWhenItBegan) {
    List *a = intList({1, 2, 3});
    List *b = intList({9});
    uint64_t acquires = counters().lockAcquires;
    OmbrixIterator it = arrayListIterator(a);
    ASSERT_NE(it.state, nullptr);
    EXPECT_STREQ(qvhostPoolName(qvhostFindPool(host, "ombrixa iter")), "ombrixa iter");
    EXPECT_EQ(qvhostPoolFlags(qvhostFindPool(host, "ombrixa iter")) & 1u, 1u) << "unlocked";
    EXPECT_EQ(it.size(&it), 3);
    EXPECT_TRUE(it.hasNext);
    EXPECT_EQ(*static_cast<int32_t *>(it.next(&it)), 1);

    // Appended during the walk: handed back (it is below the current
    // count), yet hasNext went false at the count taken at the start.
    int32_t v = 4;
    arrayListAddLast(a, &v);
    EXPECT_EQ(it.size(&it), 4);
    EXPECT_EQ(*static_cast<int32_t *>(it.next(&it)), 2);
    EXPECT_EQ(*static_cast<int32_t *>(it.next(&it)), 3);
    EXPECT_FALSE(it.hasNext);
    EXPECT_EQ(*static_cast<int32_t *>(it.next(&it)), 4);
    EXPECT_EQ(it.next(&it), nullptr) << "past the current count";
    EXPECT_FALSE(it.hasNext);

    EXPECT_EQ(it.reset(&it, b), OMBRIX_OK);
    EXPECT_TRUE(it.hasNext);
    EXPECT_EQ(it.size(&it), 1);
    EXPECT_EQ(*static_cast<int32_t *>(it.next(&it)), 9);
    EXPECT_FALSE(it.hasNext);
    EXPECT_EQ(it.reset(&it, nullptr), OMBRIX_OK) << "restarts on the same list";
    EXPECT_EQ(*static_cast<int32_t *>(it.next(&it)), 9);
    it.release(&it);
    EXPECT_EQ(it.state, nullptr);
    it.release(&it);  // a second release does nothing
    EXPECT_EQ(counters().lockAcquires, acquires + 1) << "only the AddLast locked";

    List *empty = intList({});
    OmbrixIterator none = arrayListIterator(empty);
    EXPECT_FALSE(none.hasNext);
    EXPECT_EQ(none.next(&none), nullptr);
    none.release(&none);

    // No pool for the iterator: the zeroed template.
    qvhostFailPoolCreation(host, 1);
    OmbrixIterator refused = arrayListIterator(a);
    EXPECT_FALSE(refused.hasNext);
    EXPECT_EQ(refused.next, nullptr);
    EXPECT_EQ(refused.state, nullptr);
    qvhostFailAllocation(host, 1);
    refused = arrayListIterator(a);
    EXPECT_EQ(refused.next, nullptr) << "no state";
    EXPECT_EQ(qvhostLivePools(host), poolsAtStart + 3);
    for (List *l : {a, b, empty}) arrayListDestroy(l);
}

TEST_F(ArrayListTest, LockingOperationsTakeTheLockOnceAndReleaseIt) {
    List *list = intList({1, 2, 3}, 0, 3);
    int32_t v = 2;
    OmbrixKeyDefinition variable{OMBRIX_KEY_VARIABLE, 0, nullptr, 0};
    expectLockTaken(1, "AddLast with growth", [&] { arrayListAddLast(list, &v); });
    expectLockTaken(1, "AddLastWithKeySize", [&] { arrayListAddLastWithKeySize(list, &v, 4); });
    expectLockTaken(1, "Add", [&] { arrayListAdd(list, 1, &v); });
    expectLockTaken(1, "Add past the count", [&] { arrayListAdd(list, 100, &v); });
    expectLockTaken(1, "AddWithKeySize", [&] { arrayListAddWithKeySize(list, 0, &v, 4); });
    expectLockTaken(1, "Get", [&] { arrayListGet(list, 2); });
    expectLockTaken(1, "Get past the end", [&] { arrayListGet(list, 100); });
    expectLockTaken(1, "GetLast", [&] { arrayListGetLast(list); });
    expectLockTaken(1, "Find", [&] { arrayListFind(list, &v); });
    expectLockTaken(1, "Find of null", [&] { arrayListFind(list, nullptr); });
    expectLockTaken(1, "FindByKey", [&] { arrayListFindByKey(list, &v, 4, variable); });
    expectLockTaken(1, "Remove", [&] { arrayListRemove(list, &v); });
    expectLockTaken(1, "RemoveLast", [&] { arrayListRemoveLast(list); });
    expectLockTaken(0, "Add of a negative index", [&] { arrayListAdd(list, -1, &v); });
    expectLockTaken(0, "Size", [&] { arrayListSize(list); });
    expectLockTaken(0, "ToArray", [&] {
        int32_t n;
        void *a;
        arrayListToArray(list, &n, &a);
    });
    expectLockTaken(0, "Iterator", [&] {
        OmbrixIterator it = arrayListIterator(list);
        while (it.hasNext) it.next(&it);
        it.release(&it);
    });
    expectLockTaken(0, "Reset", [&] { arrayListReset(list); });
    arrayListDestroy(list);

    expectNoLockUsed("a list without a lock", [&] {
        List *unlocked = intList({1, 2}, OMBRIX_FLAG_NO_LOCK);
        EXPECT_EQ(unlocked->lock, nullptr);
        EXPECT_EQ(qvhostPoolFlags(unlocked->pool), OMBRIX_FLAG_NO_LOCK) << "flags go to the pool";
        arrayListAdd(unlocked, 0, &v);
        arrayListFind(unlocked, &v);
        arrayListFindByKey(unlocked, &v, 4, variable);
        arrayListGet(unlocked, 0);
        arrayListRemove(unlocked, &v);
        arrayListRemoveLast(unlocked);
        arrayListDestroy(unlocked);
    });
}

TEST_F(ArrayListTest, RefusedAllocationsLeaveTheListAsItWas) {
    // Each case: a list in some state, an add that must allocate, and the
    // allocations it makes when nothing fails.
    struct Case {
        const char *what;
        int32_t capacity;
        int32_t startKeySize;  // > 0: the list already has key sizes
        int32_t keySize;       // of the add under test
        int32_t index;
        uint64_t allocations;
    } cases[] = {
        {"first key size", 8, 0, 4, 1, 1},
        {"growth", 3, 0, 0, 3, 1},
        {"growth with key sizes", 3, 2, 0, 1, 2},
        {"growth making key sizes", 3, 0, 5, 0, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        List *list = intList({}, 0, c.capacity);
        for (int32_t v = 1; v <= 3; ++v) arrayListAddLastWithKeySize(list, &v, c.startKeySize);
        std::vector<int32_t> sizesBefore = keySizes(list);
        void *elementsBefore = list->elements;
        int32_t *keySizesBefore = list->keySizes;
        QVHostPoolStats statsBefore = poolStats(list->pool);
        int32_t v = 42;
        uint64_t made = sweepAllocationFailures(
            host,
            [&] {
                QVStatus status = arrayListAddWithKeySize(list, c.index, &v, c.keySize);
                EXPECT_TRUE(status == OMBRIX_OK || status == OMBRIX_E_NO_MEMORY);
                return status == OMBRIX_OK;
            },
            [&](uint64_t n) {
                EXPECT_EQ(values(list), (std::vector<int32_t>{1, 2, 3})) << n;
                EXPECT_EQ(keySizes(list), sizesBefore) << n;
                EXPECT_EQ(list->parms.capacity, c.capacity) << n;
                EXPECT_EQ(list->elements, elementsBefore) << n;
                EXPECT_EQ(list->keySizes, keySizesBefore) << n;
                EXPECT_EQ(poolStats(list->pool).liveBlocks, statsBefore.liveBlocks) << n;
                EXPECT_EQ(poolStats(list->pool).liveBytes, statsBefore.liveBytes) << n;
                EXPECT_EQ(counters().lockAcquires, counters().lockReleases) << n;
            });
        EXPECT_EQ(made, c.allocations);
        EXPECT_EQ(arrayListSize(list), 4);
        EXPECT_EQ(*static_cast<int32_t *>(arrayListGet(list, c.index)), 42);
        arrayListDestroy(list);
    }

    // FindByKey: a refused buffer finds nothing, frees what it had and lets
    // the lock go.
    List *list = intList({1, 2});
    int32_t v = 2;
    arrayListAddLastWithKeySize(list, &v, 4);
    OmbrixKeyDefinition variable{OMBRIX_KEY_VARIABLE, 0, nullptr, 0};
    uint64_t blocks = poolStats(list->pool).liveBlocks;
    uint64_t made = sweepAllocationFailures(
        host, [&] { return arrayListFindByKey(list, &v, 4, variable) == 2; },
        [&](uint64_t n) {
            EXPECT_EQ(poolStats(list->pool).liveBlocks, blocks) << n;
            EXPECT_EQ(counters().lockAcquires, counters().lockReleases) << n;
        });
    EXPECT_EQ(made, 2u) << "the searched key and the candidate";
    arrayListDestroy(list);
}

TEST_F(ArrayListTest, RefusedCreationLeavesNothingBehind) {
    OmbrixKeyPart parts[2] = {};
    parts[0].levels = parts[1].levels = 1;
    parts[0].partSize = 4;
    parts[1].partSize = 4;
    OmbrixArrayListParms parms = byValue(8);
    parms.keyPartCount = 2;
    parms.keyParts = parts;
    CreationAllocations made = sweepCreation(host, poolsAtStart, [&](QVWord *pool) {
        List *list = arrayListNew(pool, parms);
        if (!list) return false;
        EXPECT_EQ(list->ownsPool, pool == nullptr);
        arrayListDestroy(list);
        return true;
    });
    EXPECT_EQ(made.ownPool, 3u) << "the object, the parts and the array";
    EXPECT_EQ(made.callerPool, 3u) << "the object, the parts and the array";
    expectRefusedPoolAndLockGiveNull(host, poolsAtStart,
                                     [&] { return arrayListNew(nullptr, parms); });
}

TEST_F(ArrayListTest, CallersPoolOutlivesTheList) {
    QVWord *pool = omb::hostCreatePool(host, omb::poolParms, nullptr, "caller");
    List *list = arrayListNew(pool, byValue(4));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->pool, pool);
    EXPECT_EQ(list->ownsPool, 0);
    int32_t v = 3;
    arrayListAddLastWithKeySize(list, &v, 4);
    arrayListDestroy(list);
    EXPECT_EQ(poolStats(pool).liveBlocks, 0u) << "every block back";
    EXPECT_EQ(qvhostLivePools(host), poolsAtStart + 1);
    omb::poolDestroy(pool);
    arrayListDestroy(nullptr);
}

}  // namespace
