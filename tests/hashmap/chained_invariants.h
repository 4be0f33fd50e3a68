// What every operation on a chained hash map must keep: each bucket holds as
// many entries as its count says, in the shape its sign says (a tree a valid
// red-black tree), each entry in the bucket of its hash; every overflow entry
// and record is either in use or on its free list, never both.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "tree_keys.h"
#include "hashmap/hash_map.h"

inline std::vector<OmbrixHashMapEntry *> bucketEntries(const omb::HashMapState &state,
                                                       int32_t bucket) {
    std::vector<OmbrixHashMapEntry *> entries;
    int32_t count = state.bucketCounts[bucket];
    if (count == 0) return entries;
    OmbrixHashMapEntry *primary = &state.slots[bucket];
    entries.push_back(primary);
    if (count > 0) {
        for (OmbrixHashMapEntry *e = primary->next; e && entries.size() <= 1u << 20; e = e->next)
            entries.push_back(e);
        return entries;
    }
    auto *root = reinterpret_cast<OmbrixTreeNode *>(primary->next);
    SCOPED_TRACE(testing::Message() << "bucket " << bucket);
    for (const void *key : redBlackKeys(root, state.keyLayout->treeNil))
        entries.push_back(static_cast<OmbrixHashMapEntry *>(const_cast<void *>(key)));
    return entries;
}

// Everything an iterator hands out until hasNext turns false.
inline std::vector<void *> drain(OmbrixIterator it, bool release = false) {
    std::vector<void *> out;
    while (it.next && it.hasNext && out.size() < 100000) out.push_back(it.next(&it));
    EXPECT_TRUE(it.next && it.next(&it) == nullptr) << "next after the end";
    if (release) it.release(&it);
    return out;
}

// The block's own supply plus what the retired blocks of earlier sizes hold.
inline int32_t supplyOf(int32_t current, const OmbrixThinArrayList *retired) {
    auto *blocks = retired ? static_cast<omb::RetiredBlock *>(retired->elements) : nullptr;
    for (int32_t i = 0; retired && i < retired->count; ++i) current += blocks[i].count;
    return current;
}

// The length of a free list, none of it in use, its tail kept.
template <typename T, typename Next>
int32_t freeListLength(T *head, T *tail, int32_t supply, const std::set<const void *> &inUse,
                       Next next) {
    int32_t length = 0;
    T *last = nullptr;
    for (T *e = head; e && length <= supply; e = next(e), ++length) {
        EXPECT_EQ(inUse.count(e), 0u) << "a free entry or record is in use";
        last = e;
    }
    EXPECT_EQ(tail, last);
    return length;
}

// Returns the number of tree buckets. `longChainsAllowed`: keys equal in the
// trees' order, or a growth refused
// a tree node may leave a chain longer than six.
inline int32_t checkChainedTable(OmbrixHashMap *map, bool longChainsAllowed = false) {
    const omb::HashMapState &state = *omb::hashMapStateOf(map);
    const omb::HashMapKeyLayout &layout = *state.keyLayout;
    bool composite = map->parms->keyMode == OMBRIX_KEY_COMPOSITE;
    EXPECT_EQ(state.mask, state.tableSize - 1);
    EXPECT_EQ(state.threshold, static_cast<int32_t>(static_cast<float>(state.tableSize) * 0.75f));

    std::set<const void *> inUse;
    int32_t entries = 0, trees = 0, overflowInUse = 0, recordsHeld = 0;
    for (int32_t b = 0; b < state.tableSize; ++b) {
        int32_t count = state.bucketCounts[b];
        EXPECT_TRUE(count != 0 || !state.slots[b].key) << "empty bucket " << b << " has a key";
        std::vector<OmbrixHashMapEntry *> held = bucketEntries(state, b);
        EXPECT_EQ(static_cast<int32_t>(held.size()), count < 0 ? -count : count) << "bucket " << b;
        trees += count < 0;
        EXPECT_TRUE(longChainsAllowed || count < 7) << "a chain of seven stayed a chain";
        for (OmbrixHashMapEntry *e : held) {
            EXPECT_EQ(static_cast<int32_t>(e->hash & static_cast<uint32_t>(state.mask)), b);
            EXPECT_TRUE(inUse.insert(e).second) << "an entry in two places";
            overflowInUse += e != &state.slots[b];
            void *record = composite ? e->key : layout.recordSize ? e->value : nullptr;
            EXPECT_TRUE(!record || inUse.insert(record).second) << "a record held twice";
            recordsHeld += record != nullptr;
        }
        entries += static_cast<int32_t>(held.size());
    }
    EXPECT_EQ(entries, state.count);

    int32_t overflowSupply = supplyOf(state.slotCapacity - state.tableSize, state.nodeBlocks);
    int32_t freeEntries = freeListLength(state.nodeFree, state.nodeFreeTail, overflowSupply, inUse,
                                         [](OmbrixHashMapEntry *e) { return e->next; });
    EXPECT_EQ(freeEntries + overflowInUse, overflowSupply) << "overflow entries lost or doubled";
    if (layout.recordSize == 0) {
        EXPECT_EQ(state.recordFree, nullptr);
        return trees;
    }
    int32_t recordSupply = supplyOf(state.recordCapacity, state.recordBlocks);
    EXPECT_EQ(recordSupply, state.threshold) << "one record per entry below the threshold";
    int32_t freeRecords = freeListLength(state.recordFree, state.recordFreeTail, recordSupply, inUse,
                                         [&](void *r) { return omb::recordLink(layout, r); });
    EXPECT_EQ(freeRecords + recordsHeld, recordSupply) << "records lost or doubled";
    return trees;
}
