// The ordered red-black tree: the engine routines over a caller-held root and
// sentinel, the container built on them, its iterators and its printing.
//
// Every tree, the container's and each of the hash map's bucket trees, keeps
// the red-black rules after every add and remove:
//
//   1. a node is red or black; the sentinel is black;
//   2. the root is black;
//   3. a red node has two black children (the sentinel counts as black);
//   4. every path from a node down to the sentinel passes the same number of
//      black nodes.
//
// Rules 3 and 4 keep the longest path from the root at most twice the
// shortest, so the height stays below 2 log2(n + 1).
//
// One sentinel stands for every missing child and for the root's parent. Its
// colour and children are never written except that the deletion fix-up may
// colour it black again; its parent is written by a transplant, so that the
// fix-up can climb from a removed leaf's place even when that place is the
// sentinel.
#include "tree/tree.h"

#include <concepts>
#include <cstdio>

#include "core/container.h"
#include "core/export.h"
#include "core/host_calls.h"
#include "lists/linked_list.h"
#include "ombrix/utf8.h"
#include "tree/key_order.h"

using Node = OmbrixTreeNode;
using Tree = OmbrixTree;
using Parms = OmbrixTreeParms;

namespace {

constexpr const char *kPoolName = "ombrixt";
constexpr const char *kIteratorPoolName = "ombrixt iter";
constexpr const char *kEntryIteratorPoolName = "ombrixt entry iter";

// ---------------------------------------------------------------------------
// Links and rotations

enum Side { kLeft, kRight };

Side opposite(Side side) { return side == kLeft ? kRight : kLeft; }

Node *&child(Node *node, Side side) { return side == kLeft ? node->left : node->right; }

// Puts `replacement` where `node` hangs: under node's parent, or as the root.
// replacement->parent is set even when replacement is the sentinel.
void transplant(Node **root, Node *sentinel, Node *node, Node *replacement) {
    Node *parent = node->parent;
    if (parent == sentinel)
        *root = replacement;
    else if (node == parent->left)
        parent->left = replacement;
    else
        parent->right = replacement;
    replacement->parent = parent;
}

/*
 * Rotates x down to its `down` side; its child on the other side, y, comes
 * up in its place (down = kLeft is a left rotation):
 *
 *       x                y
 *      / \              / \
 *     a   y     -->    x   c
 *        / \          / \
 *       b   c        a   b
 *
 * y is never the sentinel, and b's parent is written only when b is a node,
 * so a rotation never writes the sentinel's links.
 */
void rotate(Node **root, Node *sentinel, Node *x, Side down) {
    Side up = opposite(down);
    Node *y = child(x, up);
    Node *inner = child(y, down);
    child(x, up) = inner;
    if (inner != sentinel) inner->parent = x;
    transplant(root, sentinel, x, y);
    child(y, down) = x;
    x->parent = y;
}

Node *leftmost(Node *node, Node *sentinel) {
    while (node->left != sentinel) node = node->left;
    return node;
}

// The next node in key order, or null after the last: the leftmost node of
// the right subtree, else the nearest ancestor reached from its left side.
Node *nextInOrder(Node *node, Node *sentinel) {
    if (node->right != sentinel) return leftmost(node->right, sentinel);
    Node *parent = node->parent;
    while (parent != sentinel && node == parent->right) {
        node = parent;
        parent = parent->parent;
    }
    return parent == sentinel ? nullptr : parent;
}

// ---------------------------------------------------------------------------
// Insertion

// A new node n comes in red, so only rule 3 can break, between n and a red
// parent p. Capital letters are black nodes, lower case red ones; g is the
// grandparent and u the uncle, shown with p as g's left child (the other
// side is the mirror image).
void insertFixup(Node **root, Node *sentinel, Node *node) {
    while (node->parent->red) {
        // p is red, so it is not the root and g is a real node.
        Node *parent = node->parent;
        Node *grand = parent->parent;
        Side side = parent == grand->left ? kLeft : kRight;
        Node *uncle = child(grand, opposite(side));

        if (uncle->red) {
            /*
             * Case 1: the uncle is red. Recolour; black heights stay.
             *
             *       G            g
             *      / \          / \
             *     p   u  -->   P   U
             *    /            /
             *   n            n
             *
             * g may now be a red child of a red parent: go on from g.
             */
            parent->red = 0;
            uncle->red = 0;
            grand->red = 1;
            node = grand;
            continue;
        }

        if (node == child(parent, opposite(side))) {
            /*
             * Case 2: the uncle is black and n is an inner child. Rotate n
             * outward at p; p becomes the outer child and case 3 applies to it.
             *
             *      G             G
             *     / \           / \
             *    p   U  -->    n   U
             *     \           /
             *      n         p
             */
            node = parent;
            rotate(root, sentinel, node, side);
            parent = node->parent;
        }

        /*
         * Case 3: the uncle is black and n is an outer child. Rotate at g;
         * p takes g's place and colour, and the loop ends.
         *
         *        G           P
         *       / \         / \
         *      p   U  -->  n   g
         *     /                 \
         *    n                   U
         */
        parent->red = 0;
        grand->red = 1;
        rotate(root, sentinel, grand, opposite(side));
    }
    (*root)->red = 0;
}

// Where a key belongs: the equal node, or the parent a new node hangs under
// and on which side.
struct Place {
    Node *found;
    Node *parent;
    int32_t last;  // the comparison with parent; its sign gives the side
};

// Probes of integer and pointer keys answer "equal?" and "left?" with one
// compare each; the walk then never forms a three-way result, which keeps
// each level's dependent chain short.
template <typename Probe>
concept TwoWayProbe = requires(const Probe &probe, const Node *node) {
    { probe.equals(node) } -> std::same_as<bool>;
    { probe.goesLeft(node) } -> std::same_as<bool>;
};

template <typename Probe>
bool probeEquals(const Probe &probe, const Node *node) {
    if constexpr (TwoWayProbe<Probe>)
        return probe.equals(node);
    else
        return probe.compare(node) == 0;
}

template <typename Probe>
Place placeOf(Node *root, Node *sentinel, const Probe &probe) {
    Place place = {nullptr, sentinel, 0};
    if constexpr (TwoWayProbe<Probe>) {
        for (Node *node = root; node != sentinel;) {
            if (probe.equals(node)) {
                place.found = node;
                return place;
            }
            place.parent = node;
            bool left = probe.goesLeft(node);
            place.last = left ? -1 : 1;
            node = left ? node->left : node->right;
        }
        return place;
    }
    for (Node *node = root; node != sentinel;) {
        int32_t c = probe.compare(node);
        if (c == 0) {
            place.found = node;
            return place;
        }
        place.parent = node;
        place.last = c;
        node = c < 0 ? node->left : node->right;
    }
    return place;
}

template <typename Probe>
Node *findNode(Node *node, Node *sentinel, const Probe &probe) {
    if constexpr (TwoWayProbe<Probe>) {
        while (node != sentinel) {
            if (probe.equals(node)) return node;
            node = probe.goesLeft(node) ? node->left : node->right;
        }
        return nullptr;
    }
    while (node != sentinel) {
        int32_t c = probe.compare(node);
        if (c == 0) return node;
        node = c < 0 ? node->left : node->right;
    }
    return nullptr;
}

// A node from the current block, from a new block, or on its own. With
// blocks, a full block is forgotten (its nodes stay in use, the pool owns
// its memory) and a new one starts.
Node *takeNode(QVWord *pool, const Parms &parms, Node **block, int32_t *used) {
    int32_t perBlock = parms.nodesPerBlock;
    if (perBlock <= 0 || !block || !used)
        return static_cast<Node *>(omb::poolAllocate(pool, sizeof(Node), 0));
    if (*block && *used >= 0 && *used < perBlock) return &(*block)[(*used)++];
    auto *fresh = static_cast<Node *>(
        omb::poolAllocate(pool, sizeof(Node) * static_cast<uint64_t>(perBlock), 0));
    if (!fresh) return nullptr;
    *block = fresh;
    *used = 1;
    return fresh;
}

// The add shared by treeAddCommon and treeFindOrAdd. The node is taken
// before anything is linked, so a refused allocation leaves the tree as it
// was.
template <typename Order>
QVStatus insertKey(const Order &order, QVWord *pool, Node **root, Node *sentinel,
                   const Parms &parms, const void *key, int32_t keySize, Node **block,
                   int32_t *used, void **foundKey) {
    Place place = placeOf(*root, sentinel, omb::probeFor(order, key, keySize));
    if (place.found) {
        if (foundKey) *foundKey = place.found->key;
        return OMBRIX_OK;
    }
    Node *node = takeNode(pool, parms, block, used);
    if (!node) return OMBRIX_E_NO_MEMORY;
    node->key = const_cast<void *>(key);
    if (omb::isVariableLengthMode(parms.keyMode)) node->keySize = keySize;
    omb::prepareNode(order, node);
    node->left = sentinel;
    node->right = sentinel;
    node->parent = place.parent;
    if (place.parent == sentinel)
        *root = node;
    else if (place.last < 0)
        place.parent->left = node;
    else
        place.parent->right = node;
    node->red = 1;
    insertFixup(root, sentinel, node);
    return OMBRIX_OK;
}

// ---------------------------------------------------------------------------
// Removal

// Taking a black node out leaves the paths through x one black short; x is
// "doubly black". Shown with x as the left child of its parent p and w its
// sibling (the other side is the mirror image); (p) is either colour.
void deleteFixup(Node **root, Node *sentinel, Node *x) {
    while (x != *root && !x->red) {
        Node *parent = x->parent;
        Side side = x == parent->left ? kLeft : kRight;
        Node *sibling = child(parent, opposite(side));

        if (sibling->red) {
            /*
             * Case 1: the sibling is red. Rotate at p toward x, so that x
             * gets a black sibling (w's old child) and one of cases 2-4
             * follows.
             *
             *     P               W
             *    / \             / \
             *   X   w    -->    p   D
             *      / \         / \
             *     C   D       X   C
             */
            sibling->red = 0;
            parent->red = 1;
            rotate(root, sentinel, parent, side);
            sibling = child(parent, opposite(side));
        }

        Node *near = child(sibling, side);
        Node *far = child(sibling, opposite(side));
        if (!near->red && !far->red) {
            /*
             * Case 2: the sibling and both its children are black. Colour w
             * red: both sides of p are now one short, so p carries the extra
             * black; a red p simply turns black when the loop ends.
             *
             *    (p)           (p)
             *    / \           / \
             *   X   W   -->   X   w
             *      / \           / \
             *     C   D         C   D
             */
            sibling->red = 1;
            x = parent;
            continue;
        }

        if (!far->red) {
            /*
             * Case 3: the far child is black, the near one red. Rotate at w
             * away from x; the near child becomes the black sibling with a
             * red far child, which is case 4.
             *
             *    (p)           (p)
             *    / \           / \
             *   X   W   -->   X   C
             *      / \             \
             *     c   D             w
             *                        \
             *                         D
             */
            near->red = 0;
            sibling->red = 1;
            rotate(root, sentinel, sibling, opposite(side));
            sibling = child(parent, opposite(side));
            far = child(sibling, opposite(side));
        }

        /*
         * Case 4: the far child is red. Rotate at p toward x; w takes p's
         * place and colour, p and the far child turn black, and x's side
         * gains the missing black. Done.
         *
         *    (p)             (w)
         *    / \             / \
         *   X   W     -->   P   D
         *      / \         / \
         *    (c)  d       X  (c)
         */
        sibling->red = parent->red;
        parent->red = 0;
        far->red = 0;
        rotate(root, sentinel, parent, side);
        x = *root;
    }
    x->red = 0;
}

// Unlinks z. The node that actually leaves its place is z itself when it has
// at most one child, else its successor y, which moves into z's place and
// takes z's colour; x is the node that takes the leaving node's place
// (possibly the sentinel, whose parent is then set to keep the fix-up's
// climb working).
void unlinkNode(Node **root, Node *sentinel, Node *z) {
    Node *x;
    bool leftBlack;
    if (z->left == sentinel) {
        x = z->right;
        leftBlack = !z->red;
        transplant(root, sentinel, z, x);
    } else if (z->right == sentinel) {
        x = z->left;
        leftBlack = !z->red;
        transplant(root, sentinel, z, x);
    } else {
        Node *y = leftmost(z->right, sentinel);
        leftBlack = !y->red;
        x = y->right;
        if (y->parent == z) {
            x->parent = y;
        } else {
            transplant(root, sentinel, y, x);
            y->right = z->right;
            y->right->parent = y;
        }
        transplant(root, sentinel, z, y);
        y->left = z->left;
        y->left->parent = y;
        y->red = z->red;
    }
    if (leftBlack) deleteFixup(root, sentinel, x);
}

// ---------------------------------------------------------------------------
// The engine behind the exported routines, which check their arguments and
// call these; the container's operations call them directly. Each picks the
// key order once per call.
QVStatus addKey(QVWord *pool, Node **root, Node *sentinel, const Parms &parms, const void *key,
                int32_t keySize, Node **block, int32_t *used, void **foundKey) {
    return omb::withKeyOrder(parms, [&](const auto &order) {
        return insertKey(order, pool, root, sentinel, parms, key, keySize, block, used, foundKey);
    });
}

void *findKey(Node *root, Node *sentinel, const Parms &parms, const void *key, int32_t keySize) {
    Node *node = omb::withKeyOrder(parms, [&](const auto &order) {
        return findNode(root, sentinel, omb::probeFor(order, key, keySize));
    });
    return node ? node->key : nullptr;
}

// Unlinks a node of the tree and gives back its memory. A node taken from a
// block is never reused: the block stays whole.
void dropNode(QVWord *pool, Node **root, Node *sentinel, const Parms &parms, Node *node) {
    unlinkNode(root, sentinel, node);
    if (parms.nodesPerBlock <= 0) omb::poolFree(pool, node);
}

void removeKey(QVWord *pool, Node **root, Node *sentinel, const Parms &parms, const void *key,
               int32_t keySize) {
    Node *node = omb::withKeyOrder(parms, [&](const auto &order) {
        return findNode(*root, sentinel, omb::probeFor(order, key, keySize));
    });
    if (node) dropNode(pool, root, sentinel, parms, node);
}

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
    return addKey(state->pool, &state->root, state->sentinel, *tree->parms, key,
                  resolveKeySize(tree, key, keySize), &state->nodeBlock, &state->nodeBlockUsed,
                  nullptr);
}

