/* ombrix: the string buffer.
 *
 * A growable array of 8-bit text (UTF-8), always NUL-terminated: the bytes
 * from `length` on are zero. Pieces of text, integers and doubles are
 * appended; numbers go through the host's buffer formatter and its
 * transcoder, so they read as the host formats them.
 *
 * The appends share one status variable owned by the caller, so a chain of
 * them stops at the first failure and reports it once:
 *
 *   int32_t status = 0;
 *   OmbrixStringBuffer *b = stringBufferNew(pool, 0);
 *   b->addString(b, "n = ", 0, &status);
 *   b->addInt(b, n, &status);
 *   if (status != 0) ... (0x803fc002: out of memory, or the host's status)
 *
 * Every append does nothing, leaving the status as it is, when the buffer
 * is null or the status is already non-zero. A failed append leaves the
 * buffer exactly as it was. The buffer has no lock: one thread at a time. */
#ifndef OMBRIX_STRING_BUFFER_H
#define OMBRIX_STRING_BUFFER_H

#include <stdint.h>

#include "ombrix/host.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct OmbrixStringBuffer OmbrixStringBuffer;
struct OmbrixStringBuffer {
    uint64_t length;   /* bytes of text held */
    char *text;        /* capacity + 1 bytes; zero from length on */
    QVWord *pool;      /* the caller's pool */
    uint64_t capacity; /* bytes that fit before the array grows */

    /* Operations, in table order. Each append returns the buffer, for
     * chaining. */
    /* n bytes of piece; n = 0 takes the piece up to its NUL. */
    OmbrixStringBuffer *(*addString)(OmbrixStringBuffer *buffer, const char *piece, uint64_t n,
                                     int32_t *status);
    /* The value as the host formats "%ld". */
    OmbrixStringBuffer *(*addInt)(OmbrixStringBuffer *buffer, int32_t value, int32_t *status);
    /* The value by a QVChar format of formatLength units (0: 2 units); a
     * null format is "%f". */
    OmbrixStringBuffer *(*addDouble)(OmbrixStringBuffer *buffer, const QVChar *format,
                                     int32_t formatLength, int32_t *status, double value);
    /* Frees the object, and the text too when freeText is true; otherwise
     * the text stays readable in the pool until the pool goes. */
    void (*destroy)(OmbrixStringBuffer *buffer, uint8_t freeText);
    /* Empties the buffer; the capacity stays. */
    void (*reset)(OmbrixStringBuffer *buffer);
};

/* An empty buffer of `capacity` bytes (0: 32) from `pool`, which is
 * required; null when pool is null or out of memory. */
OmbrixStringBuffer *stringBufferNew(QVWord *pool, uint64_t capacity);

#ifdef __cplusplus
}
#endif

#endif
