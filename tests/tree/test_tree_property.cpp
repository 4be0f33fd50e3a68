// Random adds, find-or-adds, finds and removes through the container and the
// engine, then removals in key order and in reverse, on a tree and a std::map
// model: after every step the red-black rules hold, the tree holds the model's
// keys in order with the first pointer added for each, and the finger is on
// the key after the last one removed.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <tuple>

#include "host_fixture.h"
#include "tree/tree.h"
#include "tree_keys.h"

namespace {

struct Item {
    int32_t small, group;  // a direct int32 key; the descending first part of a pair
    const int64_t *wide;   // the pair's second part, behind a pointer
    uint8_t length;        // byte-string key length less one, of text, also reached through textAt
    char text[7];
    const char *textAt;
};

using Key = std::tuple<int64_t, int64_t, std::string>;
using Less = std::function<bool(const Key &, const Key &)>;
enum Kind { kSmall, kPair, kText, kTextBehind, kPointer };

// The tree's parameters for one kind of key; the model's order is reversed when `reverse` is.
struct Shape { const char *name; OmbrixTreeParms parms; Kind kind; bool reverse; };

class TreeProperty : public HostTest {
  protected:
    enum Step { kAdd, kFindOrAdd, kFind, kRemove, kReset };

    // One step on the tree and the model, and every check after it. The first
    // failure ends the run: a broken tree only breaks further.
    void apply(Step step, Item &item) {
        if (HasFailure()) return;
        const void *argument = argumentOf(item);
        int32_t size = shape->kind == kText || shape->kind == kTextBehind ? item.length + 1 : 0;  // 0 would measure
        auto known = model.find(keyOf(item));
        omb::TreeState *state = omb::treeStateOf(tree);
        void *found = nullptr;
        QVStatus status = OMBRIX_OK;
        if (step == kAdd && at % 2) status = treeAddWithKeySize(tree, argument, size);
        if (step == kAdd && at % 2 == 0)  // every other one through the engine, as the hash map calls it
            status = treeAddCommon(state->pool, &state->root, state->sentinel, tree->parms, argument, size,
                                   &state->nodeBlock, &state->nodeBlockUsed);
        if (step == kRemove) status = treeRemoveWithKeySize(tree, argument, size);
        if (step == kReset) status = treeReset(tree);
        if (step == kFind)
            found = at % 2 ? treeFindWithKeySize(tree, argument, size)
                           : treeFindCommon(state->root, state->sentinel, tree->parms, argument, size);
        if (step == kFindOrAdd)
            status = treeFindOrAdd(state->pool, &state->root, state->sentinel, tree->parms, argument, size,
                                   &state->nodeBlock, &state->nodeBlockUsed, &found);
        EXPECT_EQ(status, OMBRIX_OK);
        EXPECT_EQ(found, (step == kFind || step == kFindOrAdd) && known != model.end() ? argumentOf(*known->second) : nullptr);
        if (step == kAdd || step == kFindOrAdd) model.emplace(keyOf(item), &item);
        if (step == kRemove && known != model.end()) known = model.erase(known), finger = nullptr;
        if (step == kRemove && known != model.end()) finger = argumentOf(*known->second);
        if (step == kReset) model.clear(), finger = nullptr;
        std::vector<const void *> inOrder;
        for (const auto &[key, first] : model) inOrder.push_back(argumentOf(*first));
        EXPECT_EQ(redBlackKeys(state->root, state->sentinel), inOrder) << "after step " << at;
        OmbrixTreeNode *kept = omb::sentinelBlockOf(state)->finger;
        EXPECT_EQ(kept ? kept->key : nullptr, finger) << "finger after step " << at++;
    }

