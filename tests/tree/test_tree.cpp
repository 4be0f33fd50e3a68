// The tree on the reference host: its layout, edge cases of adding, finding
// and removing, node blocks, iterators, printing and refused allocations.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "core/container.h"
#include "fault_sweep.h"
#include "host_fixture.h"
#include "rb_invariants.h"
#include "tree_keys.h"
#include "tree/tree.h"

namespace {

using Node = OmbrixTreeNode;

class TreeTest : public HostTest {
  protected:
    // A tree keyed by the int32 the item pointer points to.
    OmbrixTree *intTree(int32_t perBlock = 0, QVWord *pool = nullptr) {
        intPart = directPart(OMBRIX_PART_INT32, 4);
        OmbrixTree *tree = treeNew(pool, treeParms(OMBRIX_KEY_COMPOSITE, &intPart, 1, perBlock));
        EXPECT_NE(tree, nullptr);
        return tree;
    }

    static std::vector<int32_t> intKeys(OmbrixTree *tree) {
        std::vector<int32_t> out;
        omb::TreeState *state = omb::treeStateOf(tree);
        RbShape shape = checkRedBlack(state->root, state->sentinel);
        EXPECT_TRUE(shape.valid);
        for (Node *n : shape.inOrder) out.push_back(*static_cast<int32_t *>(n->key));
        return out;
    }

    static QVHostPoolStats statsOf(QVWord *pool) {
        QVHostPoolStats s{};
        qvhostPoolStats(pool, &s);
        return s;
    }

    // What treePrint writes; its status must be 0.
    static std::string printed(OmbrixTree *tree) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(treePrint(tree), OMBRIX_OK);
        return testing::internal::GetCapturedStdout();
    }

    OmbrixKeyPart intPart{};
};

TEST_F(TreeTest, HandlePointsAtTheParameterPointerWithThePrivatePartBeforeIt) {
    OmbrixTree *tree = intTree(4);
    ASSERT_NE(tree, nullptr);
    auto *words = reinterpret_cast<void **>(tree);
    omb::TreeState *state = omb::treeStateOf(tree);
    EXPECT_EQ(words[-6], state->root);
    EXPECT_EQ(words[-5], state->sentinel);
    EXPECT_EQ(words[-6], words[-5]) << "an empty tree's root is its sentinel";
    EXPECT_EQ(words[-3], state->pool);
    EXPECT_EQ(words[-1], state->nodeBlock);
    EXPECT_NE(state->nodeBlock, nullptr);
    EXPECT_EQ(state->nodeBlockUsed, 0);
    EXPECT_EQ(words[0], tree->parms);
    EXPECT_EQ(words[1], reinterpret_cast<void *>(treeDestroy));
    EXPECT_EQ(words[8], reinterpret_cast<void *>(treeSize));
    EXPECT_EQ(words[17], nullptr) << "statistics are not built in";
    EXPECT_EQ(words[18], reinterpret_cast<void *>(treePrint));
    // The copy: mode 0 kept as 2, the parts copied, the block size kept.
    EXPECT_EQ(tree->parms->keyMode, OMBRIX_KEY_REFERENCE);
    EXPECT_NE(tree->parms->keyParts, &intPart);
    EXPECT_EQ(tree->parms->keyParts[0].partSize, 4);
    EXPECT_EQ(tree->parms->nodesPerBlock, 4);
    EXPECT_EQ(treeGetKeySize(tree), 4);
    EXPECT_STREQ(qvhostPoolName(state->pool), "ombrixt");
    EXPECT_EQ(state->sentinel->red, 0);
    EXPECT_EQ(state->sentinel->key, nullptr);
    treeDestroy(tree);
}

TEST_F(TreeTest, CreationDefaultsAndPools) {
    OmbrixKeyPart parts[2] = {directPart(OMBRIX_PART_INT32, 4), directPart(OMBRIX_PART_INT64, 8, 8)};
    OmbrixTree *tree =
        treeNew(nullptr, treeParms(OMBRIX_KEY_REFERENCE, parts, 2, -3, 0, OMBRIX_FLAG_NO_LOCK));
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->parms->nodesPerBlock, 0) << "a block size below 1 is stored as 0";
    EXPECT_EQ(treeGetKeySize(tree), 12);
    EXPECT_EQ(qvhostPoolFlags(omb::treeStateOf(tree)->pool) & 1u, 1u);
    treeDestroy(tree);

    QVPoolOptions options{};
    QVWord *pool = omb::hostCreatePool(host, options, nullptr, "caller");
    uint64_t poolsBefore = qvhostLivePools(host);
    tree = intTree(0, pool);
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(omb::treeStateOf(tree)->ownsPool, 0);
    EXPECT_EQ(qvhostLivePools(host), poolsBefore) << "a given pool is used, none created";
    treeDestroy(tree);
    EXPECT_EQ(qvhostLivePools(host), poolsBefore) << "a given pool outlives the tree";
    omb::poolDestroy(pool);

    EXPECT_EQ(treeGetKeySize(nullptr), 0);
    treeDestroy(nullptr);
}

