// The hash map's iterators, in table order or in key order (flags 0x40), and
// the quicksort that puts entries in key order.
//
// Table order walks the null-key entry first, then the buckets by index:
// each bucket's primary slot, then its chain in chain order, or its tree in
// key order. A sorted iterator collects the entries in table order (the
// null-key entry left out), sorts them, and hands out the null-key entry
// before them.
#include <cstddef>
#include <cstdint>

#include "core/container.h"
#include "core/export.h"
#include "core/host_calls.h"
#include "hashmap/hash_map.h"
#include "hashmap/hash_map_scan.h"
#include "ombrix/hash_map.h"
#include "ombrix/tree.h"
#include "tree/key_order.h"

namespace {

using Map = OmbrixHashMap;
using Entry = OmbrixHashMapEntry;
using Node = OmbrixTreeNode;

constexpr const char *kValuePoolName = "ombrixh iter";
constexpr const char *kEntryPoolName = "ombrixh entry iter";

// Iterator state, in its documented order.
struct IteratorState {
    Entry *current;      // handed out by the next call; null when the walk is over
    int32_t position;    // table order: bucket of current; sorted: index in sorted (-1: null key)
    Node *treeCursor;    // the node of current inside a bucket tree; null at the primary slot
    Map *map;
    Entry **sorted;      // sorted order: the entries, ended by a null pointer
    QVWord *pool;        // the iterator's own pool
};
static_assert(offsetof(IteratorState, position) == 8 && offsetof(IteratorState, treeCursor) == 16);
static_assert(offsetof(IteratorState, map) == 24 && offsetof(IteratorState, sorted) == 32);
static_assert(offsetof(IteratorState, pool) == 40 && sizeof(IteratorState) == 48);

using Iterators = omb::IteratorRules<IteratorState, Map, &IteratorState::map, &IteratorState::pool>;

bool isSorted(const Map *map) { return (map->parms->flags & OMBRIX_HASH_MAP_SORTED) != 0; }

// ---------------------------------------------------------------------------
// Table order. Each table kind has its walk; a kind without one yields no
// entries.

struct ChainedWalk {
    // The primary slot of the first non-empty bucket at or after `bucket`.
    static void firstFrom(IteratorState *state, int32_t bucket) {
        const omb::HashMapState *map = omb::hashMapStateOf(state->map);
        state->treeCursor = nullptr;
        int32_t b = omb::nextNonEmptyBucket(*map, bucket);
        if (b == map->tableSize) {
            state->current = nullptr;
            return;
        }
        omb::askForChainsAhead(*map, b);
        state->current = &map->slots[b];
        state->position = b;
    }

    // Past `entry` in its bucket: the chain's next entry, or the tree's
    // next node in key order; then on to the next bucket.
    static void after(IteratorState *state, Entry *entry) {
        const omb::HashMapState *map = omb::hashMapStateOf(state->map);
        int32_t bucket = state->position;
        if (map->bucketCounts[bucket] < 0) {
            Node *nil = map->keyLayout->treeNil;
            Node *node = state->treeCursor
                             ? treeSuccessor(state->treeCursor, nil)
                             : treeMinimum(reinterpret_cast<Node *>(map->slots[bucket].next), nil);
            if (node) {
                state->treeCursor = node;
                state->current = static_cast<Entry *>(node->key);
                return;
            }
        } else if (entry->next) {
            state->current = entry->next;
            return;
        }
        firstFrom(state, bucket + 1);
    }
};

struct OpenWalk {
    // The first position at or after `position` with a key or a chain: the
    // slot's entry if it holds a key, else the head of the chain.
    static void firstFrom(IteratorState *state, int32_t position) {
        const omb::HashMapState *map = omb::hashMapStateOf(state->map);
        state->treeCursor = nullptr;
        int32_t p = omb::nextOccupiedSlot(*map, position);
        if (p == map->slotCapacity) {
            state->current = nullptr;
            return;
        }
        Entry &slot = map->slots[p];
        state->current = slot.key ? &slot : slot.next;
        state->position = p;
    }

