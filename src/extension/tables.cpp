// The extension's function tables. The host reads them by position, so an
// entry never moves; a family not built in yet leaves its words zero.
#include "tables.h"

#include "ombrix/array_list.h"
#include "ombrix/hash_map.h"
#include "ombrix/linked_list.h"
#include "ombrix/string_buffer.h"
#include "ombrix/storage.h"
#include "ombrix/thin_array_list.h"
#include "ombrix/tree.h"

namespace omb {
namespace {

// Positions 0..6: arrayListNew, storageNew, linkedListNew, hashMapNew,
// hashMapNewFromBlob, stringBufferNew, treeNew.
const OmbrixFunction factoryEntries[] = {
    reinterpret_cast<OmbrixFunction>(arrayListNew),     // arrayListNew
    reinterpret_cast<OmbrixFunction>(storageNew),       // storageNew
    reinterpret_cast<OmbrixFunction>(linkedListNew),    // linkedListNew
    reinterpret_cast<OmbrixFunction>(hashMapNew),       // hashMapNew
    nullptr,                                            // hashMapNewFromBlob
    reinterpret_cast<OmbrixFunction>(stringBufferNew),  // stringBufferNew
    reinterpret_cast<OmbrixFunction>(treeNew),          // treeNew
};

// Positions 0..21: thinHashMapNew, thinHashMapNewFromBlob, thinHashMapDestroy,
// thinHashMapAdd, thinHashMapRemove, thinHashMapFind,
// thinHashMapAddWithKeySize, thinHashMapRemoveWithKeySize,
// thinHashMapFindWithKeySize, thinHashMapSize, thinHashMapGetKeySize,
// thinHashMapToBlob, thinHashMapGetBlobSize, thinHashMapMerge,
// thinHashMapMergeFromBlob, thinHashMapReset, thinHashMapIterator,
// thinHashMapEntryIterator, thinHashMapClone, thinHashMapStat,
// thinHashMapNewMultiple, thinHashMapDestroyMultiple.
const OmbrixFunction thinHashMapEntries[] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// Positions 0..2: thinArrayListNew, thinArrayListAdd, thinArrayListDestroy.
const OmbrixFunction thinArrayListEntries[] = {
    reinterpret_cast<OmbrixFunction>(thinArrayListNew),
    reinterpret_cast<OmbrixFunction>(thinArrayListAdd),
    reinterpret_cast<OmbrixFunction>(thinArrayListDestroy),
};

// Positions 0..12: itemListNew, itemListAddInt32, itemListAddInt64,
// itemListAddDouble, itemListAddFloat, itemListAddChar, itemListAddQVChar,
// itemListAddList, itemListFind, itemListGetBlobSize, itemListToBlob,
// itemListDestroy, itemListAddArrayList.
const OmbrixFunction itemListEntries[] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

template <int N>
constexpr TableLayout layoutOf(const OmbrixFunction (&entries)[N], int words) {
    return {entries, N, words};
}

}  // namespace

const TableLayout factoryLayout = layoutOf(factoryEntries, OMBRIX_FACTORY_WORDS);
const TableLayout thinHashMapLayout = layoutOf(thinHashMapEntries, OMBRIX_THIN_HASH_MAP_WORDS);
const TableLayout thinArrayListLayout =
    layoutOf(thinArrayListEntries, OMBRIX_THIN_ARRAY_LIST_WORDS);
const TableLayout itemListLayout = layoutOf(itemListEntries, OMBRIX_ITEM_LIST_WORDS);

static_assert(sizeof factoryEntries / sizeof(OmbrixFunction) == 7);
static_assert(sizeof thinHashMapEntries / sizeof(OmbrixFunction) == 22);
static_assert(sizeof thinArrayListEntries / sizeof(OmbrixFunction) == 3);
static_assert(sizeof itemListEntries / sizeof(OmbrixFunction) == 13);

}  // namespace omb