TEST_F(TreeTest, AscendingKeysStayBalanced) {
    OmbrixTree *tree = intTree();
    std::vector<int32_t> keys(1000);
    for (int32_t i = 0; i < 1000; ++i) {
        keys[i] = i + 1;
        ASSERT_EQ(treeAdd(tree, &keys[i]), OMBRIX_OK);
    }
    EXPECT_EQ(treeSize(tree), 1000u);
    omb::TreeState *state = omb::treeStateOf(tree);
    RbShape shape = checkRedBlack(state->root, state->sentinel);
    ASSERT_TRUE(shape.valid);
    EXPECT_LE(shape.height, 2 * std::log2(1001.0));
    EXPECT_EQ(*static_cast<int32_t *>(treeMinimum(state->root, state->sentinel)->key), 1);
    int32_t probe = 500;
    EXPECT_EQ(treeFind(tree, &probe), &keys[499]) << "find gives the stored pointer";
    for (Node *n : shape.inOrder)
        ASSERT_EQ(n->keyCopy, *static_cast<int32_t *>(n->key)) << "the node's copy of its key";
    treeDestroy(tree);
}

TEST_F(TreeTest, AnEqualKeyKeepsTheFirstPointer) {
    OmbrixTree *tree = intTree();
    int32_t first = 7, second = 7;
    EXPECT_EQ(treeAdd(tree, &first), OMBRIX_OK);
    EXPECT_EQ(treeAdd(tree, &second), OMBRIX_OK);
    EXPECT_EQ(treeSize(tree), 1u);
    EXPECT_EQ(treeFind(tree, &second), &first);
    omb::TreeState *state = omb::treeStateOf(tree);
    void *found = nullptr;
    EXPECT_EQ(treeFindOrAdd(state->pool, &state->root, state->sentinel, tree->parms, &second, 4,
                            nullptr, nullptr, &found),
              OMBRIX_OK);
    EXPECT_EQ(found, &first) << "find-or-add reports the node already there";
    int32_t third = 8;
    found = nullptr;
    EXPECT_EQ(treeFindOrAdd(state->pool, &state->root, state->sentinel, tree->parms, &third, 4,
                            nullptr, nullptr, &found),
              OMBRIX_OK);
    EXPECT_EQ(found, nullptr) << "a new key leaves the found slot untouched";
    EXPECT_EQ(intKeys(tree), (std::vector<int32_t>{7, 8}));
    treeDestroy(tree);
}

TEST_F(TreeTest, AbsentKeysAndEmptyTrees) {
    OmbrixTree *tree = intTree();
    int32_t key = 3;
    EXPECT_EQ(treeFind(tree, &key), nullptr);
    EXPECT_EQ(treeRemove(tree, &key), OMBRIX_OK);
    EXPECT_EQ(treeSize(tree), 0u);
    treeAdd(tree, &key);
    int32_t other = 4;
    EXPECT_EQ(treeRemove(tree, &other), OMBRIX_OK);
    EXPECT_EQ(treeSize(tree), 1u);
    EXPECT_EQ(treeRemove(tree, &key), OMBRIX_OK);
    EXPECT_EQ(treeSize(tree), 0u);
    omb::TreeState *state = omb::treeStateOf(tree);
    EXPECT_EQ(state->root, state->sentinel);
    // Null arguments: no status, nothing changes.
    EXPECT_EQ(treeAdd(tree, nullptr), OMBRIX_OK);
    EXPECT_EQ(treeFind(tree, nullptr), nullptr);
    EXPECT_EQ(treeAdd(nullptr, &key), OMBRIX_OK);
    EXPECT_EQ(treeFind(nullptr, &key), nullptr);
    EXPECT_EQ(treeRemove(nullptr, &key), OMBRIX_OK);
    EXPECT_EQ(treeSize(nullptr), 0u);
    EXPECT_EQ(treeSize(tree), 0u);
    EXPECT_EQ(treeFindCommon(nullptr, state->sentinel, tree->parms, &key, 4), nullptr);
    treeDestroy(tree);
}

