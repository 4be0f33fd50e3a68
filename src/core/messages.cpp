// The message and status wrappers: each finds the host object, passes the
// caller's values on with the trailing arguments as one list, and returns
// the host's result unchanged. None of them formats anything itself.
#include <cstdarg>

#include "export.h"
#include "host_calls.h"
#include "ombrix/container.h"
#include "ombrix/messages.h"

namespace {

QVWord *hostOfContext(void *context) {
    return context ? omb::messageContextHost(context) : omb::currentHost();
}

// A holder is a word holding a context; an empty holder falls back to the
// handle the host gave us.
QVWord *hostOfHolder(void **holder) {
    if (holder && *holder) return hostOfContext(*holder);
    return omb::currentHost();
}

// What the plain kind hands the host in place of a bare context.
struct ContextRecord {
    void *context;
    void *reserved;
};

}  // namespace

extern "C" {

OMBRIX_API QVStatus qvlMessageToBuf(QVWord *journal, uintptr_t v1, uintptr_t v2, uintptr_t v3,
                                    uintptr_t v4, uintptr_t v5, ...) {
    va_list ap;
    va_start(ap, v5);
    QVStatus status = omb::journalMessageToBuf(journal, v1, v2, v3, v4, v5, ap);
    va_end(ap);
    return status;
}

OMBRIX_API QVStatus qvlMessageToJnl(QVWord *journal, uintptr_t v1, uintptr_t v2, uintptr_t v3,
                                    ...) {
    va_list ap;
    va_start(ap, v3);
    QVStatus status = omb::journalMessageToJnl(journal, v1, v2, v3, ap);
    va_end(ap);
    return status;
}

OMBRIX_API QVStatus qvlStatusToBuf(QVWord *journal, uintptr_t v1, uintptr_t v2, uintptr_t v3,
                                   uintptr_t v4, ...) {
    va_list ap;
    va_start(ap, v4);
    QVStatus status = omb::journalStatusToBuf(journal, v1, v2, v3, v4, ap);
    va_end(ap);
    return status;
}

OMBRIX_API QVStatus qvlStatusToJnl(QVWord *journal, uintptr_t v1, uintptr_t v2, ...) {
    va_list ap;
    va_start(ap, v2);
    QVStatus status = omb::journalStatusToJnl(journal, v1, v2, ap);
    va_end(ap);
    return status;
}

OMBRIX_API QVStatus qvlGetLocale(QVWord *journal, uintptr_t v1, uintptr_t v2, uintptr_t v3,
                                 uintptr_t v4) {
    return omb::journalGetLocale(journal, v1, v2, v3, v4);
}

OMBRIX_API QVStatus qvzCaptureV(QVWord *host, uintptr_t v1, uintptr_t v2, va_list ap) {
    return omb::hostCapture(host, v1, v2, ap);
}

OMBRIX_API QVStatus qvzCapture(QVWord *host, uintptr_t v1, uintptr_t v2, ...) {
    va_list ap;
    va_start(ap, v2);
    QVStatus status = qvzCaptureV(host, v1, v2, ap);
    va_end(ap);
    return status;
}

OMBRIX_API QVStatus qvzFormatBuffV(void *context, const QVChar *format, int32_t formatLength,
                                   QVChar *out, int32_t capacity, int32_t *outLength,
                                   va_list ap) {
    QVWord *host = hostOfContext(context);
    ContextRecord record = {context, nullptr};
    return omb::hostFormatBuff(host, &record, format, formatLength, out, capacity, outLength, ap);
}

OMBRIX_API QVStatus qvzFormatBuff(void *context, const QVChar *format, int32_t formatLength,
                                  QVChar *out, int32_t capacity, int32_t *outLength, ...) {
    va_list ap;
    va_start(ap, outLength);
    QVStatus status = qvzFormatBuffV(context, format, formatLength, out, capacity, outLength, ap);
    va_end(ap);
    return status;
}

OMBRIX_API QVStatus qvzFormat2BuffV(void **holder, const QVChar *format, int32_t formatLength,
                                    QVChar *out, int32_t capacity, int32_t *outLength,
                                    va_list ap) {
    QVWord *host = hostOfHolder(holder);
    return omb::hostFormatBuff(host, holder, format, formatLength, out, capacity, outLength, ap);
}

OMBRIX_API QVStatus qvzFormat2Buff(void **holder, const QVChar *format, int32_t formatLength,
                                   QVChar *out, int32_t capacity, int32_t *outLength, ...) {
    va_list ap;
    va_start(ap, outLength);
    QVStatus status = qvzFormat2BuffV(holder, format, formatLength, out, capacity, outLength, ap);
    va_end(ap);
    return status;
}

OMBRIX_API QVStatus qvzRender(void *context, uintptr_t v1, uintptr_t v2) {
    QVWord *host = hostOfContext(context);
    ContextRecord record = {context, nullptr};
    return omb::hostRender(host, &record, v1, v2);
}

OMBRIX_API QVStatus qvzRender2(void **holder, uintptr_t v1, uintptr_t v2) {
    QVWord *host = hostOfHolder(holder);
    return omb::hostRender(host, holder, v1, v2);
}

OMBRIX_API QVStatus qvzRenderFmtV(void *context, uintptr_t v1, uintptr_t v2, uintptr_t v3,
                                  va_list ap) {
    QVWord *host = hostOfContext(context);
    ContextRecord record = {context, nullptr};
    return omb::hostRenderFmt(host, &record, v1, v2, v3, ap);
}

OMBRIX_API QVStatus qvzRenderFmt(void *context, uintptr_t v1, uintptr_t v2, uintptr_t v3, ...) {
    va_list ap;
    va_start(ap, v3);
    QVStatus status = qvzRenderFmtV(context, v1, v2, v3, ap);
    va_end(ap);
    return status;
}

OMBRIX_API QVStatus qvzRender2FmtV(void **holder, uintptr_t v1, uintptr_t v2, uintptr_t v3,
                                   va_list ap) {
    QVWord *host = hostOfHolder(holder);
    return omb::hostRenderFmt(host, holder, v1, v2, v3, ap);
}

OMBRIX_API QVStatus qvzRender2Fmt(void **holder, uintptr_t v1, uintptr_t v2, uintptr_t v3, ...) {
    va_list ap;
    va_start(ap, v3);
    QVStatus status = qvzRender2FmtV(holder, v1, v2, v3, ap);
    va_end(ap);
    return status;
}

// A caller without a context borrows the host's default one, where the
// host keeps that word; a word holding null leaves nothing to format with:
// OMBRIX_E_NO_CONTEXT before the host is called. A host without the word
// is called with the null context and answers for itself.
OMBRIX_API QVStatus qvzStatusBuffV(void *context, QVStatus status, uintptr_t v1, uintptr_t v2,
                                   uintptr_t v3, va_list ap) {
    QVWord *host = hostOfContext(context);
    if (!host) return OMBRIX_E_NO_CONTEXT;
    if (void **word = context ? nullptr : omb::hostDefaultMessageContextWord(host))
        if (!(context = *word)) return OMBRIX_E_NO_CONTEXT;
    ContextRecord record = {context, nullptr};
    return omb::hostStatusBuff(host, &record, status, v1, v2, v3, ap);
}

OMBRIX_API QVStatus qvzStatusBuff(void *context, QVStatus status, uintptr_t v1, uintptr_t v2,
                                  uintptr_t v3, ...) {
    va_list ap;
    va_start(ap, v3);
    QVStatus result = qvzStatusBuffV(context, status, v1, v2, v3, ap);
    va_end(ap);
    return result;
}

// As qvzStatusBuffV; the default context found is also left in the caller's
// holder, so later calls through it need not look again. The host receives
// the holder as given, null included.
OMBRIX_API QVStatus qvzStatus2BuffV(void **holder, QVStatus status, uintptr_t v1, uintptr_t v2,
                                    uintptr_t v3, va_list ap) {
    QVWord *host = hostOfHolder(holder);
    if (!host) return OMBRIX_E_NO_CONTEXT;
    if (void **word = holder && *holder ? nullptr : omb::hostDefaultMessageContextWord(host)) {
        if (!*word) return OMBRIX_E_NO_CONTEXT;
        if (holder) *holder = *word;
    }
    return omb::hostStatusBuff(host, holder, status, v1, v2, v3, ap);
}

OMBRIX_API QVStatus qvzStatus2Buff(void **holder, QVStatus status, uintptr_t v1, uintptr_t v2,
                                   uintptr_t v3, ...) {
    va_list ap;
    va_start(ap, v3);
    QVStatus result = qvzStatus2BuffV(holder, status, v1, v2, v3, ap);
    va_end(ap);
    return result;
}

}  // extern "C"
