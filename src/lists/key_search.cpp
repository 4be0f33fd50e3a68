#include "lists/key_search.h"

#include "core/container.h"
#include "ombrix/primitives.h"

namespace omb {

namespace {

constexpr int32_t kPointerKeyBytes = 8;

// The first step of a part's path reads inside the element: the field itself
// at one level, else the pointer to the next level. A part of size 0 reads
// nothing.
bool partStartsInside(const OmbrixKeyPart &part, int32_t elementBytes) {
    if (part.partSize == 0) return true;
    int64_t span = part.levels == 1 ? part.partSize : kPointerKeyBytes;
    return part.offsets[0] >= 0 && part.offsets[0] + span <= elementBytes;
}

bool keyInsideElement(const OmbrixKeyDefinition &definition, int32_t length,
                      int32_t elementBytes) {
    if (elementBytes < 0) return true;  // kCallerOwnedElements
    if (definition.keyMode == OMBRIX_KEY_REFERENCE) return true;  // the address, nothing read
    if (definition.keyMode == OMBRIX_KEY_VARIABLE) return length <= elementBytes;
    for (int32_t i = 0; i < definition.keyPartCount; ++i)
        if (!partStartsInside(definition.keyParts[i], elementBytes)) return false;
    return true;
}

}  // namespace

int32_t keySearchLength(const OmbrixKeyDefinition &definition, int32_t keySize,
                        int32_t elementBytes) {
    if (!keyDefinitionUsable(definition)) return 0;
    int64_t length = keySize;
    if (definition.keyMode != OMBRIX_KEY_VARIABLE) {
        length = 0;
        for (int32_t i = 0; i < definition.keyPartCount; ++i)
            length += definition.keyParts[i].partSize;
    }
    if (length <= 0 || length > INT32_MAX) return 0;
    auto n = static_cast<int32_t>(length);
    return keyInsideElement(definition, n, elementBytes) ? n : 0;
}

KeySearch::KeySearch(QVWord *pool, const OmbrixKeyDefinition &definition, const void *key,
                     int32_t length)
    : pool_(pool), definition_(definition), length_(length), searched_(nullptr),
      candidate_(nullptr) {
    uint64_t bytes = static_cast<uint64_t>(length);
    if (bytes < kPointerKeyBytes) bytes = kPointerKeyBytes;
    searched_ = poolAllocateZeroed(pool, bytes);
    if (searched_) candidate_ = poolAllocateZeroed(pool, bytes);
    if (!candidate_) {
        poolFree(pool, searched_);
        searched_ = nullptr;
        return;
    }
    ombrixGetKey(&definition_, 0, key, searched_, length_);
}

KeySearch::~KeySearch() {
    poolFree(pool_, candidate_);
    poolFree(pool_, searched_);
}

bool KeySearch::matches(const void *element, int64_t recordedKeySize) {
    if (!element) return false;
    if (definition_.keyMode == OMBRIX_KEY_VARIABLE && recordedKeySize != length_) return false;
    ombrixGetKey(&definition_, 1, element, candidate_, length_);
    return qvmemcmp(candidate_, searched_, static_cast<uint64_t>(length_)) == 0;
}

}  // namespace omb
