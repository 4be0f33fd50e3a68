// The tree inside the library. The handle, the parameter record and the node
// are the public ones (ombrix/tree.h); the private state lies just before the
// handle in the same block, so a handle reaches it by a fixed offset.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ombrix/tree.h"

namespace omb {

struct TreeState {
    OmbrixTreeNode *root;      // the sentinel when the tree is empty
    OmbrixTreeNode *sentinel;  // the node of the container's SentinelBlock
    int32_t totalKeySize;      // sum of partSize over the parts
    QVWord *pool;
    uint8_t ownsPool;
    int32_t nodeBlockUsed;     // nodes handed out from nodeBlock
    OmbrixTreeNode *nodeBlock; // the current block; earlier ones stay in use
};

// The container's sentinel and its finger, in the one zero-filled block
// treeNew allocates for the sentinel. The private state's layout is fixed,
// and the engine routines take a bare sentinel node (the hash map holds
// its own), so the finger lives behind the container's sentinel: the
// container reaches it through state.sentinel, and the exported removal
// clears it through the sentinel's mark (markFingerBehind).
struct SentinelBlock {
    OmbrixTreeNode node;      // first: state.sentinel points here
    OmbrixTreeNode *finger;   // kept by the container's removal (tree.cpp)
    uint8_t keepsFinger;      // set by treeNew when keys order totally
};

inline SentinelBlock *sentinelBlockOf(TreeState *state) {
    return reinterpret_cast<SentinelBlock *>(state->sentinel);
}

// The block treeNew allocates: the private state, then what callers hold.
struct TreeObject {
    TreeState state;
    OmbrixTree handle;
};

inline TreeObject *treeObjectOf(OmbrixTree *tree) {
    return reinterpret_cast<TreeObject *>(reinterpret_cast<unsigned char *>(tree) -
                                          offsetof(TreeObject, handle));
}

inline TreeState *treeStateOf(OmbrixTree *tree) { return &treeObjectOf(tree)->state; }

}  // namespace omb

// The records hosts and the hash map read by offset.
static_assert(sizeof(OmbrixTreeParms) == 32);
static_assert(offsetof(OmbrixTreeParms, keyPartCount) == 4);
static_assert(offsetof(OmbrixTreeParms, keyParts) == 8);
static_assert(offsetof(OmbrixTreeParms, reverseOrder) == 16);
static_assert(offsetof(OmbrixTreeParms, nodesPerBlock) == sizeof(OmbrixKeyDefinition));
static_assert(offsetof(OmbrixTreeParms, flags) == 28);
static_assert(sizeof(OmbrixTreeNode) == 48);
static_assert(offsetof(OmbrixTreeNode, key) == 8);
static_assert(offsetof(OmbrixTreeNode, red) == 16);
static_assert(offsetof(OmbrixTreeNode, keyCopy) == 20);
static_assert(offsetof(OmbrixTreeNode, left) == 24);
static_assert(offsetof(OmbrixTreeNode, right) == 32);
static_assert(offsetof(OmbrixTreeNode, parent) == 40);
static_assert(offsetof(omb::TreeState, sentinel) == 8);
static_assert(offsetof(omb::TreeState, totalKeySize) == 16);
static_assert(offsetof(omb::TreeState, pool) == 24);
static_assert(offsetof(omb::TreeState, ownsPool) == 32);
static_assert(offsetof(omb::TreeState, nodeBlockUsed) == 36);
static_assert(offsetof(omb::TreeState, nodeBlock) == 40);
static_assert(offsetof(omb::TreeObject, handle) == 48);
static_assert(offsetof(omb::SentinelBlock, node) == 0 &&
              offsetof(omb::SentinelBlock, finger) == sizeof(OmbrixTreeNode));  // markFingerBehind
static_assert(sizeof(OmbrixTree) == 8 + 18 * 8);
static_assert(offsetof(OmbrixTree, destroy) == 8);
static_assert(offsetof(OmbrixTree, size) == 8 + 7 * 8);
static_assert(offsetof(OmbrixTree, reset) == 8 + 12 * 8);
static_assert(offsetof(OmbrixTree, clone) == 8 + 15 * 8);
static_assert(offsetof(OmbrixTree, print) == 8 + 17 * 8);
static_assert(offsetof(omb::TreeState, root) == 0 && sizeof(omb::TreeState) == 48);
static_assert(offsetof(OmbrixTree, add) == 8 + 1 * 8 &&
              offsetof(OmbrixTree, remove) == 8 + 2 * 8);
static_assert(offsetof(OmbrixTree, find) == 8 + 3 * 8 &&
              offsetof(OmbrixTree, addWithKeySize) == 8 + 4 * 8);
static_assert(offsetof(OmbrixTree, removeWithKeySize) == 8 + 5 * 8 &&
              offsetof(OmbrixTree, findWithKeySize) == 8 + 6 * 8);
static_assert(offsetof(OmbrixTree, toBlob) == 8 + 8 * 8 &&
              offsetof(OmbrixTree, getBlobSize) == 8 + 9 * 8);
static_assert(offsetof(OmbrixTree, merge) == 8 + 10 * 8 &&
              offsetof(OmbrixTree, mergeFromBlob) == 8 + 11 * 8);
static_assert(offsetof(OmbrixTree, iterator) == 8 + 13 * 8 &&
              offsetof(OmbrixTree, entryIterator) == 8 + 14 * 8);
static_assert(offsetof(OmbrixTree, stat) == 8 + 16 * 8);
