// The open-addressing table: random sequences of every key and value mode
// against a model with the table's invariants checked after each step; the
// edges of doubling, crowded home buckets, overflow chains and keys of one
// hash; iteration and statistics; every allocation of add, doubling and
// the iterators refused.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
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
T stored(const void *value) {
    T v;
    std::memcpy(&v, value, sizeof v);
    return v;
}

// Every entry within 15 slots of its home bucket, whose hop bit i is set
// exactly when slot home + i holds one of its entries; every chain node of
// the bucket at its position; the count below the threshold (`atThreshold`:
// after a refused doubling, at it); each record held once or free. Returns
// the number of chain nodes.
int32_t checkOpenTable(Map *map, bool atThreshold = false) {
    const omb::HashMapState &s = state(map);
    const omb::HashMapKeyLayout &layout = *s.keyLayout;
    EXPECT_EQ(s.mask, s.tableSize - 1);
    EXPECT_EQ(s.slotCapacity, s.tableSize + omb::kSpareSlots);
    EXPECT_EQ(s.threshold, static_cast<int32_t>(static_cast<float>(s.tableSize) * 0.75f));
    bool valueRecords = map->parms->keyMode != OMBRIX_KEY_COMPOSITE && layout.recordSize != 0;
    std::unordered_set<const void *> held;
    auto hold = [&](const Entry &e) {
        const void *record = valueRecords ? e.value : e.key;
        if (layout.recordSize && record) {
            EXPECT_TRUE(held.insert(record).second) << "a record held twice";
        }
    };
    int32_t inSlots = 0, inChains = 0;
    for (int32_t p = 0; p < s.slotCapacity && !testing::Test::HasFailure(); ++p) {
        const Entry &slot = s.slots[p];
        EXPECT_EQ(slot.hop >> omb::kNeighbourhood, 0u) << p;
        for (int32_t i = 0; i < omb::kNeighbourhood && p + i < s.slotCapacity; ++i) {
            const Entry &e = s.slots[p + i];
            bool member = e.key && static_cast<int32_t>(e.hash & s.mask) == p;
            EXPECT_EQ(((slot.hop >> i) & 1u) != 0, member) << "bucket " << p << " bit " << i;
        }
        if (slot.key) {
            int32_t home = static_cast<int32_t>(slot.hash & s.mask);
            EXPECT_TRUE(home <= p && p - home < omb::kNeighbourhood)
                << "slot " << p << " home " << home;
            inSlots += 1;
            hold(slot);
        }
        for (const Entry *node = slot.next; node && inChains <= s.count; node = node->next) {
            EXPECT_EQ(static_cast<int32_t>(node->hash & s.mask), p) << "a node off its home";
            inChains += 1;
            hold(*node);
        }
    }
    EXPECT_EQ(inSlots + inChains, s.count);
    EXPECT_TRUE(atThreshold ? s.count == s.threshold : s.count < s.threshold) << s.count;
    if (!layout.recordSize) return inChains;
    int32_t supply = s.recordCapacity, free = 0;
    if (s.recordBlocks)
        for (int32_t i = 0; i < s.recordBlocks->count; ++i)
            supply += static_cast<omb::RetiredBlock *>(s.recordBlocks->elements)[i].count;
    EXPECT_EQ(supply, s.threshold) << "one record per entry below the threshold";
    for (void *r = s.recordFree; r && free <= supply; r = omb::recordLink(layout, r), ++free)
        EXPECT_EQ(held.count(r), 0u) << "a free record is held";
    EXPECT_EQ(free + static_cast<int32_t>(held.size()), supply) << "records lost or doubled";
    return inChains;
}

struct Item {
    uint64_t tag;
    int32_t number;
    int32_t unused;
    const int64_t *wide;
    char text[16];
};
struct Value {
    int32_t words[3];
};

