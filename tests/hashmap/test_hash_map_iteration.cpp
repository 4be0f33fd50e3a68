// Hash map iteration in table and key order, the quicksort's partition,
// bucket statistics and tree node statistics, on the reference host: a
// differential walk over random maps of every key mode against std::map,
// the edge rows, the exact printed figures, and every allocation refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fault_sweep.h"
#include "hashmap/hash_map.h"
#include "host_fixture.h"
#include "ombrix/hash_map.h"
#include "ombrix/tree.h"
#include "tree/tree.h"
#include "tree_keys.h"

namespace {

using Entry = OmbrixHashMapEntry;

// Every field a key part of these tests reads, at fixed offsets.
struct Item {
    int32_t i32;        // 0
    int32_t unused;
    int64_t i64;        // 8
    double real;        // 16
    char bytes[6];      // 24
    char gap[2];
    uint32_t wide[2];   // 32: two QVChar units
    char tag[8];        // 40
    char text[8];       // 48: a NUL-terminated string of 1 to 5 letters
};
static_assert(offsetof(Item, wide) == 32 && offsetof(Item, text) == 48);

constexpr int32_t kNullLabel = INT_MIN;  // the label of the null key's value

Item labelled(int32_t label) {
    Item item{};
    item.i32 = label;
    return item;
}

OmbrixHashMapParms mapParms(uint32_t mode, OmbrixKeyPart *parts, int32_t count, bool sorted,
                            uint8_t reverse = 0) {
    OmbrixHashMapParms parms{};
    parms.keyMode = mode;
    parms.keyPartCount = count;
    parms.keyParts = parts;
    parms.reverseOrder = reverse;
    parms.valueMode = OMBRIX_VALUE_POINTER;
    parms.flags = OMBRIX_FLAG_NO_LOCK | (sorted ? OMBRIX_HASH_MAP_SORTED : 0u);
    return parms;
}

// Everything an iterator hands out until hasNext turns false; the record's
// operations are checked to be there first.
std::vector<void *> drain(OmbrixIterator &it) {
    std::vector<void *> out;
    EXPECT_NE(it.next, nullptr);
    if (!it.next) return out;
    while (it.hasNext && out.size() < 100000) out.push_back(it.next(&it));
    EXPECT_EQ(it.next(&it), nullptr) << "next after the end";
    EXPECT_FALSE(it.hasNext);
    return out;
}

// A stored double, read bytewise: records pack it behind the key unaligned.
double storedDouble(const void *value) {
    double d;
    std::memcpy(&d, value, sizeof d);
    return d;
}

bool isZeroedRecord(const OmbrixIterator &it) {
    return !it.hasNext && !it.next && !it.size && !it.release && !it.reset && !it.state;
}

// What `print` writes to standard output; its status goes to *status.
template <typename Print>
std::string printedBy(Print print, QVStatus *status) {
    testing::internal::CaptureStdout();
    *status = print();
    return testing::internal::GetCapturedStdout();
}

// Refuses each allocation of the statistic `print` in turn: a refused one
// must give 0x803fc002, print nothing and pass `unchanged`. Returns what the
// run without refusal printed; *made receives its allocation count.
template <typename Print, typename Unchanged>
std::string sweepPrinted(QVWord *host, Print print, Unchanged unchanged, uint64_t *made) {
    std::string printed;
    *made = sweepAllocationFailures(
        host,
        [&] {
            QVStatus status;
            printed = printedBy(print, &status);
            EXPECT_TRUE(status == OMBRIX_OK || status == OMBRIX_E_NO_MEMORY) << status;
            return status == OMBRIX_OK;
        },
        [&](uint64_t n) {
            EXPECT_EQ(printed, "") << n;
            unchanged(n);
        });
    return printed;
}

class HashMapIterationTest : public HostTest {
  protected:
    // The labels (an item's i32, or kNullLabel) of the values a value
    // iterator hands out; the entry iterator must agree entry by entry.
    std::vector<int32_t> labels(OmbrixHashMap *map) {
        OmbrixIterator values = hashMapIterator(map);
        OmbrixIterator entries = hashMapEntryIterator(map);
        std::vector<void *> byValue = drain(values), byEntry = drain(entries);
        values.release(&values);
        entries.release(&entries);
        std::vector<int32_t> out;
        EXPECT_EQ(byValue.size(), byEntry.size());
        for (size_t i = 0; i < byValue.size() && i < byEntry.size(); ++i) {
            EXPECT_EQ(static_cast<Entry *>(byEntry[i])->value, byValue[i]) << i;
            out.push_back(static_cast<const Item *>(byValue[i])->i32);
        }
        return out;
    }