// The removal tries the finger (see SentinelBlock) before the walk, with
// the same probe: keys in a tree that keeps a finger are unique under its
// order, so a finger that equals the key is the node the walk would find.
// The successor is taken before the unlink, while the removed node's links
// still place it; the unlink relinks nodes but never replaces one (the
// successor of a node with two children moves into its place whole), so
// the successor is still linked afterwards.
QVStatus removeFromTree(Tree *tree, const void *key, int32_t keySize) {
    if (!tree || !key) return OMBRIX_OK;
    omb::TreeState *state = omb::treeStateOf(tree);
    omb::SentinelBlock *block = omb::sentinelBlockOf(state);
    const Parms &parms = *tree->parms;
    keySize = resolveKeySize(tree, key, keySize);
    Node *node = omb::withKeyOrder(parms, [&](const auto &order) {
        auto probe = omb::probeFor(order, key, keySize);
        if (block->finger && probeEquals(probe, block->finger)) return block->finger;
        return findNode(state->root, state->sentinel, probe);
    });
    if (!node) return OMBRIX_OK;
    Node *next = block->keepsFinger ? nextInOrder(node, state->sentinel) : nullptr;
    dropNode(state->pool, &state->root, state->sentinel, parms, node);
    block->finger = next;
    return OMBRIX_OK;
}

