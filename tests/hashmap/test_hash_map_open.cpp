// The open-addressing table: every key and value mode against a model, the
// invariants checked after each step; crowded buckets and chains; iteration,
// statistics; every allocation of add, doubling and the iterators refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <unordered_set>
#include <vector>

#include "core/container.h"
#include "fault_sweep.h"
#include "hashmap/hash_map_open.h"
#include "host_fixture.h"
#include "tree_keys.h"

namespace {
using Entry = OmbrixHashMapEntry;
using Map = OmbrixHashMap;
omb::HashMapState &state(Map *map) { return *omb::hashMapStateOf(map); }
template <typename T>
T stored(const void *value) { T v; return *static_cast<T *>(std::memcpy(&v, value, sizeof v)); }

// Each entry within 15 slots of home, hop bit i set exactly when slot home + i holds one of
// home's entries; chain nodes at home; the count below the threshold (at it after a refused
// doubling); records held once or free. Returns the number of chain nodes.
int32_t checkOpenTable(Map *map, bool atThreshold = false) {
    const omb::HashMapState &s = state(map);
    const omb::HashMapKeyLayout &layout = *s.keyLayout;
    bool valueRecords = map->parms->keyMode != OMBRIX_KEY_COMPOSITE && layout.recordSize != 0;
    std::unordered_set<const void *> held;
    auto hold = [&](const Entry &e, int32_t &count) {
        const void *record = valueRecords ? e.value : e.key;
        EXPECT_TRUE(!layout.recordSize || !record || held.insert(record).second) << "held twice";
        count += 1;
    };
    int32_t inSlots = 0, inChains = 0;
    for (int32_t p = 0; p < s.slotCapacity && !testing::Test::HasFailure(); ++p) {
        const Entry &slot = s.slots[p];
        for (int32_t i = 0; i < 32; ++i) {
            const Entry *e = i < omb::kNeighbourhood && p + i < s.slotCapacity ? &s.slots[p + i] : nullptr;
            bool member = e && e->key && static_cast<int32_t>(e->hash & s.mask) == p;
            EXPECT_EQ(((slot.hop >> i) & 1u) != 0, member) << "bucket " << p << " bit " << i;
        }
        EXPECT_TRUE(!slot.key || p - (slot.hash & s.mask) < uint32_t{omb::kNeighbourhood}) << p;
        if (slot.key) hold(slot, inSlots);
        for (const Entry *node = slot.next; node && inChains <= s.count; node = node->next) {
            EXPECT_EQ(static_cast<int32_t>(node->hash & s.mask), p) << "a node off its home";
            hold(*node, inChains);
        }
    }
    EXPECT_EQ(inSlots + inChains, s.count);
    EXPECT_TRUE(atThreshold ? s.count == s.threshold : s.count < s.threshold) << s.count;
    if (!layout.recordSize) return inChains;
    int32_t supply = s.recordCapacity, free = 0;
    for (int32_t i = 0; s.recordBlocks && i < s.recordBlocks->count; ++i)
        supply += static_cast<omb::RetiredBlock *>(s.recordBlocks->elements)[i].count;
    EXPECT_EQ(supply, s.threshold) << "one record per entry below the threshold";
    for (void *r = s.recordFree; r && free <= supply; r = omb::recordLink(layout, r), ++free)
        EXPECT_EQ(held.count(r), 0u) << "a free record is held";
    EXPECT_EQ(free + static_cast<int32_t>(held.size()), supply) << "records lost or doubled";
    return inChains;
}

struct Item { uint64_t tag; int32_t number, unused; const int64_t *wide; char text[16]; };
struct Value { int32_t words[3]; };
// Four full hashes: past sixteen keys each, only chains take them.
uint32_t fourHashes(const void *bytes, int32_t) {
    return ((*static_cast<const unsigned char *>(bytes) >> 3) & 3u) * 0x01010101u;
}
uint32_t hashByLength(const void *, int32_t size) { return size * 0x9e3779b9u; }
uint32_t oneHash(const void *, int32_t) { return 0x5a5a5a40u; }
// Key 0 at home 2, every other key k at home 0 of 32 (hash 32 k).
uint32_t homeTwoThenZero(const void *bytes, int32_t) {
    int32_t k;
    std::memcpy(&k, bytes, sizeof k);
    return k ? 32u * static_cast<uint32_t>(k) : 2u;
}
// Keys 0-2 at hash 32, 3-15 at 0, the rest at 3: home 3's neighbourhood is full of keys no
// doubling moves, but one doubling takes keys 0-2 from below it.
uint32_t crowdedFromBelow(const void *bytes, int32_t) {
    int32_t k;
    std::memcpy(&k, bytes, sizeof k);
    return k < 3 ? 32u : k < 16 ? 0u : 3u;
}
// Keys 16 and 17 at home 16, the others at home 0 (hash 0).
uint32_t homeSixteenAmongZero(const void *bytes, int32_t) {
    int32_t k;
    std::memcpy(&k, bytes, sizeof k);
    return k == 16 || k == 17 ? 16u : 0u;
}
// Key parts: the number (the tag when unsummed), then an int64 through a pointer.
struct Shape { const char *name; uint32_t keyMode; int32_t parts; OmbrixHashFunction hash; };
const Shape kShapes[] = {
    {"composite int32", OMBRIX_KEY_COMPOSITE, 1, nullptr},
    {"composite int32 + int64, four hashes", OMBRIX_KEY_COMPOSITE, 2, fourHashes},
    {"string", OMBRIX_KEY_VARIABLE, 0, nullptr},
    {"string, one hash per length", OMBRIX_KEY_VARIABLE, 0, hashByLength},
    {"pointer", OMBRIX_KEY_REFERENCE, 0, nullptr},
    {"pointer, four hashes", OMBRIX_KEY_REFERENCE, 0, fourHashes},
    {"direct int32", OMBRIX_KEY_REFERENCE, 1, nullptr},
    {"direct int32, four hashes", OMBRIX_KEY_REFERENCE, 1, fourHashes},
    {"unsummed direct tag", OMBRIX_KEY_REFERENCE_UNSUMMED, 1, nullptr},
};

class OpenTableTest : public HostTest {
  protected:
    Map *make(uint32_t keyMode, uint32_t valueMode, OmbrixKeyPart *parts, int32_t count,
              OmbrixHashFunction hash = nullptr, int32_t capacity = 0, QVWord *pool = nullptr) {
        OmbrixHashMapParms parms = {};
        parms.keyMode = keyMode, parms.keyPartCount = count, parms.keyParts = parts;
        parms.valueMode = valueMode, parms.valueSize = sizeof(Value), parms.capacity = capacity;
        parms.flags = OMBRIX_FLAG_NO_LOCK | OMBRIX_HASH_MAP_COPY_KEYS;  // ignored by the open table
        parms.tableKind = OMBRIX_TABLE_OPEN, parms.hashFunction = hash;
        return hashMapNew(pool, parms);
    }
    // An int map of copied values holding keys 0, stride, 2 stride ... (n of them).
    Map *filled(OmbrixHashFunction hash, int32_t n, int32_t stride = 1) {
        Map *map = make(OMBRIX_KEY_COMPOSITE, OMBRIX_VALUE_COPY, &intPart, 1, hash);
        for (int32_t i = 0; i < n; ++i) EXPECT_EQ(add(map, i * stride), OMBRIX_OK);
        return map;
    }
    static QVStatus add(Map *map, int32_t key) { Value v{{key, 1, 2}}; return map->add(map, &key, &v); }
    OmbrixKeyPart intPart = directPart(OMBRIX_PART_INT32, 4);
};
class OpenTablePropertyTest : public OpenTableTest,
                              public ::testing::WithParamInterface<std::tuple<int, uint32_t>> {};
TEST_P(OpenTablePropertyTest, AgreesWithAModelAndKeepsItsInvariants) {
    const Shape &shape = kShapes[std::get<0>(GetParam())];
    uint32_t valueMode = std::get<1>(GetParam());
    SCOPED_TRACE(shape.name);
    std::mt19937 random(std::get<0>(GetParam()) * 5 + valueMode);
    constexpr int kItems = 160, kSteps = 700;
    std::vector<Item> items(kItems);  // each points at its own wide
    std::vector<int64_t> wides(kItems);
    for (int i = 0; i < kItems; ++i) {
        // Numbers crowd a few home buckets of tables up to 64; a few share the low 12 bits.
        items[i].number = i < 90 ? (i % 6) + 64 * (i / 6) : i < 120 ? i * 4096 : 100000 + i * 7919;
        items[i].tag = 0x9e3779b97f4a7c15ull * static_cast<uint64_t>(i + 1);
        items[i].wide = &(wides[i] = static_cast<int64_t>(i % 3) << 40);
        std::snprintf(items[i].text, sizeof items[i].text, "%d%.*s", i * 7, i % 5, "xxxx");
    }
    auto argument = [&](int k) -> const void * {  // kItems: the null key
        return k == kItems ? nullptr : shape.keyMode == OMBRIX_KEY_VARIABLE ? items[k].text : (void *)&items[k];
    };
    bool unsummed = shape.keyMode == OMBRIX_KEY_REFERENCE_UNSUMMED;
    OmbrixKeyPart parts[2] = {unsummed ? directPart(OMBRIX_PART_BYTES, 8, offsetof(Item, tag))
                                       : directPart(OMBRIX_PART_INT32, 4, offsetof(Item, number)),
                              directPart(OMBRIX_PART_INT64, 8, offsetof(Item, wide))};
    parts[1].levels = 2;
    QVWord *pool = random() % 2 ? nullptr : omb::hostCreatePool(host, omb::poolParms, nullptr, "");
    Map *map = make(shape.keyMode, valueMode, shape.parts ? parts : nullptr, shape.parts,
                    shape.hash, pool ? 2 : 0, pool);  // the smallest table in a caller's pool
    ASSERT_NE(map, nullptr);
    // find's answer: the pointer given (copied nulls too), a copy of it, or the sum.
    struct Expected { bool present = false; const void *pointer = nullptr; double sum = 0; };
    std::vector<Expected> model(kItems + 1);
    std::vector<Value> values(kSteps);  // given at each step, kept for pointer values
    std::vector<double> doubles(kSteps);
    bool accumulate = valueMode == OMBRIX_VALUE_ACCUMULATE;
    int32_t chains = 0;
    for (int step = 0; step < kSteps && !HasFailure(); ++step) {
        int key = random() % 30 == 0 ? kItems : static_cast<int>(random() % kItems);
        values[step] = Value{{step, -step, key}};
        doubles[step] = 0.25 * step;
        const void *value = random() % 8 == 0 ? nullptr
                            : accumulate      ? static_cast<const void *>(&doubles[step])
                                              : &values[step];
        uint32_t action = random() % 300;
        if (action == 0) {
            ASSERT_EQ(map->reset(map), OMBRIX_OK);
            model.assign(kItems + 1, Expected{});
        } else if (action < 110) {
            ASSERT_EQ(action % 2 ? map->remove(map, argument(key))
                                 : map->removeWithKeySize(map, argument(key), 0), OMBRIX_OK);
            model[key] = Expected{};
        } else {
            ASSERT_EQ(action % 2 ? map->add(map, argument(key), value)
                                 : map->addWithKeySize(map, argument(key), 0, value), OMBRIX_OK);
            double sum = model[key].sum + (value && accumulate ? doubles[step] : 1.0);
            model[key] = Expected{true, value, sum};
        }
        chains = std::max(chains, checkOpenTable(map));
        int32_t size = 0;
        for (int k = 0; k <= kItems; ++k) {
            const Expected &x = model[k];
            size += x.present;
            void *got = map->find(map, argument(k));
            ASSERT_EQ(got, map->findWithKeySize(map, argument(k), 0)) << k;
            ASSERT_TRUE(x.pointer && valueMode == OMBRIX_VALUE_COPY ? got && !std::memcmp(got, x.pointer, sizeof(Value))
                        : x.present && accumulate ? got && stored<double>(got) == x.sum
                                                  : got == x.pointer) << k;
        }
        ASSERT_EQ(map->size(map), size);
    }
    EXPECT_TRUE(chains > 0 || shape.hash != fourHashes) << "no key ever reached a chain";
    EXPECT_GT(state(map).resizeCount, 0);
    hashMapDestroy(map);
    EXPECT_TRUE(!pool || poolStats(pool).liveBlocks == 0) << "blocks left in the caller's pool";
    if (pool) omb::poolDestroy(pool);
}

INSTANTIATE_TEST_SUITE_P(EveryKeyAndValueMode, OpenTablePropertyTest,
    ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kShapes))),
                       ::testing::Values(OMBRIX_VALUE_COPY, OMBRIX_VALUE_POINTER, OMBRIX_VALUE_ACCUMULATE)));

