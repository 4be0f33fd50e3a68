// Calls into the QV host through the slots of its objects.
//
// Every host object is a table of 8-byte words; these helpers are the only
// place that turns a slot into a typed call, so no other source reads a slot
// by number.
#pragma once

#include <cstdarg>
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

// Handle.

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

// The host's text services object, or null when there is no host or it
// offers none.
inline QVWord *hostTextServices(QVWord *host) {
    return host ? slotValue<QVWord *>(host, QV_HOST_TEXT_SERVICES) : nullptr;
}

// The word in which the host keeps the context for callers that bring
// none, or null when the host keeps no such word.
inline void **hostDefaultMessageContextWord(QVWord *host) {
    return host ? slotValue<void **>(host, QV_HOST_DEFAULT_MSG_CONTEXT) : nullptr;
}

// The handle a message context belongs to, reached through its owner.
inline QVWord *messageContextHost(void *context) {
    QVWord *owner = slotValue<QVWord *>(static_cast<QVWord *>(context), QV_MSG_CONTEXT_OWNER);
    return slotValue<QVWord *>(owner, QV_MSG_OWNER_HANDLE);
}

// The transcoder of the host's conversion services, or null when the host
// has none.
inline QVWord *hostTranscoder(QVWord *host) {
    QVWord *conversion = host ? slotValue<QVWord *>(host, QV_HOST_CONVERSION_SERVICES) : nullptr;
    return conversion ? slotValue<QVWord *>(conversion, QV_CONVERSION_TRANSCODER) : nullptr;
}

// Pools and locks.

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

inline void lockRelease(QVWord *lock) {
    slotFunction<QVLockReleaseFn>(lock, QV_LOCK_RELEASE)(lock);
}

inline void lockDestroy(QVWord *lock) {
    if (lock) slotFunction<QVLockDestroyFn>(lock, QV_LOCK_DESTROY)(lock);
}

inline QVStatus transcode(QVWord *transcoder, const void *source, int64_t sourceBytes,
                          void *destination, int64_t capacity, int64_t *outBytes,
                          const void *options) {
    return slotFunction<QVTranscodeFn>(transcoder, QV_TRANSCODER_CONVERT)(
        transcoder, source, sourceBytes, destination, capacity, outBytes, options);
}

// Journals and the handle's message services: the values go on as given,
// the trailing arguments as one list.

inline QVStatus journalMessageToBuf(QVWord *journal, uintptr_t v1, uintptr_t v2, uintptr_t v3,
                                    uintptr_t v4, uintptr_t v5, va_list ap) {
    return slotFunction<QVJournalMessageToBufFn>(journal, QV_JOURNAL_MESSAGE_TO_BUF)(
        journal, v1, v2, v3, v4, v5, ap);
}

inline QVStatus journalMessageToJnl(QVWord *journal, uintptr_t v1, uintptr_t v2, uintptr_t v3,
                                    va_list ap) {
    return slotFunction<QVJournalMessageToJnlFn>(journal, QV_JOURNAL_MESSAGE_TO_JNL)(journal, v1,
                                                                                      v2, v3, ap);
}

inline QVStatus journalStatusToBuf(QVWord *journal, uintptr_t v1, uintptr_t v2, uintptr_t v3,
                                   uintptr_t v4, va_list ap) {
    return slotFunction<QVJournalStatusToBufFn>(journal, QV_JOURNAL_STATUS_TO_BUF)(
        journal, v1, v2, v3, v4, ap);
}

inline QVStatus journalStatusToJnl(QVWord *journal, uintptr_t v1, uintptr_t v2, va_list ap) {
    return slotFunction<QVJournalStatusToJnlFn>(journal, QV_JOURNAL_STATUS_TO_JNL)(journal, v1,
                                                                                    v2, ap);
}

inline QVStatus journalGetLocale(QVWord *journal, uintptr_t v1, uintptr_t v2, uintptr_t v3,
                                 uintptr_t v4) {
    return slotFunction<QVJournalGetLocaleFn>(journal, QV_JOURNAL_GET_LOCALE)(journal, v1, v2, v3,
                                                                              v4);
}

inline QVStatus hostCapture(QVWord *host, uintptr_t v1, uintptr_t v2, va_list ap) {
    return slotFunction<QVCaptureFn>(host, QV_HOST_CAPTURE)(host, v1, v2, ap);
}