TEST_F(TreeTest, ADescendingPartReversesOnlyItself) {
    struct Row {
        int32_t major;
        int32_t minor;
    } rows[] = {{1, 1}, {2, 2}, {1, 2}, {2, 1}, {3, 0}};
    OmbrixKeyPart parts[2] = {directPart(OMBRIX_PART_INT32, 4, 0, 0x101),  // low byte 1
                              directPart(OMBRIX_PART_INT32, 4, 4)};
    OmbrixTree *tree = treeNew(nullptr, treeParms(OMBRIX_KEY_REFERENCE, parts, 2));
    for (Row &r : rows) treeAdd(tree, &r);
    std::vector<std::pair<int, int>> order;
    OmbrixIterator it = treeIterator(tree);
    while (it.hasNext) {
        auto *r = static_cast<Row *>(it.next(&it));
        order.emplace_back(r->major, r->minor);
    }
    it.release(&it);
    EXPECT_EQ(order, (std::vector<std::pair<int, int>>{{3, 0}, {2, 1}, {2, 2}, {1, 1}, {1, 2}}));
    OmbrixKeyPart highByteOnly = directPart(OMBRIX_PART_INT32, 4, 0, 0x100);
    OmbrixTree *ascending = treeNew(nullptr, treeParms(OMBRIX_KEY_REFERENCE, &highByteOnly, 1));
    treeAdd(ascending, &rows[1]);
    treeAdd(ascending, &rows[0]);
    EXPECT_EQ(treeMinimum(omb::treeStateOf(ascending)->root,
                          omb::treeStateOf(ascending)->sentinel)->key,
              &rows[0])
        << "only the low byte of partOption makes a part descending";
    treeDestroy(ascending);
    treeDestroy(tree);
}

TEST_F(TreeTest, VariableLengthKeysOrderByBytesThenLength) {
    const char *ab = "ab", *abc = "abc";
    for (uint8_t reverse : {0, 1}) {
        OmbrixTree *tree = treeNew(nullptr, treeParms(OMBRIX_KEY_VARIABLE, nullptr, 0, 0, reverse));
        EXPECT_EQ(treeAddWithKeySize(tree, abc, 3), OMBRIX_OK);
        EXPECT_EQ(treeAddWithKeySize(tree, ab, 2), OMBRIX_OK);
        omb::TreeState *state = omb::treeStateOf(tree);
        Node *first = treeMinimum(state->root, state->sentinel);
        EXPECT_EQ(first->key, reverse ? abc : ab);
        EXPECT_EQ(first->keySize, reverse ? 3 : 2) << "the node records the key size";
        EXPECT_EQ(treeFindWithKeySize(tree, "abX", 2), ab) << "two bytes of abX are ab";
        EXPECT_EQ(treeFindWithKeySize(tree, "abc", 1), nullptr);
        EXPECT_EQ(treeRemoveWithKeySize(tree, "abc", 3), OMBRIX_OK);
        EXPECT_EQ(treeSize(tree), 1u);
        treeDestroy(tree);
    }
}

// A negative key size takes the tree's (the sum of the part sizes, or 8
// without parts); 0 measures the UTF-8 string.
TEST_F(TreeTest, KeySizesBelowOneTakeTheTreesOrMeasureTheString) {
    OmbrixTree *tree = treeNew(nullptr, treeParms(OMBRIX_KEY_VARIABLE));
    omb::TreeState *state = omb::treeStateOf(tree);
    const char *text = "0123456789";
    EXPECT_EQ(treeAddWithKeySize(tree, text, -1), OMBRIX_OK);
    EXPECT_EQ(state->root->keySize, 8);
    EXPECT_EQ(treeFindWithKeySize(tree, "01234567", 8), text);
    EXPECT_EQ(treeRemoveWithKeySize(tree, text, -1), OMBRIX_OK);
    EXPECT_EQ(treeSize(tree), 0u);

    const char *hello = "hello";
    EXPECT_EQ(treeAdd(tree, hello), OMBRIX_OK);
    EXPECT_EQ(state->root->keySize, 5);
    EXPECT_EQ(treeFind(tree, "hello"), hello);
    EXPECT_EQ(treeFind(tree, "hell"), nullptr);
    // A string that ends inside a character counts up to its last whole one.
    const char *a = "a";
    EXPECT_EQ(treeAddWithKeySize(tree, a, 1), OMBRIX_OK);
    EXPECT_EQ(treeFind(tree, "a\xE2\x82"), a);
    EXPECT_EQ(treeRemove(tree, "a\xE2\x82"), OMBRIX_OK);
    EXPECT_EQ(treeFind(tree, "a"), nullptr);
    EXPECT_EQ(treeRemove(tree, "hello"), OMBRIX_OK);
    EXPECT_EQ(treeSize(tree), 0u);
    treeDestroy(tree);
}

