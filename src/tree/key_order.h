// How the tree orders keys; the chained hash map's bucket trees order by the
// same rules, since they run on the tree's engine.
//
// A comparison takes the new key k with its size g and a node's stored key
// with its recorded size s, and returns negative (k goes left), 0 (equal) or
// positive (k goes right). compareKeys is the one general rule. The hot
// shapes (one direct int32 or int64 part, pointer keys, plain byte strings)
// have orders of their own that give exactly its results without the loop
// over parts; withKeyOrder picks one per call, so a walk down the tree runs
// a comparison the compiler can inline.
//
// A walk compares one key with many nodes: probeFor binds the key to its
// order once, and the probe compares it with a node. A tree keyed by one
// direct int32 part keeps a copy of each node's key in the node
// (keyCopy, written by prepareNode when the node is linked), so its walk
// never leaves the nodes; the caller's promise that an item's key fields do
// not change while it is in the tree keeps the copy true.
#pragma once

#include <compare>
#include <cstdint>
#include <cstring>

#include "ombrix/tree.h"

namespace omb {

// Key modes as the tree sees them: 0 reads the parts one after the other
// from a flat buffer, 2 reaches them from an item (or compares the pointer
// itself), and every other mode is a byte string whose size comes with the
// call and is recorded in the node.
inline bool isVariableLengthMode(uint32_t keyMode) {
    return keyMode != OMBRIX_KEY_COMPOSITE && keyMode != OMBRIX_KEY_REFERENCE;
}

inline bool hasKeyParts(const OmbrixTreeParms &parms) {
    return parms.keyPartCount > 0 && parms.keyParts;
}

inline bool isDescending(const OmbrixKeyPart &part) { return (part.partOption & 0xffu) != 0; }

template <typename T>
inline int32_t threeWay(T a, T b) {
    return (a > b) - (a < b);
}

// qvzsu8NormCompare answers -2/+2 for a real difference and -1/+1 when the
// texts differ in case only; the tree counts case-only differences as equal.
int32_t normalizedResult(int32_t comparison);

// One part's fields a (new key) and b (node), by the part's type; the
// descending flag is not applied here.
int32_t comparePart(const OmbrixKeyPart &part, const unsigned char *a, const unsigned char *b,
                    bool normalized);
// The bytes comparePart reads of each field: the width of a number, the
// part's size for bytes, its whole QVChar units otherwise.
int32_t comparedBytes(const OmbrixKeyPart &part);

// The general comparison.
int32_t compareKeys(const OmbrixTreeParms &parms, const void *key, int32_t keySize,
                    const void *nodeKey, int32_t nodeKeySize);

// The specialised orders. Each is built only for parameters it matches
// (withKeyOrder checks), and then agrees with compareKeys.

// One signed integer part read directly (no pointer to follow) at `offset`:
// mode 0 at offset 0 of the key buffer, mode 2 at the part's offset in the
// item.
template <typename Int>
struct DirectIntOrder {
    int32_t offset;
    bool descending;
    int32_t operator()(const void *key, int32_t, const void *nodeKey, int32_t) const {
        Int a, b;
        std::memcpy(&a, static_cast<const unsigned char *>(key) + offset, sizeof a);
        std::memcpy(&b, static_cast<const unsigned char *>(nodeKey) + offset, sizeof b);
        return descending ? threeWay(b, a) : threeWay(a, b);
    }
};

// Mode 2 without parts: the pointers as unsigned 64-bit values.
struct PointerOrder {
    bool reversed;
    int32_t operator()(const void *key, int32_t, const void *nodeKey, int32_t) const {
        auto a = reinterpret_cast<uintptr_t>(key), b = reinterpret_cast<uintptr_t>(nodeKey);
        return reversed ? threeWay(b, a) : threeWay(a, b);
    }
};

// A variable-length key without parts and without normalisation: the bytes
// over the shorter length, then the shorter key first.
struct ByteStringOrder {
    bool reversed;
    int32_t operator()(const void *key, int32_t keySize, const void *nodeKey,
                       int32_t nodeKeySize) const {
        int32_t common = keySize < nodeKeySize ? keySize : nodeKeySize;
        int c = common > 0 ? std::memcmp(key, nodeKey, static_cast<size_t>(common)) : 0;
        int32_t result = c ? (c < 0 ? -1 : 1) : threeWay(keySize, nodeKeySize);
        return reversed ? -result : result;
    }
};

// A key bound to its order, compared with nodes.
template <typename Order>
struct KeyProbe {
    Order order;
    const void *key;
    int32_t keySize;
    std::strong_ordering compare(const OmbrixTreeNode *node) const {
        return order(key, keySize, node->key, node->keySize) <=> 0;
    }
};

template <typename Order>
inline KeyProbe<Order> probeFor(const Order &order, const void *key, int32_t keySize) {
    return {order, key, keySize};
}

template <typename Order>
inline void prepareNode(const Order &, OmbrixTreeNode *) {}

// The int32 order reads the node's copy of its key.
struct Int32Probe {
    int32_t value;
    bool descending;
    std::strong_ordering compare(const OmbrixTreeNode *node) const {
        return descending ? node->keyCopy <=> value : value <=> node->keyCopy;
    }
};

inline Int32Probe probeFor(const DirectIntOrder<int32_t> &order, const void *key, int32_t) {
    int32_t value;
    std::memcpy(&value, static_cast<const unsigned char *>(key) + order.offset, sizeof value);
    return {value, order.descending};
}

// Pointer keys: the node's key is the key.
struct PointerProbe {
    uintptr_t value;
    bool reversed;
    std::strong_ordering compare(const OmbrixTreeNode *node) const {
        auto stored = reinterpret_cast<uintptr_t>(node->key);
        return reversed ? stored <=> value : value <=> stored;
    }
};

inline PointerProbe probeFor(const PointerOrder &order, const void *key, int32_t) {
    return {reinterpret_cast<uintptr_t>(key), order.reversed};
}

inline void prepareNode(const DirectIntOrder<int32_t> &order, OmbrixTreeNode *node) {
    std::memcpy(&node->keyCopy, static_cast<const unsigned char *>(node->key) + order.offset,
                sizeof node->keyCopy);
}

struct GeneralOrder {
    const OmbrixTreeParms *parms;
    int32_t operator()(const void *key, int32_t keySize, const void *nodeKey,
                       int32_t nodeKeySize) const {
        return compareKeys(*parms, key, keySize, nodeKey, nodeKeySize);
    }
};

// The one part of a single-part key read without following a pointer, or
// null when the key has another shape; *offset receives where the field
// lies in the key (mode 0) or the item (mode 2).
inline const OmbrixKeyPart *directSinglePart(const OmbrixTreeParms &parms, int32_t *offset) {
    if (parms.keyPartCount != 1 || !parms.keyParts) return nullptr;
    const OmbrixKeyPart &part = parms.keyParts[0];
    if (parms.keyMode == OMBRIX_KEY_COMPOSITE) {
        *offset = 0;
        return &part;
    }
    if (parms.keyMode == OMBRIX_KEY_REFERENCE && part.levels <= 1) {
        *offset = part.offsets[0];
        return &part;
    }
    return nullptr;
}

// Calls visit with the fastest order that matches `parms`.
template <typename Visit>
inline auto withKeyOrder(const OmbrixTreeParms &parms, Visit &&visit) {
    if (parms.keyMode == OMBRIX_KEY_REFERENCE && !hasKeyParts(parms))
        return visit(PointerOrder{parms.reverseOrder != 0});
    if (isVariableLengthMode(parms.keyMode)) {
        if (!hasKeyParts(parms) && !(parms.flags & OMBRIX_TREE_NORMALIZED))
            return visit(ByteStringOrder{parms.reverseOrder != 0});
        return visit(GeneralOrder{&parms});
    }
    int32_t offset = 0;
    if (const OmbrixKeyPart *part = directSinglePart(parms, &offset)) {
        if (part->partType == OMBRIX_PART_INT32)
            return visit(DirectIntOrder<int32_t>{offset, isDescending(*part)});
        if (part->partType == OMBRIX_PART_INT64)
            return visit(DirectIntOrder<int64_t>{offset, isDescending(*part)});
    }
    return visit(GeneralOrder{&parms});
}

}  // namespace omb