inline QVStatus hostFormatBuff(QVWord *host, void *context, const QVChar *format,
                               int32_t formatLength, QVChar *out, int32_t capacity,
                               int32_t *outLength, va_list ap) {
    return slotFunction<QVFormatBuffFn>(host, QV_HOST_FORMAT_BUFF)(
        host, context, format, formatLength, out, capacity, outLength, 0, ap);
}

inline QVStatus hostRender(QVWord *host, void *context, uintptr_t v1, uintptr_t v2) {
    return slotFunction<QVRenderFn>(host, QV_HOST_RENDER)(host, context, v1, v2);
}

inline QVStatus hostRenderFmt(QVWord *host, void *context, uintptr_t v1, uintptr_t v2,
                              uintptr_t v3, va_list ap) {
    return slotFunction<QVRenderFmtFn>(host, QV_HOST_RENDER_FMT)(host, context, v1, v2, v3, ap);
}

inline QVStatus hostStatusBuff(QVWord *host, void *context, QVStatus status, uintptr_t v1,
                               uintptr_t v2, uintptr_t v3, va_list ap) {
    return slotFunction<QVStatusBuffFn>(host, QV_HOST_STATUS_BUFF)(host, context, status, v1, v2,
                                                                   v3, ap);
}

// Text services.

inline QVCaseMapFn textToUpper(QVWord *services) {
    return slotFunction<QVCaseMapFn>(services, QV_TEXT_TO_UPPER);
}

inline QVCaseMapFn textToLower(QVWord *services) {
    return slotFunction<QVCaseMapFn>(services, QV_TEXT_TO_LOWER);
}

inline int32_t textCharProperty(QVWord *services, QVChar c, int32_t property) {
    return slotFunction<QVCharPropertyFn>(services, QV_TEXT_CHAR_PROPERTY)(services, c, property);
}

// The word in which the services keep the "qvnlsudb" extension once a
// caller has loaded it: read with acquire and written with release, as
// threads may race to fill it.
inline void *textLoadedNlsData(QVWord *services) {
    return __atomic_load_n(&services[QV_TEXT_NLSUDB_EXTENSION], __ATOMIC_ACQUIRE);
}

inline void textKeepNlsData(QVWord *services, void *extension) {
    __atomic_store_n(&services[QV_TEXT_NLSUDB_EXTENSION], extension, __ATOMIC_RELEASE);
}

// An extension loaded by name through the services' loader; null when the
// services have no loader or it knows no such name.
inline void *textLoadExtension(QVWord *services, const QVChar *name, int32_t length) {
    QVWord *loader = slotValue<QVWord *>(services, QV_TEXT_EXTENSION_LOADER);
    if (!loader) return nullptr;
    return slotFunction<QVLoadExtensionFn>(loader, QV_LOADER_LOAD)(loader, name, length, 0);
}

// The services' current normaliser, or a new one from them (the host keeps
// what it makes).
inline QVWord *textNormalizer(QVWord *services) {
    if (auto *current = slotValue<QVWord *>(services, QV_TEXT_CURRENT_NORMALIZER)) return current;
    return slotFunction<QVCreateNormalizerFn>(services, QV_TEXT_CREATE_NORMALIZER)(services);
}

inline QVStatus normalize(QVWord *normalizer, const void *src, int64_t srcLength, void *dst,
                          int64_t capacity, int64_t *written, int32_t form, int32_t options) {
    return slotFunction<QVNormalizeFn>(normalizer, QV_NORMALIZER_NORMALIZE)(
        normalizer, src, srcLength, dst, capacity, written, form, options);
}

inline QVStatus normalizedCompare(QVWord *normalizer, const void *a, int64_t aLength,
                                  const void *b, int64_t bLength, int32_t form, int32_t *result) {
    return slotFunction<QVNormCompareFn>(normalizer, QV_NORMALIZER_COMPARE)(
        normalizer, a, aLength, b, bLength, form, result);
}

// One operation of a caller's formatting object (QV_FORMATTER_ slots).
static_assert(QV_FORMATTER_TO_ULONG == 90 && QV_FORMATTER_TO_TIME == 100, "formatter slots");
template <int Slot, typename... Args>
inline QVStatus formatterCall(QVWord *formatter, Args... args) {
    return slotFunction<QVStatus (*)(QVWord *, Args...)>(formatter, Slot)(formatter, args...);
}

}  // namespace omb
