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

// The find of key size 0 (the plain find). An integer field under the
// default hash is found on a short path that walks its bucket's chain for
// the item itself; every other lookup takes a path out of line.
void *hashMapListFindPlain(OmbrixHashMap *map, const void *key);

// Gives back what the entries took beyond the map's blocks: bucket tree
// nodes and, under flag 0x80, key copies. The buckets are left as they
// were; reset and destroy clear them next.
void hashMapListReleaseBuckets(HashMapState *state, const OmbrixHashMapParms &parms);

}  // namespace omb
