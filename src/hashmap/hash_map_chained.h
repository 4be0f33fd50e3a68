// The chained table (tableKind 0). Bucket b is the primary slot slots[b]
// with bucketCounts[b] telling its shape: 0 empty, n > 0 a chain of n
// entries linked through `next` behind the primary slot (newest first), -n
// a tree of the tree engine holding the n - 1 entries beside the primary
// slot, its root in the primary slot's `next`. The primary slot of an empty
// bucket is all zero, so its null key tells a lookup the bucket is empty. A chain turns into a tree
// when it reaches seven entries, and a tree stays a tree until the bucket
// empties or the table grows, unless an entry arrives that no tree may hold
// (see TreePlacement).
#pragma once

#include "hashmap/hash_map.h"

namespace omb {

// Entries a chain reaches before it becomes a tree.
constexpr int32_t kTreeBucketEntries = 7;

// Grows the table once, doubling it: 0, or 0x803fc002 when a block is
// refused (the table as it was) or a bucket tree could not be rebuilt (the
// table grown, that bucket left a chain; see the definition).
QVStatus hashMapListResize(HashMapState *state);

// The find of key size 0 (the plain find) of any key; hashMapFind finds the
// keys of a short find (findItemKey, findCopiedField) itself and calls this
// for the rest.
void *hashMapListFindPlain(OmbrixHashMap *map, const void *key);

// An item key's bucket searched under the full match rule, its hash known.
void *findItemKeyFully(const HashMapState &state, const void *key, uint32_t hash);

// The add of a prepared key that needs no key record (every mode but 0).
QVStatus hashMapListAddPrepared(HashMapState &state, const OmbrixHashMapParms &parms,
                                const PreparedKey &key, const void *value);

// Fills the primary slot of empty bucket `bucket` with a new entry and
// counts it: the add that reaches the threshold grows the table and reports
// the growth's status.
inline QVStatus fillEmptyBucket(HashMapState &state, uint32_t bucket,
                                const OmbrixHashMapEntry &entry) {
    state.slots[bucket] = entry;
    state.bucketCounts[bucket] = 1;
    state.count += 1;
    return state.count >= state.threshold ? hashMapListResize(&state) : OMBRIX_OK;
}

// The add of an item key (see ShortFind) whose bucket is empty, the common
// case below three quarters load: the primary slot is filled at once,
// without the general add's steps. False, with nothing done, when the
// bucket is taken or the entry needs more than its slot (a key copy, a
// value record) or a refused growth is pending; then the general add runs.
inline bool addItemKeyToEmptyBucket(HashMapState &state, const OmbrixHashMapParms &parms,
                                    ItemKey item, const void *value, QVStatus &status) {
    if (state.count >= state.threshold || copiesKeys(parms) ||
        !valuesArePointers(parms, *state.keyLayout))
        return false;
    uint32_t bucket = item.hash & static_cast<uint32_t>(state.mask);
    if (state.bucketCounts[bucket] != 0) return false;
    status = fillEmptyBucket(state, bucket,
                             OmbrixHashMapEntry{item.hash, item.stored, state.keyLayout->keySize,
                                                const_cast<void *>(value), nullptr, 0});
    return true;
}

// The plain add of a mode-0 key that is one field of the item `item` (see
// ShortFind).
QVStatus hashMapListAddCopiedField(HashMapState &state, const OmbrixHashMapParms &parms,
                                   const void *item, const void *value);

// The remove of a prepared key: 0 whether or not the key was there.
QVStatus hashMapListRemovePrepared(HashMapState &state, const OmbrixHashMapParms &parms,
                                   const PreparedKey &key);

// The find of an item key walks its bucket's chain for the item itself:
// the primary slot is tested first, so an identity match is the answer, and
// an empty bucket or a chain's end is a miss. An entry of the key's hash that
// is not the item (another item with an equal key), or a tree bucket, hands
// the search to the full match rule, which then finds that entry first as
// the walk would have.
inline void *findItemKey(const HashMapState &state, const void *key, ItemKey item) {
    uint32_t bucket = item.hash & static_cast<uint32_t>(state.mask);
    const OmbrixHashMapEntry &primary = state.slots[bucket];
    if (primary.key == item.stored) return primary.value;
    // An empty bucket (all zero) is not tested apart from a chain of one:
    // at half load the two shapes are about as common as each other, so that
    // branch was mispredicted often, and at 1M entries each misprediction
    // waits for the slot's load. An empty bucket sends a key of hash 0 to the
    // full rule, which finds nothing there.
    if (primary.hash == item.hash) return findItemKeyFully(state, key, item.hash);
    if (!primary.next) return nullptr;  // an empty bucket or a chain of one
    if (state.bucketCounts[bucket] < 0) return findItemKeyFully(state, key, item.hash);
    for (const OmbrixHashMapEntry *entry = primary.next; entry; entry = entry->next) {
        if (entry->key == item.stored) return entry->value;
        if (entry->hash == item.hash) return findItemKeyFully(state, key, item.hash);
    }
    return nullptr;
}

// The plain find of a mode-0 key that is one field of the item (see
// ShortFind): the bucket's chain walked for an entry of the key's hash and
// bytes, the primary slot first, as the full rule walks it; a tree bucket is
// left to the full rule.
inline void *findCopiedField(OmbrixHashMap *map, const CopiedFieldKey &key) {
    const HashMapState &state = *hashMapStateOf(map);
    uint32_t bucket = key.hash & static_cast<uint32_t>(state.mask);
    const OmbrixHashMapEntry &primary = state.slots[bucket];
    // An empty bucket is told by its null key only behind a matching hash,
    // as in findItemKey.
    if (primary.hash != key.hash) {
        if (!primary.next) return nullptr;  // an empty bucket or a chain of one
    } else if (primary.key && sameKeyBytes(primary.key, key.bytes, key.size)) {
        return primary.value;
    }
    if (state.bucketCounts[bucket] < 0) return hashMapListFindWithKeySize(map, key.bytes, key.size);
    for (const OmbrixHashMapEntry *entry = primary.next; entry; entry = entry->next)
        if (holdsCopiedField(*entry, key)) return entry->value;
    return nullptr;
}

// Gives back what the entries took beyond the map's blocks: bucket tree
// nodes and, under flag 0x80, key copies. The buckets are left as they
// were; reset and destroy clear them next.
void hashMapListReleaseBuckets(HashMapState *state, const OmbrixHashMapParms &parms);

}  // namespace omb
