// Long random sequences of add, find-or-add, find and remove, then removals
// in key order and in reverse, applied to a tree and to a std::map model;
// after every step the red-black rules hold, the tree holds exactly the
// model's keys, in order, with the first pointer added for each, and its
// finger holds the key after the last one removed.
#include <gtest/gtest.h>

#include <algorithm>
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

    enum Step { kAdd, kFindOrAdd, kFind, kRemove, kReset };

    // A tree beside its model. `finger` is the stored pointer of the node the
    // tree's finger must hold: the one after the last removed key, null
    // before any removal, after the last key and after a reset; adds, finds
    // and removals of absent keys leave it.
    template <typename ModelKey, typename Less>
    struct Checked {
        const KeyShape<ModelKey> &shape;
        OmbrixTree *tree;
        omb::TreeState *state;
        std::map<ModelKey, const void *, Less> model;
        const void *finger = nullptr;
    };

    template <typename ModelKey, typename Less>
    Checked<ModelKey, Less> open(const KeyShape<ModelKey> &shape, Less less) {
        OmbrixTree *tree = treeNew(nullptr, shape.parms);
        EXPECT_NE(tree, nullptr);
        return {shape, tree, tree ? omb::treeStateOf(tree) : nullptr,
                std::map<ModelKey, const void *, Less>(less)};
    }

    // Applies one step to the tree and the model, then checks the red-black
    // rules, the keys in order with their first pointers, and the finger.
    template <typename ModelKey, typename Less>
    void apply(Checked<ModelKey, Less> &t, Step step, Item &item, int at) {
        const void *argument = t.shape.argument(item);
        int32_t size = t.shape.keySize(item);
        ModelKey key = t.shape.modelKey(item);
        auto known = t.model.find(key);
        switch (step) {
            case kAdd:  // an equal key keeps its first pointer
                ASSERT_EQ(treeAddWithKeySize(t.tree, argument, size), OMBRIX_OK);
                t.model.emplace(key, argument);
                break;
            case kFindOrAdd: {  // through the engine, as the hash map calls it
                void *found = nullptr;
                ASSERT_EQ(treeFindOrAdd(t.state->pool, &t.state->root, t.state->sentinel,
                                        t.tree->parms, argument, size, &t.state->nodeBlock,
                                        &t.state->nodeBlockUsed, &found),
                          OMBRIX_OK);
                EXPECT_EQ(found, known == t.model.end() ? nullptr : known->second);
                t.model.emplace(key, argument);
                break;
            }
            case kFind:
                EXPECT_EQ(treeFindWithKeySize(t.tree, argument, size),
                          known == t.model.end() ? nullptr : known->second);
                break;
            case kRemove:
                ASSERT_EQ(treeRemoveWithKeySize(t.tree, argument, size), OMBRIX_OK);
                if (known != t.model.end()) {
                    auto next = t.model.erase(known);
                    t.finger = next == t.model.end() ? nullptr : next->second;
                }
                break;
            case kReset:
                ASSERT_EQ(treeReset(t.tree), OMBRIX_OK);
                t.model.clear();
                t.finger = nullptr;
                break;
        }
        RbShape rb = checkRedBlack(t.state->root, t.state->sentinel);
        ASSERT_TRUE(rb.valid) << "after step " << at;
        ASSERT_EQ(rb.inOrder.size(), t.model.size()) << "after step " << at;
        size_t i = 0;
        for (const auto &[k, pointer] : t.model)
            ASSERT_EQ(rb.inOrder[i++]->key, pointer) << "position " << i - 1 << " step " << at;
        OmbrixTreeNode *finger = omb::sentinelBlockOf(t.state)->finger;
        ASSERT_EQ(finger ? finger->key : nullptr, t.finger) << "finger after step " << at;
    }

    template <typename ModelKey, typename Less>
    void close(Checked<ModelKey, Less> &t) {
        EXPECT_EQ(treeSize(t.tree), t.model.size());
        treeDestroy(t.tree);
    }

    // Runs `steps` random operations against the model.
    template <typename ModelKey, typename Less>
    void run(const KeyShape<ModelKey> &shape, Less less, int steps, uint32_t seed) {
        SCOPED_TRACE(shape.name);
        auto t = open(shape, less);
        ASSERT_NE(t.tree, nullptr);
        std::mt19937 random(seed);
        for (int step = 0; step < steps && !HasFatalFailure(); ++step) {
            Item &item = items[random() % kItems];
            apply(t, static_cast<Step>(random() % 4), item, step);
        }
        close(t);
        runInOrder(shape, less, seed);
    }

    // Removals in key order, which take the finger, and in reverse order,
    // which walk; interleaved with adds and finds on both sides of the
    // finger, removals of keys already gone, and resets with the finger set.
    template <typename ModelKey, typename Less>
    void runInOrder(const KeyShape<ModelKey> &shape, Less less, uint32_t seed) {
        std::map<ModelKey, Item *, Less> firstOfKey(less);
        for (Item &item : items) firstOfKey.emplace(shape.modelKey(item), &item);
        std::vector<Item *> ascending;
        for (auto &[key, item] : firstOfKey) ascending.push_back(item);
        std::vector<Item *> descending(ascending.rbegin(), ascending.rend());
        std::mt19937 random(seed);
        int at = 0;
        auto fill = [&](auto &t) {
            for (Item &item : items) apply(t, kAdd, item, at++);
        };
        auto removeAll = [&](auto &t, const std::vector<Item *> &order) {
            for (Item *item : order) apply(t, kRemove, *item, at++);
        };

        auto t = open(shape, less);
        ASSERT_NE(t.tree, nullptr);
        {
            SCOPED_TRACE("ascending, then each key twice");
            fill(t);
            removeAll(t, ascending);
            fill(t);
            for (Item *item : ascending) {
                apply(t, kRemove, *item, at++);
                apply(t, kRemove, *item, at++);  // gone: the finger stays on the next key
            }
        }
        {
            SCOPED_TRACE("descending");
            fill(t);
            removeAll(t, descending);
        }
        {
            SCOPED_TRACE("ascending among adds and finds");
            fill(t);
            for (Item *item : ascending) {
                apply(t, kRemove, *item, at++);
                apply(t, random() % 2 ? kAdd : kFind, items[random() % kItems], at++);
                // The key just removed comes back before the finger.
                if (random() % 8 == 0) apply(t, kFindOrAdd, *item, at++);
            }
        }
        {
            SCOPED_TRACE("reset with the finger set");
            fill(t);
            size_t half = ascending.size() / 2;
            for (size_t i = 0; i < half; ++i) apply(t, kRemove, *ascending[i], at++);
            apply(t, kReset, items[0], at++);
            // The same keys again, from other nodes, and the finger's key
            // first: a finger kept over the reset would match it and unlink
            // a forgotten node.
            fill(t);
            std::rotate(ascending.begin(), ascending.begin() + half, ascending.end());
            removeAll(t, ascending);
        }
        close(t);
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
