// The UTF-8 routines that the host's services answer: whether a character
// combines, normalisation, and the number, date and time forwarders.
#include "core/export.h"
#include "core/host_calls.h"
#include "ombrix/container.h"
#include "text/utf8.h"

namespace {

// Property 56 of the text services' character property operation: whether
// a code point combines.
constexpr int32_t kCombiningProperty = 56;

// The services answer the property only once they hold the "qvnlsudb"
// extension in their word for it; it is loaded on the first question and
// kept there for every later one. Two threads racing may both load it: the
// host hands out the same extension for a name, so the second store writes
// what the first did.
bool haveCombiningData(QVWord *services) {
    if (omb::textLoadedNlsData(services)) return true;
    static const QVChar name[8] = {'q', 'v', 'n', 'l', 's', 'u', 'd', 'b'};
    void *extension = omb::textLoadExtension(services, name, 8);
    if (!extension) return false;
    omb::textKeepNlsData(services, extension);
    return true;
}

// The normaliser, or null when the host offers no text services.
QVWord *normalizer() {
    QVWord *services = omb::textServices();
    return services ? omb::textNormalizer(services) : nullptr;
}

}  // namespace

extern "C" {

// Without text services nothing but the two joiners is known to combine.
OMBRIX_API int32_t qvzsu8IsCombining(const char *p) {
    auto *bytes = reinterpret_cast<const unsigned char *>(p);
    uint64_t consumed = 0;
    QVChar c = omb::readUtf8Char(bytes, _utf8_len[*bytes], &consumed);
    if (c == 0x200C || c == 0x200D) return 1;
    QVWord *services = omb::textServices();
    if (!services || !haveCombiningData(services)) return 0;
    return omb::textCharProperty(services, c, kCombiningProperty);
}

OMBRIX_API QVStatus qvzsu8ICUNormalize(const void *src, int64_t srcLength, void *dst,
                                       int64_t capacity, int64_t *written, int32_t form,
                                       int32_t options) {
    QVWord *n = normalizer();
    if (!n) return OMBRIX_E_NO_MEMORY;
    return omb::normalize(n, src, srcLength, dst, capacity, written, form, options);
}

OMBRIX_API int32_t qvzsu8ICUNormCompare(const void *a, int64_t aLength, const void *b,
                                        int64_t bLength, int32_t form, QVStatus *status) {
    QVWord *n = normalizer();
    if (!n) {
        if (status) *status = OMBRIX_E_NO_MEMORY;
        return 0;
    }
    int32_t result = 0;
    QVStatus s = omb::normalizedCompare(n, a, aLength, b, bLength, form, &result);
    if (status) *status = s;
    return result;
}

OMBRIX_API int32_t qvzsu8ICUNormEqual(const void *a, int64_t aLength, const void *b,
                                      int64_t bLength, int32_t form, QVStatus *status) {
    QVStatus s = 0;
    int32_t result = qvzsu8ICUNormCompare(a, aLength, b, bLength, form, &s);
    if (status) *status = s;
    return s == 0 && result == 0 ? 1 : 0;
}

OMBRIX_API QVStatus qvzsu8ToDouble(QVWord *f, const char *s, uint64_t n, double *out,
                                   uint64_t *consumed, uintptr_t) {
    return omb::formatterCall<QV_FORMATTER_TO_DOUBLE>(f, s, n, out, consumed, uintptr_t{0});
}

OMBRIX_API QVStatus qvzsu8DoubleFormat(QVWord *f, double value, char *dst, uint64_t capacity,
                                       uint64_t *written, const char *pattern,
                                       uintptr_t seventh) {
    return omb::formatterCall<QV_FORMATTER_DOUBLE_FORMAT>(f, value, dst, capacity, written,
                                                          pattern, seventh, uintptr_t{0});
}

#define OMBRIX_FORMAT_FORWARDER(name, slot, type)                                              \
    OMBRIX_API QVStatus name(QVWord *f, type value, char *dst, uint64_t capacity,               \
                             uint64_t *written, const char *pattern) {                          \
        return omb::formatterCall<slot>(f, value, dst, capacity, written, pattern);             \
    }
#define OMBRIX_PARSE_FORWARDER(name, slot, type)                                               \
    OMBRIX_API QVStatus name(QVWord *f, const char *s, uint64_t n, type *out,                   \
                             uint64_t *consumed) {                                              \
        return omb::formatterCall<slot>(f, s, n, out, consumed);                                \
    }
#define OMBRIX_PARSE_PATTERN_FORWARDER(name, slot)                                             \
    OMBRIX_API QVStatus name(QVWord *f, const char *s, uint64_t n, void *out,                   \
                             uint64_t *consumed, const char *pattern) {                         \
        return omb::formatterCall<slot>(f, s, n, out, consumed, pattern);                       \
    }

OMBRIX_FORMAT_FORWARDER(qvzsu8IntfastFormat, QV_FORMATTER_INTFAST_FORMAT, int_fast64_t)
OMBRIX_FORMAT_FORWARDER(qvzsu8IntmaxFormat, QV_FORMATTER_INTMAX_FORMAT, intmax_t)
OMBRIX_FORMAT_FORWARDER(qvzsu8UintfastFormat, QV_FORMATTER_UINTFAST_FORMAT, uint_fast64_t)
OMBRIX_FORMAT_FORWARDER(qvzsu8UintmaxFormat, QV_FORMATTER_UINTMAX_FORMAT, uintmax_t)
OMBRIX_PARSE_FORWARDER(qvzsu8ToIntfast, QV_FORMATTER_TO_INTFAST, int_fast64_t)
OMBRIX_PARSE_FORWARDER(qvzsu8ToIntmax, QV_FORMATTER_TO_INTMAX, intmax_t)
OMBRIX_PARSE_FORWARDER(qvzsu8ToUintfast, QV_FORMATTER_TO_UINTFAST, uint_fast64_t)
OMBRIX_PARSE_FORWARDER(qvzsu8ToUintmax, QV_FORMATTER_TO_UINTMAX, uintmax_t)
OMBRIX_FORMAT_FORWARDER(qvzsu8IntFormat, QV_FORMATTER_INT_FORMAT, int32_t)
OMBRIX_FORMAT_FORWARDER(qvzsu8UIntFormat, QV_FORMATTER_UINT_FORMAT, uint32_t)
OMBRIX_PARSE_FORWARDER(qvzsu8ToInt, QV_FORMATTER_TO_INT, int32_t)
OMBRIX_PARSE_FORWARDER(qvzsu8ToUInt, QV_FORMATTER_TO_UINT, uint32_t)
OMBRIX_FORMAT_FORWARDER(qvzsu8LongFormat, QV_FORMATTER_LONG_FORMAT, int64_t)
OMBRIX_FORMAT_FORWARDER(qvzsu8ULongFormat, QV_FORMATTER_ULONG_FORMAT, uint64_t)
OMBRIX_PARSE_FORWARDER(qvzsu8ToLong, QV_FORMATTER_TO_LONG, int64_t)
OMBRIX_PARSE_FORWARDER(qvzsu8ToULong, QV_FORMATTER_TO_ULONG, uint64_t)
OMBRIX_FORMAT_FORWARDER(qvzsu8DatetimeFormat, QV_FORMATTER_DATETIME_FORMAT, const void *)
OMBRIX_FORMAT_FORWARDER(qvzsu8DateFormat, QV_FORMATTER_DATE_FORMAT, const void *)
OMBRIX_FORMAT_FORWARDER(qvzsu8TimeFormat, QV_FORMATTER_TIME_FORMAT, const void *)
OMBRIX_PARSE_PATTERN_FORWARDER(qvzsu8ToDatetime, QV_FORMATTER_TO_DATETIME)
OMBRIX_PARSE_PATTERN_FORWARDER(qvzsu8ToDate, QV_FORMATTER_TO_DATE)
OMBRIX_PARSE_PATTERN_FORWARDER(qvzsu8ToTime, QV_FORMATTER_TO_TIME)

#undef OMBRIX_FORMAT_FORWARDER
#undef OMBRIX_PARSE_FORWARDER
#undef OMBRIX_PARSE_PATTERN_FORWARDER

}  // extern "C"
