// The baseline variant: SSE2, which every x86-64 processor has.
#include <emmintrin.h>

#include "kernels.h"

namespace omb {
namespace {

constexpr uint64_t kWidth = 16;

__m128i load(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
void store(void *p, __m128i v) { _mm_storeu_si128(static_cast<__m128i *>(p), v); }

// Adds `delta` to every byte in [low, high]; bytes of 0x80 and above compare
// as negative and so never match.
void shiftRange(char *buffer, uint64_t n, char low, char high, char delta) {
    const __m128i below = _mm_set1_epi8(static_cast<char>(low - 1));
    const __m128i above = _mm_set1_epi8(static_cast<char>(high + 1));
    const __m128i step = _mm_set1_epi8(delta);
    uint64_t i = 0;
    for (; i + kWidth <= n; i += kWidth) {
        __m128i v = load(buffer + i);
        __m128i in = _mm_and_si128(_mm_cmpgt_epi8(v, below), _mm_cmplt_epi8(v, above));
        store(buffer + i, _mm_add_epi8(v, _mm_and_si128(in, step)));
    }
    for (; i < n; ++i)
        if (buffer[i] >= low && buffer[i] <= high) buffer[i] = static_cast<char>(buffer[i] + delta);
}

void strUp(char *buffer, uint64_t n) { shiftRange(buffer, n, 'a', 'z', -0x20); }
void strLow(char *buffer, uint64_t n) { shiftRange(buffer, n, 'A', 'Z', 0x20); }

void memSet(void *buffer, uint8_t c, uint64_t n) {
    auto *p = static_cast<unsigned char *>(buffer);
    const __m128i fill = _mm_set1_epi8(static_cast<char>(c));
    uint64_t i = 0;
    for (; i + kWidth <= n; i += kWidth) store(p + i, fill);
    for (; i < n; ++i) p[i] = c;
}

void memTSet(QVChar *buffer, QVChar c, uint64_t n) {
    const __m128i fill = _mm_set1_epi32(static_cast<int>(c));
    uint64_t i = 0;
    for (; i + 4 <= n; i += 4) store(buffer + i, fill);
    for (; i < n; ++i) buffer[i] = c;
}

// The index of the first byte that equals (or, with `equal` false, differs
// from) c.
int64_t scanBytes(const void *buffer, uint64_t n, uint8_t c, bool equal) {
    if (!buffer) return -1;
    auto *p = static_cast<const unsigned char *>(buffer);
    const __m128i needle = _mm_set1_epi8(static_cast<char>(c));
    uint64_t i = 0;
    for (; i + kWidth <= n; i += kWidth) {
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(load(p + i), needle)));
        if (!equal) mask ^= 0xffffu;
        if (mask) return static_cast<int64_t>(i + __builtin_ctz(mask));
    }
    return scanTail(p, i, n, c, equal);
}

int64_t memScan(const void *buffer, uint64_t n, uint8_t c) { return scanBytes(buffer, n, c, true); }
int64_t memNScan(const void *buffer, uint64_t n, uint8_t c) {
    return scanBytes(buffer, n, c, false);
}

int64_t memTNScan(const QVChar *buffer, uint64_t n, QVChar c) {
    if (!buffer) return -1;
    const __m128i needle = _mm_set1_epi32(static_cast<int>(c));
    uint64_t i = 0;
    for (; i + 4 <= n; i += 4) {
        unsigned same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi32(load(buffer + i), needle)));
        if (same != 0xffffu) return static_cast<int64_t>(i + __builtin_ctz(~same) / 4);
    }
    for (; i < n; ++i)
        if (buffer[i] != c) return static_cast<int64_t>(i);
    return -1;
}

// SSE2 has no gather, so the baseline looks units up one at a time.
void classMap(QVChar *s, int64_t n, const int32_t *meta, const int32_t *shift) {
    for (int64_t i = 0; i < n; ++i) s[i] = classMapUnit(s[i], meta, shift);
}

// One table read a unit. A vector path for runs of units below U+0100, as
// the wide variant has, measured no faster here on mixed text (about half
// a nanosecond a unit either way): most vectors of eight hold a unit from
// beyond, and the loop is short already.
void caseMap(QVChar *s, int64_t n, const CaseDeltas &deltas) {
    for (int64_t i = 0; i < n; ++i) s[i] = caseMapDelta(s[i], deltas);
}

// Sixteen bytes a step: the sign bits of a vector are the non-ASCII bytes.
uint64_t asciiPrefix(const unsigned char *p, uint64_t n) {
    uint64_t i = 0;
    for (; i + kWidth <= n; i += kWidth) {
        auto high = static_cast<unsigned>(_mm_movemask_epi8(load(p + i)));
        if (high) return i + static_cast<uint64_t>(__builtin_ctz(high));
    }
    return asciiPrefixTail(p, i, n);
}

// Sixteen bytes a step; bit i of each mask is byte i. Bytes compare as
// signed, so 0x80..0xFF are negative: "at least C0" is "above -65 and
// negative".
uint64_t wellFormedRun(const unsigned char *p, uint64_t n, uint64_t *chars) {
    constexpr uint32_t kAll = 0xFFFF;
    uint64_t i = 0, count = 0;
    while (i + kWidth <= n) {
        __m128i v = load(p + i);
        auto high = static_cast<uint32_t>(_mm_movemask_epi8(v));
        if (!high) {
            count += kWidth;
            i += kWidth;
            continue;
        }
        auto atLeast = [&](int threshold) {
            return static_cast<uint32_t>(_mm_movemask_epi8(
                       _mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(threshold))))) & high;
        };
        uint32_t lead2 = atLeast(-65), lead3 = atLeast(-33), lead4 = atLeast(-17);
        uint32_t continuation = high & ~lead2;
        if (atLeast(-9) || (continuation & 1)) break;
        uint64_t expected = (uint64_t{lead2} << 1) | (uint64_t{lead3} << 2) | (uint64_t{lead4} << 3);
        if ((expected & kAll) != continuation) break;
        uint32_t leads = ~continuation & kAll;
        uint64_t stepped = stepOverCheckedVector(leads, (expected >> kWidth) != 0, kWidth, &count);
        if (stepped == 0) break;
        i += stepped;
    }
    *chars += count;
    return i;
}

}  // namespace

const TextKernels baselineKernels = {strUp, strLow, memSet, memTSet, memScan, memNScan, memTNScan,
                                     classMap, caseMap, asciiPrefix, wellFormedRun};

}  // namespace omb
