// Walks a chained hash map's private state and checks what every operation
// must keep: each bucket holds as many entries as its count says, in the
// shape its sign says (a tree a valid red-black tree), every entry in the
// bucket of its hash; the overflow and record supplies add up, each entry
// or record either in use or on its free list, never both.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "../tree/rb_invariants.h"
#include "hashmap/hash_map.h"

struct ChainedCensus {
    int32_t entries = 0;
    int32_t trees = 0;
    int32_t longestChain = 0;
};

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
    RbShape shape = checkRedBlack(root, state.keyLayout->treeNil);
    EXPECT_TRUE(shape.valid) << "bucket " << bucket;
    for (OmbrixTreeNode *node : shape.inOrder)
        entries.push_back(static_cast<OmbrixHashMapEntry *>(node->key));
    return entries;
}

// `longChainsAllowed`: a growth refused a tree node may leave a chain
// longer than six.
inline ChainedCensus checkChainedTable(OmbrixHashMap *map, bool longChainsAllowed = false) {
    const omb::HashMapState &state = *omb::hashMapStateOf(map);
    const omb::HashMapKeyLayout &layout = *state.keyLayout;
    const OmbrixHashMapParms &parms = *map->parms;
    ChainedCensus census;
    EXPECT_EQ(state.mask, state.tableSize - 1);
    EXPECT_EQ(state.threshold, static_cast<int32_t>(static_cast<float>(state.tableSize) * 0.75f));

    std::set<const void *> inUse;
    int32_t overflowInUse = 0, recordsHeld = 0;
    bool valueRecords = parms.keyMode != OMBRIX_KEY_COMPOSITE && layout.recordSize != 0;
    for (int32_t b = 0; b < state.tableSize; ++b) {
        int32_t count = state.bucketCounts[b];
        if (count == 0) {
            EXPECT_EQ(state.slots[b].key, nullptr) << "empty bucket " << b << " has a key";
        }
        std::vector<OmbrixHashMapEntry *> entries = bucketEntries(state, b);
        EXPECT_EQ(static_cast<int32_t>(entries.size()), count < 0 ? -count : count)
            << "bucket " << b;
        if (count < 0) census.trees += 1;
        if (count > 0 && !longChainsAllowed) {
            EXPECT_LT(count, 7) << "a chain of seven stayed a chain";
        }
        if (count > census.longestChain) census.longestChain = count;
        for (OmbrixHashMapEntry *e : entries) {
            EXPECT_EQ(static_cast<int32_t>(e->hash & static_cast<uint32_t>(state.mask)), b);
            EXPECT_TRUE(inUse.insert(e).second) << "an entry in two places";
            if (e != &state.slots[b]) overflowInUse += 1;
            if (parms.keyMode == OMBRIX_KEY_COMPOSITE) {
                EXPECT_TRUE(inUse.insert(e->key).second) << "a record held twice";
                recordsHeld += 1;
            } else if (valueRecords && e->value) {
                EXPECT_TRUE(inUse.insert(e->value).second) << "a record held twice";
                recordsHeld += 1;
            }
        }
        census.entries += static_cast<int32_t>(entries.size());
    }
    EXPECT_EQ(census.entries, state.count);

    int32_t overflowSupply = state.slotCapacity - state.tableSize;
    if (state.nodeBlocks) {
        auto *blocks = static_cast<omb::RetiredBlock *>(state.nodeBlocks->elements);
        for (int32_t i = 0; i < state.nodeBlocks->count; ++i) overflowSupply += blocks[i].count;
    }
    int32_t freeEntries = 0;
    OmbrixHashMapEntry *last = nullptr;
    for (OmbrixHashMapEntry *e = state.nodeFree; e && freeEntries <= overflowSupply; e = e->next) {
        EXPECT_EQ(inUse.count(e), 0u) << "a free overflow entry is in a bucket";
        last = e;
        freeEntries += 1;
    }
    EXPECT_EQ(state.nodeFreeTail, last);
    EXPECT_EQ(freeEntries + overflowInUse, overflowSupply) << "overflow entries lost or doubled";

    if (layout.recordSize == 0) {
        EXPECT_EQ(state.recordFree, nullptr);
        return census;
    }
    int32_t recordSupply = state.recordCapacity;
    if (state.recordBlocks) {
        auto *blocks = static_cast<omb::RetiredBlock *>(state.recordBlocks->elements);
        for (int32_t i = 0; i < state.recordBlocks->count; ++i) recordSupply += blocks[i].count;
    }
    EXPECT_EQ(recordSupply, state.threshold) << "one record per entry below the threshold";
    int32_t freeRecords = 0;
    void *lastRecord = nullptr;
    for (void *r = state.recordFree; r && freeRecords <= recordSupply;
         r = omb::recordLink(layout, r)) {
        EXPECT_EQ(inUse.count(r), 0u) << "a free record is held by an entry";
        lastRecord = r;
        freeRecords += 1;
    }
    EXPECT_EQ(state.recordFreeTail, lastRecord);
    EXPECT_EQ(freeRecords + recordsHeld, recordSupply) << "records lost or doubled";
    return census;
}
