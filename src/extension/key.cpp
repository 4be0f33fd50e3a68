// Key extraction, shared by the lists and the hash map.
#include <cstring>

#include "ombrix/container.h"
#include "export.h"

namespace {

// Follows a part's access path: the first offset lies inside the item, every
// further level reads the pointer found so far and offsets from it.
const unsigned char *fieldAddress(const void *item, const OmbrixKeyPart &part) {
    const unsigned char *address = static_cast<const unsigned char *>(item) + part.offsets[0];
    int32_t levels = part.levels > OMBRIX_MAX_LEVELS ? OMBRIX_MAX_LEVELS : part.levels;
    for (int32_t level = 1; level < levels; ++level) {
        const unsigned char *next;
        std::memcpy(&next, address, sizeof next);
        address = next + part.offsets[level];
    }
    return address;
}

}  // namespace

extern "C" OMBRIX_API void ombrixGetKey(const OmbrixKeyDefinition *keyDefinition, uint8_t extract,
                                        const void *item, void *keyBuffer, int32_t keySize) {
    if (keyDefinition->keyMode == OMBRIX_KEY_REFERENCE) {
        std::memcpy(keyBuffer, &item, sizeof item);  // identity: the pointer's own 8 bytes
        return;
    }
    if (!extract || keyDefinition->keyMode == OMBRIX_KEY_VARIABLE) {
        if (keySize > 0) std::memcpy(keyBuffer, item, static_cast<size_t>(keySize));
        return;
    }
    auto *out = static_cast<unsigned char *>(keyBuffer);
    for (int32_t i = 0; i < keyDefinition->keyPartCount; ++i) {
        const OmbrixKeyPart &part = keyDefinition->keyParts[i];
        if (part.partSize <= 0) continue;
        std::memcpy(out, fieldAddress(item, part), static_cast<size_t>(part.partSize));
        out += part.partSize;
    }
}