// Keys 0, stride, 2 stride ... (8 bytes, pointer values) in a table of 32 buckets; the even
// ones removed, the odd ones replaced, the even ones back in the freed slots first; a reset.
TEST_F(OpenTableTest, CrowdedBucketsDoubleWhileThatHelpsAndChainsTakeTheRest) {
    constexpr uint32_t kInt = OMBRIX_KEY_COMPOSITE, kPointer = OMBRIX_KEY_REFERENCE;
    struct Row { const char *name; uint32_t keyMode; OmbrixHashFunction hash;
                 int32_t keys, stride, tableSize, resizes, chained; } rows[] = {
        {"23 keys: no doubling", kInt, nullptr, 23, 1, 32, 0, 0},
        {"the 24th key doubles", kInt, nullptr, 24, 1, 64, 1, 0},
        {"17 of one home bucket part", kInt, nullptr, 17, 32, 64, 1, 0},
        {"17 of one home, hashes 4096 apart, double apart", kInt, nullptr, 17, 4096, 8192, 8, 0},
        {"17 of one bucket to 2^20: doubled to 2^16", kInt, nullptr, 17, 1 << 20, 65536, 11, 1},
        {"crowded from below the home bucket", kInt, crowdedFromBelow, 20, 1, 64, 1, 0},
        {"20 of one hash: a chain at once", kInt, oneHash, 20, 1, 32, 0, 4},
        {"3000 of one hash: the threshold's doublings", kInt, oneHash, 3000, 1, 4096, 7, 2984},
        {"3000 pointers of one hash", kPointer, oneHash, 3000, 1, 4096, 7, 2984},
        {"3000 of one bucket to 2^31", kInt, nullptr, 3000, 1 << 19, 65536, 11, 2984},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QVWord *pool = omb::hostCreatePool(host, omb::poolParms, nullptr, "caller");
        Map *map = make(row.keyMode, OMBRIX_VALUE_POINTER, row.keyMode == kInt ? &intPart : nullptr,
                        row.keyMode == kInt, row.hash, 0, pool);
        std::vector<int64_t> keys(row.keys);  // the composite key reads the low four bytes
        auto addEach = [&](int32_t first, int32_t step, int32_t valueBack) {
            for (int32_t i = first; i < row.keys; i += step)
                ASSERT_EQ(map->add(map, &keys[i], &keys[i - valueBack]), OMBRIX_OK) << i;
        };
        for (int32_t i = 0; i < row.keys; ++i) keys[i] = static_cast<int64_t>(i) * row.stride;
        addEach(0, 1, 0);
        EXPECT_EQ(std::tuple(state(map).tableSize, state(map).resizeCount, checkOpenTable(map)),
                  std::tuple(row.tableSize, row.resizes, row.chained));
        for (int32_t i = 0; i < row.keys; i += 2) ASSERT_EQ(map->remove(map, &keys[i]), OMBRIX_OK);
        addEach(1, 2, 1);
        EXPECT_EQ(map->size(map), row.keys / 2);
        for (int32_t i = 0; i < row.keys; ++i)
            ASSERT_EQ(map->find(map, &keys[i]), i % 2 ? &keys[i - 1] : nullptr) << i;
        addEach(0, 2, 0);
        EXPECT_EQ(checkOpenTable(map), row.chained) << "the freed slots taken first";
        uint64_t blocks = poolStats(pool).liveBlocks;
        ASSERT_EQ(map->reset(map), OMBRIX_OK);
        EXPECT_EQ(blocks - poolStats(pool).liveBlocks, static_cast<uint64_t>(row.chained));
        map->destroy(map);
        EXPECT_EQ(poolStats(pool).liveBlocks, 0u);
        omb::poolDestroy(pool);
    }
}

