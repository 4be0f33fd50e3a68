// The hash map's construction and front end: the object, the key layout,
// the sizing of the table, and the operations common to every table kind.
#include "hashmap/hash_map.h"

#include <cmath>

#include "core/container.h"
#include "core/export.h"
#include "hashmap/hash_map_chained.h"
#include "hashmap/hash_map_open.h"

namespace omb {

namespace {

constexpr const char *kPoolName = "ombrixh";
constexpr int32_t kDefaultTableSize = 32;
// 2^30 buckets is the largest table whose slot counts stay in 32 bits.
constexpr int32_t kLargestTableExponent = 30;

using Parms = OmbrixHashMapParms;
using Entry = OmbrixHashMapEntry;

// The table size for `capacity`: 2 raised to ceil(log2(capacity)), 32 for a
// capacity of 1 or less; 0 when it would not fit.
int32_t tableSizeFor(int32_t capacity) {
    int32_t size = capacity > 1 ? capacity : kDefaultTableSize;
    double exponent = std::ceil(::log2(static_cast<double>(size)));
    if (exponent > kLargestTableExponent) return 0;
    return static_cast<int32_t>(1) << static_cast<int>(exponent);
}

// The primary slots and, behind them, an overflow entry for each entry the
// table holds before it grows: seven quarters, in single precision.
int32_t chainedSlotsFor(int32_t tableSize) {
    return static_cast<int32_t>(static_cast<float>(tableSize) * 1.75f);
}

bool hasParts(const Parms &parms) {
    return parms.keyPartCount > 0 && parms.keyParts;
}

// The parts as a bucket tree reaches them: from the entry through its `key`
// member, part i at the sum of the sizes before it.
OmbrixKeyPart *treePartsFor(QVWord *pool, const OmbrixKeyPart *parts, int32_t count) {
    auto *treeParts = static_cast<OmbrixKeyPart *>(
        poolAllocateZeroed(pool, sizeof(OmbrixKeyPart) * static_cast<uint64_t>(count)));
    if (!treeParts) return nullptr;
    int32_t offset = 0;
    for (int32_t i = 0; i < count; ++i) {
        treeParts[i] = parts[i];
        treeParts[i].levels = 2;
        for (int32_t &o : treeParts[i].offsets) o = 0;
        treeParts[i].offsets[0] = offsetof(Entry, key);
        treeParts[i].offsets[1] = offset;
        offset += parts[i].partSize;
    }
    return treeParts;
}

// Without parts the bucket trees compare keySize bytes at the entry's `key`.
OmbrixKeyPart *wholeKeyTreePart(QVWord *pool) {
    OmbrixKeyPart whole = {};
    whole.levels = 1;
    return treePartsFor(pool, &whole, 1);
}

bool usesKeyPartCopy(const Parms &parms) {
    return (parms.keyMode == OMBRIX_KEY_COMPOSITE || parms.keyMode == OMBRIX_KEY_REFERENCE) &&
           hasParts(parms);
}

// The table's slots, the chained table's counts, and the records, linked
// as free lists.
bool allocateTable(QVWord *pool, HashMapState *state, bool chained) {
    const HashMapKeyLayout &layout = *state->keyLayout;
    state->slots = static_cast<Entry *>(
        poolAllocateZeroed(pool, sizeof(Entry) * static_cast<uint64_t>(state->slotCapacity)));
    if (!state->slots) return false;
    if (chained) {
        state->bucketCounts = static_cast<int32_t *>(
            poolAllocateZeroed(pool, sizeof(int32_t) * static_cast<uint64_t>(state->tableSize)));
        if (!state->bucketCounts) return false;
    }
    if (layout.recordSize != 0) {
        uint64_t bytes = static_cast<uint64_t>(state->recordCapacity) *
                         static_cast<uint64_t>(layout.recordStride);
        state->records = static_cast<unsigned char *>(poolAllocate(pool, bytes, 0));
        if (!state->records) return false;
    }
    hashMapResetEntries(state);
    return true;
}

// The current record block, zeroed, as the whole record free list.
void relinkCurrentRecords(HashMapState &state) {
    state.recordFree = nullptr;
    state.recordFreeTail = nullptr;
    appendRecordBlock(state, state.records, state.recordCapacity);
}

// Every block the map took, given back to its pool; the pool itself is the
// caller's business.
void releaseBlocks(HashMapObject *object) {
    HashMapState &state = object->state;
    QVWord *pool = state.pool;
    Parms *parms = object->head.parms;
    HashMapKeyLayout *layout = state.keyLayout;
    for (OmbrixThinArrayList *retired : {state.recordBlocks, state.nodeBlocks}) {
        if (!retired) continue;
        auto *blocks = static_cast<RetiredBlock *>(retired->elements);
        for (int32_t i = 0; i < retired->count; ++i) poolFree(pool, blocks[i].block);
        thinArrayListDestroy(retired);
    }
    poolFree(pool, state.slots);
    poolFree(pool, state.bucketCounts);
    poolFree(pool, state.records);
    poolFree(pool, state.nullEntry);
    if (parms) {
        if (usesKeyPartCopy(*parms)) poolFree(pool, parms->keyParts);
        poolFree(pool, parms);
    }
    if (layout) {
        poolFree(pool, layout->treeParts);
        poolFree(pool, layout->treeNil);
        poolFree(pool, layout);
    }
    poolFree(pool, object);
}

void fillOperations(OmbrixHashMap *map) {
    map->destroy = hashMapDestroy;
    map->add = hashMapAdd;
    map->remove = hashMapRemove;
    map->find = hashMapFind;
    map->addWithKeySize = hashMapListAddWithKeySize;
    map->removeWithKeySize = hashMapListRemoveWithKeySize;
    map->findWithKeySize = hashMapListFindWithKeySize;
    map->size = hashMapSize;
    map->getKeySize = hashMapGetKeySize;
    map->reset = hashMapReset;
    map->iterator = hashMapIterator;
    map->entryIterator = hashMapEntryIterator;
    map->stat = hashMapStat;
    if (map->parms->tableKind == OMBRIX_TABLE_OPEN) hashMapOpenInstall(map);
    // toBlob, getBlobSize, merge, mergeFromBlob and clone stay null until
    // those operations are built in.
}

// Every record of the current block and of the retired ones back on the
// free list: the current block in order, then the retired blocks from the
// last retired to the first, each from its last record to its first, pushed
// on the front.
void resetRecords(HashMapState &state) {
    relinkCurrentRecords(state);
    if (!state.recordBlocks) return;
    const HashMapKeyLayout &layout = *state.keyLayout;
    auto *blocks = static_cast<RetiredBlock *>(state.recordBlocks->elements);
    for (int32_t i = state.recordBlocks->count - 1; i >= 0; --i) {
        auto *block = static_cast<unsigned char *>(blocks[i].block);
        for (int32_t r = blocks[i].count - 1; r >= 0; --r) {
            unsigned char *record = block + static_cast<int64_t>(r) * layout.recordStride;
            std::memset(record, 0, static_cast<size_t>(layout.recordStride));
            giveBackRecord(state, record);
        }
    }
}

// After growth the overflow supply is every retired slot array, from the
// last retired to the first, each entry cleared.
void resetRetiredSlots(HashMapState &state) {
    state.nodeFree = nullptr;
    state.nodeFreeTail = nullptr;
    auto *blocks = static_cast<RetiredBlock *>(state.nodeBlocks->elements);
    for (int32_t i = state.nodeBlocks->count - 1; i >= 0; --i) {
        auto *entries = static_cast<Entry *>(blocks[i].block);
        for (int32_t e = 0; e < blocks[i].count; ++e) {
            Entry &entry = entries[e];
            entry.hash = 0;
            entry.key = nullptr;
            entry.keySize = 0;
            entry.value = nullptr;
            entry.next = nullptr;
            if (state.nodeFreeTail)
                state.nodeFreeTail->next = &entry;
            else
                state.nodeFree = &entry;
            state.nodeFreeTail = &entry;
        }
    }
}

}  // namespace

bool buildKeyLayout(QVWord *pool, Parms *parms, HashMapKeyLayout *layout) {
    layout->valueSize = parms->valueSize;
    if (!hasParts(*parms)) {
        layout->keySize = 8;
        layout->treeParts = wholeKeyTreePart(pool);
        layout->treeParms.keyMode = OMBRIX_KEY_VARIABLE;
    } else {
        const OmbrixKeyPart *parts = parms->keyParts;
        int32_t count = parms->keyPartCount;
        if (count == 1 && parts[0].levels == 1) {
            layout->directKey = 1;
            layout->directOffset = parts[0].offsets[0];
            layout->intKey = parts[0].partType == OMBRIX_PART_INT32;
            layout->int64Key = parts[0].partType == OMBRIX_PART_INT64;
        }
        if (usesKeyPartCopy(*parms)) {
            bool failed = false;
            parms->keyParts = copyKeyParts(pool, parts, count, &failed);
            if (failed) return false;
            int64_t sum = 0;
            for (int32_t i = 0; i < count; ++i) sum += parts[i].partSize;
            if (sum <= 0 || sum > INT32_MAX) return false;
            layout->keySize = static_cast<int32_t>(sum);
        }
        if (parms->keyMode == OMBRIX_KEY_REFERENCE && !layout->directKey) return false;
        layout->treeParts = treePartsFor(pool, parts, count);
        layout->treeParms.keyMode = OMBRIX_KEY_REFERENCE;
    }
    if (!layout->treeParts) return false;
    layout->treeParms.keyPartCount = hasParts(*parms) ? parms->keyPartCount : 1;
    layout->treeParms.keyParts = layout->treeParts;
    layout->treeParms.flags = OMBRIX_FLAG_NO_LOCK;
    layout->treeNil =
        static_cast<OmbrixTreeNode *>(poolAllocateZeroed(pool, sizeof(OmbrixTreeNode)));
    if (!layout->treeNil) return false;
    int64_t recordSize = (parms->keyMode == OMBRIX_KEY_COMPOSITE ? layout->keySize : 0) +
                         static_cast<int64_t>(layout->valueSize);
    if (recordSize > INT32_MAX - 8) return false;
    layout->recordSize = static_cast<int32_t>(recordSize);
    layout->recordStride = layout->recordSize + 8;
    return true;
}

void appendRecordBlock(HashMapState &state, unsigned char *block, int32_t count) {
    const HashMapKeyLayout &layout = *state.keyLayout;
    std::memset(block, 0, static_cast<size_t>(count) * static_cast<size_t>(layout.recordStride));
    for (int32_t r = 0; r < count; ++r) {
        unsigned char *record = block + static_cast<int64_t>(r) * layout.recordStride;
        if (state.recordFreeTail)
            setRecordLink(layout, state.recordFreeTail, record);
        else
            state.recordFree = record;
        state.recordFreeTail = record;
    }
}

void hashMapResetEntries(HashMapState *state) {
    if (!state) return;
    if (state->bucketCounts) {
        Entry *first = state->slots + state->tableSize;
        for (int32_t i = 0; i + 1 < state->threshold; ++i) first[i].next = &first[i + 1];
        first[state->threshold - 1].next = nullptr;
        state->nodeFree = first;
        state->nodeFreeTail = &first[state->threshold - 1];
    }
    if (state->records) relinkCurrentRecords(*state);
}

}  // namespace omb

