// The statistics' temporary map, shared by the hash map's and the tree's.
#pragma once

#include <cstdint>

#include "ombrix/hash_map.h"

namespace omb {

// A chained map keyed by one signed 32-bit field at the start of the item,
// iterated in key order, with an unlocked pool when it makes its own, and
// values held by `valueMode`.
OmbrixHashMapParms countingMapParms(uint32_t valueMode);

}  // namespace omb
