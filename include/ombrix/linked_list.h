/* ombrix: the doubly linked list.
 *
 * Elements live in a chain of entries allocated one by one from the list's
 * pool. Entries are handed out as handles: callers can insert before or after
 * one, unlink one, or build one apart from the list and link it in later.
 *
 * An element is what the list hands back for an entry, its `data`: for
 * by-value lists the address of the list's copy, for by-reference lists
 * (keyType 1) the stored pointer itself.
 *
 * Locking: adds, Remove, RemoveFirst, RemoveLast, the gets and the finds take
 * the list's lock once and release it before returning. NewEntry,
 * AddFirstEntry, AddLastEntry, RemoveEntry, Size, Reset and the iterator take
 * none; a caller sharing the list between threads keeps them apart from the
 * other threads' use. flags bit 0 set: no lock at all. */
#ifndef OMBRIX_LINKED_LIST_H
#define OMBRIX_LINKED_LIST_H

#include <stdint.h>

#include "ombrix/container.h"
#include "ombrix/host.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct OmbrixLinkedListParms {
    int32_t keySize;  /* element size (by value) and bytes Find and Remove compare */
    uint32_t keyType; /* OMBRIX_BY_REFERENCE or by value */
    uint32_t flags;   /* bit 0: no lock; the whole word goes to an own pool */
    int32_t keyPartCount;
    OmbrixKeyPart *keyParts; /* in the list's copy: the list's own copy */
} OmbrixLinkedListParms;

typedef struct OmbrixLinkedListEntry OmbrixLinkedListEntry;
struct OmbrixLinkedListEntry {
    OmbrixLinkedListEntry *prev; /* null for the first */
    void *data;                  /* the copy (by value) or the caller's pointer */
    uint32_t keySize;            /* given when the entry was made; 0 for plain adds */
    OmbrixLinkedListEntry *next; /* null for the last */
};

typedef struct OmbrixLinkedList OmbrixLinkedList;
struct OmbrixLinkedList {
    OmbrixLinkedListParms parms;

    /* Operations, in table order. */
    void (*destroy)(OmbrixLinkedList *list);
    QVStatus (*add)(OmbrixLinkedList *list, int32_t index, const void *item);
    QVStatus (*addWithKeySize)(OmbrixLinkedList *list, int32_t index, const void *item,
                               int32_t keySize);
    QVStatus (*addLast)(OmbrixLinkedList *list, const void *item);
    QVStatus (*addLastWithKeySize)(OmbrixLinkedList *list, const void *item, int32_t keySize);
    QVStatus (*addFirst)(OmbrixLinkedList *list, const void *item);
    QVStatus (*addFirstWithKeySize)(OmbrixLinkedList *list, const void *item, int32_t keySize);
    void (*remove)(OmbrixLinkedList *list, const void *item);
    void *(*removeFirst)(OmbrixLinkedList *list);
    void *(*removeLast)(OmbrixLinkedList *list);
    OmbrixLinkedListEntry *(*newEntry)(OmbrixLinkedList *list, const void *item, int32_t keySize);
    QVStatus (*addFirstEntry)(OmbrixLinkedList *list, OmbrixLinkedListEntry *entry);
    QVStatus (*addLastEntry)(OmbrixLinkedList *list, OmbrixLinkedListEntry *entry);
    void (*removeEntry)(OmbrixLinkedList *list, OmbrixLinkedListEntry *entry, uint8_t freeEntry);
    OmbrixLinkedListEntry *(*getFirstEntry)(OmbrixLinkedList *list);
    OmbrixLinkedListEntry *(*getLastEntry)(OmbrixLinkedList *list);
    void *(*get)(OmbrixLinkedList *list, int32_t index);
    void *(*getFirst)(OmbrixLinkedList *list);
    void *(*getLast)(OmbrixLinkedList *list);
    void *(*find)(OmbrixLinkedList *list, const void *item);
    void *(*findByKey)(OmbrixLinkedList *list, const void *item, int32_t keySize,
                       OmbrixKeyDefinition keyDefinition);
    /* Sorting is not built in yet: this word is null. */
    OmbrixLinkedList *(*sort)(OmbrixLinkedList *list, OmbrixKeyDefinition keyDefinition);
    int32_t (*size)(OmbrixLinkedList *list);
    void (*reset)(OmbrixLinkedList *list);
    OmbrixIterator (*iterator)(OmbrixLinkedList *list);
    QVStatus (*addBefore)(OmbrixLinkedList *list, OmbrixLinkedListEntry *entry, const void *item);
    QVStatus (*addBeforeWithKeySize)(OmbrixLinkedList *list, OmbrixLinkedListEntry *entry,
                                     const void *item, int32_t keySize);
    QVStatus (*addAfter)(OmbrixLinkedList *list, OmbrixLinkedListEntry *entry, const void *item);
    QVStatus (*addAfterWithKeySize)(OmbrixLinkedList *list, OmbrixLinkedListEntry *entry,
                                    const void *item, int32_t keySize);

