// The tree engine: where a key goes, the node supply, and the entry points
// for the container and the exported engine routines (which the chained
// hash map drives over its bucket trees), over the balancing and the walks
// of tree_balance.h.
#include "tree/tree_engine.h"

#include "core/export.h"
#include "core/host_calls.h"
#include "tree/key_order.h"
#include "tree/tree_balance.h"

using Node = OmbrixTreeNode;
using Parms = OmbrixTreeParms;
using namespace omb::rb;

namespace {

// ---------------------------------------------------------------------------
// Placement

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
    if (Node *node = omb::equalNode(*root, sentinel, *parms, key, keySize))
        dropNode(pool, root, sentinel, *parms, node);
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
