/* ombrix: the thin array list.
 *
 * A minimal append-only array: no lock, no operation table, no keys. Callers
 * read `count` and `elements` directly; element i lies at
 * elements + i * elementSize. The array grows by half plus one slot when
 * full (8 -> 13 -> 20 -> 31 ...). One thread at a time. */
#ifndef OMBRIX_THIN_ARRAY_LIST_H
#define OMBRIX_THIN_ARRAY_LIST_H

#include <stdint.h>

#include "ombrix/container.h"
#include "ombrix/host.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct OmbrixThinArrayList {
    int32_t count;       /* elements stored */
    void *elements;      /* capacity * elementSize bytes */
    int32_t elementSize; /* 8 when keyType is 1, else keySize */
    uint32_t keyType;    /* OMBRIX_BY_REFERENCE: the item pointer is stored */
    int32_t capacity;    /* slots allocated */
    uint8_t ownsPool;    /* the list created its pool */
    QVWord *pool;
} OmbrixThinArrayList;

/* A list from `pool`, or from an unlocked pool of its own named "ombrixr"
 * when pool is null. A capacity below 1 gives 8 slots. Null when out of
 * memory, refused a pool, or given a negative element size. */
OmbrixThinArrayList *thinArrayListNew(QVWord *pool, uint32_t keyType, int32_t keySize,
                                      int32_t capacity);
/* Appends: by reference the item pointer, by value elementSize bytes copied
 * from it. 0; 0x803fc002 when the array cannot grow (the list unchanged); 0
 * without adding for a null list or item. */
QVStatus thinArrayListAdd(OmbrixThinArrayList *list, const void *item);
void thinArrayListDestroy(OmbrixThinArrayList *list);

#ifdef __cplusplus
}
#endif

#endif
