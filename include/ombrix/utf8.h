/* ombrix: UTF-8 text held as byte strings.
 *
 * Strings come as a pointer and a length in bytes unless a routine says it
 * takes a zero-terminated string. Lengths and sizes only look at lead bytes
 * through the tables below; nothing here allocates memory.
 *
 * Character counts step from lead byte to lead byte:
 *   - UTF8_SLEN / UTF8_SLENB advance by the length the lead byte announces,
 *     whatever the following bytes are (a continuation byte counts as a
 *     one-byte unit);
 *   - qvzsu8NumChars / qvzsu8ByteLength / qvzsu8Lengths take after a lead
 *     byte only as many of the announced continuation bytes as are really
 *     there, so a stray or invalid byte is one character. */
#ifndef OMBRIX_UTF8_H
#define OMBRIX_UTF8_H

#include <stdint.h>

#include "ombrix/host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Sequence length announced by a lead byte: 1 for 0x00-0xBF (continuation
 * bytes included), 2 for 0xC0-0xDF, 3 for 0xE0-0xEF, 4 for 0xF0-0xF7, 5 for
 * 0xF8-0xFB and 6 for 0xFC-0xFF. */
extern const uint8_t _utf8_len[256];
/* 1 for a continuation byte 0x80-0xBF. */
extern const uint8_t valid_2nd_utf8[256];
/* 1 for a byte that may start a character: 0x00-0x7F and 0xC2-0xF4. */
extern const uint8_t valid_1st_utf8[256];

/* Characters of a zero-terminated string; 0 for null. A sequence that the
 * terminator cuts short counts as one character and ends the count. */
uint64_t UTF8_SLEN(const char *s);
/* Characters in the first n bytes. */
uint64_t UTF8_SLENB(const char *s, uint64_t n);
/* UTF8_BLENB over the bytes before the terminator; 0 for null. */
uint64_t UTF8_BLEN(const char *s);
/* The longest length up to n that does not end inside a character; 0 when
 * the last lead byte cannot start a character. */
uint64_t UTF8_BLENB(const char *s, uint64_t n);
/* _utf8_len of the byte at p. */
int32_t utf8_len(const char *p);

/* Size in bytes of the character at p: the announced length, cut short at
 * the first byte that is not a continuation byte. When `valid` is given it
 * receives 1 when the lead byte may start a character, all continuation
 * bytes are there and the second byte is in range (A0-BF after E0, 80-9F
 * after ED, 90-BF after F0), else 0. */
uint64_t qvzsu8CharSize(const char *p, uint8_t *valid);
uint64_t _U8CharSize(const char *p, int32_t *valid);
/* Just past the character at p. */
const char *qvzsu8NextChar(const char *p);
/* Characters in n bytes; bytes taken by `count` characters. */
uint64_t qvzsu8NumChars(const char *s, uint64_t n);
uint64_t qvzsu8ByteLength(const char *s, uint64_t count);
/* Character and byte count of a zero-terminated string, each written when
 * its pointer is given; a null string writes nothing. */
void qvzsu8Lengths(const char *s, uint64_t *chars, uint64_t *bytes);

/* Byte order: -1, 0 or 1, a proper prefix ordering first. The last
 * argument of the Text forms is not used. */
int32_t qvzsu8CompareText(const char *a, uint64_t an, const char *b, uint64_t bn, int64_t ignored);
int32_t qvzsu8Compare(const char *a, uint64_t an, const char *b, uint64_t bn);
/* Case-insensitive order with case as the tie-break; trailing blanks of the
 * longer string do not count. -2 / 2: different; -1 / 1: equal apart from
 * case, signed by the first difference; 0: equal. */
int32_t qvzsu8NormCompareText(const char *a, uint64_t an, const char *b, uint64_t bn,
                              int64_t ignored);
int32_t qvzsu8NormCompare(const char *a, uint64_t an, const char *b, uint64_t bn);
/* 1 when equal after lower-casing every character, else 0; trailing blanks
 * count. */
