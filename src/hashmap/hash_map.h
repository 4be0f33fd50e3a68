// The hash map inside the library: the private state that follows the
// public head in the object block, the key layout the tables share, and the
// key, hash, value and supply rules every table kind applies the same way.
//
//   OmbrixHashMapParms parms = {};
//   parms.keyMode = OMBRIX_KEY_REFERENCE;        // the item pointer is the key
//   parms.valueMode = OMBRIX_VALUE_ACCUMULATE;   // a double per key
//   OmbrixHashMap *counts = hashMapNew(pool, parms);
//   hashMapAdd(counts, item, nullptr);           // adds 1.0
//   double *n = (double *)hashMapFind(counts, item);
//   hashMapDestroy(counts);
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/host_calls.h"
#include "ombrix/hash_map.h"
#include "ombrix/thin_array_list.h"
#include "ombrix/tree.h"
#include "ombrix/utf8.h"

namespace omb {

// How keys and values are laid out, fixed at construction.
struct HashMapKeyLayout {
    int32_t keySize;       // the parts' sum (modes 0, 2 with parts); 8 without parts;
                           // 0 for modes 1 and 3 with parts
    int32_t recordSize;    // key bytes (mode 0 only) + valueSize; 0: no records
    uint8_t intKey;        // one direct signed 32-bit part
    uint8_t int64Key;      // one direct signed 64-bit part
    uint8_t directKey;     // one part of levels 1
    int32_t directOffset;  // that part's first offset
    int32_t valueSize;
    int32_t recordStride;  // recordSize + the 8-byte free-list link
    uint8_t ownsPool;
    OmbrixKeyPart *treeParts;   // the parts as reached from an entry
    OmbrixTreeParms treeParms;  // the bucket trees' ordering
    OmbrixTreeNode *treeNil;    // the sentinel all bucket trees share
};

// The private state. Every entry of `slots` beyond the first tableSize, and
// of every retired slot array, is either in a bucket or on the overflow free
// list; every record of `records` and the retired record blocks is either
// held by one entry or on the record free list.
struct HashMapState {
    OmbrixHashMapEntry *slots;  // slotCapacity entries; entry b is bucket b's primary slot
    int32_t *bucketCounts;      // chained: 0 empty, > 0 chain, < 0 tree (-entries)
    void *recordFree;
    OmbrixHashMapEntry *nodeFree;
    int32_t count;      // entries without the null key
    int32_t threshold;  // count at which the table grows
    int32_t tableSize;
    int32_t mask;
    OmbrixThinArrayList *recordBlocks;  // RetiredBlock items; null until the first growth
    OmbrixThinArrayList *nodeBlocks;    // RetiredBlock items; null until the first growth
    int32_t slotCapacity;
    int32_t recordCapacity;
    unsigned char *records;  // the current record block
    int32_t resizeCount;
    // Not one of the documented members: it sits in the four bytes of
    // padding before recordFreeTail, so every documented offset stands.
    // Set once at creation (setShortFind); the plain finds test it instead
    // of the parameters and the key layout, one load and one branch where
    // there were six of each. Zero is always safe: the finds then take the
    // general path.
    uint8_t shortFind;
    // Not documented either, in the same padding: the key layout's
    // directOffset when shortFind names a field key, read beside shortFind,
    // so that the field's load waits on one load of the state and not on
    // two (keyLayout, then its directOffset): the int finds of 64K entries
    // ran 5-8% faster.
    uint16_t fieldOffset;
    void *recordFreeTail;
    OmbrixHashMapEntry *nodeFreeTail;
    OmbrixHashMapEntry *nullEntry;  // the null key's entry, its value storage behind it
    QVWord *pool;
    HashMapKeyLayout *keyLayout;
    void *qveaaExtension;
    void *qveaaTable;
    void *qveaiExtension;
    void *qveaiIndex;
};

// The block hashMapNew allocates: what callers hold, then the state.
struct HashMapObject {
    OmbrixHashMap head;
    HashMapState state;
};

inline HashMapObject *hashMapObjectOf(OmbrixHashMap *map) {
    return reinterpret_cast<HashMapObject *>(map);
}
inline HashMapState *hashMapStateOf(OmbrixHashMap *map) {
    return &hashMapObjectOf(map)->state;
}

// The count at which a table of `tableSize` buckets grows: three quarters,
// in single precision.
inline int32_t growthThreshold(int32_t tableSize) {
    return static_cast<int32_t>(static_cast<float>(tableSize) * 0.75f);
}

// An item of recordBlocks and nodeBlocks.
struct RetiredBlock {
    int32_t count;  // records or entries in the block
    void *block;
};

// Rebuilds the free lists of a fresh or emptied table (the chained table's
// overflow region, known by its bucket counts, and the current record block).
void hashMapResetEntries(HashMapState *state);

// The key layout of `parms` (the map's copy, whose keyParts the layout
// points at its pool copy for modes 0 and 2): key size, direct-key flags,
// the bucket trees' parts, parameters and sentinel, record sizes. False
// when the parts do not suit the mode or a block is refused; what was
// taken is then in the layout's pointers and the parms copy.
bool buildKeyLayout(QVWord *pool, OmbrixHashMapParms *parms, HashMapKeyLayout *layout);

// ---------------------------------------------------------------------------
// Keys

// Keys of mode 0 up to this size are built on the stack.
constexpr int32_t kStackKeyBytes = 1024;

// The key size an operation uses: the call's when positive, a string's own
// length for mode 1 with 0, else the layout's, or 8 when that is 0.
inline int32_t resolveKeySize(const OmbrixHashMapParms &parms, const HashMapKeyLayout &layout,
                              const void *key, int32_t keySize) {
    if (keySize > 0) return keySize;
    if (keySize == 0 && parms.keyMode == OMBRIX_KEY_VARIABLE) {
        uint64_t length = UTF8_BLEN(static_cast<const char *>(key));
        return length > INT32_MAX ? INT32_MAX : static_cast<int32_t>(length);
    }
    return layout.keySize ? layout.keySize : 8;
}

// Whether the default hash of `size` key bytes is their first four: a
// direct integer key of at least four bytes.
inline bool hashesAsInteger(const HashMapKeyLayout &layout, int32_t size) {
    return (layout.intKey || layout.int64Key) && size >= 4;
}

// Eight steps of the default hash at once: h * 33^8 plus byte i of the
// block times 33^(7 - i), the same sum modulo 2^32 as h = h * 33 + b taken
// eight times. The products do not wait on each other and are summed as a
// balanced tree, so only h * 33^8 and one add wait on the previous block.
inline uint32_t hashBlockOfEight(uint32_t h, const unsigned char *block) {
    constexpr uint32_t k1 = 33, k2 = k1 * 33, k3 = k2 * 33, k4 = k3 * 33, k5 = k4 * 33,
                       k6 = k5 * 33, k7 = k6 * 33, k8 = k7 * 33;
    uint32_t low = (block[4] * k3 + block[5] * k2) + (block[6] * k1 + block[7]);
    uint32_t high = (block[0] * k7 + block[1] * k6) + (block[2] * k5 + block[3] * k4);
    return h * k8 + (high + low);
}

// h = b0, h = h * 33 + bi, then h + (h >> 5) (b0 being 0 * 33 + b0, the
// walk may start from 0).
inline uint32_t byteStringHash(const unsigned char *bytes, int32_t size) {
    uint32_t h = 0;
    int32_t i = 0;
    for (; i + 8 <= size; i += 8) h = hashBlockOfEight(h, bytes + i);
    for (; i < size; ++i) h = h * 33u + bytes[i];
    return h + (h >> 5);
}

// The default hash: a direct integer key hashes to its first four bytes,
// every other key as a byte string.
inline uint32_t defaultHash(const HashMapKeyLayout &layout, const unsigned char *bytes,
                            int32_t size) {
    if (hashesAsInteger(layout, size)) {
        uint32_t low;
        std::memcpy(&low, bytes, sizeof low);
        return low;
    }
    if (size == 16) return byteStringHash(bytes, 16);  // the common string key, unrolled
    return byteStringHash(bytes, size);
}

// defaultHash of a pointer's own 8 bytes, taken from its value.
inline uint32_t defaultPointerHash(uintptr_t pointer) {
    unsigned char bytes[sizeof pointer];
    std::memcpy(bytes, &pointer, sizeof pointer);
    uint32_t h = hashBlockOfEight(0, bytes);
    return h + (h >> 5);
}

inline uint32_t hashKey(const OmbrixHashMapParms &parms, const HashMapKeyLayout &layout,
                        const unsigned char *bytes, int32_t size) {
    if (parms.hashFunction) return parms.hashFunction(bytes, size);
    return defaultHash(layout, bytes, size);
}

// hashKey for the short paths, whose common keys hash without a call.
[[gnu::noinline]] inline uint32_t hashKeyOutOfLine(const OmbrixHashMapParms &parms,
                                                   const HashMapKeyLayout &layout,
                                                   const unsigned char *bytes, int32_t size) {
    return hashKey(parms, layout, bytes, size);
}

// Byte equality with the common fixed sizes compared as words.
inline bool sameKeyBytes(const void *a, const void *b, int32_t size) {
    if (size == 4) {
        uint32_t x, y;
        std::memcpy(&x, a, 4);
        std::memcpy(&y, b, 4);
        return x == y;
    }
    if (size == 8) {
        uint64_t x, y;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        return x == y;
    }
    if (size == 16) {
        uint64_t x[2], y[2];
        std::memcpy(x, a, 16);
        std::memcpy(y, b, 16);
        return ((x[0] ^ y[0]) | (x[1] ^ y[1])) == 0;
    }
    return size <= 0 || std::memcmp(a, b, static_cast<size_t>(size)) == 0;
}

// Byte copies of a size known at run time, the common fixed sizes as moves
// of known size instead of a call.
inline void copyBytes(void *to, const void *from, int32_t size) {
    if (size == 4)
        std::memcpy(to, from, 4);
    else if (size == 8)
        std::memcpy(to, from, 8);
    else if (size == 16)
        std::memcpy(to, from, 16);
    else if (size > 0)
        std::memcpy(to, from, static_cast<size_t>(size));
}

// A key as the tables look it up. `bytes` are what is hashed, and in mode 0
// what is compared; `stored` is what an entry of this key holds in its
// `key` (mode 0: the key buffer or record, a copy of `bytes` or `bytes`
// themselves). For pointer keys without parts `bytes` are the pointer's own
// 8 bytes, held in `pointer`.
struct PreparedKey {
    const unsigned char *bytes;
    void *stored;
    int32_t size;
    uint32_t hash;
    uintptr_t pointer;
};

// The match test. Mode 0: same hash and key bytes. Other modes: the very
// pointer an entry of this key would store, whatever the size it was stored
// with, or the same hash and the same bytes at both pointers, for a string
// key at the same size. `byIdentity` false (the chained table's removal)
// skips the pointer shortcut.
inline bool entryMatches(const OmbrixHashMapEntry &entry, const PreparedKey &key, uint32_t keyMode,
                         bool byIdentity) {
    if (keyMode == OMBRIX_KEY_COMPOSITE)
        return entry.hash == key.hash && sameKeyBytes(entry.key, key.bytes, key.size);
    if (byIdentity && entry.key == key.stored) return true;
    if (keyMode == OMBRIX_KEY_VARIABLE && entry.keySize != key.size) return false;
    return entry.hash == key.hash && sameKeyBytes(entry.key, key.stored, key.size);
}

// The buffer a mode-0 key is built in for find and remove: the stack up to
// kStackKeyBytes, else a pool block given back when the buffer goes.
class KeyBuffer {
  public:
    KeyBuffer(QVWord *pool, int32_t size) : pool_(pool), data_(stack_) {
        if (size > kStackKeyBytes)
            data_ =
                static_cast<unsigned char *>(poolAllocateZeroed(pool, static_cast<uint64_t>(size)));
    }
    ~KeyBuffer() {
        if (data_ != stack_) poolFree(pool_, data_);
    }
    KeyBuffer(const KeyBuffer &) = delete;
    KeyBuffer &operator=(const KeyBuffer &) = delete;
    unsigned char *data() { return data_; }

