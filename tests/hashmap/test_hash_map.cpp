// The chained hash map at its edges: sizing, the default hash, a bucket turning into
// a tree, growth, every allocation refused. The property test carries the breadth.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <numeric>
#include <random>
#include <string>

#include "chained_invariants.h"
#include "creation_sweep.h"
#include "fault_sweep.h"
#include "host_fixture.h"

namespace {

using Map = OmbrixHashMap;

OmbrixKeyPart intPart(int32_t levels = 1, int32_t offset = 0) {
    return {OMBRIX_PART_INT32, 4, levels, {offset, 0, 0, 0, 0}, 0};
}

class HashMapTest : public HostTest {
  protected:
    OmbrixHashMapParms intKeyParms(int32_t capacity = 0, uint32_t keyMode = OMBRIX_KEY_COMPOSITE) {
        return {keyMode, 1, &intKeyPart, 0, 0, 8, 0, capacity, 0, nullptr};
    }
    static omb::HashMapState &state(Map *map) { return *omb::hashMapStateOf(map); }
    static QVStatus add(Map *map, int32_t key) {
        int64_t value = key * 10;
        return map->add(map, &key, &value);
    }
    static void expectHolds(Map *map, const std::vector<int32_t> &keys) {
        for (int32_t key : keys) {
            void *value = map->find(map, &key);
            ASSERT_NE(value, nullptr) << key;
            int64_t stored;
            std::memcpy(&stored, value, sizeof stored);  // records pack values unaligned
            EXPECT_EQ(stored, key * 10) << key;
        }
    }
    // Removes `keys` in a shuffled order: after each removal the table keeps
    // its rules and every remaining key finds its value, the key itself.
    template <typename Key>
    static void removeInAnyOrder(Map *map, std::vector<Key *> keys, uint32_t seed) {
        std::shuffle(keys.begin(), keys.end(), std::mt19937(seed));
        for (size_t i = 0; i < keys.size(); ++i) {
            ASSERT_EQ(map->remove(map, keys[i]), OMBRIX_OK);
            checkChainedTable(map, true);
            EXPECT_EQ(map->find(map, keys[i]), nullptr);
            for (size_t j = i + 1; j < keys.size(); ++j)
                ASSERT_EQ(map->find(map, keys[j]), keys[j]) << "after " << i + 1 << " removals";
        }
    }
    OmbrixKeyPart intKeyPart = intPart();
};

TEST_F(HashMapTest, SizesTheTableFromTheCapacity) {
    const struct { int32_t capacity, tableSize, threshold, slots; } rows[] = {{0, 32, 24, 56}, {1, 32, 24, 56}, {-5, 32, 24, 56}, {100, 128, 96, 224},
                {64, 64, 48, 112}, {2, 2, 1, 3}, {3, 4, 3, 7}, {33, 64, 48, 112}};
    for (const auto &row : rows) {
        Map *map = hashMapNew(nullptr, intKeyParms(row.capacity));
        ASSERT_NE(map, nullptr) << row.capacity;
        omb::HashMapState &s = state(map);
        EXPECT_EQ(std::vector<int32_t>({s.tableSize, s.threshold, s.recordCapacity, s.slotCapacity,
                                        map->parms->capacity}),
                  std::vector<int32_t>({row.tableSize, row.threshold, row.threshold, row.slots,
                                        row.capacity > 1 ? row.capacity : 32}))
            << row.capacity << " (the default written back)";
        map->destroy(map);
    }
    EXPECT_EQ(hashMapNew(nullptr, intKeyParms(INT32_MAX)), nullptr) << "beyond 2^30 buckets";
}

TEST_F(HashMapTest, KeepsItsParametersInItsOwnPoolAndForcesTheValueSize) {
    const struct { uint32_t valueMode; int32_t given, kept, recordSize; } rows[] = {{OMBRIX_VALUE_COPY, 12, 12, 16}, {OMBRIX_VALUE_POINTER, 12, 0, 4},
                {OMBRIX_VALUE_ACCUMULATE, 3, 8, 12}};
    for (const auto &row : rows) {
        OmbrixHashMapParms parms = {OMBRIX_KEY_COMPOSITE, 1, &intKeyPart, 0, row.valueMode, row.given,
                                    OMBRIX_HASH_MAP_SORTED | OMBRIX_FLAG_NO_LOCK, 0, 0, nullptr};
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
    OmbrixKeyPart reached = intPart(2, 8), two[] = {intPart(), intPart(1, 4)};
    OmbrixKeyPart empty = {OMBRIX_PART_INT32, 0, 1, {}, 0}, deep = intPart(6);
    OmbrixKeyPart negative = {OMBRIX_PART_INT32, -4, 1, {}, 0};
    auto parms = [](uint32_t mode, int32_t count, OmbrixKeyPart *parts, uint32_t valueMode = 0,
                    int32_t valueSize = 8, uint32_t kind = 0) {
        return OmbrixHashMapParms{mode, count, parts, 0, valueMode, valueSize, 0, 0, kind, nullptr};
    };
    const uint32_t composite = OMBRIX_KEY_COMPOSITE, reference = OMBRIX_KEY_REFERENCE;
    const struct { const char *what; OmbrixHashMapParms parms; } rows[] = {{"composite without parts", parms(composite, 0, nullptr)},
                {"composite with a null array", parms(composite, 1, nullptr)},
                {"composite of no bytes", parms(composite, 1, &empty)},
                {"a negative part size", parms(composite, 1, &negative)},
                {"a path of six levels", parms(OMBRIX_KEY_VARIABLE, 1, &deep)},
                {"reference through a pointer", parms(reference, 1, &reached)},
                {"reference with two parts", parms(reference, 2, two)},
                {"value mode 3", parms(composite, 1, two, 3)},
                {"negative value size", parms(composite, 1, two, 0, -1)},
                {"delegated table", parms(composite, 1, two, 0, 8, OMBRIX_TABLE_DELEGATED)}};
    for (const auto &row : rows) EXPECT_EQ(hashMapNew(nullptr, row.parms), nullptr) << row.what;
    EXPECT_EQ(qvhostLivePools(host), poolsAtStart) << "no pool left behind";
}

// A part reached through a pointer hashes its bytes 01 00 00 00 by the
// string rule.
TEST_F(HashMapTest, HashesByTheDefaultRule) {
    int32_t one = 1;
    const int32_t *indirect = &one;
    OmbrixKeyPart reached = intPart(2, 0);
    const struct { uint32_t keyMode; OmbrixKeyPart *part; const void *item; uint32_t hash; } rows[] = {
                {OMBRIX_KEY_VARIABLE, nullptr, "ab", 3402u},  // (97 * 33 + 98) + (3299 >> 5)
                {OMBRIX_KEY_COMPOSITE, &intKeyPart, &one, 1u},
                {OMBRIX_KEY_COMPOSITE, &reached, &indirect, 35937u + (35937u >> 5)}};
    for (const auto &row : rows) {
        OmbrixHashMapParms parms = {row.keyMode, row.part ? 1 : 0, row.part, 0, 0, 8, 0, 0, 0, nullptr};
        Map *map = hashMapNew(nullptr, parms);
        int64_t value = 10;
        ASSERT_EQ(map->add(map, row.item, &value), OMBRIX_OK);
        EXPECT_EQ(state(map).slots[row.hash & 31].hash, row.hash);
        EXPECT_EQ(state(map).bucketCounts[row.hash & 31], 1);
        map->destroy(map);
    }
    // Taken eight bytes at a time, with the byte-at-a-time rule's result.
    omb::HashMapKeyLayout bytesLayout = {};
    std::mt19937 random(5);
    unsigned char bytes[40];
    for (int32_t size = 1; size <= 40; ++size) {
        for (unsigned char &b : bytes) b = static_cast<unsigned char>(random());
        if (size % 3 == 0) std::memset(bytes, 0xff, sizeof bytes);
        uint32_t h = bytes[0];
        for (int32_t i = 1; i < size; ++i) h = h * 33u + bytes[i];
        EXPECT_EQ(omb::defaultHash(bytesLayout, bytes, size), h + (h >> 5)) << "size " << size;
        if (size != 8) continue;
        // A pointer key: the same rule over the pointer's own eight bytes.
        uintptr_t pointer;
        std::memcpy(&pointer, bytes, sizeof pointer);
        EXPECT_EQ(omb::defaultPointerHash(pointer), h + (h >> 5));
    }
}

// Keys 0, 32, 64 ... share bucket 0. The seventh turns it into a tree;
// removing the primary slot promotes the newest chain entry, or the least
// key of a tree.
TEST_F(HashMapTest, SevenKeysOfOneBucketBecomeATree) {
    Map *map = hashMapNew(nullptr, intKeyParms());
    int32_t first = 0;
    auto primaryKey = [&] { return *static_cast<int32_t *>(state(map).slots[0].key); };
    for (int32_t key : {0, 32, 64}) add(map, key);
    ASSERT_EQ(map->remove(map, &first), OMBRIX_OK);
    EXPECT_EQ(primaryKey(), 64) << "the newest moved up";
    ASSERT_EQ(map->reset(map), OMBRIX_OK);
    const int32_t counts[] = {1, 2, 3, 4, 5, 6, -7, -8};
    for (int32_t i = 0; i < 8; ++i) {
        ASSERT_EQ(add(map, i * 32), OMBRIX_OK);
        EXPECT_EQ(state(map).bucketCounts[0], counts[i]) << "after " << i + 1 << " keys";
        checkChainedTable(map);
    }
    int32_t gone[] = {96, 0};
    for (int32_t &key : gone) ASSERT_EQ(map->remove(map, &key), OMBRIX_OK);
    EXPECT_EQ(state(map).bucketCounts[0], -6);
    EXPECT_EQ(primaryKey(), 32) << "the least moved up";
    expectHolds(map, {32, 64, 128, 160, 192, 224});
    map->destroy(map);
}

TEST_F(HashMapTest, GrowsWhenTheCountReachesThreeQuartersAndResetKeepsTheSupply) {
    Map *map = hashMapNew(nullptr, intKeyParms());
    omb::HashMapState &s = state(map);
    for (int32_t key = 0; key < 24; ++key) {
        EXPECT_EQ(s.resizeCount, 0);
        ASSERT_EQ(add(map, key * 7), OMBRIX_OK);
    }
    EXPECT_EQ(std::vector<int32_t>({s.tableSize, s.threshold, s.resizeCount, s.slotCapacity,
                                    s.recordCapacity, supplyOf(0, s.nodeBlocks)}),
              std::vector<int32_t>({64, 48, 1, 64, 24, 56}));
    ASSERT_EQ(map->reset(map), OMBRIX_OK);
    for (int32_t key = 0; key < 47; ++key) ASSERT_EQ(add(map, key), OMBRIX_OK);
    EXPECT_EQ(std::vector<int32_t>({s.tableSize, s.resizeCount}), std::vector<int32_t>({64, 1}))
        << "47 keys fit the kept supply";
    map->destroy(map);
}

TEST_F(HashMapTest, ARefusedCreationLeavesNothingBehind) {
    OmbrixKeyPart two[] = {intPart(), intPart(1, 4)};
    OmbrixHashMapParms composite = {OMBRIX_KEY_COMPOSITE, 2, two, 0, 0, 8, 0, 0, 0, nullptr};
    OmbrixHashMapParms pointers = {OMBRIX_KEY_REFERENCE, 0, nullptr, 0, OMBRIX_VALUE_POINTER, 0, 0, 0, 0, nullptr};
    const struct { OmbrixHashMapParms parms; uint64_t allocations; } rows[] = {{composite, 9}, {pointers, 7}};
    for (const auto &row : rows) {
        CreationAllocations made = sweepCreation(host, poolsAtStart, [&](QVWord *pool) {
            Map *map = hashMapNew(pool, row.parms);
            if (map) map->destroy(map);
            return map != nullptr;
        });
        EXPECT_EQ(made.ownPool, row.allocations);
        EXPECT_EQ(made.callerPool, row.allocations);
    }
    qvhostFailPoolCreation(host, 1);
    EXPECT_EQ(hashMapNew(nullptr, composite), nullptr);
}

TEST_F(HashMapTest, ARefusedAddLeavesTheMapAsItWas) {
    // heldBefore: keys 0, 32, 64 ... in bucket 0; -1: the null key.
    const struct { const char *what; int32_t heldBefore; uint32_t flags; uint64_t allocations; } rows[] = {{"the first tree node of a bucket of seven", 6, 0, 6},
                {"a node for a bucket already a tree", 7, 0, 1},
                {"a key copy", 2, OMBRIX_HASH_MAP_COPY_KEYS, 1},
                {"a key copy and a tree node", 7, OMBRIX_HASH_MAP_COPY_KEYS, 2},
                {"the null key's entry", -1, 0, 1}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        OmbrixHashMapParms parms = {OMBRIX_KEY_REFERENCE, 1, &intKeyPart, 0, 0, 8, row.flags, 0, 0, nullptr};
        Map *map = hashMapNew(nullptr, parms);
        std::vector<int32_t> keys;
        int64_t value = 5;
        for (int32_t i = 0; i <= row.heldBefore; ++i) keys.push_back(i * 32);
        for (int32_t i = 0; i < row.heldBefore; ++i) map->add(map, &keys[i], &value);
        const void *added = keys.empty() ? nullptr : &keys.back();
        int32_t held = row.heldBefore < 0 ? 0 : row.heldBefore;
        std::vector<int32_t> counts(state(map).bucketCounts, state(map).bucketCounts + 32);
        uint64_t made = sweepAllocationFailures(
            host, [&] { return map->add(map, added, &value) == OMBRIX_OK; },
            [&](uint64_t n) {
                EXPECT_TRUE(map->size(map) == held && !map->find(map, added)) << n;
                EXPECT_EQ(std::vector<int32_t>(state(map).bucketCounts,
                                               state(map).bucketCounts + 32), counts);
                checkChainedTable(map);
            });
        EXPECT_EQ(made, row.allocations);
        EXPECT_EQ(map->size(map), held + 1);
        for (int32_t &key : keys) EXPECT_NE(map->find(map, &key), nullptr) << key;
        map->destroy(map);
    }
}

// A refused growth block leaves the table at its size with the entry that
// asked for it added, and the next add grows it; a refused tree node while
// rebuilding leaves the table grown and that bucket a long chain.
TEST_F(HashMapTest, ARefusedGrowthKeepsEveryKeyAndIsTriedAgain) {
    // Keys 0, stride, 2 stride ... from a capacity until a table of at least `smallest` grows.
    const struct { int32_t stride, capacity, smallest; } rows[] = {{7, 0, 32}, {64, 0, 32}, {3, 2, 8}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.stride);
        for (uint64_t n = 1;; ++n) {
            Map *map = hashMapNew(nullptr, intKeyParms(row.capacity));
            std::vector<int32_t> keys;
            auto nextKey = [&] {
                keys.push_back(static_cast<int32_t>(keys.size()) * row.stride);
                return keys.back();
            };
            omb::HashMapState &s = state(map);
            while (s.tableSize < row.smallest || s.count + 1 < s.threshold)
                ASSERT_EQ(add(map, nextKey()), OMBRIX_OK);
            int32_t size = s.tableSize, growths = s.resizeCount, key = nextKey();
            uint64_t before = qvhostAllocationCount(host);
            qvhostFailAllocation(host, n);
            QVStatus status = add(map, key);
            bool done = qvhostAllocationCount(host) - before < n;
            qvhostFailAllocation(host, 0);
            EXPECT_EQ(status, done ? OMBRIX_OK : OMBRIX_E_NO_MEMORY) << n;
            if (!done && map->size(map) < static_cast<int32_t>(keys.size())) {
                EXPECT_EQ(map->find(map, &key), nullptr) << "its own node refused, " << n;
                keys.pop_back();
            }
            EXPECT_EQ(map->size(map), static_cast<int32_t>(keys.size())) << n;
            EXPECT_EQ(s.tableSize, s.resizeCount > growths ? 2 * size : size) << n;
            expectHolds(map, keys);
            checkChainedTable(map, !done);
            if (!done) {
                ASSERT_EQ(add(map, nextKey()), OMBRIX_OK) << n;
                expectHolds(map, keys);
                checkChainedTable(map);
            }
            EXPECT_EQ(s.resizeCount, growths + 1) << n;
            map->destroy(map);
            if (done) break;
        }
    }
}


// An integer field's key into an empty bucket is added inline; the growth
// that add reaches, refused, still reports 0x803fc002 and keeps the entry,
// and the next add grows the table.
TEST_F(HashMapTest, ARefusedGrowthReachedByAnInlineAddKeepsItsEntry) {
    OmbrixHashMapParms parms = intKeyParms(0, OMBRIX_KEY_REFERENCE);
    parms.valueMode = OMBRIX_VALUE_POINTER;
    parms.valueSize = 0;
    Map *map = hashMapNew(nullptr, parms);
    omb::HashMapState &s = state(map);
    std::vector<int32_t> items(32);
    std::iota(items.begin(), items.end(), 0);  // key k in bucket k: every add meets an empty one
    int32_t last = s.threshold - 1;
    for (int32_t k = 0; k < last; ++k) ASSERT_EQ(map->add(map, &items[k], &items[k]), OMBRIX_OK);
    qvhostFailAllocation(host, 1);
    EXPECT_EQ(map->add(map, &items[last], &items[last]), OMBRIX_E_NO_MEMORY);
    qvhostFailAllocation(host, 0);
    EXPECT_EQ(s.tableSize, 32);
    EXPECT_EQ(map->size(map), last + 1);
    ASSERT_EQ(map->add(map, &items[last + 1], &items[last + 1]), OMBRIX_OK);
    EXPECT_EQ(s.tableSize, 64);
    for (int32_t k = 0; k <= last + 1; ++k) EXPECT_EQ(map->find(map, &items[k]), &items[k]) << k;
    checkChainedTable(map);
    map->destroy(map);
}

// Copied keys of one default hash, told apart only by their bytes: the
// plain find, which reads the key from the item's field, and the sized find
// agree on every key and on a key of that hash never added, whether the
// keys share a chain, a tree or (open table) a neighbourhood and its chain.
// The bytes at 12..15 pair up as 33 * a + b = 3400 twice over, which keeps
// the hash of the 16 bytes.
TEST_F(HashMapTest, CopiedKeysOfOneHashAreFoundByTheirBytes) {
    using SizedFind = void *(*)(Map *, const void *, int32_t);
    const struct { uint32_t tableKind; SizedFind sizedFind; } tables[] = {
        {OMBRIX_TABLE_CHAINED, hashMapListFindWithKeySize},
        {OMBRIX_TABLE_OPEN, hashMapOpenFindWithKeySize}};
    using Key = std::array<unsigned char, 16>;
    std::vector<Key> keys;
    for (int high = 96; high <= 103; ++high)
        for (int low = 96; low <= 103; ++low) {
            Key key;
            key.fill('k');
            key[12] = static_cast<unsigned char>(high);
            key[13] = static_cast<unsigned char>(3400 - 33 * high);
            key[14] = static_cast<unsigned char>(low);
            key[15] = static_cast<unsigned char>(3400 - 33 * low);
            keys.push_back(key);
        }
    Key absent = keys.back();
    keys.pop_back();
    OmbrixKeyPart part = {OMBRIX_PART_BYTES, 16, 1, {0, 0, 0, 0, 0}, 0};
    // Every byte of a value is set, so a copy one byte short shows.
    auto valueOf = [](size_t i) { return uint64_t{0x8877665544332211u} + i; };
    for (const auto &table : tables)
        for (size_t count : {size_t{2}, size_t{6}, keys.size()}) {
            OmbrixHashMapParms parms = {OMBRIX_KEY_COMPOSITE, 1, &part, 0, OMBRIX_VALUE_COPY,
                                        8, 0, 0, table.tableKind, nullptr};
            Map *map = hashMapNew(nullptr, parms);
            ASSERT_NE(map, nullptr);
            for (size_t i = 0; i < count; ++i) {
                uint64_t value = valueOf(i);
                ASSERT_EQ(map->add(map, keys[i].data(), &value), OMBRIX_OK);
            }
            for (size_t i = 0; i < count; ++i) {
                void *found = map->find(map, keys[i].data());
                ASSERT_NE(found, nullptr) << table.tableKind << "/" << count << "/" << i;
                uint64_t stored;
                std::memcpy(&stored, found, sizeof stored);
                EXPECT_EQ(stored, valueOf(i));
                EXPECT_EQ(table.sizedFind(map, keys[i].data(), 16), found);
            }
            EXPECT_EQ(map->find(map, absent.data()), nullptr) << table.tableKind << "/" << count;
            map->destroy(map);
        }
}

}  // namespace

