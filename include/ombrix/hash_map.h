/* ombrix: the hash map.
 *
 * Associates keys with values. One object stands before three table kinds:
 * a chained table whose buckets of seven or more entries become red-black
 * trees (tableKind 0), an open-addressing table (1) and a table delegated to
 * the host extensions "qveaa" and "qveai" (2).
 *
 * Keys (keyMode): 0 composite, built from the item's key parts into a record
 * the map owns; 1 a UTF-8 string held by the caller's pointer (a key size of
 * 0 measures the string); 2 the item pointer itself, or one direct key part
 * of it; 3 as 2 without the parts being copied or summed. Values
 * (valueMode): 0 valueSize bytes copied into the map; 1 the caller's pointer;
 * 2 a double accumulator that each add increases by the given double, or by
 * 1.0 for a null value.
 *
 * A null key is a key like any other in the chained and open tables. The map
 * has no lock: one thread at a time. */
#ifndef OMBRIX_HASH_MAP_H
#define OMBRIX_HASH_MAP_H

#include <stdint.h>

#include "ombrix/container.h"
#include "ombrix/host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Table kinds. */
#define OMBRIX_TABLE_CHAINED   0u
#define OMBRIX_TABLE_OPEN      1u
#define OMBRIX_TABLE_DELEGATED 2u

/* Value modes. */
#define OMBRIX_VALUE_COPY       0u
#define OMBRIX_VALUE_POINTER    1u
#define OMBRIX_VALUE_ACCUMULATE 2u

/* flags bits beside OMBRIX_FLAG_NO_LOCK (an own pool unlocked). */
#define OMBRIX_HASH_MAP_SORTED     0x40u  /* iterators visit keys in order */
#define OMBRIX_HASH_MAP_COPY_KEYS  0x80u  /* chained: keys by reference are copied */

typedef uint32_t (*OmbrixHashFunction)(const void *keyBytes, int32_t keySize);

/* Begins with the key definition (keyMode .. reverseOrder). */
typedef struct OmbrixHashMapParms {
    uint32_t keyMode;
    int32_t keyPartCount;
    OmbrixKeyPart *keyParts;  /* in the map's copy: the map's own copy (modes 0, 2) */
    uint8_t reverseOrder;     /* sorted iteration of whole keys runs backwards */
    OMBRIX_AFTER_KEY_DEFINITION uint32_t valueMode;
    int32_t valueSize;        /* in the map's copy: 0 for mode 1, 8 for mode 2 */
    uint32_t flags;
    int32_t capacity;         /* initial table size; 1 or less selects 32 */
    uint32_t tableKind;
    OmbrixHashFunction hashFunction; /* null: the default hash */
} OmbrixHashMapParms;

/* The unit of the slot array and of every overflow entry. Entry iterators
 * hand these out: read hash, key, keySize and value, change nothing. */
typedef struct OmbrixHashMapEntry OmbrixHashMapEntry;
struct OmbrixHashMapEntry {
    uint32_t hash;
    void *key;       /* the key bytes (a record for keyMode 0) */
    int32_t keySize;
    void *value;     /* the caller's pointer, or the stored value or double */
    OmbrixHashMapEntry *next; /* the chain; a tree bucket's root at its primary slot */
    uint32_t hop;    /* open table: the neighbourhood bitmap */
};

/* The handle hashMapNew returns; the private state follows it in the same
 * block. */
typedef struct OmbrixHashMap OmbrixHashMap;
struct OmbrixHashMap {
    OmbrixHashMapParms *parms;

    /* Operations, in table order. A word not built in yet is null. */
    void (*destroy)(OmbrixHashMap *map);
    QVStatus (*add)(OmbrixHashMap *map, const void *key, const void *value);
    QVStatus (*remove)(OmbrixHashMap *map, const void *key);
    void *(*find)(OmbrixHashMap *map, const void *key);
    QVStatus (*addWithKeySize)(OmbrixHashMap *map, const void *key, int32_t keySize,
                               const void *value);
    QVStatus (*removeWithKeySize)(OmbrixHashMap *map, const void *key, int32_t keySize);
    void *(*findWithKeySize)(OmbrixHashMap *map, const void *key, int32_t keySize);
    int32_t (*size)(OmbrixHashMap *map);
    int32_t (*getKeySize)(OmbrixHashMap *map);
    OmbrixBlob *(*toBlob)(OmbrixHashMap *map, QVWord *pool, uint8_t withHeader);
    uint64_t (*getBlobSize)(OmbrixHashMap *map, uint8_t withHeader);
    QVStatus (*merge)(OmbrixHashMap *map, OmbrixHashMap *other, OmbrixIterator *iterator);
    QVStatus (*mergeFromBlob)(OmbrixHashMap *map, const OmbrixBlob *blob);
    QVStatus (*reset)(OmbrixHashMap *map);
    OmbrixIterator (*iterator)(OmbrixHashMap *map);
    OmbrixIterator (*entryIterator)(OmbrixHashMap *map);
    OmbrixHashMap *(*clone)(OmbrixHashMap *map);
    QVStatus (*stat)(OmbrixHashMap *map);
};

