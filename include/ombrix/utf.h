/* ombrix: UTF conversions.
 *
 * Readers decode one character from a byte buffer into a code point;
 * writers encode one code point into a byte buffer. The two drivers run a
 * reader and a writer over a whole buffer through UTF-32. Byte orders are
 * fixed by each routine's comment below, not by its name: COPY_UTF32 writes
 * big-endian, UTF32_UTF16 writes little-endian, and so on.
 *
 * Statuses: 0; OMBRIX_E_BUFFER_TOO_SMALL (0x803fe807, output full);
 * OMBRIX_E_INVALID_SEQUENCE (0x803fe808, input replaced by U+FFFD);
 * OMBRIX_E_TRUNCATED (0x803fe814, input ends inside a sequence).
 * Readers and writers take no locks and no memory. */
#ifndef OMBRIX_UTF_H
#define OMBRIX_UTF_H

#include <stdint.h>

#include "ombrix/container.h"
#include "ombrix/host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* (source, bytes available, out code point, out bytes consumed) */
typedef QVStatus (*OmbrixUtfReader)(const uint8_t *src, uint64_t available, QVChar *cp,
                                    uint64_t *consumed);
/* (code point, destination, bytes available, out bytes written) */
typedef QVStatus (*OmbrixUtfWriter)(QVChar cp, uint8_t *dst, uint64_t available,
                                    uint64_t *written);

/* Readers. On failure the code point is U+FFFD. UTF-32 readers take any
 * 4 bytes as they are; fewer than 4 bytes are consumed whole with
 * OMBRIX_E_TRUNCATED. UTF-16 readers: a lone low surrogate (2 bytes), or a
 * high surrogate followed by anything but a low one (4 bytes), is
 * OMBRIX_E_INVALID_SEQUENCE; a high surrogate cut off by the end consumes 1
 * byte with OMBRIX_E_TRUNCATED. */
QVStatus COPY_UTF32b(const uint8_t *src, uint64_t available, QVChar *cp, uint64_t *consumed);      /* UTF-32 BE */
QVStatus COPY_UTF32b_SWAP(const uint8_t *src, uint64_t available, QVChar *cp, uint64_t *consumed); /* UTF-32 LE */
QVStatus UTF16_UTF32(const uint8_t *src, uint64_t available, QVChar *cp, uint64_t *consumed);      /* UTF-16 BE */
QVStatus UTF16_UTF32_SWAP(const uint8_t *src, uint64_t available, QVChar *cp, uint64_t *consumed); /* UTF-16 LE */
/* UTF-8. Continuation bytes, overlongs and surrogates are not examined
 * (isLegalUTF8 does that); a rejected lead byte (80-C1, F5-FF) gives
 * OMBRIX_E_INVALID_SEQUENCE and swallows the continuation bytes that follow
 * it, up to the length it announces; a sequence cut off by the end consumes
 * all that is left with OMBRIX_E_TRUNCATED, and so does an empty input
 * (nothing consumed). */
QVStatus UTF8_UTF32(const uint8_t *src, uint64_t available, QVChar *cp, uint64_t *consumed);

/* Writers. Without room for the whole character they write nothing, set
 * `written` to 0 and return OMBRIX_E_BUFFER_TOO_SMALL. */
QVStatus COPY_UTF32(QVChar cp, uint8_t *dst, uint64_t available, uint64_t *written);        /* UTF-32 BE */
QVStatus COPY_UTF32_SWAP(QVChar cp, uint8_t *dst, uint64_t available, uint64_t *written);   /* UTF-32 LE */
QVStatus UTF32_UTF16(QVChar cp, uint8_t *dst, uint64_t available, uint64_t *written);       /* low 16 bits, LE */
QVStatus UTF32_UTF16_SWAP(QVChar cp, uint8_t *dst, uint64_t available, uint64_t *written);  /* low 16 bits, BE */
QVStatus UTF32_UTF16s(QVChar cp, uint8_t *dst, uint64_t available, uint64_t *written);      /* UTF-16 LE */
QVStatus UTF32_UTF16s_SWAP(QVChar cp, uint8_t *dst, uint64_t available, uint64_t *written); /* UTF-16 BE */
/* UTF-8 of up to 4 bytes; surrogates and values above 0x10FFFF pass. */
QVStatus UTF32_UTF8(QVChar cp, uint8_t *dst, uint64_t available, uint64_t *written);
/* UTF32_UTF8 of the low 16 bits of cp. */
QVStatus UTF16_UTF8(QVChar cp, uint8_t *dst, uint64_t available, uint64_t *written);

/* Unit readers. */
uint32_t Byte2DWord(const uint8_t *p);             /* LE */
uint32_t Byte2DWord_swap(const uint8_t *p);        /* BE */
uint16_t Byte2Word(const uint8_t *p);              /* LE */
uint16_t Byte2Word_swap(const uint8_t *p);         /* BE */
QVChar BYTE_UTF16_UTF32(const uint8_t *p);         /* BE */
QVChar BYTE_UTF16_UTF32_SWAP(const uint8_t *p);    /* LE */

/* Reads characters with `read` and writes each as one 4-byte unit with
 * `write` until the input, the room for whole units or a status ends it; a
 * character that fails to read is not written. `written` (optional) gets
 * 4 x units written. Note the reader comes before the writer. */
QVStatus ConvertToUTF32(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                        uint64_t *written, OmbrixUtfReader read, OmbrixUtfWriter write);
/* Reads n / 4 UTF-32 units with `read` (its status unused) and writes each
 * with `write` while capacity remains; `written` (optional) gets the bytes
 * written. Note the writer comes before the reader. */
QVStatus ConvertFromUTF32(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                          uint64_t *written, OmbrixUtfWriter write, OmbrixUtfReader read);

/* One UTF-8 character into one or two UTF-16 units in the processor's
 * order; any read failure stores U+FFFD in out[0] and returns
 * OMBRIX_E_INVALID_SEQUENCE, `consumed` as UTF8_UTF32 gives it. */
QVStatus UTF8_UTF16(const uint8_t *src, uint64_t available, uint16_t out[2], uint64_t *consumed);
/* Copies min(n, cap) bytes (the two buffers may overlap); `copied`
 * (optional) gets that count. OMBRIX_E_BUFFER_TOO_SMALL when n > cap. */
QVStatus COPY_UTF(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap, uint64_t *copied);
/* 1 when the sequence of len bytes (1 to 4; other lengths pass unexamined)
 * is legal UTF-8, else 0. `index` gets len, or the lowest position of a
 * byte that is not a continuation byte. */
int32_t isLegalUTF8(const uint8_t *s, int32_t len, int32_t *index);
/* UTF-8 bytes needed for count code points (1 to 4 each, every value above
 * U+FFFF taking 4); 0 for count <= 0. */
uint64_t GET_UTF8_LEN_FROM_QVCHAR(const QVChar *s, int64_t count);

#ifdef __cplusplus
}
#endif

#endif
