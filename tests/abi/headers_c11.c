/* Every public header must compile as strict C11 on its own and together. */
#include <stddef.h>

#include "ombrix/ombrix.h"
#include "ombrix/container.h"
#include "ombrix/extension.h"
#include "ombrix/host.h"
#include "ombrix/messages.h"
#include "ombrix/case.h"
#include "ombrix/primitives.h"
#include "ombrix/linked_list.h"
#include "ombrix/utf.h"
#include "ombrix/utf8.h"
#include "ombrix/string_buffer.h"
#include "ombrix/array_list.h"
#include "ombrix/thin_array_list.h"
#include "ombrix/storage.h"
#include "ombrix/tree.h"
#include "ombrix/hash_map.h"

/* The records keep their sizes in C as well. */
_Static_assert(sizeof(OmbrixExtension) == 15 * 8, "extension record");
_Static_assert(sizeof(OmbrixKeyPart) == 36, "key part");
_Static_assert(sizeof(OmbrixKeyDefinition) == 24, "key definition");
_Static_assert(sizeof(OmbrixIterator) == 48, "iterator");
_Static_assert(sizeof(OmbrixBlob) == 24, "blob");
_Static_assert(sizeof(OmbrixLinkedListEntry) == 32, "linked list entry");
_Static_assert(sizeof(OmbrixLinkedList) == 24 + 35 * 8, "linked list");
_Static_assert(sizeof(OmbrixStringBuffer) == 9 * 8, "string buffer");
_Static_assert(sizeof(OmbrixArrayList) == 32 + 22 * 8, "array list");
_Static_assert(sizeof(OmbrixThinArrayList) == 40, "thin array list");
_Static_assert(sizeof(OmbrixStorage) == 64 + 16 * 8, "storage");
_Static_assert(sizeof(OmbrixTreeParms) == 32, "tree parameters");
_Static_assert(sizeof(OmbrixTreeNode) == 48, "tree node");
_Static_assert(sizeof(OmbrixTree) == 19 * 8, "tree handle");
_Static_assert(sizeof(OmbrixHashMapParms) == 56, "hash map parameters");
_Static_assert(offsetof(OmbrixHashMapParms, valueMode) == 24, "after the key definition");
_Static_assert(offsetof(OmbrixTreeParms, nodesPerBlock) == 24, "after the key definition");
_Static_assert(sizeof(OmbrixHashMapEntry) == 48, "hash map entry");
_Static_assert(sizeof(OmbrixHashMap) == 19 * 8, "hash map handle");

int ombrixHeadersCompileAsC11(void) { return (int)sizeof(OmbrixVersionRecord); }
