/* ombrix: memory and string primitives.
 *
 * The qv group mirrors the C library's memory routines and character case
 * functions. The yb group is the library's own: lengths, copies that accept
 * null pointers, scans, fills, ASCII case folding and a pool-backed
 * duplicate. Several yb routines take the source before the destination, or
 * the value before the buffer; the declarations give the order. Lengths are
 * unsigned 64-bit, indexes signed 64-bit with -1 for not found, and no
 * routine checks that a buffer holds as many bytes as its count says. */
#ifndef OMBRIX_PRIMITIVES_H
#define OMBRIX_PRIMITIVES_H

#include <stdint.h>

#include "ombrix/host.h"

#ifdef __cplusplus
extern "C" {
#endif

void *qvmemcpy(void *dst, const void *src, uint64_t n);
void *qvmemmove(void *dst, const void *src, uint64_t n);
int32_t qvmemcmp(const void *a, const void *b, uint64_t n);
/* Fills with the low 8 bits of c. */
void *qvmemset(void *dst, int32_t c, uint64_t n);
/* The first byte equal to the low 8 bits of c, or null. */
void *qvmemchr(const void *s, int32_t c, uint64_t n);
/* qvzstlo / qvzstup of a one-unit string. */
QVChar qvtolower(QVChar c);
QVChar qvtoupper(QVChar c);

/* Always OMBRIX_E_UNSUPPORTED. */
QVStatus ybUnsup(void);
/* Bytes (units) before the terminator; 0 for null. */
uint64_t ybStrLen(const char *s);
uint64_t ybStrTLen(const QVChar *s);
/* Copies src with its terminator; a null dst does nothing, a null src makes
 * dst empty. */
void ybStrCpy(const char *src, char *dst);
void ybStrTCpy(const QVChar *src, QVChar *dst);
/* ASCII case folding of n bytes in place; NULs and bytes of 0x80 and above
 * pass unchanged. */
void ybStrUp(char *buffer, uint64_t n);
void ybStrLow(char *buffer, uint64_t n);
/* 1 when all n bytes (units) equal c, n = 0 included; else 0. */
int32_t ybMemNot(uint8_t c, const void *buffer, uint64_t n);
int32_t ybMemTNot(QVChar c, const QVChar *buffer, uint64_t n);
void ybMemSet(void *buffer, uint8_t c, uint64_t n);
void ybMemTSet(QVChar *buffer, QVChar c, uint64_t n);
/* -1, 0 or +1: bytes as unsigned; units by the sign of a - b, wrapping. */
int32_t ybMemCmp(const void *a, const void *b, uint64_t n);
int32_t ybWMemCmp(const QVChar *a, const QVChar *b, uint64_t n);
/* Front to back: with dst inside (src, src + n) the first dst - src bytes
 * repeat through the destination. Returns dst. */
void *ybMemCpy(const void *src, void *dst, uint64_t n);
/* Correct for every overlap. */
void ybMemSCpy(const void *src, void *dst, uint64_t n);
/* n bytes of src in a block of `pool`; null when src or pool is null or the
 * pool refuses. */
void *ybMemDup(const void *src, uint64_t n, QVWord *pool);
/* Index of the first byte equal to c (ybMemScan) or different from c
 * (ybMemNScan, ybMemTNScan over units); -1 when none, for null or n = 0. */
int64_t ybMemScan(const void *buffer, uint64_t n, uint8_t c);
int64_t ybMemNScan(const void *buffer, uint64_t n, uint8_t c);
int64_t ybMemTNScan(const QVChar *buffer, uint64_t n, QVChar c);
/* 1 if any of the n doubles is a NaN (a missing value). */
int32_t ybMissArray(const double *values, uint64_t n);

#ifdef __cplusplus
}
#endif

#endif
