// Long random sequences of add, find-or-add, find and remove, applied to a
// tree and to a std::map model; after every step the red-black rules hold and
// the tree holds exactly the model's keys, in order, with the first pointer
// added for each.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "rb_invariants.h"
#include "tree_keys.h"
#include "tree/tree.h"

namespace {

struct Item {
    int32_t small;       // direct int32 key, few distinct values
    int32_t group;       // descending part of the two-part key
    const int64_t *wide; // reached through a pointer: the second part
    uint8_t length;      // byte-string key length
    char text[7];
};

// How one configuration forms keys: the tree's parameters, the argument an
// item is added with, its key size, and the model's key for it.
template <typename ModelKey>
struct KeyShape {
    const char *name;
    OmbrixTreeParms parms;
    std::function<const void *(Item &)> argument;
    std::function<int32_t(const Item &)> keySize;
    std::function<ModelKey(const Item &)> modelKey;
};

class TreePropertyTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        std::mt19937 fill(7);
        wides.resize(kItems);
        items.resize(kItems);
        for (int i = 0; i < kItems; ++i) {
            wides[i] = static_cast<int64_t>(fill() % 9) - 4 + (int64_t{1} << 40);
            Item &item = items[i];
            item.small = static_cast<int32_t>(fill() % 300) - 150;
            item.group = static_cast<int32_t>(fill() % 5);
            item.wide = &wides[i];
            item.length = static_cast<uint8_t>(fill() % 5);
            for (char &c : item.text) c = static_cast<char>("ab\xff"[fill() % 3]);
        }
    }

    // Runs `steps` random operations against the model, checking everything
    // after each one.
    template <typename ModelKey, typename Less>
    void run(const KeyShape<ModelKey> &shape, Less less, int steps, uint32_t seed) {
        SCOPED_TRACE(shape.name);
        OmbrixTree *tree = treeNew(nullptr, shape.parms);
        ASSERT_NE(tree, nullptr);
        omb::TreeState *state = omb::treeStateOf(tree);
        std::map<ModelKey, const void *, Less> model(less);
        std::mt19937 random(seed);
        for (int step = 0; step < steps; ++step) {
            Item &item = items[random() % kItems];
            const void *argument = shape.argument(item);
            int32_t size = shape.keySize(item);
            ModelKey key = shape.modelKey(item);
            auto known = model.find(key);
            switch (random() % 4) {
                case 0:  // add: an equal key keeps its first pointer
                    ASSERT_EQ(treeAddWithKeySize(tree, argument, size), OMBRIX_OK);
                    model.emplace(key, argument);
                    break;
                case 1: {  // find-or-add through the engine, as the hash map calls it
                    void *found = nullptr;
                    ASSERT_EQ(treeFindOrAdd(state->pool, &state->root, state->sentinel,
                                            tree->parms, argument, size, &state->nodeBlock,
                                            &state->nodeBlockUsed, &found),
                              OMBRIX_OK);
                    EXPECT_EQ(found, known == model.end() ? nullptr : known->second);
                    model.emplace(key, argument);
                    break;
                }
                case 2:
                    EXPECT_EQ(treeFindWithKeySize(tree, argument, size),
                              known == model.end() ? nullptr : known->second);
                    break;
                default:
                    ASSERT_EQ(treeRemoveWithKeySize(tree, argument, size), OMBRIX_OK);
                    model.erase(key);
                    break;
            }
            RbShape rb = checkRedBlack(state->root, state->sentinel);
            ASSERT_TRUE(rb.valid) << "after step " << step;
            ASSERT_EQ(rb.inOrder.size(), model.size()) << "after step " << step;
            size_t i = 0;
            for (const auto &[k, pointer] : model)
                ASSERT_EQ(rb.inOrder[i++]->key, pointer) << "position " << i - 1 << " step " << step;
        }
        EXPECT_EQ(treeSize(tree), model.size());
        treeDestroy(tree);
    }

    static constexpr int kItems = 600;
    static constexpr int kSteps = 6000;
    std::vector<int64_t> wides;
    std::vector<Item> items;
};