void *findInTree(Tree *tree, const void *key, int32_t keySize) {
    if (!tree || !key) return nullptr;
    omb::TreeState *state = omb::treeStateOf(tree);
    return findKey(state->root, state->sentinel, *tree->parms, key,
                   resolveKeySize(tree, key, keySize));
}

// Iterator state, in its documented order: the node the next call hands out
// (null when the walk has ended or the tree was empty), the tree, the
// iterator's own pool.
struct IteratorState {
    Node *current;
    Tree *tree;
    QVWord *iterPool;
};
static_assert(offsetof(IteratorState, tree) == 8 && offsetof(IteratorState, iterPool) == 16);

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
    tree->stat = nullptr;  // node statistics are not built in yet
    tree->print = treePrint;
}

// A failed constructor gives back what it took: its own pool whole, or each
// block to the caller's pool.
Tree *abandon(const omb::ContainerPool &owned, omb::TreeObject *object, Parms *copy) {
    if (owned.ownsPool) {
        omb::releaseContainerPool(owned);
        return nullptr;
    }
    if (object) omb::poolFree(owned.pool, object->state.sentinel);
    if (copy) omb::poolFree(owned.pool, copy->keyParts);
    omb::poolFree(owned.pool, copy);
    omb::poolFree(owned.pool, object);
    return nullptr;
}

