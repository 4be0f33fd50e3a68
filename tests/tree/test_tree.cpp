// The tree on the reference host: its object and clone, each operation's edge
// cases as table rows, iterators, printing and refused allocations.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "core/container.h"
#include "fault_sweep.h"
#include "host_fixture.h"
#include "tree/tree.h"
#include "tree_keys.h"

namespace {

using Node = OmbrixTreeNode;
using Keys = std::vector<const void *>;

Keys keysOf(OmbrixTree *t) { return redBlackKeys(omb::treeStateOf(t)->root, omb::treeStateOf(t)->sentinel); }
uint64_t liveBlocks(QVWord *pool) { QVHostPoolStats s{}; return qvhostPoolStats(pool, &s), s.liveBlocks; }

class TreeTest : public HostTest {
  protected:
    OmbrixTree *intTree(int32_t perBlock = 0) {  // keyed by the int32 the item points to
        return treeNew(nullptr, treeParms(OMBRIX_KEY_COMPOSITE, &intPart, 1, perBlock));
    }
    OmbrixKeyPart intPart = directPart(OMBRIX_PART_INT32, 4);
};

TEST_F(TreeTest, TheObjectItsCloneAndTheOperationsThatMoveNothing) {
    OmbrixKeyPart parts[2] = {directPart(OMBRIX_PART_INT32, 4, 0, 1), directPart(OMBRIX_PART_INT64, 8, 8)};
    OmbrixTree *tree = treeNew(nullptr, treeParms(OMBRIX_KEY_COMPOSITE, parts, 2, -3, 0, 1)), *clone = treeClone(tree);
    QVWord *pool = omb::treeStateOf(tree)->pool;
    EXPECT_EQ(tree->stat, treeStat);
    EXPECT_EQ(tree->parms->keyMode, OMBRIX_KEY_REFERENCE) << "mode 0 is kept as 2";
    EXPECT_TRUE(tree->parms->keyParts != parts && tree->parms->nodesPerBlock == 0) << "parts copied; -3 kept as 0";
    EXPECT_EQ(treeGetKeySize(tree), 12);
    EXPECT_STREQ(qvhostPoolName(pool), "ombrixt");
    EXPECT_EQ(qvhostPoolFlags(pool) & 1u, 1u) << "flags bit 0: an unlocked pool";
    EXPECT_TRUE(omb::treeStateOf(clone)->pool != pool && omb::treeStateOf(clone)->ownsPool);
    int32_t keys[3][4] = {{1}, {3}, {2}};
    for (auto &k : keys) treeAdd(tree, k), treeAdd(clone, k);
    EXPECT_EQ(keysOf(clone), (Keys{keys[1], keys[2], keys[0]})) << "a clone orders the same way";
    // Mergeable: the same mode and, part by part, type and size; offsets do not count.
    OmbrixKeyPart b = directPart(OMBRIX_PART_INT32, 4, 16),
                  other[3] = {directPart(OMBRIX_PART_INT32, 8), directPart(OMBRIX_PART_DOUBLE, 4), b};
    OmbrixTree *trees[6] = {treeNew(nullptr, treeParms(OMBRIX_KEY_REFERENCE, &b, 1)), intTree(),
                            treeNew(nullptr, treeParms(OMBRIX_KEY_REFERENCE))};
    for (int i = 0; i < 3; ++i) trees[i + 3] = treeNew(nullptr, treeParms(i == 2 ? 7 : 2, &other[i], 1));
    for (int i = 1; i < 6; ++i) EXPECT_EQ(isTreeMergeable(trees[0], trees[i]), i == 1) << i;
    EXPECT_EQ(isTreeMergeable(tree, nullptr) | treeMerge(tree, clone), 0u);
    OmbrixBlob blob{};
    EXPECT_EQ(treeToBlob(tree, &blob) | treeMergeFromBlob(tree, &blob) | treeGetBlobSize(tree), 0u);
    EXPECT_EQ(treeNewFromBlob(nullptr, &blob), nullptr);
    EXPECT_EQ(treeSize(tree), 3u) << "merge and blobs move nothing";
    EXPECT_EQ(treeReset(tree) | treeSize(tree), 0u);
    // The engine over a root and sentinel its caller holds; null arguments change nothing.
    Node sentinel{}, *root = &sentinel;
    OmbrixTreeParms flat = treeParms(OMBRIX_KEY_COMPOSITE, parts, 2);
    EXPECT_EQ(treeAddCommon(pool, &root, &sentinel, &flat, keys[0], 12, nullptr, nullptr), OMBRIX_OK);
    EXPECT_TRUE(!treeAddCommon(pool, &root, nullptr, &flat, keys[1], 12, nullptr, nullptr) &&
                !treeFindCommon(nullptr, &sentinel, &flat, keys[0], 12));
    EXPECT_EQ(redBlackKeys(root, &sentinel), (Keys{keys[0]}));
    EXPECT_TRUE(treeRemoveCommon(pool, &root, &sentinel, &flat, keys[0], 12) == OMBRIX_OK && root == &sentinel);
    for (OmbrixTree *t : trees) treeDestroy(t);
    treeDestroy(tree), treeDestroy(clone), treeDestroy(nullptr);
    EXPECT_TRUE(!treeClone(nullptr) && !(treeReset(nullptr) | treeSize(nullptr) | treeGetKeySize(nullptr)));
}

// Each row: a fresh tree, keys added and removed (with their sizes), then a
// find; the tree and both iterators hold `kept` in order; the find gives `found`.
TEST_F(TreeTest, AddRemoveFindAndWalkEdgeCases) {
    static const double d[5] = {1.0, 2.0, 3.0, 4.0, std::numeric_limits<double>::quiet_NaN()};
    static const int32_t seven[2] = {7, 7}, two = 2;
    static const char ab[] = "ab", abc[] = "abc", hello[] = "hello", a[] = "a", digits[] = "0123456789",
                      apple[] = "apple", APPLE[] = "APPLE";
    OmbrixKeyPart dbl = directPart(OMBRIX_PART_DOUBLE, 8);
    OmbrixTreeParms ints = treeParms(OMBRIX_KEY_REFERENCE, &intPart, 1), doubles = treeParms(2, &dbl, 1),
                    bytes = treeParms(1), down = treeParms(1, nullptr, 0, 0, 1),
                    norm = treeParms(1, nullptr, 0, 0, 0, OMBRIX_TREE_NORMALIZED);
    using Sized = std::vector<std::pair<const void *, int32_t>>;
    struct Row { OmbrixTreeParms parms; Sized adds, removes; const void *find; int32_t size; Keys kept; const void *found; };
    const Row rows[] = {
        {ints, {{&seven[0], 0}, {&seven[1], 0}}, {}, &seven[1], 0, {&seven[0]}, &seven[0]},  // the first kept
        {ints, {{&seven[0], 0}}, {{&two, 0}}, &two, 0, {&seven[0]}, nullptr},                 // absent
        {ints, {{nullptr, 0}}, {{nullptr, 0}}, nullptr, 0, {}, nullptr},                      // null, empty
        {doubles, {{&d[0], 0}, {&d[4], 0}}, {}, &d[4], 0, {&d[0]}, &d[0]},                    // NaN equals all
        // 2 stays the root over 1 and 4: NaN removes the first equal node on the walk.
        {doubles, {{&d[0], 0}, {&d[1], 0}, {&d[2], 0}, {&d[3], 0}}, {{&d[2], 0}, {&d[4], 0}}, &d[1], 0,
         {&d[0], &d[3]}, nullptr},
        {bytes, {{abc, 3}, {ab, 2}}, {}, "abX", 2, {ab, abc}, ab},      // the shorter first
        {down, {{abc, 3}, {ab, 2}}, {}, "abc", 1, {abc, ab}, nullptr},  // reversed: last
        {bytes, {{abc, 3}, {ab, 2}}, {{"abc", 3}}, "ab", 0, {ab}, ab},
        {bytes, {{hello, 0}}, {}, "hell", 0, {hello}, nullptr},  // size 0 measures the string...
        {bytes, {{a, 1}, {hello, 0}}, {{"a\xE2\x82", 0}}, "hello", 0, {hello}, hello},  // ...to a whole character
        {bytes, {{digits, -1}}, {}, "01234567", 8, {digits}, digits},  // below 0: 8 without parts
        {norm, {{apple, 0}, {APPLE, 0}, {hello, 0}}, {}, "APPLE", 0, {apple, hello}, apple},  // case only: equal
    };
    for (const Row &r : rows) {
        OmbrixTree *tree = treeNew(nullptr, r.parms);
        SCOPED_TRACE(&r - rows);
        for (auto [key, size] : r.adds) EXPECT_EQ(treeAddWithKeySize(tree, key, size), OMBRIX_OK);
        for (auto [key, size] : r.removes) EXPECT_EQ(treeRemoveWithKeySize(tree, key, size), OMBRIX_OK);
        EXPECT_EQ(keysOf(tree), r.kept);
        EXPECT_EQ(treeFindWithKeySize(tree, r.find, r.size), r.found);
        EXPECT_EQ(treeSize(tree), r.kept.size());
        for (bool nodes : {false, true}) {
            OmbrixIterator it = nodes ? treeEntryIterator(tree) : treeIterator(tree);
            Keys walked;
            for (void *got; it.hasNext && walked.size() <= r.kept.size();)
                got = it.next(&it), walked.push_back(got && nodes ? static_cast<Node *>(got)->key : got);
            EXPECT_EQ(walked, r.kept);
            EXPECT_EQ(it.next(&it), nullptr);
            it.release(&it);
        }
        treeDestroy(tree);
    }
    EXPECT_TRUE(!(treeAdd(nullptr, a) | treeRemove(nullptr, a)) && !treeFind(nullptr, a));
    Node sentinel{};
    EXPECT_TRUE(!treeMinimum(&sentinel, &sentinel) && !treeSuccessor(&sentinel, &sentinel));
}

// The engine's removal on the container's own root may take the node the
// container's next removal would try first; that removal must walk instead.
TEST_F(TreeTest, TheEnginesRemovalOnTheContainersRootIsSeenByItsNextRemoval) {
    for (int32_t perBlock : {0, 8}) {
        OmbrixTree *tree = intTree(perBlock);
        omb::TreeState *s = omb::treeStateOf(tree);
        int32_t k[6] = {1, 2, 3, 4, 5, 6}, three = 3;
        for (int32_t &key : k) treeAdd(tree, &key);
        treeRemove(tree, &k[1]);  // 3 follows 2
        EXPECT_EQ(treeRemoveCommon(s->pool, &s->root, s->sentinel, tree->parms, &k[2], 4) | treeRemove(tree, &three), 0u);
        EXPECT_EQ(keysOf(tree), (Keys{&k[0], &k[3], &k[4], &k[5]})) << perBlock;
        treeDestroy(tree);
    }
}

TEST_F(TreeTest, IteratorResetReleaseAndRefusal) {
    OmbrixTree *tree = intTree(), *other = intTree();
    OmbrixIterator it = treeIterator(tree);
    int32_t keys[3] = {3, 1, 2}, others[2] = {9, 8};
    for (int i = 0; i < 3; ++i) treeAdd(tree, &keys[i]), treeAdd(other, &others[i % 2]);
    EXPECT_FALSE(it.hasNext) << "made on the empty tree";
    EXPECT_TRUE(it.reset(&it, nullptr) == OMBRIX_OK && it.hasNext && it.next(&it) == &keys[1]) << "restarted";
    EXPECT_TRUE(it.reset(&it, other) == OMBRIX_OK && it.size(&it) == 2 && it.next(&it) == &others[1]) << "moved";
    it.release(&it), it.release(&it);  // a second release does nothing
    EXPECT_TRUE(it.state == nullptr && treeIterator(nullptr).next == nullptr);
    qvhostFailPoolCreation(host, 1);
    it = treeEntryIterator(tree);
    qvhostFailPoolCreation(host, 0);
    EXPECT_TRUE(it.next == nullptr && it.state == nullptr && !it.hasNext) << "no pool: the zeroed record";
    treeDestroy(other), treeDestroy(tree);
}

// One signed 32-bit key read in place prints; every other key prints nothing.
// Each queue allocation is refused in turn: no memory, and the queue is gone.
TEST_F(TreeTest, PrintWritesTheLevelsOnOneLine) {
    struct Row { int64_t pad; int32_t key; } rows[2] = {{0, 12}, {0, -3}};  // keys in the item at 8
    int32_t k[5] = {5, 3, 8, 1, -4};
    OmbrixKeyPart wide = directPart(OMBRIX_PART_INT64, 8), field = directPart(OMBRIX_PART_INT32, 4, 8),
                  two[2] = {intPart, directPart(OMBRIX_PART_INT32, 4, 4)};
    const OmbrixTreeParms ints = treeParms(OMBRIX_KEY_COMPOSITE, &intPart, 1);
    struct Case { OmbrixTreeParms parms; std::vector<void *> adds; const char *expected; } cases[] = {
        {ints, {}, "#\n"},
        {ints, {&k[0], &k[1], &k[2]}, "5, 3(r), 8(r), #, #, #, #\n"},
        // 1 turns 3 and 8 black; -4 rotates at 3, and 1 stands black over -4 and 3.
        {ints, {&k[0], &k[1], &k[2], &k[3], &k[4]}, "5, 1, 8, -4(r), 3(r), #, #, #, #, #, #\n"},
        {treeParms(OMBRIX_KEY_REFERENCE, &field, 1), {&rows[0], &rows[1]}, "12, -3(r), #, #, #\n"},
        {treeParms(OMBRIX_KEY_REFERENCE, &wide, 1), {&rows[0]}, ""}, {treeParms(OMBRIX_KEY_REFERENCE, two, 2), {&rows[0]}, ""},
        {treeParms(OMBRIX_KEY_VARIABLE), {&rows[0]}, ""}, {treeParms(OMBRIX_KEY_REFERENCE), {&rows[0]}, ""},
    };
    for (const Case &c : cases) {
        OmbrixTree *tree = treeNew(nullptr, c.parms);
        for (void *key : c.adds) treeAdd(tree, key);
        uint64_t blocks = liveBlocks(omb::treeStateOf(tree)->pool);
        sweepAllocationFailures(host, [&] {
            testing::internal::CaptureStdout();
            QVStatus status = tree->print(tree);
            std::string out = testing::internal::GetCapturedStdout();
            EXPECT_TRUE(status == OMBRIX_OK ? out == c.expected : status == OMBRIX_E_NO_MEMORY) << out;
            return status == OMBRIX_OK;
        }, [&](uint64_t) { EXPECT_EQ(liveBlocks(omb::treeStateOf(tree)->pool), blocks); });
        treeDestroy(tree);
    }
    EXPECT_EQ(treePrint(nullptr), OMBRIX_OK);
}

// A refused node (alone or a block) or constructor block leaves the tree, the
// caller's pool and the host as they were. A block's node is never freed.
TEST_F(TreeTest, RefusedAllocationsLeaveEverythingAsItWas) {
    for (int32_t perBlock : {0, 2}) {
        OmbrixTree *tree = intTree(perBlock);
        omb::TreeState *state = omb::treeStateOf(tree);
        int32_t keys[5] = {50, 20, 80, 10, 30};  // four fill two blocks of two
        for (int i = 0; i < 4; ++i) treeAdd(tree, &keys[i]);
        uint64_t blocks = liveBlocks(state->pool);
        EXPECT_EQ(sweepAllocationFailures(host, [&] {
            EXPECT_EQ(keysOf(tree), (Keys{&keys[3], &keys[1], &keys[0], &keys[2]}));
            return treeFindOrAdd(state->pool, &state->root, state->sentinel, tree->parms, &keys[4], 4,
                                 &state->nodeBlock, &state->nodeBlockUsed, nullptr) == OMBRIX_OK;
        }, [&](uint64_t) { EXPECT_EQ(liveBlocks(state->pool), blocks); }), 1u) << "one node or one block";
        EXPECT_EQ(keysOf(tree), (Keys{&keys[3], &keys[1], &keys[4], &keys[0], &keys[2]}));
        blocks = liveBlocks(state->pool), treeRemove(tree, &keys[4]);
        EXPECT_EQ(liveBlocks(state->pool), blocks - !perBlock);
        treeDestroy(tree);
    }
    OmbrixKeyPart parts[2] = {directPart(OMBRIX_PART_INT32, 4), directPart(OMBRIX_PART_INT32, 4, 4)};
    QVWord *pool = omb::hostCreatePool(host, QVPoolOptions{}, nullptr, "caller");
    uint64_t pools = qvhostLivePools(host);
    for (QVWord *given : {pool, static_cast<QVWord *>(nullptr)}) {
        uint64_t blocks = liveBlocks(pool);  // a node block stays in a given pool after a destroy
        OmbrixTree *made = nullptr;
        EXPECT_EQ(sweepAllocationFailures(host, [&] {
            return (made = treeNew(given, treeParms(OMBRIX_KEY_COMPOSITE, parts, 2, 8))) != nullptr;
        }, [&](uint64_t) {
            EXPECT_EQ(liveBlocks(pool), blocks);
            EXPECT_EQ(qvhostLivePools(host), pools) << "its own pool is gone";
        }), 5u) << "object, parameters, parts, sentinel, first block";
        treeDestroy(made);
        EXPECT_EQ(qvhostLivePools(host), pools) << "a given pool outlives the tree";
    }
    omb::poolDestroy(pool);
    qvhostFailPoolCreation(host, 1);
    EXPECT_EQ(treeNew(nullptr, treeParms(OMBRIX_KEY_VARIABLE)), nullptr);
    qvhostFailPoolCreation(host, 0);
}

}  // namespace
