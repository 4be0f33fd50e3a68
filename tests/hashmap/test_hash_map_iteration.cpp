// Hash map iteration in table and key order, the sort's partition, and the
// bucket and tree statistics, every allocation refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <deque>
#include <functional>
#include <numeric>
#include <random>
#include <set>
#include <string>

#include "chained_invariants.h"
#include "fault_sweep.h"
#include "host_fixture.h"
#include "ombrix/tree.h"
#include "tree/tree.h"

namespace {

using Entry = OmbrixHashMapEntry;

// The item is its own key, an int32 part at 0.
struct Item { int32_t i32; };

constexpr int32_t kNull = INT_MIN;

OmbrixHashMapParms mapParms(uint32_t mode, OmbrixKeyPart *parts, int32_t count, bool sorted) {
    uint32_t flags = OMBRIX_FLAG_NO_LOCK | (sorted ? OMBRIX_HASH_MAP_SORTED : 0u);
    return {mode, count, parts, 0, OMBRIX_VALUE_POINTER, 0, flags, 0, 0, nullptr};
}

bool isZeroedRecord(const OmbrixIterator &it) {
    return !it.hasNext && !it.next && !it.size && !it.release && !it.reset && !it.state;
}

template <typename Print>
std::string printed(Print print, QVStatus expected = OMBRIX_OK) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(print(), expected);
    return testing::internal::GetCapturedStdout();
}

class HashMapIterationTest : public HostTest {
  protected:
    // The values' keys in the value iterator's order; the entry iterator agrees.
    std::vector<int32_t> labels(OmbrixHashMap *map) {
        std::vector<void *> byValue = drain(hashMapIterator(map), true),
                            byEntry = drain(hashMapEntryIterator(map), true);
        std::vector<int32_t> out;
        EXPECT_EQ(byValue.size(), byEntry.size());
        for (size_t i = 0; i < byValue.size() && i < byEntry.size(); ++i) {
            EXPECT_EQ(static_cast<Entry *>(byEntry[i])->value, byValue[i]) << i;
            out.push_back(static_cast<const Item *>(byValue[i])->i32);
        }
        return out;
    }
    OmbrixHashMap *intMap(bool sorted, const std::vector<int32_t> &keys, uint32_t option = 0,
                          uint32_t tableKind = OMBRIX_TABLE_CHAINED, int32_t capacity = 0) {
        part = directPart(OMBRIX_PART_INT32, 4, 0, option);
        OmbrixHashMapParms parms = mapParms(OMBRIX_KEY_COMPOSITE, &part, 1, sorted);
        parms.tableKind = tableKind;
        parms.capacity = capacity;
        OmbrixHashMap *map = hashMapNew(nullptr, parms);
        for (int32_t k : keys) {
            items.push_back(Item{k});
            EXPECT_EQ(hashMapAdd(map, k == kNull ? nullptr : &items.back(), &items.back()),
                      OMBRIX_OK);
        }
        maps.push_back(map);
        return map;
    }
    std::function<QVStatus()> statOf(const std::vector<int32_t> &keys) {
        return [map = intMap(false, keys)] { return hashMapStat(map); };
    }
    void TearDown() override {
        for (OmbrixHashMap *map : maps) hashMapDestroy(map);
        HostTest::TearDown();
    }
    OmbrixKeyPart part{};
    std::deque<Item> items;
    std::vector<OmbrixHashMap *> maps;
};

