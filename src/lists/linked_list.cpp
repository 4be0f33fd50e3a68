// The doubly linked list: entries allocated one by one from the list's pool,
// handed out as handles.
#include "lists/linked_list.h"

#include <cstring>

#include "core/export.h"
#include "core/container.h"
#include "lists/key_search.h"
#include "lists/list_object.h"
#include "lists/slots.h"
#include "ombrix/primitives.h"

using Entry = OmbrixLinkedListEntry;
using List = OmbrixLinkedList;

namespace {

constexpr const char *kPoolName = "ombrixl";
constexpr const char *kIteratorPoolName = "ombrixl iter";

bool isByReference(const List *list) { return list->parms.keyType == OMBRIX_BY_REFERENCE; }

// Returns an entry and, for by-value lists, its copy to the pool.
void freeEntry(List *list, Entry *entry) {
    if (!isByReference(list)) omb::poolFree(list->pool, entry->data);
    omb::poolFree(list->pool, entry);
}

// Links the entry between two neighbours, a null one standing for the end
// of the chain on its side, and keeps head and tail in step with the chain.
// The caller counts the entry.
void insertBetween(List *list, Entry *prev, Entry *next, Entry *entry) {
    entry->prev = prev;
    entry->next = next;
    if (prev)
        prev->next = entry;
    else
        list->head = entry;
    if (next)
        next->prev = entry;
    else
        list->tail = entry;
}

void linkFirst(List *list, Entry *entry) { insertBetween(list, nullptr, list->head, entry); }

void linkLast(List *list, Entry *entry) { insertBetween(list, list->tail, nullptr, entry); }

// Joins the entry's neighbours; the entry itself still points at them.
void detach(List *list, Entry *entry) {
    if (entry->prev)
        entry->prev->next = entry->next;
    else
        list->head = entry->next;
    if (entry->next)
        entry->next->prev = entry->prev;
    else
        list->tail = entry->prev;
}

// Detaches an entry that lives on as a handle, which then links nowhere.
void unlink(List *list, Entry *entry) {
    detach(list, entry);
    entry->prev = nullptr;
    entry->next = nullptr;
}

Entry *entryAt(const List *list, int32_t index) {
    Entry *entry = list->head;
    for (int32_t i = 0; i < index; ++i) entry = entry->next;
    return entry;
}

// The first entry whose data holds the item's keySize bytes. For
// by-reference lists data is the stored pointer, so the bytes it points to
// compare.
Entry *firstEqualEntry(const List *list, const void *item) {
    uint64_t bytes = list->parms.keySize > 0 ? static_cast<uint64_t>(list->parms.keySize) : 0;
    for (Entry *entry = list->head; entry; entry = entry->next)
        if (qvmemcmp(entry->data, item, bytes) == 0) return entry;
    return nullptr;
}

void *elementOf(const Entry *entry) { return entry ? entry->data : nullptr; }

// Gives a new entry of a by-value list its copy of the item; null (with the
// entry freed) when the copy block is refused. Out of line, so that the
// by-reference add keeps little across its one pool call.
__attribute__((noinline)) Entry *attachCopy(List *list, Entry *entry, const void *item) {
    uint64_t bytes = static_cast<uint64_t>(list->elementSize);
    entry->data = omb::poolAllocate(list->pool, bytes, 0);
    if (!entry->data) {
        omb::poolFree(list->pool, entry);
        return nullptr;
    }
    std::memcpy(entry->data, item, bytes);
    return entry;
}

// A new unlinked entry holding the item, or null when refused. Its blocks
// are asked for without the zero flag: every byte of the entry is written
// here and the copy is overwritten whole, so they read as zero-filled blocks
// would, without the host's slower zeroing path on every add.
inline Entry *makeEntry(List *list, const void *item, int32_t keySize) {
    auto *entry = static_cast<Entry *>(omb::poolAllocate(list->pool, sizeof(Entry), 0));
    if (!entry) return nullptr;
    std::memset(entry, 0, sizeof(Entry));
    entry->keySize = static_cast<uint32_t>(keySize);
    if (!isByReference(list)) return attachCopy(list, entry, item);
    entry->data = const_cast<void *>(item);
    return entry;
}

// The shape every add shares: under the lock, make the entry, link it with
// `link`, count it. A refused allocation leaves the list as it was.
template <typename Link>
inline QVStatus addLinkedHeld(List *list, const void *item, int32_t keySize, Link link) {
    Entry *entry = makeEntry(list, item, keySize);
    if (!entry) return OMBRIX_E_NO_MEMORY;
    link(entry);
    list->count += 1;
    return OMBRIX_OK;
}

template <typename Link>
QVStatus addLinked(List *list, const void *item, int32_t keySize, Link link) {
    omb::LockScope held(list->lock);
    return addLinkedHeld(list, item, keySize, link);
}

// The add at either end once the lock, if any, is held.
inline QVStatus addAtEndHeld(List *list, const void *item, int32_t keySize, bool first) {
    return addLinkedHeld(list, item, keySize, [list, first](Entry *e) {
        if (first)
            linkFirst(list, e);
        else
            linkLast(list, e);
    });
}

__attribute__((noinline)) QVStatus addAtEndLocked(List *list, const void *item, int32_t keySize,
                                                  bool first) {
    omb::LockScope held(list->lock);
    return addAtEndHeld(list, item, keySize, first);
}

// The adds at either end, shared by the plain and WithKeySize forms so that
// neither goes through the other's exported entry. A list without a lock
// takes the short way, with nothing to keep across the lock calls.
inline QVStatus addAtEnd(List *list, const void *item, int32_t keySize, bool first) {
    if (!list || !item) return OMBRIX_OK;
    if (list->lock) return addAtEndLocked(list, item, keySize, first);
    return addAtEndHeld(list, item, keySize, first);
}

// Unlinks the end entry and frees it, once the lock, if any, is held; its
// element (by value, the copy, which passes to the caller) comes back.
inline void *removeEndHeld(List *list, bool first) {
    Entry *entry = first ? list->head : list->tail;
    if (!entry) return nullptr;
    detach(list, entry);  // freed below, so its own links are left as they are
    list->count -= 1;
    void *element = entry->data;
    omb::poolFree(list->pool, entry);
    return element;
}

__attribute__((noinline)) void *removeEndLocked(List *list, bool first) {
    omb::LockScope held(list->lock);
    return removeEndHeld(list, first);
}

inline void *removeEnd(List *list, bool first) {
    if (!list) return nullptr;
    if (list->lock) return removeEndLocked(list, first);
    return removeEndHeld(list, first);
}

// Iterator state, in its documented order: the position (the entry handed
// out next), the count taken when made or reset, the list, the iterator's
// own pool.
struct IteratorState {
    Entry *current;
    int32_t count;
    List *list;
    QVWord *pool;
};
static_assert(offsetof(IteratorState, count) == 8 && offsetof(IteratorState, list) == 16 &&
              offsetof(IteratorState, pool) == 24 && sizeof(IteratorState) == 32);

using Iterators = omb::IteratorRules<IteratorState, List, &IteratorState::list, &IteratorState::pool>;

IteratorState *stateOf(OmbrixIterator *it) { return Iterators::stateOf(it); }

QVStatus restart(OmbrixIterator *it, IteratorState *state) {
    List *list = Iterators::container(it);
    state->current = list->head;
    state->count = linkedListSize(list);
    it->hasNext = state->current != nullptr;
    return OMBRIX_OK;
}

void *iteratorNext(OmbrixIterator *it) {
    IteratorState *state = stateOf(it);
    if (!state || !state->current) return nullptr;
    Entry *entry = state->current;
    state->current = entry->next;
    it->hasNext = state->current != nullptr;
    return entry->data;
}

void fillOperations(List *list) {
    list->destroy = linkedListDestroy;
    list->add = linkedListAdd;
    list->addWithKeySize = linkedListAddWithKeySize;
    list->addLast = linkedListAddLast;
    list->addLastWithKeySize = linkedListAddLastWithKeySize;
    list->addFirst = linkedListAddFirst;
    list->addFirstWithKeySize = linkedListAddFirstWithKeySize;
    list->remove = linkedListRemove;
    list->removeFirst = linkedListRemoveFirst;
    list->removeLast = linkedListRemoveLast;
    list->newEntry = linkedListNewEntry;
    list->addFirstEntry = linkedListAddFirstEntry;
    list->addLastEntry = linkedListAddLastEntry;
    list->removeEntry = linkedListRemoveEntry;
    list->getFirstEntry = linkedListGetFirstEntry;
    list->getLastEntry = linkedListGetLastEntry;
    list->get = linkedListGet;
    list->getFirst = linkedListGetFirst;
    list->getLast = linkedListGetLast;
    list->find = linkedListFind;
    list->findByKey = linkedListFindByKey;
    list->sort = nullptr;  // sorting is not built in yet
    list->size = linkedListSize;
    list->reset = linkedListReset;
    list->iterator = linkedListIterator;
    list->addBefore = linkedListAddBefore;
    list->addBeforeWithKeySize = linkedListAddBeforeWithKeySize;
    list->addAfter = linkedListAddAfter;
    list->addAfterWithKeySize = linkedListAddAfterWithKeySize;
}

}  // namespace

