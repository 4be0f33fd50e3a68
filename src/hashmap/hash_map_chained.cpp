// The chained table: primary slots with overflow chains that become trees
// of the tree engine at seven entries, fed by the overflow and record
// supplies, and growth that doubles the table and recycles the old slots.
#include "hashmap/hash_map_chained.h"

#include <algorithm>

#include "core/export.h"
#include "tree/key_order.h"

namespace omb {

namespace {

using Entry = OmbrixHashMapEntry;
using Node = OmbrixTreeNode;
using Parms = OmbrixHashMapParms;
using Layout = HashMapKeyLayout;

// ---------------------------------------------------------------------------
// The overflow supply

// The next entry of the supply is asked for as one is taken: the take after
// this one reads its link, and at 1M entries that read would otherwise
// miss, a quarter of the adds apart.
inline Entry *takeOverflowEntry(HashMapState &state) {
    Entry *entry = state.nodeFree;
    if (!entry) return nullptr;
    state.nodeFree = entry->next;
    if (!state.nodeFree)
        state.nodeFreeTail = nullptr;
    else
        __builtin_prefetch(state.nodeFree, 1);
    return entry;
}

inline void giveBackOverflowEntry(HashMapState &state, Entry *entry) {
    entry->next = state.nodeFree;
    state.nodeFree = entry;
    if (!state.nodeFreeTail) state.nodeFreeTail = entry;
}

inline void appendOverflowEntry(HashMapState &state, Entry *entry) {
    entry->next = nullptr;
    if (state.nodeFreeTail)
        state.nodeFreeTail->next = entry;
    else
        state.nodeFree = entry;
    state.nodeFreeTail = entry;
}

// ---------------------------------------------------------------------------
// Bucket trees

// A tree bucket's root sits in its primary slot's `next`, a member of entry
// pointer type, so it is read and written as bytes.
inline Node *treeRoot(const Entry *primary) {
    Node *root;
    std::memcpy(&root, &primary->next, sizeof root);
    return root;
}

inline void setTreeRoot(Entry *primary, Node *root) {
    std::memcpy(&primary->next, &root, sizeof root);
}

// Runs `change(&root)` on a tree bucket's root and stores the root back.
template <typename Change>
inline auto changeTree(Entry *primary, Change change) {
    Node *root = treeRoot(primary);
    auto result = change(&root);
    setTreeRoot(primary, root);
    return result;
}

inline Entry *entryOf(const Node *node) {
    return static_cast<Entry *>(node->key);
}

// Post-order, so no node is read after it is given back. The depth of a
// red-black tree stays within twice the logarithm of its size.
void freeTreeNodes(QVWord *pool, Node *node, Node *nil) {
    if (node == nil) return;
    freeTreeNodes(pool, node->left, nil);
    freeTreeNodes(pool, node->right, nil);
    poolFree(pool, node);
}

// The bytes at an entry's `key` that the trees' order reads: up to the end
// of the furthest part. Without parts the order reads only the keys' own
// sizes.
inline int64_t treeOrderExtent(const Layout &layout) {
    const OmbrixTreeParms &order = layout.treeParms;
    if (order.keyMode == OMBRIX_KEY_VARIABLE) return 0;
    int64_t extent = 0;
    for (int32_t i = 0; i < order.keyPartCount; ++i) {
        const OmbrixKeyPart &part = order.keyParts[i];
        extent = std::max(extent, int64_t{part.offsets[1]} + comparedBytes(part));
    }
    return extent;
}

// Whether the trees' order reads no more than a key of `keySize` bytes.
inline bool treeOrderFits(const Layout &layout, int32_t keySize) {
    return keySize >= treeOrderExtent(layout);
}

// A bucket tree holds only entries the trees' order can rank safely:
// - no two equal in that order: a tree holds one node per order-equal key,
//   so a second entry would have no node and be lost. Distinct keys can be
//   equal in that order (two NaNs, or 0.0 and -0.0 in a double part);
// - none shorter than the bytes the order reads (treeOrderFits): a string
//   key shorter than its parts' sizes would be read past its end.
// A bucket holding an entry the order cannot rank stays, or turns back into,
// a chain, which the match test serves whatever the order says; and no
// lookup descends a tree with a key shorter than the order reads.
enum class TreePlacement { placed, chainOnly, refused };

inline TreePlacement placeInTree(HashMapState &state, Node **root, Entry *entry) {
    const Layout &layout = *state.keyLayout;
    if (!treeOrderFits(layout, entry->keySize)) return TreePlacement::chainOnly;
    void *found = nullptr;
    if (treeFindOrAdd(state.pool, root, layout.treeNil, &layout.treeParms, entry, entry->keySize,
                      nullptr, nullptr, &found) != OMBRIX_OK)
        return TreePlacement::refused;
    return found ? TreePlacement::chainOnly : TreePlacement::placed;
}

// The chain behind `primary` as a tree, its entries inserted in chain
// order. Unless every entry was placed, the nodes made go back and the
// chain stays as it was.
TreePlacement chainToTree(HashMapState &state, Entry *primary) {
    Node *nil = state.keyLayout->treeNil;
    Node *root = nil;
    for (Entry *entry = primary->next; entry; entry = entry->next) {
        TreePlacement placement = placeInTree(state, &root, entry);
        if (placement != TreePlacement::placed) {
            freeTreeNodes(state.pool, root, nil);
            return placement;
        }
    }
    setTreeRoot(primary, root);
    return TreePlacement::placed;
}

// The tree behind `primary` as a chain in key order, its nodes given back.
// Returns the bucket's count as a chain's.
int32_t treeBackToChain(HashMapState &state, Entry *primary, int32_t count) {
    Node *nil = state.keyLayout->treeNil;
    Node *root = treeRoot(primary);
    Entry **link = &primary->next;
    for (Node *node = treeMinimum(root, nil); node; node = treeSuccessor(node, nil)) {
        *link = entryOf(node);
        link = &entryOf(node)->next;
    }
    *link = nullptr;
    freeTreeNodes(state.pool, root, nil);
    return -count;
}

// Adds one to a chain's count; a chain of seven or more becomes a tree. A
// chain stays longer when it holds an entry no tree may hold, or when
// growth was refused a tree node; its next entry tries again. False only
// when a node is refused.
inline bool countIntoChain(HashMapState &state, Entry *primary, int32_t &count) {
    count += 1;
    if (count < kTreeBucketEntries) return true;
    TreePlacement placement = chainToTree(state, primary);
    if (placement == TreePlacement::placed) count = -count;
    return placement != TreePlacement::refused;
}

// Links `entry` into the chain behind `primary`, just after it.
inline void linkAfterPrimary(Entry *primary, Entry *entry) {
    entry->next = primary->next;
    primary->next = entry;
}

inline void copyEntryContents(Entry &to, const Entry &from) {
    to.hash = from.hash;
    to.key = from.key;
    to.keySize = from.keySize;
    to.value = from.value;
}

// `from`'s four members as a new primary slot: no chain, hop word clear.
inline Entry unlinkedCopy(const Entry &from) {
    return Entry{from.hash, from.key, from.keySize, from.value, nullptr, 0};
}

// ---------------------------------------------------------------------------
// Lookup

// Whether descending a bucket tree settles a lookup of `key`: the trees'
// order must be total (a double part makes a NaN equal every key, so a
// descent can pass a matching entry by), and every entry that matches the
// key must compare equal to it in that order. That holds for part keys
// looked up at the layout's full size, and for strings when the lookup
// compares bytes alone (the removal): a string's own pointer stored at
// another size also matches, and the order ranks it apart. A pointer key
// without parts, or a shorter key size, may match an entry the order ranks
// apart too. And the key must be as long as the order reads.
inline bool treeDescentDecides(const Layout &layout, const PreparedKey &key, uint32_t keyMode,
                               bool byIdentity) {
    const OmbrixTreeParms &order = layout.treeParms;
    if (!treeOrderFits(layout, key.size)) return false;
    for (int32_t i = 0; i < order.keyPartCount; ++i)
        if (order.keyParts[i].partType == OMBRIX_PART_DOUBLE) return false;
    if (order.keyMode == OMBRIX_KEY_VARIABLE) return keyMode == OMBRIX_KEY_VARIABLE && !byIdentity;
    return layout.keySize > 0 && key.size == layout.keySize;
}

// The tree entry of bucket `primary` equal to `key` in the trees' order,
// found by descending from a probe entry that stands for the key, which
// must be as long as the order reads (treeOrderFits).
inline Entry *treeEqualEntry(const Layout &layout, Entry *primary, const PreparedKey &key) {
    Entry probe = {};
    probe.key = key.stored;
    probe.keySize = key.size;
    return static_cast<Entry *>(
        treeFindCommon(treeRoot(primary), layout.treeNil, &layout.treeParms, &probe, key.size));
}

// The tree entry of bucket `primary` that matches `key`. The tree holds at
// most one entry that matches, so when a descent settles the lookup its
// answer is the walk's; otherwise, or when it meets an entry equal in order
// but not matching, the entries are tested in key order.
Entry *findInTree(const HashMapState &state, Entry *primary, const PreparedKey &key,
                  uint32_t keyMode, bool byIdentity) {
    const Layout &layout = *state.keyLayout;
    Node *nil = layout.treeNil;
    if (treeDescentDecides(layout, key, keyMode, byIdentity)) {
        Entry *found = treeEqualEntry(layout, primary, key);
        if (!found) return nullptr;
        if (entryMatches(*found, key, keyMode, byIdentity)) return found;
    }
    for (Node *node = treeMinimum(treeRoot(primary), nil); node; node = treeSuccessor(node, nil))
        if (entryMatches(*entryOf(node), key, keyMode, byIdentity)) return entryOf(node);
    return nullptr;
}

// The entry of `bucket` that matches `key`: the primary slot, then the
// chain in order or the tree. `before` receives a chain entry's
// predecessor. An empty bucket's primary slot is all zero (its key null),
// so a hit on the primary slot reads no count.
inline Entry *findInBucket(const HashMapState &state, int32_t bucket, const PreparedKey &key,
                           uint32_t keyMode, bool byIdentity, Entry **before) {
    Entry *primary = &state.slots[bucket];
    if (!primary->key) return nullptr;
    if (entryMatches(*primary, key, keyMode, byIdentity)) return primary;
    // No overflow entry: a chain of one (a tree's root is never null).
    if (!primary->next) return nullptr;
    int32_t count = state.bucketCounts[bucket];
    if (count > 0) {
        Entry *previous = primary;
        for (Entry *entry = primary->next; entry; previous = entry, entry = entry->next) {
            if (entryMatches(*entry, key, keyMode, byIdentity)) {
                if (before) *before = previous;
                return entry;
            }
        }
        return nullptr;
    }
    return findInTree(state, primary, key, keyMode, byIdentity);
}

// ---------------------------------------------------------------------------
// Adding

// Places a new entry into bucket `primary`. 0x803fc002 (and nothing
// placed) when the overflow supply is empty or the tree refuses a node.
// `leavesTree`: the entry may not join the bucket's tree, which turns back
// into a chain once nothing can fail any more; the chain then holds an entry
// no tree may hold, so it stays a chain.
QVStatus placeEntry(HashMapState &state, Entry *primary, int32_t &count, const Entry &made,
                    bool leavesTree) {
    if (count == 0) {
        *primary = made;
        count = 1;
        return OMBRIX_OK;
    }
    Entry *entry = takeOverflowEntry(state);
    if (!entry) return OMBRIX_E_NO_MEMORY;
    *entry = made;
    if (leavesTree) {
        count = treeBackToChain(state, primary, count) + 1;
        linkAfterPrimary(primary, entry);
        return OMBRIX_OK;
    }
    if (count < 0) {
        if (changeTree(primary, [&](Node **root) { return placeInTree(state, root, entry); }) !=
            TreePlacement::placed) {
            giveBackOverflowEntry(state, entry);
            return OMBRIX_E_NO_MEMORY;
        }
        count -= 1;
        return OMBRIX_OK;
    }
    linkAfterPrimary(primary, entry);
    if (!countIntoChain(state, primary, count)) {
        primary->next = entry->next;
        count -= 1;
        giveBackOverflowEntry(state, entry);
        return OMBRIX_E_NO_MEMORY;
    }
    return OMBRIX_OK;
}

// The add after key preparation. `record` is the mode-0 record holding the
// key, given back unless a new entry keeps it.
QVStatus addPrepared(HashMapState &state, const Parms &parms, const PreparedKey &key, void *record,
                     const void *value) {
    int32_t bucket = static_cast<int32_t>(key.hash & static_cast<uint32_t>(state.mask));
    Entry *primary = &state.slots[bucket];
    int32_t &count = state.bucketCounts[bucket];
    Entry *existing = nullptr;
    bool leavesTree = false;
    if (count > 0) {
        existing = findInBucket(state, bucket, key, parms.keyMode, true, nullptr);
    } else if (count < 0 && !treeOrderFits(*state.keyLayout, key.size)) {
        // Too short for the tree: the walk finds it, or it joins the bucket
        // as a chain.
        existing = findInBucket(state, bucket, key, parms.keyMode, true, nullptr);
        leavesTree = !existing;
    } else if (count < 0) {
        existing = entryMatches(*primary, key, parms.keyMode, true) ? primary : nullptr;
        Entry *orderEqual = existing ? nullptr : treeEqualEntry(*state.keyLayout, primary, key);
        if (orderEqual && entryMatches(*orderEqual, key, parms.keyMode, true))
            existing = orderEqual;
        else if (orderEqual)
            leavesTree = true;
    }
    if (existing) {
        if (record) giveBackRecord(state, record);
        return assignValue(state, parms, *existing,
                           recordValueStorage(parms, *state.keyLayout, *existing), value);
    }
    Entry made;
    QVStatus status = makeEntry(state, parms, key, value, made);
    if (status == OMBRIX_OK) {
        status = placeEntry(state, primary, count, made, leavesTree);
        if (status != OMBRIX_OK) unmakeEntry(state, parms, made);
    }
    if (status != OMBRIX_OK) {
        if (record) giveBackRecord(state, record);
        return status;
    }
    state.count += 1;
    if (state.count >= state.threshold) return hashMapListResize(&state);
    return OMBRIX_OK;
}

// ---------------------------------------------------------------------------
// Removing

// Removes the tree entry `entry` of bucket `primary`.
void removeFromTree(HashMapState &state, Entry *primary, Entry *entry) {
    const Layout &layout = *state.keyLayout;
    // The entry's own key size: a variable-length key of size 0 would sort
    // before every stored key and find no node.
    changeTree(primary, [&](Node **root) {
        return treeRemoveCommon(state.pool, root, layout.treeNil, &layout.treeParms, entry,
                                entry->keySize);
    });
}

// The primary slot leaves: the first overflow entry (of the chain, or of
// the tree in key order) moves into it.
void promoteIntoPrimary(HashMapState &state, Entry *primary, int32_t count) {
    if (count > 0) {
        Entry *first = primary->next;
        if (!first) {
            *primary = Entry{};
            return;
        }
        copyEntryContents(*primary, *first);
        primary->next = first->next;
        giveBackOverflowEntry(state, first);
        return;
    }
    Node *nil = state.keyLayout->treeNil;
    Node *least = treeMinimum(treeRoot(primary), nil);
    if (!least) {
        *primary = Entry{};
        return;
    }
    Entry *first = entryOf(least);
    copyEntryContents(*primary, *first);
    removeFromTree(state, primary, first);
    giveBackOverflowEntry(state, first);
}

QVStatus removePrepared(HashMapState &state, const Parms &parms, const PreparedKey &key) {
    int32_t bucket = static_cast<int32_t>(key.hash & static_cast<uint32_t>(state.mask));
    Entry *before = nullptr;
    Entry *entry = findInBucket(state, bucket, key, parms.keyMode, false, &before);
    if (!entry) return OMBRIX_OK;
    int32_t &count = state.bucketCounts[bucket];
    Entry *primary = &state.slots[bucket];
    // Its storage goes once the entry is unlinked: the tree finds the node
    // by the key bytes, which may be a copy of the map's.
    Entry leaving = *entry;
    if (entry == primary)
        promoteIntoPrimary(state, primary, count);
    else if (count > 0)
        before->next = entry->next;
    else
        removeFromTree(state, primary, entry);
    if (entry != primary) giveBackOverflowEntry(state, entry);
    releaseEntryStorage(state, parms, leaving);
    count += count > 0 ? -1 : 1;
    state.count -= 1;
    return OMBRIX_OK;
}

// ---------------------------------------------------------------------------
// Growth

// Everything a growth allocates, taken before the table changes.
struct GrowthBlocks {
    Entry *slots = nullptr;
    int32_t *counts = nullptr;
    unsigned char *records = nullptr;
    int32_t recordCount = 0;
    bool madeNodeList = false;
    bool madeRecordList = false;
};

// Takes back what takeGrowthBlocks did: blocks freed, retired items
// dropped, lists made for them destroyed.
void dropGrowthBlocks(HashMapState &state, GrowthBlocks &blocks, bool nodeRetired,
                      bool recordRetired) {
    poolFree(state.pool, blocks.slots);
    poolFree(state.pool, blocks.counts);
    poolFree(state.pool, blocks.records);
    if (nodeRetired) state.nodeBlocks->count -= 1;
    if (recordRetired) state.recordBlocks->count -= 1;
    if (blocks.madeNodeList) {
        thinArrayListDestroy(state.nodeBlocks);
        state.nodeBlocks = nullptr;
    }
    if (blocks.madeRecordList) {
        thinArrayListDestroy(state.recordBlocks);
        state.recordBlocks = nullptr;
    }
}

// The new slot array and counts, the old slot array and record block
// retired, and the new record block. False, with nothing kept, when any is
// refused.
bool takeGrowthBlocks(HashMapState &state, int32_t newSize, int32_t newThreshold,
                      GrowthBlocks &blocks) {
    QVWord *pool = state.pool;
    const Layout &layout = *state.keyLayout;
    bool nodeRetired = false, recordRetired = false;
    // Not zero-filled: moving an old bucket writes the two new buckets it
    // feeds whole (see hashMapListResize).
    blocks.slots = static_cast<Entry *>(
        poolAllocate(pool, sizeof(Entry) * static_cast<uint64_t>(newSize), 0));
    if (blocks.slots)
        blocks.counts = static_cast<int32_t *>(
            poolAllocate(pool, sizeof(int32_t) * static_cast<uint64_t>(newSize), 0));
    if (blocks.counts)
        nodeRetired = retireBlock(pool, state.nodeBlocks, blocks.madeNodeList, state.slotCapacity,
                                  state.slots);
    bool ready = nodeRetired;
    if (ready && layout.recordSize != 0) {
        blocks.recordCount = newThreshold - state.threshold;
        blocks.records = static_cast<unsigned char *>(poolAllocate(
            pool,
            static_cast<uint64_t>(blocks.recordCount) * static_cast<uint64_t>(layout.recordStride),
            0));
        recordRetired =
            blocks.records && retireBlock(pool, state.recordBlocks, blocks.madeRecordList,
                                          state.recordCapacity, state.records);
        ready = recordRetired;
    }
    if (!ready) dropGrowthBlocks(state, blocks, nodeRetired, recordRetired);
    return ready;
}

// Places an entry of the old table into the new one. False when a tree
// node is refused: the bucket is then left a chain that holds the entry.
bool reinsert(HashMapState &state, const Entry &old) {
    int32_t bucket = static_cast<int32_t>(old.hash & static_cast<uint32_t>(state.mask));
    Entry *primary = &state.slots[bucket];
    int32_t &count = state.bucketCounts[bucket];
    if (count == 0) {
        copyEntryContents(*primary, old);
        primary->next = nullptr;
        primary->hop = 0;
        count = 1;
        return true;
    }
    // Never empty: every old entry placed so far went back to the supply,
    // and the first entry of each new bucket takes none.
    Entry *entry = takeOverflowEntry(state);
    copyEntryContents(*entry, old);
    entry->hop = 0;
    if (count < 0) {
        TreePlacement placement =
            changeTree(primary, [&](Node **root) { return placeInTree(state, root, entry); });
        if (placement == TreePlacement::placed) {
            count -= 1;
            return true;
        }
        // The bucket goes on as a chain; its next entry tries the tree again.
        count = treeBackToChain(state, primary, count);
        linkAfterPrimary(primary, entry);
        count += 1;
        return placement == TreePlacement::chainOnly;
    }
    linkAfterPrimary(primary, entry);
    return countIntoChain(state, primary, count);
}

// Re-inserts the chain of old bucket `primary` into new buckets `low` and
// `low + oldSize`, the only two it feeds, and hands its entries to the
// overflow supply. Both new buckets are still unwritten and the chain is
// shorter than a tree (moveBucket sees to it), so this is reinsert without
// its questions: each side's first entry fills the side's primary slot
// whole, a later one an overflow entry linked just behind it, and a side
// that got none is written empty.
void splitChain(HashMapState &state, Entry *primary, int32_t low, int32_t oldSize) {
    Entry *sides[2] = {&state.slots[low], &state.slots[low + oldSize]};
    int32_t counts[2] = {0, 0};
    for (Entry *entry = primary; entry;) {
        Entry *next = entry->next;
        int side = (entry->hash & static_cast<uint32_t>(oldSize)) != 0;
        Entry *target = sides[side];
        if (counts[side]++ != 0) {
            // Never empty: the old entries handed back so far cover every
            // entry taken, since each side's first takes none.
            target = takeOverflowEntry(state);
            target->hop = 0;
            linkAfterPrimary(sides[side], target);
            copyEntryContents(*target, *entry);
        } else {
            *target = unlinkedCopy(*entry);
        }
        appendOverflowEntry(state, entry);
        entry = next;
    }
    for (int side = 0; side < 2; ++side)
        if (counts[side] == 0) *sides[side] = Entry{};
    state.bucketCounts[low] = counts[0];
    state.bucketCounts[low + oldSize] = counts[1];
}

// Moves old bucket `primary` of `count` 0 or 1 entries, about eight in ten
// buckets when the table grows, into new buckets `low` and `low + oldSize`:
// its entry, or the all-zero slot of an empty bucket, goes to the side its
// hash picks and the other side is written empty. The side is chosen by
// selecting indices, not by a branch: at three quarters load the two shapes
// and the two sides are about as common, so branches on them were
// mispredicted on most buckets.
inline void moveSingle(HashMapState &state, Entry *primary, int32_t low, int32_t oldSize,
                       int32_t count) {
    bool high = (primary->hash & static_cast<uint32_t>(oldSize)) != 0;
    int32_t taken = high ? low + oldSize : low;
    int32_t left = high ? low : low + oldSize;
    state.slots[taken] = unlinkedCopy(*primary);
    state.slots[left] = Entry{};
    state.bucketCounts[taken] = count;
    state.bucketCounts[left] = 0;
    appendOverflowEntry(state, primary);
}

// Re-inserts every entry of old bucket `primary`, of two or more entries,
// into new buckets `index` and `index` + `oldSize`, which it writes whole
// (an empty one's primary slot all zero, its count 0), and hands its entries
// to the overflow supply. False when some tree node was refused.
bool moveBucket(HashMapState &state, Entry *primary, int32_t index, int32_t oldSize,
                int32_t count) {
    if (count > 0 && count < kTreeBucketEntries) {
        splitChain(state, primary, index, oldSize);
        return true;
    }
    for (int32_t bucket : {index, index + oldSize}) {
        state.slots[bucket] = Entry{};
        state.bucketCounts[bucket] = 0;
    }
    // A tree, or a chain of seven or more (it holds an entry no tree may
    // hold, or a growth was refused a node): entry by entry, so that a new
    // bucket of seven becomes a tree as an add's does.
    bool complete = true;
    auto move = [&](Entry *entry) {
        complete &= reinsert(state, *entry);
        appendOverflowEntry(state, entry);
    };
    Entry *chain = primary->next;
    Node *nil = state.keyLayout->treeNil;
    Node *root = treeRoot(primary);
    move(primary);
    if (count > 0) {
        for (Entry *entry = chain; entry;) {
            Entry *next = entry->next;
            move(entry);
            entry = next;
        }
        return complete;
    }
    // The walk reads only nodes, so an entry handed to the supply (and
    // perhaps taken again) does not disturb it.
    for (Node *node = treeMinimum(root, nil); node; node = treeSuccessor(node, nil))
        move(entryOf(node));
    freeTreeNodes(state.pool, root, nil);
    return complete;
}

}  // namespace

void *findItemKeyFully(const HashMapState &state, const void *key, uint32_t hash) {
    PreparedKey prepared;
    prepareItemKey(*state.keyLayout, key, hash, prepared);
    int32_t bucket = static_cast<int32_t>(hash & static_cast<uint32_t>(state.mask));
    Entry *entry = findInBucket(state, bucket, prepared, OMBRIX_KEY_REFERENCE, true, nullptr);
    return entry ? entry->value : nullptr;
}

// Only a refused growth leaves the count at the threshold: it is tried
// again before the add takes a record, since the supply is then spent. A
// growth completed here stays when the add is then refused (its key copy or
// a tree node): it keeps every entry and their values, and only the table's
// size and the order of a walk differ from before.
inline void retryRefusedGrowth(HashMapState &state) {
    if (state.count >= state.threshold) hashMapListResize(&state);
}

QVStatus hashMapListAddPrepared(HashMapState &state, const Parms &parms, const PreparedKey &key,
                                const void *value) {
    retryRefusedGrowth(state);
    return addPrepared(state, parms, key, nullptr, value);
}

// The add of a copied field (see ShortFind) whose bucket is empty, the
// common case below three quarters load: the record takes the key, and a
// copied value after it, and the primary slot is filled at once. At 1M
// entries the general add's many more steps keep one add's misses from
// overlapping the next add's. False, with nothing done, when the bucket is
// taken, the value is an accumulator or a null copy (the value rule's own
// cases), or a refused growth is pending; then the general add runs.
inline bool addCopiedFieldToEmptyBucket(HashMapState &state, const Parms &parms,
                                        const CopiedFieldKey &field, const void *value,
                                        QVStatus &status) {
    bool pointer = parms.valueMode == OMBRIX_VALUE_POINTER;
    bool copy = parms.valueMode == OMBRIX_VALUE_COPY && value;
    if (state.count >= state.threshold || !(pointer || copy)) return false;
    uint32_t bucket = field.hash & static_cast<uint32_t>(state.mask);
    // Written here, or read by the general add only after the count: asked
    // for now, the slot's miss overlaps the count's.
    __builtin_prefetch(&state.slots[bucket], 1);
    if (state.bucketCounts[bucket] != 0) return false;
    auto *record = static_cast<unsigned char *>(takeRecord(state));
    if (!record) return false;
    copyBytes(record, field.bytes, field.size);
    void *stored = const_cast<void *>(value);
    if (!pointer) {
        const Layout &layout = *state.keyLayout;
        stored = record + layout.keySize;
        copyBytes(stored, value, layout.valueSize);
    }
    status = fillEmptyBucket(state, bucket,
                             Entry{field.hash, record, field.size, stored, nullptr, 0});
    return true;
}

QVStatus hashMapListAddCopiedField(HashMapState &state, const Parms &parms, const void *item,
                                   const void *value) {
    retryRefusedGrowth(state);
    CopiedFieldKey field = copiedFieldKeyOf(state, item);
    QVStatus status;
    if (addCopiedFieldToEmptyBucket(state, parms, field, value, status)) return status;
    return withCopiedFieldRecord(state, field, [&](const PreparedKey &key, void *record) {
        return addPrepared(state, parms, key, record, value);
    });
}

QVStatus hashMapListRemovePrepared(HashMapState &state, const Parms &parms,
                                   const PreparedKey &key) {
    return removePrepared(state, parms, key);
}

void *hashMapListFindPlain(OmbrixHashMap *map, const void *key) {
    if (!key || map->parms->keyMode != OMBRIX_KEY_REFERENCE)
        return hashMapListFindWithKeySize(map, key, 0);
    const HashMapState &state = *hashMapStateOf(map);
    return findItemKey(state, key, itemKeyOf(state, *map->parms, key));
}

// Growth allocates all it needs before it touches the table, so a refused
// block leaves the table as it was. Rebuilding then needs only tree nodes;
// a refused node leaves its bucket a chain (counted positive, possibly
// longer than six), which stays findable and becomes a tree at its next
// add. The table is grown either way, and the growth reports 0x803fc002.
QVStatus hashMapListResize(HashMapState *state) {
    if (!state || !state->bucketCounts) return OMBRIX_OK;
    HashMapState &s = *state;
    int32_t oldSize = s.tableSize;
    if (oldSize > INT32_MAX / 4) return OMBRIX_E_NO_MEMORY;
    int32_t newSize = oldSize * 2;
    int32_t newThreshold = growthThreshold(newSize);
    GrowthBlocks blocks;
    if (!takeGrowthBlocks(s, newSize, newThreshold, blocks)) return OMBRIX_E_NO_MEMORY;

    Entry *oldSlots = s.slots;
    int32_t *oldCounts = s.bucketCounts;
    s.slots = blocks.slots;
    s.bucketCounts = blocks.counts;
    s.tableSize = s.slotCapacity = newSize;
    s.mask = newSize - 1;
    s.threshold = newThreshold;
    s.resizeCount += 1;
    bool complete = true;
    // The entries of old bucket i go to new buckets i and i + oldSize, and
    // only there, so moving it writes both new primary slots and counts
    // whole (moveBucket): the new arrays need no zero fill of their own, and
    // each of their lines is written once. The old chains sit in the
    // overflow supply in the order they were taken; each bucket asks for
    // the chain kMoveLookahead on.
    constexpr int32_t kMoveLookahead = 16;
    for (int32_t i = 0; i < oldSize; ++i) {
        const Entry &ahead = oldSlots[(i + kMoveLookahead) & (oldSize - 1)];
        __builtin_prefetch(ahead.next ? ahead.next : &ahead);
        int32_t count = oldCounts[i];
        if (count == 0 || count == 1)
            moveSingle(s, &oldSlots[i], i, oldSize, count);
        else
            complete &= moveBucket(s, &oldSlots[i], i, oldSize, count);
    }
    poolFree(s.pool, oldCounts);
    if (blocks.records) {
        s.records = blocks.records;
        s.recordCapacity = blocks.recordCount;
        appendRecordBlock(s, blocks.records, blocks.recordCount);
    }
    return complete ? OMBRIX_OK : OMBRIX_E_NO_MEMORY;
}

void hashMapListReleaseBuckets(HashMapState *state, const Parms &parms) {
    HashMapState &s = *state;
    Node *nil = s.keyLayout->treeNil;
    bool copies = copiesKeys(parms);
    for (int32_t b = 0; b < s.tableSize; ++b) {
        int32_t count = s.bucketCounts[b];
        if (count == 0) continue;
        Entry *primary = &s.slots[b];
        if (copies) {
            poolFree(s.pool, primary->key);
            if (count > 0) {
                for (Entry *entry = primary->next; entry; entry = entry->next)
                    poolFree(s.pool, entry->key);
            } else {
                for (Node *node = treeMinimum(treeRoot(primary), nil); node;
                     node = treeSuccessor(node, nil))
                    poolFree(s.pool, entryOf(node)->key);
            }
        }
        if (count < 0) freeTreeNodes(s.pool, treeRoot(primary), nil);
    }
}

}  // namespace omb