// Eight full hashes: past sixteen keys each, only chains take them.
uint32_t eightHashes(const void *bytes, int32_t) {
    return ((*static_cast<const unsigned char *>(bytes) >> 3) & 7u) * 0x01010101u;
}
uint32_t hashByLength(const void *, int32_t size) {
    return static_cast<uint32_t>(size) * 0x9e3779b9u;
}
uint32_t oneHash(const void *, int32_t) { return 0x5a5a5a40u; }

struct Shape {
    const char *name;
    uint32_t keyMode;
    int32_t partOffset;  // -1: no parts
    OmbrixHashFunction hash;
    bool composite2;  // a second part, int64 through a pointer
};

const Shape kShapes[] = {
    {"composite int32", OMBRIX_KEY_COMPOSITE, offsetof(Item, number), nullptr, false},
    {"composite int32 + int64, eight hashes", OMBRIX_KEY_COMPOSITE, offsetof(Item, number),
     eightHashes, true},
    {"string", OMBRIX_KEY_VARIABLE, -1, nullptr, false},
    {"string, one hash per length", OMBRIX_KEY_VARIABLE, -1, hashByLength, false},
    {"pointer", OMBRIX_KEY_REFERENCE, -1, nullptr, false},
    {"pointer, eight hashes", OMBRIX_KEY_REFERENCE, -1, eightHashes, false},
    {"direct int32", OMBRIX_KEY_REFERENCE, offsetof(Item, number), nullptr, false},
    {"direct int32, eight hashes", OMBRIX_KEY_REFERENCE, offsetof(Item, number), eightHashes,
     false},
    {"unsummed direct tag", OMBRIX_KEY_REFERENCE_UNSUMMED, offsetof(Item, tag), nullptr, false},
};

const void *argumentOf(const Shape &shape, Item &item) {
    return shape.keyMode == OMBRIX_KEY_VARIABLE ? static_cast<const void *>(item.text) : &item;
}

class OpenTableTest : public HostTest {
  protected:
    Map *make(uint32_t keyMode, uint32_t valueMode, OmbrixKeyPart *parts, int32_t count,
              OmbrixHashFunction hash = nullptr, int32_t capacity = 0, QVWord *pool = nullptr) {
        OmbrixHashMapParms parms = {};
        parms.keyMode = keyMode;
        parms.keyPartCount = count;
        parms.keyParts = parts;
        parms.valueMode = valueMode;
        parms.valueSize = sizeof(Value);
        parms.flags = OMBRIX_FLAG_NO_LOCK | OMBRIX_HASH_MAP_COPY_KEYS;  // ignored by the open table
        parms.capacity = capacity;
        parms.tableKind = OMBRIX_TABLE_OPEN;
        parms.hashFunction = hash;
        Map *map = hashMapNew(pool, parms);
        EXPECT_NE(map, nullptr);
        return map;
    }
    // Int keys read from the item (mode 0), 12-byte copied values.
    Map *intMap(OmbrixHashFunction hash = nullptr, uint32_t valueMode = OMBRIX_VALUE_COPY) {
        return make(OMBRIX_KEY_COMPOSITE, valueMode, &intPart, 1, hash);
    }
    // An int map holding keys 0, stride, 2 stride ... (n of them).
    Map *filled(OmbrixHashFunction hash, int32_t n, int32_t stride, std::vector<int32_t> &keys) {
        Map *map = intMap(hash);
        for (int32_t i = 0; i < n; ++i) {
            keys.push_back(i * stride);
            EXPECT_EQ(add(map, keys.back()), OMBRIX_OK);
        }
        return map;
    }
    static QVStatus add(Map *map, int32_t key) {
        Value v = {{key, 1, 2}};
        return map->add(map, &key, &v);
    }
    static int32_t found(Map *map, int32_t key) {
        void *v = map->find(map, &key);
        return v ? stored<Value>(v).words[0] : -1;
    }
    static void expectHolds(Map *map, const std::vector<int32_t> &keys) {
        for (int32_t k : keys) ASSERT_EQ(found(map, k), k);
    }
    OmbrixKeyPart intPart = directPart(OMBRIX_PART_INT32, 4);
};

// ---------------------------------------------------------------------------
// Against a model

