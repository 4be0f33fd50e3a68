// The engine's entry points for the container (tree.cpp); the exported
// engine routines (ombrix/tree.h) check their arguments and call the same.
// Each picks the key order once per call.
#pragma once

#include <cstdint>

#include "ombrix/tree.h"

namespace omb {

// Adds `key` unless an equal key is there; then *foundKey (when given)
// receives the stored pointer. 0, or OMBRIX_E_NO_MEMORY with the tree as it
// was. The node block slots may be null.
QVStatus addKey(QVWord *pool, OmbrixTreeNode **root, OmbrixTreeNode *sentinel,
                const OmbrixTreeParms &parms, const void *key, int32_t keySize,
                OmbrixTreeNode **block, int32_t *used, void **foundKey);

// The node whose key equals `key`: the first equal node on the walk from the
// root, or null.
OmbrixTreeNode *equalNode(OmbrixTreeNode *root, OmbrixTreeNode *sentinel,
                          const OmbrixTreeParms &parms, const void *key, int32_t keySize);

// Unlinks the node whose key equals `key` and frees it unless it came from a
// block; false, with the tree untouched, when no node equals it. `first`
// (may be null) is tried before the walk from the root. `next`, when given,
// receives the removed node's in-order successor (null after the last); it
// is written only when a node was removed. One call does the find, the
// successor and the unlink, so that the container's removal, the hottest
// use, crosses into this file once.
bool removeKey(QVWord *pool, OmbrixTreeNode **root, OmbrixTreeNode *sentinel,
               const OmbrixTreeParms &parms, const void *key, int32_t keySize,
               OmbrixTreeNode *first = nullptr, OmbrixTreeNode **next = nullptr);

// A tree container keeps a finger, a node its next removal tries first, in
// the word after its sentinel node, and marks it by pointing the sentinel's
// key, which no walk reads, at that word. The exported removal may be
// handed a container's own root and remove that very node, so it clears a
// marked finger. Other sentinels (the hash map's, a host's) hold anything
// else in their key; it is compared, never followed.
inline void markFingerBehind(OmbrixTreeNode *sentinel) { sentinel->key = sentinel + 1; }
inline void forgetMarkedFinger(OmbrixTreeNode *sentinel) {
    uintptr_t after = reinterpret_cast<uintptr_t>(sentinel) + sizeof *sentinel;
    if (reinterpret_cast<uintptr_t>(sentinel->key) == after)
        *reinterpret_cast<OmbrixTreeNode **>(after) = nullptr;
}

}  // namespace omb
