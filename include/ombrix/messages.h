/* ombrix: thin wrappers over the host's message, journal and formatting
 * services, and three numeric routines.
 *
 * The wrappers format nothing themselves: each finds the host object, turns
 * its trailing arguments into one argument list and returns the host's result
 * unchanged. The plain qvz kind takes a context (which may be null); the kind
 * named with a 2 takes a context holder, a word that holds the context. */
#ifndef OMBRIX_MESSAGES_H
#define OMBRIX_MESSAGES_H

#include <stdarg.h>
#include <stdint.h>
#ifdef __cplusplus
#include <math.h>
#endif

#include "ombrix/host.h"

#ifdef __cplusplus
extern "C" {
#endif

QVStatus qvlMessageToBuf(QVWord *journal, uintptr_t v1, uintptr_t v2, uintptr_t v3, uintptr_t v4,
                         uintptr_t v5, ...);
QVStatus qvlMessageToJnl(QVWord *journal, uintptr_t v1, uintptr_t v2, uintptr_t v3, ...);
QVStatus qvlStatusToBuf(QVWord *journal, uintptr_t v1, uintptr_t v2, uintptr_t v3, uintptr_t v4,
                        ...);
QVStatus qvlStatusToJnl(QVWord *journal, uintptr_t v1, uintptr_t v2, ...);
/* Passes its four values on to the journal's locale operation. */
QVStatus qvlGetLocale(QVWord *journal, uintptr_t v1, uintptr_t v2, uintptr_t v3, uintptr_t v4);

QVStatus qvzCapture(QVWord *host, uintptr_t v1, uintptr_t v2, ...);
QVStatus qvzCaptureV(QVWord *host, uintptr_t v1, uintptr_t v2, va_list ap);

/* The host's buffer formatter: a QVChar format of formatLength units into
 * `out` of `capacity` units; *outLength receives the units written. */
QVStatus qvzFormatBuff(void *context, const QVChar *format, int32_t formatLength, QVChar *out,
                       int32_t capacity, int32_t *outLength, ...);
QVStatus qvzFormatBuffV(void *context, const QVChar *format, int32_t formatLength, QVChar *out,
                        int32_t capacity, int32_t *outLength, va_list ap);
QVStatus qvzFormat2Buff(void **holder, const QVChar *format, int32_t formatLength, QVChar *out,
                        int32_t capacity, int32_t *outLength, ...);
QVStatus qvzFormat2BuffV(void **holder, const QVChar *format, int32_t formatLength, QVChar *out,
                         int32_t capacity, int32_t *outLength, va_list ap);

QVStatus qvzRender(void *context, uintptr_t v1, uintptr_t v2);
QVStatus qvzRender2(void **holder, uintptr_t v1, uintptr_t v2);
QVStatus qvzRenderFmt(void *context, uintptr_t v1, uintptr_t v2, uintptr_t v3, ...);
QVStatus qvzRenderFmtV(void *context, uintptr_t v1, uintptr_t v2, uintptr_t v3, va_list ap);
QVStatus qvzRender2Fmt(void **holder, uintptr_t v1, uintptr_t v2, uintptr_t v3, ...);
QVStatus qvzRender2FmtV(void **holder, uintptr_t v1, uintptr_t v2, uintptr_t v3, va_list ap);

/* Status texts. With no context from the caller they use the host's default
 * message context, and return OMBRIX_E_NO_CONTEXT without calling the host
 * when its default word holds none; a host that keeps no such word is called
 * with the null context. The holder form leaves the default context in the
 * caller's holder and hands the host the holder as given, null included. */
QVStatus qvzStatusBuff(void *context, QVStatus status, uintptr_t v1, uintptr_t v2, uintptr_t v3,
                       ...);
QVStatus qvzStatusBuffV(void *context, QVStatus status, uintptr_t v1, uintptr_t v2, uintptr_t v3,
                        va_list ap);
QVStatus qvzStatus2Buff(void **holder, QVStatus status, uintptr_t v1, uintptr_t v2, uintptr_t v3,
                        ...);
QVStatus qvzStatus2BuffV(void **holder, QVStatus status, uintptr_t v1, uintptr_t v2,
                         uintptr_t v3, va_list ap);

/* div() of the C library: the quotient in the low, the remainder in the high
 * 32 bits. */
int64_t i32div(int32_t numerator, int32_t denominator);
/* The quotient truncated toward zero. */
int64_t intmdiv(int64_t numerator, int64_t denominator);
/* Exact for powers of two, log(x) * 1.4426950408889634 otherwise. The name
 * is the C library's: C++ sees the declaration of <math.h>, which the
 * library's definition matches. */
#ifndef __cplusplus
double log2(double x);
#endif

#ifdef __cplusplus
}
#endif

#endif