// The pointer add and find never read a pointer key, so made-up pointers can share the
// default hash: a byte weighs 33 times its higher neighbour, so raising it by one and
// lowering that neighbour by 33 keeps the hash. Forty of them: sixteen in the neighbourhood,
// the rest in the home chain (no doubling separates one full hash), all found by pointer.
// (The general remove compares the bytes at keys of equal hash, so it is not called here.)
TEST_F(OpenTableTest, PointersOfOneDefaultHashAreFoundInTheNeighbourhoodAndTheChain) {
    std::vector<const void *> keys;
    for (uint64_t b5 = 0; b5 <= 7 && keys.size() < 41; ++b5)
        for (uint64_t b6 = 0; b6 <= 255 && keys.size() < 41; ++b6) {
            int64_t b7 = 7 * 33 * 33 - static_cast<int64_t>(b5 * 33 * 33 + b6 * 33);
            if (b7 >= 0 && b7 <= 255)
                keys.push_back(reinterpret_cast<const void *>(
                    0x1040 | b5 << 40 | b6 << 48 | static_cast<uint64_t>(b7) << 56));
        }
    ASSERT_EQ(keys.size(), 41u);
    for (const void *key : keys)
        ASSERT_EQ(omb::defaultPointerHash(reinterpret_cast<uintptr_t>(key)),
                  omb::defaultPointerHash(reinterpret_cast<uintptr_t>(keys[0])));
    const void *missing = keys.back();
    keys.pop_back();
    Map *map = make(OMBRIX_KEY_REFERENCE, OMBRIX_VALUE_POINTER, nullptr, 0);
    ASSERT_EQ(map->find, &hashMapOpenPtrFind);
    std::vector<int32_t> values(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(map->add(map, keys[i], &values[i]), OMBRIX_OK);
    EXPECT_EQ(checkOpenTable(map), 24);
    EXPECT_EQ(state(map).resizeCount, 1);  // the threshold's doubling at 24 keys
    for (size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(map->find(map, keys[i]), &values[i]) << i;
    EXPECT_EQ(map->find(map, missing), nullptr);
    EXPECT_EQ(map->find(map, nullptr), nullptr);
    map->destroy(map);
}

// A sized call looks only at its home bucket's members. Pointer keys whose hash depends on
// the key size: a and b both have home 5 at 8 bytes, so b sits in slot 6; at 4 bytes b's
// home is 6, whose slot holds b but no member of bucket 6. The very pointer there is not a
// match: find misses, remove leaves the table alone, add places a new entry of home 6.
uint32_t homeBySize(const void *, int32_t size) { return size == 4 ? 6u : 5u; }
TEST_F(OpenTableTest, ASizedCallLooksOnlyAtItsHomeBucketsMembers) {
    enum Operation { kFind, kRemove, kAdd };
    const struct { Operation operation; int32_t size; uint32_t hop6; } rows[] = {
        {kFind, 2, 0b00}, {kRemove, 2, 0b00}, {kAdd, 3, 0b10}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.operation);
        Map *map = make(OMBRIX_KEY_REFERENCE, OMBRIX_VALUE_POINTER, nullptr, 0, homeBySize);
        ASSERT_NE(map, nullptr);
        int32_t a = 1, b = 2, va = 10, vb = 20, vc = 30;
        ASSERT_EQ(map->add(map, &a, &va), OMBRIX_OK);
        ASSERT_EQ(map->add(map, &b, &vb), OMBRIX_OK);
        ASSERT_EQ(state(map).slots[6].key, &b);
        switch (row.operation) {
        case kFind: EXPECT_EQ(map->findWithKeySize(map, &b, 4), nullptr); break;
        case kRemove: EXPECT_EQ(map->removeWithKeySize(map, &b, 4), OMBRIX_OK); break;
        case kAdd: EXPECT_EQ(map->addWithKeySize(map, &b, 4, &vc), OMBRIX_OK); break;
        }
        EXPECT_EQ(map->size(map), row.size);
        EXPECT_EQ(map->find(map, &b), &vb) << "b's 8-byte entry keeps its value";
        EXPECT_EQ(state(map).slots[5].hop, 0b11u);
        EXPECT_EQ(state(map).slots[6].hop, row.hop6);
        checkOpenTable(map);
        map->destroy(map);
    }
}

// The fast forms compare the stored hash before the pointer: an entry a sized add made for
// the same pointer under another hash of the same home is not theirs. Direct int32 63 at two
// bytes hashes to 2143 (home 31, as 63's); a pointer hashes to 0x25 at 4 bytes, 0x5 at 8.
uint32_t homeFiveBySize(const void *, int32_t size) { return size == 4 ? 0x25u : 0x5u; }
TEST_F(OpenTableTest, TheFastFormsTestTheHashBeforeThePointer) {
    const struct { const char *what; bool direct; OmbrixHashFunction hash; int32_t sized;
                   bool findsSized; } rows[] = {
        {"hashMapOpenAdd, then hashMapOpenFind", true, nullptr, 2, false},
        {"hashMapOpenPtrAdd, then hashMapOpenPtrFind", false, homeFiveBySize, 4, true}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        Map *map = make(OMBRIX_KEY_REFERENCE, OMBRIX_VALUE_POINTER, row.direct ? &intPart : nullptr,
                        row.direct, row.hash);
        int32_t item = 63, sized = 1, fast = 2;
        ASSERT_EQ(map->addWithKeySize(map, &item, row.sized, &sized), OMBRIX_OK);
        ASSERT_EQ(map->add(map, &item, &fast), OMBRIX_OK);
        EXPECT_EQ(map->size(map), 2) << "the fast add makes its own entry";
        EXPECT_EQ(map->find(map, &item), row.findsSized ? &sized : &fast);
        map->destroy(map);
    }
}

// A present key needs no block: its value is replaced while the doubling that a refused
// threshold add left pending is refused again.
TEST_F(OpenTableTest, APresentKeyIsReplacedWhileThePendingDoublingIsRefused) {
    Map *map = make(OMBRIX_KEY_REFERENCE, OMBRIX_VALUE_POINTER, &intPart, 1);
    int32_t keys[24];
    for (int32_t i = 0; i < 24; ++i) {
        if (i == 23) qvhostFailAllocationsFrom(host, 1);
        ASSERT_EQ(map->add(map, &(keys[i] = i), &keys[0]), i == 23 ? OMBRIX_E_NO_MEMORY : OMBRIX_OK);
    }
    EXPECT_EQ(map->add(map, &keys[0], &keys[1]), OMBRIX_OK);
    EXPECT_EQ(map->addWithKeySize(map, &keys[2], 0, &keys[1]), OMBRIX_OK);
    qvhostFailAllocation(host, 0);
    EXPECT_EQ(map->find(map, &keys[0]), &keys[1]);
    EXPECT_EQ(map->find(map, &keys[2]), &keys[1]);
    EXPECT_EQ(map->size(map), 24);
    map->destroy(map);
}

TEST_F(OpenTableTest, StatisticsCountRanksInTheChain) {
    Map *map = filled(oneHash, 18);
    testing::internal::CaptureStdout();
    EXPECT_EQ(map->stat(map), OMBRIX_OK);
    std::string lines;
    for (int32_t r = 1; r <= 18; ++r) lines += std::to_string(r) + " : 1 (5.56%)\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "0 : 16 (88.89%)\n" + lines + "\ntotal elements: 18\nnumber resizes: 0\n");
    map->destroy(map);
}

// A refused add changes nothing: its overflow node, or any block of the doubling its
// placement asks for (the array, the record block, the list of retired record blocks, a
// chain node of the new array). The doubling at the threshold comes after the entry is
// stored: refused, the add reports it with the entry kept; the next add tries it first.
// A refused iterator is the zeroed record.
TEST_F(OpenTableTest, ARefusedAddDoublingOrIteratorLeavesTheTableAsItWas) {
    enum Operation { kAdd, kResize, kIterate, kIterateSorted };
    struct Row { const char *what; int32_t held, stride; OmbrixHashFunction hash;
                 Operation operation; bool atThreshold; uint64_t allocations; } rows[] = {
        {"a chain node", 16, 1, oneHash, kAdd, false, 1},
        {"the placement's doubling", 16, 32, nullptr, kAdd, false, 4},
        {"a second doubling, eight chain nodes to rebuild", 24, 1, oneHash, kResize, false, 10},
        {"the null key", 0, 1, nullptr, kAdd, false, 1},
        {"the threshold's doubling tried again", 24, 1, nullptr, kAdd, true, 4},
        {"an iterator", 20, 1, oneHash, kIterate, false, 1},
        {"a sorted iterator", 20, 1, oneHash, kIterateSorted, false, 2},
        // Slots 0-15 home 0, slot 16 key 0 of home 2: it moves to 17 before the doubling.
        {"the doubling after a displacement", 17, 1, homeTwoThenZero, kAdd, false, 4},
        // Key 16 moves from slot 16 to 18 before the chain node is asked for.
        {"a chain node after a displacement", 18, 1, homeSixteenAmongZero, kAdd, false, 1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Map *map = filled(row.hash, row.held - row.atThreshold, row.stride);
        qvhostFailAllocation(host, row.atThreshold);  // 0: nothing refused
        EXPECT_EQ(row.atThreshold ? add(map, row.held - 1) : OMBRIX_E_NO_MEMORY, OMBRIX_E_NO_MEMORY);
        qvhostFailAllocation(host, 0);
        Value value = {};
        omb::HashMapState &s = state(map);
        std::vector<Entry> slots(s.slots, s.slots + s.slotCapacity);
        Entry *array = s.slots;
        OmbrixIterator it{};
        map->parms->flags = row.operation == kIterateSorted ? OMBRIX_HASH_MAP_SORTED : 0u;
        auto operation = [&] {
            if (row.operation == kResize) return omb::hashMapOpenResize(&s) == OMBRIX_OK;
            if (row.operation == kAdd)
                return (row.held ? add(map, row.held * row.stride)
                                 : map->add(map, nullptr, &value)) == OMBRIX_OK;
            int32_t n = 0;
            for (it = map->iterator(map); it.hasNext;) n += it.next(&it) != nullptr;
            if (it.next) it.release(&it);
            return it.next && n == row.held;
        };
        auto unchanged = [&](uint64_t n) {
            EXPECT_EQ(it.next, nullptr) << n;
            EXPECT_TRUE(s.slots == array && map->size(map) == row.held && !s.nullEntry &&
                        !std::memcmp(slots.data(), s.slots, slots.size() * sizeof(Entry))) << n;
            checkOpenTable(map, row.atThreshold);
        };
        EXPECT_EQ(sweepAllocationFailures(host, operation, unchanged), row.allocations);
        checkOpenTable(map);
        for (int32_t k = 0; k < row.held * row.stride; k += row.stride)
            ASSERT_EQ(map->find(map, &k) ? stored<Value>(map->find(map, &k)).words[0] : -1, k);
        map->destroy(map);
    }
}

}  // namespace
