// The elements of the lists: their size, and for the array list and the thin
// array list, how the array grows and how an element goes into its slot.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/host_calls.h"
#include "ombrix/container.h"

namespace omb {

// A list's element size: the item pointer's own 8 bytes by reference, else
// the key size. A negative one gives nothing to lay out or copy elements by,
// and the list is refused.
inline int32_t elementSizeFor(uint32_t keyType, int32_t keySize) {
    return keyType == OMBRIX_BY_REFERENCE ? 8 : keySize;
}

// The slot count after a full array of `capacity` slots: half as many again
// plus one, so that appends stay amortised constant time (16 -> 25 -> 38 ->
// 58, 8 -> 13 -> 20). 0 when the count would leave the signed 32-bit range.
inline int32_t halfAgainPlusOne(int32_t capacity) {
    int64_t grown = static_cast<int64_t>(capacity) * 3 / 2 + 1;
    return grown > INT32_MAX ? 0 : static_cast<int32_t>(grown);
}

// Bytes of `slots` slots of `slotSize` bytes; both are non-negative.
inline uint64_t slotBytes(int32_t slots, int32_t slotSize) {
    return static_cast<uint64_t>(slots) * static_cast<uint64_t>(slotSize);
}

// A larger array that holds the `used` slots of `old` followed by zeros:
// what a zero-filled block with the old slots copied in holds. The block is
// asked for without the zero flag and only the slots past the copy are
// cleared, so growth writes each byte once. Null when refused.
inline void *allocateGrownSlots(QVWord *pool, const void *old, int32_t used, int32_t slots,
                                int32_t slotSize) {
    uint64_t bytes = slotBytes(slots, slotSize);
    uint64_t kept = slotBytes(used, slotSize);
    auto *block = static_cast<unsigned char *>(poolAllocate(pool, bytes, 0));
    if (!block) return nullptr;
    if (kept) std::memcpy(block, old, kept);
    std::memset(block + kept, 0, bytes - kept);
    return block;
}

// An add may be handed one of the list's own elements, as Get returns it.
// Its byte offset in `slots` (-1 for an item elsewhere) lets the add read it
// where it is once the array has grown or the tail has moved up.
inline int64_t offsetInSlots(const void *item, const void *slots, int32_t used, int32_t slotSize) {
    uint64_t offset = reinterpret_cast<uintptr_t>(item) - reinterpret_cast<uintptr_t>(slots);
    return offset < slotBytes(used, slotSize) ? static_cast<int64_t>(offset) : -1;
}

// Puts an element into its slot: by reference the item pointer's own 8
// bytes, by value `size` bytes copied from the item. The common 8-byte
// element is one move rather than a call.
inline void storeSlot(void *slot, const void *item, bool byReference, int32_t size) {
    if (byReference)
        std::memcpy(slot, &item, sizeof item);
    else if (size == 8)
        std::memcpy(slot, item, 8);
    else
        std::memcpy(slot, item, static_cast<size_t>(size));
}

}  // namespace omb
