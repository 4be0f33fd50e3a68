/* ombrix: the array list.
 *
 * Elements of one fixed size in a contiguous array that grows by half plus
 * one slot when full (16 -> 25 -> 38 -> 58 -> 88 ...). Elements are copies of
 * the caller's bytes (by value) or the caller's pointers (keyType 1, by
 * reference).
 *
 * What the list hands back for an element (Get, GetLast, RemoveLast, the
 * iterator) is, by value, the address of its bytes inside the array, valid
 * until the array grows or the element moves; by reference, the stored
 * pointer itself.
 *
 * Locking: the adds, Remove, RemoveLast, Get, GetLast, Find and FindByKey
 * take the list's lock once and release it before returning. Size, Reset,
 * ToArray and the iterator take none; a caller sharing the list between
 * threads keeps them apart from the other threads' use. flags bit 0 set: no
 * lock at all. */
#ifndef OMBRIX_ARRAY_LIST_H
#define OMBRIX_ARRAY_LIST_H

#include <stdint.h>

#include "ombrix/container.h"
#include "ombrix/host.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct OmbrixArrayListParms {
    int32_t keySize;  /* element size in bytes for by-value lists */
    uint32_t keyType; /* OMBRIX_BY_REFERENCE or by value */
    uint32_t flags;   /* bit 0: no lock; the whole word goes to an own pool */
    int32_t capacity; /* initial slots, below 1 gives 16; in the list's copy:
                         the current slot count */
    int32_t keyPartCount;
    OmbrixKeyPart *keyParts; /* in the list's copy: the list's own copy */
} OmbrixArrayListParms;

typedef struct OmbrixArrayList OmbrixArrayList;
struct OmbrixArrayList {
    OmbrixArrayListParms parms;

    /* Operations, in table order. */
    void (*destroy)(OmbrixArrayList *list);
    QVStatus (*add)(OmbrixArrayList *list, int32_t index, const void *item);
    QVStatus (*addWithKeySize)(OmbrixArrayList *list, int32_t index, const void *item,
                               int32_t keySize);
    QVStatus (*addLast)(OmbrixArrayList *list, const void *item);
    QVStatus (*addLastWithKeySize)(OmbrixArrayList *list, const void *item, int32_t keySize);
    void (*remove)(OmbrixArrayList *list, const void *item);
    void *(*removeLast)(OmbrixArrayList *list);
    void *(*get)(OmbrixArrayList *list, int32_t index);
    void *(*getLast)(OmbrixArrayList *list);
    int32_t (*find)(OmbrixArrayList *list, const void *item);
    int32_t (*findByKey)(OmbrixArrayList *list, const void *item, int32_t keySize,
                         OmbrixKeyDefinition keyDefinition);
    /* Sorting is not built in yet: this word is null. */
    OmbrixArrayList *(*sort)(OmbrixArrayList *list, OmbrixKeyDefinition keyDefinition);
    int32_t (*size)(OmbrixArrayList *list);
    void (*reset)(OmbrixArrayList *list);
    OmbrixIterator (*iterator)(OmbrixArrayList *list);
    void (*toArray)(OmbrixArrayList *list, int32_t *count, void **elements);

    /* Private state. 0 <= count <= parms.capacity. Once keySizes exists it
     * holds one entry per slot, moving with the elements. */
    void *elements;      /* parms.capacity * elementSize bytes */
    int32_t *keySizes;   /* null until the first add that gives a key size */
    int32_t count;
    int32_t elementSize; /* 8 for by-reference lists, else keySize */
    QVWord *pool;
    uint8_t ownsPool;
    QVWord *lock; /* null when flags bit 0 is set */
};

/* A list from `pool`, or from a pool of its own named "ombrixa" when pool is
 * null; null when out of memory, refused a pool or lock, or given a negative
 * element size. */
OmbrixArrayList *arrayListNew(QVWord *pool, OmbrixArrayListParms parms);
void arrayListDestroy(OmbrixArrayList *list);

/* Adds return 0, or 0x803fc002 when out of memory (the list unchanged). They
 * return 0 without adding for a null list, a negative index, an index beyond
 * the count, or a null item on a by-value list (AddLastWithKeySize refuses a
 * null item on any list). The plain forms record key size 0. */
QVStatus arrayListAdd(OmbrixArrayList *list, int32_t index, const void *item);
QVStatus arrayListAddWithKeySize(OmbrixArrayList *list, int32_t index, const void *item,
                                 int32_t keySize);
QVStatus arrayListAddLast(OmbrixArrayList *list, const void *item);
QVStatus arrayListAddLastWithKeySize(OmbrixArrayList *list, const void *item, int32_t keySize);

/* Removes the first element whose elementSize bytes equal those at item; on a
 * by-reference list item is the address of a pointer variable. */
void arrayListRemove(OmbrixArrayList *list, const void *item);
/* The element that was last, or null when empty. */
void *arrayListRemoveLast(OmbrixArrayList *list);
void *arrayListGet(OmbrixArrayList *list, int32_t index);
void *arrayListGetLast(OmbrixArrayList *list);
/* The index of the first element whose elementSize bytes equal those at
 * item, or -1. */
int32_t arrayListFind(OmbrixArrayList *list, const void *item);
/* The index of the first element whose key, by keyDefinition, equals the key
 * at item, or -1 (also when the search buffers cannot be had). */
int32_t arrayListFindByKey(OmbrixArrayList *list, const void *item, int32_t keySize,
                           OmbrixKeyDefinition keyDefinition);
int32_t arrayListSize(OmbrixArrayList *list);
/* Empties the list and zero-fills its array; the capacity stays. */
void arrayListReset(OmbrixArrayList *list);
OmbrixIterator arrayListIterator(OmbrixArrayList *list);
/* The count and the list's own array, not a copy. */
void arrayListToArray(OmbrixArrayList *list, int32_t *count, void **elements);

#ifdef __cplusplus
}
#endif

#endif