int32_t qvzsu8NormEqualText(const char *a, uint64_t an, const char *b, uint64_t bn,
                            int64_t ignored);
int32_t qvzsu8NormEqual(const char *a, uint64_t an, const char *b, uint64_t bn);

/* The code point of the character at p, as `classify` sees it. */
int32_t _QVZSU8IsFunct(const char *p, int32_t (*classify)(QVChar));
/* 1 when the character at p combines with the one before it: U+200C and
 * U+200D always, others as the host's text services say (0 without them).
 * The first question loads the host extension "qvnlsudb" into the text
 * services. */
int32_t qvzsu8IsCombining(const char *p);

/* Status codes of the conversions. */
#define OMBRIX_UTF8_OUTPUT_FULL 0x803fe807u
#define OMBRIX_UTF8_REPLACED 0x803fe808u

/* Flags of qvzsu8Encode and qvzsu8Decode. */
#define OMBRIX_U8_ZERO_AS_PAIR 0x1u         /* U+0000 as C0 80; surrogate pairs */
#define OMBRIX_U8_REPLACE_SUPPLEMENTARY 0x4u /* without 0x1: U+FFFD above U+FFFF
                                                (Decode: a plain copy) */

/* Standard UTF-8 into the host's modified form: characters above U+FFFF as
 * two three-byte surrogates (or U+FFFD), U+0000 as C0 80 when asked.
 * Malformed sequences become U+FFFD (EF BF BD) and the result
 * OMBRIX_UTF8_REPLACED; a character that does not fit ends the output with
 * OMBRIX_UTF8_OUTPUT_FULL. `written` receives the bytes written in every
 * case. */
QVStatus qvzsu8Encode(const char *src, uint64_t n, char *dst, uint64_t cap, uint64_t *written,
                      uint32_t flags);
/* The modified form back: surrogate pairs joined, C0 80 as U+0000 when
 * asked. */
QVStatus qvzsu8Decode(const char *src, uint64_t n, char *dst, uint64_t cap, uint64_t *written,
                      uint32_t flags);

/* Copies the longest prefix of min(sn, dn) bytes that does not split a
 * character into a field of dn bytes, padded with blanks; a null source
 * gives a field of blanks. Returns the bytes copied. Overlap is allowed. */
uint64_t qvzsu8CopyText(const char *src, uint64_t sn, int64_t ignored, char *dst, uint64_t dn);
uint64_t qvzsu8Copy(const char *src, uint64_t sn, char *dst, uint64_t dn);
/* The length without trailing blanks: mode 0 U+0020 only; mode 2 the
 * Unicode space separators (U+0020, U+00A0, U+1680, U+2000-U+200A, U+2028,
 * U+2029, U+202F, U+205F, U+3000); any other mode those and U+0009-U+000D
 * and U+0085. */
uint64_t qvzsu8StripBlanks(const char *s, uint64_t n, int32_t mode);

/* The host's normaliser (the text services' current one, or a new one from
 * them): its arguments pass through unchanged and their meaning is the
 * host's. Without a normaliser: 0x803fc002 (Compare and Equal store it in
 * `status` when given and return 0). */
QVStatus qvzsu8ICUNormalize(const void *src, int64_t srcLength, void *dst, int64_t capacity,
                            int64_t *written, int32_t form, int32_t options);
int32_t qvzsu8ICUNormCompare(const void *a, int64_t aLength, const void *b, int64_t bLength,
                             int32_t form, QVStatus *status);
int32_t qvzsu8ICUNormEqual(const void *a, int64_t aLength, const void *b, int64_t bLength,
                           int32_t form, QVStatus *status);

/* Forwarders to a formatting object the caller supplies: each calls the
 * object's operation of the same purpose with its arguments unchanged and
 * returns its result; what the arguments mean is the object's. */
QVStatus qvzsu8ToDouble(QVWord *formatter, const char *s, uint64_t n, double *out,
                        uint64_t *consumed, uintptr_t replacedByZero);
