// The linked list on the reference host: positions, entry handles, content
// and key searches, the lock discipline and refused allocations.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/container.h"
#include "core/host_calls.h"
#include "creation_sweep.h"
#include "fault_sweep.h"
#include "host_fixture.h"
#include "lists/linked_list.h"
#include "qvhost.h"
#include "tree_keys.h"

namespace {

using List = OmbrixLinkedList;
using Entry = OmbrixLinkedListEntry;

OmbrixLinkedListParms byValue(int32_t size, uint32_t flags = 0) {
    return {size, 0, flags, 0, nullptr};
}

OmbrixLinkedListParms byReference(int32_t keySize, uint32_t flags = 0) {
    return {keySize, OMBRIX_BY_REFERENCE, flags, 0, nullptr};
}

class LinkedListTest : public HostTest {
  protected:
    // The int32 values of a by-value list of ints, checking on the way that
    // the chain agrees with head, tail, the prev links and count.
    static std::vector<int32_t> values(List *list) {
        std::vector<int32_t> out;
        const Entry *previous = nullptr;
        for (const Entry *e = list->head; e; e = e->next) {
            EXPECT_EQ(e->prev, previous);
            int32_t v;
            std::memcpy(&v, e->data, sizeof v);
            out.push_back(v);
            previous = e;
        }
        EXPECT_EQ(list->tail, previous);
        EXPECT_EQ(static_cast<size_t>(list->count), out.size());
        return out;
    }

    List *intList(std::initializer_list<int32_t> items, uint32_t flags = 0) {
        List *list = linkedListNew(nullptr, byValue(4, flags));
        EXPECT_NE(list, nullptr);
        for (int32_t v : items) EXPECT_EQ(linkedListAddLast(list, &v), OMBRIX_OK);
        return list;
    }
};

TEST_F(LinkedListTest, PositionalAddsPlaceTheElementAtTheIndex) {
    List *list = linkedListNew(nullptr, byValue(4));
    ASSERT_NE(list, nullptr);
    int32_t v = 10;
    EXPECT_EQ(linkedListAdd(list, 0, &v), OMBRIX_OK) << "index 0 on an empty list appends";
    v = 11;
    linkedListAdd(list, 5, &v);  // beyond the end: last
    v = 12;
    linkedListAdd(list, -1, &v);  // negative: last
    v = 13;
    linkedListAdd(list, 3, &v);  // == count: last
    EXPECT_EQ(values(list), (std::vector<int32_t>{10, 11, 12, 13}));
    v = 99;
    linkedListAddWithKeySize(list, 2, &v, 4);
    EXPECT_EQ(values(list), (std::vector<int32_t>{10, 11, 99, 12, 13}));
    EXPECT_EQ(*static_cast<int32_t *>(linkedListGet(list, 2)), 99);
    EXPECT_EQ(*static_cast<int32_t *>(linkedListGet(list, 3)), 12);
    EXPECT_EQ(list->head->next->next->keySize, 4u);
    v = 7;
    linkedListAdd(list, 0, &v);  // index 0 on a non-empty list: first
    EXPECT_EQ(values(list), (std::vector<int32_t>{7, 10, 11, 99, 12, 13}));
    EXPECT_EQ(linkedListGet(list, 6), nullptr);
    EXPECT_EQ(linkedListGet(list, -1), nullptr);
    linkedListDestroy(list);
}

TEST_F(LinkedListTest, AddBeforeAndAfterFollowHeadAndTail) {
    List *list = intList({2, 3});
    int32_t v = 1;
    EXPECT_EQ(linkedListAddBefore(list, list->head, &v), OMBRIX_OK);
    v = 4;
    EXPECT_EQ(linkedListAddAfter(list, list->tail, &v), OMBRIX_OK);
    v = 25;
    linkedListAddAfterWithKeySize(list, list->head->next, &v, 3);
    v = 35;
    linkedListAddBefore(list, list->tail, &v);
    EXPECT_EQ(values(list), (std::vector<int32_t>{1, 2, 25, 3, 35, 4}));
    EXPECT_EQ(*static_cast<int32_t *>(linkedListGetFirst(list)), 1);
    EXPECT_EQ(*static_cast<int32_t *>(linkedListGetLast(list)), 4);
    EXPECT_EQ(linkedListGetFirstEntry(list), list->head);
    EXPECT_EQ(linkedListGetLastEntry(list), list->tail);
    // A null entry or item adds nothing and still answers 0.
    EXPECT_EQ(linkedListAddBefore(list, nullptr, &v), OMBRIX_OK);
    EXPECT_EQ(linkedListAddAfter(list, list->head, nullptr), OMBRIX_OK);
    EXPECT_EQ(linkedListAddLast(nullptr, &v), OMBRIX_OK);
    EXPECT_EQ(list->count, 6);
    linkedListDestroy(list);
}

TEST_F(LinkedListTest, RemovingTheEndsHandsTheCopyToTheCaller) {
    List *list = intList({});
    EXPECT_EQ(linkedListRemoveFirst(list), nullptr);
    EXPECT_EQ(linkedListRemoveLast(list), nullptr);
    EXPECT_EQ(linkedListGetFirst(list), nullptr);
    int32_t v = 5;
    linkedListAddLast(list, &v);
    uint64_t blocks = poolStats(list->pool).liveBlocks;
    auto *copy = static_cast<int32_t *>(linkedListRemoveFirst(list));
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, &v);
    EXPECT_EQ(*copy, 5);
    EXPECT_EQ(list->head, nullptr);
    EXPECT_EQ(list->tail, nullptr);
    EXPECT_EQ(list->count, 0);
    EXPECT_EQ(poolStats(list->pool).liveBlocks, blocks - 1) << "the entry goes, the copy stays";

