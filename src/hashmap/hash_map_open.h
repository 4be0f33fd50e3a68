// The open-addressing table (tableKind 1). Every entry lies in `slots`
// within 16 slots of its home bucket (hash AND mask), and the home bucket's
// `hop` has bit i set exactly when slot home + i holds one of its entries,
// so a lookup reads at most 16 slots. The array has 256 spare slots after
// its last bucket: no search wraps around. An entry that cannot be given a
// slot in its neighbourhood hangs in an overflow chain of pool nodes at its
// home bucket's `next`. The hash, key, keySize and value of an entry move
// with it; `next` and `hop` belong to the position.
#pragma once

#include <bit>

#include "hashmap/hash_map.h"

namespace omb {

// Slots of a neighbourhood, and the spare slots after the last bucket: the
// farthest any search for a free slot looks.
constexpr int32_t kNeighbourhood = 16;
constexpr int32_t kSpareSlots = 256;

// Doubles the table: 0, or 0x803fc002 with the table as it was when a block
// is refused or the table is at its largest size.
QVStatus hashMapOpenResize(HashMapState *state);

// Yields in *slotOut a free slot within the neighbourhood of `hash`'s home
// bucket, given the distance of a known free slot from it (256 for none),
// moving entries of other buckets and doubling the table as needed;
// *resizedOut (when given) tells whether it doubled. A null *slotOut with
// status 0 means the key belongs in its home bucket's overflow chain (the
// rule is at the definition). 0x803fc002 when a doubling is refused.
QVStatus hashMapOpenProbe(HashMapState *state, uint32_t hash, int32_t distance,
                          OmbrixHashMapEntry **slotOut, uint8_t *resizedOut);

// The plain find of a mode-0 key that is one field of the item `item` (see
// ShortFind); kSize as copiedFieldKey takes it (made for 0 and 16).
template <int32_t kSize>
void *hashMapOpenFindCopiedField(const HashMapState &state, const void *item);

// The plain add of a mode-0 key that is one field of the item `item` (see
// ShortFind).
QVStatus hashMapOpenAddCopiedField(HashMapState &state, const OmbrixHashMapParms &parms,
                                   const void *item, const void *value);

// The remove of a prepared key: 0 whether or not the key was there.
QVStatus hashMapOpenRemovePrepared(HashMapState &state, const OmbrixHashMapParms &parms,
                                   const PreparedKey &key);

// Gives the overflow nodes back to the pool and clears the chains.
void hashMapOpenReleaseChains(HashMapState *state);

// The open table's operations in the map object's slots.
void hashMapOpenInstall(OmbrixHashMap *map);

// The entries whose home is bucket b: its neighbourhood's, then its chain's.
inline int32_t hashMapOpenMembers(const HashMapState &state, int32_t bucket) {
    int32_t members = std::popcount(state.slots[bucket].hop);
    for (const OmbrixHashMapEntry *node = state.slots[bucket].next; node; node = node->next)
        members += 1;
    return members;
}

}  // namespace omb