  private:
    QVWord *pool_;
    unsigned char *data_;
    unsigned char stack_[kStackKeyBytes];
};

// The direct part's bytes inside the item `key`.
inline unsigned char *directField(const HashMapKeyLayout &layout, const void *key) {
    return static_cast<unsigned char *>(const_cast<void *>(key)) + layout.directOffset;
}

// The same for a map whose shortFind names a field key (see fieldOffset).
inline unsigned char *directField(const HashMapState &state, const void *key) {
    return static_cast<unsigned char *>(const_cast<void *>(key)) + state.fieldOffset;
}

// The key bytes of a mode-0 key that need no building: the call's bytes
// when it gives a positive size, or the one direct part inside the item.
// Null when the key must be built from its parts.
inline const unsigned char *contiguousCompositeKey(const HashMapKeyLayout &layout,
                                                   const void *key, int32_t callKeySize) {
    if (callKeySize > 0) return static_cast<const unsigned char *>(key);
    if (layout.directKey) return directField(layout, key);
    return nullptr;
}

// Builds a mode-0 key of `size` bytes into `buffer`.
inline void buildCompositeKey(const OmbrixHashMapParms &parms, const HashMapKeyLayout &layout,
                              const void *key, int32_t callKeySize, int32_t size, void *buffer) {
    const unsigned char *bytes = contiguousCompositeKey(layout, key, callKeySize);
    if (!bytes) {
        // The parameter record begins with the key definition.
        ombrixGetKey(reinterpret_cast<const OmbrixKeyDefinition *>(&parms), 1, key, buffer, size);
    } else {
        copyBytes(buffer, bytes, size);
    }
}

// Prepares the key of a mode other than 0 at `size` bytes: the string
// itself, the direct part at its offset, or the pointer, whose own eight
// bytes are all it has: a larger size takes those eight.
inline void prepareReferenceKey(const HashMapKeyLayout &layout, uint32_t keyMode, const void *key,
                                int32_t size, PreparedKey *prepared) {
    prepared->size = size;
    if (keyMode == OMBRIX_KEY_VARIABLE) {
        prepared->stored = const_cast<void *>(key);
        prepared->bytes = static_cast<const unsigned char *>(key);
    } else if (layout.directKey) {
        prepared->stored = directField(layout, key);
        prepared->bytes = static_cast<const unsigned char *>(prepared->stored);
    } else {
        prepared->stored = const_cast<void *>(key);
        prepared->pointer = reinterpret_cast<uintptr_t>(key);
        prepared->bytes = reinterpret_cast<const unsigned char *>(&prepared->pointer);
        prepared->size = std::min<int32_t>(size, sizeof prepared->pointer);
    }
}

// ---------------------------------------------------------------------------
// Supplies

// The link word after a record's bytes; records are packed, so it may be
// unaligned.
inline void *recordLink(const HashMapKeyLayout &layout, const void *record) {
    void *next;
    std::memcpy(&next, static_cast<const unsigned char *>(record) + layout.recordSize, sizeof next);
    return next;
}
inline void setRecordLink(const HashMapKeyLayout &layout, void *record, void *next) {
    std::memcpy(static_cast<unsigned char *>(record) + layout.recordSize, &next, sizeof next);
}

// The front record of the free list, or null when the supply is empty.
inline void *takeRecord(HashMapState &state) {
    void *record = state.recordFree;
    if (!record) return nullptr;
    state.recordFree = recordLink(*state.keyLayout, record);
    if (!state.recordFree) state.recordFreeTail = nullptr;
    return record;
}

inline void giveBackRecord(HashMapState &state, void *record) {
    setRecordLink(*state.keyLayout, record, state.recordFree);
    state.recordFree = record;
    if (!state.recordFreeTail) state.recordFreeTail = record;
}

// Zeroes `count` records of `block` and links them, in order, onto the end
// of the free list.
void appendRecordBlock(HashMapState &state, unsigned char *block, int32_t count);

// The null key's entry and the value storage behind it, given back.
inline void dropNullEntry(HashMapState &state) {
    poolFree(state.pool, state.nullEntry);
    state.nullEntry = nullptr;
}

// ---------------------------------------------------------------------------
// Values

// Stores `value` into an entry whose value storage (modes 0 and 2) is at
// entry.value: mode 1 keeps the pointer, mode 0 copies valueSize bytes,
// mode 2 adds the double (1.0 for null). Mode 0 with a null value is the
// caller's business (the tables keep the record reachable).
inline void storeValue(uint32_t valueMode, int32_t valueSize, OmbrixHashMapEntry &entry,
                       const void *value) {
    if (valueMode == OMBRIX_VALUE_ACCUMULATE) {
        double sum, add = 1.0;
        std::memcpy(&sum, entry.value, sizeof sum);
        if (value) std::memcpy(&add, value, sizeof add);
        sum += add;
        std::memcpy(entry.value, &sum, sizeof sum);
    } else if (valueMode == OMBRIX_VALUE_COPY) {
        copyBytes(entry.value, value, valueSize);
    } else {
        entry.value = const_cast<void *>(value);
    }
}

// ---------------------------------------------------------------------------
// Entries

// ---------------------------------------------------------------------------
// OmbrixHashMapEntry storage

// Keys held by reference are copied under flag 0x80 by the chained table
// only; the open table always keeps the caller's pointer.
inline bool copiesKeys(const OmbrixHashMapParms &parms) {
    return (parms.flags & OMBRIX_HASH_MAP_COPY_KEYS) && parms.keyMode != OMBRIX_KEY_COMPOSITE &&
           parms.tableKind == OMBRIX_TABLE_CHAINED;
}

// Values are pointers when there is no value storage: value mode 1, or
// entries that take no record. A mode-0 key's record holds the value after
// the key even when the value has no bytes, and find returns that place.
inline bool valuesArePointers(const OmbrixHashMapParms &parms, const HashMapKeyLayout &layout) {
    return parms.valueMode == OMBRIX_VALUE_POINTER || layout.recordSize == 0;
}

// The value storage a mode-0 key's record carries after the key bytes.
inline void *recordValueStorage(const OmbrixHashMapParms &parms, const HashMapKeyLayout &layout,
                                const OmbrixHashMapEntry &entry) {
    if (parms.keyMode != OMBRIX_KEY_COMPOSITE) return nullptr;
    return static_cast<unsigned char *>(entry.key) + layout.keySize;
}

// The value rule for an existing entry, and for a new one that takes a
// record. `fixedStorage` is where the entry's value bytes always live (a
// mode-0 record, the null key's block), or null when the entry holds a
// record of its own for them. A copied value that is null needs no storage:
// an entry with a record of its own gives it back and takes one again for
// its next value, so no record is lost while the value is null. A copied
// value of no bytes in an entry without a record copies nothing over the
// pointer the entry was made with. 0x803fc002 when a record is refused, the
// entry as it was.
inline QVStatus assignValue(HashMapState &state, const OmbrixHashMapParms &parms,
                            OmbrixHashMapEntry &entry, void *fixedStorage, const void *value) {
    const HashMapKeyLayout &layout = *state.keyLayout;
    if (parms.valueMode == OMBRIX_VALUE_POINTER) {
        entry.value = const_cast<void *>(value);
        return OMBRIX_OK;
    }
    if (valuesArePointers(parms, layout)) {
        if (!value) entry.value = nullptr;
        return OMBRIX_OK;
    }
    if (parms.valueMode == OMBRIX_VALUE_COPY && !value) {
        if (!fixedStorage && entry.value) giveBackRecord(state, entry.value);
        entry.value = nullptr;
        return OMBRIX_OK;
    }
    if (!entry.value) {
        void *storage = fixedStorage ? fixedStorage : takeRecord(state);
        if (!storage) return OMBRIX_E_NO_MEMORY;
        if (parms.valueMode == OMBRIX_VALUE_ACCUMULATE) std::memset(storage, 0, sizeof(double));
        entry.value = storage;
    }
    storeValue(parms.valueMode, layout.valueSize, entry, value);
    return OMBRIX_OK;
}

// What a leaving entry took: its record (the key's for mode 0, the value's
// otherwise) and its key copy.
inline void releaseEntryStorage(HashMapState &state, const OmbrixHashMapParms &parms,
                                const OmbrixHashMapEntry &entry) {
    const HashMapKeyLayout &layout = *state.keyLayout;
    if (parms.keyMode == OMBRIX_KEY_COMPOSITE)
        giveBackRecord(state, entry.key);
    else if (!valuesArePointers(parms, layout) && entry.value)
        giveBackRecord(state, entry.value);
    if (copiesKeys(parms)) poolFree(state.pool, entry.key);
}

// A new entry for `key`, outside any bucket: the key (the mode-0 record, a
// copy under flag 0x80, or the stored pointer) and its value. 0x803fc002
// when a block or record is refused; nothing is then held.
inline QVStatus makeEntry(HashMapState &state, const OmbrixHashMapParms &parms,
                          const PreparedKey &key, const void *value, OmbrixHashMapEntry &made) {
    made = OmbrixHashMapEntry{};
    made.hash = key.hash;
    made.keySize = key.size;
    made.key = key.stored;
    if (copiesKeys(parms)) {
        made.key = poolAllocate(state.pool, static_cast<uint64_t>(key.size), 0);
        if (!made.key) return OMBRIX_E_NO_MEMORY;
        copyBytes(made.key, key.stored, key.size);
    }
    // An entry that takes no record holds the caller's pointer.
    if (valuesArePointers(parms, *state.keyLayout)) {
        made.value = const_cast<void *>(value);
        return OMBRIX_OK;
    }
    QVStatus status =
        assignValue(state, parms, made, recordValueStorage(parms, *state.keyLayout, made), value);
    if (status != OMBRIX_OK && copiesKeys(parms)) poolFree(state.pool, made.key);
    return status;
}

// Gives back what makeEntry took beyond the mode-0 record.
inline void unmakeEntry(HashMapState &state, const OmbrixHashMapParms &parms,
                        const OmbrixHashMapEntry &made) {
    if (parms.keyMode != OMBRIX_KEY_COMPOSITE && !valuesArePointers(parms, *state.keyLayout) &&
        made.value)
        giveBackRecord(state, made.value);
    if (copiesKeys(parms)) poolFree(state.pool, made.key);
}

// The null key's entry, made on first use with zero-filled value storage
// behind it, and its value set by the value rule.
inline QVStatus addNullKey(HashMapState &state, const OmbrixHashMapParms &parms,
                           const void *value) {
    bool created = false;
    if (!state.nullEntry) {
        uint64_t bytes =
            sizeof(OmbrixHashMapEntry) + static_cast<uint64_t>(state.keyLayout->valueSize);
        state.nullEntry = static_cast<OmbrixHashMapEntry *>(poolAllocateZeroed(state.pool, bytes));
        if (!state.nullEntry) return OMBRIX_E_NO_MEMORY;
        created = true;
    }
    void *storage = state.keyLayout->valueSize ? state.nullEntry + 1 : nullptr;
    if (created && storage) state.nullEntry->value = storage;
    // A copied value of no bytes has no storage here, so its value stays null.
    if (!storage && parms.valueMode == OMBRIX_VALUE_COPY) return OMBRIX_OK;
    return assignValue(state, parms, *state.nullEntry, storage, value);
}

// ---------------------------------------------------------------------------
// Lookup keys

// Prepares a lookup key of a mode other than 0.
inline void prepareKey(const OmbrixHashMapParms &parms, const HashMapKeyLayout &layout,
                       const void *key, int32_t size, PreparedKey &prepared) {
    prepareReferenceKey(layout, parms.keyMode, key, size, &prepared);
    prepared.hash = hashKey(parms, layout, prepared.bytes, prepared.size);
}

// A mode-2 item key as the short paths take it: what an entry of it stores
// in its `key`, and its hash. Small enough to travel in registers.
struct ItemKey {
    void *stored;
    uint32_t hash;
};

// The plain finds that run without a call, after one test of the state's
// shortFind, and in which table. Each serves a key under the default hash:
// an integer field of mode 2, whose hash is its first four bytes and which
// an entry holds by pointer (the common item key); a field of mode 0, whose
// bytes are the key, compared at the entries' key copies; or, in the open
// table, the pointer itself (mode 2 without parts), hashed from its value
// and matched by identity alone.
enum ShortFind : uint8_t {
    kNoShortFind,
    kIntFieldChained,
    kIntFieldOpen,
    kCopiedFieldChained,
    kCopiedFieldOpen,
    kPointerOpen,
};

inline ShortFind shortFindOf(const OmbrixHashMapParms &parms, const HashMapKeyLayout &layout) {
    if (parms.hashFunction || layout.keySize <= 0) return kNoShortFind;
    if (!layout.directKey)
        return parms.keyMode == OMBRIX_KEY_REFERENCE && parms.tableKind == OMBRIX_TABLE_OPEN
                   ? kPointerOpen
                   : kNoShortFind;
    // Beyond 16 bits the field's offset has no room beside shortFind.
    if (static_cast<uint32_t>(layout.directOffset) > UINT16_MAX) return kNoShortFind;
    bool chained = parms.tableKind == OMBRIX_TABLE_CHAINED;
    if (parms.keyMode == OMBRIX_KEY_COMPOSITE)
        return chained ? kCopiedFieldChained : kCopiedFieldOpen;
    if (parms.keyMode != OMBRIX_KEY_REFERENCE || !hashesAsInteger(layout, layout.keySize))
        return kNoShortFind;
    return chained ? kIntFieldChained : kIntFieldOpen;
}

inline bool hasIntFieldKeys(const HashMapState &state) {
    return state.shortFind == kIntFieldChained || state.shortFind == kIntFieldOpen;
}

inline bool hasFieldKeys(const HashMapState &state) {
    return state.shortFind != kNoShortFind && state.shortFind != kPointerOpen;
}

inline void setShortFind(HashMapState &state, const OmbrixHashMapParms &parms) {
    state.shortFind = shortFindOf(parms, *state.keyLayout);
    state.fieldOffset =
        hasFieldKeys(state) ? static_cast<uint16_t>(state.keyLayout->directOffset) : 0;
}

// A mode-0 key read in place from the item's one field, at the map's key
// size, and its default hash; an entry holds it when its copy has the same
// hash and bytes (mode 0 never matches by pointer).
struct CopiedFieldKey {
    const unsigned char *bytes;
    int32_t size;
    uint32_t hash;
};

// Whether a copied field is 16 bytes hashed as a byte string, the common
// shape whose hash and compares unroll. An integer part of that width hashes
// by its first four bytes, as every other integer key does.
inline bool isSixteenByteString(const HashMapKeyLayout &layout) {
    return layout.keySize == 16 && !hashesAsInteger(layout, layout.keySize);
}

// kSize 16, given only where isSixteenByteString holds, unrolls the hash and
// the compares.
template <int32_t kSize = 0>
inline CopiedFieldKey copiedFieldKey(const HashMapState &state, const void *item) {
    const unsigned char *field = directField(state, item);
    if constexpr (kSize == 16) return {field, kSize, byteStringHash(field, kSize)};
    const HashMapKeyLayout &layout = *state.keyLayout;
    return {field, layout.keySize, defaultHash(layout, field, layout.keySize)};
}

// copiedFieldKey at the layout's key size, the common 16 bytes unrolled.
inline CopiedFieldKey copiedFieldKeyOf(const HashMapState &state, const void *item) {
    return isSixteenByteString(*state.keyLayout) ? copiedFieldKey<16>(state, item)
                                                 : copiedFieldKey(state, item);
}

inline bool holdsCopiedField(const OmbrixHashMapEntry &entry, const CopiedFieldKey &key) {
    return entry.hash == key.hash && sameKeyBytes(entry.key, key.bytes, key.size);
}

// The key of such a map: the field, hashed by its first four bytes.
inline ItemKey intFieldItemKey(const HashMapState &state, const void *key) {
    unsigned char *field = directField(state, key);
    ItemKey found = {field, 0};
    std::memcpy(&found.hash, field, sizeof found.hash);
    return found;
}

// The item pointer as its own key, hashed from its value.
inline ItemKey pointerItemKey(const OmbrixHashMapParms &parms, const void *key) {
    uintptr_t pointer = reinterpret_cast<uintptr_t>(key);
    if (__builtin_expect(parms.hashFunction != nullptr, 0))
        return {const_cast<void *>(key), parms.hashFunction(
                                             reinterpret_cast<const unsigned char *>(&pointer),
                                             sizeof pointer)};
    return {const_cast<void *>(key), defaultPointerHash(pointer)};
}

// The item key at the size a call of key size 0 uses: the direct field
// hashed over the key size, or the pointer itself.
inline ItemKey itemKeyOf(const HashMapState &state, const OmbrixHashMapParms &parms,
                         const void *key) {
    const HashMapKeyLayout &layout = *state.keyLayout;
    if (__builtin_expect(hasIntFieldKeys(state), 1)) return intFieldItemKey(state, key);
    if (!layout.directKey) return pointerItemKey(parms, key);
    unsigned char *field = directField(layout, key);
    return {field, hashKeyOutOfLine(parms, layout, field, layout.keySize)};
}

// The full form of an item key whose hash is known; a map of mode 2 has a
// direct key or none, so every item key has the layout's key size.
inline void prepareItemKey(const HashMapKeyLayout &layout, const void *key, uint32_t hash,
                           PreparedKey &prepared) {
    prepared = {};
    prepareReferenceKey(layout, OMBRIX_KEY_REFERENCE, key, layout.keySize, &prepared);
    prepared.hash = hash;
}

// The full form of an integer field's item key (see ShortFind), hashed as
// the finds hash it: the add and remove of such a key skip the general
// key steps.
inline PreparedKey intFieldPreparedKey(const HashMapState &state, const void *key) {
    PreparedKey prepared;
    prepareItemKey(*state.keyLayout, key, intFieldItemKey(state, key).hash, prepared);
    return prepared;
}

// The full form of a copied field's key (see ShortFind), read in place in
// the item.
inline PreparedKey copiedFieldPreparedKey(const CopiedFieldKey &key) {
    return {key.bytes, const_cast<unsigned char *>(key.bytes), key.size, key.hash, 0};
}

// Prepares a mode-0 key built at `bytes`.
inline void prepareBuiltKey(const OmbrixHashMapParms &parms, const HashMapKeyLayout &layout,
                            unsigned char *bytes, int32_t size, PreparedKey &prepared) {
    prepared.bytes = bytes;
    prepared.stored = bytes;
    prepared.size = size;
    prepared.hash = hashKey(parms, layout, bytes, size);
}

// Runs `lookup` on a mode-0 key built in a key buffer. Out of line, so
// that the hot path's frame holds no 1 KiB buffer.
template <typename Result, typename Lookup>
[[gnu::noinline]] Result withBuiltKey(HashMapState &state, const OmbrixHashMapParms &parms,
                                      const void *key, int32_t keySize, int32_t size,
                                      Result refused, Lookup lookup) {
    const HashMapKeyLayout &layout = *state.keyLayout;
    PreparedKey prepared = {};
    KeyBuffer buffer(state.pool, size);
    if (!buffer.data()) return refused;
    buildCompositeKey(parms, layout, key, keySize, size, buffer.data());
    prepareBuiltKey(parms, layout, buffer.data(), size, prepared);
    return lookup(prepared);
}

// Runs `lookup` on the prepared key; a mode-0 key not already contiguous in
// the argument is built in a key buffer.
// `refused` is the result when that buffer cannot be had, `invalid` when
// the key size exceeds a mode-0 key.
template <typename Result, typename Lookup>
inline Result withLookupKey(HashMapState &state, const OmbrixHashMapParms &parms, const void *key,
                            int32_t keySize, Result refused, Result invalid, Lookup lookup) {
    const HashMapKeyLayout &layout = *state.keyLayout;
    int32_t size = resolveKeySize(parms, layout, key, keySize);
    PreparedKey prepared = {};
    if (parms.keyMode != OMBRIX_KEY_COMPOSITE) {
        prepareKey(parms, layout, key, size, prepared);
        return lookup(prepared);
    }
    if (size > layout.keySize) return invalid;
    if (const unsigned char *bytes = contiguousCompositeKey(layout, key, keySize)) {
        prepareBuiltKey(parms, layout, const_cast<unsigned char *>(bytes), size, prepared);
        return lookup(prepared);
    }
    return withBuiltKey(state, parms, key, keySize, size, refused, lookup);
}

// The value of the null key, or null when it has no entry.
inline void *nullKeyValue(const HashMapState &state) {
    return state.nullEntry ? state.nullEntry->value : nullptr;
}

// A find of any table kind: the null key's value, or the value of the
// entry `locate(prepared)` yields; null when there is none, or when a
// mode-0 key buffer is refused or the key size exceeds the map's.
template <typename Locate>
inline void *findByKey(OmbrixHashMap *map, const void *key, int32_t keySize, Locate locate) {
    if (!map) return nullptr;
    HashMapState &state = *hashMapStateOf(map);
    if (!key) return nullKeyValue(state);
    return withLookupKey<void *>(state, *map->parms, key, keySize, nullptr, nullptr,
                                 [&](const PreparedKey &prepared) -> void * {
                                     OmbrixHashMapEntry *entry = locate(prepared);
                                     return entry ? entry->value : nullptr;
                                 });
}

// A remove of any table kind: the null key's entry dropped, or
// `remove(prepared)`; 0x803fc002 when a mode-0 key buffer is refused.
template <typename Remove>
inline QVStatus removeByKey(OmbrixHashMap *map, const void *key, int32_t keySize, Remove remove) {
    if (!map) return OMBRIX_OK;
    HashMapState &state = *hashMapStateOf(map);
    if (!key) {
        dropNullEntry(state);
        return OMBRIX_OK;
    }
    return withLookupKey<QVStatus>(state, *map->parms, key, keySize, OMBRIX_E_NO_MEMORY, OMBRIX_OK,
                                   remove);
}

// Runs `add(prepared, record)` on the key of an add. Mode 0 builds the key
// in a record taken from the supply, which `add` keeps or gives back; the
// other modes pass a null record. A mode-0 key size beyond the map's is
// ignored (0); a refused record is 0x803fc002.
template <typename Add>
inline QVStatus withAddKey(HashMapState &state, const OmbrixHashMapParms &parms, const void *key,
                           int32_t keySize, Add add) {
    const HashMapKeyLayout &layout = *state.keyLayout;
    int32_t size = resolveKeySize(parms, layout, key, keySize);
    PreparedKey prepared = {};
    if (parms.keyMode != OMBRIX_KEY_COMPOSITE) {
        prepareKey(parms, layout, key, size, prepared);
        return add(prepared, nullptr);
    }
    if (size > layout.keySize) return OMBRIX_OK;
    auto *record = static_cast<unsigned char *>(takeRecord(state));
    if (!record) return OMBRIX_E_NO_MEMORY;
    buildCompositeKey(parms, layout, key, keySize, size, record);
    prepareBuiltKey(parms, layout, record, size, prepared);
    return add(prepared, record);
}

// Runs `add` on a copied field's key (see ShortFind) with the record the
// key is copied into; 0x803fc002 when no record can be had. The key is
// hashed and compared at the item's field, not at the copy just written,
// which those loads would wait on.
template <typename Add>
inline QVStatus withCopiedFieldRecord(HashMapState &state, const CopiedFieldKey &field, Add add) {
    auto *record = static_cast<unsigned char *>(takeRecord(state));
    if (!record) return OMBRIX_E_NO_MEMORY;
    copyBytes(record, field.bytes, field.size);
    return add(PreparedKey{field.bytes, record, field.size, field.hash, 0}, record);
}
template <typename Add>
inline QVStatus withCopiedFieldRecord(HashMapState &state, const void *item, Add add) {
    return withCopiedFieldRecord(state, copiedFieldKeyOf(state, item), add);
}

// Appends {count, block} to a list of retired blocks, making the list on
// first use (`made` then set).
inline bool retireBlock(QVWord *pool, OmbrixThinArrayList *&list, bool &made, int32_t count,
                        void *block) {
    if (!list) {
        list = thinArrayListNew(pool, 0, sizeof(RetiredBlock), 0);
        if (!list) return false;
        made = true;
    }
    RetiredBlock item = {count, block};
    return thinArrayListAdd(list, &item) == OMBRIX_OK;
}

}  // namespace omb