    List *three = intList({1, 2, 3});
    EXPECT_EQ(*static_cast<int32_t *>(linkedListRemoveLast(three)), 3);
    EXPECT_EQ(*static_cast<int32_t *>(linkedListRemoveFirst(three)), 1);
    EXPECT_EQ(values(three), (std::vector<int32_t>{2}));
    linkedListDestroy(three);
    linkedListDestroy(list);
}

TEST_F(LinkedListTest, ByValueListsKeepTheirOwnCopies) {
    struct Pair {
        int32_t a, b;
    } p{1, 2};
    List *list = linkedListNew(nullptr, byValue(sizeof(Pair)));
    linkedListAddLast(list, &p);
    p.a = 100;
    auto *stored = static_cast<Pair *>(linkedListGetFirst(list));
    EXPECT_EQ(stored->a, 1);
    EXPECT_EQ(stored->b, 2);
    EXPECT_EQ(list->elementSize, 8);
    linkedListDestroy(list);
}

TEST_F(LinkedListTest, FindAndRemoveCompareKeySizeBytes) {
    // By reference with keySize 4: the first four bytes at each stored
    // pointer are compared with the four at the item.
    struct Record {
        int32_t id;
        int32_t other;
    } a{1, 10}, b{2, 20}, c{2, 30};
    List *list = linkedListNew(nullptr, byReference(4));
    ASSERT_EQ(list->elementSize, 8);
    for (Record *r : {&a, &b, &c}) linkedListAddLast(list, r);
    Record probe{2, 0};
    EXPECT_EQ(linkedListFind(list, &probe), &b) << "the first match";
    EXPECT_EQ(linkedListFind(list, nullptr), nullptr);
    linkedListRemove(list, &probe);
    EXPECT_EQ(list->count, 2);
    EXPECT_EQ(linkedListFind(list, &probe), &c);
    Record absent{9, 0};
    linkedListRemove(list, &absent);
    linkedListRemove(list, nullptr);
    EXPECT_EQ(list->count, 2);
    linkedListDestroy(list);

    // By value, Remove frees the entry and its copy.
    List *ints = intList({4, 5, 4});
    uint64_t blocks = poolStats(ints->pool).liveBlocks;
    int32_t four = 4;
    linkedListRemove(ints, &four);
    EXPECT_EQ(values(ints), (std::vector<int32_t>{5, 4}));
    EXPECT_EQ(poolStats(ints->pool).liveBlocks, blocks - 2);
    linkedListDestroy(ints);
}