using omb::HashMapObject;
using omb::HashMapState;

extern "C" {

OMBRIX_API OmbrixHashMap *hashMapNew(QVWord *pool, OmbrixHashMapParms parms) {
    // The delegated table is not built in yet.
    if (parms.tableKind > OMBRIX_TABLE_OPEN) return nullptr;
    if (!omb::keyPartsUsable(parms.keyParts, parms.keyPartCount)) return nullptr;
    if (parms.keyMode == OMBRIX_KEY_COMPOSITE && !omb::hasParts(parms)) return nullptr;
    if (parms.valueMode > OMBRIX_VALUE_ACCUMULATE) return nullptr;
    if (parms.valueMode == OMBRIX_VALUE_POINTER) parms.valueSize = 0;
    if (parms.valueMode == OMBRIX_VALUE_ACCUMULATE) parms.valueSize = sizeof(double);
    if (parms.valueSize < 0) return nullptr;
    int32_t tableSize = omb::tableSizeFor(parms.capacity);
    if (tableSize == 0) return nullptr;
    if (parms.capacity <= 1) parms.capacity = tableSize;  // the default, for callers to read

    omb::ContainerPool owned =
        omb::acquireContainerPool(pool, parms.flags & OMBRIX_FLAG_NO_LOCK, omb::kPoolName);
    if (!owned.pool) return nullptr;
    auto *object =
        static_cast<HashMapObject *>(omb::poolAllocateZeroed(owned.pool, sizeof(HashMapObject)));
    if (!object) return omb::abandonContainer(owned, {});
    HashMapState &state = object->state;
    state.pool = owned.pool;
    state.keyLayout = static_cast<omb::HashMapKeyLayout *>(
        omb::poolAllocateZeroed(owned.pool, sizeof(omb::HashMapKeyLayout)));
    if (state.keyLayout) {
        state.keyLayout->ownsPool = owned.ownsPool;
        object->head.parms = static_cast<OmbrixHashMapParms *>(
            omb::poolAllocateZeroed(owned.pool, sizeof(OmbrixHashMapParms)));
    }
    if (object->head.parms) {
        *object->head.parms = parms;
        state.tableSize = tableSize;
        state.mask = tableSize - 1;
        state.threshold = state.recordCapacity = omb::growthThreshold(tableSize);
        state.slotCapacity = parms.tableKind == OMBRIX_TABLE_OPEN ? tableSize + omb::kSpareSlots
                                                                  : omb::chainedSlotsFor(tableSize);
        if (omb::buildKeyLayout(owned.pool, object->head.parms, state.keyLayout) &&
            omb::allocateTable(owned.pool, &state, parms.tableKind == OMBRIX_TABLE_CHAINED)) {
            omb::setShortFind(state, *object->head.parms);
            omb::fillOperations(&object->head);
            return &object->head;
        }
    }
    // A refused creation gives back every block it took, or its own pool
    // whole, so the caller's pool is as it was.
    if (owned.ownsPool) return omb::abandonContainer(owned, {});
    omb::releaseBlocks(object);
    return nullptr;
}

OMBRIX_API void hashMapDestroy(OmbrixHashMap *map) {
    if (!map) return;
    HashMapObject *object = omb::hashMapObjectOf(map);
    omb::ContainerPool owned = {object->state.pool, object->state.keyLayout->ownsPool != 0};
    // An own pool takes tree nodes and key copies with it; a caller's pool
    // gets every block back.
    if (!owned.ownsPool && object->state.bucketCounts)
        omb::hashMapListReleaseBuckets(&object->state, *map->parms);
    if (!owned.ownsPool && map->parms->tableKind == OMBRIX_TABLE_OPEN && object->state.slots)
        omb::hashMapOpenReleaseChains(&object->state);
    omb::releaseBlocks(object);
    omb::releaseContainerPool(owned);
}

// The field keys of a short find are added to and removed from either
// table with their hash taken from the field as the finds take it: at 1M
// entries the shorter path leaves more operations in flight.
OMBRIX_API QVStatus hashMapAdd(OmbrixHashMap *map, const void *key, const void *value) {
    if (!map) return OMBRIX_OK;
    HashMapState &state = *omb::hashMapStateOf(map);
    if (state.shortFind == omb::kIntFieldChained && key != nullptr) {
        QVStatus status;
        if (omb::addItemKeyToEmptyBucket(state, *map->parms,
                                         omb::intFieldItemKey(state, key), value, status))
            return status;
        return omb::hashMapListAddPrepared(
            state, *map->parms, omb::intFieldPreparedKey(state, key), value);
    }
    if (state.shortFind == omb::kCopiedFieldChained && key != nullptr)
        return omb::hashMapListAddCopiedField(state, *map->parms, key, value);
    if (state.shortFind == omb::kCopiedFieldOpen && key != nullptr)
        return omb::hashMapOpenAddCopiedField(state, *map->parms, key, value);
    if (map->parms->tableKind == OMBRIX_TABLE_CHAINED)
        return hashMapListAddWithKeySize(map, key, 0, value);
    return map->addWithKeySize ? map->addWithKeySize(map, key, 0, value) : OMBRIX_OK;
}

namespace {

// hashMapFind's keys other than an integer field in the chained table.
[[gnu::noinline]] void *findOtherKey(OmbrixHashMap *map, const void *key) {
    const HashMapState &state = *omb::hashMapStateOf(map);
    if (key) {
        bool sixteen = omb::isSixteenByteString(*state.keyLayout);
        if (state.shortFind == omb::kCopiedFieldChained)
            return sixteen ? omb::findCopiedField(map, omb::copiedFieldKey<16>(state, key))
                           : omb::findCopiedField(map, omb::copiedFieldKey(state, key));
        if (state.shortFind == omb::kCopiedFieldOpen)
            return sixteen ? omb::hashMapOpenFindCopiedField<16>(state, key)
                           : omb::hashMapOpenFindCopiedField<0>(state, key);
    }
    if (map->parms->tableKind == OMBRIX_TABLE_CHAINED) return omb::hashMapListFindPlain(map, key);
    return map->findWithKeySize ? map->findWithKeySize(map, key, 0) : nullptr;
}

}  // namespace

// An integer field in the chained table, the common item key, is found
// inline after one test: at 1M entries each test before the primary slot's
// load costs a find about 3 ns, since fewer finds are then in flight. A
// copied field is found after a second.
OMBRIX_API void *hashMapFind(OmbrixHashMap *map, const void *key) {
    if (!map) return nullptr;
    const HashMapState &state = *omb::hashMapStateOf(map);
    if (__builtin_expect(state.shortFind == omb::kIntFieldChained && key != nullptr, 1))
        return omb::findItemKey(state, key, omb::intFieldItemKey(state, key));
    return findOtherKey(map, key);
}

OMBRIX_API QVStatus hashMapRemove(OmbrixHashMap *map, const void *key) {
    if (!map) return OMBRIX_OK;
    HashMapState &state = *omb::hashMapStateOf(map);
    bool chained = map->parms->tableKind == OMBRIX_TABLE_CHAINED;
    if (omb::hasFieldKeys(state) && key != nullptr) {
        omb::PreparedKey prepared =
            omb::hasIntFieldKeys(state)
                ? omb::intFieldPreparedKey(state, key)
                : omb::copiedFieldPreparedKey(omb::copiedFieldKeyOf(state, key));
        return chained ? omb::hashMapListRemovePrepared(state, *map->parms, prepared)
                       : omb::hashMapOpenRemovePrepared(state, *map->parms, prepared);
    }
    if (chained) return hashMapListRemoveWithKeySize(map, key, 0);
    return map->removeWithKeySize ? map->removeWithKeySize(map, key, 0) : OMBRIX_OK;
}

OMBRIX_API int32_t hashMapSize(OmbrixHashMap *map) {
    if (!map) return 0;
    const HashMapState &state = *omb::hashMapStateOf(map);
    return state.count + (state.nullEntry ? 1 : 0);
}

OMBRIX_API int32_t hashMapGetKeySize(OmbrixHashMap *map) {
    if (!map) return 0;
    int32_t keySize = omb::hashMapStateOf(map)->keyLayout->keySize;
    return keySize ? keySize : 8;
}

OMBRIX_API QVStatus hashMapReset(OmbrixHashMap *map) {
    if (!map) return OMBRIX_OK;
    HashMapState &state = *omb::hashMapStateOf(map);
    bool chained = state.bucketCounts != nullptr;
    if (chained) omb::hashMapListReleaseBuckets(&state, *map->parms);
    if (map->parms->tableKind == OMBRIX_TABLE_OPEN) omb::hashMapOpenReleaseChains(&state);
    if (state.resizeCount == 0) {
        std::memset(state.slots, 0,
                    sizeof(OmbrixHashMapEntry) * static_cast<size_t>(state.slotCapacity));
        omb::hashMapResetEntries(&state);
    } else {
        if (chained) omb::resetRetiredSlots(state);
        if (state.records) omb::resetRecords(state);
        std::memset(state.slots, 0,
                    sizeof(OmbrixHashMapEntry) * static_cast<size_t>(state.slotCapacity));
    }
    if (chained)
        std::memset(state.bucketCounts, 0, sizeof(int32_t) * static_cast<size_t>(state.tableSize));
    state.count = 0;
    omb::dropNullEntry(state);
    return OMBRIX_OK;
}

}  // extern "C"
