// The engine under every tree: the red-black balancing and the walks over a
// root and sentinel that the caller holds, behind the exported engine
// routines (which the chained hash map drives over its bucket trees) and the
// container of tree.cpp.
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
#include "tree/tree_engine.h"

#include "core/export.h"
#include "core/host_calls.h"
#include "tree/key_order.h"

using Node = OmbrixTreeNode;
using Parms = OmbrixTreeParms;

namespace {

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

// ---------------------------------------------------------------------------
// Walks

// Where a key belongs: the equal node, or the parent a new node hangs under
// and on which side.
struct Place {
    Node *found;
    Node *parent;
    bool goesLeft;  // the side of parent it hangs on
};

template <typename Probe>
Place placeOf(Node *root, Node *sentinel, const Probe &probe) {
    Place place = {nullptr, sentinel, false};
    for (Node *node = root; node != sentinel;) {
        std::strong_ordering c = probe.compare(node);
        if (c == 0) {
            place.found = node;
            return place;
        }
        place.parent = node;
        place.goesLeft = c < 0;
        node = c < 0 ? node->left : node->right;
    }
    return place;
}

template <typename Probe>
Node *findNode(Node *node, Node *sentinel, const Probe &probe) {
    while (node != sentinel) {
        std::strong_ordering c = probe.compare(node);
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
    else if (place.goesLeft)
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
    bool leavingWasBlack;
    if (z->left == sentinel) {
        x = z->right;
        leavingWasBlack = !z->red;
        transplant(root, sentinel, z, x);
    } else if (z->right == sentinel) {
        x = z->left;
        leavingWasBlack = !z->red;
        transplant(root, sentinel, z, x);
    } else {
        Node *y = leftmost(z->right, sentinel);
        leavingWasBlack = !y->red;
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
    if (leavingWasBlack) deleteFixup(root, sentinel, x);
}

}  // namespace

namespace omb {

QVStatus addKey(QVWord *pool, Node **root, Node *sentinel, const Parms &parms, const void *key,
                int32_t keySize, Node **block, int32_t *used, void **foundKey) {
    return withKeyOrder(parms, [&](const auto &order) {
        return insertKey(order, pool, root, sentinel, parms, key, keySize, block, used, foundKey);
    });
}

Node *equalNode(Node *root, Node *sentinel, const Parms &parms, const void *key,
                int32_t keySize) {
    return withKeyOrder(parms, [&](const auto &order) {
        return findNode(root, sentinel, probeFor(order, key, keySize));
    });
}

// The successor is taken before the unlink, while the removed node's links
// still place it. A node taken from a block is never freed: the block stays
// whole.
bool removeKey(QVWord *pool, Node **root, Node *sentinel, const Parms &parms, const void *key,
               int32_t keySize, Node *first, Node **next) {
    Node *node = withKeyOrder(parms, [&](const auto &order) {
        auto probe = probeFor(order, key, keySize);
        if (first && probe.compare(first) == 0) return first;
        return findNode(*root, sentinel, probe);
    });
    if (!node) return false;
    if (next) *next = nextInOrder(node, sentinel);
    unlinkNode(root, sentinel, node);
    if (parms.nodesPerBlock <= 0) poolFree(pool, node);
    return true;
}

}  // namespace omb

extern "C" {

OMBRIX_API QVStatus treeFindOrAdd(QVWord *pool, Node **root, Node *sentinel, const Parms *parms,
                                  const void *key, int32_t keySize, Node **nodeBlock,
                                  int32_t *nodeBlockUsed, void **foundKey) {
    if (!pool || !root || !sentinel || !parms || !key) return OMBRIX_OK;
    return omb::addKey(pool, root, sentinel, *parms, key, keySize, nodeBlock, nodeBlockUsed,
                       foundKey);
}

OMBRIX_API QVStatus treeAddCommon(QVWord *pool, Node **root, Node *sentinel, const Parms *parms,
                                  const void *key, int32_t keySize, Node **nodeBlock,
                                  int32_t *nodeBlockUsed) {
    if (!pool || !root || !sentinel || !parms || !key) return OMBRIX_OK;
    return omb::addKey(pool, root, sentinel, *parms, key, keySize, nodeBlock, nodeBlockUsed,
                       nullptr);
}

OMBRIX_API void *treeFindCommon(Node *root, Node *sentinel, const Parms *parms, const void *key,
                                int32_t keySize) {
    if (!root || !sentinel || !parms || !key) return nullptr;
    Node *node = omb::equalNode(root, sentinel, *parms, key, keySize);
    return node ? node->key : nullptr;
}

OMBRIX_API QVStatus treeRemoveCommon(QVWord *pool, Node **root, Node *sentinel,
                                     const Parms *parms, const void *key, int32_t keySize) {
    if (!pool || !root || !sentinel || !parms || !key) return OMBRIX_OK;
    omb::removeKey(pool, root, sentinel, *parms, key, keySize);
    omb::forgetMarkedFinger(sentinel);
    return OMBRIX_OK;
}

OMBRIX_API Node *treeMinimum(Node *node, Node *sentinel) {
    if (!node || node == sentinel) return nullptr;
    return leftmost(node, sentinel);
}

OMBRIX_API Node *treeSuccessor(Node *node, Node *sentinel) {
    if (!node || node == sentinel) return nullptr;
    return nextInOrder(node, sentinel);
}

}  // extern "C"
