// The UTF-8 routines that the host's services answer: whether a character
// combines, normalisation, and the number, date and time forwarders.
#include "core/export.h"
#include "core/host_calls.h"
#include "text/utf8.h"

namespace {

constexpr QVStatus kNoMemory = 0x803fc002u;

// Property 56 of the text services' character property operation: whether
// a code point combines.
constexpr int32_t kCombiningProperty = 56;
using CharPropertyFn = int32_t (*)(QVWord *services, QVChar c, int32_t property);

// The services answer the property only once they hold the "qvnlsudb"
// extension in their word for it; it is loaded on the first question and
// kept there for every later one. Two threads racing may both load it: the
// host hands out the same extension for a name, so the second store writes
// what the first did.
bool haveCombiningData(QVWord *services) {
    if (__atomic_load_n(&services[QV_TEXT_NLSUDB_EXTENSION], __ATOMIC_ACQUIRE)) return true;
    static const QVChar name[8] = {'q', 'v', 'n', 'l', 's', 'u', 'd', 'b'};
    auto *loader = omb::slotValue<QVWord *>(services, QV_TEXT_EXTENSION_LOADER);
    if (!loader) return false;
    void *extension =
        omb::slotFunction<QVLoadExtensionFn>(loader, QV_LOADER_LOAD)(loader, name, 8, 0);
    if (!extension) return false;
    __atomic_store_n(&services[QV_TEXT_NLSUDB_EXTENSION], extension, __ATOMIC_RELEASE);
    return true;
}

// The normaliser: the services' current one, or a new one from them (the
// host keeps what it makes). Null when there is neither.
using CreateNormalizerFn = QVWord *(*)(QVWord *services);
using NormalizeFn = QVStatus (*)(QVWord *normalizer, const void *src, int64_t srcLength,
                                 void *dst, int64_t capacity, int64_t *written, int32_t form,
                                 int32_t options);
using NormCompareFn = QVStatus (*)(QVWord *normalizer, const void *a, int64_t aLength,
                                   const void *b, int64_t bLength, int32_t form,
                                   int32_t *result);

QVWord *normalizer() {
    QVWord *services = omb::textServices();
    if (!services) return nullptr;
    if (auto *current = omb::slotValue<QVWord *>(services, QV_TEXT_CURRENT_NORMALIZER))
        return current;
    return omb::slotFunction<CreateNormalizerFn>(services, QV_TEXT_CREATE_NORMALIZER)(services);
}

// The formatting object's operations, in the order the forwarders take
// them.
enum FormatterSlot {
    kToDouble = 71,
    kDoubleFormat = 74,
    kIntfastFormat, kIntmaxFormat, kUintfastFormat, kUintmaxFormat,
    kToIntfast, kToIntmax, kToUintfast, kToUintmax,
    kIntFormat, kUIntFormat, kToInt, kToUInt,
    kLongFormat, kULongFormat, kToLong, kToULong,
    kDatetimeFormat = 95,
    kDateFormat, kTimeFormat, kToDatetime, kToDate, kToTime
};
static_assert(kToULong == 90 && kToTime == 100, "forwarder slots");

template <int Slot, typename... Args>
QVStatus forward(QVWord *formatter, Args... args) {
    return omb::slotFunction<QVStatus (*)(QVWord *, Args...)>(formatter, Slot)(formatter, args...);
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
    return omb::slotFunction<CharPropertyFn>(services, QV_TEXT_CHAR_PROPERTY)(services, c,
                                                                            kCombiningProperty);
}

OMBRIX_API QVStatus qvzsu8ICUNormalize(const void *src, int64_t srcLength, void *dst,
                                       int64_t capacity, int64_t *written, int32_t form,
                                       int32_t options) {
    QVWord *n = normalizer();
    if (!n) return kNoMemory;
    return omb::slotFunction<NormalizeFn>(n, QV_NORMALIZER_NORMALIZE)(n, src, srcLength, dst,
                                                                      capacity, written, form,
                                                                      options);
}

OMBRIX_API int32_t qvzsu8ICUNormCompare(const void *a, int64_t aLength, const void *b,
                                        int64_t bLength, int32_t form, QVStatus *status) {
    QVWord *n = normalizer();
    if (!n) {
        if (status) *status = kNoMemory;
        return 0;
    }
    int32_t result = 0;
    QVStatus s = omb::slotFunction<NormCompareFn>(n, QV_NORMALIZER_COMPARE)(n, a, aLength, b,
                                                                           bLength, form, &result);
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
    return forward<kToDouble>(f, s, n, out, consumed, uintptr_t{0});
}

OMBRIX_API QVStatus qvzsu8DoubleFormat(QVWord *f, double value, char *dst, uint64_t capacity,
                                       uint64_t *written, const char *pattern,
                                       uintptr_t seventh) {
    return forward<kDoubleFormat>(f, value, dst, capacity, written, pattern, seventh,
                                  uintptr_t{0});
}

#define OMBRIX_FORMAT_FORWARDER(name, slot, type)                                              \
    OMBRIX_API QVStatus name(QVWord *f, type value, char *dst, uint64_t capacity,               \
                             uint64_t *written, const char *pattern) {                          \
        return forward<slot>(f, value, dst, capacity, written, pattern);                        \
    }
#define OMBRIX_PARSE_FORWARDER(name, slot, type)                                               \
    OMBRIX_API QVStatus name(QVWord *f, const char *s, uint64_t n, type *out,                   \
                             uint64_t *consumed) {                                              \
        return forward<slot>(f, s, n, out, consumed);                                           \
    }
#define OMBRIX_PARSE_PATTERN_FORWARDER(name, slot)                                             \
    OMBRIX_API QVStatus name(QVWord *f, const char *s, uint64_t n, void *out,                   \
                             uint64_t *consumed, const char *pattern) {                         \
        return forward<slot>(f, s, n, out, consumed, pattern);                                  \
    }

OMBRIX_FORMAT_FORWARDER(qvzsu8IntfastFormat, kIntfastFormat, int_fast64_t)
OMBRIX_FORMAT_FORWARDER(qvzsu8IntmaxFormat, kIntmaxFormat, intmax_t)
OMBRIX_FORMAT_FORWARDER(qvzsu8UintfastFormat, kUintfastFormat, uint_fast64_t)
OMBRIX_FORMAT_FORWARDER(qvzsu8UintmaxFormat, kUintmaxFormat, uintmax_t)
OMBRIX_PARSE_FORWARDER(qvzsu8ToIntfast, kToIntfast, int_fast64_t)
OMBRIX_PARSE_FORWARDER(qvzsu8ToIntmax, kToIntmax, intmax_t)
OMBRIX_PARSE_FORWARDER(qvzsu8ToUintfast, kToUintfast, uint_fast64_t)
OMBRIX_PARSE_FORWARDER(qvzsu8ToUintmax, kToUintmax, uintmax_t)
OMBRIX_FORMAT_FORWARDER(qvzsu8IntFormat, kIntFormat, int32_t)
OMBRIX_FORMAT_FORWARDER(qvzsu8UIntFormat, kUIntFormat, uint32_t)
OMBRIX_PARSE_FORWARDER(qvzsu8ToInt, kToInt, int32_t)
OMBRIX_PARSE_FORWARDER(qvzsu8ToUInt, kToUInt, uint32_t)
OMBRIX_FORMAT_FORWARDER(qvzsu8LongFormat, kLongFormat, int64_t)
OMBRIX_FORMAT_FORWARDER(qvzsu8ULongFormat, kULongFormat, uint64_t)
OMBRIX_PARSE_FORWARDER(qvzsu8ToLong, kToLong, int64_t)
OMBRIX_PARSE_FORWARDER(qvzsu8ToULong, kToULong, uint64_t)
OMBRIX_FORMAT_FORWARDER(qvzsu8DatetimeFormat, kDatetimeFormat, const void *)
OMBRIX_FORMAT_FORWARDER(qvzsu8DateFormat, kDateFormat, const void *)
OMBRIX_FORMAT_FORWARDER(qvzsu8TimeFormat, kTimeFormat, const void *)
OMBRIX_PARSE_PATTERN_FORWARDER(qvzsu8ToDatetime, kToDatetime)
OMBRIX_PARSE_PATTERN_FORWARDER(qvzsu8ToDate, kToDate)
OMBRIX_PARSE_PATTERN_FORWARDER(qvzsu8ToTime, kToTime)

#undef OMBRIX_FORMAT_FORWARDER
#undef OMBRIX_PARSE_FORWARDER
#undef OMBRIX_PARSE_PATTERN_FORWARDER

}  // extern "C"
