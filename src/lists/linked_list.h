// The linked list inside the library. The object layout, the entry record
// and every operation are the public ones (ombrix/linked_list.h); other
// families (the tree's printing queue, the storage facade) call the same
// functions directly:
//
//   OmbrixLinkedListParms parms = {};
//   parms.keyType = OMBRIX_BY_REFERENCE;
//   parms.flags = OMBRIX_FLAG_NO_LOCK;          // one thread: no lock
//   OmbrixLinkedList *queue = linkedListNew(pool, parms);
//   linkedListAddLast(queue, node);             // 0 or 0x803fc002
//   void *first = linkedListRemoveFirst(queue); // null when empty
//   linkedListDestroy(queue);
#pragma once

#include <cstddef>

#include "ombrix/linked_list.h"

// The object and entry layouts hosts read by offset.
static_assert(sizeof(OmbrixLinkedListParms) == 24);
static_assert(sizeof(OmbrixLinkedListEntry) == 32);
static_assert(offsetof(OmbrixLinkedListEntry, data) == 8);
static_assert(offsetof(OmbrixLinkedListEntry, keySize) == 16);
static_assert(offsetof(OmbrixLinkedListEntry, next) == 24);
static_assert(offsetof(OmbrixLinkedList, destroy) == 24);
static_assert(offsetof(OmbrixLinkedList, sort) == 24 + 21 * 8);
static_assert(offsetof(OmbrixLinkedList, addAfterWithKeySize) == 24 + 28 * 8);
static_assert(offsetof(OmbrixLinkedList, pool) == 24 + 29 * 8);
static_assert(offsetof(OmbrixLinkedList, head) == 24 + 31 * 8);
static_assert(offsetof(OmbrixLinkedList, count) == 24 + 33 * 8);
static_assert(offsetof(OmbrixLinkedList, elementSize) == 24 + 33 * 8 + 4);
static_assert(offsetof(OmbrixLinkedList, lock) == 24 + 34 * 8);
static_assert(offsetof(OmbrixLinkedListParms, keyType) == 4 &&
              offsetof(OmbrixLinkedListParms, flags) == 8);
static_assert(offsetof(OmbrixLinkedListParms, keyPartCount) == 12 &&
              offsetof(OmbrixLinkedListParms, keyParts) == 16);
static_assert(offsetof(OmbrixLinkedList, ownsPool) == 24 + 30 * 8 &&
              offsetof(OmbrixLinkedList, tail) == 24 + 32 * 8);
static_assert(sizeof(OmbrixLinkedList) == 24 + 35 * 8);
static_assert(offsetof(OmbrixLinkedList, add) == 24 + 1 * 8 &&
              offsetof(OmbrixLinkedList, addWithKeySize) == 24 + 2 * 8);
static_assert(offsetof(OmbrixLinkedList, addLast) == 24 + 3 * 8 &&
              offsetof(OmbrixLinkedList, addLastWithKeySize) == 24 + 4 * 8);
static_assert(offsetof(OmbrixLinkedList, addFirst) == 24 + 5 * 8 &&
              offsetof(OmbrixLinkedList, addFirstWithKeySize) == 24 + 6 * 8);
static_assert(offsetof(OmbrixLinkedList, remove) == 24 + 7 * 8 &&
              offsetof(OmbrixLinkedList, removeFirst) == 24 + 8 * 8);
static_assert(offsetof(OmbrixLinkedList, removeLast) == 24 + 9 * 8 &&
              offsetof(OmbrixLinkedList, newEntry) == 24 + 10 * 8);
static_assert(offsetof(OmbrixLinkedList, addFirstEntry) == 24 + 11 * 8 &&
              offsetof(OmbrixLinkedList, addLastEntry) == 24 + 12 * 8);
static_assert(offsetof(OmbrixLinkedList, removeEntry) == 24 + 13 * 8 &&
              offsetof(OmbrixLinkedList, getFirstEntry) == 24 + 14 * 8);
static_assert(offsetof(OmbrixLinkedList, getLastEntry) == 24 + 15 * 8 &&
              offsetof(OmbrixLinkedList, get) == 24 + 16 * 8);
static_assert(offsetof(OmbrixLinkedList, getFirst) == 24 + 17 * 8 &&
              offsetof(OmbrixLinkedList, getLast) == 24 + 18 * 8);
static_assert(offsetof(OmbrixLinkedList, find) == 24 + 19 * 8 &&
              offsetof(OmbrixLinkedList, findByKey) == 24 + 20 * 8);
static_assert(offsetof(OmbrixLinkedList, size) == 24 + 22 * 8 &&
              offsetof(OmbrixLinkedList, reset) == 24 + 23 * 8);
static_assert(offsetof(OmbrixLinkedList, iterator) == 24 + 24 * 8 &&
              offsetof(OmbrixLinkedList, addBefore) == 24 + 25 * 8);
static_assert(offsetof(OmbrixLinkedList, addBeforeWithKeySize) == 24 + 26 * 8 &&
              offsetof(OmbrixLinkedList, addAfter) == 24 + 27 * 8);
