// The array lists' own rules: growth by half again plus one (the thin list
// too), key sizes, by-reference nulls, the iterator's count, refused growth.
#include <gtest/gtest.h>

#include <cstring>

#include "fault_sweep.h"
#include "list_families.h"
#include "lists/thin_array_list.h"

namespace {

using List = OmbrixArrayList;
std::vector<int32_t> keySizes(const List *l) {
    return l->keySizes ? std::vector<int32_t>(l->keySizes, l->keySizes + l->count) : std::vector<int32_t>{};
}
List *newList(int32_t size, int32_t capacity = 0, uint32_t keyType = 0, uint32_t flags = 0) {
    return arrayListNew(nullptr, {size, keyType, flags, capacity, 0, nullptr});
}

class ArrayListTest : public HostTest {};

// Each row appends 0, 1, 2 ... and lists the capacities it passes through;
// the last element survives every move and the old arrays go back.
TEST_F(ArrayListTest, GrowsByHalfAgainPlusOne) {
    const struct {
        bool thin;
        int32_t size, capacity, adds;
        std::vector<int32_t> capacities;
    } rows[] = {{false, 4, 0, 59, {16, 25, 38, 58, 88}},
                {false, 8, 2, 40, {2, 4, 7, 11, 17, 26, 40}},  // unlocked 8-byte, a key size at 20
                {true, 4, 0, 14, {8, 13, 20}},
                {true, 8, 2, 5, {2, 4, 7}}};
    for (const auto &row : rows) {
        OmbrixThinArrayList *thin = row.thin ? thinArrayListNew(nullptr, 0, row.size, row.capacity) : nullptr;
        List *list = row.thin ? nullptr : newList(row.size, row.capacity, 0, OMBRIX_FLAG_NO_LOCK);
        auto capacity = [&] { return thin ? thin->capacity : list->parms.capacity; };
        std::vector<int32_t> seen = {capacity()};
        for (int64_t v = 0; v < row.adds; ++v) {
            ASSERT_EQ(thin ? thinArrayListAdd(thin, &v) : arrayListAddLastWithKeySize(list, &v, v == 20 ? 8 : 0), 0u);
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

// Key sizes move with their elements; a by-reference list stores null through
// the plain adds only and compares the stored 8 bytes; the iterator hands out
// what is below the current count, but hasNext follows the count at its start.
TEST_F(ArrayListTest, KeySizesNullsAndTheIteratorsCount) {
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
    EXPECT_EQ(*static_cast<int32_t *>(arrayListGet(list, 1)), 15);
    for (int32_t i = 0; i < 4; ++i) it.next(&it);
    EXPECT_TRUE(it.hasNext) << "six when the walk began";
    EXPECT_EQ(it.next(&it), nullptr) << "four now";
    it.release(&it);
    arrayListDestroy(list);

    int32_t a = 1, copy = 1, *pointer = &a, *other = &copy;
    List *refs = newList(4, 0, OMBRIX_BY_REFERENCE);
    for (int32_t *item : {&a, static_cast<int32_t *>(nullptr)}) arrayListAddLast(refs, item);
    arrayListAdd(refs, 0, nullptr);
    arrayListAddLastWithKeySize(refs, nullptr, 4);  // refused whatever the mode
    EXPECT_EQ(arrayListSize(refs), 3);
    EXPECT_EQ(arrayListFind(refs, &pointer), 1);
    EXPECT_EQ(arrayListFind(refs, &other), -1) << "an equal value elsewhere";
    arrayListDestroy(refs);
}

// Each row: an add into a list of {1, 2, 3} that must allocate; every refused
// allocation leaves the object, the key sizes and the pool's bytes as they were.
TEST_F(ArrayListTest, RefusedGrowthLeavesTheListAsItWas) {
    const struct {
        int32_t capacity, startKeySize, keySize, index;
        uint64_t allocations;
    } rows[] = {{8, 0, 4, 1, 1}, {3, 0, 0, 3, 1}, {3, 2, 0, 1, 2}, {3, 0, 5, 0, 2}};
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

}  // namespace