struct Keyed {
    int32_t pad;
    int32_t code;
};

TEST_F(LinkedListTest, FindByKeyHandsBackTheElement) {
    Keyed x{0, 7}, y{0, 8}, z{0, 8};
    List *list = linkedListNew(nullptr, byReference(8));
    linkedListAddLast(list, &x);
    linkedListAddLast(list, &y);
    linkedListAddLastWithKeySize(list, &z, 8);

    // Composite: one part, the code field. The searched item already is a key.
    OmbrixKeyPart part = directPart(OMBRIX_PART_BYTES, 4, offsetof(Keyed, code));
    OmbrixKeyDefinition composite{OMBRIX_KEY_COMPOSITE, 1, &part, 0};
    int32_t eight = 8;
    EXPECT_EQ(linkedListFindByKey(list, &eight, 0, composite), &y);
    int32_t nine = 9;
    EXPECT_EQ(linkedListFindByKey(list, &nine, 0, composite), nullptr);

    // Variable: only entries recorded with the same key size take part.
    OmbrixKeyDefinition variable{OMBRIX_KEY_VARIABLE, 0, nullptr, 0};
    Keyed probe{0, 8};
    EXPECT_EQ(linkedListFindByKey(list, &probe, 8, variable), &z) << "y has key size 0";
    EXPECT_EQ(linkedListFindByKey(list, &probe, 0, variable), nullptr) << "no key, no match";

    // Reference: the item pointer itself is the key, so only the very
    // element matches, not an equal copy; n is still the parts' 4 bytes.
    OmbrixKeyDefinition reference{OMBRIX_KEY_REFERENCE, 1, &part, 0};
    EXPECT_EQ(linkedListFindByKey(list, &z, 0, reference), &z);
    EXPECT_EQ(linkedListFindByKey(list, &probe, 0, reference), nullptr);
    linkedListDestroy(list);
}

TEST_F(LinkedListTest, EntryHandlesLinkAndUnlinkWithoutTheLock) {
    List *list = intList({1});
    uint64_t acquires = counters().lockAcquires;
    int32_t v = 0;
    Entry *first = linkedListNewEntry(list, &v, 4);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->keySize, 4u);
    EXPECT_EQ(first->prev, nullptr) << "a new entry links to nothing";
    EXPECT_EQ(first->next, nullptr);
    EXPECT_EQ(list->count, 1) << "a new entry is not linked";
    v = 2;
    Entry *last = linkedListNewEntry(list, &v, 0);
    EXPECT_EQ(linkedListAddFirstEntry(list, first), OMBRIX_OK);
    EXPECT_EQ(linkedListAddLastEntry(list, last), OMBRIX_OK);
    EXPECT_EQ(values(list), (std::vector<int32_t>{0, 1, 2}));
    uint64_t blocks = poolStats(list->pool).liveBlocks;
    linkedListRemoveEntry(list, list->head->next, 1);
    EXPECT_EQ(poolStats(list->pool).liveBlocks, blocks - 2);
    linkedListRemoveEntry(list, last, 0);
    EXPECT_EQ(values(list), (std::vector<int32_t>{0}));
    EXPECT_EQ(poolStats(list->pool).liveBlocks, blocks - 2) << "unlinked, not freed";
    linkedListAddLastEntry(list, last);  // the kept entry links again
    linkedListRemoveEntry(list, nullptr, 1);
    EXPECT_EQ(values(list), (std::vector<int32_t>{0, 2}));
    linkedListReset(list);
    EXPECT_EQ(linkedListSize(list), 0);
    EXPECT_EQ(list->head, nullptr);
    EXPECT_EQ(poolStats(list->pool).liveBlocks, 1u) << "only the object is left";
    EXPECT_EQ(linkedListNewEntry(list, nullptr, 0), nullptr);
    EXPECT_EQ(counters().lockAcquires, acquires);
    EXPECT_EQ(linkedListSize(nullptr), 0);
    linkedListDestroy(list);
}

