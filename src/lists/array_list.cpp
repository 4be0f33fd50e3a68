// The array list: elements of one size in one contiguous array from the
// list's pool, grown by half plus one slot when full.
#include "lists/array_list.h"

#include <cstring>

#include "core/container.h"
#include "core/export.h"
#include "lists/key_search.h"
#include "lists/list_object.h"
#include "lists/slots.h"
#include "ombrix/primitives.h"

using List = OmbrixArrayList;

namespace {

constexpr const char *kPoolName = "ombrixa";
constexpr const char *kIteratorPoolName = "ombrixa iter";
constexpr int32_t kDefaultCapacity = 16;

bool isByReference(const List *list) { return list->parms.keyType == OMBRIX_BY_REFERENCE; }

unsigned char *slotAt(const List *list, int32_t index) {
    return static_cast<unsigned char *>(list->elements) +
           static_cast<size_t>(index) * static_cast<size_t>(list->elementSize);
}

// What the list hands back for element `index`: the address of its bytes
// (by value) or the stored pointer (by reference).
void *elementAt(const List *list, int32_t index) {
    unsigned char *slot = slotAt(list, index);
    if (!isByReference(list)) return slot;
    void *stored;
    std::memcpy(&stored, slot, sizeof stored);
    return stored;
}

int32_t recordedKeySize(const List *list, int32_t index) {
    return list->keySizes ? list->keySizes[index] : 0;
}

// The first element whose elementSize bytes equal those at item, or -1.
int32_t firstEqualIndex(const List *list, const void *item) {
    uint64_t bytes = static_cast<uint64_t>(list->elementSize);
    for (int32_t i = 0; i < list->count; ++i)
        if (qvmemcmp(slotAt(list, i), item, bytes) == 0) return i;
    return -1;
}

void *allocateSlots(QVWord *pool, int32_t slots, int32_t slotSize) {
    return omb::poolAllocateZeroed(pool, omb::slotBytes(slots, slotSize));
}

// Moves to a larger array (and key-size array, when one exists or
// `withKeySizes` asks for it). Both new arrays are had before anything
// changes, so a refused allocation leaves the list exactly as it was. A
// full list has count == capacity, so the whole old array is copied.
bool grow(List *list, bool withKeySizes) {
    int32_t capacity = omb::halfAgainPlusOne(list->parms.capacity);
    if (capacity == 0) return false;
    void *elements = omb::allocateGrownSlots(list->pool, list->elements, list->count, capacity,
                                             list->elementSize);
    if (!elements) return false;
    int32_t *keySizes = nullptr;
    if (list->keySizes || withKeySizes) {
        keySizes = static_cast<int32_t *>(omb::allocateGrownSlots(
            list->pool, list->keySizes, list->keySizes ? list->count : 0, capacity,
            sizeof(int32_t)));
        if (!keySizes) {
            omb::poolFree(list->pool, elements);
            return false;
        }
    }
    omb::poolFree(list->pool, list->elements);
    omb::poolFree(list->pool, list->keySizes);
    list->elements = elements;
    list->keySizes = keySizes;
    list->parms.capacity = capacity;
    return true;
}

// Room for one more element, with a key-size array when the add gives a key
// size. False when an allocation was refused; the list is then unchanged.
bool makeRoom(List *list, int32_t keySize) {
    if (list->count == list->parms.capacity) return grow(list, keySize > 0);
    if (keySize > 0 && !list->keySizes) {
        list->keySizes = static_cast<int32_t *>(
            allocateSlots(list->pool, list->parms.capacity, sizeof(int32_t)));
        return list->keySizes != nullptr;
    }
    return true;
}

// Moves the elements at `from` .. count-1 (and their key sizes) `by` slots:
// up by 1 to open a slot, down by -1 to close one.
void shiftTail(List *list, int32_t from, int32_t by) {
    int32_t moved = list->count - from;
    if (moved <= 0) return;
    qvmemmove(slotAt(list, from + by), slotAt(list, from),
              omb::slotBytes(moved, list->elementSize));
    if (list->keySizes)
        qvmemmove(list->keySizes + from + by, list->keySizes + from,
                  omb::slotBytes(moved, sizeof(int32_t)));
}

// The add itself, under the lock. `index` is at most count. An item among
// the list's own elements is read where the growth or the shift moved it;
// an append into a free slot moves nothing, and does not ask.
QVStatus insertAt(List *list, int32_t index, const void *item, int32_t keySize) {
    bool moves = list->count == list->parms.capacity || index < list->count;
    int64_t own = moves && !isByReference(list)
                      ? omb::offsetInSlots(item, list->elements, list->count, list->elementSize)
                      : -1;
    if (!makeRoom(list, keySize)) return OMBRIX_E_NO_MEMORY;
    if (index < list->count) shiftTail(list, index, 1);
    if (own >= 0) {
        bool shifted = own >= static_cast<int64_t>(omb::slotBytes(index, list->elementSize));
        item = static_cast<unsigned char *>(list->elements) + own + (shifted ? list->elementSize : 0);
    }
    omb::storeSlot(slotAt(list, index), item, isByReference(list), list->elementSize);
    if (list->keySizes) list->keySizes[index] = keySize;
    list->count += 1;
    return OMBRIX_OK;
}

// The general append: under the lock when the list has one, growing or
// keeping key sizes as needed.
__attribute__((noinline)) QVStatus appendInGeneral(List *list, const void *item,
                                                   int32_t keySize) {
    omb::LockScope held(list->lock);
    return insertAt(list, list->count, item, keySize);  // the count read under the lock
}

// The append both AddLast forms share. The common case, an unlocked list of
// 8-byte elements (pointers or 8-byte values) with a free slot and no key
// sizes to keep, is one store and a count, with no call and nothing saved;
// everything else goes the long way.
inline QVStatus append(List *list, const void *item, int32_t keySize) {
    if (list->lock) return appendInGeneral(list, item, keySize);  // nothing read before the lock
    int32_t count = list->count;
    if (count >= list->parms.capacity || list->keySizes || keySize > 0 || list->elementSize != 8)
        return appendInGeneral(list, item, keySize);
    auto *slot = static_cast<unsigned char *>(list->elements) + 8 * static_cast<size_t>(count);
    omb::storeSlot(slot, item, isByReference(list), 8);
    list->count = count + 1;
    return OMBRIX_OK;
}

void *elementIfHeld(const List *list, int32_t index) {
    return index < list->count ? elementAt(list, index) : nullptr;
}

__attribute__((noinline)) void *getLocked(List *list, int32_t index) {
    omb::LockScope held(list->lock);
    return elementIfHeld(list, index);
}

// Iterator state, in its documented order: the position, the count taken
// when made or reset, the list, the iterator's own pool.
struct IteratorState {
    int32_t position;
    int32_t count;
    List *list;
    QVWord *pool;
};
static_assert(offsetof(IteratorState, count) == 4 && offsetof(IteratorState, list) == 8);
static_assert(offsetof(IteratorState, pool) == 16 && sizeof(IteratorState) == 24);

using Iterators = omb::IteratorRules<IteratorState, List, &IteratorState::list, &IteratorState::pool>;

IteratorState *stateOf(OmbrixIterator *it) { return Iterators::stateOf(it); }

List *iteratedList(OmbrixIterator *it) { return Iterators::container(it); }

QVStatus restart(OmbrixIterator *it, IteratorState *state) {
    state->position = 0;
    state->count = iteratedList(it)->count;
    it->hasNext = state->count > 0;
    return OMBRIX_OK;
}

// Hands back the element at the position while the list still holds one;
// hasNext follows the count taken when the iteration began.
void *iteratorNext(OmbrixIterator *it) {
    IteratorState *state = stateOf(it);
    if (!state || state->position >= iteratedList(it)->count) return nullptr;
    void *element = elementAt(iteratedList(it), state->position);
    state->position += 1;
    it->hasNext = state->position < state->count;
    return element;
}

void fillOperations(List *list) {
    list->destroy = arrayListDestroy;
    list->add = arrayListAdd;
    list->addWithKeySize = arrayListAddWithKeySize;
    list->addLast = arrayListAddLast;
    list->addLastWithKeySize = arrayListAddLastWithKeySize;
    list->remove = arrayListRemove;
    list->removeLast = arrayListRemoveLast;
    list->get = arrayListGet;
    list->getLast = arrayListGetLast;
    list->find = arrayListFind;
    list->findByKey = arrayListFindByKey;
    list->sort = nullptr;  // sorting is not built in yet
    list->size = arrayListSize;
    list->reset = arrayListReset;
    list->iterator = arrayListIterator;
    list->toArray = arrayListToArray;
}

}  // namespace

