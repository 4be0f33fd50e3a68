// The storage facade: one set of list operations forwarded to an array list
// or a linked list, chosen by listKind when the storage is made.
#include "lists/storage.h"

#include "core/container.h"
#include "core/export.h"
#include "lists/array_list.h"
#include "lists/linked_list.h"
#include "ombrix/primitives.h"

using Storage = OmbrixStorage;

namespace {

constexpr const char *kPoolName = "ombrixg";

bool isArrayBacked(const Storage *storage) { return storage->parms.listKind == 0; }

OmbrixArrayList *arrayOf(const Storage *storage) {
    return static_cast<OmbrixArrayList *>(storage->list);
}

OmbrixLinkedList *linkedOf(const Storage *storage) {
    return static_cast<OmbrixLinkedList *>(storage->list);
}

// The backing list, in the storage's pool; given a pool, the list never owns
// it.
void *newBackingList(QVWord *pool, const OmbrixStorageParms &parms) {
    if (parms.listKind == 0) {
        OmbrixArrayListParms list = {parms.keySize,      parms.keyType, parms.flags, 0,
                                     parms.keyPartCount, parms.keyParts};
        return arrayListNew(pool, list);
    }
    OmbrixLinkedListParms list = {parms.keySize, parms.keyType, parms.flags, parms.keyPartCount,
                                  parms.keyParts};
    return linkedListNew(pool, list);
}

// The key parts the backing list copied for itself.
OmbrixKeyPart *backingKeyParts(const Storage *storage) {
    return isArrayBacked(storage) ? arrayOf(storage)->parms.keyParts
                                  : linkedOf(storage)->parms.keyParts;
}

// Walks two iterators in step: 1 at the first element pair whose `bytes`
// bytes differ, 0 when every pair agrees. A by-reference array list may hold
// null pointers: two of them agree and the walk goes on, a null against a
// stored pointer differs.
int32_t compareElements(OmbrixIterator *a, OmbrixIterator *b, uint64_t bytes) {
    while (a->hasNext) {
        void *left = a->next(a);
        void *right = b->next(b);
        if (left == right) continue;
        if (!left || !right || qvmemcmp(left, right, bytes) != 0) return 1;
    }
    return 0;
}

void fillOperations(Storage *storage) {
    storage->destroy = storageDestroy;
    storage->compare = storageCompare;
    storage->add = storageAdd;
    storage->addLast = storageAddLast;
    storage->remove = storageRemove;
    storage->removeLast = storageRemoveLast;
    storage->get = storageGet;
    storage->getLast = storageGetLast;
    storage->size = storageSize;
    storage->iterator = storageIterator;
    storage->reset = storageReset;
    storage->toArray = storageToArray;
}

}  // namespace

