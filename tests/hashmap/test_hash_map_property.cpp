// Random adds, removes and resets on chained hash maps of every key mode,
// part type and value mode against a std::map model in the sort's key order:
// after each step the size, every key's value and the table's invariants;
// every few steps both iterators. Crowding hashes make the bucket trees work.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "chained_invariants.h"
#include "core/container.h"
#include "host_fixture.h"

namespace {

// Every field a key part reads, at fixed offsets; small value ranges, so
// that items share keys and parts tie.
struct Item {
    uint64_t tag;         // 0: unique, the first 8 bytes a pointer key's entries compare
    int32_t number, unused;  // 8
    const int64_t *wide;  // 16: an int64 one level away
    int64_t i64;          // 24
    double real;          // 32
    char bytes[6], gap[2];  // 40
    uint32_t units[2];    // 48: two QVChar units
    char code[8];         // 56
    char text[16];        // 64: the string key
};

struct Value { int32_t words[3]; };

uint32_t hashByLength(const void *, int32_t keySize) { return static_cast<uint32_t>(keySize); }
uint32_t hashByLowByte(const void *bytes, int32_t) { return (*static_cast<const unsigned char *>(bytes) >> 4) & 3u; }
uint32_t threeBuckets(const void *key, int32_t) { return *static_cast<const unsigned char *>(key) % 3u; }

OmbrixKeyPart part(uint32_t type, int32_t size, int32_t first, uint32_t option = 0,
                   int32_t levels = 1, int32_t second = 0) {
    return {type, size, levels, {first, second, 0, 0, 0}, option};
}

struct Shape {
    const char *name;
    uint32_t keyMode;
    std::vector<OmbrixKeyPart> parts;
    OmbrixHashFunction hash;
    uint32_t flags;
    uint8_t reverseOrder;
};

const std::vector<Shape> &shapes() {
    OmbrixKeyPart i32 = part(OMBRIX_PART_INT32, 4, 8), i32Down = part(OMBRIX_PART_INT32, 4, 8, 1);
    OmbrixKeyPart i64 = part(OMBRIX_PART_INT64, 8, 24), real = part(OMBRIX_PART_DOUBLE, 8, 32);
    OmbrixKeyPart bytes = part(OMBRIX_PART_BYTES, 6, 40), units = part(3, 8, 48);
    OmbrixKeyPart wide = part(OMBRIX_PART_INT64, 8, 16, 0, 2, 0), code = part(OMBRIX_PART_BYTES, 8, 56);
    uint32_t copyKeys = OMBRIX_HASH_MAP_COPY_KEYS;
    static const std::vector<Shape> all = {
        {"composite int32", OMBRIX_KEY_COMPOSITE, {i32}, nullptr, 0, 0},
        {"composite int32 descending", OMBRIX_KEY_COMPOSITE, {i32Down}, threeBuckets, 0, 0},
        {"composite int64, int32", OMBRIX_KEY_COMPOSITE, {i64, i32}, nullptr, 0, 0},
        {"composite double, bytes", OMBRIX_KEY_COMPOSITE, {real, bytes}, nullptr, 0, 0},
        {"composite bytes, int32 descending", OMBRIX_KEY_COMPOSITE, {bytes, i32Down}, threeBuckets, 0, 0},
        {"composite QVChar units", OMBRIX_KEY_COMPOSITE, {units}, nullptr, 0, 0},
        {"composite int64 through a pointer, int32", OMBRIX_KEY_COMPOSITE, {wide, i32}, hashByLowByte, 0, 0},
        {"string", OMBRIX_KEY_VARIABLE, {}, nullptr, 0, 0},
        {"string reversed, one bucket per length", OMBRIX_KEY_VARIABLE, {}, hashByLength, 0, 1},
        {"string copied, one bucket per length", OMBRIX_KEY_VARIABLE, {}, hashByLength, copyKeys, 0},
        {"pointer", OMBRIX_KEY_REFERENCE, {}, nullptr, 0, 0},
        {"pointer reversed, four buckets", OMBRIX_KEY_REFERENCE, {}, hashByLowByte, 0, 1},
        {"direct int32", OMBRIX_KEY_REFERENCE, {i32}, nullptr, 0, 0},
        {"direct int64, reverseOrder ignored", OMBRIX_KEY_REFERENCE, {i64}, threeBuckets, 0, 1},
        {"direct bytes", OMBRIX_KEY_REFERENCE, {bytes}, threeBuckets, 0, 0},
        {"unsummed direct field, copied", OMBRIX_KEY_REFERENCE_UNSUMMED, {code}, hashByLowByte, copyKeys, 0},
    };
    return all;
}

// A key as bytes: the parts' fields (a second level through the pointer),
// the string, or the pointer most significant byte first.
std::string modelKeyOf(const Shape &shape, const Item &item) {
    if (shape.keyMode == OMBRIX_KEY_VARIABLE) return item.text;
    std::string key;
    for (const OmbrixKeyPart &p : shape.parts) {
        const char *field = reinterpret_cast<const char *>(&item) + p.offsets[0];
        if (p.levels == 2) field = *reinterpret_cast<const char *const *>(field) + p.offsets[1];
        key.append(field, size_t(p.partSize));
    }
    for (int shift = 56; shape.parts.empty() && shift >= 0; shift -= 8)
        key += char(reinterpret_cast<uintptr_t>(&item) >> shift);
    return key;
}

template <typename T>
int32_t threeWay(const std::string &a, const std::string &b, size_t at) {
    T x, y;
    std::memcpy(&x, a.data() + at, sizeof x);
    std::memcpy(&y, b.data() + at, sizeof y);
    return (x > y) - (x < y);
}

// Parts compare part by part, each with its descending flag; every other
// key by its unsigned bytes, shorter first on a common prefix, reverseOrder
// turning it round.
struct ModelOrder {
    const Shape *shape;
    bool operator()(const std::string &a, const std::string &b) const {
        if (shape->parts.empty() || shape->keyMode == OMBRIX_KEY_REFERENCE_UNSUMMED) {
            int32_t c = a.compare(b);
            return shape->reverseOrder ? c > 0 : c < 0;
        }
        size_t at = 0;
        for (const OmbrixKeyPart &p : shape->parts) {
            int32_t c = comparePart(p, a, b, at);
            if (c) return (p.partOption & 0xff ? -c : c) < 0;
            at += static_cast<size_t>(p.partSize);
        }
        return false;
    }
    static int32_t comparePart(const OmbrixKeyPart &p, const std::string &a, const std::string &b,
                               size_t at) {
        switch (p.partType) {
            case OMBRIX_PART_INT32: return threeWay<int32_t>(a, b, at);
            case OMBRIX_PART_INT64: return threeWay<int64_t>(a, b, at);
            case OMBRIX_PART_DOUBLE: return threeWay<double>(a, b, at);
            case OMBRIX_PART_BYTES: {
                int32_t c = a.compare(at, size_t(p.partSize), b, at, size_t(p.partSize));
                return (c > 0) - (c < 0);
            }
            default:  // QVChar units
                for (size_t unit = at; unit < at + size_t(p.partSize); unit += 4)
                    if (int32_t c = threeWay<uint32_t>(a, b, unit)) return c;
                return 0;
        }
    }
};

// Each key's value as the map must hand it back, and an item that forms it.
struct Held {
    int item = -1;
    const void *pointer = nullptr;  // the last value given
    Value copy = {};
    double sum = 0;
};

struct Model {
    uint32_t valueMode;
    std::map<std::string, Held, ModelOrder> keys;
    std::optional<Held> nullKey;