// Distinct keys that the bucket trees' order cannot tell apart, all in one
// bucket: double parts 0.0 and -0.0, and NaNs, which the order finds equal
// to everything. The tree of the first seven keys turns back into a chain,
// and every key stays its own entry through growth and removal in any order.
TEST_F(HashMapTest, KeysEqualInTreeOrderStayApart) {
    OmbrixKeyPart doublePart = {OMBRIX_PART_DOUBLE, 8, 1, {0, 0, 0, 0, 0}, 0};
    OmbrixHashMapParms parms = {OMBRIX_KEY_REFERENCE, 1, &doublePart, 0, OMBRIX_VALUE_POINTER, 0, 0, 0, 0,
                                [](const void *, int32_t) -> uint32_t { return 0; }};
    std::vector<uint64_t> items;
    for (double d = 1; d <= 7; ++d) items.push_back(std::bit_cast<uint64_t>(d));  // a tree
    items.push_back(0);
    items.push_back(uint64_t{1} << 63);  // -0.0: the tree goes back to a chain
    for (uint64_t payload = 1; payload <= 15; ++payload) items.push_back(0x7ff8000000000000u | payload);
    Map *map = hashMapNew(nullptr, parms);
    for (uint64_t &item : items) ASSERT_EQ(map->add(map, &item, &item), OMBRIX_OK);
    EXPECT_EQ(hashMapSize(map), 24);
    EXPECT_EQ(state(map).resizeCount, 1);
    EXPECT_EQ(checkChainedTable(map, true), 0) << "no tree can hold them";
    std::vector<uint64_t *> order;
    for (uint64_t &item : items) order.push_back(&item);
    removeInAnyOrder(map, order, 7);
    map->destroy(map);
}