// The iterator operations, reached only through the iterator records.
extern "C" {
void *hashMapIterNext(OmbrixIterator *iterator);
void *hashMapEntryIterNext(OmbrixIterator *iterator);
int32_t hashMapIterSize(OmbrixIterator *iterator);
QVStatus hashMapIterReset(OmbrixIterator *iterator, void *map);
void hashMapIterRelease(OmbrixIterator *iterator);
}

// The records hosts and the other table kinds read by offset.
static_assert(offsetof(OmbrixHashMapParms, keyParts) == offsetof(OmbrixKeyDefinition, keyParts));
static_assert(offsetof(OmbrixHashMapParms, reverseOrder) ==
              offsetof(OmbrixKeyDefinition, reverseOrder));
static_assert(sizeof(OmbrixHashMapParms) == 56);
static_assert(offsetof(OmbrixHashMapParms, keyPartCount) == 4);
static_assert(offsetof(OmbrixHashMapParms, keyParts) == 8);
static_assert(offsetof(OmbrixHashMapParms, reverseOrder) == 16);
static_assert(offsetof(OmbrixHashMapParms, valueMode) == sizeof(OmbrixKeyDefinition));
static_assert(offsetof(OmbrixHashMapParms, valueMode) == 24);
static_assert(offsetof(OmbrixHashMapParms, valueSize) == 28);
static_assert(offsetof(OmbrixHashMapParms, flags) == 32);
static_assert(offsetof(OmbrixHashMapParms, capacity) == 36);
static_assert(offsetof(OmbrixHashMapParms, tableKind) == 40);
static_assert(offsetof(OmbrixHashMapParms, hashFunction) == 48);
static_assert(sizeof(OmbrixHashMapEntry) == 48);
static_assert(offsetof(OmbrixHashMapEntry, key) == 8);
static_assert(offsetof(OmbrixHashMapEntry, keySize) == 16);
static_assert(offsetof(OmbrixHashMapEntry, value) == 24);
static_assert(offsetof(OmbrixHashMapEntry, next) == 32);
static_assert(offsetof(OmbrixHashMapEntry, hop) == 40);
static_assert(sizeof(OmbrixHashMap) == 19 * 8);
static_assert(offsetof(OmbrixHashMap, destroy) == 8);
static_assert(offsetof(OmbrixHashMap, add) == 2 * 8);
static_assert(offsetof(OmbrixHashMap, remove) == 3 * 8);
static_assert(offsetof(OmbrixHashMap, find) == 4 * 8);
static_assert(offsetof(OmbrixHashMap, addWithKeySize) == 5 * 8);
static_assert(offsetof(OmbrixHashMap, removeWithKeySize) == 6 * 8);
static_assert(offsetof(OmbrixHashMap, findWithKeySize) == 7 * 8);
static_assert(offsetof(OmbrixHashMap, size) == 8 * 8);
static_assert(offsetof(OmbrixHashMap, getKeySize) == 9 * 8);
static_assert(offsetof(OmbrixHashMap, toBlob) == 10 * 8);
static_assert(offsetof(OmbrixHashMap, getBlobSize) == 11 * 8);
static_assert(offsetof(OmbrixHashMap, merge) == 12 * 8);
static_assert(offsetof(OmbrixHashMap, mergeFromBlob) == 13 * 8);
static_assert(offsetof(OmbrixHashMap, reset) == 14 * 8);
static_assert(offsetof(OmbrixHashMap, iterator) == 15 * 8);
static_assert(offsetof(OmbrixHashMap, entryIterator) == 16 * 8);
static_assert(offsetof(OmbrixHashMap, clone) == 17 * 8);
static_assert(offsetof(OmbrixHashMap, stat) == 18 * 8);
static_assert(offsetof(omb::HashMapObject, state) == 19 * 8);
static_assert(offsetof(omb::HashMapState, bucketCounts) == 8);
static_assert(offsetof(omb::HashMapState, recordFree) == 16);
static_assert(offsetof(omb::HashMapState, nodeFree) == 24);
static_assert(offsetof(omb::HashMapState, count) == 32);
static_assert(offsetof(omb::HashMapState, threshold) == 36);
static_assert(offsetof(omb::HashMapState, tableSize) == 40);
static_assert(offsetof(omb::HashMapState, mask) == 44);
static_assert(offsetof(omb::HashMapState, recordBlocks) == 48);
static_assert(offsetof(omb::HashMapState, nodeBlocks) == 56);
static_assert(offsetof(omb::HashMapState, slotCapacity) == 64);
static_assert(offsetof(omb::HashMapState, recordCapacity) == 68);
static_assert(offsetof(omb::HashMapState, records) == 72);
static_assert(offsetof(omb::HashMapState, resizeCount) == 80);
static_assert(offsetof(omb::HashMapState, recordFreeTail) == 88);
static_assert(offsetof(omb::HashMapState, nodeFreeTail) == 96);
static_assert(offsetof(omb::HashMapState, nullEntry) == 104);
static_assert(offsetof(omb::HashMapState, pool) == 112);
static_assert(offsetof(omb::HashMapState, keyLayout) == 120);
static_assert(offsetof(omb::HashMapState, qveaaExtension) == 128);
static_assert(offsetof(omb::HashMapState, qveaaTable) == 136);
static_assert(offsetof(omb::HashMapState, qveaiExtension) == 144);
static_assert(offsetof(omb::HashMapState, qveaiIndex) == 152);
static_assert(sizeof(omb::HashMapState) == 160);
static_assert(offsetof(omb::HashMapKeyLayout, recordSize) == 4);
static_assert(offsetof(omb::HashMapKeyLayout, intKey) == 8);
static_assert(offsetof(omb::HashMapKeyLayout, int64Key) == 9);
static_assert(offsetof(omb::HashMapKeyLayout, directKey) == 10);
static_assert(offsetof(omb::HashMapKeyLayout, directOffset) == 12);
static_assert(offsetof(omb::HashMapKeyLayout, valueSize) == 16);
static_assert(offsetof(omb::HashMapKeyLayout, recordStride) == 20);
static_assert(offsetof(omb::HashMapKeyLayout, ownsPool) == 24);
static_assert(offsetof(omb::HashMapKeyLayout, treeParts) == 32);
static_assert(offsetof(omb::HashMapKeyLayout, treeParms) == 40);
static_assert(offsetof(omb::HashMapKeyLayout, treeNil) == 72);
static_assert(sizeof(omb::HashMapKeyLayout) == 80);
static_assert(sizeof(omb::RetiredBlock) == 16 && offsetof(omb::RetiredBlock, block) == 8);
