// The ordered red-black tree as a container: its operations over the engine
// (tree_engine.cpp), its iterators and its printing.
#include "tree/tree.h"

#include <cstdio>

#include "core/container.h"
#include "core/export.h"
#include "core/host_calls.h"
#include "lists/linked_list.h"
#include "ombrix/utf8.h"
#include "tree/key_order.h"
#include "tree/tree_engine.h"

using Node = OmbrixTreeNode;
using Tree = OmbrixTree;
using Parms = OmbrixTreeParms;

namespace {

constexpr const char *kPoolName = "ombrixt";
constexpr const char *kIteratorPoolName = "ombrixt iter";
constexpr const char *kEntryIteratorPoolName = "ombrixt entry iter";

// ---------------------------------------------------------------------------
// The container

// The three WithKeySize operations resolve the size once. A variable-length
// key of size 0 is a NUL-terminated UTF-8 string measured up to its last
// whole character; otherwise below 1 means the sum of the part sizes, or 8
// without parts.
int32_t resolveKeySize(Tree *tree, const void *key, int32_t keySize) {
    if (keySize == 0 && omb::isVariableLengthMode(tree->parms->keyMode)) {
        uint64_t length = UTF8_BLEN(static_cast<const char *>(key));
        return length > INT32_MAX ? INT32_MAX : static_cast<int32_t>(length);
    }
    if (keySize >= 1) return keySize;
    int32_t total = omb::treeStateOf(tree)->totalKeySize;
    return total ? total : 8;
}

// The container's add, remove and find, shared by the plain and the
// WithKeySize forms (so that neither calls the other through the PLT).
QVStatus addToTree(Tree *tree, const void *key, int32_t keySize) {
    if (!tree || !key) return OMBRIX_OK;
    omb::TreeState *state = omb::treeStateOf(tree);
    return omb::addKey(state->pool, &state->root, state->sentinel, *tree->parms, key,
                       resolveKeySize(tree, key, keySize), &state->nodeBlock,
                       &state->nodeBlockUsed, nullptr);
}

// The finger (SentinelBlock::finger) is the in-order successor of the node
// the last removal took out: null before any removal, after removing the
// last node, after a reset, and always in a tree that keeps no finger.
// Invariant: it is null or a node linked in this tree. This removal and
// treeReset set it, and the exported removal clears it; adds keep it, since
// rebalancing relinks nodes but never replaces one.
//
// A removal whose key equals the finger's unlinks the finger without the
// walk from the root, so removing keys in order costs O(1) amortised before
// the rebalancing. Keys in a tree that keeps a finger are unique under its
// order, so a finger that equals the key is the node the walk would find.
// The successor the engine hands back stays linked: the unlink moves a node
// with two children's successor into its place whole.
//
// A string key measured here would keep the tree and the key alive across
// that call, and so in saved registers on every removal; it is measured in
// a call of its own, which then comes back with the length.
QVStatus removeSizedFromTree(Tree *tree, const void *key, int32_t keySize) {
    omb::TreeState *state = omb::treeStateOf(tree);
    omb::SentinelBlock *block = omb::sentinelBlockOf(state);
    omb::removeKey(state->pool, &state->root, state->sentinel, *tree->parms, key, keySize,
                   block->finger, block->keepsFinger ? &block->finger : nullptr);
    return OMBRIX_OK;
}

[[gnu::noinline]] QVStatus removeStringFromTree(Tree *tree, const void *key) {
    return removeSizedFromTree(tree, key, resolveKeySize(tree, key, 0));
}

QVStatus removeFromTree(Tree *tree, const void *key, int32_t keySize) {
    if (!tree || !key) return OMBRIX_OK;
    if (keySize == 0 && omb::isVariableLengthMode(tree->parms->keyMode))
        return removeStringFromTree(tree, key);
    return removeSizedFromTree(tree, key, resolveKeySize(tree, key, keySize));
}

void *findInTree(Tree *tree, const void *key, int32_t keySize) {
    if (!tree || !key) return nullptr;
    omb::TreeState *state = omb::treeStateOf(tree);
    Node *node = omb::equalNode(state->root, state->sentinel, *tree->parms, key,
                                resolveKeySize(tree, key, keySize));
    return node ? node->key : nullptr;
}

// Iterator state, in its documented order: the node the next call hands out
// (null when the walk has ended or the tree was empty), the tree, the
// iterator's own pool.
struct IteratorState {
    Node *current;
    Tree *tree;
    QVWord *iterPool;
};
static_assert(offsetof(IteratorState, tree) == 8 && offsetof(IteratorState, iterPool) == 16 &&
              sizeof(IteratorState) == 24);

using Iterators =
    omb::IteratorRules<IteratorState, Tree, &IteratorState::tree, &IteratorState::iterPool>;

IteratorState *stateOf(OmbrixIterator *it) { return Iterators::stateOf(it); }

QVStatus restart(OmbrixIterator *it, IteratorState *state) {
    omb::TreeState *tree = omb::treeStateOf(Iterators::container(it));
    state->current = treeMinimum(tree->root, tree->sentinel);
    it->hasNext = state->current != nullptr;
    return OMBRIX_OK;
}

// Steps past the current node; null when the walk is over.
Node *advance(OmbrixIterator *it) {
    IteratorState *state = stateOf(it);
    Node *node = state ? state->current : nullptr;
    if (!node) {
        it->hasNext = 0;
        return nullptr;
    }
    Node *sentinel = omb::treeStateOf(Iterators::container(it))->sentinel;
    state->current = treeSuccessor(node, sentinel);
    it->hasNext = state->current != nullptr;
    return node;
}

void *treeIterNext(OmbrixIterator *it) {
    Node *node = advance(it);
    return node ? node->key : nullptr;
}

void *treeEntryIterNext(OmbrixIterator *it) { return advance(it); }

OmbrixIterator makeIterator(Tree *tree, const char *poolName, void *(*next)(OmbrixIterator *)) {
    return Iterators::open<restart, treeSize>(poolName, tree, next);
}

// treePrint: a level-order walk through a queue of nodes (sentinels
// included, printed as "#"). It prints trees keyed by one signed 32-bit
// field read without following a pointer: mode 0 keeps it at the start of
// the key, and mode 2 (what treeNew makes of mode 0) at the part's offset in
// the item. Any other key prints nothing.
bool printsKeys(const Parms &parms, int32_t *offset) {
    const OmbrixKeyPart *part = omb::directSinglePart(parms, offset);
    return part && part->partType == OMBRIX_PART_INT32;
}

int32_t printedValue(const Node *node, int32_t offset) {
    int32_t value;
    std::memcpy(&value, static_cast<const unsigned char *>(node->key) + offset, sizeof value);
    return value;
}

QVStatus printLevels(OmbrixLinkedList *queue, Node *root, Node *sentinel, int32_t offset) {
    if (linkedListAddLast(queue, root) != OMBRIX_OK) return OMBRIX_E_NO_MEMORY;
    while (linkedListSize(queue) != 0) {
        auto *node = static_cast<Node *>(linkedListRemoveFirst(queue));
        if (node == sentinel) {
            std::printf(", #");
            continue;
        }
        if (node == root)
            std::printf("%d", printedValue(node, offset));
        else
            std::printf(node->red ? ", %d(r)" : ", %d", printedValue(node, offset));
        if (linkedListAddLast(queue, node->left) != OMBRIX_OK ||
            linkedListAddLast(queue, node->right) != OMBRIX_OK)
            return OMBRIX_E_NO_MEMORY;
    }
    return OMBRIX_OK;
}

void fillOperations(Tree *tree) {
    tree->destroy = treeDestroy;
    tree->add = treeAdd;
    tree->remove = treeRemove;
    tree->find = treeFind;
    tree->addWithKeySize = treeAddWithKeySize;
    tree->removeWithKeySize = treeRemoveWithKeySize;
    tree->findWithKeySize = treeFindWithKeySize;
    tree->size = treeSize;
    tree->toBlob = treeToBlob;
    tree->getBlobSize = treeGetBlobSize;
    tree->merge = treeMerge;
    tree->mergeFromBlob = treeMergeFromBlob;
    tree->reset = treeReset;
    tree->iterator = treeIterator;
    tree->entryIterator = treeEntryIterator;
    tree->clone = treeClone;
    tree->stat = treeStat;
    tree->print = treePrint;
}

// Whether the finger may stand in for the walk: a double part makes a NaN
// equal to every key, so several nodes can equal one key and the walk's
// answer (the first equal node on its path) need not be the finger.
// Variable-length keys read only their bytes.
bool ordersTotally(const Parms &parms) {
    if (omb::isVariableLengthMode(parms.keyMode) || !omb::hasKeyParts(parms)) return true;
    for (int32_t i = 0; i < parms.keyPartCount; ++i)
        if (parms.keyParts[i].partType == OMBRIX_PART_DOUBLE) return false;
    return true;
}

int32_t sumOfPartSizes(const Parms &parms) {
    int64_t total = 0;
    if (omb::hasKeyParts(parms))
        for (int32_t i = 0; i < parms.keyPartCount; ++i) total += parms.keyParts[i].partSize;
    return total > INT32_MAX || total < INT32_MIN ? 0 : static_cast<int32_t>(total);
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------------------
// The container

OMBRIX_API Tree *treeNew(QVWord *pool, Parms parms) {
    if (!omb::keyPartsUsable(parms.keyParts, parms.keyPartCount)) return nullptr;
    omb::ContainerPool owned =
        omb::acquireContainerPool(pool, parms.flags & OMBRIX_FLAG_NO_LOCK, kPoolName);
    if (!owned.pool) return nullptr;
    auto *object =
        static_cast<omb::TreeObject *>(omb::poolAllocateZeroed(owned.pool, sizeof(omb::TreeObject)));
    if (!object) return omb::abandonContainer(owned, {});
    // What a failed step gives back; the blocks not yet taken are null.
    Parms *copy = nullptr;
    auto giveBack = [&] {
        return omb::abandonContainer(
            owned, {object->state.sentinel, copy ? copy->keyParts : nullptr, copy, object});
    };
    copy = static_cast<Parms *>(omb::poolAllocateZeroed(owned.pool, sizeof(Parms)));
    if (!copy) return giveBack();
    *copy = parms;
    if (copy->nodesPerBlock < 1) copy->nodesPerBlock = 0;
    // A tree reads its parts in place from the item, so a flat composite key
    // becomes a key reached from the item.
    if (copy->keyMode == OMBRIX_KEY_COMPOSITE) copy->keyMode = OMBRIX_KEY_REFERENCE;
    bool failed = false;
    copy->keyParts = omb::copyKeyParts(owned.pool, parms.keyParts, parms.keyPartCount, &failed);
    if (failed) return giveBack();

    omb::TreeState &state = object->state;
    state.totalKeySize = sumOfPartSizes(*copy);
    state.pool = owned.pool;
    state.ownsPool = owned.ownsPool;
    auto *sentinel = static_cast<omb::SentinelBlock *>(
        omb::poolAllocateZeroed(owned.pool, sizeof(omb::SentinelBlock)));
    if (!sentinel) return giveBack();
    sentinel->keepsFinger = ordersTotally(*copy);
    omb::markFingerBehind(&sentinel->node);
    state.sentinel = &sentinel->node;
    state.root = state.sentinel;
    if (copy->nodesPerBlock) {
        state.nodeBlock = static_cast<Node *>(omb::poolAllocate(
            owned.pool, sizeof(Node) * static_cast<uint64_t>(copy->nodesPerBlock), 0));
        if (!state.nodeBlock) return giveBack();
        state.nodeBlockUsed = 0;
    }
    object->handle.parms = copy;
    fillOperations(&object->handle);
    return &object->handle;
}

// Nodes and node blocks are not returned one by one; a tree that made its
// pool gives everything back with it. In a caller's pool the parameter copy,
// the parts and the sentinel go back, the nodes stay until that pool dies.
OMBRIX_API void treeDestroy(Tree *tree) {
    if (!tree) return;
    treeReset(tree);
    omb::TreeObject *object = omb::treeObjectOf(tree);
    omb::ContainerPool owned = {object->state.pool, object->state.ownsPool != 0};
    Parms *copy = tree->parms;
    if (copy->keyPartCount > 0) omb::poolFree(owned.pool, copy->keyParts);
    omb::poolFree(owned.pool, object->state.sentinel);
    omb::poolFree(owned.pool, copy);
    omb::poolFree(owned.pool, object);
    omb::releaseContainerPool(owned);
}

OMBRIX_API QVStatus treeAddWithKeySize(Tree *tree, const void *key, int32_t keySize) {
    return addToTree(tree, key, keySize);
}

OMBRIX_API QVStatus treeAdd(Tree *tree, const void *key) { return addToTree(tree, key, 0); }

OMBRIX_API QVStatus treeRemoveWithKeySize(Tree *tree, const void *key, int32_t keySize) {
    return removeFromTree(tree, key, keySize);
}

OMBRIX_API QVStatus treeRemove(Tree *tree, const void *key) {
    return removeFromTree(tree, key, 0);
}

OMBRIX_API void *treeFindWithKeySize(Tree *tree, const void *key, int32_t keySize) {
    return findInTree(tree, key, keySize);
}

OMBRIX_API void *treeFind(Tree *tree, const void *key) { return findInTree(tree, key, 0); }

OMBRIX_API int32_t treeGetKeySize(Tree *tree) {
    return tree ? omb::treeStateOf(tree)->totalKeySize : 0;
}

OMBRIX_API uint32_t treeSize(Tree *tree) {
    if (!tree) return 0;
    omb::TreeState *state = omb::treeStateOf(tree);
    uint32_t count = 0;
    for (Node *node = treeMinimum(state->root, state->sentinel); node;
         node = treeSuccessor(node, state->sentinel))
        ++count;
    return count;
}

OMBRIX_API QVStatus treeReset(Tree *tree) {
    if (!tree) return OMBRIX_OK;
    omb::TreeState *state = omb::treeStateOf(tree);
    state->root = state->sentinel;
    omb::sentinelBlockOf(state)->finger = nullptr;
    return OMBRIX_OK;
}

OMBRIX_API Tree *treeClone(Tree *tree) {
    if (!tree) return nullptr;
    return treeNew(nullptr, *tree->parms);
}

OMBRIX_API uint8_t isTreeMergeable(Tree *tree, Tree *other) {
    if (!tree || !other) return 0;
    const Parms &a = *tree->parms, &b = *other->parms;
    if (a.keyMode != b.keyMode || a.keyPartCount != b.keyPartCount) return 0;
    if (omb::hasKeyParts(a) != omb::hasKeyParts(b)) return 0;
    if (!omb::hasKeyParts(a)) return 1;
    for (int32_t i = 0; i < a.keyPartCount; ++i)
        if (a.keyParts[i].partType != b.keyParts[i].partType ||
            a.keyParts[i].partSize != b.keyParts[i].partSize)
            return 0;
    return 1;
}

// Trees do not merge: the answer of isTreeMergeable is asked for and no
// node moves.
OMBRIX_API QVStatus treeMerge(Tree *tree, Tree *other) {
    if (tree && other) (void)isTreeMergeable(tree, other);
    return OMBRIX_OK;
}

OMBRIX_API QVStatus treeToBlob(Tree *, void *) { return OMBRIX_OK; }

OMBRIX_API uint64_t treeGetBlobSize(Tree *) { return 0; }

OMBRIX_API QVStatus treeMergeFromBlob(Tree *, const OmbrixBlob *) { return OMBRIX_OK; }

OMBRIX_API Tree *treeNewFromBlob(QVWord *, const OmbrixBlob *) { return nullptr; }

OMBRIX_API OmbrixIterator treeIterator(Tree *tree) {
    return makeIterator(tree, kIteratorPoolName, treeIterNext);
}

OMBRIX_API OmbrixIterator treeEntryIterator(Tree *tree) {
    return makeIterator(tree, kEntryIteratorPoolName, treeEntryIterNext);
}

OMBRIX_API QVStatus treePrint(Tree *tree) {
    if (!tree) return OMBRIX_OK;
    int32_t offset = 0;
    if (!printsKeys(*tree->parms, &offset)) return OMBRIX_OK;
    omb::TreeState *state = omb::treeStateOf(tree);
    if (state->root == state->sentinel) {
        std::puts("#");
        return OMBRIX_OK;
    }
    OmbrixLinkedListParms queueParms = {};
    queueParms.keySize = 8;
    queueParms.keyType = OMBRIX_BY_REFERENCE;
    queueParms.flags = OMBRIX_FLAG_NO_LOCK;
    OmbrixLinkedList *queue = linkedListNew(state->pool, queueParms);
    if (!queue) return OMBRIX_E_NO_MEMORY;
    QVStatus status = printLevels(queue, state->root, state->sentinel, offset);
    linkedListDestroy(queue);
    if (status == OMBRIX_OK) std::putchar('\n');
    return status;
}

}  // extern "C"