    // Random steps; then removals in key order, which take the finger, each
    // key twice; in reverse, which walk; in order among adds and finds on both
    // sides of the finger; and half of them before a reset, after which the
    // finger's key is the first to go again.
    void run(const Shape &s, uint32_t seed) {
        shape = &s, at = 0, finger = nullptr;
        SCOPED_TRACE(s.name);
        Less less = [reverse = s.reverse](const Key &a, const Key &b) { return reverse ? b < a : a < b; };
        model = std::map<Key, Item *, Less>(less);
        tree = treeNew(nullptr, s.parms);
        std::mt19937 random(seed);
        for (int i = 0; i < kSteps; ++i) apply(static_cast<Step>(random() % 4), items[random() % kItems]);
        auto fill = [&] { for (Item &item : items) apply(kAdd, item); };
        fill();
        std::vector<Item *> up;  // one item of each key, in the tree's order
        for (auto &[key, first] : model) up.push_back(first);
        for (Item *item : up) apply(kRemove, *item), apply(kRemove, *item);
        fill();
        for (auto item = up.rbegin(); item != up.rend(); ++item) apply(kRemove, **item);
        fill();
        for (Item *item : up) {
            apply(kRemove, *item);
            apply(random() % 2 ? kAdd : kFind, items[random() % kItems]);
            if (random() % 8 == 0) apply(kFindOrAdd, *item);
        }
        fill();
        for (size_t i = 0; i < up.size() / 2; ++i) apply(kRemove, *up[i]);
        apply(kReset, items[0]);
        fill();
        std::rotate(up.begin(), up.begin() + up.size() / 2, up.end());
        for (Item *item : up) apply(kRemove, *item);
        treeDestroy(tree);
    }

    const void *argumentOf(Item &i) const { return shape->kind == kText ? static_cast<const void *>(i.text) : &i; }
    Key keyOf(const Item &i) const {
        if (shape->kind == kSmall) return {i.small, 0, ""};
        if (shape->kind == kPair) return {-i.group, *i.wide, ""};
        if (shape->kind == kPointer) return {int64_t(uintptr_t(&i)), 0, ""};
        return {0, 0, std::string(i.text, i.length + 1u)};
    }

    static constexpr int kItems = 600, kSteps = 6000;
    std::vector<int64_t> wides = std::vector<int64_t>(kItems);
    std::vector<Item> items = std::vector<Item>(kItems);
    const Shape *shape = nullptr;  // the run's, and its tree
    OmbrixTree *tree = nullptr;
    std::map<Key, Item *, Less> model;
    const void *finger = nullptr;  // the key the tree's finger must hold
    int at = 0;                    // steps taken
};

TEST_F(TreeProperty, EveryKeyShapeAgainstTheModel) {
    std::mt19937 fill(7);
    for (int i = 0; i < kItems; ++i) {
        wides[i] = int64_t(fill() % 9) - 4 + (int64_t{1} << 40);
        items[i] = {int32_t(fill() % 300) - 150, int32_t(fill() % 5), &wides[i], uint8_t(fill() % 5), {}, nullptr};
        for (char &c : items[i].text) c = "ab\xff"[fill() % 3];
        items[i].textAt = items[i].text;
    }
    OmbrixKeyPart small = directPart(OMBRIX_PART_INT32, 4, offsetof(Item, small)),
                  behind = directPart(OMBRIX_PART_INT32, 0, offsetof(Item, textAt)),
                  pair[2] = {directPart(OMBRIX_PART_INT32, 4, offsetof(Item, group), 1),
                             directPart(OMBRIX_PART_INT64, 8, offsetof(Item, wide))};
    pair[1].levels = behind.levels = 2;
    const Shape shapes[] = {
        {"int32", treeParms(OMBRIX_KEY_COMPOSITE, &small, 1, 0, 0), kSmall, false},
        {"int32, blocks", treeParms(OMBRIX_KEY_COMPOSITE, &small, 1, 8, 0), kSmall, false},
        {"group descending, wide", treeParms(OMBRIX_KEY_REFERENCE, pair, 2, 5, 0), kPair, false},
        {"bytes", treeParms(OMBRIX_KEY_VARIABLE, nullptr, 0, 0, 0), kText, false},
        {"bytes reversed", treeParms(OMBRIX_KEY_VARIABLE, nullptr, 0, 3, 1), kText, true},
        {"bytes behind a pointer", treeParms(OMBRIX_KEY_VARIABLE, &behind, 1, 0, 0), kTextBehind, false},
        {"pointers", treeParms(OMBRIX_KEY_REFERENCE, nullptr, 0, 16, 0), kPointer, false},
        {"pointers reversed", treeParms(OMBRIX_KEY_REFERENCE, nullptr, 0, 0, 1), kPointer, true},
    };
    for (const Shape &s : shapes)
        if (!HasFailure()) run(s, 11 + uint32_t(&s - shapes));
}

}  // namespace