TEST_F(TreeTest, NormalisedStringsEqualApartFromCase) {
    OmbrixTree *tree = treeNew(nullptr, treeParms(OMBRIX_KEY_VARIABLE, nullptr, 0, 0, 0,
                                                  OMBRIX_TREE_NORMALIZED));
    const char *words[] = {"Pear", "apple", "pear", "Banana", "APPLE"};
    for (const char *w : words) EXPECT_EQ(treeAdd(tree, w), OMBRIX_OK);
    EXPECT_EQ(treeSize(tree), 3u);
    EXPECT_EQ(treeFind(tree, "PEAR"), words[0]);
    std::vector<std::string> order;
    OmbrixIterator it = treeIterator(tree);
    while (it.hasNext) order.emplace_back(static_cast<const char *>(it.next(&it)));
    it.release(&it);
    EXPECT_EQ(order, (std::vector<std::string>{"apple", "Banana", "Pear"}));
    treeDestroy(tree);
}

TEST_F(TreeTest, ANaNDoubleEqualsEveryKey) {
    OmbrixKeyPart part = directPart(OMBRIX_PART_DOUBLE, 8);
    OmbrixTree *tree = treeNew(nullptr, treeParms(OMBRIX_KEY_REFERENCE, &part, 1));
    double one = 1.0, nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(treeAdd(tree, &one), OMBRIX_OK);
    EXPECT_EQ(treeAdd(tree, &nan), OMBRIX_OK);
    EXPECT_EQ(treeSize(tree), 1u);
    EXPECT_EQ(treeFind(tree, &nan), &one);
    treeDestroy(tree);
}

// A NaN equals several keys at once, so its removal takes the first equal
// node on the walk from the root; a finger on another equal node must not
// answer first, and trees with a double part keep none.
TEST_F(TreeTest, ANaNRemovesWhatTheWalkMeetsFirst) {
    OmbrixKeyPart part = directPart(OMBRIX_PART_DOUBLE, 8);
    OmbrixTree *tree = treeNew(nullptr, treeParms(OMBRIX_KEY_REFERENCE, &part, 1));
    omb::TreeState *state = omb::treeStateOf(tree);
    double keys[4] = {1.0, 2.0, 3.0, 4.0}, nan = std::numeric_limits<double>::quiet_NaN();
    for (double &k : keys) treeAdd(tree, &k);
    treeRemove(tree, &keys[2]);  // 2 stays the root, with 1 and 4 below
    ASSERT_EQ(state->root->key, &keys[1]);
    EXPECT_EQ(omb::sentinelBlockOf(state)->finger, nullptr);
    treeRemove(tree, &nan);
    std::vector<void *> left;
    for (Node *n : checkRedBlack(state->root, state->sentinel).inOrder) left.push_back(n->key);
    EXPECT_EQ(left, (std::vector<void *>{&keys[0], &keys[3]}));
    treeDestroy(tree);
}

TEST_F(TreeTest, NodeBlocksServeSeveralAddsAndRemovalsFreeNothing) {
    OmbrixTree *tree = intTree(4);
    omb::TreeState *state = omb::treeStateOf(tree);
    QVHostPoolStats start = statsOf(state->pool);
    Node *firstBlock = state->nodeBlock;
    int32_t keys[5] = {1, 2, 3, 4, 5};
    for (int i = 0; i < 4; ++i) treeAdd(tree, &keys[i]);
    EXPECT_EQ(statsOf(state->pool).allocations, start.allocations) << "four nodes, one block";
    EXPECT_EQ(state->nodeBlockUsed, 4);
    treeAdd(tree, &keys[4]);
    QVHostPoolStats afterFifth = statsOf(state->pool);
    EXPECT_EQ(afterFifth.allocations, start.allocations + 1);
    EXPECT_EQ(afterFifth.liveBytes - start.liveBytes, 4 * sizeof(Node));
    EXPECT_NE(state->nodeBlock, firstBlock);
    EXPECT_EQ(state->nodeBlockUsed, 1);
    treeRemove(tree, &keys[2]);
    treeRemove(tree, &keys[4]);
    EXPECT_EQ(statsOf(state->pool).frees, afterFifth.frees) << "block nodes are never freed";
    EXPECT_EQ(intKeys(tree), (std::vector<int32_t>{1, 2, 4}));
    treeDestroy(tree);

    // One node per allocation: removal gives the node back.
    tree = intTree(0);
    state = omb::treeStateOf(tree);
    treeAdd(tree, &keys[0]);
    QVHostPoolStats before = statsOf(state->pool);
    treeRemove(tree, &keys[0]);
    EXPECT_EQ(statsOf(state->pool).liveBlocks, before.liveBlocks - 1);
    treeDestroy(tree);
}

