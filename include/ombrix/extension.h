/* ombrix: the extension entry, its record and its function tables.
 *
 * Start-up: the host calls qvextver (or qvextent) with its handle, then
 * ombrix(host, journal) for the extension record; at shutdown it calls the
 * record's destroyExtension. Every table is read by position: a filled word
 * never moves, and words of families not built in are zero. */
#ifndef OMBRIX_EXTENSION_H
#define OMBRIX_EXTENSION_H

#include <stdint.h>

#include "ombrix/host.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*OmbrixFunction)(void);

/* The host handle, null until qvextver or qvextent stores it. */
extern QVWord *Exported_QVHandle;

#define OMBRIX_VERSION_WORDS 26
#define OMBRIX_FACTORY_WORDS 15
#define OMBRIX_THIN_HASH_MAP_WORDS 29
#define OMBRIX_THIN_ARRAY_LIST_WORDS 11
#define OMBRIX_ITEM_LIST_WORDS 17

/* Version record: sixteen text pointers with the build time (seconds since
 * 1970) as the fourth word, then nine zero words. */
typedef struct OmbrixVersionRecord {
    uint64_t words[OMBRIX_VERSION_WORDS];
} OmbrixVersionRecord;

typedef struct OmbrixExtension OmbrixExtension;
struct OmbrixExtension {
    uint64_t reserved1[3];
    QVStatus (*getReqVersion)(OmbrixExtension *ext, uint64_t *major, uint64_t *minor,
                              uint64_t *patch);
    QVStatus (*getVersion)(OmbrixExtension *ext, uint64_t *major, uint64_t *minor,
                           uint64_t *patch);
    uint64_t reserved6;
    QVStatus (*destroyExtension)(OmbrixExtension *ext);
    uint64_t reserved8[2];
    QVWord *pool;
    QVWord *journal;
    OmbrixFunction *factoryTable;       /* OMBRIX_FACTORY_WORDS words */
    OmbrixFunction *thinHashMapTable;   /* OMBRIX_THIN_HASH_MAP_WORDS words */
    OmbrixFunction *thinArrayListTable; /* OMBRIX_THIN_ARRAY_LIST_WORDS words */
    OmbrixFunction *itemListTable;      /* OMBRIX_ITEM_LIST_WORDS words */
};

/* Positions in the factory table. */
enum {
    OMBRIX_FACTORY_ARRAY_LIST_NEW = 0,
    OMBRIX_FACTORY_STORAGE_NEW = 1,
    OMBRIX_FACTORY_LINKED_LIST_NEW = 2,
    OMBRIX_FACTORY_HASH_MAP_NEW = 3,
    OMBRIX_FACTORY_HASH_MAP_NEW_FROM_BLOB = 4,
    OMBRIX_FACTORY_STRING_BUFFER_NEW = 5,
    OMBRIX_FACTORY_TREE_NEW = 6
};

/* Writes the host interface version the library is built for (7.1) and
 * keeps the handle. Returns 0. */
QVStatus qvextver(QVWord *host, uint64_t *major, uint64_t *minor);
/* Keeps the handle. Returns 0. */
QVStatus qvextent(QVWord *host);
/* Copies the library's version record into the caller's. Returns 0. */
QVStatus qvvercn1(OmbrixVersionRecord *record);
/* Builds the extension record, or returns null after one journal entry. */
OmbrixExtension *ombrix(QVWord *host, QVWord *journal);

#ifdef __cplusplus
}
#endif

#endif
