// The hash map's construction and chained table at their edges: sizing,
// the default hash, buckets turning into trees, growth, the value modes,
// the null key, and every allocation of construction and add refused.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "chained_invariants.h"
#include "core/container.h"
#include "creation_sweep.h"
#include "fault_sweep.h"
#include "host_fixture.h"
#include "qvhost.h"

namespace {

using Map = OmbrixHashMap;

// Stored values lie packed in records, not always aligned.
template <typename T>
T stored(const void *value) {
    T v;
    std::memcpy(&v, value, sizeof v);
    return v;
}

OmbrixKeyPart intPart(int32_t levels = 1, int32_t offset = 0) {
    OmbrixKeyPart p = {};
    p.partType = OMBRIX_PART_INT32;
    p.partSize = 4;
    p.levels = levels;
    p.offsets[0] = offset;
    return p;
}

class HashMapTest : public HostTest {
  protected:
    // One int32 key part read from the item, 8-byte copied values.
    OmbrixHashMapParms intKeyParms(int32_t capacity = 0) {
        OmbrixHashMapParms parms = {};
        parms.keyMode = OMBRIX_KEY_COMPOSITE;
        parms.keyPartCount = 1;
        parms.keyParts = &intKeyPart;
        parms.valueSize = 8;
        parms.capacity = capacity;
        return parms;
    }
    static omb::HashMapState &state(Map *map) { return *omb::hashMapStateOf(map); }
    static QVStatus add(Map *map, int32_t key, int64_t value) {
        return map->add(map, &key, &value);
    }
    static void *find(Map *map, int32_t key) { return map->find(map, &key); }
    static QVStatus remove(Map *map, int32_t key) { return map->remove(map, &key); }
    static void expectHolds(Map *map, const std::vector<int32_t> &keys) {
        for (int32_t key : keys) {
            void *value = find(map, key);
            ASSERT_NE(value, nullptr) << key;
            EXPECT_EQ(stored<int64_t>(value), key * 10) << key;
        }
    }