// String keys shorter than the 16 bytes the bucket trees' part reads stay in
// chains, or turn a tree back into one, so no tree compares past a key's end
// (each key its own heap block, for the address checker). All keys share one
// bucket, through two growths and removal in any order.
TEST_F(HashMapTest, StringKeysShorterThanTheirPartsStayOutOfTrees) {
    OmbrixKeyPart bytesPart = {OMBRIX_PART_BYTES, 16, 1, {0, 0, 0, 0, 0}, 0};
    OmbrixHashMapParms parms = {OMBRIX_KEY_VARIABLE, 1, &bytesPart, 0, OMBRIX_VALUE_POINTER,
                                0, 0, 8, 0, [](const void *, int32_t) -> uint32_t { return 0; }};
    const struct { const char *shape; int exact, shorter, trees; } rows[] = {
        {"shorter", 0, 12, 0}, {"exactly as long", 12, 0, 1}, {"a tree, then shorter", 7, 5, 0}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.shape);
        std::vector<std::unique_ptr<char[]>> keys;
        for (int i = 0; i < row.exact + row.shorter; ++i) {
            std::string text =
                i < row.exact ? std::string(15, 'x') + char('a' + i) : "k" + std::to_string(i);
            keys.push_back(std::make_unique<char[]>(text.size() + 1));
            std::memcpy(keys.back().get(), text.c_str(), text.size() + 1);
        }
        Map *map = hashMapNew(nullptr, parms);
        for (auto &key : keys) ASSERT_EQ(map->add(map, key.get(), key.get()), OMBRIX_OK);
        EXPECT_EQ(state(map).resizeCount, 2);
        EXPECT_EQ(checkChainedTable(map, true), row.trees);
        std::vector<char *> order;
        for (auto &key : keys) order.push_back(key.get());
        removeInAnyOrder(map, order, 11);
        map->destroy(map);
    }
}

