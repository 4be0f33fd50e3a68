// Random sequences of add, find, remove, reset and growth on chained hash
// maps of every key mode and value mode, against a std::map model. After
// each step the map's size, every key's value and the table's internal
// state (bucket shapes, supplies) agree with the model. Hash functions that
// pile keys into a few buckets make the bucket trees carry much of the load.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "chained_invariants.h"
#include "core/container.h"
#include "host_fixture.h"

namespace {

struct Item {
    uint64_t tag;        // unique: the bytes a pointer key's entries compare
    int32_t number;      // the direct int32 part
    int32_t unused;
    const int64_t *wide; // the second part of the composite key, one level away
    char text[16];       // the string key
};

struct Value {
    int32_t words[3];
};

// Few buckets: keys of one length, or pointers alike in two bits, share one.
uint32_t hashByLength(const void *, int32_t keySize) { return static_cast<uint32_t>(keySize); }
uint32_t hashByLowByte(const void *bytes, int32_t) {
    return (*static_cast<const unsigned char *>(bytes) >> 4) & 3u;
}

struct Shape {
    const char *name;
    uint32_t keyMode;
    std::vector<OmbrixKeyPart> parts;
    OmbrixHashFunction hash;
    uint32_t flags;
    std::function<const void *(Item &)> argument;
};

OmbrixKeyPart part(uint32_t type, int32_t size, int32_t levels, int32_t first, int32_t second = 0) {
    OmbrixKeyPart p = {};
    p.partType = type;
    p.partSize = size;
    p.levels = levels;
    p.offsets[0] = first;
    p.offsets[1] = second;
    return p;
}

const std::vector<Shape> &shapes() {
    static const std::vector<Shape> all = {
        {"composite int32", OMBRIX_KEY_COMPOSITE,
         {part(OMBRIX_PART_INT32, 4, 1, offsetof(Item, number))}, nullptr, 0,
         [](Item &i) { return static_cast<const void *>(&i); }},
        {"composite int32 + int64 through a pointer", OMBRIX_KEY_COMPOSITE,
         {part(OMBRIX_PART_INT32, 4, 1, offsetof(Item, number)),
          part(OMBRIX_PART_INT64, 8, 2, offsetof(Item, wide), 0)},
         hashByLowByte, 0, [](Item &i) { return static_cast<const void *>(&i); }},
        {"string", OMBRIX_KEY_VARIABLE, {}, nullptr, 0,
         [](Item &i) { return static_cast<const void *>(i.text); }},
        {"string, one bucket per length", OMBRIX_KEY_VARIABLE, {}, hashByLength, 0,
         [](Item &i) { return static_cast<const void *>(i.text); }},
        {"string copied, one bucket per length", OMBRIX_KEY_VARIABLE, {}, hashByLength,
         OMBRIX_HASH_MAP_COPY_KEYS, [](Item &i) { return static_cast<const void *>(i.text); }},
        {"pointer", OMBRIX_KEY_REFERENCE, {}, nullptr, 0,
         [](Item &i) { return static_cast<const void *>(&i); }},
        {"pointer, four buckets", OMBRIX_KEY_REFERENCE, {}, hashByLowByte, 0,
         [](Item &i) { return static_cast<const void *>(&i); }},
        {"direct int32 part of the item", OMBRIX_KEY_REFERENCE,
         {part(OMBRIX_PART_INT32, 4, 1, offsetof(Item, number))}, nullptr, 0,
         [](Item &i) { return static_cast<const void *>(&i); }},
        {"unsummed direct part, copied", OMBRIX_KEY_REFERENCE_UNSUMMED,
         {part(OMBRIX_PART_BYTES, 8, 1, offsetof(Item, tag))}, hashByLowByte,
         OMBRIX_HASH_MAP_COPY_KEYS, [](Item &i) { return static_cast<const void *>(&i); }},
    };
    return all;
}

constexpr int kItems = 220;
constexpr int kSteps = 1200;

class HashMapPropertyTest : public HostTest,
                            public ::testing::WithParamInterface<std::tuple<int, uint32_t>> {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        std::mt19937 fill(11);
        wides.resize(kItems);
        items.resize(kItems);
        std::set<std::string> texts;
        for (int i = 0; i < kItems; ++i) {
            Item &item = items[i];
            item.tag = 0x9e3779b97f4a7c15ull * static_cast<uint64_t>(i + 1);
            // Most numbers crowd six buckets of any table up to 64; the
            // rest spread.
            item.number = i < 120 ? (i % 6) + 64 * (i / 6) : 100000 + i * 7919;
            wides[i] = static_cast<int64_t>(fill() % 3) << 40;
            item.wide = &wides[i];
            std::string text;
            do {
                text.assign(fill() % 12, 'a');
                for (char &c : text) c = "ab"[fill() % 2];
            } while (!texts.insert(text).second);
            std::memcpy(item.text, text.c_str(), text.size() + 1);
        }
    }

    std::vector<int64_t> wides;
    std::vector<Item> items;
};

