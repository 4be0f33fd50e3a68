// The thin array list: one array, appends only, no lock and no table.
#include "lists/thin_array_list.h"

#include "core/container.h"
#include "core/export.h"
#include "lists/slots.h"

using List = OmbrixThinArrayList;

namespace {

constexpr const char *kPoolName = "ombrixr";
constexpr int32_t kDefaultCapacity = 8;

void *allocateSlots(QVWord *pool, int32_t slots, int32_t slotSize) {
    return omb::poolAllocateZeroed(pool, omb::slotBytes(slots, slotSize));
}

// Moves to a larger array; the old one is given up only once the new one is
// had, so a refused allocation leaves the list as it was.
bool grow(List *list) {
    int32_t capacity = omb::halfAgainPlusOne(list->capacity);
    if (capacity == 0) return false;
    void *elements = omb::allocateGrownSlots(list->pool, list->elements, list->count, capacity,
                                             list->elementSize);
    if (!elements) return false;
    omb::poolFree(list->pool, list->elements);
    list->elements = elements;
    list->capacity = capacity;
    return true;
}

// Grows a full list for the add of `item`, which may be one of the list's
// own elements: it is then read from the new array. An append without
// growth moves nothing, so the common add never asks.
bool growFor(List *list, const void *&item) {
    int64_t own = list->keyType == OMBRIX_BY_REFERENCE
                      ? -1
                      : omb::offsetInSlots(item, list->elements, list->count, list->elementSize);
    if (!grow(list)) return false;
    if (own >= 0) item = static_cast<unsigned char *>(list->elements) + own;
    return true;
}

}  // namespace

extern "C" {

OMBRIX_API List *thinArrayListNew(QVWord *pool, uint32_t keyType, int32_t keySize,
                                  int32_t capacity) {
    int32_t elementSize = omb::elementSizeFor(keyType, keySize);
    if (elementSize < 0) return nullptr;
    // The thin list never locks, so an own pool is unlocked too.
    omb::ContainerPool owned = omb::acquireContainerPool(pool, OMBRIX_FLAG_NO_LOCK, kPoolName);
    if (!owned.pool) return nullptr;
    auto *list = static_cast<List *>(omb::poolAllocateZeroed(owned.pool, sizeof(List)));
    if (list) {
        list->pool = owned.pool;
        list->ownsPool = owned.ownsPool;
        list->elementSize = elementSize;
        list->keyType = keyType;
        list->capacity = capacity < 1 ? kDefaultCapacity : capacity;
        list->elements = allocateSlots(owned.pool, list->capacity, elementSize);
        if (list->elements) return list;
    }
    return omb::abandonContainer(owned, {list});
}

OMBRIX_API QVStatus thinArrayListAdd(List *list, const void *item) {
    if (!list || !item) return OMBRIX_OK;
    if (list->count >= list->capacity && !growFor(list, item)) return OMBRIX_E_NO_MEMORY;
    unsigned char *slot = static_cast<unsigned char *>(list->elements) +
                          omb::slotBytes(list->count, list->elementSize);
    omb::storeSlot(slot, item, list->keyType == OMBRIX_BY_REFERENCE, list->elementSize);
    list->count += 1;
    return OMBRIX_OK;
}

OMBRIX_API void thinArrayListDestroy(List *list) {
    if (!list) return;
    omb::ContainerPool owned = {list->pool, list->ownsPool != 0};
    omb::poolFree(owned.pool, list->elements);
    omb::poolFree(owned.pool, list);
    omb::releaseContainerPool(owned);
}

}  // extern "C"