// A double part makes a NaN equal to every key, so several nodes can equal
// one key and the walk's answer (the first equal node on its path) need not
// be the finger: such a tree keeps no finger. Variable-length keys read only
// their bytes.
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
// Engine routines

OMBRIX_API QVStatus treeFindOrAdd(QVWord *pool, Node **root, Node *sentinel, const Parms *parms,
                                  const void *key, int32_t keySize, Node **nodeBlock,
                                  int32_t *nodeBlockUsed, void **foundKey) {
    if (!pool || !root || !sentinel || !parms || !key) return OMBRIX_OK;
    return addKey(pool, root, sentinel, *parms, key, keySize, nodeBlock, nodeBlockUsed, foundKey);
}

OMBRIX_API QVStatus treeAddCommon(QVWord *pool, Node **root, Node *sentinel, const Parms *parms,
                                  const void *key, int32_t keySize, Node **nodeBlock,
                                  int32_t *nodeBlockUsed) {
    if (!pool || !root || !sentinel || !parms || !key) return OMBRIX_OK;
    return addKey(pool, root, sentinel, *parms, key, keySize, nodeBlock, nodeBlockUsed, nullptr);
}

OMBRIX_API void *treeFindCommon(Node *root, Node *sentinel, const Parms *parms, const void *key,
                                int32_t keySize) {
    if (!root || !sentinel || !parms || !key) return nullptr;
    return findKey(root, sentinel, *parms, key, keySize);
}

