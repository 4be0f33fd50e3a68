// The thin array list inside the library: the public record and functions
// (ombrix/thin_array_list.h), which the hash map and the item list use for
// their retired blocks and records:
//
//   OmbrixThinArrayList *retired = thinArrayListNew(pool, OMBRIX_BY_REFERENCE, 0, 0);
//   thinArrayListAdd(retired, block);       // 0 or 0x803fc002
//   void **blocks = (void **)retired->elements;
//   thinArrayListDestroy(retired);
#pragma once

#include <cstddef>

#include "ombrix/thin_array_list.h"

// The record callers read by offset.
static_assert(offsetof(OmbrixThinArrayList, count) == 0);
static_assert(offsetof(OmbrixThinArrayList, elements) == 8);
static_assert(offsetof(OmbrixThinArrayList, elementSize) == 16);
static_assert(offsetof(OmbrixThinArrayList, keyType) == 20);
static_assert(offsetof(OmbrixThinArrayList, capacity) == 24);
static_assert(offsetof(OmbrixThinArrayList, ownsPool) == 28);
static_assert(offsetof(OmbrixThinArrayList, pool) == 32);
static_assert(sizeof(OmbrixThinArrayList) == 40);