extern "C" {

OMBRIX_API List *linkedListNew(QVWord *pool, OmbrixLinkedListParms parms) {
    int32_t elementSize = omb::elementSizeFor(parms.keyType, parms.keySize);
    if (elementSize < 0) return nullptr;
    if (!omb::keyPartsUsable(parms.keyParts, parms.keyPartCount)) return nullptr;
    omb::ContainerPool owned = omb::acquireContainerPool(pool, parms.flags, kPoolName);
    if (!owned.pool) return nullptr;
    List *list = omb::newListObject<List>(owned, parms);
    if (!list) return omb::abandonContainer(owned, {});
    list->elementSize = elementSize;
    if (!omb::createLockUnlessUnlocked(parms.flags, &list->lock))
        return omb::releaseListObject(list, {});
    fillOperations(list);
    return list;
}

OMBRIX_API void linkedListDestroy(List *list) {
    if (!list) return;
    linkedListReset(list);
    omb::releaseListObject(list, {});
}

OMBRIX_API Entry *linkedListNewEntry(List *list, const void *item, int32_t keySize) {
    if (!list || !item) return nullptr;
    return makeEntry(list, item, keySize);
}

OMBRIX_API QVStatus linkedListAddFirstWithKeySize(List *list, const void *item, int32_t keySize) {
    return addAtEnd(list, item, keySize, true);
}

OMBRIX_API QVStatus linkedListAddFirst(List *list, const void *item) {
    return addAtEnd(list, item, 0, true);
}

OMBRIX_API QVStatus linkedListAddLastWithKeySize(List *list, const void *item, int32_t keySize) {
    return addAtEnd(list, item, keySize, false);
}

OMBRIX_API OMBRIX_LINE_START QVStatus linkedListAddLast(List *list, const void *item) {
    return addAtEnd(list, item, 0, false);
}

OMBRIX_API QVStatus linkedListAddBeforeWithKeySize(List *list, Entry *entry, const void *item,
                                                   int32_t keySize) {
    if (!list || !entry || !item) return OMBRIX_OK;
    return addLinked(list, item, keySize, [list, entry](Entry *e) { insertBetween(list, entry->prev, entry, e); });
}

OMBRIX_API QVStatus linkedListAddBefore(List *list, Entry *entry, const void *item) {
    return linkedListAddBeforeWithKeySize(list, entry, item, 0);
}

OMBRIX_API QVStatus linkedListAddAfterWithKeySize(List *list, Entry *entry, const void *item,
                                                  int32_t keySize) {
    if (!list || !entry || !item) return OMBRIX_OK;
    return addLinked(list, item, keySize, [list, entry](Entry *e) { insertBetween(list, entry, entry->next, e); });
}

OMBRIX_API QVStatus linkedListAddAfter(List *list, Entry *entry, const void *item) {
    return linkedListAddAfterWithKeySize(list, entry, item, 0);
}

OMBRIX_API QVStatus linkedListAddWithKeySize(List *list, int32_t index, const void *item,
                                             int32_t keySize) {
    if (!list || !item) return OMBRIX_OK;
    // The position is read under the same lock that links the entry.
    return addLinked(list, item, keySize, [list, index](Entry *e) {
        if (index < 0 || index >= list->count) {
            linkLast(list, e);
            return;
        }
        Entry *next = entryAt(list, index);
        insertBetween(list, next->prev, next, e);
    });
}

OMBRIX_API QVStatus linkedListAdd(List *list, int32_t index, const void *item) {
    return linkedListAddWithKeySize(list, index, item, 0);
}

OMBRIX_API QVStatus linkedListAddFirstEntry(List *list, Entry *entry) {
    if (!list || !entry) return OMBRIX_OK;
    linkFirst(list, entry);
    list->count += 1;
    return OMBRIX_OK;
}

OMBRIX_API QVStatus linkedListAddLastEntry(List *list, Entry *entry) {
    if (!list || !entry) return OMBRIX_OK;
    linkLast(list, entry);
    list->count += 1;
    return OMBRIX_OK;
}

OMBRIX_API void linkedListRemoveEntry(List *list, Entry *entry, uint8_t freeIt) {
    if (!list || !entry) return;
    unlink(list, entry);
    if (freeIt) freeEntry(list, entry);
    list->count -= 1;
}

OMBRIX_API void linkedListRemove(List *list, const void *item) {
    if (!list || !item) return;
    omb::LockScope held(list->lock);
    Entry *entry = firstEqualEntry(list, item);
    if (!entry) return;
    unlink(list, entry);
    freeEntry(list, entry);
    list->count -= 1;
}

OMBRIX_API OMBRIX_LINE_START void *linkedListRemoveFirst(List *list) {
    return removeEnd(list, true);
}

OMBRIX_API void *linkedListRemoveLast(List *list) { return removeEnd(list, false); }

OMBRIX_API void *linkedListGet(List *list, int32_t index) {
    if (!list || index < 0) return nullptr;
    omb::LockScope held(list->lock);
    return index < list->count ? entryAt(list, index)->data : nullptr;
}

OMBRIX_API void *linkedListGetFirst(List *list) {
    if (!list) return nullptr;
    omb::LockScope held(list->lock);
    return elementOf(list->head);
}

OMBRIX_API void *linkedListGetLast(List *list) {
    if (!list) return nullptr;
    omb::LockScope held(list->lock);
    return elementOf(list->tail);
}

OMBRIX_API Entry *linkedListGetFirstEntry(List *list) {
    if (!list) return nullptr;
    omb::LockScope held(list->lock);
    return list->head;
}

OMBRIX_API Entry *linkedListGetLastEntry(List *list) {
    if (!list) return nullptr;
    omb::LockScope held(list->lock);
    return list->tail;
}

OMBRIX_API void *linkedListFind(List *list, const void *item) {
    if (!list) return nullptr;
    omb::LockScope held(list->lock);
    if (!item) return nullptr;
    return elementOf(firstEqualEntry(list, item));
}

// Keys of a by-value list are bounded by its element size, as the array
// list's are (arrayListFindByKey).
OMBRIX_API void *linkedListFindByKey(List *list, const void *item, int32_t keySize,
                                     OmbrixKeyDefinition keyDefinition) {
    if (!list || !item) return nullptr;
    int32_t elementBytes = isByReference(list) ? omb::kCallerOwnedElements : list->elementSize;
    int32_t length = omb::keySearchLength(keyDefinition, keySize, elementBytes);
    if (length <= 0) return nullptr;
    omb::LockScope held(list->lock);
    omb::KeySearch search(list->pool, keyDefinition, item, length);  // freed before the lock
    if (!search.ready()) return nullptr;
    for (Entry *entry = list->head; entry; entry = entry->next)
        if (search.matches(entry->data, entry->keySize)) return entry->data;
    return nullptr;
}

OMBRIX_API int32_t linkedListSize(List *list) { return list ? list->count : 0; }

OMBRIX_API void linkedListReset(List *list) {
    if (!list) return;
    Entry *entry = list->head;
    while (entry) {
        Entry *next = entry->next;
        freeEntry(list, entry);
        entry = next;
    }
    list->head = nullptr;
    list->tail = nullptr;
    list->count = 0;
}

OMBRIX_API OmbrixIterator linkedListIterator(List *list) {
    return Iterators::open<restart, linkedListSize>(kIteratorPoolName, list, iteratorNext);
}

}  // extern "C"
