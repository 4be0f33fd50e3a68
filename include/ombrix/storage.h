/* ombrix: the storage facade.
 *
 * One set of list operations over a backing list chosen at creation: an
 * array list (listKind 0) or a linked list (any other listKind). Callers
 * switch the backing by that one parameter. Beyond forwarding, a storage
 * compares itself with another and copies its element pointers into one
 * array.
 *
 * The storage takes no lock of its own; the forwarded operations lock as
 * the backing list does (flags bit 0: no lock). Compare and ToArray read
 * through iterators, which never lock. */
#ifndef OMBRIX_STORAGE_H
#define OMBRIX_STORAGE_H

#include <stdint.h>

#include "ombrix/container.h"
#include "ombrix/host.h"

#ifdef __cplusplus
extern "C" {
#endif

#define OMBRIX_STORAGE_LEADING_WORDS 9

typedef struct OmbrixStorageParms {
    uint32_t leading[OMBRIX_STORAGE_LEADING_WORDS]; /* kept, not interpreted */
    uint32_t listKind; /* 0: array list backing; any other value: linked list */
    int32_t keySize;   /* for the backing list; also the bytes Compare compares */
    uint32_t keyType;  /* for the backing list (1 = by reference) */
    uint32_t flags;    /* for the backing list (bit 0 = no lock); bit 0 also
                          goes to an own pool's options */
    int32_t keyPartCount;
    OmbrixKeyPart *keyParts;
} OmbrixStorageParms;

typedef struct OmbrixStorage OmbrixStorage;
struct OmbrixStorage {
    OmbrixStorageParms parms;

    /* Operations, in table order. */
    void (*destroy)(OmbrixStorage *storage);
    int32_t (*compare)(OmbrixStorage *a, OmbrixStorage *b);
    QVStatus (*add)(OmbrixStorage *storage, int32_t index, const void *item);
    QVStatus (*addLast)(OmbrixStorage *storage, const void *item);
    void (*remove)(OmbrixStorage *storage, const void *item);
    void *(*removeLast)(OmbrixStorage *storage);
    void *(*get)(OmbrixStorage *storage, int32_t index);
    void *(*getLast)(OmbrixStorage *storage);
    int32_t (*size)(OmbrixStorage *storage);
    OmbrixIterator (*iterator)(OmbrixStorage *storage);
    void (*reset)(OmbrixStorage *storage);
    QVStatus (*toArray)(OmbrixStorage *storage, int32_t *count, void ***array);

    /* Private state. */
    QVWord *pool;
    void **pointerArray; /* made by the last ToArray, or null */
    void *list;          /* OmbrixArrayList or OmbrixLinkedList, by listKind */
    uint8_t ownsPool;
};

/* A storage from `pool`, or from a pool of its own named "ombrixg" when pool
 * is null; its backing list allocates from the same pool and never owns it.
 * Null on failure. */
OmbrixStorage *storageNew(QVWord *pool, OmbrixStorageParms parms);
void storageDestroy(OmbrixStorage *storage);

/* 0 when both hold the same number of elements and each pair agrees in
 * keySize bytes (as the lists hand them back); 1 otherwise, when either is
 * null, their keySize differs, or an iterator cannot be made. */
int32_t storageCompare(OmbrixStorage *a, OmbrixStorage *b);

/* Forwarded to the backing list; a null storage gives 0, null or nothing. */
QVStatus storageAdd(OmbrixStorage *storage, int32_t index, const void *item);
QVStatus storageAddLast(OmbrixStorage *storage, const void *item);
void storageRemove(OmbrixStorage *storage, const void *item);
void *storageRemoveLast(OmbrixStorage *storage);
void *storageGet(OmbrixStorage *storage, int32_t index);
void *storageGetLast(OmbrixStorage *storage);
int32_t storageSize(OmbrixStorage *storage);
OmbrixIterator storageIterator(OmbrixStorage *storage);
void storageReset(OmbrixStorage *storage);

/* A new array of the element pointers, in order, from the storage's pool;
 * it stays there until the pool goes and the caller does not free it. An
 * empty storage writes nothing. 0, or 0x803fc002 when the iterator or the
 * array cannot be had. Either output may be null. */
QVStatus storageToArray(OmbrixStorage *storage, int32_t *count, void ***array);

#ifdef __cplusplus
}
#endif

#endif