    Held &heldFor(const std::string *key) {
        return key ? keys[*key] : nullKey ? *nullKey : nullKey.emplace();
    }
    void add(Held &held, int item, const void *value) {
        held.item = item;
        held.pointer = value;
        if (valueMode == OMBRIX_VALUE_COPY && value) held.copy = *static_cast<const Value *>(value);
        if (valueMode == OMBRIX_VALUE_ACCUMULATE) held.sum += value ? *static_cast<const double *>(value) : 1.0;
    }
    // Find gives the pointer, a copy of the value (null for a null value), or the sum.
    void expectFound(const Held *held, const void *found) const {
        if (!held || (valueMode != OMBRIX_VALUE_ACCUMULATE && !held->pointer) ||
            valueMode == OMBRIX_VALUE_POINTER) {
            EXPECT_EQ(found, held ? held->pointer : nullptr);
            return;
        }
        ASSERT_NE(found, nullptr);
        if (valueMode == OMBRIX_VALUE_COPY) {
            EXPECT_EQ(std::memcmp(found, &held->copy, sizeof(Value)), 0);
            return;
        }
        double sum;
        std::memcpy(&sum, found, sizeof sum);
        EXPECT_EQ(sum, held->sum);
    }
};

constexpr int kItems = 220;
constexpr int kSteps = 1000;

class HashMapPropertyTest : public HostTest,
                            public ::testing::WithParamInterface<std::tuple<int, uint32_t>> {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        std::mt19937 fill(11);
        wides.resize(kItems);
        items.resize(kItems);
        for (int i = 0; i < kItems; ++i) {
            Item &item = items[i];
            item.tag = 0x9e3779b97f4a7c15ull * static_cast<uint64_t>(i + 1);
            item.number = static_cast<int32_t>(fill() % 60) - 20;
            wides[i] = static_cast<int64_t>(fill() % 3) << 40;
            item.wide = &wides[i];
            item.i64 = static_cast<int64_t>(fill() % 40) * 3000000000LL - 60000000000LL;
            item.real = static_cast<double>(fill() % 9) / 4.0 - 1.0;
            for (char &c : item.bytes) c = static_cast<char>('a' + fill() % 3);
            item.units[0] = fill() % 3 == 0 ? 0x10000u + fill() % 2 : fill() % 3;
            item.units[1] = fill() % 16;
            for (char &c : item.code) c = static_cast<char>(fill() % 4);
            size_t length = fill() % 12;
            for (size_t c = 0; c < length; ++c) item.text[c] = "ab"[fill() % 2];
        }
    }

