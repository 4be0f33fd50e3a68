// The tree's key ordering: one comparison for every key mode and part type.
#include "tree/key_order.h"

#include <cwchar>

#include "core/container.h"
#include "ombrix/utf8.h"

namespace omb {

namespace {

int32_t signOf(int value) { return (value > 0) - (value < 0); }

template <typename T>
T readField(const unsigned char *field) {
    T value;
    std::memcpy(&value, field, sizeof value);
    return value;
}

// Bytes compared plainly or, under flags bit 8, as normalised UTF-8.
int32_t compareBytes(const unsigned char *a, const unsigned char *b, int32_t length,
                     bool normalized) {
    if (length <= 0) return 0;
    if (normalized) {
        auto n = static_cast<uint64_t>(length);
        return normalizedResult(qvzsu8NormCompare(reinterpret_cast<const char *>(a), n,
                                                  reinterpret_cast<const char *>(b), n));
    }
    return signOf(std::memcmp(a, b, static_cast<size_t>(length)));
}

// QVChar strings compare by wmemcmp over the whole units that fit in the
// part: partSize counts bytes here as it does for every other part type, so
// the comparison never reads past the part (a partSize of 6 compares one
// unit).
int32_t compareUnits(const unsigned char *a, const unsigned char *b, int32_t partSize) {
    if (partSize < static_cast<int32_t>(sizeof(wchar_t))) return 0;
    size_t units = static_cast<size_t>(partSize) / sizeof(wchar_t);
    return signOf(std::wmemcmp(reinterpret_cast<const wchar_t *>(a),
                               reinterpret_cast<const wchar_t *>(b), units));
}

int32_t applyDescending(const OmbrixKeyPart &part, int32_t result) {
    return isDescending(part) ? -result : result;
}

// Modes 0 and 2 with parts: the first part that differs decides. Mode 0
// finds part i at the running offset of the flat key buffer, mode 2 through
// the part's access path from the item. No parts: every key is equal.
// reverseOrder does not touch keys described by parts: each part carries its
// own descending flag, and a tree built from parts orders the same whatever
// reverseOrder says.
int32_t compareByParts(const OmbrixTreeParms &parms, const void *key, const void *nodeKey) {
    if (!hasKeyParts(parms)) return 0;
    bool normalized = (parms.flags & OMBRIX_TREE_NORMALIZED) != 0;
    bool flat = parms.keyMode == OMBRIX_KEY_COMPOSITE;
    int64_t offset = 0;
    for (int32_t i = 0; i < parms.keyPartCount; ++i) {
        const OmbrixKeyPart &part = parms.keyParts[i];
        const unsigned char *a, *b;
        if (flat) {
            a = static_cast<const unsigned char *>(key) + offset;
            b = static_cast<const unsigned char *>(nodeKey) + offset;
            offset += part.partSize;
        } else {
            a = keyFieldAddress(key, part);
            b = keyFieldAddress(nodeKey, part);
        }
        int32_t result = applyDescending(part, comparePart(part, a, b, normalized));
        if (result) return result;
    }
    return 0;
}

// Variable-length keys: the bytes over the shorter length, then the shorter
// key first; reverseOrder inverts the result. With parts, part 0's access
// path leads from each key to its bytes.
int32_t compareVariable(const OmbrixTreeParms &parms, const void *key, int32_t keySize,
                        const void *nodeKey, int32_t nodeKeySize) {
    const auto *a = static_cast<const unsigned char *>(key);
    const auto *b = static_cast<const unsigned char *>(nodeKey);
    if (hasKeyParts(parms)) {
        a = keyFieldAddress(key, parms.keyParts[0]);
        b = keyFieldAddress(nodeKey, parms.keyParts[0]);
    }
    int32_t common = keySize < nodeKeySize ? keySize : nodeKeySize;
    int32_t result = compareBytes(a, b, common, (parms.flags & OMBRIX_TREE_NORMALIZED) != 0);
    if (!result) result = threeWay(keySize, nodeKeySize);
    return parms.reverseOrder ? -result : result;
}

}  // namespace

int32_t normalizedResult(int32_t comparison) {
    if (comparison == 1 || comparison == -1) return 0;
    return threeWay(comparison, 0);
}

int32_t comparePart(const OmbrixKeyPart &part, const unsigned char *a, const unsigned char *b,
                    bool normalized) {
    switch (part.partType) {
        case OMBRIX_PART_INT32:
            return threeWay(readField<int32_t>(a), readField<int32_t>(b));
        case OMBRIX_PART_DOUBLE: {
            // NaN is neither less nor greater, so it equals everything.
            double x = readField<double>(a), y = readField<double>(b);
            return x < y ? -1 : (x > y ? 1 : 0);
        }
        case OMBRIX_PART_BYTES:
            return compareBytes(a, b, part.partSize, normalized);
        case OMBRIX_PART_INT64:
            return threeWay(readField<int64_t>(a), readField<int64_t>(b));
        default:
            return compareUnits(a, b, part.partSize);
    }
}

int32_t comparedBytes(const OmbrixKeyPart &part) {
    switch (part.partType) {
        case OMBRIX_PART_INT32:
            return sizeof(int32_t);
        case OMBRIX_PART_DOUBLE:
            return sizeof(double);
        case OMBRIX_PART_INT64:
            return sizeof(int64_t);
        case OMBRIX_PART_BYTES:
            return part.partSize > 0 ? part.partSize : 0;
        default: {
            constexpr auto unit = static_cast<int32_t>(sizeof(wchar_t));
            return part.partSize > 0 ? part.partSize / unit * unit : 0;
        }
    }
}

int32_t compareKeys(const OmbrixTreeParms &parms, const void *key, int32_t keySize,
                    const void *nodeKey, int32_t nodeKeySize) {
    if (isVariableLengthMode(parms.keyMode))
        return compareVariable(parms, key, keySize, nodeKey, nodeKeySize);
    if (parms.keyMode == OMBRIX_KEY_REFERENCE && !hasKeyParts(parms)) {
        int32_t result = threeWay(reinterpret_cast<uintptr_t>(key),
                                  reinterpret_cast<uintptr_t>(nodeKey));
        return parms.reverseOrder ? -result : result;
    }
    return compareByParts(parms, key, nodeKey);
}

}  // namespace omb