    OmbrixHashMap *intMap(bool sorted, uint32_t option = 0) {
        part = directPart(OMBRIX_PART_INT32, 4, 0, option);
        OmbrixHashMap *map = hashMapNew(nullptr, mapParms(OMBRIX_KEY_COMPOSITE, &part, 1, sorted));
        EXPECT_NE(map, nullptr);
        return map;
    }

    // Adds items with these i32 keys (kNullLabel: the null key, its value
    // the null item) to an int-keyed map.
    void addKeys(OmbrixHashMap *map, const std::vector<int32_t> &keys) {
        for (int32_t k : keys) {
            if (k == kNullLabel) {
                ASSERT_EQ(hashMapAdd(map, nullptr, &nullItem), OMBRIX_OK);
                continue;
            }
            items.push_back(new Item{});
            items.back()->i32 = k;
            ASSERT_EQ(hashMapAdd(map, items.back(), items.back()), OMBRIX_OK) << k;
        }
    }

    void TearDown() override {
        for (Item *item : items) delete item;
        HostTest::TearDown();
    }

    OmbrixKeyPart part{};
    Item nullItem = labelled(kNullLabel);
    std::vector<Item *> items;
};

// ---------------------------------------------------------------------------
// Edge rows: keys added in this order to a map keyed by one int32 part (32
// buckets, so k and k + 32 share a bucket), walked in table and in key
// order.

struct OrderRow {
    const char *name;
    std::vector<int32_t> keys;
    uint32_t partOption;
    std::vector<int32_t> tableOrder;
    std::vector<int32_t> keyOrder;
};

const OrderRow kOrderRows[] = {
    {"empty map", {}, 0, {}, {}},
    {"only the null key", {kNullLabel}, 0, {kNullLabel}, {kNullLabel}},
    {"30 10 20", {30, 10, 20}, 0, {10, 20, 30}, {10, 20, 30}},
    {"30 10 20 descending", {30, 10, 20}, 1, {10, 20, 30}, {30, 20, 10}},
    {"null key first", {30, kNullLabel, 10}, 0, {kNullLabel, 10, 30}, {kNullLabel, 10, 30}},
    {"buckets by index", {5, 3, 36, 4}, 0, {3, 36, 4, 5}, {3, 4, 5, 36}},
    {"chain: primary, then newest first", {1, 33, 65}, 0, {1, 65, 33}, {1, 33, 65}},
    {"tree bucket: primary, then key order",
     {224, 96, 0, 192, 32, 160, 64, 128},
     0,
     {224, 0, 32, 64, 96, 128, 160, 192},
     {0, 32, 64, 96, 128, 160, 192, 224}},
    {"tree bucket descending",
     {224, 96, 0, 192, 32, 160, 64, 128},
     1,
     {224, 192, 160, 128, 96, 64, 32, 0},
     {224, 192, 160, 128, 96, 64, 32, 0}},
};

TEST_F(HashMapIterationTest, EdgeRowsInTableAndKeyOrder) {
    for (const OrderRow &row : kOrderRows) {
        SCOPED_TRACE(row.name);
        for (bool sorted : {false, true}) {
            OmbrixHashMap *map = intMap(sorted, row.partOption);
            addKeys(map, row.keys);
            EXPECT_EQ(labels(map), sorted ? row.keyOrder : row.tableOrder) << "sorted " << sorted;
            OmbrixIterator it = hashMapEntryIterator(map);
            EXPECT_EQ(it.hasNext, !row.keys.empty());
            EXPECT_EQ(it.size(&it), static_cast<int32_t>(row.keys.size()));
            it.release(&it);
            EXPECT_EQ(it.state, nullptr);
            hashMapDestroy(map);
        }
    }
}

TEST_F(HashMapIterationTest, StringKeysSortByBytesThenLength) {
    const char *words[] = {"b", "abc", "ab"};
    for (uint8_t reverse : {0, 1}) {
        OmbrixHashMap *map = hashMapNew(nullptr, mapParms(OMBRIX_KEY_VARIABLE, nullptr, 0, true,
                                                          reverse));
        ASSERT_NE(map, nullptr);
        for (const char *word : words) ASSERT_EQ(hashMapAdd(map, word, word), OMBRIX_OK);
        OmbrixIterator it = hashMapIterator(map);
        std::vector<std::string> order;
        for (void *value : drain(it)) order.push_back(static_cast<const char *>(value));
        it.release(&it);
        std::vector<std::string> ascending = {"ab", "abc", "b"};
        if (reverse) std::reverse(ascending.begin(), ascending.end());
        EXPECT_EQ(order, ascending) << "reverseOrder " << int(reverse);
        hashMapDestroy(map);
    }
}

TEST_F(HashMapIterationTest, ResetRestartsOnTheSameOrAnotherMap) {
    for (bool sorted : {false, true}) {
        SCOPED_TRACE(sorted ? "sorted" : "table order");
        OmbrixHashMap *first = intMap(sorted);
        OmbrixHashMap *second = intMap(sorted);
        addKeys(first, {2, 1});
        addKeys(second, {9, kNullLabel, 7, 8});
        OmbrixIterator it = hashMapIterator(first);
        QVWord *pool = qvhostFindPool(host, "ombrixh iter");
        uint64_t blocks = poolStats(pool).liveBlocks;
        EXPECT_EQ(blocks, sorted ? 2u : 1u) << "the state, and the sorted array";
        EXPECT_EQ(static_cast<Item *>(it.next(&it))->i32, 1);

        EXPECT_EQ(it.reset(&it, second), OMBRIX_OK);
        EXPECT_EQ(it.size(&it), 4);
        std::vector<int32_t> seen;
        for (void *value : drain(it)) seen.push_back(static_cast<Item *>(value)->i32);
        EXPECT_EQ(seen, (std::vector<int32_t>{kNullLabel, 7, 8, 9}));
        EXPECT_EQ(poolStats(pool).liveBlocks, blocks) << "the first map's array went";

        EXPECT_EQ(it.reset(&it, nullptr), OMBRIX_OK);
        EXPECT_TRUE(it.hasNext);
        EXPECT_EQ(static_cast<Item *>(it.next(&it))->i32, kNullLabel);
        it.release(&it);
        hashMapDestroy(first);
        hashMapDestroy(second);
    }
}

TEST_F(HashMapIterationTest, SizeCountsTheNullKeyAndFollowsTheMap) {
    OmbrixHashMap *map = intMap(false);
    addKeys(map, {4, kNullLabel, 5});
    OmbrixIterator it = hashMapIterator(map);
    EXPECT_EQ(it.size(&it), 3);
    addKeys(map, {6});
    EXPECT_EQ(it.size(&it), 4);
    it.release(&it);
    EXPECT_EQ(it.size(&it), 0) << "a released iterator";
    hashMapDestroy(map);
}

TEST_F(HashMapIterationTest, IteratorsOfANullMapAreZeroed) {
    EXPECT_TRUE(isZeroedRecord(hashMapIterator(nullptr)));
    EXPECT_TRUE(isZeroedRecord(hashMapEntryIterator(nullptr)));
}

// ---------------------------------------------------------------------------
// The partition step, exactly: Lomuto around the given pivot, entries equal
// to the pivot to its left.

TEST_F(HashMapIterationTest, PartitionIsLomutoAroundTheGivenPivot) {
    struct Row {
        std::vector<int32_t> keys;
        int32_t low, high, pivot;
        std::vector<int32_t> after;
        int32_t result;
    };
    const Row rows[] = {
        {{5, 1, 4, 2, 3}, 0, 4, 2, {1, 3, 2, 4, 5}, 3},
        {{5, 1, 4, 2, 3}, 1, 3, 1, {5, 1, 4, 2, 3}, 1},
        {{2, 2, 1}, 0, 2, 0, {1, 2, 2}, 2},
        {{7}, 0, 0, 0, {7}, 0},
    };
    OmbrixKeyPart intPart = directPart(OMBRIX_PART_INT32, 4);
    OmbrixHashMapParms parms = mapParms(OMBRIX_KEY_COMPOSITE, &intPart, 1, true);
    for (const Row &row : rows) {
        std::vector<int32_t> keys = row.keys;
        std::vector<Entry> entries(keys.size());
        std::vector<Entry *> array;
        for (size_t i = 0; i < keys.size(); ++i) {
            entries[i].key = &keys[i];
            array.push_back(&entries[i]);
        }
        Entry *pivot = array[row.pivot];
        EXPECT_EQ(ombrixPartition(array.data(), &parms, row.low, row.high, row.pivot), row.result);
        std::vector<int32_t> after;
        for (Entry *e : array) after.push_back(*static_cast<int32_t *>(e->key));
        EXPECT_EQ(after, row.after);
        EXPECT_EQ(array[row.result], pivot);
    }
    Entry *none = nullptr;
    EXPECT_EQ(ombrixPartition(&none, &parms, 0, 0, 1), -1) << "pivot outside the range";
    EXPECT_EQ(ombrixPartition(nullptr, &parms, 0, 0, 0), -1);
}

// ---------------------------------------------------------------------------
// Differential: random maps of every key mode, walked in table order (every
// entry once) and in key order (the model's order), against a std::map
// ordered by the sort's key rules, written here on their own.

struct KeyShape {
    const char *name;
    uint32_t keyMode;
    std::vector<OmbrixKeyPart> parts;
    uint8_t reverseOrder;
};

template <typename T>
int32_t threeWay(const std::string &a, const std::string &b, size_t at) {
    T x, y;
    std::memcpy(&x, a.data() + at, sizeof x);
    std::memcpy(&y, b.data() + at, sizeof y);
    return (x > y) - (x < y);
}

// Keys as byte strings: the fields of the parts, a string, or a pointer
// written most significant byte first, so that comparing the bytes compares
// the numbers.
struct ModelOrder {
    const KeyShape *shape;
    bool operator()(const std::string &a, const std::string &b) const { return compare(a, b) < 0; }
    // Composite and direct keys part by part; every other key by its bytes,
    // the shorter first on a common prefix, reverseOrder turning it round.
    int32_t compare(const std::string &a, const std::string &b) const {
        uint32_t mode = shape->keyMode;
        if (mode == OMBRIX_KEY_COMPOSITE || (mode == OMBRIX_KEY_REFERENCE && !shape->parts.empty())) {
            size_t at = 0;
            for (const OmbrixKeyPart &p : shape->parts) {
                int32_t c = comparePart(p, a, b, at);
                if (c) return p.partOption & 0xff ? -c : c;
                at += static_cast<size_t>(p.partSize);
            }
            return 0;
        }
        int32_t c = a.compare(0, a.size(), b, 0, b.size());  // unsigned bytes, then length
        c = (c > 0) - (c < 0);
        return shape->reverseOrder ? -c : c;
    }
    static int32_t comparePart(const OmbrixKeyPart &p, const std::string &a, const std::string &b,
                               size_t at) {
        switch (p.partType) {
            case OMBRIX_PART_INT32: return threeWay<int32_t>(a, b, at);
            case OMBRIX_PART_INT64: return threeWay<int64_t>(a, b, at);
            case OMBRIX_PART_DOUBLE: return threeWay<double>(a, b, at);
            case OMBRIX_PART_BYTES: return a.compare(at, size_t(p.partSize), b, at, size_t(p.partSize));
            default:
                for (size_t unit = at; unit < at + size_t(p.partSize); unit += 4)
                    if (int32_t c = threeWay<uint32_t>(a, b, unit)) return c;
                return 0;
        }
    }
};

// The key of an item: the parts' fields in order (mode 0 and a direct
// part), 8 bytes of the field (mode 3), the item's string (mode 1), or the
// item pointer (mode 2 without parts).
std::string modelKeyOf(const KeyShape &shape, const Item &item) {
    const char *base = reinterpret_cast<const char *>(&item);
    if (shape.keyMode == OMBRIX_KEY_VARIABLE) return item.text;
    if (shape.keyMode == OMBRIX_KEY_REFERENCE_UNSUMMED) return {base + shape.parts[0].offsets[0], 8};
    std::string bytes;
    for (const OmbrixKeyPart &p : shape.parts) bytes.append(base + p.offsets[0], size_t(p.partSize));
    for (int shift = 56; shape.parts.empty() && shift >= 0; shift -= 8)
        bytes += char(reinterpret_cast<uintptr_t>(&item) >> shift);
    return bytes;
}

std::vector<KeyShape> keyShapes() {
    OmbrixKeyPart i32 = directPart(OMBRIX_PART_INT32, 4, 0);
    OmbrixKeyPart i32Down = directPart(OMBRIX_PART_INT32, 4, 0, 1);
    OmbrixKeyPart i64 = directPart(OMBRIX_PART_INT64, 8, 8);
    OmbrixKeyPart real = directPart(OMBRIX_PART_DOUBLE, 8, 16);
    OmbrixKeyPart bytes = directPart(OMBRIX_PART_BYTES, 6, 24);
    OmbrixKeyPart wide = directPart(3, 8, 32);
    OmbrixKeyPart tag = directPart(OMBRIX_PART_BYTES, 8, 40);
    return {
        {"composite int32", OMBRIX_KEY_COMPOSITE, {i32}, 0},
        {"composite int32 descending", OMBRIX_KEY_COMPOSITE, {i32Down}, 0},
        {"composite int64, int32", OMBRIX_KEY_COMPOSITE, {i64, i32}, 0},
        {"composite double, bytes", OMBRIX_KEY_COMPOSITE, {real, bytes}, 0},
        {"composite bytes, int32 descending", OMBRIX_KEY_COMPOSITE, {bytes, i32Down}, 0},
        {"composite QVChar units", OMBRIX_KEY_COMPOSITE, {wide}, 0},
        {"string", OMBRIX_KEY_VARIABLE, {}, 0},
        {"string reversed", OMBRIX_KEY_VARIABLE, {}, 1},
        {"pointer", OMBRIX_KEY_REFERENCE, {}, 0},
        {"pointer reversed", OMBRIX_KEY_REFERENCE, {}, 1},
        {"direct int32", OMBRIX_KEY_REFERENCE, {i32}, 0},
        {"direct int64 reverseOrder ignored", OMBRIX_KEY_REFERENCE, {i64}, 1},
        {"direct bytes", OMBRIX_KEY_REFERENCE, {bytes}, 0},
        {"unsummed direct field", OMBRIX_KEY_REFERENCE_UNSUMMED, {tag}, 0},
    };
}

// Small value ranges, so that random items share keys and parts tie.
// The first 8 bytes of every item differ (`unused` is its index): pointer
// keys whose hashes collide are told apart by those bytes.
void randomizeItem(std::mt19937 &random, Item &item, int32_t index) {
    item.unused = index;
    item.i32 = static_cast<int32_t>(random() % 40) - 20;
    item.i64 = static_cast<int64_t>(random() % 5) * 3000000000LL - 6000000000LL;
    item.real = static_cast<double>(random() % 9) / 4.0 - 1.0;
    for (char &c : item.bytes) c = static_cast<char>('a' + random() % 3);
    item.wide[0] = random() % 3 == 0 ? 0x10000u + random() % 2 : random() % 3;
    item.wide[1] = random() % 4;
    for (char &c : item.tag) c = static_cast<char>(random() % 4);
    size_t length = 1 + random() % 5;
    for (size_t i = 0; i < length; ++i) item.text[i] = static_cast<char>('a' + random() % 3);
    item.text[length] = 0;
}

// Few buckets: most entries end in chains and trees.
uint32_t threeBuckets(const void *key, int32_t) {
    return *static_cast<const unsigned char *>(key) % 3u;
}

TEST_F(HashMapIterationTest, RandomMapsOfEveryKeyModeMatchTheModel) {
    std::mt19937 random(7);
    for (const KeyShape &shape : keyShapes()) {
        for (int round = 0; round < 12; ++round) {
            SCOPED_TRACE(std::string(shape.name) + " round " + std::to_string(round));
            size_t n = random() % 300;
            std::vector<Item> pool(n + 1);
            for (size_t i = 0; i <= n; ++i) randomizeItem(random, pool[i], int32_t(i));
            std::vector<OmbrixKeyPart> parts = shape.parts;
            ModelOrder order{&shape};
            std::map<std::string, const Item *, ModelOrder> model(order);
            OmbrixHashMap *maps[2];
            for (int sorted = 0; sorted < 2; ++sorted) {
                OmbrixHashMapParms parms = mapParms(shape.keyMode, parts.data(),
                                                    int32_t(parts.size()), sorted, shape.reverseOrder);
                if (round % 2) parms.hashFunction = threeBuckets;
                maps[sorted] = hashMapNew(nullptr, parms);
                ASSERT_NE(maps[sorted], nullptr);
            }
            bool withNull = round % 3 == 0;
            for (size_t i = 0; i < n; ++i) {
                const Item *item = &pool[i];
                std::string key = modelKeyOf(shape, *item);
                // A string key is the string itself; every other key is
                // formed from the item.
                const void *argument = shape.keyMode == OMBRIX_KEY_VARIABLE
                                           ? static_cast<const void *>(item->text)
                                           : item;
                bool drop = random() % 5 == 0;
                for (OmbrixHashMap *map : maps) {
                    ASSERT_EQ(hashMapAdd(map, argument, item), OMBRIX_OK);
                    if (drop) {
                        ASSERT_EQ(hashMapRemove(map, argument), OMBRIX_OK);
                    }
                }
                if (drop)
                    model.erase(key);
                else
                    model[key] = item;
            }
            for (OmbrixHashMap *map : maps) {
                if (!withNull) break;
                ASSERT_EQ(hashMapAdd(map, nullptr, &pool[n]), OMBRIX_OK);
            }

            std::vector<const void *> expected;
            if (withNull) expected.push_back(&pool[n]);
            for (auto &[key, item] : model) expected.push_back(item);

            for (int sorted = 0; sorted < 2; ++sorted) {
                OmbrixIterator it = hashMapIterator(maps[sorted]);
                EXPECT_EQ(it.size(&it), int32_t(expected.size()));
                std::vector<void *> seen = drain(it);
                it.release(&it);
                std::vector<const void *> got(seen.begin(), seen.end());
                if (sorted) {
                    EXPECT_EQ(got, expected);
                    continue;
                }
                ASSERT_EQ(got.size(), expected.size());
                if (withNull) {
                    EXPECT_EQ(got[0], &pool[n]) << "the null key comes first";
                }
                std::multiset<const void *> a(got.begin(), got.end()), b(expected.begin(), expected.end());
                EXPECT_EQ(a, b);
            }
            for (OmbrixHashMap *map : maps) hashMapDestroy(map);
        }
    }
}

// ---------------------------------------------------------------------------
// Refused allocations: each factory and the reset, in both orders.

TEST_F(HashMapIterationTest, RefusedAllocationsGiveTheZeroedRecordAndLeaveNoPool) {
    using Factory = OmbrixIterator (*)(OmbrixHashMap *);
    for (bool sorted : {false, true})
        for (Factory factory : {hashMapIterator, hashMapEntryIterator}) {
            SCOPED_TRACE(std::string(sorted ? "sorted " : "table order ") +
                         (factory == hashMapIterator ? "values" : "entries"));
            OmbrixHashMap *map = intMap(sorted);
            addKeys(map, {3, 1, kNullLabel, 2});
            uint64_t pools = qvhostLivePools(host);
            OmbrixIterator it{};
            uint64_t made = sweepAllocationFailures(
                host,
                [&] {
                    it = factory(map);
                    if (!it.next) return false;
                    EXPECT_EQ(drain(it).size(), 4u);
                    it.release(&it);
                    return true;
                },
                [&](uint64_t n) {
                    EXPECT_TRUE(isZeroedRecord(it)) << n;
                    EXPECT_EQ(qvhostLivePools(host), pools) << n;
                });
            EXPECT_EQ(made, sorted ? 2u : 1u) << "the state, and the sorted array";
            qvhostFailPoolCreation(host, 1);
            EXPECT_TRUE(isZeroedRecord(factory(map))) << "pool refused";
            EXPECT_EQ(qvhostLivePools(host), pools);
            hashMapDestroy(map);
        }
}

TEST_F(HashMapIterationTest, RefusedSortedArrayOnResetReturnsNoMemoryAndAnEmptyWalk) {
    OmbrixHashMap *first = intMap(true);
    OmbrixHashMap *second = intMap(true);
    addKeys(first, {1, 2});
    addKeys(second, {5, 4});
    OmbrixIterator it = hashMapIterator(first);
    QVWord *pool = qvhostFindPool(host, "ombrixh iter");
    uint64_t made = sweepAllocationFailures(
        host,
        [&] {
            QVStatus status = it.reset(&it, second);
            if (status != OMBRIX_OK) {
                EXPECT_EQ(status, OMBRIX_E_NO_MEMORY);
                return false;
            }
            EXPECT_EQ(static_cast<Item *>(it.next(&it))->i32, 4);
            return true;
        },
        [&](uint64_t n) {
            EXPECT_FALSE(it.hasNext) << n;
            EXPECT_EQ(it.next(&it), nullptr) << n;
            EXPECT_EQ(poolStats(pool).liveBlocks, 1u) << "only the state stays, " << n;
        });
    EXPECT_EQ(made, 1u);
    it.release(&it);
    hashMapDestroy(first);
    hashMapDestroy(second);
}

// ---------------------------------------------------------------------------
// Statistics: the exact lines.

class HashMapStatTest : public HashMapIterationTest {
  protected:
    std::string stat(OmbrixHashMap *map, QVStatus expected = OMBRIX_OK) {
        QVStatus status;
        std::string printed = printedBy([&] { return hashMapStat(map); }, &status);
        EXPECT_EQ(status, expected);
        return printed;
    }
};

TEST_F(HashMapStatTest, PrintsTheHistogramOfBucketLengths) {
    struct Row {
        const char *name;
        std::vector<int32_t> keys;
        const char *printed;
    };
    std::vector<int32_t> growth;
    for (int32_t k = 0; k < 24; ++k) growth.push_back(k);
    const Row rows[] = {
        {"three buckets of one",
         {1, 2, 3},
         "0 : 29 * 0 (966.67%)\n1 : 3 * 1 (100.00%)\n\ntotal elements: 3\nnumber resizes: 0\n"},
        {"a tree of 8 under 8",
         {0, 32, 64, 96, 128, 160, 192, 224},
         "0 : 31 * 0 (387.50%)\n8 : 1 * 8 (100.00%)\n\ntotal elements: 8\nnumber resizes: 0\n"},
        {"chains of 2 and 3, the null key not counted",
         {1, 33, 2, 34, 66, kNullLabel},
         "0 : 30 * 0 (600.00%)\n2 : 1 * 2 (40.00%)\n3 : 1 * 3 (60.00%)\n\n"
         "total elements: 5\nnumber resizes: 0\n"},
        {"grown once to 64 buckets",
         growth,
         "0 : 40 * 0 (166.67%)\n1 : 24 * 1 (100.00%)\n\ntotal elements: 24\nnumber resizes: 1\n"},
        {"empty: percentages over no entries",
         {},
         "0 : 32 * 0 (inf%)\n\ntotal elements: 0\nnumber resizes: 0\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        OmbrixHashMap *map = intMap(false);
        addKeys(map, row.keys);
        EXPECT_EQ(stat(map), row.printed);
        hashMapDestroy(map);
    }
    EXPECT_EQ(stat(nullptr), "");
}

TEST_F(HashMapStatTest, RefusedAllocationsPrintNothingAndLeaveNoPool) {
    OmbrixHashMap *map = intMap(false);
    addKeys(map, {1, 2, 3, 33});
    uint64_t pools = qvhostLivePools(host);
    uint64_t made = 0;
    std::string printed = sweepPrinted(
        host, [&] { return hashMapStat(map); },
        [&](uint64_t n) { EXPECT_EQ(qvhostLivePools(host), pools) << n; }, &made);
    EXPECT_GT(made, 2u) << "the histogram map, its iterator state and sorted array";
    EXPECT_EQ(printed,
              "0 : 29 * 0 (725.00%)\n1 : 2 * 1 (50.00%)\n2 : 1 * 2 (50.00%)\n\n"
              "total elements: 4\nnumber resizes: 0\n");
    for (uint64_t refused : {1, 2}) {
        qvhostFailPoolCreation(host, refused);
        EXPECT_EQ(stat(map, OMBRIX_E_NO_MEMORY), "") << "pool " << refused << " refused";
        qvhostFailPoolCreation(host, 0);
        EXPECT_EQ(qvhostLivePools(host), pools);
    }
    hashMapDestroy(map);
}

// ---------------------------------------------------------------------------
// Tree statistics.

class TreeStatTest : public HostTest {
  protected:
    OmbrixTree *tree(const std::vector<int32_t> &keys) {
        part = directPart(OMBRIX_PART_INT32, 4);
        OmbrixTree *t = treeNew(nullptr, treeParms(OMBRIX_KEY_COMPOSITE, &part, 1));
        EXPECT_NE(t, nullptr);
        stored.reserve(64);
        for (int32_t k : keys) {
            stored.push_back(k);
            EXPECT_EQ(treeAdd(t, &stored.back()), OMBRIX_OK);
        }
        return t;
    }
    std::string stat(OmbrixTree *t, QVStatus expected = OMBRIX_OK) {
        QVStatus status;
        std::string printed = printedBy([&] { return treeStat(t); }, &status);
        EXPECT_EQ(status, expected);
        return printed;
    }
    OmbrixKeyPart part{};
    std::vector<int32_t> stored;
};

TEST_F(TreeStatTest, PrintsTheNodeCount) {
    struct Row {
        std::vector<int32_t> keys;
        const char *printed;
    };
    const Row rows[] = {
        {{}, "\ntotal elements: 0\n"},
        {{4}, "\ntotal elements: 1\n"},
        {{4, 2, 6, 1, 3, 5, 7}, "\ntotal elements: 7\n"},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}, "\ntotal elements: 17\n"},
    };
    for (const Row &row : rows) {
        OmbrixTree *t = tree(row.keys);
        QVWord *pool = omb::treeStateOf(t)->pool;
        uint64_t blocks = poolStats(pool).liveBlocks;
        EXPECT_EQ(stat(t), row.printed);
        EXPECT_EQ(poolStats(pool).liveBlocks, blocks) << "the depth map went";
        treeDestroy(t);
        stored.clear();
    }
    EXPECT_EQ(stat(nullptr), "");
}