TEST_F(TreeTest, EngineRoutinesOnACallerHeldTree) {
    // A flat composite key (mode 0 reaches the engine only from another
    // container's record): int32 then int64, read from the key buffer.
    OmbrixKeyPart parts[2] = {directPart(OMBRIX_PART_INT32, 4), directPart(OMBRIX_PART_INT64, 8)};
    OmbrixTreeParms parms = treeParms(OMBRIX_KEY_COMPOSITE, parts, 2, 3);
    QVPoolOptions options{};
    QVWord *pool = omb::hostCreatePool(host, options, nullptr, "engine");
    Node sentinel{};
    Node *root = &sentinel;
    Node *block = nullptr;
    int32_t used = 0;
    unsigned char keys[6][12];
    const int32_t majors[6] = {2, 1, 2, 1, 0, 2};
    const int64_t minors[6] = {5, 9, -1, 9, 4, 6};
    for (int i = 0; i < 6; ++i) {
        std::memcpy(keys[i], &majors[i], 4);
        std::memcpy(keys[i] + 4, &minors[i], 8);
        EXPECT_EQ(treeAddCommon(pool, &root, &sentinel, &parms, keys[i], 12, &block, &used),
                  OMBRIX_OK);
    }
    RbShape shape = checkRedBlack(root, &sentinel);
    ASSERT_TRUE(shape.valid);
    std::vector<void *> order;
    for (Node *n : shape.inOrder) order.push_back(n->key);
    EXPECT_EQ(order, (std::vector<void *>{keys[4], keys[1], keys[2], keys[0], keys[5]}))
        << "key 3 equals key 1 and is not stored";
    EXPECT_EQ(used, 2) << "a block of three was filled and a second one started";
    EXPECT_EQ(treeFindCommon(root, &sentinel, &parms, keys[3], 12), keys[1]);
    EXPECT_EQ(treeRemoveCommon(pool, &root, &sentinel, &parms, keys[0], 12), OMBRIX_OK);
    EXPECT_EQ(treeFindCommon(root, &sentinel, &parms, keys[0], 12), nullptr);
    EXPECT_EQ(checkRedBlack(root, &sentinel).inOrder.size(), 4u);
    // Without block slots every node is allocated on its own.
    QVHostPoolStats before = statsOf(pool);
    EXPECT_EQ(treeAddCommon(pool, &root, &sentinel, &parms, keys[0], 12, nullptr, nullptr),
              OMBRIX_OK);
    EXPECT_EQ(statsOf(pool).allocations, before.allocations + 1);
    EXPECT_EQ(statsOf(pool).liveBytes - before.liveBytes, sizeof(Node));
    omb::poolDestroy(pool);
}

TEST_F(TreeTest, CloneIsEmptyAndOrdersTheSameWay) {
    OmbrixKeyPart part = directPart(OMBRIX_PART_INT32, 4, 0, 1);
    OmbrixTree *tree = treeNew(nullptr, treeParms(OMBRIX_KEY_COMPOSITE, &part, 1, 2));
    int32_t keys[3] = {1, 3, 2};
    for (int32_t &k : keys) treeAdd(tree, &k);
    OmbrixTree *copy = treeClone(tree);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(treeSize(copy), 0u);
    EXPECT_NE(omb::treeStateOf(copy)->pool, omb::treeStateOf(tree)->pool);
    EXPECT_EQ(omb::treeStateOf(copy)->ownsPool, 1);
    EXPECT_EQ(copy->parms->nodesPerBlock, 2);
    EXPECT_NE(copy->parms->keyParts, tree->parms->keyParts);
    EXPECT_EQ(isTreeMergeable(tree, copy), 1);
    for (int32_t &k : keys) treeAdd(copy, &k);
    EXPECT_EQ(intKeys(copy), (std::vector<int32_t>{3, 2, 1})) << "the descending part is kept";
    EXPECT_EQ(treeMerge(tree, copy), OMBRIX_OK);
    EXPECT_EQ(treeSize(tree), 3u) << "merge moves nothing";
    EXPECT_EQ(treeClone(nullptr), nullptr);
    treeDestroy(copy);
    treeDestroy(tree);
}