using omb::HashMapState;

extern "C" {

OMBRIX_API QVStatus hashMapListAddWithKeySize(OmbrixHashMap *map, const void *key, int32_t keySize,
                                              const void *value) {
    if (!map) return OMBRIX_OK;
    HashMapState &state = *omb::hashMapStateOf(map);
    const OmbrixHashMapParms &parms = *map->parms;
    if (!key) return omb::addNullKey(state, parms, value);
    omb::retryRefusedGrowth(state);
    return omb::withAddKey(state, parms, key, keySize,
                           [&](const omb::PreparedKey &prepared, void *record) {
                               return omb::addPrepared(state, parms, prepared, record, value);
                           });
}

OMBRIX_API void *hashMapListFindWithKeySize(OmbrixHashMap *map, const void *key, int32_t keySize) {
    return omb::findByKey(map, key, keySize, [&](const omb::PreparedKey &prepared) {
        HashMapState &state = *omb::hashMapStateOf(map);
        int32_t bucket = static_cast<int32_t>(prepared.hash & static_cast<uint32_t>(state.mask));
        return omb::findInBucket(state, bucket, prepared, map->parms->keyMode, true, nullptr);
    });
}

OMBRIX_API QVStatus hashMapListRemoveWithKeySize(OmbrixHashMap *map, const void *key,
                                                 int32_t keySize) {
    return omb::removeByKey(map, key, keySize, [&](const omb::PreparedKey &prepared) {
        return omb::hashMapListRemovePrepared(*omb::hashMapStateOf(map), *map->parms, prepared);
    });
}

}  // extern "C"