TEST_F(TreeStatTest, HeightCountsASubtreeAndRecordsEachDepth) {
    OmbrixTree *t = tree({4, 2, 6, 1, 3, 5, 7});
    omb::TreeState *state = omb::treeStateOf(t);
    OmbrixKeyPart depthPart = directPart(OMBRIX_PART_INT32, 4);
    OmbrixHashMapParms parms = mapParms(OMBRIX_KEY_COMPOSITE, &depthPart, 1, true);
    parms.valueMode = OMBRIX_VALUE_ACCUMULATE;
    OmbrixHashMap *depths = hashMapNew(nullptr, parms);
    QVStatus status = OMBRIX_OK;
    EXPECT_EQ(treeHeight(t, depths, state->root, 1, &status), 7u);
    EXPECT_EQ(status, OMBRIX_OK);
    for (int32_t depth = 1; depth <= 3; ++depth) {
        void *nodes = hashMapFind(depths, &depth);
        ASSERT_NE(nodes, nullptr) << depth;
        EXPECT_EQ(storedDouble(nodes), double(1 << (depth - 1))) << depth;
    }
    EXPECT_EQ(hashMapSize(depths), 3);
    EXPECT_EQ(treeHeight(t, depths, state->root->left, 5, &status), 3u);
    int32_t six = 6;
    EXPECT_EQ(storedDouble(hashMapFind(depths, &six)), 2.0);
    EXPECT_EQ(treeHeight(t, depths, state->sentinel, 1, &status), 0u);
    hashMapDestroy(depths);
    treeDestroy(t);
}

TEST_F(TreeStatTest, RefusedAllocationsPrintNothingAndLeaveTheTreePoolAsItWas) {
    OmbrixTree *t = tree({4, 2, 6, 1, 3, 5, 7, 8});
    QVWord *pool = omb::treeStateOf(t)->pool;
    uint64_t blocks = poolStats(pool).liveBlocks, pools = qvhostLivePools(host);
    uint64_t made = 0;
    std::string printed = sweepPrinted(
        host, [&] { return treeStat(t); },
        [&](uint64_t n) {
            EXPECT_EQ(poolStats(pool).liveBlocks, blocks) << n;
            EXPECT_EQ(qvhostLivePools(host), pools) << n;
        },
        &made);
    EXPECT_GT(made, 2u);
    EXPECT_EQ(printed, "\ntotal elements: 8\n");
    qvhostFailPoolCreation(host, 1);
    EXPECT_EQ(stat(t, OMBRIX_E_NO_MEMORY), "") << "the iterator's pool refused";
    treeDestroy(t);
}

}  // namespace
