// The object the array list and the linked list are built on: made in the
// list's pool with the list's own copy of the key parts, and given back,
// with the lock and the list's other blocks, before the pool the list made.
#pragma once

#include <cstddef>
#include <initializer_list>

#include "core/container.h"

namespace omb {

// The zero-filled object in `owned.pool` holding `parms`, its key parts
// copied into the pool, and the pool it came from. Null when refused; the
// caller then abandons `owned`, which holds nothing of the list's.
template <typename List, typename Parms>
List *newListObject(const ContainerPool &owned, const Parms &parms) {
    auto *list = static_cast<List *>(poolAllocateZeroed(owned.pool, sizeof(List)));
    if (!list) return nullptr;
    list->parms = parms;
    bool failed = false;
    list->parms.keyParts = copyKeyParts(owned.pool, parms.keyParts, parms.keyPartCount, &failed);
    if (failed) {
        poolFree(owned.pool, list);
        return nullptr;
    }
    list->pool = owned.pool;
    list->ownsPool = owned.ownsPool;
    return list;
}

// Gives back the lock, `blocks`, the key parts and the object, then the
// pool when the list made it. Serves a refused creation (any of them may
// still be null) as well as a destroy.
template <typename List>
std::nullptr_t releaseListObject(List *list, std::initializer_list<void *> blocks) {
    ContainerPool owned = {list->pool, list->ownsPool != 0};
    lockDestroy(list->lock);
    for (void *block : blocks) poolFree(owned.pool, block);
    poolFree(owned.pool, list->parms.keyParts);
    poolFree(owned.pool, list);
    releaseContainerPool(owned);
    return nullptr;
}

}  // namespace omb