extern "C" {

OMBRIX_API Storage *storageNew(QVWord *pool, OmbrixStorageParms parms) {
    // Refused here, before a pool is made, rather than by the backing list.
    if (!omb::keyPartsUsable(parms.keyParts, parms.keyPartCount)) return nullptr;
    omb::ContainerPool owned =
        omb::acquireContainerPool(pool, parms.flags & OMBRIX_FLAG_NO_LOCK, kPoolName);
    if (!owned.pool) return nullptr;
    auto *storage = static_cast<Storage *>(omb::poolAllocateZeroed(owned.pool, sizeof(Storage)));
    if (storage) {
        storage->parms = parms;
        storage->pool = owned.pool;
        storage->ownsPool = owned.ownsPool;
        storage->list = newBackingList(owned.pool, parms);
        if (storage->list) {
            // The caller's part array need not outlive the call: the copy
            // points at the backing list's own copy of the parts.
            storage->parms.keyParts = backingKeyParts(storage);
            fillOperations(storage);
            return storage;
        }
    }
    // The backing list has returned its own blocks.
    return omb::abandonContainer(owned, {storage});
}

OMBRIX_API void storageDestroy(Storage *storage) {
    if (!storage) return;
    if (isArrayBacked(storage))
        arrayOf(storage)->destroy(arrayOf(storage));
    else
        linkedOf(storage)->destroy(linkedOf(storage));
    // Arrays made by ToArray stay in the pool until the pool goes.
    omb::ContainerPool owned = {storage->pool, storage->ownsPool != 0};
    omb::poolFree(owned.pool, storage);
    omb::releaseContainerPool(owned);
}

OMBRIX_API QVStatus storageAdd(Storage *storage, int32_t index, const void *item) {
    if (!storage) return OMBRIX_OK;
    if (isArrayBacked(storage)) return arrayOf(storage)->add(arrayOf(storage), index, item);
    return linkedOf(storage)->add(linkedOf(storage), index, item);
}

OMBRIX_API QVStatus storageAddLast(Storage *storage, const void *item) {
    if (!storage) return OMBRIX_OK;
    if (isArrayBacked(storage)) return arrayOf(storage)->addLast(arrayOf(storage), item);
    return linkedOf(storage)->addLast(linkedOf(storage), item);
}

OMBRIX_API void storageRemove(Storage *storage, const void *item) {
    if (!storage || !item) return;
    if (isArrayBacked(storage))
        arrayOf(storage)->remove(arrayOf(storage), item);
    else
        linkedOf(storage)->remove(linkedOf(storage), item);
}

OMBRIX_API void *storageRemoveLast(Storage *storage) {
    if (!storage) return nullptr;
    if (isArrayBacked(storage)) return arrayOf(storage)->removeLast(arrayOf(storage));
    return linkedOf(storage)->removeLast(linkedOf(storage));
}

OMBRIX_API void *storageGet(Storage *storage, int32_t index) {
    if (!storage || index < 0) return nullptr;
    if (isArrayBacked(storage)) return arrayOf(storage)->get(arrayOf(storage), index);
    return linkedOf(storage)->get(linkedOf(storage), index);
}

OMBRIX_API void *storageGetLast(Storage *storage) {
    if (!storage) return nullptr;
    if (isArrayBacked(storage)) return arrayOf(storage)->getLast(arrayOf(storage));
    return linkedOf(storage)->getLast(linkedOf(storage));
}

OMBRIX_API int32_t storageSize(Storage *storage) {
    if (!storage) return 0;
    if (isArrayBacked(storage)) return arrayOf(storage)->size(arrayOf(storage));
    return linkedOf(storage)->size(linkedOf(storage));
}

OMBRIX_API OmbrixIterator storageIterator(Storage *storage) {
    if (!storage) return omb::iter;
    if (isArrayBacked(storage)) return arrayOf(storage)->iterator(arrayOf(storage));
    return linkedOf(storage)->iterator(linkedOf(storage));
}

OMBRIX_API void storageReset(Storage *storage) {
    if (!storage) return;
    if (isArrayBacked(storage))
        arrayOf(storage)->reset(arrayOf(storage));
    else
        linkedOf(storage)->reset(linkedOf(storage));
}

// When an iterator cannot be made the two storages cannot be shown equal,
// so they compare as different.
OMBRIX_API int32_t storageCompare(Storage *a, Storage *b) {
    if (!a || !b || a->parms.keySize != b->parms.keySize) return 1;
    OmbrixIterator left = storageIterator(a);
    OmbrixIterator right = storageIterator(b);
    int32_t result = 1;
    if (left.next && right.next && left.size(&left) == right.size(&right)) {
        uint64_t bytes = a->parms.keySize > 0 ? static_cast<uint64_t>(a->parms.keySize) : 0;
        result = compareElements(&left, &right, bytes);
    }
    if (left.release) left.release(&left);
    if (right.release) right.release(&right);
    return result;
}

OMBRIX_API QVStatus storageToArray(Storage *storage, int32_t *count, void ***array) {
    if (!storage) return OMBRIX_OK;
    OmbrixIterator it = storageIterator(storage);
    if (!it.next) return OMBRIX_E_NO_MEMORY;
    int32_t n = it.size(&it);
    if (n <= 0) {
        it.release(&it);
        return OMBRIX_OK;
    }
    auto **pointers = static_cast<void **>(
        omb::poolAllocateZeroed(storage->pool, static_cast<uint64_t>(n) * sizeof(void *)));
    if (!pointers) {
        it.release(&it);
        return OMBRIX_E_NO_MEMORY;
    }
    storage->pointerArray = pointers;
    for (int32_t i = 0; i < n && it.hasNext; ++i) pointers[i] = it.next(&it);
    it.release(&it);
    if (count) *count = n;
    if (array) *array = pointers;
    return OMBRIX_OK;
}

}  // extern "C"
