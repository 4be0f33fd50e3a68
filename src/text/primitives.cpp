// Memory and string primitives of the qv and yb groups.
#include <cmath>
#include <cstring>

#include "core/export.h"
#include "core/host_calls.h"
#include "kernels.h"
#include "ombrix/case.h"
#include "ombrix/container.h"
#include "ombrix/primitives.h"

namespace {

// Above this many bytes a copy between regions that lie apart goes to the
// runtime's bulk copy; below it, or when they overlap, bytes move one by one.
constexpr uint64_t kBulkThreshold = 96;

bool lieApart(const unsigned char *a, const unsigned char *b, uint64_t n) {
    uintptr_t x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
    return (x > y ? x - y : y - x) > n;
}

// Front to back. When dst lies inside (src, src + n) this reads bytes it has
// already written, which is what makes ybMemCpy a pattern fill.
void copyForward(const unsigned char *src, unsigned char *dst, uint64_t n) {
    if (n > kBulkThreshold && lieApart(src, dst, n)) {
        std::memcpy(dst, src, n);
        return;
    }
    for (uint64_t i = 0; i < n; ++i) dst[i] = src[i];
}

int32_t sign(int64_t v) { return (v > 0) - (v < 0); }

}  // namespace

extern "C" {

OMBRIX_API void *qvmemcpy(void *dst, const void *src, uint64_t n) {
    return n ? std::memcpy(dst, src, n) : dst;
}

OMBRIX_API void *qvmemmove(void *dst, const void *src, uint64_t n) {
    return n ? std::memmove(dst, src, n) : dst;
}

OMBRIX_API int32_t qvmemcmp(const void *a, const void *b, uint64_t n) {
    return n ? std::memcmp(a, b, n) : 0;
}

OMBRIX_API void *qvmemset(void *dst, int32_t c, uint64_t n) {
    return n ? std::memset(dst, static_cast<unsigned char>(c), n) : dst;
}

OMBRIX_API void *qvmemchr(const void *s, int32_t c, uint64_t n) {
    int64_t at = ybMemScan(s, n, static_cast<uint8_t>(c));
    return at < 0 ? nullptr : const_cast<unsigned char *>(static_cast<const unsigned char *>(s) + at);
}

OMBRIX_API QVStatus ybUnsup(void) { return OMBRIX_E_UNSUPPORTED; }

OMBRIX_API uint64_t ybStrLen(const char *s) { return s ? std::strlen(s) : 0; }

OMBRIX_API uint64_t ybStrTLen(const QVChar *s) {
    uint64_t n = 0;
    if (s)
        while (s[n]) ++n;
    return n;
}

OMBRIX_API void ybStrCpy(const char *src, char *dst) {
    if (!dst) return;
    if (!src) {
        *dst = '\0';
        return;
    }
    std::memcpy(dst, src, std::strlen(src) + 1);
}

OMBRIX_API void ybStrTCpy(const QVChar *src, QVChar *dst) {
    if (!dst) return;
    if (!src) {
        *dst = 0;
        return;
    }
    std::memcpy(dst, src, (ybStrTLen(src) + 1) * sizeof(QVChar));
}

OMBRIX_API void ybStrUp(char *buffer, uint64_t n) { omb::textKernels().strUp(buffer, n); }
OMBRIX_API void ybStrLow(char *buffer, uint64_t n) { omb::textKernels().strLow(buffer, n); }

OMBRIX_API int32_t ybMemNot(uint8_t c, const void *buffer, uint64_t n) {
    return n == 0 || ybMemNScan(buffer, n, c) < 0;
}

OMBRIX_API int32_t ybMemTNot(QVChar c, const QVChar *buffer, uint64_t n) {
    return n == 0 || ybMemTNScan(buffer, n, c) < 0;
}

OMBRIX_API void ybMemSet(void *buffer, uint8_t c, uint64_t n) {
    omb::textKernels().memSet(buffer, c, n);
}

OMBRIX_API void ybMemTSet(QVChar *buffer, QVChar c, uint64_t n) {
    omb::textKernels().memTSet(buffer, c, n);
}

OMBRIX_API int32_t ybMemCmp(const void *a, const void *b, uint64_t n) {
    return n ? sign(std::memcmp(a, b, n)) : 0;
}

OMBRIX_API int32_t ybWMemCmp(const QVChar *a, const QVChar *b, uint64_t n) {
    for (uint64_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return sign(static_cast<int32_t>(a[i] - b[i]));
    return 0;
}

OMBRIX_API void *ybMemCpy(const void *src, void *dst, uint64_t n) {
    copyForward(static_cast<const unsigned char *>(src), static_cast<unsigned char *>(dst), n);
    return dst;
}

// With dst inside (src, src + n), d = dst - src and r = n - d overlapping
// bytes: the copy moves the pieces that nothing reads any more first.
OMBRIX_API void ybMemSCpy(const void *src, void *dst, uint64_t n) {
    auto *s = static_cast<const unsigned char *>(src);
    auto *t = static_cast<unsigned char *>(dst);
    if (s >= t || s + n <= t) {
        copyForward(s, t, n);
        return;
    }
    uint64_t d = static_cast<uint64_t>(t - s), r = n - d;
    if (d >= r) {
        copyForward(t, t + d, r);  // the overlap's source moves out of the way
        copyForward(s, t, d);
        return;
    }
    copyForward(s + n - d, t + n - d, d);
    for (uint64_t i = n - d; i-- > d;) t[i] = s[i];
    copyForward(s, t, d);
}

OMBRIX_API void *ybMemDup(const void *src, uint64_t n, QVWord *pool) {
    if (!src || !pool) return nullptr;
    void *copy = omb::poolAllocate(pool, n, 0);
    if (copy && n) std::memcpy(copy, src, n);
    return copy;
}

OMBRIX_API int64_t ybMemScan(const void *buffer, uint64_t n, uint8_t c) {
    return omb::textKernels().memScan(buffer, n, c);
}

OMBRIX_API int64_t ybMemNScan(const void *buffer, uint64_t n, uint8_t c) {
    return omb::textKernels().memNScan(buffer, n, c);
}

OMBRIX_API int64_t ybMemTNScan(const QVChar *buffer, uint64_t n, QVChar c) {
    return omb::textKernels().memTNScan(buffer, n, c);
}

OMBRIX_API int32_t ybMissArray(const double *values, uint64_t n) {
    for (uint64_t i = 0; i < n; ++i)
        if (std::isnan(values[i])) return 1;
    return 0;
}

}  // extern "C"