// Find and RemoveEntry answer a missing list as their siblings do: no
// element, nothing unlinked, and the entry is left as it was.
TEST_F(LinkedListTest, FindAndRemoveEntryRefuseANullList) {
    List *list = intList({7, 8});
    int32_t seven = 7;
    EXPECT_EQ(linkedListFind(nullptr, &seven), nullptr);
    Entry *head = list->head;
    linkedListRemoveEntry(nullptr, head, 1);
    EXPECT_EQ(list->head, head);
    EXPECT_EQ(head->next, list->tail);
    EXPECT_EQ(values(list), (std::vector<int32_t>{7, 8}));
    EXPECT_NE(linkedListFind(list, &seven), nullptr);
    linkedListDestroy(list);
}

TEST_F(LinkedListTest, IteratorWalksInOrderAndMovesToAnotherList) {
    List *a = intList({1, 2, 3});
    List *b = intList({9});
    uint64_t acquires = counters().lockAcquires;
    OmbrixIterator it = linkedListIterator(a);
    ASSERT_NE(it.state, nullptr);
    EXPECT_EQ(it.size(&it), 3);
    std::vector<int32_t> seen;
    while (it.hasNext) seen.push_back(*static_cast<int32_t *>(it.next(&it)));
    EXPECT_EQ(seen, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(it.next(&it), nullptr);
    EXPECT_EQ(it.reset(&it, b), OMBRIX_OK);
    EXPECT_TRUE(it.hasNext);
    EXPECT_EQ(it.size(&it), 1);
    EXPECT_EQ(*static_cast<int32_t *>(it.next(&it)), 9);
    EXPECT_FALSE(it.hasNext);
    it.release(&it);
    EXPECT_EQ(it.state, nullptr);
    EXPECT_EQ(counters().lockAcquires, acquires);

    List *empty = intList({});
    OmbrixIterator none = linkedListIterator(empty);
    EXPECT_FALSE(none.hasNext);
    none.release(&none);
    OmbrixIterator nothing = linkedListIterator(nullptr);
    EXPECT_EQ(nothing.state, nullptr) << "no list, no iterator";
    EXPECT_EQ(nothing.next, nullptr);
    for (List *l : {a, b, empty}) linkedListDestroy(l);
}

TEST_F(LinkedListTest, LockingOperationsTakeTheLockOnceAndReleaseIt) {
    List *list = intList({1, 2, 3});
    int32_t v = 2;
    OmbrixKeyDefinition variable{OMBRIX_KEY_VARIABLE, 0, nullptr, 0};
    expectLockTaken(1, "AddLast", [&] { linkedListAddLast(list, &v); });
    expectLockTaken(1, "AddFirst", [&] { linkedListAddFirst(list, &v); });
    expectLockTaken(1, "Add", [&] { linkedListAdd(list, 1, &v); });
    expectLockTaken(1, "AddBefore", [&] { linkedListAddBefore(list, list->tail, &v); });
    expectLockTaken(1, "AddAfter", [&] { linkedListAddAfter(list, list->head, &v); });
    expectLockTaken(1, "Get", [&] { linkedListGet(list, 2); });
    expectLockTaken(1, "Get past the end", [&] { linkedListGet(list, 100); });
    expectLockTaken(1, "GetFirst", [&] { linkedListGetFirst(list); });
    expectLockTaken(1, "GetLast", [&] { linkedListGetLast(list); });
    expectLockTaken(1, "GetFirstEntry", [&] { linkedListGetFirstEntry(list); });
    expectLockTaken(1, "GetLastEntry", [&] { linkedListGetLastEntry(list); });
    expectLockTaken(1, "Find", [&] { linkedListFind(list, &v); });
    expectLockTaken(1, "FindByKey", [&] { linkedListFindByKey(list, &v, 4, variable); });
    expectLockTaken(1, "Remove", [&] { linkedListRemove(list, &v); });
    expectLockTaken(1, "RemoveFirst", [&] { linkedListRemoveFirst(list); });
    expectLockTaken(1, "RemoveLast", [&] { linkedListRemoveLast(list); });
    linkedListDestroy(list);

    expectNoLockUsed("a list without a lock", [&] {
        List *unlocked = intList({1, 2}, OMBRIX_FLAG_NO_LOCK);
        linkedListAddFirst(unlocked, &v);
        linkedListFind(unlocked, &v);
        linkedListRemoveLast(unlocked);
        linkedListDestroy(unlocked);
    });
}

TEST_F(LinkedListTest, RefusedAllocationsLeaveTheListAsItWas) {
    List *list = intList({1, 2, 3});
    int32_t v = 42;
    auto unchanged = [&](uint64_t n) {
        EXPECT_EQ(values(list), (std::vector<int32_t>{1, 2, 3})) << "allocation " << n;
        EXPECT_EQ(poolStats(list->pool).liveBlocks, 7u) << "allocation " << n;
        EXPECT_EQ(counters().lockAcquires, counters().lockReleases);
    };
    using Add = QVStatus (*)(List *, int32_t, const void *);
    auto sweepAdd = [&](const char *what, auto add) {
        SCOPED_TRACE(what);
        uint64_t made = sweepAllocationFailures(
            host,
            [&] {
                QVStatus status = add();
                EXPECT_TRUE(status == OMBRIX_OK || status == OMBRIX_E_NO_MEMORY);
                return status == OMBRIX_OK;
            },
            unchanged);
        EXPECT_EQ(made, 2u) << "the entry and the copy";
        linkedListRemove(list, &v);
    };
    sweepAdd("AddLast", [&] { return linkedListAddLast(list, &v); });
    sweepAdd("AddFirst", [&] { return linkedListAddFirst(list, &v); });
    sweepAdd("Add", [&] { return static_cast<Add>(linkedListAdd)(list, 1, &v); });
    sweepAdd("AddBefore", [&] { return linkedListAddBefore(list, list->tail, &v); });
    sweepAdd("AddAfter", [&] { return linkedListAddAfterWithKeySize(list, list->head, &v, 4); });

    // FindByKey: a refused buffer finds nothing, frees what it had and lets
    // the lock go.
    OmbrixKeyDefinition variable{OMBRIX_KEY_VARIABLE, 0, nullptr, 0};
    linkedListAddLastWithKeySize(list, &v, 4);
    uint64_t made = sweepAllocationFailures(
        host, [&] { return linkedListFindByKey(list, &v, 4, variable) != nullptr; },
        [&](uint64_t) {
            EXPECT_EQ(poolStats(list->pool).liveBlocks, 9u);
            EXPECT_EQ(counters().lockAcquires, counters().lockReleases);
        });
    EXPECT_EQ(made, 2u) << "the searched key and the candidate";
    linkedListDestroy(list);
}

// A list without a lock takes its own short way through the end adds and
// removes; it keeps the same books and refuses the same way.
TEST_F(LinkedListTest, UnlockedEndsAddRemoveAndRefuseAsLockedOnesDo) {
    List *list = intList({1, 2, 3}, OMBRIX_FLAG_NO_LOCK);
    int32_t v = 42;
    for (bool first : {false, true}) {
        SCOPED_TRACE(first ? "AddFirst" : "AddLast");
        uint64_t made = sweepAllocationFailures(
            host,
            [&] {
                QVStatus status = first ? linkedListAddFirst(list, &v) : linkedListAddLast(list, &v);
                EXPECT_TRUE(status == OMBRIX_OK || status == OMBRIX_E_NO_MEMORY);
                return status == OMBRIX_OK;
            },
            [&](uint64_t n) {
                EXPECT_EQ(values(list), (std::vector<int32_t>{1, 2, 3})) << "allocation " << n;
                EXPECT_EQ(poolStats(list->pool).liveBlocks, 7u) << "allocation " << n;
            });
        EXPECT_EQ(made, 2u) << "the entry and the copy";
        EXPECT_EQ(values(list), first ? (std::vector<int32_t>{42, 1, 2, 3})
                                      : (std::vector<int32_t>{1, 2, 3, 42}));
        auto *copy = static_cast<int32_t *>(first ? linkedListRemoveFirst(list)
                                                  : linkedListRemoveLast(list));
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(*copy, 42);
        EXPECT_EQ(poolStats(list->pool).liveBlocks, 8u) << "the entry went, the copy is the caller's";
        omb::poolFree(list->pool, copy);
        EXPECT_EQ(values(list), (std::vector<int32_t>{1, 2, 3}));
    }
    EXPECT_EQ(counters().lockAcquires, 0u);

    // By reference, down to empty from both ends: head and tail follow.
    List *refs = linkedListNew(nullptr, byReference(4, OMBRIX_FLAG_NO_LOCK));
    int32_t a = 1, b = 2, c = 3;
    linkedListAddLast(refs, &b);
    linkedListAddFirst(refs, &a);
    linkedListAddLast(refs, &c);
    EXPECT_EQ(linkedListRemoveLast(refs), &c);
    EXPECT_EQ(linkedListRemoveFirst(refs), &a);
    EXPECT_EQ(refs->head, refs->tail);
    EXPECT_EQ(refs->head->prev, nullptr);
    EXPECT_EQ(refs->head->next, nullptr);
    EXPECT_EQ(linkedListRemoveFirst(refs), &b);
    EXPECT_EQ(refs->head, nullptr);
    EXPECT_EQ(refs->tail, nullptr);
    EXPECT_EQ(refs->count, 0);
    EXPECT_EQ(linkedListRemoveLast(refs), nullptr);
    EXPECT_EQ(poolStats(refs->pool).liveBlocks, 1u) << "only the list object is left";
    linkedListDestroy(refs);
    linkedListDestroy(list);
}

TEST_F(LinkedListTest, RefusedCreationLeavesNothingBehind) {
    OmbrixKeyPart parts[2] = {};
    parts[0].levels = parts[1].levels = 1;
    parts[0].partSize = 4;
    parts[1].partSize = 4;
    OmbrixLinkedListParms parms = byValue(8);
    parms.keyPartCount = 2;
    parms.keyParts = parts;
    sweepCreation(host, poolsAtStart, [&](QVWord *pool) {
        List *list = linkedListNew(pool, parms);
        if (!list) return false;
        EXPECT_NE(list->parms.keyParts, parts) << "the list keeps its own copy";
        EXPECT_EQ(list->parms.keyParts[1].partSize, 4);
        linkedListDestroy(list);
        return true;
    });
    expectRefusedPoolAndLockGiveNull(host, poolsAtStart,
                                     [&] { return linkedListNew(nullptr, parms); });
}

TEST_F(LinkedListTest, OwnPoolIsNamedAndGoesWithTheList) {
    List *list = intList({1});
    EXPECT_STREQ(qvhostPoolName(list->pool), "ombrixl");
    EXPECT_EQ(list->ownsPool, 1);
    EXPECT_EQ(qvhostLivePools(host), poolsAtStart + 1);
    linkedListDestroy(list);
    EXPECT_EQ(qvhostLivePools(host), poolsAtStart);
    linkedListDestroy(nullptr);
}

}  // namespace