// A growth rebuilds each bucket from its entries: a chain that held 0.0
// and -0.0 (no tree can hold both) splits into a bucket of eight keys the
// order ranks, which becomes a tree, and -0.0 alone.
TEST_F(HashMapTest, AGrowthTurnsEveryBucketOfSevenIntoATree) {
    OmbrixKeyPart doublePart = {OMBRIX_PART_DOUBLE, 8, 1, {0, 0, 0, 0, 0}, 0};
    OmbrixHashMapParms parms = {OMBRIX_KEY_REFERENCE, 1, &doublePart, 0, OMBRIX_VALUE_POINTER, 0, 0, 0, 0,
                                [](const void *bytes, int32_t) -> uint32_t {
                                    uint64_t bits;
                                    std::memcpy(&bits, bytes, sizeof bits);
                                    double d = std::bit_cast<double>(bits);
                                    return bits == uint64_t{1} << 63 ? 32 : d >= 100 ? uint32_t(d) : 0;
                                }};
    std::vector<double> items = {1, 2, 3, 4, 5, 6, 7, 0.0, -0.0};
    for (double d = 101; d <= 115; ++d) items.push_back(d);  // buckets 5 .. 19, then 37 .. 51
    Map *map = hashMapNew(nullptr, parms);
    for (double &item : items) ASSERT_EQ(map->add(map, &item, &item), OMBRIX_OK);
    ASSERT_EQ(state(map).resizeCount, 1);
    EXPECT_EQ(std::vector<int32_t>({state(map).bucketCounts[0], state(map).bucketCounts[32]}),
              std::vector<int32_t>({-8, 1}));
    checkChainedTable(map);
    map->destroy(map);
}

