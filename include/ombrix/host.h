/* ombrix: the interface of the QV host kernel as the library sees it.
 *
 * A host object is a table of 8-byte words counted from 0. An operation is
 * called through its slot with the object as first argument; a few slots hold
 * a value instead of an operation. Only the slots named here are ever read:
 * a host may trap on any other. */
#ifndef OMBRIX_HOST_H
#define OMBRIX_HOST_H

#include <stdarg.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t QVChar;   /* one UTF-32 code unit */
typedef uint32_t QVStatus; /* 0 is success */
typedef void *QVWord;      /* one slot of a host object */

/* Host handle slots. */
enum {
    QV_HOST_CREATE_LOCK = 3,
    QV_HOST_CREATE_POOL = 6,
    QV_HOST_FIND_EXTENSION = 9,
    QV_HOST_DEFAULT_JOURNAL = 26,      /* value: a journal or null */
    QV_HOST_TEXT_SERVICES = 27,        /* value: an object or null */
    QV_HOST_DEFAULT_MSG_CONTEXT = 35,  /* value: a word holding the context, or null */
    QV_HOST_CONVERSION_SERVICES = 43,  /* value: an object whose word 2 is the transcoder */
    QV_HOST_CAPTURE = 229,
    QV_HOST_FORMAT_BUFF = 230,
    QV_HOST_RENDER = 231,
    QV_HOST_RENDER_FMT = 232,
    QV_HOST_STATUS_BUFF = 233,
    QV_HOST_SLOT_COUNT = 256
};

/* Message context words: a context's word 3 is its owner, whose word 5 is
 * the handle the context belongs to. */
enum {
    QV_MSG_CONTEXT_OWNER = 3,
    QV_MSG_OWNER_HANDLE = 5
};

/* Pool, lock, journal and transcoder slots. */
enum {
    QV_POOL_DESTROY = 2,
    QV_POOL_ALLOCATE = 3,
    QV_POOL_FREE = 4,
    QV_LOCK_DESTROY = 2,
    QV_LOCK_ACQUIRE = 3,
    QV_LOCK_RELEASE = 4,
    QV_JOURNAL_MESSAGE_TO_BUF = 4,
    QV_JOURNAL_MESSAGE_TO_JNL = 5,
    QV_JOURNAL_STATUS_TO_BUF = 6,
    QV_JOURNAL_STATUS_TO_JNL = 7,
    QV_JOURNAL_GET_LOCALE = 12,
    QV_CONVERSION_TRANSCODER = 2,
    QV_TRANSCODER_CONVERT = 4
};

/* Text services slots and words. */
enum {
    QV_TEXT_EXTENSION_LOADER = 5, /* value: a loader; its slot 9 loads by QVChar name */
    QV_TEXT_TO_UPPER = 31,
    QV_TEXT_TO_LOWER = 32,
    QV_TEXT_CREATE_NORMALIZER = 99,
    QV_TEXT_CHAR_PROPERTY = 136,
    QV_TEXT_CURRENT_NORMALIZER = 138,
    QV_TEXT_NLSUDB_EXTENSION = 179,
    QV_TEXT_SLOT_COUNT = 192,
    QV_LOADER_LOAD = 9,
    QV_NORMALIZER_NORMALIZE = 0,
    QV_NORMALIZER_COMPARE = 1
};

/* The slots of a caller's formatting object that the number, date and time
 * forwarders call, each with the forwarder's arguments after the object. */
enum {
    QV_FORMATTER_TO_DOUBLE = 71,
    QV_FORMATTER_DOUBLE_FORMAT = 74,
    QV_FORMATTER_INTFAST_FORMAT,
    QV_FORMATTER_INTMAX_FORMAT,
    QV_FORMATTER_UINTFAST_FORMAT,
    QV_FORMATTER_UINTMAX_FORMAT,
    QV_FORMATTER_TO_INTFAST,
    QV_FORMATTER_TO_INTMAX,
    QV_FORMATTER_TO_UINTFAST,
    QV_FORMATTER_TO_UINTMAX,
    QV_FORMATTER_INT_FORMAT,
    QV_FORMATTER_UINT_FORMAT,
    QV_FORMATTER_TO_INT,
    QV_FORMATTER_TO_UINT,
    QV_FORMATTER_LONG_FORMAT,
    QV_FORMATTER_ULONG_FORMAT,
    QV_FORMATTER_TO_LONG,
    QV_FORMATTER_TO_ULONG, /* 90 */
    QV_FORMATTER_DATETIME_FORMAT = 95,
    QV_FORMATTER_DATE_FORMAT,
    QV_FORMATTER_TIME_FORMAT,
    QV_FORMATTER_TO_DATETIME,
    QV_FORMATTER_TO_DATE,
    QV_FORMATTER_TO_TIME /* 100 */
};

/* The flag word of a pool allocation that asks for zero-filled memory. */
#define QV_ALLOC_ZERO 0x80000000u