    OmbrixKeyPart intKeyPart = intPart();
};

TEST_F(HashMapTest, SizesTheTableFromTheCapacity) {
    struct Row {
        int32_t capacity, tableSize, threshold, slots;
    } rows[] = {{0, 32, 24, 56}, {1, 32, 24, 56}, {-5, 32, 24, 56}, {100, 128, 96, 224},
                {64, 64, 48, 112}, {2, 2, 1, 3}, {3, 4, 3, 7}, {33, 64, 48, 112}};
    for (const Row &row : rows) {
        Map *map = hashMapNew(nullptr, intKeyParms(row.capacity));
        ASSERT_NE(map, nullptr) << row.capacity;
        EXPECT_EQ(state(map).tableSize, row.tableSize) << row.capacity;
        EXPECT_EQ(state(map).threshold, row.threshold) << row.capacity;
        EXPECT_EQ(state(map).recordCapacity, row.threshold) << row.capacity;
        EXPECT_EQ(state(map).slotCapacity, row.slots) << row.capacity;
        checkChainedTable(map);
        map->destroy(map);
    }
    EXPECT_EQ(hashMapNew(nullptr, intKeyParms(INT32_MAX)), nullptr) << "beyond 2^30 buckets";
}

TEST_F(HashMapTest, KeepsItsParametersInItsOwnPoolAndForcesTheValueSize) {
    struct Row {
        uint32_t valueMode;
        int32_t given, kept, recordSize;
    } rows[] = {{OMBRIX_VALUE_COPY, 12, 12, 16}, {OMBRIX_VALUE_POINTER, 12, 0, 4},
                {OMBRIX_VALUE_ACCUMULATE, 3, 8, 12}};
    for (const Row &row : rows) {
        OmbrixHashMapParms parms = intKeyParms();
        parms.valueMode = row.valueMode;
        parms.valueSize = row.given;
        parms.flags = OMBRIX_HASH_MAP_SORTED | OMBRIX_FLAG_NO_LOCK;
        Map *map = hashMapNew(nullptr, parms);
        EXPECT_EQ(map->parms->valueSize, row.kept);
        EXPECT_EQ(state(map).keyLayout->recordSize, row.recordSize) << "4 key bytes first";
        EXPECT_NE(map->parms->keyParts, &intKeyPart) << "a copy of the parts";
        EXPECT_EQ(map->parms->flags, parms.flags);
        EXPECT_STREQ(qvhostPoolName(state(map).pool), "ombrixh");
        EXPECT_EQ(qvhostPoolFlags(state(map).pool), OMBRIX_FLAG_NO_LOCK) << "bit 0 only";
        map->destroy(map);
    }
}

TEST_F(HashMapTest, RefusesKeyDefinitionsItCannotServe) {
    OmbrixKeyPart reached = intPart(2, 8);
    OmbrixKeyPart two[] = {intPart(), intPart(1, 4)};
    OmbrixKeyPart empty = intPart(), negative = intPart(), deep = intPart(6);
    empty.partSize = 0;
    negative.partSize = -4;
    struct Row {
        const char *what;
        uint32_t keyMode, tableKind;
        int32_t count;
        OmbrixKeyPart *parts;
        uint32_t valueMode;
        int32_t valueSize;
    } rows[] = {{"composite without parts", OMBRIX_KEY_COMPOSITE, 0, 0, nullptr, 0, 8},
                {"composite with a null array", OMBRIX_KEY_COMPOSITE, 0, 1, nullptr, 0, 8},
                {"composite of no bytes", OMBRIX_KEY_COMPOSITE, 0, 1, &empty, 0, 8},
                {"a negative part size", OMBRIX_KEY_COMPOSITE, 0, 1, &negative, 0, 8},
                {"a path of six levels", OMBRIX_KEY_VARIABLE, 0, 1, &deep, 0, 8},
                {"reference through a pointer", OMBRIX_KEY_REFERENCE, 0, 1, &reached, 0, 8},
                {"reference with two parts", OMBRIX_KEY_REFERENCE, 0, 2, two, 0, 8},
                {"value mode 3", OMBRIX_KEY_COMPOSITE, 0, 1, two, 3, 8},
                {"negative value size", OMBRIX_KEY_COMPOSITE, 0, 1, two, 0, -1},
                {"delegated table", OMBRIX_KEY_COMPOSITE, OMBRIX_TABLE_DELEGATED, 1, two, 0, 8}};
    for (const Row &row : rows) {
        OmbrixHashMapParms parms = {};
        parms.keyMode = row.keyMode;
        parms.tableKind = row.tableKind;
        parms.keyPartCount = row.count;
        parms.keyParts = row.parts;
        parms.valueMode = row.valueMode;
        parms.valueSize = row.valueSize;
        EXPECT_EQ(hashMapNew(nullptr, parms), nullptr) << row.what;
    }
    EXPECT_EQ(qvhostLivePools(host), poolsAtStart) << "no pool left behind";
}

TEST_F(HashMapTest, HashesByTheDefaultRule) {
    OmbrixHashMapParms parms = {};
    parms.keyMode = OMBRIX_KEY_VARIABLE;
    parms.valueMode = OMBRIX_VALUE_POINTER;
    Map *strings = hashMapNew(nullptr, parms);
    ASSERT_EQ(strings->add(strings, "ab", nullptr), OMBRIX_OK);
    EXPECT_EQ(state(strings).slots[3402 & 31].hash, 3402u) << "(97 * 33 + 98) + (3299 >> 5)";
    EXPECT_EQ(state(strings).bucketCounts[3402 & 31], 1);
    strings->destroy(strings);

    // One direct int32 part hashes to its bytes; reached through a pointer
    // the bytes 01 00 00 00 go through the multiply-by-33 rule.
    int32_t one = 1;
    const int32_t *indirect = &one;
    OmbrixKeyPart reached = intPart(2, 0);
    struct Row {
        OmbrixKeyPart *part;
        const void *item;
        uint32_t hash;
    } rows[] = {{&intKeyPart, &one, 1u}, {&reached, &indirect, 35937u + (35937u >> 5)}};
    for (const Row &row : rows) {
        OmbrixHashMapParms p = intKeyParms();
        p.keyParts = row.part;
        Map *map = hashMapNew(nullptr, p);
        int64_t value = 10;
        ASSERT_EQ(map->add(map, row.item, &value), OMBRIX_OK);
        EXPECT_EQ(state(map).slots[row.hash & 31].hash, row.hash);
        map->destroy(map);
    }
}

// The hash takes bytes four at a time; every length and every byte value
// must give what the byte-at-a-time rule gives.
TEST(HashMapHash, TakesBytesFourAtATimeWithTheSameResult) {
    omb::HashMapKeyLayout bytesLayout = {};
    std::mt19937 random(5);
    unsigned char bytes[40];
    for (int32_t size = 1; size <= 40; ++size) {
        for (unsigned char &b : bytes) b = static_cast<unsigned char>(random());
        if (size % 3 == 0) std::memset(bytes, 0xff, sizeof bytes);
        uint32_t h = bytes[0];
        for (int32_t i = 1; i < size; ++i) h = h * 33u + bytes[i];
        EXPECT_EQ(omb::defaultHash(bytesLayout, bytes, size), h + (h >> 5)) << "size " << size;
    }
}

TEST_F(HashMapTest, SevenKeysOfOneBucketBecomeATree) {
    Map *map = hashMapNew(nullptr, intKeyParms());
    std::vector<int32_t> keys;
    const int32_t counts[] = {1, 2, 3, 4, 5, 6, -7, -8};
    for (int32_t i = 0; i < 8; ++i) {
        keys.push_back(i * 32);
        ASSERT_EQ(add(map, i * 32, i * 320), OMBRIX_OK);
        EXPECT_EQ(state(map).bucketCounts[0], counts[i]) << "after " << i + 1 << " keys";
        expectHolds(map, keys);
        checkChainedTable(map);
    }
    // Removing from the tree: an inner entry, then the primary slot, whose
    // place the least key of the tree takes; the bucket stays a tree.
    ASSERT_EQ(remove(map, 96), OMBRIX_OK);
    EXPECT_EQ(state(map).bucketCounts[0], -7);
    ASSERT_EQ(remove(map, 0), OMBRIX_OK);
    EXPECT_EQ(state(map).bucketCounts[0], -6);
    EXPECT_EQ(*static_cast<int32_t *>(state(map).slots[0].key), 32) << "the least moved up";
    expectHolds(map, {32, 64, 128, 160, 192, 224});
    EXPECT_EQ(find(map, 0), nullptr);
    EXPECT_EQ(find(map, 96), nullptr);
    for (int32_t key : {224, 32, 160, 64, 128, 192}) {
        ASSERT_EQ(remove(map, key), OMBRIX_OK);
        checkChainedTable(map);
    }
    EXPECT_EQ(state(map).bucketCounts[0], 0);
    EXPECT_EQ(map->size(map), 0);
    map->destroy(map);
}

TEST_F(HashMapTest, RemovingAPrimarySlotPromotesTheNewestOverflowEntry) {
    Map *map = hashMapNew(nullptr, intKeyParms());
    for (int32_t key : {0, 32, 64}) add(map, key, key * 10);
    ASSERT_EQ(remove(map, 0), OMBRIX_OK);
    EXPECT_EQ(*static_cast<int32_t *>(state(map).slots[0].key), 64);
    EXPECT_EQ(state(map).bucketCounts[0], 2);
    expectHolds(map, {32, 64});
    EXPECT_EQ(remove(map, 5), OMBRIX_OK) << "an absent key";
    EXPECT_EQ(remove(map, 96), OMBRIX_OK) << "absent, in a used bucket";
    EXPECT_EQ(map->size(map), 2);
    checkChainedTable(map);
    map->destroy(map);
}

TEST_F(HashMapTest, GrowsWhenTheCountReachesThreeQuarters) {
    Map *map = hashMapNew(nullptr, intKeyParms());
    std::vector<int32_t> keys;
    for (int32_t key = 0; key < 24; ++key) {
        EXPECT_EQ(state(map).tableSize, 32);
        keys.push_back(key * 7);
        ASSERT_EQ(add(map, key * 7, key * 70), OMBRIX_OK);
    }
    omb::HashMapState &s = state(map);
    EXPECT_EQ(s.tableSize, 64);
    EXPECT_EQ(s.threshold, 48);
    EXPECT_EQ(s.resizeCount, 1);
    EXPECT_EQ(s.slotCapacity, 64);
    ASSERT_NE(s.nodeBlocks, nullptr);
    EXPECT_EQ(s.nodeBlocks->count, 1);
    EXPECT_EQ(static_cast<omb::RetiredBlock *>(s.nodeBlocks->elements)[0].count, 56);
    ASSERT_NE(s.recordBlocks, nullptr);
    EXPECT_EQ(static_cast<omb::RetiredBlock *>(s.recordBlocks->elements)[0].count, 24);
    EXPECT_EQ(s.recordCapacity, 24);
    expectHolds(map, keys);
    checkChainedTable(map);

    // Reset keeps the grown table and every retired block as spare supply.
    ASSERT_EQ(map->reset(map), OMBRIX_OK);
    EXPECT_EQ(map->size(map), 0);
    EXPECT_EQ(s.tableSize, 64);
    EXPECT_EQ(find(map, 7), nullptr);
    checkChainedTable(map);
    for (int32_t key = 0; key < 47; ++key) ASSERT_EQ(add(map, key, key * 10), OMBRIX_OK);
    EXPECT_EQ(s.resizeCount, 1) << "47 keys fit the kept supply";
    checkChainedTable(map);
    map->destroy(map);
}

TEST_F(HashMapTest, AddingAKeyAgainSumsOrReplacesItsValue) {
    OmbrixHashMapParms parms = intKeyParms();
    parms.valueMode = OMBRIX_VALUE_ACCUMULATE;
    Map *sums = hashMapNew(nullptr, parms);
    int32_t key = 5;
    for (double expected : {1.0, 2.0, 3.0}) {
        ASSERT_EQ(sums->add(sums, &key, nullptr), OMBRIX_OK);
        EXPECT_EQ(stored<double>(sums->find(sums, &key)), expected);
    }
    EXPECT_EQ(sums->size(sums), 1);
    sums->destroy(sums);

    parms.valueMode = OMBRIX_VALUE_POINTER;
    Map *pointers = hashMapNew(nullptr, parms);
    int first = 0, second = 0;
    pointers->add(pointers, &key, &first);
    pointers->add(pointers, &key, &second);
    EXPECT_EQ(pointers->find(pointers, &key), &second);
    EXPECT_EQ(pointers->size(pointers), 1);
    // A positive key size makes the argument the key bytes themselves; one
    // beyond the map's key size is ignored.
    int32_t bytes = 77;
    ASSERT_EQ(pointers->addWithKeySize(pointers, &bytes, 4, &first), OMBRIX_OK);
    EXPECT_EQ(pointers->addWithKeySize(pointers, &bytes, 5, &first), OMBRIX_OK);
    EXPECT_EQ(pointers->findWithKeySize(pointers, &bytes, 4), &first);
    EXPECT_EQ(pointers->size(pointers), 2);
    pointers->destroy(pointers);
}

// Two parts of 750 bytes: a key that must be built, beyond the 1024 bytes
// built on the stack. (One direct part is looked up where it lies.)
TEST_F(HashMapTest, LongCompositeKeysUseAPoolBufferForLookups) {
    struct Big {
        char bytes[1500];
    };
    OmbrixKeyPart halves[2] = {};
    for (int i = 0; i < 2; ++i) {
        halves[i].partType = OMBRIX_PART_BYTES;
        halves[i].partSize = sizeof(Big) / 2;
        halves[i].levels = 1;
        halves[i].offsets[0] = i * static_cast<int32_t>(sizeof(Big) / 2);
    }
    OmbrixHashMapParms parms = intKeyParms();
    parms.keyPartCount = 2;
    parms.keyParts = halves;
    Map *map = hashMapNew(nullptr, parms);
    Big big = {};
    std::memset(big.bytes, 'x', sizeof big.bytes);
    int64_t value = 9;
    ASSERT_EQ(map->add(map, &big, &value), OMBRIX_OK);
    uint64_t made = sweepAllocationFailures(
        host, [&] { return map->find(map, &big) != nullptr; }, [](uint64_t) {});
    EXPECT_EQ(made, 1u) << "the key buffer";
    sweepAllocationFailures(
        host, [&] { return map->remove(map, &big) == OMBRIX_OK; },
        [&](uint64_t) { EXPECT_EQ(map->size(map), 1); });
    EXPECT_EQ(map->size(map), 0);
    map->destroy(map);
}

// ---------------------------------------------------------------------------
// Refused allocations

TEST_F(HashMapTest, ARefusedCreationLeavesNothingBehind) {
    OmbrixKeyPart two[] = {intPart(), intPart(1, 4)};
    OmbrixHashMapParms composite = intKeyParms();
    composite.keyPartCount = 2;
    composite.keyParts = two;
    OmbrixHashMapParms pointers = {};
    pointers.keyMode = OMBRIX_KEY_REFERENCE;
    pointers.valueMode = OMBRIX_VALUE_POINTER;
    struct Row {
        OmbrixHashMapParms parms;
        uint64_t allocations;
        const char *what;
    } rows[] = {{composite, 9, "object, layout, parameters, parts, tree parts, sentinel, slots, "
                               "counts, records"},
                {pointers, 7, "no parts to copy, no records"}};
    for (const Row &row : rows) {
        CreationAllocations made = sweepCreation(host, poolsAtStart, [&](QVWord *pool) {
            Map *map = hashMapNew(pool, row.parms);
            if (map) map->destroy(map);
            return map != nullptr;
        });
        EXPECT_EQ(made.ownPool, row.allocations) << row.what;
        EXPECT_EQ(made.callerPool, row.allocations) << row.what;
    }
    qvhostFailPoolCreation(host, 1);
    EXPECT_EQ(hashMapNew(nullptr, composite), nullptr);
}

// Each add below is swept through its allocations; a refused one returns
// 0x803fc002 and leaves the map holding what it held.
TEST_F(HashMapTest, ARefusedAddLeavesTheMapAsItWas) {
    struct Row {
        const char *what;
        int32_t heldBefore; // keys 0, 32, 64 ... in bucket 0
        uint32_t flags;
        uint64_t allocations;
    } rows[] = {{"the first tree node of a bucket of seven", 6, 0, 6},
                {"a node for a bucket already a tree", 7, 0, 1},
                {"a key copy", 2, OMBRIX_HASH_MAP_COPY_KEYS, 1},
                {"a key copy and a tree node", 7, OMBRIX_HASH_MAP_COPY_KEYS, 2}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        OmbrixHashMapParms parms = {};
        parms.keyMode = OMBRIX_KEY_REFERENCE;
        parms.keyPartCount = 1;
        parms.keyParts = &intKeyPart;
        parms.valueMode = OMBRIX_VALUE_COPY;
        parms.valueSize = 8;
        parms.flags = row.flags;
        Map *map = hashMapNew(nullptr, parms);
        std::vector<int32_t> keys;
        for (int32_t i = 0; i <= row.heldBefore; ++i) keys.push_back(i * 32);
        int64_t value = 5;
        for (int32_t i = 0; i < row.heldBefore; ++i)
            ASSERT_EQ(map->add(map, &keys[i], &value), OMBRIX_OK);
        auto bucketCounts = [&] {
            return std::vector<int32_t>(state(map).bucketCounts, state(map).bucketCounts + 32);
        };
        std::vector<int32_t> counts = bucketCounts();
        uint64_t made = sweepAllocationFailures(
            host,
            [&] { return map->add(map, &keys.back(), &value) == OMBRIX_OK; },
            [&](uint64_t n) {
                EXPECT_EQ(map->size(map), row.heldBefore) << n;
                EXPECT_EQ(map->find(map, &keys.back()), nullptr) << n;
                EXPECT_EQ(bucketCounts(), counts);
                checkChainedTable(map);
            });
        EXPECT_EQ(made, row.allocations);
        EXPECT_EQ(map->size(map), row.heldBefore + 1);
        for (int32_t &key : keys) EXPECT_NE(map->find(map, &key), nullptr) << key;
        map->destroy(map);
    }

    Map *map = hashMapNew(nullptr, intKeyParms());
    int64_t value = 1;
    sweepAllocationFailures(
        host, [&] { return map->add(map, nullptr, &value) == OMBRIX_OK; },
        [&](uint64_t) {
            EXPECT_EQ(map->size(map), 0);
            EXPECT_EQ(state(map).nullEntry, nullptr);
        });
    EXPECT_EQ(stored<int64_t>(map->find(map, nullptr)), 1);
    map->destroy(map);
}

// Growth takes its blocks before it changes the table: a refused block
// leaves the table at its size with the entry that asked for the growth
// added, and the next add grows it. Rebuilding a bucket tree needs nodes; a
// refused node leaves the table grown and that bucket a long chain, which
// becomes a tree at its next add.
TEST_F(HashMapTest, ARefusedGrowthKeepsEveryKeyAndIsTriedAgain) {
    struct Row {
        const char *what;
        int32_t stride;   // keys 0, stride, 2 stride ...
        int32_t capacity;
        int32_t smallest; // the table that grows has at least this size
    } rows[] = {{"spread keys, first growth", 7, 0, 32},
                {"one crowded bucket", 64, 0, 32},
                {"spread keys from two buckets", 3, 2, 8}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        for (uint64_t n = 1;; ++n) {
            Map *map = hashMapNew(nullptr, intKeyParms(row.capacity));
            std::vector<int32_t> keys;
            auto nextKey = [&] {
                keys.push_back(static_cast<int32_t>(keys.size()) * row.stride);
                return keys.back();
            };
            omb::HashMapState &s = state(map);
            while (s.tableSize < row.smallest || s.count + 1 < s.threshold) {
                int32_t key = nextKey();
                ASSERT_EQ(add(map, key, key * 10), OMBRIX_OK);
            }
            int32_t size = s.tableSize, growths = s.resizeCount;
            int32_t key = nextKey();
            uint64_t before = qvhostAllocationCount(host);
            qvhostFailAllocation(host, n);
            QVStatus status = add(map, key, key * 10);
            uint64_t made = qvhostAllocationCount(host) - before;
            qvhostFailAllocation(host, 0);
            if (made < n) {
                EXPECT_EQ(status, OMBRIX_OK);
                EXPECT_EQ(s.tableSize, 2 * size);
                expectHolds(map, keys);
                checkChainedTable(map);
                map->destroy(map);
                break;
            }
            EXPECT_EQ(status, OMBRIX_E_NO_MEMORY) << n;
            if (map->size(map) < static_cast<int32_t>(keys.size())) {
                // The entry's own tree node was refused: nothing changed.
                EXPECT_EQ(find(map, key), nullptr) << n;
                keys.pop_back();
            }
            EXPECT_EQ(map->size(map), static_cast<int32_t>(keys.size())) << n;
            EXPECT_EQ(s.tableSize, s.resizeCount > growths ? 2 * size : size) << n;
            expectHolds(map, keys);
            checkChainedTable(map, true);
            key = nextKey();
            ASSERT_EQ(add(map, key, key * 10), OMBRIX_OK) << n;
            EXPECT_EQ(s.resizeCount, growths + 1) << n;
            expectHolds(map, keys);
            checkChainedTable(map);
            map->destroy(map);
        }
    }
}

}  // namespace