OMBRIX_API QVStatus treeRemoveCommon(QVWord *pool, Node **root, Node *sentinel,
                                     const Parms *parms, const void *key, int32_t keySize) {
    if (!pool || !root || !sentinel || !parms || !key) return OMBRIX_OK;
    removeKey(pool, root, sentinel, *parms, key, keySize);
    return OMBRIX_OK;
}

// ---------------------------------------------------------------------------
// Navigation

OMBRIX_API Node *treeMinimum(Node *node, Node *sentinel) {
    if (!node || node == sentinel) return nullptr;
    return leftmost(node, sentinel);
}

OMBRIX_API Node *treeSuccessor(Node *node, Node *sentinel) {
    if (!node || node == sentinel) return nullptr;
    return nextInOrder(node, sentinel);
}

// ---------------------------------------------------------------------------
// The container

OMBRIX_API Tree *treeNew(QVWord *pool, Parms parms) {
    if (!omb::keyPartsUsable(parms.keyParts, parms.keyPartCount)) return nullptr;
    omb::ContainerPool owned =
        omb::acquireContainerPool(pool, parms.flags & OMBRIX_FLAG_NO_LOCK, kPoolName);
    if (!owned.pool) return nullptr;
    auto *object =
        static_cast<omb::TreeObject *>(omb::poolAllocateZeroed(owned.pool, sizeof(omb::TreeObject)));
    if (!object) return abandon(owned, nullptr, nullptr);
    auto *copy = static_cast<Parms *>(omb::poolAllocateZeroed(owned.pool, sizeof(Parms)));
    if (!copy) return abandon(owned, object, nullptr);
    *copy = parms;
    if (copy->nodesPerBlock < 1) copy->nodesPerBlock = 0;
    // A tree reads its parts in place from the item, so a flat composite key
    // becomes a key reached from the item.
    if (copy->keyMode == OMBRIX_KEY_COMPOSITE) copy->keyMode = OMBRIX_KEY_REFERENCE;
    bool failed = false;
    copy->keyParts = omb::copyKeyParts(owned.pool, parms.keyParts, parms.keyPartCount, &failed);
    if (failed) return abandon(owned, object, copy);

    omb::TreeState &state = object->state;
    state.totalKeySize = sumOfPartSizes(*copy);
    state.pool = owned.pool;
    state.ownsPool = owned.ownsPool;
    auto *sentinel = static_cast<omb::SentinelBlock *>(
        omb::poolAllocateZeroed(owned.pool, sizeof(omb::SentinelBlock)));
    if (!sentinel) return abandon(owned, object, copy);
    sentinel->keepsFinger = ordersTotally(*copy);
    state.sentinel = &sentinel->node;
    state.root = state.sentinel;
    if (copy->nodesPerBlock) {
        state.nodeBlock = static_cast<Node *>(omb::poolAllocate(
            owned.pool, sizeof(Node) * static_cast<uint64_t>(copy->nodesPerBlock), 0));
        if (!state.nodeBlock) return abandon(owned, object, copy);
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
