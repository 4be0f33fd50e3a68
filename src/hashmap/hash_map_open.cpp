// The open-addressing table: neighbourhoods of 16 slots with hop bitmaps,
// free slots brought home by moving entries of other buckets, doubling
// that builds the new array whole before it replaces the old one, and
// overflow chains for keys no neighbourhood can take.
#include "hashmap/hash_map_open.h"

#include <algorithm>
#include <cstring>

#include "core/export.h"

namespace omb {

namespace {

using Entry = OmbrixHashMapEntry;
using Parms = OmbrixHashMapParms;

// A doubling for placement is refused once the table has this many buckets
// per entry and at least kFreeDoublingSize buckets (see doublingCanHelp).
constexpr int64_t kBucketsPerEntryBound = 8;
constexpr int64_t kFreeDoublingSize = 1 << 16;
// 2^30 buckets is the largest table whose slot counts stay in 32 bits.
constexpr int32_t kLargestTableSize = 1 << 30;

inline int32_t homeOf(uint32_t hash, int32_t mask) {
    return static_cast<int32_t>(hash & static_cast<uint32_t>(mask));
}

// The four members that make an entry, as opposed to its position's
// `next` and `hop`.
inline void moveEntry(Entry &to, Entry &from) {
    to.hash = from.hash;
    to.key = from.key;
    to.keySize = from.keySize;
    to.value = from.value;
    from.hash = 0;
    from.key = nullptr;
    from.keySize = 0;
    from.value = nullptr;
}

// Distance from `bucket` of the first free slot within 255, or 256.
inline int32_t firstFreeDistance(const Entry *slots, int32_t bucket) {
    for (int32_t d = 0; d < kSpareSlots; ++d)
        if (!slots[bucket + d].key) return d;
    return kSpareSlots;
}

// One move of a displacement: the entry at member i of bucket `free` - j
// went to member j, the free slot.
struct Move {
    int32_t free;
    int8_t j, i;
};

// The moves of one displacement, at most one per slot it crosses, so that
// a refused doubling after it can put them back.
struct MoveLog {
    Move moves[kSpareSlots];
    int32_t count = 0;
    void undo(Entry *slots) {
        while (count > 0) {
            const Move &m = moves[--count];
            Entry &owner = slots[m.free - m.j];
            moveEntry(slots[m.free - m.j + m.i], slots[m.free]);
            owner.hop = (owner.hop & ~(1u << m.j)) | (1u << m.i);
        }
    }
};

// Brings the free slot at distance `distance` from `bucket` into its
// neighbourhood: an entry of a bucket B in the 15 buckets before the free
// slot E, lying before E and within B's own neighbourhood of E, moves into
// E, and its old slot is the new free one. Returns the final distance, or
// -1 when no bucket has such an entry (the moves so far keep every
// invariant). Each move brings the free slot at least one slot closer.
int32_t bringHome(Entry *slots, int32_t bucket, int32_t distance, MoveLog *log = nullptr) {
    while (distance >= kNeighbourhood) {
        int32_t free = bucket + distance;
        bool moved = false;
        for (int32_t j = kNeighbourhood - 1; j >= 1 && !moved; --j) {
            Entry &owner = slots[free - j];
            uint32_t before = owner.hop & ((1u << j) - 1u);
            if (!before) continue;
            int32_t i = std::countr_zero(before);
            moveEntry(slots[free], slots[free - j + i]);
            owner.hop = (owner.hop & ~(1u << i)) | (1u << j);
            if (log) log->moves[log->count++] = {free, static_cast<int8_t>(j), static_cast<int8_t>(i)};
            distance = free - j + i - bucket;
            moved = true;
        }
        if (!moved) return -1;
    }
    return distance;
}

// Fills the free slot at `distance` from `bucket` with the entry `made`.
inline void fillSlot(Entry *slots, int32_t bucket, int32_t distance, const Entry &made) {
    Entry &slot = slots[bucket + distance];
    slot.hash = made.hash;
    slot.key = made.key;
    slot.keySize = made.keySize;
    slot.value = made.value;
    slots[bucket].hop |= 1u << distance;
}

// Hangs `made` on the overflow chain of `bucket` in a node from the pool.
inline bool hangInChain(QVWord *pool, Entry *slots, int32_t bucket, const Entry &made) {
    auto *node = static_cast<Entry *>(poolAllocateZeroed(pool, sizeof(Entry)));
    if (!node) return false;
    node->hash = made.hash;
    node->key = made.key;
    node->keySize = made.keySize;
    node->value = made.value;
    node->next = slots[bucket].next;
    slots[bucket].next = node;
    return true;
}

void freeChains(QVWord *pool, Entry *slots, int32_t slotCount) {
    for (int32_t p = 0; p < slotCount; ++p) {
        Entry *node = slots[p].next;
        while (node) {
            Entry *next = node->next;
            poolFree(pool, node);
            node = next;
        }
        slots[p].next = nullptr;
    }
}

// Whether a doubling may give a key of `hash` whose neighbourhood has no
// slot to give a better chance than its home bucket's overflow chain.
//
// The bound on doubling: keys that share one hash, or share the hash bits
// above the mask, keep their distances from one another through every
// doubling, so doubling for them would go on until memory runs out. A
// placement therefore doubles only when (1) some entry of the occupied run
// that ends at the free slot `bucket + distance` differs from the key in the
// hash bits above the mask, so that some doubling takes it or the key
// elsewhere (entries homed before the bucket count too: they crowd its
// neighbourhood from below), and (2) the table is
// below 2^16 buckets (a 3 MiB slot array) or has fewer than 8 buckets per
// entry, and is below its largest size. Otherwise the key goes into the
// overflow chain. Doublings for placement thus never take the table past
// 2^17 or 16 × (count + 1) buckets, whichever is more, the threshold's past
// 8/3 × count or its initial size; the record blocks hold three quarters
// of the buckets, and the overflow nodes at most one per entry. Below 2^16
// buckets keys of one home bucket and different hashes always double apart.
bool doublingCanHelp(const HashMapState &state, int32_t bucket, int32_t distance, uint32_t hash) {
    if (state.tableSize >= kLargestTableSize) return false;
    int64_t bound = std::max(kFreeDoublingSize,
                             kBucketsPerEntryBound * (static_cast<int64_t>(state.count) + 1));
    if (state.tableSize >= bound) return false;
    uint32_t above = ~static_cast<uint32_t>(state.mask);
    int32_t first = bucket;
    while (first > 0 && state.slots[first - 1].key) --first;
    for (int32_t p = first; p < bucket + distance; ++p) {
        const Entry &slot = state.slots[p];
        if (slot.key && ((slot.hash ^ hash) & above)) return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Lookup

// Where a key was found: a slot of its home bucket's neighbourhood (`bit`
// its distance) or a node of the chain (`bit` -1, `before` its predecessor,
// null at the head).
struct Located {
    Entry *entry;
    Entry *before;
    int32_t bucket;
    int32_t bit;
};

// The home slot is tried first, so that the likeliest place of a key is
// compared at once and a hit there is the fall-through. It may hold an entry
// moved there from an earlier bucket, which an identity match would
// otherwise take, so bit 0 of its hop word must say it holds a member. A
// `match` that requires the key's hash (kMatchTestsHash) needs only an
// occupied slot: an entry of the key's hash in its home slot is a member,
// and the hop word, at the slot's end, may lie in another cache line.
// `match` is asked only about members.
template <bool kMatchTestsHash = false, typename Match>
inline Located locate(const HashMapState &state, uint32_t hash, Match match) {
    uint32_t bucket = hash & static_cast<uint32_t>(state.mask);  // widens without an instruction
    Entry &home = state.slots[bucket];
    int32_t b = static_cast<int32_t>(bucket);
    bool homeMember = kMatchTestsHash ? home.key != nullptr : (home.hop & 1u) != 0;
    if (__builtin_expect(homeMember && match(home), 1)) return {&home, nullptr, b, 0};
    for (uint32_t hop = home.hop & ~1u; hop; hop &= hop - 1) {
        int32_t bit = std::countr_zero(hop);
        if (match((&home)[bit])) return {&home + bit, nullptr, b, bit};
    }
    Entry *before = nullptr;
    for (Entry *node = home.next; node; before = node, node = node->next)
        if (match(*node)) return {node, before, b, -1};
    return {nullptr, nullptr, b, -1};
}

inline Entry *locateKey(const HashMapState &state, const Parms &parms, const PreparedKey &key,
                        bool byIdentity) {
    return locate(state, key.hash, [&](const Entry &entry) {
               return entryMatches(entry, key, parms.keyMode, byIdentity);
           }).entry;
}

// ---------------------------------------------------------------------------
// Adding

// Places the new entry `made`, not in the table and whose home slot is
// taken, into a slot of its neighbourhood or into its home bucket's chain.
[[gnu::noinline]] QVStatus placeCrowded(HashMapState &state, const Entry &made) {
    int32_t distance = firstFreeDistance(state.slots, homeOf(made.hash, state.mask));
    Entry *slot = nullptr;
    if (distance < kNeighbourhood) {
        slot = &state.slots[homeOf(made.hash, state.mask) + distance];
    } else {
        QVStatus status = hashMapOpenProbe(&state, made.hash, distance, &slot, nullptr);
        if (status != OMBRIX_OK) return status;
    }
    int32_t bucket = homeOf(made.hash, state.mask);
    if (!slot)
        return hangInChain(state.pool, state.slots, bucket, made) ? OMBRIX_OK : OMBRIX_E_NO_MEMORY;
    fillSlot(state.slots, bucket, static_cast<int32_t>(slot - &state.slots[bucket]), made);
    return OMBRIX_OK;
}

// Places the new entry `made`, not in the table: its home slot when free.
inline QVStatus placeNew(HashMapState &state, const Entry &made) {
    int32_t bucket = homeOf(made.hash, state.mask);
    if (state.slots[bucket].key) return placeCrowded(state, made);
    fillSlot(state.slots, bucket, 0, made);
    return OMBRIX_OK;
}

// A new entry counts; the add that reaches the threshold doubles the table
// and reports the doubling's status, the entry stored either way.
inline QVStatus countNew(HashMapState &state) {
    state.count += 1;
    return state.count >= state.threshold ? hashMapOpenResize(&state) : OMBRIX_OK;
}

// Only a refused doubling leaves the count at the threshold. The next add
// of a new key tries the doubling first and, refused again, changes
// nothing, so the count stays below the threshold. A present key's add
// needs no room, except in mode 0, whose key is built in a record: it tries
// first too.
inline QVStatus roomForNew(HashMapState &state) {
    return state.count >= state.threshold ? hashMapOpenResize(&state) : OMBRIX_OK;
}

// The add after key preparation; `record` is the mode-0 record holding the
// key, kept by a new entry and given back otherwise.
QVStatus addPrepared(HashMapState &state, const Parms &parms, const PreparedKey &key, void *record,
                     const void *value) {
    const HashMapKeyLayout &layout = *state.keyLayout;
    if (Entry *existing = locateKey(state, parms, key, true)) {
        if (record) giveBackRecord(state, record);
        return assignValue(state, parms, *existing, recordValueStorage(parms, layout, *existing),
                           value);
    }
    Entry made;
    QVStatus status = roomForNew(state);
    if (status == OMBRIX_OK) status = makeEntry(state, parms, key, value, made);
    if (status == OMBRIX_OK) {
        status = placeNew(state, made);
        if (status != OMBRIX_OK) unmakeEntry(state, parms, made);
    }
    if (status != OMBRIX_OK) {
        if (record) giveBackRecord(state, record);
        return status;
    }
    return countNew(state);
}

// The fast forms serve an open table of pointer keys (mode 2) whose layout
// has a direct key, or none for the pointer forms; the adds, pointer
// values too. Any other map is served by the plain forms.
inline bool servesFast(const OmbrixHashMap *map, bool direct, bool adds) {
    const Parms &parms = *map->parms;
    return parms.tableKind == OMBRIX_TABLE_OPEN && parms.keyMode == OMBRIX_KEY_REFERENCE &&
           (hashMapStateOf(const_cast<OmbrixHashMap *>(map))->keyLayout->directKey != 0) ==
               direct &&
           (!adds || parms.valueMode == OMBRIX_VALUE_POINTER);
}

// The fast forms' tests: a direct key by its hash, then the same field or
// equal field bytes; a pointer key's find by the pointer alone, its add by
// the hash too (a sized add may have stored the same pointer under the
// hash of another size, in the same home bucket).
inline bool sameDirectKey(const Entry &entry, const ItemKey &key, int32_t size) {
    return entry.hash == key.hash &&
           (entry.key == key.stored || sameKeyBytes(entry.key, key.stored, size));
}
inline bool samePointerKey(const Entry &entry, const ItemKey &key, int32_t) {
    return entry.key == key.stored;
}
inline bool samePointerAndHash(const Entry &entry, const ItemKey &key, int32_t) {
    return entry.hash == key.hash && entry.key == key.stored;
}
using SameItemKey = bool (*)(const Entry &, const ItemKey &, int32_t);

// The fast forms' item key: a direct key or the pointer, as `Same` tests it.
template <SameItemKey Same>
inline ItemKey fastItemKey(const HashMapState &state, const Parms &parms, const void *key) {
    if constexpr (Same == samePointerKey)
        return pointerItemKey(parms, key);
    else
        return itemKeyOf(state, parms, key);
}

// The fast forms' search of an item key's neighbourhood and chain.
template <SameItemKey Same>
inline Entry *locateItemKey(const HashMapState &state, const ItemKey &key) {
    int32_t size = state.keyLayout->keySize;
    return locate<Same != samePointerKey>(state, key.hash, [&](const Entry &entry) {
               return Same(entry, key, size);
           }).entry;
}

// The fast adds: a pointer value, no records.
template <SameItemKey Same>
QVStatus addFast(OmbrixHashMap *map, const void *key, const void *value) {
    HashMapState &state = *hashMapStateOf(map);
    if (!key) return addNullKey(state, *map->parms, value);
    ItemKey item = fastItemKey<Same>(state, *map->parms, key);
    constexpr SameItemKey kAddSame = Same == samePointerKey ? samePointerAndHash : Same;
    if (Entry *existing = locateItemKey<kAddSame>(state, item)) {
        existing->value = const_cast<void *>(value);
        return OMBRIX_OK;
    }
    QVStatus status = roomForNew(state);
    if (status != OMBRIX_OK) return status;
    Entry made = {};
    made.hash = item.hash;
    made.key = item.stored;
    made.keySize = state.keyLayout->keySize;
    made.value = const_cast<void *>(value);
    status = placeNew(state, made);
    return status == OMBRIX_OK ? countNew(state) : status;
}

template <SameItemKey Same>
void *findFast(OmbrixHashMap *map, const void *key) {
    HashMapState &state = *hashMapStateOf(map);
    if (!key) return nullKeyValue(state);
    Entry *entry =
        locateItemKey<Same>(state, fastItemKey<Same>(state, *map->parms, key));
    return entry ? entry->value : nullptr;
}

// An item key's neighbourhood and chain searched under the full rule.
[[gnu::noinline]] void *findDirectKeyFully(const HashMapState &state, ItemKey item) {
    Entry *entry = locateItemKey<sameDirectKey>(state, item);
    return entry ? entry->value : nullptr;
}

// The find of an integer field, the common item key. The item itself in
// its home slot under its own hash is the first entry the full rule would
// take there, and the likeliest answer. Otherwise the walk finds the first
// entry of the key's hash: when it holds the item itself it is the answer,
// and otherwise the full rule takes over.
inline void *findIntField(const HashMapState &state, ItemKey item) {
    const Entry &home = state.slots[item.hash & static_cast<uint32_t>(state.mask)];
    if (__builtin_expect(home.key == item.stored && home.hash == item.hash, 1)) return home.value;
    const Entry *entry = locate<true>(state, item.hash, [&](const Entry &candidate) {
                             return candidate.hash == item.hash;
                         }).entry;
    if (entry && entry->key == item.stored) return entry->value;
    return entry ? findDirectKeyFully(state, item) : nullptr;
}

// The find of a pointer key under the default hash, as findIntField: the
// pointer is the whole key, so identity is the whole match rule.
inline void *findPointer(const HashMapState &state, const void *key) {
    const Entry *entry = locate(state, defaultPointerHash(reinterpret_cast<uintptr_t>(key)),
                                [&](const Entry &candidate) { return candidate.key == key; })
                             .entry;
    return entry ? entry->value : nullptr;
}

// hashMapOpenPtrFind's maps other than those findPointer serves.
[[gnu::noinline]] void *findOtherPointerKey(OmbrixHashMap *map, const void *key) {
    if (!servesFast(map, false, false)) return hashMapFind(map, key);
    return findFast<samePointerKey>(map, key);
}

// hashMapOpenFind's keys other than an integer field, and maps its fast
// form does not serve.
[[gnu::noinline]] void *findOtherDirectKey(OmbrixHashMap *map, const void *item) {
    if (!servesFast(map, true, false)) return hashMapFind(map, item);
    return findFast<sameDirectKey>(map, item);
}

// ---------------------------------------------------------------------------
// Removing

// The remove matches as the find does, the stored pointer first (the
// chained table's remove compares by hash and bytes alone).
QVStatus removePrepared(HashMapState &state, const Parms &parms, const PreparedKey &key) {
    Located found = locate(state, key.hash, [&](const Entry &entry) {
        return entryMatches(entry, key, parms.keyMode, true);
    });
    if (!found.entry) return OMBRIX_OK;
    Entry leaving = *found.entry;
    if (found.bit >= 0) {
        Entry unused;
        moveEntry(unused, *found.entry);
        state.slots[found.bucket].hop &= ~(1u << found.bit);
    } else {
        Entry *&link = found.before ? found.before->next : state.slots[found.bucket].next;
        link = found.entry->next;
        poolFree(state.pool, found.entry);
    }
    releaseEntryStorage(state, parms, leaving);
    state.count -= 1;
    return OMBRIX_OK;
}

// ---------------------------------------------------------------------------
// Doubling

// What a doubling takes before it changes the map: the new array, and the
// new record block with the old one entered in recordBlocks.
struct Doubling {
    int32_t tableSize;
    int32_t slotCapacity;
    int32_t threshold;
    Entry *slots = nullptr;
    unsigned char *records = nullptr;
    int32_t recordCount = 0;
    bool madeRecordList = false;
    bool retiredRecords = false;
    // The new array is not zero-filled when it is taken: the slots below
    // lowCleared and from half to highCleared are (see clearAhead).
    int32_t lowCleared = 0;
    int32_t highCleared = 0;
    bool oldHasChains = false;
};

// Zeroes the new array's slots [from, to), when to is beyond from.
void clearSlots(Doubling &doubling, int32_t &from, int32_t to) {
    if (to <= from) return;
    std::memset(static_cast<void *>(&doubling.slots[from]), 0,
                sizeof(Entry) * static_cast<size_t>(to - from));
    from = to;
}

// The entries of old slot p have their home within 15 buckets before p, so
// their new homes h and h + half lie at most p and p + half; a placement
// reaches at most 255 slots beyond its home. Clearing that far ahead, a run
// at a time while the lines are about to be written anyway, spares the new
// array a zero fill of its own.
void clearAhead(Doubling &doubling, int32_t p) {
    constexpr int32_t kClearRun = 64;
    int32_t half = doubling.tableSize / 2;
    int32_t lowNeed = std::min(p + kSpareSlots, half);
    int32_t highNeed = std::min(p + half + kSpareSlots, doubling.slotCapacity);
    if (doubling.lowCleared < lowNeed)
        clearSlots(doubling, doubling.lowCleared, std::min(lowNeed + kClearRun, half));
    if (doubling.highCleared < highNeed)
        clearSlots(doubling, doubling.highCleared,
                   std::min(highNeed + kClearRun, doubling.slotCapacity));
}

void clearRest(Doubling &doubling) {
    clearSlots(doubling, doubling.lowCleared, doubling.tableSize / 2);
    clearSlots(doubling, doubling.highCleared, doubling.slotCapacity);
}

void dropDoubling(HashMapState &state, Doubling &doubling) {
    if (doubling.slots) {
        clearRest(doubling);
        freeChains(state.pool, doubling.slots, doubling.slotCapacity);
    }
    poolFree(state.pool, doubling.slots);
    poolFree(state.pool, doubling.records);
    if (doubling.retiredRecords) state.recordBlocks->count -= 1;
    if (doubling.madeRecordList) {
        thinArrayListDestroy(state.recordBlocks);
        state.recordBlocks = nullptr;
    }
}

bool takeDoublingBlocks(HashMapState &state, Doubling &doubling) {
    const HashMapKeyLayout &layout = *state.keyLayout;
    doubling.slots = static_cast<Entry *>(
        poolAllocate(state.pool, sizeof(Entry) * static_cast<uint64_t>(doubling.slotCapacity), 0));
    if (!doubling.slots) return false;
    doubling.highCleared = doubling.tableSize / 2;
    if (!state.records) return true;
    // The new block holds what the threshold grew by, and the old blocks'
    // free records stay on the list, so the supply always equals the
    // threshold. Sizing it as the new threshold less the current block and
    // dropping the old free records instead could leave too few after a
    // doubling that crowding forced below the threshold.
    doubling.recordCount = doubling.threshold - state.threshold;
    doubling.records = static_cast<unsigned char *>(poolAllocate(
        state.pool,
        static_cast<uint64_t>(doubling.recordCount) * static_cast<uint64_t>(layout.recordStride),
        0));
    if (!doubling.records) return false;
    doubling.retiredRecords = retireBlock(state.pool, state.recordBlocks, doubling.madeRecordList,
                                          state.recordCapacity, state.records);
    return doubling.retiredRecords;
}

// Places an entry of the old table into the new array, whose home slot is
// taken: a slot of its neighbourhood when one can be brought home, else a
// fresh node of its chain. False when that node is refused.
[[gnu::noinline]] bool replaceCrowded(QVWord *pool, const Doubling &doubling, int32_t bucket,
                                      const Entry &entry) {
    int32_t distance = firstFreeDistance(doubling.slots, bucket);
    if (distance < kSpareSlots) distance = bringHome(doubling.slots, bucket, distance);
    if (distance >= 0 && distance < kSpareSlots) {
        fillSlot(doubling.slots, bucket, distance, entry);
        return true;
    }
    return hangInChain(pool, doubling.slots, bucket, entry);
}

// Most entries find their home slot free in the new array, which is half
// as full as the old: those are placed without a call.
inline bool replace(QVWord *pool, const Doubling &doubling, const Entry &entry) {
    int32_t bucket = homeOf(entry.hash, doubling.tableSize - 1);
    if (doubling.slots[bucket].key) return replaceCrowded(pool, doubling, bucket, entry);
    fillSlot(doubling.slots, bucket, 0, entry);
    return true;
}

// Every entry of the old array, slot by slot (each slot's entry, then its
// chain from the head), into the new one.
bool replaceAll(const HashMapState &state, Doubling &doubling) {
    for (int32_t p = 0; p < state.slotCapacity; ++p) {
        clearAhead(doubling, p);
        const Entry &slot = state.slots[p];
        if (slot.key && !replace(state.pool, doubling, slot)) return false;
        for (const Entry *node = slot.next; node; node = node->next) {
            doubling.oldHasChains = true;
            if (!replace(state.pool, doubling, *node)) return false;
        }
    }
    clearRest(doubling);
    return true;
}

void installDoubling(HashMapState &state, Doubling &doubling) {
    if (doubling.oldHasChains) freeChains(state.pool, state.slots, state.slotCapacity);
    poolFree(state.pool, state.slots);
    state.slots = doubling.slots;
    state.tableSize = doubling.tableSize;
    state.mask = doubling.tableSize - 1;
    state.slotCapacity = doubling.slotCapacity;
    state.threshold = doubling.threshold;
    state.resizeCount += 1;
    if (doubling.records) {
        state.records = doubling.records;
        state.recordCapacity = doubling.recordCount;
        appendRecordBlock(state, doubling.records, doubling.recordCount);
    }
}

}  // namespace

QVStatus hashMapOpenAddCopiedField(HashMapState &state, const Parms &parms, const void *item,
                                   const void *value) {
    QVStatus status = roomForNew(state);
    if (status != OMBRIX_OK) return status;
    return withCopiedFieldRecord(state, item, [&](const PreparedKey &key, void *record) {
        return addPrepared(state, parms, key, record, value);
    });
}

QVStatus hashMapOpenRemovePrepared(HashMapState &state, const Parms &parms,
                                   const PreparedKey &key) {
    return removePrepared(state, parms, key);
}

// The new array is built whole, its overflow nodes fresh ones, before it
// replaces the old: a refused block leaves the array, geometry, chains and
// records as they were.
QVStatus hashMapOpenResize(HashMapState *state) {
    if (!state) return OMBRIX_OK;
    HashMapState &s = *state;
    if (s.tableSize >= kLargestTableSize) return OMBRIX_E_NO_MEMORY;
    Doubling doubling;
    doubling.tableSize = s.tableSize * 2;
    doubling.slotCapacity = doubling.tableSize + kSpareSlots;
    doubling.threshold = growthThreshold(doubling.tableSize);
    if (!takeDoublingBlocks(s, doubling) || !replaceAll(s, doubling)) {
        dropDoubling(s, doubling);
        return OMBRIX_E_NO_MEMORY;
    }
    installDoubling(s, doubling);
    return OMBRIX_OK;
}

QVStatus hashMapOpenProbe(HashMapState *state, uint32_t hash, int32_t distance, Entry **slotOut,
                          uint8_t *resizedOut) {
    HashMapState &s = *state;
    *slotOut = nullptr;
    if (resizedOut) *resizedOut = 0;
    MoveLog log;
    for (;;) {
        int32_t bucket = homeOf(hash, s.mask);
        if (distance < kSpareSlots) {
            log.count = 0;
            int32_t home = bringHome(s.slots, bucket, distance, &log);
            if (home >= 0) {
                *slotOut = &s.slots[bucket + home];
                return OMBRIX_OK;
            }
        }
        bool doubles = doublingCanHelp(s, bucket, distance, hash);
        QVStatus status = doubles ? hashMapOpenResize(state) : OMBRIX_OK;
        if (!doubles || status != OMBRIX_OK) {
            // The moves that led nowhere go back: the table is as the
            // last completed step left it, and a chain node refused after
            // them leaves it so too.
            log.undo(s.slots);
            return status;
        }
        log.count = 0;
        if (resizedOut) *resizedOut = 1;
        distance = firstFreeDistance(s.slots, homeOf(hash, s.mask));
    }
}

template <int32_t kSize>
void *hashMapOpenFindCopiedField(const HashMapState &state, const void *item) {
    CopiedFieldKey key = copiedFieldKey<kSize>(state, item);
    Entry *entry = locate<true>(state, key.hash, [&](const Entry &candidate) {
                       return holdsCopiedField(candidate, key);
                   }).entry;
    return entry ? entry->value : nullptr;
}
template void *hashMapOpenFindCopiedField<0>(const HashMapState &, const void *);
template void *hashMapOpenFindCopiedField<16>(const HashMapState &, const void *);

void hashMapOpenReleaseChains(HashMapState *state) {
    freeChains(state->pool, state->slots, state->slotCapacity);
}

}  // namespace omb

using omb::HashMapState;

extern "C" {

OMBRIX_API QVStatus hashMapOpenAddWithKeySize(OmbrixHashMap *map, const void *key, int32_t keySize,
                                              const void *value) {
    if (!map) return OMBRIX_OK;
    HashMapState &state = *omb::hashMapStateOf(map);
    const OmbrixHashMapParms &parms = *map->parms;
    if (!key) return omb::addNullKey(state, parms, value);
    if (parms.keyMode == OMBRIX_KEY_COMPOSITE) {
        QVStatus status = omb::roomForNew(state);
        if (status != OMBRIX_OK) return status;
    }
    return omb::withAddKey(state, parms, key, keySize,
                           [&](const omb::PreparedKey &prepared, void *record) {
                               return omb::addPrepared(state, parms, prepared, record, value);
                           });
}

OMBRIX_API void *hashMapOpenFindWithKeySize(OmbrixHashMap *map, const void *key, int32_t keySize) {
    return omb::findByKey(map, key, keySize, [&](const omb::PreparedKey &prepared) {
        return omb::locateKey(*omb::hashMapStateOf(map), *map->parms, prepared, true);
    });
}

OMBRIX_API QVStatus hashMapOpenRemoveWithKeySize(OmbrixHashMap *map, const void *key,
                                                 int32_t keySize) {
    return omb::removeByKey(map, key, keySize, [&](const omb::PreparedKey &prepared) {
        return omb::hashMapOpenRemovePrepared(*omb::hashMapStateOf(map), *map->parms, prepared);
    });
}

OMBRIX_API QVStatus hashMapOpenAdd(OmbrixHashMap *map, const void *item, const void *value) {
    if (!map) return OMBRIX_OK;
    if (!omb::servesFast(map, true, true)) return hashMapAdd(map, item, value);
    return omb::addFast<omb::sameDirectKey>(map, item, value);
}

OMBRIX_API QVStatus hashMapOpenPtrAdd(OmbrixHashMap *map, const void *key, const void *value) {
    if (!map) return OMBRIX_OK;
    if (!omb::servesFast(map, false, true)) return hashMapAdd(map, key, value);
    return omb::addFast<omb::samePointerKey>(map, key, value);
}

// An integer field is found after one test, as hashMapFind finds it in the
// chained table; every other key out of line, so that this path needs no
// frame.
OMBRIX_API void *hashMapOpenFind(OmbrixHashMap *map, const void *item) {
    if (!map) return nullptr;
    const HashMapState &state = *omb::hashMapStateOf(map);
    if (__builtin_expect(state.shortFind == omb::kIntFieldOpen && item != nullptr, 1))
        return omb::findIntField(state, omb::intFieldItemKey(state, item));
    return omb::findOtherDirectKey(map, item);
}

OMBRIX_API void *hashMapOpenPtrFind(OmbrixHashMap *map, const void *key) {
    if (!map) return nullptr;
    const HashMapState &state = *omb::hashMapStateOf(map);
    if (__builtin_expect(state.shortFind == omb::kPointerOpen && key != nullptr, 1))
        return omb::findPointer(state, key);
    return omb::findOtherPointerKey(map, key);
}

}  // extern "C"

namespace omb {

void hashMapOpenInstall(OmbrixHashMap *map) {
    const OmbrixHashMapParms &parms = *map->parms;
    const HashMapKeyLayout &layout = *hashMapStateOf(map)->keyLayout;
    map->addWithKeySize = hashMapOpenAddWithKeySize;
    map->removeWithKeySize = hashMapOpenRemoveWithKeySize;
    map->findWithKeySize = hashMapOpenFindWithKeySize;
    if (parms.keyMode != OMBRIX_KEY_REFERENCE) return;
    // Mode 2 has either one direct part or no parts at all.
    if (parms.valueMode == OMBRIX_VALUE_POINTER)
        map->add = layout.directKey ? hashMapOpenAdd : hashMapOpenPtrAdd;
    map->find = layout.directKey ? hashMapOpenFind : hashMapOpenPtrFind;
}

}  // namespace omb
