// The storage facade over both backings: forwarding, comparison, the pointer
// array, locking through the backing list and refused allocations.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/container.h"
#include "core/host_calls.h"
#include "creation_sweep.h"
#include "fault_sweep.h"
#include "host_fixture.h"
#include "lists/array_list.h"
#include "lists/linked_list.h"
#include "qvhost.h"
#include "lists/storage.h"

namespace {

OmbrixStorageParms storageParms(uint32_t listKind, int32_t keySize, uint32_t keyType = 0,
                                uint32_t flags = 0) {
    OmbrixStorageParms parms{};
    for (uint32_t i = 0; i < OMBRIX_STORAGE_LEADING_WORDS; ++i) parms.leading[i] = 0xC0DE0000u + i;
    parms.listKind = listKind;
    parms.keySize = keySize;
    parms.keyType = keyType;
    parms.flags = flags;
    return parms;
}

// Every forwarded operation behaves alike over both backings.
class StorageTest : public HostTest, public ::testing::WithParamInterface<uint32_t> {
  protected:
    OmbrixStorage *ints(std::initializer_list<int32_t> items, uint32_t flags = 0) {
        OmbrixStorage *s = storageNew(nullptr, storageParms(GetParam(), 4, 0, flags));
        EXPECT_NE(s, nullptr);
        for (int32_t v : items) EXPECT_EQ(s->addLast(s, &v), OMBRIX_OK);
        return s;
    }

