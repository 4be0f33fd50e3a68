// Calls into the QV host through the slots of its objects.
//
// Every host object is a table of 8-byte words; these helpers are the only
// place that turns a slot into a typed call, so no other source reads a slot
// by number.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ombrix/extension.h"
#include "ombrix/host.h"

namespace omb {

template <typename Fn>
inline Fn slotFunction(QVWord *object, int slot) {
    return reinterpret_cast<Fn>(object[slot]);
}

template <typename T>
inline T slotValue(QVWord *object, int slot) {
    return reinterpret_cast<T>(object[slot]);
}

inline QVWord *currentHost() { return Exported_QVHandle; }

inline QVWord *hostDefaultJournal(QVWord *host) {
    return host ? slotValue<QVWord *>(host, QV_HOST_DEFAULT_JOURNAL) : nullptr;
}

inline QVWord *hostCreatePool(QVWord *host, const QVPoolOptions &options, QVWord *journal,
                              const char *name) {
    if (!host) return nullptr;
    void *pool = slotFunction<QVCreatePoolFn>(host, QV_HOST_CREATE_POOL)(host, &options, journal,
                                                                          name);
    return static_cast<QVWord *>(pool);
}

inline QVWord *hostCreateLock(QVWord *host, const QVLockOptions &options) {
    if (!host) return nullptr;
    void *lock = slotFunction<QVCreateLockFn>(host, QV_HOST_CREATE_LOCK)(host, &options, 0, 0);
    return static_cast<QVWord *>(lock);
}

inline void *poolAllocate(QVWord *pool, uint64_t size, uint32_t flags) {
    return slotFunction<QVPoolAllocateFn>(pool, QV_POOL_ALLOCATE)(pool, size, flags);
}

inline void *poolAllocateZeroed(QVWord *pool, uint64_t size) {
    return poolAllocate(pool, size, QV_ALLOC_ZERO);
}

inline void poolFree(QVWord *pool, void *block) {
    if (block) slotFunction<QVPoolFreeFn>(pool, QV_POOL_FREE)(pool, block);
}

inline void poolDestroy(QVWord *pool) {
    if (pool) slotFunction<QVPoolDestroyFn>(pool, QV_POOL_DESTROY)(pool);
}

inline void lockAcquire(QVWord *lock) {
    slotFunction<QVLockAcquireFn>(lock, QV_LOCK_ACQUIRE)(lock, 1, 1);
}

inline void lockRelease(QVWord *lock) { slotFunction<QVLockReleaseFn>(lock, QV_LOCK_RELEASE)(lock); }

inline void lockDestroy(QVWord *lock) {
    if (lock) slotFunction<QVLockDestroyFn>(lock, QV_LOCK_DESTROY)(lock);
}

// The transcoder of the host's conversion services, or null when the host
// has none.
inline QVWord *hostTranscoder(QVWord *host) {
    QVWord *conversion = host ? slotValue<QVWord *>(host, QV_HOST_CONVERSION_SERVICES) : nullptr;
    return conversion ? slotValue<QVWord *>(conversion, QV_CONVERSION_TRANSCODER) : nullptr;
}

inline QVStatus transcode(QVWord *transcoder, const void *source, int64_t sourceBytes,
                          void *destination, int64_t capacity, int64_t *outBytes,
                          const void *options) {
    return slotFunction<QVTranscodeFn>(transcoder, QV_TRANSCODER_CONVERT)(
        transcoder, source, sourceBytes, destination, capacity, outBytes, options);
}

}  // namespace omb