    // What find gives for each key, the null key's first, the rest in key
    // order when sorted; the entry iterator hands out as many.
    void checkIteration(OmbrixHashMap *map, const Shape &shape, Model &model, bool sorted) {
        std::vector<void *> expected;
        if (model.nullKey) expected.push_back(map->find(map, nullptr));
        for (auto &[key, held] : model.keys)
            expected.push_back(map->find(map, argumentOf(shape, held.item)));
        std::vector<void *> got = drain(hashMapIterator(map), true);
        OmbrixIterator entries = hashMapEntryIterator(map);
        EXPECT_EQ(entries.size(&entries), static_cast<int32_t>(expected.size()));
        EXPECT_EQ(drain(entries, true).size(), expected.size());
        ASSERT_EQ(got.size(), expected.size());
        if (!sorted) {
            EXPECT_TRUE(!model.nullKey || got[0] == expected[0]) << "the null key comes first";
            std::sort(got.begin(), got.end());
            std::sort(expected.begin(), expected.end());
        }
        EXPECT_EQ(got, expected);
    }

    const void *argumentOf(const Shape &shape, int item) const {
        if (item < 0 || shape.keyMode != OMBRIX_KEY_VARIABLE) return item < 0 ? nullptr : &items[item];
        return items[item].text;
    }
    std::vector<int64_t> wides;
    std::vector<Item> items;
};

TEST_P(HashMapPropertyTest, AgreesWithAModelAfterEveryStep) {
    const Shape &shape = shapes()[std::get<0>(GetParam())];
    uint32_t valueMode = std::get<1>(GetParam());
    SCOPED_TRACE(shape.name);
    SCOPED_TRACE(valueMode);
    std::mt19937 random(std::get<0>(GetParam()) * 7 + valueMode);
    // Half the runs start at two buckets, in a pool of the caller's that must
    // come back empty.
    bool small = (std::get<0>(GetParam()) + valueMode) % 2 == 0;
    bool sorted = valueMode != OMBRIX_VALUE_POINTER;
    QVWord *callerPool = small ? omb::hostCreatePool(host, omb::poolParms, nullptr, "caller") : nullptr;

    std::vector<OmbrixKeyPart> parts = shape.parts;
    uint32_t flags = OMBRIX_FLAG_NO_LOCK | shape.flags | (sorted ? OMBRIX_HASH_MAP_SORTED : 0u);
    OmbrixHashMapParms parms = {shape.keyMode, static_cast<int32_t>(parts.size()),
                                parts.empty() ? nullptr : parts.data(), shape.reverseOrder,
                                valueMode, sizeof(Value), flags, small ? 2 : 0, 0, shape.hash};
    OmbrixHashMap *map = hashMapNew(callerPool, parms);
    ASSERT_NE(map, nullptr);

    Model model{valueMode, std::map<std::string, Held, ModelOrder>(ModelOrder{&shape}), {}};
    std::vector<Value> values(kSteps);
    std::vector<double> doubles(kSteps);
    int trees = 0;
    for (int step = 0; step < kSteps && !HasFailure(); ++step) {
        int item = random() % 25 == 0 ? -1 : static_cast<int>(random() % kItems);
        const void *argument = argumentOf(shape, item);
        std::string key = item < 0 ? "" : modelKeyOf(shape, items[item]);
        values[step] = Value{{step, -step, item}};
        doubles[step] = 0.5 * step;
        const void *value = random() % 8 == 0 ? nullptr
                            : valueMode == OMBRIX_VALUE_ACCUMULATE
                                ? static_cast<const void *>(&doubles[step])
                                : static_cast<const void *>(&values[step]);
        if (uint32_t action = random() % 400; action < 2) {
            ASSERT_EQ(map->reset(map), OMBRIX_OK);
            model.keys.clear();
            model.nullKey.reset();
        } else if (action < 150) {
            ASSERT_EQ(map->remove(map, argument), OMBRIX_OK);
            if (item < 0) model.nullKey.reset();
            else model.keys.erase(key);
        } else {
            ASSERT_EQ(map->add(map, argument, value), OMBRIX_OK);
            model.add(model.heldFor(item < 0 ? nullptr : &key), item, value);
        }
        trees = std::max(trees, checkChainedTable(map));
        ASSERT_EQ(map->size(map), static_cast<int32_t>(model.keys.size() + (model.nullKey ? 1 : 0)));
        model.expectFound(model.nullKey ? &*model.nullKey : nullptr, map->find(map, nullptr));
        for (int k = 0; k < kItems; ++k) {
            auto it = model.keys.find(modelKeyOf(shape, items[k]));
            SCOPED_TRACE(k);
            model.expectFound(it == model.keys.end() ? nullptr : &it->second,
                              map->find(map, argumentOf(shape, k)));
        }
        if (step % 25 == 0) checkIteration(map, shape, model, sorted);
    }
    EXPECT_TRUE(!shape.hash || trees > 0) << "the crowded buckets never became trees";
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