    // A slot's `next` is its position's chain, a node's the chain's next.
    static void after(IteratorState *state, Entry *entry) {
        if (entry->next)
            state->current = entry->next;
        else
            firstFrom(state, state->position + 1);
    }
};

template <typename Visit>
void withTableWalk(const Map *map, Visit &&visit) {
    switch (map->parms->tableKind) {
        case OMBRIX_TABLE_CHAINED:
            visit(ChainedWalk{});
            return;
        case OMBRIX_TABLE_OPEN:
            visit(OpenWalk{});
            return;
        default:
            return;  // the delegated kind brings its walk later
    }
}

// The first entry of the table after the null-key entry, or null.
void firstInTable(IteratorState *state) {
    state->current = nullptr;
    state->treeCursor = nullptr;
    state->position = 0;
    if (omb::hashMapStateOf(state->map)->count <= 0) return;
    withTableWalk(state->map, [&](auto walk) { walk.firstFrom(state, 0); });
}

void restartTableOrder(IteratorState *state) {
    Entry *nullEntry = omb::hashMapStateOf(state->map)->nullEntry;
    if (nullEntry) {
        state->current = nullEntry;
        state->position = 0;
        state->treeCursor = nullptr;
        return;
    }
    firstInTable(state);
}

void advanceTableOrder(IteratorState *state, Entry *entry) {
    if (entry == omb::hashMapStateOf(state->map)->nullEntry) {
        firstInTable(state);
        return;
    }
    withTableWalk(state->map, [&](auto walk) { walk.after(state, entry); });
}

// ---------------------------------------------------------------------------
// Sorted order.

// The entries of `map` in table order, without the null-key entry, into
// `out` (room for `room`); returns how many were written.
int32_t collectInTableOrder(Map *map, Entry **out, int32_t room) {
    IteratorState walk = {};
    walk.map = map;
    firstInTable(&walk);
    int32_t n = 0;
    while (walk.current && n < room) {
        out[n++] = walk.current;
        advanceTableOrder(&walk, walk.current);
    }
    return n;
}

// Sorts the entries of the iterator's map into a new array from the
// iterator's pool. The array has a null pointer after the last entry, so the
// walk ends there even if the map has changed since.
QVStatus restartSortedOrder(IteratorState *state) {
    state->treeCursor = nullptr;
    const omb::HashMapState *map = omb::hashMapStateOf(state->map);
    state->current = map->nullEntry;
    state->position = -1;
    if (map->count <= 0) return OMBRIX_OK;
    auto bytes = sizeof(Entry *) * (static_cast<uint64_t>(map->count) + 1);
    auto **sorted = static_cast<Entry **>(omb::poolAllocate(state->pool, bytes, 0));
    if (!sorted) {
        state->current = nullptr;
        return OMBRIX_E_NO_MEMORY;
    }
    int32_t n = collectInTableOrder(state->map, sorted, map->count);
    sorted[n] = nullptr;
    ombrixQuickSort(sorted, state->map->parms, 0, n - 1);
    state->sorted = sorted;
    if (!state->current) {
        state->current = sorted[0];
        state->position = 0;
    }
    return OMBRIX_OK;
}

void advanceSortedOrder(IteratorState *state) {
    Entry *next = state->sorted ? state->sorted[state->position + 1] : nullptr;
    if (next) state->position += 1;
    state->current = next;
}

// ---------------------------------------------------------------------------
// Restart and advance, under the operations of the record.

// The previous walk's sorted array goes first, whichever order the map
// (perhaps another one) is walked in now.
QVStatus restart(OmbrixIterator *it, IteratorState *state) {
    omb::poolFree(state->pool, state->sorted);
    state->sorted = nullptr;
    QVStatus status = OMBRIX_OK;
    if (isSorted(state->map))
        status = restartSortedOrder(state);
    else
        restartTableOrder(state);
    it->hasNext = state->current != nullptr;
    return status;
}

// Hands out the current entry and steps past it.
Entry *advance(OmbrixIterator *it) {
    IteratorState *state = Iterators::stateOf(it);
    Entry *entry = state ? state->current : nullptr;
    if (!entry) {
        it->hasNext = 0;
        return nullptr;
    }
    if (isSorted(state->map))
        advanceSortedOrder(state);
    else
        advanceTableOrder(state, entry);
    it->hasNext = state->current != nullptr;
    return entry;
}

OmbrixIterator makeIterator(Map *map, const char *poolName, void *(*next)(OmbrixIterator *)) {
    return Iterators::openNamed<restart>(poolName, map, next, hashMapIterSize,
                                         hashMapIterRelease, hashMapIterReset);
}

// ---------------------------------------------------------------------------
// Key order of the sort. compare(X, Y) orders two entries by their keys:
// composite keys and a direct key's field part by part (each part with its
// own descending flag), pointer keys as unsigned numbers, every other key
// as a byte string, shorter first on a common prefix; reverseOrder inverts
// the last two. These are the rules of the tree's key order applied to the
// entries' key bytes, so the tree's comparisons serve.
OmbrixTreeParms sortOrderOf(const OmbrixHashMapParms &definition) {
    OmbrixTreeParms order = {};
    bool hasParts = definition.keyPartCount > 0 && definition.keyParts;
    if (definition.keyMode == OMBRIX_KEY_COMPOSITE ||
        (definition.keyMode == OMBRIX_KEY_REFERENCE && hasParts)) {
        // A direct key points at its one field, so it compares as a flat key.
        order.keyMode = OMBRIX_KEY_COMPOSITE;
        order.keyPartCount = definition.keyMode == OMBRIX_KEY_COMPOSITE ? definition.keyPartCount
                                                                        : 1;
        order.keyParts = definition.keyParts;
        return order;
    }
    order.keyMode = definition.keyMode == OMBRIX_KEY_REFERENCE ? OMBRIX_KEY_REFERENCE
                                                               : OMBRIX_KEY_VARIABLE;
    order.reverseOrder = definition.reverseOrder;
    return order;
}

template <typename Order>
int32_t compareEntries(const Order &order, const Entry *x, const Entry *y) {
    return order(x->key, x->keySize, y->key, y->keySize);
}

void swapEntries(Entry **array, int32_t i, int32_t j) {
    Entry *kept = array[i];
    array[i] = array[j];
    array[j] = kept;
}

// Lomuto's partition around array[pivotIndex]; entries equal to the pivot
// go to its left.
template <typename Order>
int32_t partition(const Order &order, Entry **array, int32_t low, int32_t high,
                  int32_t pivotIndex) {
    swapEntries(array, pivotIndex, high);
    const Entry *pivot = array[high];
    int32_t stored = low - 1;
    for (int32_t j = low; j < high; ++j)
        if (compareEntries(order, array[j], pivot) <= 0) swapEntries(array, ++stored, j);
    swapEntries(array, stored + 1, high);
    return stored + 1;
}

// The middle element is the pivot; the left part recurses and the right
// part loops.
template <typename Order>
void quickSort(const Order &order, Entry **array, int32_t low, int32_t high) {
    while (low < high) {
        int32_t split = partition(order, array, low, high, low + (high - low) / 2);
        quickSort(order, array, low, split - 1);
        low = split + 1;
    }
}

}  // namespace