// An add refused its key copy leaves a tree bucket a tree, even when the
// key (shorter than the order reads) would have turned it into a chain.
TEST_F(HashMapTest, ARefusedKeyCopyLeavesATreeBucketAsItWas) {
    OmbrixKeyPart bytesPart = {OMBRIX_PART_BYTES, 16, 1, {0, 0, 0, 0, 0}, 0};
    OmbrixHashMapParms parms = {OMBRIX_KEY_VARIABLE, 1, &bytesPart, 0, OMBRIX_VALUE_POINTER, 0,
                                OMBRIX_HASH_MAP_COPY_KEYS, 0, 0,
                                [](const void *, int32_t) -> uint32_t { return 0; }};
    Map *map = hashMapNew(nullptr, parms);
    std::vector<std::string> keys;
    for (char c = 'a'; c < 'h'; ++c) keys.push_back(std::string(15, 'x') + c);
    for (const std::string &key : keys) ASSERT_EQ(map->add(map, key.c_str(), nullptr), OMBRIX_OK);
    ASSERT_EQ(state(map).bucketCounts[0], -7);
    char shorter[] = "short";
    uint64_t made = sweepAllocationFailures(
        host, [&] { return map->add(map, shorter, shorter) == OMBRIX_OK; },
        [&](uint64_t n) {
            EXPECT_EQ(state(map).bucketCounts[0], -7) << n;
            EXPECT_EQ(map->size(map), 7);
        });
    EXPECT_EQ(made, 1u);
    map->destroy(map);
}

