// The engine's entry points for the container (tree.cpp); the exported
// engine routines (ombrix/tree.h) check their arguments and call the same.
// Each picks the key order once per call. The container's removal works
// with the inline walk and unlink of tree_balance.h directly.
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

}  // namespace omb
