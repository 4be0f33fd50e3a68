// The storage facade inside the library: the public object and operations
// (ombrix/storage.h) over an array list or a linked list.
#pragma once

#include <cstddef>

#include "ombrix/storage.h"

// The object layout hosts read by offset.
static_assert(offsetof(OmbrixStorageParms, listKind) == 36);
static_assert(offsetof(OmbrixStorageParms, keySize) == 40);
static_assert(offsetof(OmbrixStorageParms, flags) == 48);
static_assert(offsetof(OmbrixStorageParms, keyPartCount) == 52);
static_assert(offsetof(OmbrixStorageParms, keyParts) == 56);
static_assert(sizeof(OmbrixStorageParms) == 64);
static_assert(offsetof(OmbrixStorage, destroy) == 64);
static_assert(offsetof(OmbrixStorage, toArray) == 64 + 11 * 8);
static_assert(offsetof(OmbrixStorage, pool) == 64 + 12 * 8);
static_assert(offsetof(OmbrixStorage, pointerArray) == 64 + 13 * 8);
static_assert(offsetof(OmbrixStorage, list) == 64 + 14 * 8);
static_assert(offsetof(OmbrixStorage, ownsPool) == 64 + 15 * 8);
static_assert(sizeof(OmbrixStorage) == 64 + 16 * 8);
static_assert(offsetof(OmbrixStorageParms, keyType) == 44);
static_assert(offsetof(OmbrixStorage, compare) == 64 + 1 * 8 &&
              offsetof(OmbrixStorage, add) == 64 + 2 * 8);
static_assert(offsetof(OmbrixStorage, addLast) == 64 + 3 * 8 &&
              offsetof(OmbrixStorage, remove) == 64 + 4 * 8);
static_assert(offsetof(OmbrixStorage, removeLast) == 64 + 5 * 8 &&
              offsetof(OmbrixStorage, get) == 64 + 6 * 8);
static_assert(offsetof(OmbrixStorage, getLast) == 64 + 7 * 8 &&
              offsetof(OmbrixStorage, size) == 64 + 8 * 8);
static_assert(offsetof(OmbrixStorage, iterator) == 64 + 9 * 8 &&
              offsetof(OmbrixStorage, reset) == 64 + 10 * 8);