/* A map from `pool`, or from a pool of its own named "ombrixh" when pool is
 * null. Null when keyMode 0 comes without parts (or with parts summing to
 * no bytes), keyMode 2 with parts that are not one direct part (levels 1),
 * valueMode is above 2, valueSize is negative, or a pool or block is
 * refused; a refused creation leaves nothing in the caller's pool. The
 * delegated kind is not built in yet: null. Destroy gives every
 * block back to a caller's pool, bucket tree nodes and key copies too. */
OmbrixHashMap *hashMapNew(QVWord *pool, OmbrixHashMapParms parms);
void hashMapDestroy(OmbrixHashMap *map);

/* The plain forms pass key size 0: the map's key size, or for string keys
 * the string's own length. Add and remove return 0 or 0x803fc002 (removing
 * an absent key is 0); find returns the value (a pointer to the stored
 * bytes or double for value modes 0 and 2) or null, also for a key whose
 * copied value was added as null. A keyMode 0 key size beyond the map's key
 * size is ignored: add and remove 0, find null. In the other key modes a key
 * matches the entry that stores its very pointer, whatever size that entry
 * was added with, or an entry of the same hash and bytes (a string key at
 * its own size); the chained table's remove compares hash and bytes alone.
 * A copied value of no bytes in a map without records (keyMode 1 to 3) is
 * the pointer the entry was added with: a later add copies nothing over it,
 * a null one clears it. */
QVStatus hashMapAdd(OmbrixHashMap *map, const void *key, const void *value);
void *hashMapFind(OmbrixHashMap *map, const void *key);
QVStatus hashMapRemove(OmbrixHashMap *map, const void *key);
/* Entries, the null key included. */
int32_t hashMapSize(OmbrixHashMap *map);
/* The key size of the layout, or 8 when it is 0. */
int32_t hashMapGetKeySize(OmbrixHashMap *map);
/* Empties the map and keeps its storage; 0. */
QVStatus hashMapReset(OmbrixHashMap *map);

/* The chained table. An add that grows the table and is refused the growth
 * keeps the entry and returns 0x803fc002; the next add tries again. */
QVStatus hashMapListAddWithKeySize(OmbrixHashMap *map, const void *key, int32_t keySize,
                                   const void *value);
void *hashMapListFindWithKeySize(OmbrixHashMap *map, const void *key, int32_t keySize);
QVStatus hashMapListRemoveWithKeySize(OmbrixHashMap *map, const void *key, int32_t keySize);

/* The open table. Entries lie within 16 slots of their home bucket; a key
 * no neighbourhood can take hangs in an overflow chain of its home bucket.
 * Keys are never copied, whatever the flags. An add that doubles the table
 * and is refused keeps the entry and returns 0x803fc002; the next add tries
 * the doubling first and, refused again, returns 0x803fc002 and changes
 * nothing. Keys that share their hash bits above the table's mask do not
 * make the table double: see hash_map_open.cpp for the bound. */
QVStatus hashMapOpenAddWithKeySize(OmbrixHashMap *map, const void *key, int32_t keySize,
                                   const void *value);
void *hashMapOpenFindWithKeySize(OmbrixHashMap *map, const void *key, int32_t keySize);
QVStatus hashMapOpenRemoveWithKeySize(OmbrixHashMap *map, const void *key, int32_t keySize);
/* The add and find of keyMode 2: with one direct part (hashMapOpenAdd,
 * hashMapOpenFind) or the pointer itself (hashMapOpenPtrAdd,
 * hashMapOpenPtrFind, which compare pointers only); the adds for pointer
 * values. A map of any other kind is served as by hashMapAdd, hashMapFind. */
QVStatus hashMapOpenAdd(OmbrixHashMap *map, const void *item, const void *value);
QVStatus hashMapOpenPtrAdd(OmbrixHashMap *map, const void *key, const void *value);
void *hashMapOpenFind(OmbrixHashMap *map, const void *item);
void *hashMapOpenPtrFind(OmbrixHashMap *map, const void *key);

/* Iteration in table order, or in key order when flags hold 0x40; pools
 * "ombrixh iter" and "ombrixh entry iter". */
OmbrixIterator hashMapIterator(OmbrixHashMap *map);
OmbrixIterator hashMapEntryIterator(OmbrixHashMap *map);
/* Bucket occupancy of a chained or open map on standard output. */
QVStatus hashMapStat(OmbrixHashMap *map);

/* Sorts the entry pointers array[low .. high] by the key order of a map's
 * parameters (whose first members are the key definition). */
void ombrixQuickSort(OmbrixHashMapEntry **array, const OmbrixHashMapParms *keyDefinition,
                     int32_t low, int32_t high);
int32_t ombrixPartition(OmbrixHashMapEntry **array, const OmbrixHashMapParms *keyDefinition,
                        int32_t low, int32_t high, int32_t pivotIndex);

#ifdef __cplusplus
}
#endif

#endif
