// Key extraction, shared by the lists and the hash map, and the rule for key
// parts every family checks before acting on them. The access path of a part
// is followed by keyFieldAddress (container.h), which the tree's key
// ordering uses too.
#include <cstring>

#include "ombrix/container.h"
#include "container.h"
#include "export.h"

namespace omb {

bool keyPartsUsable(const OmbrixKeyPart *parts, int32_t count) {
    if (count <= 0) return true;
    if (!parts) return false;
    for (int32_t i = 0; i < count; ++i) {
        const OmbrixKeyPart &part = parts[i];
        if (part.partSize < 0 || part.levels < 1 || part.levels > OMBRIX_MAX_LEVELS) return false;
    }
    return true;
}

}  // namespace omb

// Writes exactly the key length the definition implies (the part sizes'
// sum, the 8-byte pointer, or keySize for a plain copy) and nothing for a
// definition whose parts fail keyPartsUsable.
extern "C" OMBRIX_API void ombrixGetKey(const OmbrixKeyDefinition *keyDefinition, uint8_t extract,
                                        const void *item, void *keyBuffer, int32_t keySize) {
    if (!keyDefinition || !item || !keyBuffer || !omb::keyDefinitionUsable(*keyDefinition)) return;
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
        if (part.partSize == 0) continue;  // nothing to take, no path to follow
        std::memcpy(out, omb::keyFieldAddress(item, part), static_cast<size_t>(part.partSize));
        out += part.partSize;
    }
}