class OpenTablePropertyTest : public OpenTableTest,
                              public ::testing::WithParamInterface<std::tuple<int, uint32_t>> {};

TEST_P(OpenTablePropertyTest, AgreesWithAModelAndKeepsItsInvariants) {
    const Shape &shape = kShapes[std::get<0>(GetParam())];
    uint32_t valueMode = std::get<1>(GetParam());
    SCOPED_TRACE(shape.name);
    std::mt19937 random(std::get<0>(GetParam()) * 5 + valueMode);
    constexpr int kItems = 160, kSteps = 700;
    std::vector<Item> items(kItems);
    std::vector<int64_t> wides(kItems);
    for (int i = 0; i < kItems; ++i) {
        items[i].tag = 0x9e3779b97f4a7c15ull * static_cast<uint64_t>(i + 1);
        // Numbers crowd a few home buckets of tables up to 64, and a few
        // more share their low twelve bits.
        items[i].number = i < 90 ? (i % 6) + 64 * (i / 6) : i < 120 ? i * 4096 : 100000 + i * 7919;
        wides[i] = static_cast<int64_t>(i % 3) << 40;
        items[i].wide = &wides[i];
        std::string text = std::to_string(i * 7) + std::string(i % 5, 'x');
        std::memcpy(items[i].text, text.c_str(), text.size() + 1);
    }
    OmbrixKeyPart parts[2] = {directPart(OMBRIX_PART_INT32, 4, shape.partOffset),
                              directPart(OMBRIX_PART_INT64, 8, offsetof(Item, wide))};
    parts[1].levels = 2;
    if (shape.keyMode == OMBRIX_KEY_REFERENCE_UNSUMMED)
        parts[0] = directPart(OMBRIX_PART_BYTES, 8, shape.partOffset);
    bool small = random() % 2 == 0;
    QVWord *pool = small ? omb::hostCreatePool(host, omb::poolParms, nullptr, "caller") : nullptr;
    Map *map = make(shape.keyMode, valueMode, shape.partOffset < 0 ? nullptr : parts,
                    shape.partOffset < 0 ? 0
                    : shape.composite2   ? 2
                                         : 1,
                    shape.hash, small ? 2 : 0, pool);
    ASSERT_NE(map, nullptr);

    struct Expected {
        bool present = false;
        const void *pointer = nullptr;
        std::optional<Value> copy;
        double sum = 0;
    };
    std::unordered_map<int, Expected> model;  // the null key is -1
    std::vector<Value> values(kSteps);
    std::vector<double> doubles(kSteps);
    int32_t chains = 0;
    for (int step = 0; step < kSteps && !HasFailure(); ++step) {
        int key = random() % 30 == 0 ? -1 : static_cast<int>(random() % kItems);
        const void *argument = key < 0 ? nullptr : argumentOf(shape, items[key]);
        values[step] = Value{{step, -step, key}};
        doubles[step] = 0.25 * step;
        const void *value = random() % 8 == 0 ? nullptr
                            : valueMode == OMBRIX_VALUE_ACCUMULATE
                                ? static_cast<const void *>(&doubles[step])
                                : &values[step];
        uint32_t action = random() % 300;
        Expected &e = model[key];
        if (action == 0) {
            ASSERT_EQ(map->reset(map), OMBRIX_OK);
            model.clear();
        } else if (action < 110) {
            ASSERT_EQ(
                action % 2 ? map->remove(map, argument) : map->removeWithKeySize(map, argument, 0),
                OMBRIX_OK);
            e = Expected{};
        } else {
            ASSERT_EQ(action % 2 ? map->add(map, argument, value)
                                 : map->addWithKeySize(map, argument, 0, value),
                      OMBRIX_OK);
            if (!e.present) e.sum = 0;
            e.present = true;
            e.pointer = value;
            e.copy = value && valueMode == OMBRIX_VALUE_COPY
                         ? std::optional<Value>(*static_cast<const Value *>(value))
                         : std::nullopt;
            e.sum += value && valueMode == OMBRIX_VALUE_ACCUMULATE
                         ? *static_cast<const double *>(value)
                         : 1.0;
        }
        chains = std::max(chains, checkOpenTable(map));
        int32_t size = 0;
        for (int k = -1; k < kItems; ++k) {
            const Expected &x = model.count(k) ? model[k] : Expected{};
            size += x.present;
            void *got = map->find(map, k < 0 ? nullptr : argumentOf(shape, items[k]));
            ASSERT_EQ(got,
                      map->findWithKeySize(map, k < 0 ? nullptr : argumentOf(shape, items[k]), 0))
                << k;
            // Pointers and copied nulls come back as given.
            if (!x.present || valueMode == OMBRIX_VALUE_POINTER ||
                (valueMode == OMBRIX_VALUE_COPY && !x.copy))
                ASSERT_EQ(got, x.present ? x.pointer : nullptr) << k;
            else if (valueMode == OMBRIX_VALUE_COPY)
                ASSERT_EQ(std::memcmp(got, &*x.copy, sizeof(Value)), 0) << k;
            else
                ASSERT_EQ(stored<double>(got), x.sum) << k;
        }
        ASSERT_EQ(map->size(map), size);
    }
    if (shape.hash == eightHashes) {
        EXPECT_GT(chains, 0) << "no key ever reached a chain";
    }
    EXPECT_GT(state(map).resizeCount, 0);
    hashMapDestroy(map);
    if (pool) {
        EXPECT_EQ(poolStats(pool).liveBlocks, 0u) << "blocks left in the caller's pool";
        omb::poolDestroy(pool);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryKeyAndValueMode, OpenTablePropertyTest,
    ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kShapes))),
                       ::testing::Values(OMBRIX_VALUE_COPY, OMBRIX_VALUE_POINTER,
                                         OMBRIX_VALUE_ACCUMULATE)));