// Every find of an item key (the object's, the plain and the sized form)
// hashes it as the add did: a 2-byte integer field hashes its two bytes,
// not the four its type suggests, on both table kinds. An item of an equal
// key finds the stored one wherever it sits in its bucket.
// A copied integer field of 16 bytes hashes by its first four bytes, as every integer key
// does, on the plain paths too (which unroll 16-byte string keys): the plain and the sized
// operations reach the same entries, at the bucket of those four bytes, in both tables.
TEST_F(HashMapTest, AWideIntegerFieldHashesByItsFirstFourBytesOnEveryPath) {
    using SizedFind = void *(*)(Map *, const void *, int32_t);
    using SizedRemove = QVStatus (*)(Map *, const void *, int32_t);
    const struct { uint32_t tableKind; uint32_t partType; SizedFind find; SizedRemove remove; } rows[] = {
        {OMBRIX_TABLE_CHAINED, OMBRIX_PART_INT32, hashMapListFindWithKeySize, hashMapListRemoveWithKeySize},
        {OMBRIX_TABLE_CHAINED, OMBRIX_PART_INT64, hashMapListFindWithKeySize, hashMapListRemoveWithKeySize},
        {OMBRIX_TABLE_OPEN, OMBRIX_PART_INT32, hashMapOpenFindWithKeySize, hashMapOpenRemoveWithKeySize},
        {OMBRIX_TABLE_OPEN, OMBRIX_PART_INT64, hashMapOpenFindWithKeySize, hashMapOpenRemoveWithKeySize}};
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << row.tableKind << "/" << row.partType);
        OmbrixKeyPart part = {row.partType, 16, 1, {0, 0, 0, 0, 0}, 0};
        OmbrixHashMapParms parms = {OMBRIX_KEY_COMPOSITE, 1, &part, 0, OMBRIX_VALUE_COPY,
                                    8, 0, 0, row.tableKind, nullptr};
        Map *map = hashMapNew(nullptr, parms);
        ASSERT_NE(map, nullptr);
        std::vector<std::array<int32_t, 4>> items(300);
        for (int32_t i = 0; i < 300; ++i) items[i] = {i * 7, 1, 2, 3};
        for (int32_t i = 0; i < 300; ++i) {
            int64_t value = i;
            ASSERT_EQ(map->add(map, items[i].data(), &value), OMBRIX_OK);
        }
        const omb::HashMapState &s = state(map);
        const OmbrixHashMapEntry &home = s.slots[items[1][0] & s.mask];
        EXPECT_EQ(home.hash, 7u) << "the hash is the first four bytes";
        for (int32_t i = 0; i < 300; ++i) {
            void *value = map->find(map, items[i].data());
            ASSERT_NE(value, nullptr) << i;
            ASSERT_EQ(row.find(map, items[i].data(), 0), value) << i;
            int64_t stored;
            std::memcpy(&stored, value, sizeof stored);
            EXPECT_EQ(stored, i);
        }
        for (int32_t i = 0; i < 300; ++i)
            ASSERT_EQ(i % 2 ? map->remove(map, items[i].data()) : row.remove(map, items[i].data(), 0),
                      OMBRIX_OK);
        EXPECT_EQ(map->size(map), 0);
        map->destroy(map);
    }
}