/* Pool options: three 8-byte words; bit 0 of the first 32-bit member asks for
 * an unlocked pool. Lock options: three words, all zero. */
typedef struct QVPoolOptions {
    uint32_t flags;
    uint32_t reserved32;
    uint64_t reserved[2];
} QVPoolOptions;

typedef struct QVLockOptions {
    uint64_t reserved[3];
} QVLockOptions;

/* Operation types, the object first. */
typedef void *(*QVCreateLockFn)(QVWord *host, const QVLockOptions *options, int32_t a, int32_t b);
typedef void *(*QVCreatePoolFn)(QVWord *host, const QVPoolOptions *options, void *journal,
                                const char *name);
typedef void *(*QVFindExtensionFn)(QVWord *host, const QVChar *name, int32_t length, int32_t zero);

typedef void (*QVPoolDestroyFn)(QVWord *pool);
typedef void *(*QVPoolAllocateFn)(QVWord *pool, uint64_t size, uint32_t flags);
typedef void (*QVPoolFreeFn)(QVWord *pool, void *block);

typedef void (*QVLockDestroyFn)(QVWord *lock);
typedef void (*QVLockAcquireFn)(QVWord *lock, int32_t a, int32_t b);
typedef void (*QVLockReleaseFn)(QVWord *lock);

/* Journal services: the values are the host's to interpret. */
typedef QVStatus (*QVJournalMessageToBufFn)(QVWord *journal, uintptr_t v1, uintptr_t v2,
                                            uintptr_t v3, uintptr_t v4, uintptr_t v5, va_list ap);
typedef QVStatus (*QVJournalMessageToJnlFn)(QVWord *journal, uintptr_t v1, uintptr_t v2,
                                            uintptr_t v3, va_list ap);
typedef QVStatus (*QVJournalStatusToBufFn)(QVWord *journal, uintptr_t v1, uintptr_t v2,
                                           uintptr_t v3, uintptr_t v4, va_list ap);
typedef QVStatus (*QVJournalStatusToJnlFn)(QVWord *journal, uintptr_t v1, uintptr_t v2,
                                           va_list ap);
typedef QVStatus (*QVJournalGetLocaleFn)(QVWord *journal, ...);

/* Message services of the handle. `context` is either the address of a
 * two-word record {context, 0} or a context holder. */
typedef QVStatus (*QVCaptureFn)(QVWord *host, uintptr_t v1, uintptr_t v2, va_list ap);
typedef QVStatus (*QVFormatBuffFn)(QVWord *host, void *context, const QVChar *format,
                                   int32_t formatLength, QVChar *out, int32_t capacity,
                                   int32_t *outLength, uintptr_t zero, va_list ap);
typedef QVStatus (*QVRenderFn)(QVWord *host, void *context, uintptr_t v1, uintptr_t v2);
typedef QVStatus (*QVRenderFmtFn)(QVWord *host, void *context, uintptr_t v1, uintptr_t v2,
                                  uintptr_t v3, va_list ap);
typedef QVStatus (*QVStatusBuffFn)(QVWord *host, void *context, QVStatus status, uintptr_t v1,
                                   uintptr_t v2, uintptr_t v3, va_list ap);

/* Text services slots 31 and 32: one code point upper- or lower-cased, with
 * a mode the host interprets. The library passes 1 to map case; to fold for
 * ordering it passes 0 to slot 32. */
typedef QVChar (*QVCaseMapFn)(QVWord *textServices, QVChar codePoint, int32_t mode);
/* Text services slot 136: a property of one code point (56: whether it
 * combines). Slot 99 makes a normaliser; normaliser slot 0 normalises UTF-8
 * text into a form, slot 1 compares two texts in a form. */
typedef int32_t (*QVCharPropertyFn)(QVWord *textServices, QVChar codePoint, int32_t property);
typedef QVWord *(*QVCreateNormalizerFn)(QVWord *textServices);
typedef QVStatus (*QVNormalizeFn)(QVWord *normalizer, const void *src, int64_t srcLength,
                                  void *dst, int64_t capacity, int64_t *written, int32_t form,
                                  int32_t options);
typedef QVStatus (*QVNormCompareFn)(QVWord *normalizer, const void *a, int64_t aLength,
                                    const void *b, int64_t bLength, int32_t form,
                                    int32_t *result);
/* Loader slot 9, like handle slot 9. */
typedef void *(*QVLoadExtensionFn)(QVWord *loader, const QVChar *name, int32_t length,
                                   int32_t zero);

/* Transcoder slot 4: QVChar text to UTF-8; lengths in bytes. */
typedef QVStatus (*QVTranscodeFn)(QVWord *transcoder, const void *source, int64_t sourceBytes,
                                  void *destination, int64_t capacity, int64_t *outBytes,
                                  const void *options);

#ifdef __cplusplus
}
#endif

#endif