// The property runs are single-threaded: no lock.
OmbrixTreeParms parmsOf(uint32_t mode, OmbrixKeyPart *parts, int32_t count, int32_t perBlock,
                        uint8_t reverse = 0) {
    return treeParms(mode, parts, count, perBlock, reverse, OMBRIX_FLAG_NO_LOCK);
}

const void *itemItself(Item &item) { return &item; }
int32_t noSize(const Item &) { return 0; }

TEST_F(TreePropertyTest, OneDirectInt32Part) {
    OmbrixKeyPart part = directPart(OMBRIX_PART_INT32, 4, offsetof(Item, small));
    for (int32_t perBlock : {0, 8}) {
        KeyShape<int32_t> shape{"int32", parmsOf(OMBRIX_KEY_COMPOSITE, &part, 1, perBlock),
                                itemItself, noSize, [](const Item &i) { return i.small; }};
        run(shape, std::less<int32_t>(), kSteps, 11 + perBlock);
    }
}

TEST_F(TreePropertyTest, DescendingPartThenPartBehindAPointer) {
    OmbrixKeyPart parts[2] = {directPart(OMBRIX_PART_INT32, 4, offsetof(Item, group), 1),
                              directPart(OMBRIX_PART_INT64, 8, offsetof(Item, wide))};
    parts[1].levels = 2;
    parts[1].offsets[1] = 0;
    using Key = std::pair<int32_t, int64_t>;
    auto less = [](const Key &a, const Key &b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    };
    for (int32_t perBlock : {0, 5}) {
        KeyShape<Key> shape{"group desc, wide asc",
                            parmsOf(OMBRIX_KEY_REFERENCE, parts, 2, perBlock), itemItself, noSize,
                            [](const Item &i) { return Key{i.group, *i.wide}; }};
        run(shape, less, kSteps, 23 + perBlock);
    }
}

TEST_F(TreePropertyTest, ByteStringsOfEveryLengthBothWays) {
    for (uint8_t reverse : {0, 1}) {
        auto less = [reverse](const std::string &a, const std::string &b) {
            return reverse ? b < a : a < b;
        };
        KeyShape<std::string> shape{
            "bytes", parmsOf(OMBRIX_KEY_VARIABLE, nullptr, 0, reverse ? 3 : 0, reverse),
            [](Item &i) -> const void * { return i.text; },
            // Size 0 would measure the text; the empty key is covered by
            // the edge cases, so lengths here are 1 .. 4 plus a fixed 5.
            [](const Item &i) { return int32_t{i.length} + 1; },
            [](const Item &i) { return std::string(i.text, i.length + 1u); }};
        run(shape, std::function<bool(const std::string &, const std::string &)>(less), kSteps,
            31 + reverse);
    }
}

TEST_F(TreePropertyTest, PointerKeysBothWays) {
    for (uint8_t reverse : {0, 1}) {
        auto less = [reverse](uintptr_t a, uintptr_t b) { return reverse ? b < a : a < b; };
        KeyShape<uintptr_t> shape{
            "pointers", parmsOf(OMBRIX_KEY_REFERENCE, nullptr, 0, reverse ? 0 : 16, reverse),
            itemItself, noSize, [](const Item &i) { return reinterpret_cast<uintptr_t>(&i); }};
        run(shape, std::function<bool(uintptr_t, uintptr_t)>(less), kSteps, 41 + reverse);
    }
}

TEST_F(TreePropertyTest, ByteStringReachedThroughAPart) {
    // The hash map's bucket trees: the string lies behind a pointer member.
    struct Holder {
        uint64_t pad;
        const char *text;
    };
    std::vector<Holder> holders(kItems);
    for (int i = 0; i < kItems; ++i) holders[i] = {0, items[i].text};
    OmbrixKeyPart part = directPart(OMBRIX_PART_INT32, 0, offsetof(Holder, text));
    part.levels = 2;
    Holder *base = holders.data();
    Item *first = items.data();
    KeyShape<std::string> shape{
        "bytes behind a pointer", parmsOf(OMBRIX_KEY_VARIABLE, &part, 1, 0),
        [base, first](Item &i) -> const void * { return &base[&i - first]; },
        [](const Item &i) { return int32_t{i.length} + 1; },
        [](const Item &i) { return std::string(i.text, i.length + 1u); }};
    run(shape, std::less<std::string>(), kSteps, 53);
}

}  // namespace