// A copied value of no bytes still has its place: after the key in a mode-0 key's record,
// which find returns; the null key, which has no record, holds no value.
// A copied value of no bytes: a mode-0 key's record holds it after the key;
// an entry without a record keeps the pointer it was made with, since a
// later add copies no bytes over it. A null value clears either, and the
// null key, with no storage for it, holds no value.
TEST_F(HashMapTest, ACopiedValueOfNoBytesLivesInTheRecordOrKeepsTheFirstPointer) {
    for (uint32_t tableKind : {OMBRIX_TABLE_CHAINED, OMBRIX_TABLE_OPEN})
        for (uint32_t keyMode : {OMBRIX_KEY_COMPOSITE, OMBRIX_KEY_REFERENCE}) {
            SCOPED_TRACE(testing::Message() << tableKind << "/" << keyMode);
            OmbrixHashMapParms parms = {keyMode, 1, &intKeyPart, 0, OMBRIX_VALUE_COPY,
                                        0, 0, 0, tableKind, nullptr};
            Map *map = hashMapNew(nullptr, parms);
            ASSERT_NE(map, nullptr);
            int32_t key = 7, first = 99, second = 98;
            ASSERT_EQ(map->add(map, &key, &first), OMBRIX_OK);
            ASSERT_EQ(map->add(map, &key, &second), OMBRIX_OK);
            ASSERT_EQ(map->add(map, nullptr, &first), OMBRIX_OK);
            const OmbrixHashMapEntry &slot = state(map).slots[7];
            void *expected = keyMode == OMBRIX_KEY_COMPOSITE
                                 ? static_cast<void *>(static_cast<unsigned char *>(slot.key) + 4)
                                 : &first;
            EXPECT_EQ(map->find(map, &key), expected);
            EXPECT_EQ(map->findWithKeySize(map, &key, 0), expected);
            EXPECT_EQ(map->find(map, nullptr), nullptr);
            EXPECT_EQ(map->size(map), 2);
            ASSERT_EQ(map->add(map, &key, nullptr), OMBRIX_OK);
            EXPECT_EQ(map->find(map, &key), nullptr);
            map->destroy(map);
        }
}

// A string key is matched by its own pointer whatever size its entry was
// stored with, where the lookup's bucket holds it: "identity" at sizes 6 and
// 5 hashes to one bucket, at size 3 to another. The chained table's removal
// compares bytes alone, the open table's matches as its find does. In a
// tree bucket the find walks the tree for the pointer.
TEST_F(HashMapTest, AStringKeyIsMatchedByItsOwnPointerAtAnySize) {
    char text[] = "identity";
    int first = 1, second = 2;
    for (uint32_t tableKind : {OMBRIX_TABLE_CHAINED, OMBRIX_TABLE_OPEN}) {
        SCOPED_TRACE(tableKind);
        OmbrixHashMapParms parms = {OMBRIX_KEY_VARIABLE, 0, nullptr, 0, OMBRIX_VALUE_POINTER,
                                    0, 0, 0, tableKind, nullptr};
        Map *map = hashMapNew(nullptr, parms);
        ASSERT_EQ(map->addWithKeySize(map, text, 6, &first), OMBRIX_OK);
        EXPECT_EQ(map->findWithKeySize(map, text, 5), &first);
        EXPECT_EQ(map->findWithKeySize(map, text, 3), nullptr);
        ASSERT_EQ(map->addWithKeySize(map, text, 5, &second), OMBRIX_OK);
        EXPECT_EQ(map->size(map), 1);
        EXPECT_EQ(map->findWithKeySize(map, text, 6), &second);
        ASSERT_EQ(map->removeWithKeySize(map, text, 5), OMBRIX_OK);
        EXPECT_EQ(map->size(map), tableKind == OMBRIX_TABLE_CHAINED ? 1 : 0);
        map->destroy(map);
        parms.keyMode = OMBRIX_KEY_REFERENCE;  // a pointer has its own eight bytes and no more
        map = hashMapNew(nullptr, parms);
        ASSERT_EQ(map->addWithKeySize(map, text, 16, &first), OMBRIX_OK);
        for (int32_t size : {0, 8, 9, 4096}) EXPECT_EQ(map->findWithKeySize(map, text, size), &first);
        map->destroy(map);
    }
    OmbrixHashMapParms oneBucket = {OMBRIX_KEY_VARIABLE, 0, nullptr, 0, OMBRIX_VALUE_POINTER, 0, 0, 0, 0,
                                    [](const void *, int32_t) -> uint32_t { return 0; }};
    Map *map = hashMapNew(nullptr, oneBucket);
    std::vector<std::string> others = {"k0", "k1", "k2", "k3", "k4", "k5", "k6", "k7"};
    for (const std::string &other : others)
        ASSERT_EQ(map->addWithKeySize(map, other.data(), 2, &second), OMBRIX_OK);
    ASSERT_EQ(map->addWithKeySize(map, text, 6, &first), OMBRIX_OK);
    ASSERT_LT(state(map).bucketCounts[0], 0) << "a tree";
    EXPECT_EQ(map->findWithKeySize(map, text, 5), &first);
    EXPECT_EQ(map->findWithKeySize(map, text, 7), &first);
    map->destroy(map);
}