TEST_F(TreeTest, MergeabilityComparesModesAndParts) {
    OmbrixKeyPart a = directPart(OMBRIX_PART_INT32, 4), b = directPart(OMBRIX_PART_INT32, 4, 16, 1);
    OmbrixKeyPart wider = directPart(OMBRIX_PART_INT32, 8), other = directPart(OMBRIX_PART_INT64, 4);
    OmbrixTree *base = treeNew(nullptr, treeParms(OMBRIX_KEY_REFERENCE, &a, 1));
    OmbrixTree *sameShape = treeNew(nullptr, treeParms(OMBRIX_KEY_COMPOSITE, &b, 1));
    OmbrixTree *widerPart = treeNew(nullptr, treeParms(OMBRIX_KEY_REFERENCE, &wider, 1));
    OmbrixTree *otherType = treeNew(nullptr, treeParms(OMBRIX_KEY_REFERENCE, &other, 1));
    OmbrixTree *pointers = treeNew(nullptr, treeParms(OMBRIX_KEY_REFERENCE));
    EXPECT_EQ(isTreeMergeable(base, sameShape), 1) << "offsets and options do not matter";
    EXPECT_EQ(isTreeMergeable(base, widerPart), 0);
    EXPECT_EQ(isTreeMergeable(base, otherType), 0);
    EXPECT_EQ(isTreeMergeable(base, pointers), 0);
    EXPECT_EQ(isTreeMergeable(base, nullptr), 0);
    EXPECT_EQ(treeMerge(base, nullptr), OMBRIX_OK);
    for (OmbrixTree *t : {base, sameShape, widerPart, otherType, pointers}) treeDestroy(t);
}

TEST_F(TreeTest, ResetEmptiesAndBlobOperationsChangeNothing) {
    OmbrixTree *tree = intTree();
    int32_t keys[3] = {1, 2, 3};
    for (int32_t &k : keys) treeAdd(tree, &k);
    unsigned char buffer[8] = {};
    EXPECT_EQ(treeToBlob(tree, buffer), OMBRIX_OK);
    EXPECT_EQ(treeGetBlobSize(tree), 0u);
    OmbrixBlob blob{};
    EXPECT_EQ(treeMergeFromBlob(tree, &blob), OMBRIX_OK);
    EXPECT_EQ(treeNewFromBlob(nullptr, &blob), nullptr);
    EXPECT_EQ(treeSize(tree), 3u);
    EXPECT_EQ(treeReset(tree), OMBRIX_OK);
    EXPECT_EQ(treeSize(tree), 0u);
    EXPECT_EQ(treeFind(tree, &keys[0]), nullptr);
    EXPECT_EQ(treeAdd(tree, &keys[1]), OMBRIX_OK) << "a reset tree is usable";
    EXPECT_EQ(intKeys(tree), (std::vector<int32_t>{2}));
    EXPECT_EQ(treeReset(nullptr), OMBRIX_OK);
    treeDestroy(tree);
}

TEST_F(TreeTest, NavigationStopsAtTheEnds) {
    OmbrixTree *tree = intTree();
    omb::TreeState *state = omb::treeStateOf(tree);
    EXPECT_EQ(treeMinimum(state->sentinel, state->sentinel), nullptr);
    EXPECT_EQ(treeSuccessor(state->sentinel, state->sentinel), nullptr);
    int32_t keys[7] = {40, 10, 30, 70, 20, 60, 50};
    for (int32_t &k : keys) treeAdd(tree, &k);
    std::vector<int32_t> walked;
    Node *last = nullptr;
    for (Node *n = treeMinimum(state->root, state->sentinel); n;
         n = treeSuccessor(n, state->sentinel)) {
        walked.push_back(*static_cast<int32_t *>(n->key));
        last = n;
    }
    EXPECT_EQ(walked, (std::vector<int32_t>{10, 20, 30, 40, 50, 60, 70}));
    EXPECT_EQ(treeSuccessor(last, state->sentinel), nullptr) << "the maximum has no successor";
    treeDestroy(tree);
}

