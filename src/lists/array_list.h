// The array list inside the library. The object layout and every operation
// are the public ones (ombrix/array_list.h); the storage facade and the
// sorting of lists call the same functions directly:
//
//   OmbrixArrayListParms parms = {};
//   parms.keySize = sizeof(Record);             // by value: copies of Record
//   parms.flags = OMBRIX_FLAG_NO_LOCK;          // one thread: no lock
//   OmbrixArrayList *list = arrayListNew(pool, parms);
//   arrayListAddLast(list, &record);            // 0 or 0x803fc002
//   Record *first = (Record *)arrayListGet(list, 0);
//   arrayListDestroy(list);
#pragma once

#include <cstddef>

#include "ombrix/array_list.h"

// The object layout hosts read by offset.
static_assert(sizeof(OmbrixArrayListParms) == 32);
static_assert(offsetof(OmbrixArrayListParms, capacity) == 12);
static_assert(offsetof(OmbrixArrayListParms, keyPartCount) == 16);
static_assert(offsetof(OmbrixArrayListParms, keyParts) == 24);
static_assert(offsetof(OmbrixArrayList, destroy) == 32);
static_assert(offsetof(OmbrixArrayList, findByKey) == 32 + 10 * 8);
static_assert(offsetof(OmbrixArrayList, sort) == 32 + 11 * 8);
static_assert(offsetof(OmbrixArrayList, toArray) == 32 + 15 * 8);
static_assert(offsetof(OmbrixArrayList, elements) == 32 + 16 * 8);
static_assert(offsetof(OmbrixArrayList, keySizes) == 32 + 17 * 8);
static_assert(offsetof(OmbrixArrayList, count) == 32 + 18 * 8);
static_assert(offsetof(OmbrixArrayList, elementSize) == 32 + 18 * 8 + 4);
static_assert(offsetof(OmbrixArrayList, pool) == 32 + 19 * 8);
static_assert(offsetof(OmbrixArrayList, ownsPool) == 32 + 20 * 8);
static_assert(offsetof(OmbrixArrayList, lock) == 32 + 21 * 8);
static_assert(sizeof(OmbrixArrayList) == 32 + 22 * 8);
static_assert(offsetof(OmbrixArrayListParms, keyType) == 4 &&
              offsetof(OmbrixArrayListParms, flags) == 8);
static_assert(offsetof(OmbrixArrayList, add) == 32 + 1 * 8 &&
              offsetof(OmbrixArrayList, addWithKeySize) == 32 + 2 * 8);
static_assert(offsetof(OmbrixArrayList, addLast) == 32 + 3 * 8 &&
              offsetof(OmbrixArrayList, addLastWithKeySize) == 32 + 4 * 8);
static_assert(offsetof(OmbrixArrayList, remove) == 32 + 5 * 8 &&
              offsetof(OmbrixArrayList, removeLast) == 32 + 6 * 8);
static_assert(offsetof(OmbrixArrayList, get) == 32 + 7 * 8 &&
              offsetof(OmbrixArrayList, getLast) == 32 + 8 * 8);
static_assert(offsetof(OmbrixArrayList, find) == 32 + 9 * 8 &&
              offsetof(OmbrixArrayList, size) == 32 + 12 * 8);
static_assert(offsetof(OmbrixArrayList, reset) == 32 + 13 * 8 &&
              offsetof(OmbrixArrayList, iterator) == 32 + 14 * 8);
