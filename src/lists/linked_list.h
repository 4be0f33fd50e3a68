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