extern "C" {

OMBRIX_API List *arrayListNew(QVWord *pool, OmbrixArrayListParms parms) {
    int32_t elementSize = omb::elementSizeFor(parms.keyType, parms.keySize);
    if (elementSize < 0) return nullptr;
    if (!omb::keyPartsUsable(parms.keyParts, parms.keyPartCount)) return nullptr;
    omb::ContainerPool owned = omb::acquireContainerPool(pool, parms.flags, kPoolName);
    if (!owned.pool) return nullptr;
    List *list = omb::newListObject<List>(owned, parms);
    if (!list) return omb::abandonContainer(owned, {});
    if (list->parms.capacity < 1) list->parms.capacity = kDefaultCapacity;
    list->elementSize = elementSize;
    list->elements = allocateSlots(owned.pool, list->parms.capacity, elementSize);
    if (!list->elements || !omb::createLockUnlessUnlocked(parms.flags, &list->lock))
        return omb::releaseListObject(list, {list->elements});
    fillOperations(list);
    return list;
}

OMBRIX_API void arrayListDestroy(List *list) {
    if (list) omb::releaseListObject(list, {list->elements, list->keySizes});
}

OMBRIX_API QVStatus arrayListAddWithKeySize(List *list, int32_t index, const void *item,
                                            int32_t keySize) {
    if (!list || index < 0 || (!item && !isByReference(list))) return OMBRIX_OK;
    omb::LockScope held(list->lock);
    if (index > list->count) return OMBRIX_OK;
    return insertAt(list, index, item, keySize);
}

OMBRIX_API QVStatus arrayListAdd(List *list, int32_t index, const void *item) {
    return arrayListAddWithKeySize(list, index, item, 0);
}

OMBRIX_API QVStatus arrayListAddLastWithKeySize(List *list, const void *item, int32_t keySize) {
    if (!list || !item) return OMBRIX_OK;
    return append(list, item, keySize);
}

// Like a positional add, the plain append stores a null item on a
// by-reference list (the pointer itself is the element); only its
// WithKeySize twin refuses null whatever the storage mode.
OMBRIX_API OMBRIX_LINE_START QVStatus arrayListAddLast(List *list, const void *item) {
    if (!list || (!item && !isByReference(list))) return OMBRIX_OK;
    return append(list, item, 0);
}

OMBRIX_API void arrayListRemove(List *list, const void *item) {
    if (!list || !item) return;
    omb::LockScope held(list->lock);
    int32_t index = firstEqualIndex(list, item);
    if (index < 0) return;
    shiftTail(list, index + 1, -1);
    list->count -= 1;
}

OMBRIX_API void *arrayListRemoveLast(List *list) {
    if (!list) return nullptr;
    omb::LockScope held(list->lock);
    if (list->count == 0) return nullptr;
    list->count -= 1;
    return elementAt(list, list->count);
}

OMBRIX_API OMBRIX_LINE_START void *arrayListGet(List *list, int32_t index) {
    if (!list || index < 0) return nullptr;
    if (!list->lock) return elementIfHeld(list, index);  // a leaf for the common read
    return getLocked(list, index);
}

OMBRIX_API void *arrayListGetLast(List *list) {
    if (!list) return nullptr;
    omb::LockScope held(list->lock);
    return list->count > 0 ? elementAt(list, list->count - 1) : nullptr;
}

OMBRIX_API int32_t arrayListFind(List *list, const void *item) {
    if (!list) return -1;
    omb::LockScope held(list->lock);
    return item ? firstEqualIndex(list, item) : -1;
}

// A by-value list forms keys only from the bytes it stores: an element's key
// is at most elementSize bytes long, so a key size recorded larger than the
// element (an add may record any size) is bounded by the element size and a
// longer searched key finds nothing, as does a definition whose parts start
// outside the element. A by-reference list's elements are the caller's.
OMBRIX_API int32_t arrayListFindByKey(List *list, const void *item, int32_t keySize,
                                      OmbrixKeyDefinition keyDefinition) {
    if (!list || !item) return -1;
    int32_t elementBytes = isByReference(list) ? omb::kCallerOwnedElements : list->elementSize;
    int32_t length = omb::keySearchLength(keyDefinition, keySize, elementBytes);
    if (length <= 0) return -1;
    omb::LockScope held(list->lock);
    omb::KeySearch search(list->pool, keyDefinition, item, length);  // freed before the lock
    if (!search.ready()) return -1;
    for (int32_t i = 0; i < list->count; ++i)
        if (search.matches(elementAt(list, i), recordedKeySize(list, i))) return i;
    return -1;
}

OMBRIX_API int32_t arrayListSize(List *list) { return list ? list->count : 0; }

OMBRIX_API void arrayListReset(List *list) {
    if (!list) return;
    list->count = 0;
    qvmemset(list->elements, 0, omb::slotBytes(list->parms.capacity, list->elementSize));
}

OMBRIX_API void arrayListToArray(List *list, int32_t *count, void **elements) {
    if (!list) return;
    if (count) *count = list->count;
    if (elements) *elements = list->elements;
}

OMBRIX_API OmbrixIterator arrayListIterator(List *list) {
    return Iterators::open<restart, arrayListSize>(kIteratorPoolName, list, iteratorNext);
}

}  // extern "C"