// ---------------------------------------------------------------------------
// Edges

TEST_F(OpenTableTest, InstallsTheFastFormsWhereTheyServe) {
    struct Row {
        uint32_t keyMode, valueMode;
        bool direct;
        void *add, *find;
    } rows[] = {
        {OMBRIX_KEY_REFERENCE, OMBRIX_VALUE_POINTER, true, (void *)hashMapOpenAdd,
         (void *)hashMapOpenFind},
        {OMBRIX_KEY_REFERENCE, OMBRIX_VALUE_POINTER, false, (void *)hashMapOpenPtrAdd,
         (void *)hashMapOpenPtrFind},
        {OMBRIX_KEY_REFERENCE, OMBRIX_VALUE_COPY, true, (void *)hashMapAdd,
         (void *)hashMapOpenFind},
        {OMBRIX_KEY_REFERENCE, OMBRIX_VALUE_ACCUMULATE, false, (void *)hashMapAdd,
         (void *)hashMapOpenPtrFind},
        {OMBRIX_KEY_VARIABLE, OMBRIX_VALUE_POINTER, false, (void *)hashMapAdd, (void *)hashMapFind},
        {OMBRIX_KEY_COMPOSITE, OMBRIX_VALUE_POINTER, true, (void *)hashMapAdd, (void *)hashMapFind},
    };
    for (const Row &row : rows) {
        Map *map = make(row.keyMode, row.valueMode, row.direct ? &intPart : nullptr, row.direct);
        EXPECT_EQ((void *)map->add, row.add);
        EXPECT_EQ((void *)map->find, row.find);
        EXPECT_EQ((void *)map->addWithKeySize, (void *)hashMapOpenAddWithKeySize);
        EXPECT_EQ((void *)map->findWithKeySize, (void *)hashMapOpenFindWithKeySize);
        EXPECT_EQ((void *)map->removeWithKeySize, (void *)hashMapOpenRemoveWithKeySize);
        EXPECT_EQ((void *)map->remove, (void *)hashMapRemove);
        map->destroy(map);
    }
    // A fast form handed a map it does not serve acts as the plain form.
    Map *strings = make(OMBRIX_KEY_VARIABLE, OMBRIX_VALUE_POINTER, nullptr, 0);
    int v = 0;
    ASSERT_EQ(hashMapOpenPtrAdd(strings, "abc", &v), OMBRIX_OK);
    EXPECT_EQ(hashMapOpenFind(strings, "abc"), &v);
    EXPECT_EQ(hashMapOpenPtrFind(strings, "abd"), nullptr);
    strings->destroy(strings);
    EXPECT_EQ(hashMapOpenAdd(nullptr, &v, &v), OMBRIX_OK);
    EXPECT_EQ(hashMapOpenPtrFind(nullptr, &v), nullptr);
    EXPECT_EQ(hashMapOpenRemoveWithKeySize(nullptr, &v, 0), OMBRIX_OK);
}