TEST_F(TreeTest, IteratorsWalkInKeyOrder) {
    OmbrixTree *tree = intTree();
    int32_t keys[3] = {3, 1, 2};
    for (int32_t &k : keys) treeAdd(tree, &k);
    OmbrixIterator it = tree->iterator(tree);
    ASSERT_NE(it.next, nullptr);
    EXPECT_STREQ(qvhostPoolName(qvhostFindPool(host, "ombrixt iter")), "ombrixt iter");
    EXPECT_EQ(it.size(&it), 3);
    EXPECT_TRUE(it.hasNext);
    EXPECT_EQ(it.next(&it), &keys[1]);
    EXPECT_EQ(it.next(&it), &keys[2]);
    EXPECT_TRUE(it.hasNext);
    EXPECT_EQ(it.next(&it), &keys[0]);
    EXPECT_FALSE(it.hasNext);
    EXPECT_EQ(it.next(&it), nullptr);
    EXPECT_FALSE(it.hasNext);

    // Reset onto another tree walks that one from its minimum.
    OmbrixTree *other = intTree();
    int32_t others[2] = {9, 8};
    for (int32_t &k : others) treeAdd(other, &k);
    EXPECT_EQ(it.reset(&it, other), OMBRIX_OK);
    EXPECT_TRUE(it.hasNext);
    EXPECT_EQ(it.size(&it), 2);
    EXPECT_EQ(it.next(&it), &others[1]);
    EXPECT_EQ(it.reset(&it, nullptr), OMBRIX_OK);
    EXPECT_EQ(it.next(&it), &others[1]) << "a null tree restarts the same one";
    it.release(&it);
    EXPECT_EQ(it.state, nullptr);
    it.release(&it);  // a second release does nothing

    OmbrixIterator entries = treeEntryIterator(tree);
    ASSERT_NE(entries.next, nullptr);
    EXPECT_NE(qvhostFindPool(host, "ombrixt entry iter"), nullptr);
    auto *node = static_cast<Node *>(entries.next(&entries));
    EXPECT_EQ(node->key, &keys[1]);
    EXPECT_EQ(node, treeMinimum(omb::treeStateOf(tree)->root, omb::treeStateOf(tree)->sentinel));
    entries.release(&entries);
    treeDestroy(other);
    treeDestroy(tree);
}

TEST_F(TreeTest, IteratorsOnEmptyAndMissingTrees) {
    OmbrixTree *tree = intTree();
    OmbrixIterator it = treeIterator(tree);
    ASSERT_NE(it.next, nullptr);
    EXPECT_FALSE(it.hasNext);
    EXPECT_EQ(it.next(&it), nullptr);
    EXPECT_EQ(it.reset(&it, nullptr), OMBRIX_OK);
    EXPECT_FALSE(it.hasNext);
    EXPECT_EQ(it.size(&it), 0);
    it.release(&it);

    OmbrixIterator none = treeIterator(nullptr);
    EXPECT_EQ(none.next, nullptr);
    EXPECT_FALSE(none.hasNext);

    qvhostFailPoolCreation(host, 1);
    OmbrixIterator refused = treeEntryIterator(tree);
    qvhostFailPoolCreation(host, 0);
    EXPECT_EQ(refused.next, nullptr);
    EXPECT_EQ(refused.state, nullptr);
    EXPECT_FALSE(refused.hasNext);
    treeDestroy(tree);
}

TEST_F(TreeTest, PrintWritesTheLevelsOneLine) {
    OmbrixTree *tree = intTree();
    EXPECT_EQ(printed(tree), "#\n");

    int32_t keys[3] = {5, 3, 8};
    for (int32_t &k : keys) treeAdd(tree, &k);
    testing::internal::CaptureStdout();
    EXPECT_EQ(tree->print(tree), OMBRIX_OK);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "5, 3(r), 8(r), #, #, #, #\n");

    int32_t more[2] = {1, -4};
    for (int32_t &k : more) treeAdd(tree, &k);
    // 1 turns 3 and 8 black; -4 then rotates at 3, and 1 stands black
    // over the red pair -4 and 3.
    EXPECT_EQ(printed(tree), "5, 1, 8, -4(r), 3(r), #, #, #, #, #, #\n");
    treeDestroy(tree);
}

TEST_F(TreeTest, PrintReadsTheKeyFieldAndSkipsOtherKeys) {
    struct Row {
        int64_t pad;
        int32_t key;
    } rows[2] = {{0, 12}, {0, -3}};
    OmbrixKeyPart part = directPart(OMBRIX_PART_INT32, 4, offsetof(Row, key));
    OmbrixTree *tree = treeNew(nullptr, treeParms(OMBRIX_KEY_REFERENCE, &part, 1));
    for (Row &r : rows) treeAdd(tree, &r);
    EXPECT_EQ(printed(tree), "12, -3(r), #, #, #\n");
    treeDestroy(tree);

    OmbrixKeyPart wide = directPart(OMBRIX_PART_INT64, 8);
    OmbrixKeyPart twoParts[2] = {directPart(OMBRIX_PART_INT32, 4), directPart(OMBRIX_PART_INT32, 4, 4)};
    for (OmbrixTreeParms parms : {treeParms(OMBRIX_KEY_REFERENCE, &wide, 1),
                                  treeParms(OMBRIX_KEY_REFERENCE, twoParts, 2),
                                  treeParms(OMBRIX_KEY_VARIABLE), treeParms(OMBRIX_KEY_REFERENCE)}) {
        tree = treeNew(nullptr, parms);
        treeAdd(tree, &rows[0]);
        EXPECT_EQ(printed(tree), "");
        treeDestroy(tree);
    }
    EXPECT_EQ(treePrint(nullptr), OMBRIX_OK);
}

// ---------------------------------------------------------------------------
// Refused allocations