    static std::vector<int32_t> values(OmbrixStorage *s) {
        std::vector<int32_t> out;
        for (int32_t i = 0; i < storageSize(s); ++i)
            out.push_back(*static_cast<int32_t *>(storageGet(s, i)));
        return out;
    }
};

INSTANTIATE_TEST_SUITE_P(Backings, StorageTest, ::testing::Values(0u, 3u),
                         [](const auto &info) { return info.param == 0 ? "Array" : "Linked"; });

class StorageKindTest : public HostTest {};

TEST_F(StorageKindTest, BackingFollowsTheListKind) {
    OmbrixKeyPart part{};
    part.levels = 1;
    part.partSize = 4;
    OmbrixStorageParms parms = storageParms(0, 4, 0, OMBRIX_FLAG_NO_LOCK | 0x10);
    parms.keyPartCount = 1;
    parms.keyParts = &part;
    OmbrixStorage *array = storageNew(nullptr, parms);
    ASSERT_NE(array, nullptr);
    EXPECT_STREQ(qvhostPoolName(array->pool), "ombrixg");
    EXPECT_EQ(qvhostPoolFlags(array->pool), OMBRIX_FLAG_NO_LOCK) << "only bit 0 goes to the pool";
    auto *list = static_cast<OmbrixArrayList *>(array->list);
    EXPECT_EQ(list->parms.capacity, 16);
    EXPECT_EQ(list->parms.flags, OMBRIX_FLAG_NO_LOCK | 0x10) << "the list gets the whole word";
    EXPECT_EQ(list->pool, array->pool);
    EXPECT_EQ(list->ownsPool, 0);
    EXPECT_EQ(list->destroy, arrayListDestroy);
    EXPECT_EQ(array->parms.leading[8], 0xC0DE0008u);
    EXPECT_EQ(array->parms.keyParts, list->parms.keyParts) << "the copy points at kept parts";
    EXPECT_EQ(array->destroy, storageDestroy);
    EXPECT_EQ(array->toArray, storageToArray);

    OmbrixStorage *linked = storageNew(nullptr, storageParms(3, 8, OMBRIX_BY_REFERENCE));
    ASSERT_NE(linked, nullptr);
    EXPECT_EQ(qvhostPoolFlags(linked->pool), 0u);
    auto *chain = static_cast<OmbrixLinkedList *>(linked->list);
    EXPECT_EQ(chain->destroy, linkedListDestroy);
    EXPECT_EQ(chain->elementSize, 8);
    EXPECT_NE(chain->lock, nullptr);
    storageDestroy(array);
    storageDestroy(linked);
    storageDestroy(nullptr);
}

TEST_P(StorageTest, ForwardsEveryListOperation) {
    OmbrixStorage *s = ints({1, 2, 3});
    int32_t v = 9;
    EXPECT_EQ(storageAdd(s, 1, &v), OMBRIX_OK);
    EXPECT_EQ(values(s), (std::vector<int32_t>{1, 9, 2, 3}));
    EXPECT_EQ(*static_cast<int32_t *>(storageGetLast(s)), 3);
    EXPECT_EQ(storageGet(s, -1), nullptr);
    EXPECT_EQ(storageGet(s, 4), nullptr);
    int32_t two = 2;
    storageRemove(s, &two);
    storageRemove(s, nullptr);
    EXPECT_EQ(values(s), (std::vector<int32_t>{1, 9, 3}));
    EXPECT_EQ(*static_cast<int32_t *>(storageRemoveLast(s)), 3);
    EXPECT_EQ(storageSize(s), 2);

    OmbrixIterator it = storageIterator(s);
    ASSERT_NE(it.next, nullptr);
    std::vector<int32_t> seen;
    while (it.hasNext) seen.push_back(*static_cast<int32_t *>(it.next(&it)));
    it.release(&it);
    EXPECT_EQ(seen, (std::vector<int32_t>{1, 9}));

    storageReset(s);
    EXPECT_EQ(storageSize(s), 0);
    EXPECT_EQ(storageGetLast(s), nullptr);
    EXPECT_EQ(storageRemoveLast(s), nullptr);
    storageDestroy(s);

    // A null storage: 0, null or nothing, and the zeroed iterator.
    EXPECT_EQ(storageAdd(nullptr, 0, &v), OMBRIX_OK);
    EXPECT_EQ(storageAddLast(nullptr, &v), OMBRIX_OK);
    EXPECT_EQ(storageGet(nullptr, 0), nullptr);
    EXPECT_EQ(storageSize(nullptr), 0);
    storageRemove(nullptr, &v);
    storageReset(nullptr);
    OmbrixIterator none = storageIterator(nullptr);
    EXPECT_FALSE(none.hasNext);
    EXPECT_EQ(none.next, nullptr);
}

TEST_P(StorageTest, CompareLooksAtKeySizeBytesOfEachElement) {
    OmbrixStorage *a = ints({1, 2, 3});
    OmbrixStorage *b = ints({1, 2, 3});
    OmbrixStorage *c = ints({1, 2, 4});
    OmbrixStorage *shorter = ints({1, 2});
    EXPECT_EQ(storageCompare(a, b), 0);
    EXPECT_EQ(storageCompare(a, a), 0);
    EXPECT_EQ(storageCompare(a, c), 1);
    EXPECT_EQ(storageCompare(a, shorter), 1);
    EXPECT_EQ(storageCompare(shorter, a), 1);
    EXPECT_EQ(storageCompare(a, nullptr), 1);
    EXPECT_EQ(storageCompare(nullptr, nullptr), 1);

    OmbrixStorage *empty = ints({});
    OmbrixStorage *alsoEmpty = ints({});
    OmbrixStorage *wider = storageNew(nullptr, storageParms(GetParam(), 8));
    EXPECT_EQ(storageCompare(empty, alsoEmpty), 0);
    EXPECT_EQ(storageCompare(empty, wider), 1) << "different keySize, both empty";

    // By reference: the first keySize bytes at the stored pointers.
    struct Record {
        int32_t id;
        int32_t other;
    } r1{5, 1}, r2{5, 2}, r3{6, 1};
    OmbrixStorage *p = storageNew(nullptr, storageParms(GetParam(), 4, OMBRIX_BY_REFERENCE));
    OmbrixStorage *q = storageNew(nullptr, storageParms(GetParam(), 4, OMBRIX_BY_REFERENCE));
    storageAddLast(p, &r1);
    storageAddLast(q, &r2);
    EXPECT_EQ(storageCompare(p, q), 0) << "ids agree; the rest is not compared";
    storageAddLast(p, &r1);
    storageAddLast(q, &r3);
    EXPECT_EQ(storageCompare(p, q), 1);

    // No iterator pool: the storages cannot be shown equal.
    qvhostFailPoolCreation(host, 1);
    EXPECT_EQ(storageCompare(a, b), 1);
    qvhostFailPoolCreation(host, 2);
    EXPECT_EQ(storageCompare(a, b), 1);
    for (OmbrixStorage *s : {a, b, c, shorter, empty, alsoEmpty, wider, p, q}) storageDestroy(s);
}

// A by-reference array list stores a null pointer given at a position; two
// null elements agree and the walk goes on to the elements after them.
TEST_F(StorageKindTest, CompareWalksPastNullElementsOfAnArrayBacking) {
    int32_t five = 5, six = 6;
    OmbrixStorage *a = storageNew(nullptr, storageParms(0, 4, OMBRIX_BY_REFERENCE));
    OmbrixStorage *b = storageNew(nullptr, storageParms(0, 4, OMBRIX_BY_REFERENCE));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(storageAdd(a, 0, nullptr), OMBRIX_OK);
    ASSERT_EQ(storageAdd(b, 0, nullptr), OMBRIX_OK);
    ASSERT_EQ(storageAddLast(a, &five), OMBRIX_OK);
    ASSERT_EQ(storageAddLast(b, &six), OMBRIX_OK);
    ASSERT_EQ(storageSize(a), 2);
    EXPECT_EQ(storageCompare(a, b), 1) << "5 and 6 differ after the null pair";
    storageRemoveLast(b);
    ASSERT_EQ(storageAddLast(b, &five), OMBRIX_OK);
    EXPECT_EQ(storageCompare(a, b), 0);

    // A null element against a stored one differs.
    storageReset(b);
    ASSERT_EQ(storageAddLast(b, &five), OMBRIX_OK);
    ASSERT_EQ(storageAddLast(b, &five), OMBRIX_OK);
    EXPECT_EQ(storageCompare(a, b), 1);
    EXPECT_EQ(storageCompare(b, a), 1);
    storageDestroy(a);
    storageDestroy(b);
}

TEST_P(StorageTest, ToArrayMakesANewArrayOfTheElementPointers) {
    OmbrixStorage *s = ints({});
    int32_t count = -7;
    void **array = reinterpret_cast<void **>(&count);
    EXPECT_EQ(storageToArray(s, &count, &array), OMBRIX_OK);
    EXPECT_EQ(count, -7) << "an empty storage writes nothing";
    EXPECT_EQ(array, reinterpret_cast<void **>(&count));
    EXPECT_EQ(s->pointerArray, nullptr);

    for (int32_t v = 10; v < 13; ++v) storageAddLast(s, &v);
    EXPECT_EQ(storageToArray(s, &count, &array), OMBRIX_OK);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(array, s->pointerArray);
    for (int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(array[i], storageGet(s, i));
        EXPECT_EQ(*static_cast<int32_t *>(array[i]), 10 + i);
    }
    void **first = array;
    EXPECT_EQ(storageToArray(s, nullptr, nullptr), OMBRIX_OK);
    EXPECT_NE(s->pointerArray, first) << "each call makes a new array";
    EXPECT_EQ(first[2], storageGet(s, 2)) << "and the earlier one stays";
    EXPECT_EQ(storageToArray(nullptr, &count, &array), OMBRIX_OK);

    // Refused: no iterator pool, no iterator state, no array.
    count = -1;
    array = nullptr;
    void **kept = s->pointerArray;
    qvhostFailPoolCreation(host, 1);
    EXPECT_EQ(storageToArray(s, &count, &array), OMBRIX_E_NO_MEMORY);
    uint64_t made = sweepAllocationFailures(
        host, [&] { return storageToArray(s, &count, &array) == OMBRIX_OK; },
        [&](uint64_t n) {
            EXPECT_EQ(count, -1) << n;
            EXPECT_EQ(array, nullptr) << n;
            EXPECT_EQ(s->pointerArray, kept) << n;
            EXPECT_EQ(qvhostLivePools(host), poolsAtStart + 1) << "the iterator pool went" << n;
        });
    EXPECT_EQ(made, 2u) << "the iterator state and the array";
    EXPECT_EQ(count, 3);
    storageDestroy(s);
}

TEST_P(StorageTest, LocksAsTheBackingListDoes) {
    OmbrixStorage *s = ints({1, 2});
    int32_t v = 3;
    expectLockTaken(1, "Add", [&] { storageAdd(s, 0, &v); });
    expectLockTaken(1, "AddLast", [&] { storageAddLast(s, &v); });
    expectLockTaken(1, "Get", [&] { storageGet(s, 1); });
    expectLockTaken(1, "GetLast", [&] { storageGetLast(s); });
    expectLockTaken(1, "Remove", [&] { storageRemove(s, &v); });
    expectLockTaken(1, "RemoveLast", [&] { storageRemoveLast(s); });
    expectLockTaken(0, "Get of -1", [&] { storageGet(s, -1); });
    expectLockTaken(0, "Size", [&] { storageSize(s); });
    expectLockTaken(0, "Compare", [&] { storageCompare(s, s); });
    expectLockTaken(0, "ToArray", [&] { storageToArray(s, nullptr, nullptr); });
    expectLockTaken(0, "Reset", [&] { storageReset(s); });
    storageDestroy(s);

    expectNoLockUsed("a storage without a lock", [&] {
        OmbrixStorage *unlocked = ints({1, 2}, OMBRIX_FLAG_NO_LOCK);
        storageAdd(unlocked, 1, &v);
        storageGet(unlocked, 1);
        storageRemove(unlocked, &v);
        storageDestroy(unlocked);
    });
}

TEST_P(StorageTest, RefusedCreationLeavesNothingBehind) {
    OmbrixKeyPart part{};
    part.levels = 1;
    part.partSize = 4;
    OmbrixStorageParms parms = storageParms(GetParam(), 4);
    parms.keyPartCount = 1;
    parms.keyParts = &part;
    sweepCreation(host, poolsAtStart, [&](QVWord *pool) {
        OmbrixStorage *s = storageNew(pool, parms);
        if (!s) return false;
        EXPECT_EQ(s->ownsPool, pool == nullptr);
        storageDestroy(s);
        return true;
    });
    // A refused lock reaches the storage through its backing list.
    expectRefusedPoolAndLockGiveNull(host, poolsAtStart,
                                     [&] { return storageNew(nullptr, parms); });
}

}  // namespace