// The key field may sit anywhere in the item: near the item's start the
// finds read it from the state beside the short-find tag, further out they
// take the general path, and every path agrees.
TEST_F(HashMapTest, AKeyFieldIsFoundAtAnyOffset) {
    using SizedFind = void *(*)(Map *, const void *, int32_t);
    const struct { uint32_t tableKind; SizedFind sizedFind; } tables[] = {
        {OMBRIX_TABLE_CHAINED, hashMapListFindWithKeySize},
        {OMBRIX_TABLE_OPEN, hashMapOpenFindWithKeySize}};
    constexpr int32_t kItems = 200, kStride = 16;
    for (const auto &table : tables)
        for (uint32_t keyMode : {OMBRIX_KEY_REFERENCE, OMBRIX_KEY_COMPOSITE})
            for (int32_t offset : {0, 13, 65535, 65536, 1 << 20}) {
                SCOPED_TRACE(testing::Message() << table.tableKind << "/" << keyMode << "/" << offset);
                bool bytes = keyMode == OMBRIX_KEY_COMPOSITE;
                OmbrixKeyPart part = {bytes ? OMBRIX_PART_BYTES : OMBRIX_PART_INT32, bytes ? 16 : 4, 1,
                                      {offset, 0, 0, 0, 0}, 0};
                OmbrixHashMapParms parms = {keyMode, 1, &part, 0, OMBRIX_VALUE_POINTER,
                                            0, 0, 0, table.tableKind, nullptr};
                Map *map = hashMapNew(nullptr, parms);
                ASSERT_NE(map, nullptr);
                // Items overlap; each one's field is its own 16 bytes.
                std::vector<unsigned char> buffer(offset + (kItems + 1) * kStride, 0xa5);
                auto item = [&](int32_t i) { return buffer.data() + i * kStride; };
                for (int32_t i = 0; i <= kItems; ++i) {
                    int32_t key = i * 977 + 5;
                    std::memcpy(item(i) + offset, &key, sizeof key);
                }
                for (int32_t i = 0; i < kItems; ++i) ASSERT_EQ(map->add(map, item(i), item(i)), OMBRIX_OK);
                for (int32_t i = 0; i < kItems; ++i) {
                    ASSERT_EQ(map->find(map, item(i)), item(i)) << i;
                    ASSERT_EQ(table.sizedFind(map, item(i), 0), item(i)) << i;
                }
                EXPECT_EQ(map->find(map, item(kItems)), nullptr) << "an item never added";
                for (int32_t i = 0; i < kItems; i += 2) ASSERT_EQ(map->remove(map, item(i)), OMBRIX_OK);
                EXPECT_EQ(map->size(map), kItems / 2);
                for (int32_t i = 0; i < kItems; ++i)
                    ASSERT_EQ(map->find(map, item(i)), i % 2 ? item(i) : nullptr) << i;
                map->destroy(map);
            }
}

TEST_F(HashMapTest, EveryFindOfAnItemKeyHashesItAsTheAddDid) {
    struct Item {
        int16_t field;
        int16_t beside;
    };
    using SizedFind = void *(*)(Map *, const void *, int32_t);
    const struct { uint32_t tableKind; int32_t partSize; SizedFind sizedFind; } rows[] = {
        {OMBRIX_TABLE_CHAINED, 2, hashMapListFindWithKeySize},
        {OMBRIX_TABLE_OPEN, 2, hashMapOpenFindWithKeySize},
        {OMBRIX_TABLE_CHAINED, 4, hashMapListFindWithKeySize},
        {OMBRIX_TABLE_OPEN, 4, hashMapOpenFindWithKeySize}};
    for (const auto &row : rows) {
        OmbrixKeyPart part = {OMBRIX_PART_INT32, row.partSize, 1, {0, 0, 0, 0, 0}, 0};
        OmbrixHashMapParms parms = {OMBRIX_KEY_REFERENCE, 1, &part, 0, OMBRIX_VALUE_POINTER,
                                    0, 0, 0, row.tableKind, nullptr};
        Map *map = hashMapNew(nullptr, parms);
        ASSERT_NE(map, nullptr);
        std::vector<Item> items(300);
        for (size_t i = 0; i < items.size(); ++i)
            items[i] = {static_cast<int16_t>(i * 7), static_cast<int16_t>(1000 - i)};
        for (Item &item : items) ASSERT_EQ(map->add(map, &item, &item), OMBRIX_OK);
        for (Item &item : items) {
            Item copy = item;  // another item of an equal key matches by its bytes
            for (const Item *probe : {&item, &copy}) {
                EXPECT_EQ(map->find(map, probe), &item) << row.tableKind << "/" << row.partSize;
                EXPECT_EQ(hashMapFind(map, probe), &item);
                EXPECT_EQ(row.sizedFind(map, probe, 0), &item);
            }
        }
        map->destroy(map);
    }
}