TEST_F(TreeTest, ARefusedNodeLeavesTheTreeAsItWas) {
    for (int32_t perBlock : {0, 2}) {
        OmbrixTree *tree = intTree(perBlock);
        omb::TreeState *state = omb::treeStateOf(tree);
        // Four keys fill the nodes of two blocks of two, so the next add
        // needs an allocation in both settings.
        std::vector<int32_t> keys = {50, 20, 80, 10};
        for (int32_t &k : keys) treeAdd(tree, &k);
        int32_t added = 30;
        QVHostPoolStats before = statsOf(state->pool);
        Node *rootBefore = state->root;
        uint64_t made = sweepAllocationFailures(
            host,
            [&] {
                void *found = nullptr;
                QVStatus status = treeFindOrAdd(state->pool, &state->root, state->sentinel,
                                                tree->parms, &added, 4, &state->nodeBlock,
                                                &state->nodeBlockUsed, &found);
                return status == OMBRIX_OK && treeFind(tree, &added) == &added;
            },
            [&](uint64_t) {
                EXPECT_EQ(intKeys(tree), (std::vector<int32_t>{10, 20, 50, 80}));
                EXPECT_EQ(state->root, rootBefore);
                EXPECT_EQ(statsOf(state->pool).liveBlocks, before.liveBlocks);
            });
        EXPECT_EQ(made, 1u) << "one node or one block per add";
        EXPECT_EQ(intKeys(tree), (std::vector<int32_t>{10, 20, 30, 50, 80}));
        treeDestroy(tree);
    }
}

TEST_F(TreeTest, ARefusedConstructorGivesBackWhatItTook) {
    OmbrixKeyPart parts[2] = {directPart(OMBRIX_PART_INT32, 4), directPart(OMBRIX_PART_INT32, 4, 4)};
    QVPoolOptions options{};
    QVWord *pool = omb::hostCreatePool(host, options, nullptr, "caller");
    QVHostPoolStats before = statsOf(pool);
    OmbrixTree *made = nullptr;
    uint64_t allocations = sweepAllocationFailures(
        host,
        [&] {
            made = treeNew(pool, treeParms(OMBRIX_KEY_COMPOSITE, parts, 2, 8));
            return made != nullptr;
        },
        [&](uint64_t n) {
            EXPECT_EQ(statsOf(pool).liveBlocks, before.liveBlocks) << "refused allocation " << n;
        });
    EXPECT_EQ(allocations, 5u) << "object, parameters, parts, sentinel, first block";
    treeDestroy(made);
    omb::poolDestroy(pool);

    uint64_t poolsBefore = qvhostLivePools(host);
    sweepAllocationFailures(
        host,
        [&] {
            made = treeNew(nullptr, treeParms(OMBRIX_KEY_VARIABLE));
            return made != nullptr;
        },
        [&](uint64_t) { EXPECT_EQ(qvhostLivePools(host), poolsBefore) << "its own pool is gone"; });
    treeDestroy(made);

    qvhostFailPoolCreation(host, 1);
    EXPECT_EQ(treeNew(nullptr, treeParms(OMBRIX_KEY_VARIABLE)), nullptr);
    qvhostFailPoolCreation(host, 0);
}

TEST_F(TreeTest, RefusedIteratorsAndPrintingLeaveNothingBehind) {
    OmbrixTree *tree = intTree();
    int32_t keys[4] = {2, 1, 3, 4};
    for (int32_t &k : keys) treeAdd(tree, &k);
    omb::TreeState *state = omb::treeStateOf(tree);
    sweepAllocationFailures(
        host,
        [&] {
            OmbrixIterator it = treeIterator(tree);
            bool ok = it.next != nullptr && it.next(&it) == &keys[1];
            if (it.release) it.release(&it);
            return ok;
        },
        [&](uint64_t) {});
    QVHostPoolStats before = statsOf(state->pool);
    uint64_t allocations = sweepAllocationFailures(
        host,
        [&] {
            testing::internal::CaptureStdout();
            QVStatus status = treePrint(tree);
            std::string out = testing::internal::GetCapturedStdout();
            EXPECT_EQ(status == OMBRIX_OK, out == "2, 1, 3, #, #, #, 4(r), #, #\n") << out;
            return status == OMBRIX_OK;
        },
        [&](uint64_t) {
            EXPECT_EQ(statsOf(state->pool).liveBlocks, before.liveBlocks) << "the queue is gone";
        });
    EXPECT_GT(allocations, 4u) << "the queue and its entries";
    EXPECT_EQ(intKeys(tree), (std::vector<int32_t>{1, 2, 3, 4}));
    treeDestroy(tree);
}

}  // namespace