// Keys 0, stride, 2 stride ... added to an int map of 32 buckets.
TEST_F(OpenTableTest, CrowdedHomeBucketsDoubleOnlyWhileThatCanHelp) {
    struct Row {
        const char *name;
        int32_t keys, stride;
        OmbrixHashFunction hash;
        int32_t tableSize, resizes, chained;
    } rows[] = {
        {"23 keys: no doubling", 23, 1, nullptr, 32, 0, 0},
        {"the 24th key doubles", 24, 1, nullptr, 64, 1, 0},
        {"seventeen keys of one home bucket part in the doubling", 17, 32, nullptr, 64, 1, 0},
        {"seventeen of one home bucket up to 2^20: doubling stops at 8 buckets a key", 17, 1 << 20,
         nullptr, 256, 3, 1},
        {"seventeen of one hash: the chain at once", 17, 1, oneHash, 32, 0, 1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<int32_t> keys;
        Map *map = filled(row.hash, row.keys, row.stride, keys);
        EXPECT_EQ(state(map).tableSize, row.tableSize);
        EXPECT_EQ(state(map).slotCapacity, row.tableSize + 256);
        EXPECT_EQ(state(map).resizeCount, row.resizes);
        EXPECT_EQ(checkOpenTable(map), row.chained);
        expectHolds(map, keys);
        EXPECT_EQ(map->size(map), row.keys);
        map->destroy(map);
    }
}

// A few thousand keys of one hash: no doubling beyond the threshold's, one
// chain, every key found, replaced and removed; likewise pointer keys
// through the fast forms, and keys of one home bucket whose hashes differ
// only high up.
TEST_F(OpenTableTest, KeysOfOneHashKeepTheMapWorkingInBoundedMemory) {
    constexpr int32_t kKeys = 3000;
    struct Row {
        OmbrixHashFunction hash;
        uint32_t keyMode;
        int32_t stride;
    } rows[] = {{oneHash, OMBRIX_KEY_COMPOSITE, 1},
                {oneHash, OMBRIX_KEY_REFERENCE, 1},
                {nullptr, OMBRIX_KEY_COMPOSITE, 1 << 19}};
    for (const Row &row : rows) {
        QVWord *pool = omb::hostCreatePool(host, omb::poolParms, nullptr, "caller");
        Map *map = make(row.keyMode, OMBRIX_VALUE_POINTER, row.keyMode ? nullptr : &intPart,
                        row.keyMode ? 0 : 1, row.hash, 0, pool);
        // Pointer keys compare the 8 bytes they point at.
        std::vector<int64_t> keys(kKeys);
        auto argument = [&](int32_t i) -> const void * { return &keys[i]; };
        for (int32_t i = 0; i < kKeys; ++i) {
            keys[i] = i * row.stride;
            ASSERT_EQ(map->add(map, argument(i), &keys[i]), OMBRIX_OK) << i;
        }
        const omb::HashMapState &s = state(map);
        EXPECT_LE(s.tableSize, 16 * (kKeys + 1)) << "the documented bound";
        if (row.hash) {
            EXPECT_EQ(s.tableSize, 4096) << "only the threshold doubled";
        }
        // Slots for 16 buckets a key, records for three quarters of them,
        // a node a key, and the map's own blocks.
        uint64_t buckets = 16 * (kKeys + 1);
        uint64_t bound = sizeof(Entry) * (buckets + 256) + 12 * buckets * 3 / 4 + 64 * kKeys + 4096;
        EXPECT_LT(poolStats(pool).liveBytes, bound);
        checkOpenTable(map);
        for (int32_t i = 0; i < kKeys; ++i) ASSERT_EQ(map->find(map, argument(i)), &keys[i]) << i;
        for (int32_t i = 0; i < kKeys; i += 2) ASSERT_EQ(map->remove(map, argument(i)), OMBRIX_OK);
        for (int32_t i = 1; i < kKeys; i += 2)
            ASSERT_EQ(map->add(map, argument(i), &keys[i - 1]), OMBRIX_OK);
        EXPECT_EQ(map->size(map), kKeys / 2);
        for (int32_t i = 0; i < kKeys; ++i)
            ASSERT_EQ(map->find(map, argument(i)), i % 2 ? &keys[i - 1] : nullptr) << i;
        checkOpenTable(map);
        map->destroy(map);
        EXPECT_EQ(poolStats(pool).liveBlocks, 0u) << "every chain node given back";
        omb::poolDestroy(pool);
    }
}

TEST_F(OpenTableTest, ChainKeysAreFoundReplacedAndRemoved) {
    Map *map = intMap(oneHash);
    std::vector<int32_t> keys;
    for (int32_t k = 0; k < 20; ++k) {
        keys.push_back(k);
        ASSERT_EQ(add(map, k), OMBRIX_OK);
    }
    const omb::HashMapState &s = state(map);
    int32_t home = oneHash(nullptr, 0) & s.mask;
    ASSERT_EQ(s.slots[home].hop, 0xffffu);
    ASSERT_EQ(checkOpenTable(map), 4) << "keys 16 .. 19 in the chain";
    Value replaced = {{99, 0, 0}};
    int32_t chainKey = 17;
    ASSERT_EQ(map->add(map, &chainKey, &replaced), OMBRIX_OK);
    EXPECT_EQ(found(map, 17), 99);
    EXPECT_EQ(map->size(map), 20) << "one entry for the key";
    // Removing the entry at the bucket's own position keeps the chain and
    // the other hop bits; a chain head and a middle node unlink.
    Entry *chain = s.slots[home].next;
    for (int32_t k : {0, 19, 17}) ASSERT_EQ(map->remove(map, &k), OMBRIX_OK);
    EXPECT_EQ(s.slots[home].hop, 0xfffeu);
    EXPECT_EQ(checkOpenTable(map), 2);
    EXPECT_NE(s.slots[home].next, chain) << "the head, key 19, went";
    expectHolds(map, {1, 2, 15, 16, 18});
    EXPECT_EQ(found(map, 0), -1);
    EXPECT_EQ(found(map, 17), -1);
    int32_t absent = 40;
    EXPECT_EQ(map->remove(map, &absent), OMBRIX_OK);
    ASSERT_EQ(add(map, 0), OMBRIX_OK);
    EXPECT_EQ(s.slots[home].hop, 0xffffu) << "a new key takes the free slot, not the chain";
    EXPECT_EQ(map->size(map), 18);
    map->destroy(map);
}

TEST_F(OpenTableTest, PointersHashByTheDefaultRuleFromTheirValue) {
    omb::HashMapKeyLayout bytewise = {};
    std::mt19937_64 random(3);
    for (uint64_t pointer :
         {uint64_t{0}, ~uint64_t{0}, uint64_t{0x00007f12345678a0}, random(), random()}) {
        unsigned char bytes[8];
        std::memcpy(bytes, &pointer, 8);
        EXPECT_EQ(omb::defaultPointerHash(pointer), omb::defaultHash(bytewise, bytes, 8))
            << pointer;
    }
}

TEST_F(OpenTableTest, StringKeysOfOneHashDifferByLengthAndBytes) {
    Map *map = make(OMBRIX_KEY_VARIABLE, OMBRIX_VALUE_POINTER, nullptr, 0, oneHash);
    int a = 0, b = 0, c = 0;
    ASSERT_EQ(map->add(map, "abc", &a), OMBRIX_OK);
    ASSERT_EQ(map->addWithKeySize(map, "abcd", 4, &b), OMBRIX_OK);
    ASSERT_EQ(map->add(map, "abd", &c), OMBRIX_OK);
    EXPECT_EQ(map->size(map), 3);
    EXPECT_EQ(map->findWithKeySize(map, "abc", 3), &a) << "size 0 and the explicit length agree";
    EXPECT_EQ(map->find(map, "abcd"), &b);
    EXPECT_EQ(map->findWithKeySize(map, "abcd", 3), &a) << "three bytes of abcd are abc";
    EXPECT_EQ(map->find(map, "abd"), &c);
    EXPECT_EQ(map->find(map, "ab"), nullptr);
    ASSERT_EQ(map->removeWithKeySize(map, "abcdef", 4), OMBRIX_OK);
    EXPECT_EQ(map->find(map, "abcd"), nullptr);
    EXPECT_EQ(map->find(map, "abc"), &a);
    map->destroy(map);
}

TEST_F(OpenTableTest, ResetKeepsTheGrownTableAndGivesBackTheChains) {
    QVWord *pool = omb::hostCreatePool(host, omb::poolParms, nullptr, "caller");
    Map *map = make(OMBRIX_KEY_COMPOSITE, OMBRIX_VALUE_COPY, &intPart, 1, oneHash, 0, pool);
    uint64_t empty = poolStats(pool).liveBlocks;
    for (int32_t k = 0; k < 40; ++k) ASSERT_EQ(add(map, k), OMBRIX_OK);
    ASSERT_EQ(map->reset(map), OMBRIX_OK);
    EXPECT_EQ(state(map).tableSize, 64);
    EXPECT_EQ(poolStats(pool).liveBlocks, empty + 3)
        << "a record block and the retired blocks' list";
    checkOpenTable(map);
    for (int32_t k = 0; k < 47; ++k) ASSERT_EQ(add(map, k), OMBRIX_OK);
    EXPECT_EQ(state(map).resizeCount, 1) << "47 keys fit the kept records";
    expectHolds(map, {0, 15, 16, 46});
    map->destroy(map);
    EXPECT_EQ(poolStats(pool).liveBlocks, 0u);
    omb::poolDestroy(pool);
}

// ---------------------------------------------------------------------------
// Iteration and statistics

TEST_F(OpenTableTest, IteratorsVisitSlotsThenChainsAndStatisticsCountRanks) {
    Map *map = intMap(oneHash);
    Value nullValue = {{-5, 0, 0}};
    for (int32_t k = 0; k < 18; ++k) ASSERT_EQ(add(map, 17 - k), OMBRIX_OK);
    ASSERT_EQ(map->add(map, nullptr, &nullValue), OMBRIX_OK);
    std::vector<int32_t> seen;
    OmbrixIterator it = map->entryIterator(map);
    EXPECT_EQ(it.size(&it), 19);
    while (it.hasNext) {
        auto *e = static_cast<Entry *>(it.next(&it));
        seen.push_back(e->key ? stored<int32_t>(e->key) : -1);
    }
    it.release(&it);
    // Positions in index order, each its slot's key, then its chain
    // (newest first): the first sixteen keys in slots 0 .. 15, the chain
    // at position 0.
    std::vector<int32_t> table = {-1, 17, 0, 1};
    for (int32_t k = 16; k >= 2; --k) table.push_back(k);
    EXPECT_EQ(seen, table);

    testing::internal::CaptureStdout();
    EXPECT_EQ(map->stat(map), OMBRIX_OK);
    std::string lines;
    for (int32_t r = 1; r <= 18; ++r) lines += std::to_string(r) + " : 1 (5.56%)\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "0 : 16 (88.89%)\n" + lines + "\ntotal elements: 18\nnumber resizes: 0\n");
    map->destroy(map);
}

// ---------------------------------------------------------------------------
// Refused allocations

// A refused add changes nothing: its overflow node, or any block of the
// doubling its placement asks for (the array, the record block, the list
// of retired record blocks, a chain node of the new array).
TEST_F(OpenTableTest, ARefusedAddOrDoublingLeavesTheTableAsItWas) {
    struct Row {
        const char *what;
        int32_t held, stride;
        OmbrixHashFunction hash;
        bool resize;  // refuse a doubling asked directly
        uint64_t allocations;
    } rows[] = {{"a chain node", 16, 1, oneHash, false, 1},
                {"the placement's doubling", 16, 32, nullptr, false, 4},
                {"a doubling with four chain nodes to rebuild", 20, 1, oneHash, true, 8},
                {"the null key", 0, 1, nullptr, false, 1}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<int32_t> keys;
        Map *map = filled(row.hash, row.held, row.stride, keys);
        int32_t next = row.held * row.stride;
        Value value = {};
        omb::HashMapState &s = state(map);
        std::vector<Entry> slots(s.slots, s.slots + s.slotCapacity);
        Entry *array = s.slots;
        uint64_t made = sweepAllocationFailures(
            host,
            [&] {
                if (row.resize) return omb::hashMapOpenResize(&s) == OMBRIX_OK;
                return (row.held ? add(map, next) : map->add(map, nullptr, &value)) == OMBRIX_OK;
            },
            [&](uint64_t n) {
                EXPECT_EQ(s.slots, array) << n;
                EXPECT_EQ(std::memcmp(slots.data(), s.slots, slots.size() * sizeof(Entry)), 0) << n;
                EXPECT_EQ(map->size(map), row.held) << n;
                EXPECT_EQ(s.nullEntry, nullptr) << n;
                checkOpenTable(map);
                expectHolds(map, keys);
            });
        EXPECT_EQ(made, row.allocations);
        checkOpenTable(map);
        expectHolds(map, keys);
        map->destroy(map);
    }
}

// The doubling at the threshold comes after the entry is stored: refused,
// the add reports it with the entry kept; the next add tries it first.
TEST_F(OpenTableTest, ARefusedThresholdDoublingKeepsTheEntryAndIsTriedAgain) {
    Map *map = intMap();
    std::vector<int32_t> keys;
    for (int32_t k = 0; k < 23; ++k) {
        keys.push_back(k);
        ASSERT_EQ(add(map, k), OMBRIX_OK);
    }
    qvhostFailAllocation(host, 1);
    EXPECT_EQ(add(map, 23), OMBRIX_E_NO_MEMORY);
    qvhostFailAllocation(host, 1);
    EXPECT_EQ(add(map, 24), OMBRIX_E_NO_MEMORY) << "the retried doubling refused: nothing added";
    qvhostFailAllocation(host, 0);
    keys.push_back(23);
    EXPECT_EQ(map->size(map), 24);
    EXPECT_EQ(state(map).tableSize, 32);
    checkOpenTable(map, true);
    expectHolds(map, keys);
    ASSERT_EQ(add(map, 24), OMBRIX_OK);
    EXPECT_EQ(state(map).tableSize, 64);
    checkOpenTable(map);
    map->destroy(map);
}

TEST_F(OpenTableTest, RefusedIteratorsGiveTheZeroedRecord) {
    Map *map = intMap(oneHash);
    for (int32_t k = 0; k < 20; ++k) ASSERT_EQ(add(map, k), OMBRIX_OK);
    for (bool sorted : {false, true}) {
        map->parms->flags = sorted ? OMBRIX_HASH_MAP_SORTED : 0u;
        OmbrixIterator it{};
        uint64_t made = sweepAllocationFailures(
            host,
            [&] {
                it = map->iterator(map);
                if (!it.next) return false;
                int32_t n = 0;
                while (it.hasNext) n += it.next(&it) != nullptr;
                EXPECT_EQ(n, 20);
                it.release(&it);
                return true;
            },
            [&](uint64_t n) { EXPECT_EQ(it.next, nullptr) << n; });
        EXPECT_EQ(made, sorted ? 2u : 1u);
    }
    map->destroy(map);
}

}  // namespace