    /* Private state. head and tail are both null exactly when count is 0;
     * following next from head visits count entries and ends at tail. */
    QVWord *pool;
    uint8_t ownsPool;
    OmbrixLinkedListEntry *head;
    OmbrixLinkedListEntry *tail;
    int32_t count;
    int32_t elementSize; /* 8 for by-reference lists, else keySize */
    QVWord *lock;        /* null when flags bit 0 is set */
};

/* A list from `pool`, or from a pool of its own named "ombrixl" when pool is
 * null; null when out of memory or refused a pool or lock. */
OmbrixLinkedList *linkedListNew(QVWord *pool, OmbrixLinkedListParms parms);
void linkedListDestroy(OmbrixLinkedList *list);

/* Adds return 0, 0x803fc002 when out of memory (the list unchanged), or 0
 * without adding for a null list, item or entry. The plain forms record key
 * size 0. Index: 0 adds first, below 0 or at or beyond the count adds last,
 * otherwise the element becomes number index. */
QVStatus linkedListAdd(OmbrixLinkedList *list, int32_t index, const void *item);
QVStatus linkedListAddWithKeySize(OmbrixLinkedList *list, int32_t index, const void *item,
                                  int32_t keySize);
QVStatus linkedListAddLast(OmbrixLinkedList *list, const void *item);
QVStatus linkedListAddLastWithKeySize(OmbrixLinkedList *list, const void *item, int32_t keySize);
QVStatus linkedListAddFirst(OmbrixLinkedList *list, const void *item);
QVStatus linkedListAddFirstWithKeySize(OmbrixLinkedList *list, const void *item, int32_t keySize);
QVStatus linkedListAddBefore(OmbrixLinkedList *list, OmbrixLinkedListEntry *entry,
                             const void *item);
QVStatus linkedListAddBeforeWithKeySize(OmbrixLinkedList *list, OmbrixLinkedListEntry *entry,
                                        const void *item, int32_t keySize);
QVStatus linkedListAddAfter(OmbrixLinkedList *list, OmbrixLinkedListEntry *entry,
                            const void *item);
QVStatus linkedListAddAfterWithKeySize(OmbrixLinkedList *list, OmbrixLinkedListEntry *entry,
                                       const void *item, int32_t keySize);

/* Entry handles; none of these locks. A new entry is not linked and belongs
 * to the list's pool from the start. */
OmbrixLinkedListEntry *linkedListNewEntry(OmbrixLinkedList *list, const void *item,
                                          int32_t keySize);
QVStatus linkedListAddFirstEntry(OmbrixLinkedList *list, OmbrixLinkedListEntry *entry);
QVStatus linkedListAddLastEntry(OmbrixLinkedList *list, OmbrixLinkedListEntry *entry);
/* Unlinks; with freeEntry the entry (and a by-value copy) go back to the pool. */
void linkedListRemoveEntry(OmbrixLinkedList *list, OmbrixLinkedListEntry *entry,
                           uint8_t freeEntry);
OmbrixLinkedListEntry *linkedListGetFirstEntry(OmbrixLinkedList *list);
OmbrixLinkedListEntry *linkedListGetLastEntry(OmbrixLinkedList *list);

/* Removes the first element whose keySize bytes equal those at item. */
void linkedListRemove(OmbrixLinkedList *list, const void *item);
/* The removed element; a by-value copy stays in the list's pool and passes
 * to the caller. Null when empty. */
void *linkedListRemoveFirst(OmbrixLinkedList *list);
void *linkedListRemoveLast(OmbrixLinkedList *list);

void *linkedListGet(OmbrixLinkedList *list, int32_t index);
void *linkedListGetFirst(OmbrixLinkedList *list);
void *linkedListGetLast(OmbrixLinkedList *list);
/* The first element whose keySize bytes equal those at item, or null. */
void *linkedListFind(OmbrixLinkedList *list, const void *item);
/* The first element whose key, by keyDefinition, equals the key at item. */
void *linkedListFindByKey(OmbrixLinkedList *list, const void *item, int32_t keySize,
                          OmbrixKeyDefinition keyDefinition);
int32_t linkedListSize(OmbrixLinkedList *list);
void linkedListReset(OmbrixLinkedList *list);
OmbrixIterator linkedListIterator(OmbrixLinkedList *list);

#ifdef __cplusplus
}
#endif

#endif