// Each key's value as the map must hand it back; the null key is key -1.
struct Model {
    struct Held {
        const void *pointer = nullptr; // modes 0 and 1: the last value given
        Value copy = {};
        double sum = 0;
    };
    uint32_t valueMode;
    std::map<int, Held> keys;

    void add(int key, const void *value) {
        Held &held = keys[key];
        held.pointer = value;
        if (valueMode == OMBRIX_VALUE_COPY && value) held.copy = *static_cast<const Value *>(value);
        if (valueMode == OMBRIX_VALUE_ACCUMULATE)
            held.sum += value ? *static_cast<const double *>(value) : 1.0;
    }
    // Find of `key` gave `found`: the pointer, a copy of the value (null
    // for a null value), or the sum.
    void expectFound(int key, const void *found) const {
        auto it = keys.find(key);
        const Held *held = it == keys.end() ? nullptr : &it->second;
        if (!held || (valueMode != OMBRIX_VALUE_ACCUMULATE && !held->pointer) ||
            valueMode == OMBRIX_VALUE_POINTER) {
            EXPECT_EQ(found, held ? held->pointer : nullptr) << "key " << key;
            return;
        }
        ASSERT_NE(found, nullptr) << "key " << key;
        if (valueMode == OMBRIX_VALUE_COPY) {
            EXPECT_EQ(std::memcmp(found, &held->copy, sizeof(Value)), 0) << "key " << key;
            return;
        }
        double sum;
        std::memcpy(&sum, found, sizeof sum);
        EXPECT_EQ(sum, held->sum) << "key " << key;
    }
};

TEST_P(HashMapPropertyTest, AgreesWithAModelAfterEveryStep) {
    const Shape &shape = shapes()[std::get<0>(GetParam())];
    uint32_t valueMode = std::get<1>(GetParam());
    SCOPED_TRACE(shape.name);
    SCOPED_TRACE(valueMode);
    std::mt19937 random(std::get<0>(GetParam()) * 7 + valueMode);
    // Half the runs start at two buckets and grow from there, in a pool of
    // the caller's that must come back empty: tree nodes and key copies too.
    bool small = (std::get<0>(GetParam()) + valueMode) % 2 == 0;
    QVWord *callerPool =
        small ? omb::hostCreatePool(host, omb::poolParms, nullptr, "caller") : nullptr;

    OmbrixHashMapParms parms = {};
    std::vector<OmbrixKeyPart> parts = shape.parts;
    parms.keyMode = shape.keyMode;
    parms.keyPartCount = static_cast<int32_t>(parts.size());
    parms.keyParts = parts.empty() ? nullptr : parts.data();
    parms.valueMode = valueMode;
    parms.valueSize = sizeof(Value);
    parms.flags = OMBRIX_FLAG_NO_LOCK | shape.flags;
    parms.capacity = small ? 2 : 0;
    parms.hashFunction = shape.hash;
    OmbrixHashMap *map = hashMapNew(callerPool, parms);
    ASSERT_NE(map, nullptr);

    Model model{valueMode, {}};
    std::vector<Value> values(kSteps);
    std::vector<double> doubles(kSteps);
    int trees = 0;
    for (int step = 0; step < kSteps && !HasFailure(); ++step) {
        int key = random() % 25 == 0 ? -1 : static_cast<int>(random() % kItems);
        const void *argument = key < 0 ? nullptr : shape.argument(items[key]);
        values[step] = Value{{step, -step, key}};
        doubles[step] = 0.5 * step;
        const void *value = random() % 8 == 0 ? nullptr
                            : valueMode == OMBRIX_VALUE_ACCUMULATE
                                ? static_cast<const void *>(&doubles[step])
                                : static_cast<const void *>(&values[step]);
        uint32_t action = random() % 400;
        if (action < 2) {
            ASSERT_EQ(map->reset(map), OMBRIX_OK);
            model.keys.clear();
        } else if (action < 150) {
            ASSERT_EQ(map->remove(map, argument), OMBRIX_OK);
            model.keys.erase(key);
        } else {
            ASSERT_EQ(map->add(map, argument, value), OMBRIX_OK);
            model.add(key, value);
        }
        trees = std::max(trees, checkChainedTable(map).trees);
        ASSERT_EQ(map->size(map), static_cast<int32_t>(model.keys.size()));
        model.expectFound(-1, map->find(map, nullptr));
        for (int k = 0; k < kItems; ++k)
            model.expectFound(k, map->find(map, shape.argument(items[k])));
    }
    if (shape.hash) {
        EXPECT_GT(trees, 0) << "the crowded buckets never became trees";
    }
    EXPECT_GT(omb::hashMapStateOf(map)->resizeCount, 0);
    hashMapDestroy(map);
    if (callerPool) {
        EXPECT_EQ(poolStats(callerPool).liveBlocks, 0u) << "blocks left in the caller's pool";
        omb::poolDestroy(callerPool);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryKeyAndValueMode, HashMapPropertyTest,
    ::testing::Combine(::testing::Range(0, static_cast<int>(shapes().size())),
                       ::testing::Values(OMBRIX_VALUE_COPY, OMBRIX_VALUE_POINTER,
                                         OMBRIX_VALUE_ACCUMULATE)));

}  // namespace