extern "C" {

// The operations the iterator records hold; hosts reach them only there.
void *hashMapIterNext(OmbrixIterator *it) {
    Entry *entry = advance(it);
    return entry ? entry->value : nullptr;
}

void *hashMapEntryIterNext(OmbrixIterator *it) { return advance(it); }

int32_t hashMapIterSize(OmbrixIterator *it) { return Iterators::size<hashMapSize>(it); }

QVStatus hashMapIterReset(OmbrixIterator *it, void *map) {
    return Iterators::reset<restart>(it, map);
}

void hashMapIterRelease(OmbrixIterator *it) { Iterators::release(it); }

OMBRIX_API OmbrixIterator hashMapIterator(Map *map) {
    return makeIterator(map, kValuePoolName, hashMapIterNext);
}

OMBRIX_API OmbrixIterator hashMapEntryIterator(Map *map) {
    return makeIterator(map, kEntryPoolName, hashMapEntryIterNext);
}

OMBRIX_API void ombrixQuickSort(OmbrixHashMapEntry **array,
                                const OmbrixHashMapParms *keyDefinition, int32_t low,
                                int32_t high) {
    if (!array || !keyDefinition) return;
    OmbrixTreeParms order = sortOrderOf(*keyDefinition);
    omb::withKeyOrder(order, [&](const auto &compare) { quickSort(compare, array, low, high); });
}

OMBRIX_API int32_t ombrixPartition(OmbrixHashMapEntry **array,
                                   const OmbrixHashMapParms *keyDefinition, int32_t low,
                                   int32_t high, int32_t pivotIndex) {
    if (!array || !keyDefinition || low > high || pivotIndex < low || pivotIndex > high)
        return -1;
    OmbrixTreeParms order = sortOrderOf(*keyDefinition);
    return omb::withKeyOrder(order, [&](const auto &compare) {
        return partition(compare, array, low, high, pivotIndex);
    });
}

}  // extern "C"
