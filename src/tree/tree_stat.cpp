// treeStat: the tree's node count on standard output, counted by a walk
// that records every node's depth in a temporary hash map.
#include <cstdint>
#include <cstdio>

#include "core/export.h"
#include "hashmap/hash_map_stat.h"
#include "ombrix/hash_map.h"
#include "ombrix/tree.h"
#include "tree/tree.h"

namespace {

using Map = OmbrixHashMap;
using Node = OmbrixTreeNode;

QVStatus recordDepth(Map *depths, int32_t depth) { return depths->add(depths, &depth, nullptr); }

// The nodes of the tree below the root, each recorded at its depth.
uint32_t countChildren(OmbrixTree *tree, Map *depths, const Node *node, int32_t depth,
                       QVStatus *status) {
    Node *sentinel = omb::treeStateOf(tree)->sentinel;
    uint32_t count = 0;
    if (node->left != sentinel) count += treeHeight(tree, depths, node->left, depth + 1, status);
    if (node->right != sentinel) count += treeHeight(tree, depths, node->right, depth + 1, status);
    return count;
}

QVStatus countNodes(OmbrixTree *tree, Map *depths, int64_t *count) {
    Node *root = omb::treeStateOf(tree)->root;
    *count = 0;
    if (root == omb::treeStateOf(tree)->sentinel) return OMBRIX_OK;
    QVStatus status = recordDepth(depths, 1);
    if (status != OMBRIX_OK) return status;
    *count = 1 + countChildren(tree, depths, root, 1, &status);
    return status;
}

// The depths in ascending order, walked to the end; false when the iterator
// could not be made.
bool walkDepths(Map *depths) {
    OmbrixIterator it = hashMapIterator(depths);
    if (!it.next) return false;
    while (it.hasNext) it.next(&it);
    it.release(&it);
    return true;
}

}  // namespace

extern "C" {

// Counts the nodes of the subtree at `node` (depth `depth`), recording each
// node's depth in `depths`. A refused record stores its status and leaves
// that node's children uncounted.
OMBRIX_API uint32_t treeHeight(OmbrixTree *tree, Map *depths, Node *node, int32_t depth,
                               QVStatus *status) {
    if (!tree || !depths || !node || !status) return 0;
    if (node == omb::treeStateOf(tree)->sentinel) return 0;
    QVStatus recorded = recordDepth(depths, depth);
    if (recorded != OMBRIX_OK) {
        *status = recorded;
        return 1;
    }
    return 1 + countChildren(tree, depths, node, depth, status);
}

// The depth map lives in the tree's pool and goes on every path, so a
// failure leaves nothing behind there.
OMBRIX_API QVStatus treeStat(OmbrixTree *tree) {
    if (!tree) return OMBRIX_OK;
    Map *depths = hashMapNew(omb::treeStateOf(tree)->pool, omb::countingMapParms(OMBRIX_VALUE_COPY));
    if (!depths) return OMBRIX_E_NO_MEMORY;
    int64_t count = 0;
    QVStatus status = countNodes(tree, depths, &count);
    if (status == OMBRIX_OK && !walkDepths(depths)) status = OMBRIX_E_NO_MEMORY;
    if (status == OMBRIX_OK) std::printf("\ntotal elements: %ld\n", static_cast<long>(count));
    depths->destroy(depths);
    return status;
}

}  // extern "C"