// 32 buckets: k and k + 32 share one.
TEST_F(HashMapIterationTest, EdgeRowsInTableAndKeyOrder) {
    const std::vector<int32_t> tree = {224, 96, 0, 192, 32, 160, 64, 128},
                               ascending = {0, 32, 64, 96, 128, 160, 192, 224},
                               descending(ascending.rbegin(), ascending.rend());
    const struct { const char *name; std::vector<int32_t> keys; uint32_t partOption;
                   std::vector<int32_t> tableOrder, keyOrder; } rows[] = {
        {"empty map", {}, 0, {}, {}},
        {"only the null key", {kNull}, 0, {kNull}, {kNull}},
        {"30 10 20 descending", {30, 10, 20}, 1, {10, 20, 30}, {30, 20, 10}},
        {"null key first", {30, kNull, 10}, 0, {kNull, 10, 30}, {kNull, 10, 30}},
        {"buckets by index", {5, 3, 36, 4}, 0, {3, 36, 4, 5}, {3, 4, 5, 36}},
        {"chain: primary, then newest first", {1, 33, 65}, 0, {1, 65, 33}, {1, 33, 65}},
        {"tree bucket: primary, then key order", tree, 0, {224, 0, 32, 64, 96, 128, 160, 192}, ascending},
        {"tree bucket descending", tree, 1, descending, descending}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        for (bool sorted : {false, true}) {
            OmbrixHashMap *map = intMap(sorted, row.keys, row.partOption);
            EXPECT_EQ(labels(map), sorted ? row.keyOrder : row.tableOrder) << "sorted " << sorted;
            OmbrixIterator it = hashMapEntryIterator(map);
            EXPECT_EQ(it.hasNext, !row.keys.empty());
            it.release(&it);
            EXPECT_TRUE(!it.state && it.size(&it) == 0) << "a released iterator";
        }
    }
    EXPECT_TRUE(isZeroedRecord(hashMapIterator(nullptr)));
    EXPECT_TRUE(isZeroedRecord(hashMapEntryIterator(nullptr)));
}

// 2^15 buckets, walked eight a step: entries at the edges of a step, at the
// table's ends and (open table) past its last bucket. Keys are their hashes.
TEST_F(HashMapIterationTest, LargeTablesWalkEveryBucketInOrder) {
    constexpr int32_t kBuckets = 1 << 15;
    const std::vector<int32_t> edges = {32767, 16384, 0, 9, 8, 7, 16, 15, 32760, 32759, 16383, 1},
                               inOrder = {0, 1, 7, 8, 9, 15, 16, 16383, 16384, 32759, 32760, 32767};
    const struct { const char *name; std::vector<int32_t> keys, chained, open; } rows[] = {
        {"edges of the steps", edges, inOrder, inOrder},
        {"one bucket's three keys", {5, 32773, 65541}, {5, 65541, 32773}, {5, 32773, 65541}},
        {"the last bucket's three keys", {32767, 65535, 98303}, {32767, 98303, 65535}, {32767, 65535, 98303}}};
    for (uint32_t kind : {OMBRIX_TABLE_CHAINED, OMBRIX_TABLE_OPEN}) {
        for (const auto &row : rows) {
            SCOPED_TRACE(row.name);
            OmbrixHashMap *map = intMap(false, row.keys, 0, kind, kBuckets);
            ASSERT_EQ(omb::hashMapStateOf(map)->tableSize, kBuckets);
            EXPECT_EQ(labels(map), kind == OMBRIX_TABLE_OPEN ? row.open : row.chained) << "kind " << kind;
        }
        // Random keys come once each, by bucket or by slot (no open chains here).
        std::mt19937 random(kind);
        std::set<int32_t> keys;
        while (keys.size() < 5000) keys.insert(static_cast<int32_t>(random() & 0x7fffffff));
        OmbrixHashMap *map = intMap(false, {keys.begin(), keys.end()}, 0, kind, kBuckets);
        const Entry *slots = omb::hashMapStateOf(map)->slots;
        std::set<int32_t> seen;
        std::vector<int64_t> positions;
        for (void *handed : drain(hashMapEntryIterator(map), true)) {
            const Entry *entry = static_cast<const Entry *>(handed);
            seen.insert(static_cast<const Item *>(entry->value)->i32);
            positions.push_back(kind == OMBRIX_TABLE_OPEN ? entry - slots : entry->hash % kBuckets);
        }
        EXPECT_TRUE(positions.size() == keys.size() && seen == keys);
        EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    }
}

