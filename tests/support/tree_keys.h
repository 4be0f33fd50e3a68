// Key parts and tree parameters as the tree tests write them.
#pragma once

#include <cstdint>

#include "ombrix/tree.h"

// A part read in place from the item (one level) at `offset`.
inline OmbrixKeyPart directPart(uint32_t type, int32_t size, int32_t offset = 0,
                                uint32_t option = 0) {
    OmbrixKeyPart part{};
    part.partType = type;
    part.partSize = size;
    part.levels = 1;
    part.offsets[0] = offset;
    part.partOption = option;
    return part;
}

inline OmbrixTreeParms treeParms(uint32_t mode, OmbrixKeyPart *parts = nullptr, int32_t count = 0,
                                 int32_t perBlock = 0, uint8_t reverse = 0, uint32_t flags = 0) {
    OmbrixTreeParms parms{};
    parms.keyMode = mode;
    parms.keyPartCount = count;
    parms.keyParts = parts;
    parms.reverseOrder = reverse;
    parms.nodesPerBlock = perBlock;
    parms.flags = flags;
    return parms;
}