QVStatus qvzsu8DoubleFormat(QVWord *formatter, double value, char *dst, uint64_t capacity,
                            uint64_t *written, const char *pattern, uintptr_t seventh);
QVStatus qvzsu8IntfastFormat(QVWord *formatter, int_fast64_t value, char *dst,
                             uint64_t capacity, uint64_t *written, const char *pattern);
QVStatus qvzsu8IntmaxFormat(QVWord *formatter, intmax_t value, char *dst, uint64_t capacity,
                            uint64_t *written, const char *pattern);
QVStatus qvzsu8UintfastFormat(QVWord *formatter, uint_fast64_t value, char *dst,
                              uint64_t capacity, uint64_t *written, const char *pattern);
QVStatus qvzsu8UintmaxFormat(QVWord *formatter, uintmax_t value, char *dst, uint64_t capacity,
                             uint64_t *written, const char *pattern);
QVStatus qvzsu8ToIntfast(QVWord *formatter, const char *s, uint64_t n, int_fast64_t *out,
                         uint64_t *consumed);
QVStatus qvzsu8ToIntmax(QVWord *formatter, const char *s, uint64_t n, intmax_t *out,
                        uint64_t *consumed);
QVStatus qvzsu8ToUintfast(QVWord *formatter, const char *s, uint64_t n, uint_fast64_t *out,
                          uint64_t *consumed);
QVStatus qvzsu8ToUintmax(QVWord *formatter, const char *s, uint64_t n, uintmax_t *out,
                         uint64_t *consumed);
QVStatus qvzsu8IntFormat(QVWord *formatter, int32_t value, char *dst, uint64_t capacity,
                         uint64_t *written, const char *pattern);
QVStatus qvzsu8UIntFormat(QVWord *formatter, uint32_t value, char *dst, uint64_t capacity,
                          uint64_t *written, const char *pattern);
QVStatus qvzsu8ToInt(QVWord *formatter, const char *s, uint64_t n, int32_t *out,
                     uint64_t *consumed);
QVStatus qvzsu8ToUInt(QVWord *formatter, const char *s, uint64_t n, uint32_t *out,
                      uint64_t *consumed);
QVStatus qvzsu8LongFormat(QVWord *formatter, int64_t value, char *dst, uint64_t capacity,
                          uint64_t *written, const char *pattern);
QVStatus qvzsu8ULongFormat(QVWord *formatter, uint64_t value, char *dst, uint64_t capacity,
                           uint64_t *written, const char *pattern);
QVStatus qvzsu8ToLong(QVWord *formatter, const char *s, uint64_t n, int64_t *out,
                      uint64_t *consumed);
QVStatus qvzsu8ToULong(QVWord *formatter, const char *s, uint64_t n, uint64_t *out,
                       uint64_t *consumed);
/* Dates and times travel as the formatter's own records. */
QVStatus qvzsu8DatetimeFormat(QVWord *formatter, const void *value, char *dst,
                              uint64_t capacity, uint64_t *written, const char *pattern);
QVStatus qvzsu8DateFormat(QVWord *formatter, const void *value, char *dst, uint64_t capacity,
                          uint64_t *written, const char *pattern);
QVStatus qvzsu8TimeFormat(QVWord *formatter, const void *value, char *dst, uint64_t capacity,
                          uint64_t *written, const char *pattern);
QVStatus qvzsu8ToDatetime(QVWord *formatter, const char *s, uint64_t n, void *out,
                          uint64_t *consumed, const char *pattern);
QVStatus qvzsu8ToDate(QVWord *formatter, const char *s, uint64_t n, void *out,
                      uint64_t *consumed, const char *pattern);
QVStatus qvzsu8ToTime(QVWord *formatter, const char *s, uint64_t n, void *out,
                      uint64_t *consumed, const char *pattern);

#ifdef __cplusplus
}
#endif

#endif
