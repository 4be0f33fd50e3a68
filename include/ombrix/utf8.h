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

#ifdef __cplusplus
}
#endif

#endif