// Each factory with each allocation refused in turn gives the zeroed record;
// a reset refused its sorted array gives an empty walk.
TEST_F(HashMapIterationTest, ResetAndRefusedAllocations) {
    using Factory = OmbrixIterator (*)(OmbrixHashMap *);
    for (bool sorted : {false, true}) {
        OmbrixHashMap *first = intMap(sorted, {2, 1}), *second = intMap(sorted, {9, kNull, 7, 8});
        uint64_t pools = qvhostLivePools(host);
        for (Factory factory : {hashMapIterator, hashMapEntryIterator}) {
            OmbrixIterator it{};
            uint64_t made = sweepAllocationFailures(
                host,
                [&] {
                    it = factory(second);
                    if (!it.next) return false;
                    EXPECT_EQ(drain(it).size(), 4u);
                    it.release(&it);
                    return true;
                },
                [&](uint64_t n) { EXPECT_TRUE(isZeroedRecord(it) && qvhostLivePools(host) == pools) << n; });
            EXPECT_EQ(made, sorted ? 2u : 1u) << "the state, and the sorted array";
            qvhostFailPoolCreation(host, 1);
            EXPECT_TRUE(isZeroedRecord(factory(second))) << "pool refused";
            EXPECT_EQ(qvhostLivePools(host), pools);
        }
        OmbrixIterator it = hashMapIterator(first);
        QVWord *pool = qvhostFindPool(host, "ombrixh iter");
        uint64_t blocks = poolStats(pool).liveBlocks;
        EXPECT_EQ(blocks, sorted ? 2u : 1u) << "the state, and the sorted array";
        EXPECT_EQ(static_cast<Item *>(it.next(&it))->i32, 1);
        EXPECT_EQ(it.reset(&it, second), OMBRIX_OK);
        EXPECT_EQ(it.size(&it), 4);
        std::vector<int32_t> seen;
        for (void *value : drain(it)) seen.push_back(static_cast<Item *>(value)->i32);
        EXPECT_EQ(seen, (std::vector<int32_t>{kNull, 7, 8, 9}));
        EXPECT_EQ(poolStats(pool).liveBlocks, blocks) << "the first map's array went";
        EXPECT_EQ(it.reset(&it, nullptr), OMBRIX_OK);
        EXPECT_EQ(static_cast<Item *>(it.next(&it))->i32, kNull);
        uint64_t made = sweepAllocationFailures(
            host,
            [&] {
                QVStatus status = it.reset(&it, first);
                EXPECT_TRUE(status == OMBRIX_OK || status == OMBRIX_E_NO_MEMORY);
                return status == OMBRIX_OK && static_cast<Item *>(it.next(&it))->i32 == 1;
            },
            [&](uint64_t n) {  // an empty walk; only the state stays
                EXPECT_TRUE(!it.hasNext && !it.next(&it) && poolStats(pool).liveBlocks == 1u) << n;
            });
        EXPECT_EQ(made, sorted ? 1u : 0u);
        // Onto an open table walked in the other order: 40 and 8 share home 8.
        EXPECT_EQ(it.reset(&it, intMap(!sorted, {40, 8}, 0, OMBRIX_TABLE_OPEN)), OMBRIX_OK);
        EXPECT_EQ(poolStats(pool).liveBlocks, sorted ? 1u : 2u) << "only the new map's array";
        seen.clear();
        for (void *value : drain(it)) seen.push_back(static_cast<Item *>(value)->i32);
        EXPECT_EQ(seen, (sorted ? std::vector<int32_t>{40, 8} : std::vector<int32_t>{8, 40}));
        it.release(&it);
    }
}

TEST_F(HashMapIterationTest, PartitionIsLomutoAroundTheGivenPivot) {
    const struct { std::vector<int32_t> keys; int32_t low, high, pivot; std::vector<int32_t> after;
                   int32_t result; } rows[] = {{{5, 1, 4, 2, 3}, 0, 4, 2, {1, 3, 2, 4, 5}, 3},
                {{5, 1, 4, 2, 3}, 1, 3, 1, {5, 1, 4, 2, 3}, 1},
                {{2, 2, 1}, 0, 2, 0, {1, 2, 2}, 2}};
    OmbrixKeyPart intPart = directPart(OMBRIX_PART_INT32, 4);
    OmbrixHashMapParms parms = mapParms(OMBRIX_KEY_COMPOSITE, &intPart, 1, true);
    for (const auto &row : rows) {
        std::vector<int32_t> keys = row.keys, after;
        std::vector<Entry> entries(keys.size());
        std::vector<Entry *> array;
        for (size_t i = 0; i < keys.size(); ++i) array.push_back(&entries[i]), entries[i].key = &keys[i];
        Entry *pivot = array[row.pivot];
        EXPECT_EQ(ombrixPartition(array.data(), &parms, row.low, row.high, row.pivot), row.result);
        for (Entry *e : array) after.push_back(*static_cast<int32_t *>(e->key));
        EXPECT_EQ(after, row.after);
        EXPECT_EQ(array[row.result], pivot);
    }
    Entry *none = nullptr;
    EXPECT_EQ(ombrixPartition(&none, &parms, 0, 0, 1), -1) << "pivot outside the range";
    EXPECT_EQ(ombrixPartition(nullptr, &parms, 0, 0, 0), -1);
}

// The exact lines; nothing printed and no pool or block left when an
// allocation or the pool is refused.
TEST_F(HashMapIterationTest, StatPrintsTheFiguresOrNothingWhenRefused) {
    std::vector<int32_t> growth(24);
    std::iota(growth.begin(), growth.end(), 0);
    part = directPart(OMBRIX_PART_INT32, 4);
    OmbrixTree *tree = treeNew(nullptr, treeParms(OMBRIX_KEY_COMPOSITE, &part, 1));
    for (int32_t k : {4, 2, 6, 1, 3, 5, 7, 8}) {
        items.push_back(Item{k});
        ASSERT_EQ(treeAdd(tree, &items.back()), OMBRIX_OK);
    }
    QVWord *treePool = omb::treeStateOf(tree)->pool;
    const struct { std::function<QVStatus()> stat; const char *printed; } rows[] = {
        {statOf({0, 32, 64, 96, 128, 160, 192, 224}),
         "0 : 31 * 0 (387.50%)\n8 : 1 * 8 (100.00%)\n\ntotal elements: 8\nnumber resizes: 0\n"},
        {statOf({1, 33, 2, 34, 66, kNull}),  // the null key not counted
         "0 : 30 * 0 (600.00%)\n2 : 1 * 2 (40.00%)\n3 : 1 * 3 (60.00%)\n\n"
         "total elements: 5\nnumber resizes: 0\n"},
        {statOf(growth),
         "0 : 40 * 0 (166.67%)\n1 : 24 * 1 (100.00%)\n\ntotal elements: 24\nnumber resizes: 1\n"},
        {statOf({}), "0 : 32 * 0 (inf%)\n\ntotal elements: 0\nnumber resizes: 0\n"},
        {[&] { return treeStat(tree); }, "\ntotal elements: 8\n"}};
    for (const auto &row : rows) {
        uint64_t pools = qvhostLivePools(host), blocks = poolStats(treePool).liveBlocks;
        std::string out;
        uint64_t made = sweepAllocationFailures(
            host,
            [&] {
                testing::internal::CaptureStdout();
                QVStatus status = row.stat();
                out = testing::internal::GetCapturedStdout();
                EXPECT_TRUE(status == OMBRIX_OK || status == OMBRIX_E_NO_MEMORY) << status;
                return status == OMBRIX_OK;
            },
            [&](uint64_t n) {
                EXPECT_TRUE(out.empty() && qvhostLivePools(host) == pools &&
                            poolStats(treePool).liveBlocks == blocks) << n << out;
            });
        EXPECT_GT(made, 2u) << "the depth or length map, its iterator state and array";
        EXPECT_EQ(out, row.printed);
        EXPECT_EQ(poolStats(treePool).liveBlocks, blocks);
        qvhostFailPoolCreation(host, 1);
        EXPECT_EQ(printed(row.stat, OMBRIX_E_NO_MEMORY), "");
        qvhostFailPoolCreation(host, 0);
        EXPECT_EQ(qvhostLivePools(host), pools);
    }
    EXPECT_EQ(printed([] { return hashMapStat(nullptr); }), "");
    EXPECT_EQ(printed([] { return treeStat(nullptr); }), "");
    treeDestroy(tree);
}

}  // namespace
