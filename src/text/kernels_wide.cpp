// The wide-vector variant: AVX2. Only called after the processor has been
// found to support it, so the functions carry the target themselves and
// the file needs no special flags.
#include <immintrin.h>

#include "kernels.h"

#define WIDE __attribute__((target("avx2")))

namespace omb {
namespace {

constexpr uint64_t kWidth = 32;

WIDE __m256i load(const void *p) { return _mm256_loadu_si256(static_cast<const __m256i *>(p)); }
WIDE void store(void *p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i *>(p), v); }

// Adds `delta` to every byte in [low, high]; bytes of 0x80 and above compare
// as negative and so never match.
WIDE void shiftRange(char *buffer, uint64_t n, char low, char high, char delta) {
    const __m256i below = _mm256_set1_epi8(static_cast<char>(low - 1));
    const __m256i above = _mm256_set1_epi8(static_cast<char>(high + 1));
    const __m256i step = _mm256_set1_epi8(delta);
    uint64_t i = 0;
    for (; i + kWidth <= n; i += kWidth) {
        __m256i v = load(buffer + i);
        __m256i in = _mm256_and_si256(_mm256_cmpgt_epi8(v, below), _mm256_cmpgt_epi8(above, v));
        store(buffer + i, _mm256_add_epi8(v, _mm256_and_si256(in, step)));
    }
    for (; i < n; ++i)
        if (buffer[i] >= low && buffer[i] <= high) buffer[i] = static_cast<char>(buffer[i] + delta);
}

WIDE void strUp(char *buffer, uint64_t n) { shiftRange(buffer, n, 'a', 'z', -0x20); }
WIDE void strLow(char *buffer, uint64_t n) { shiftRange(buffer, n, 'A', 'Z', 0x20); }

WIDE void memSet(void *buffer, uint8_t c, uint64_t n) {
    auto *p = static_cast<unsigned char *>(buffer);
    const __m256i fill = _mm256_set1_epi8(static_cast<char>(c));
    uint64_t i = 0;
    for (; i + kWidth <= n; i += kWidth) store(p + i, fill);
    for (; i < n; ++i) p[i] = c;
}

WIDE void memTSet(QVChar *buffer, QVChar c, uint64_t n) {
    const __m256i fill = _mm256_set1_epi32(static_cast<int>(c));
    uint64_t i = 0;
    for (; i + 8 <= n; i += 8) store(buffer + i, fill);
    for (; i < n; ++i) buffer[i] = c;
}

WIDE int64_t scanBytes(const void *buffer, uint64_t n, uint8_t c, bool equal) {
    if (!buffer) return -1;
    auto *p = static_cast<const unsigned char *>(buffer);
    const __m256i needle = _mm256_set1_epi8(static_cast<char>(c));
    uint64_t i = 0;
    // Four vectors a step while no decision falls: one test for all of them.
    for (; i + 4 * kWidth <= n; i += 4 * kWidth) {
        __m256i a = _mm256_cmpeq_epi8(load(p + i), needle);
        __m256i b = _mm256_cmpeq_epi8(load(p + i + kWidth), needle);
        __m256i c2 = _mm256_cmpeq_epi8(load(p + i + 2 * kWidth), needle);
        __m256i d = _mm256_cmpeq_epi8(load(p + i + 3 * kWidth), needle);
        __m256i any = equal ? _mm256_or_si256(_mm256_or_si256(a, b), _mm256_or_si256(c2, d))
                            : _mm256_and_si256(_mm256_and_si256(a, b), _mm256_and_si256(c2, d));
        auto decided = static_cast<uint32_t>(_mm256_movemask_epi8(any));
        if (equal ? decided != 0 : decided != 0xffffffffu) break;
    }
    for (; i + kWidth <= n; i += kWidth) {
        auto mask = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(load(p + i), needle)));
        if (!equal) mask = ~mask;
        if (mask) return static_cast<int64_t>(i + __builtin_ctz(mask));
    }
    return scanTail(p, i, n, c, equal);
}

WIDE int64_t memScan(const void *buffer, uint64_t n, uint8_t c) {
    return scanBytes(buffer, n, c, true);
}
WIDE int64_t memNScan(const void *buffer, uint64_t n, uint8_t c) {
    return scanBytes(buffer, n, c, false);
}

WIDE int64_t memTNScan(const QVChar *buffer, uint64_t n, QVChar c) {
    if (!buffer) return -1;
    const __m256i needle = _mm256_set1_epi32(static_cast<int>(c));
    uint64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        auto differ = ~static_cast<uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi32(load(buffer + i), needle)));
        if (differ) return static_cast<int64_t>(i + __builtin_ctz(differ) / 4);
    }
    for (; i < n; ++i)
        if (buffer[i] != c) return static_cast<int64_t>(i);
    return -1;
}

// Eight units per step: gather each unit's block entry, then, for the units
// inside the BMP whose block changes, gather the delta and add it.
WIDE void classMap(QVChar *s, int64_t n, const int32_t *meta, const int32_t *shift) {
    const __m256i low7 = _mm256_set1_epi32(127);
    const __m256i none = _mm256_set1_epi32(-1);
    int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m256i units = load(s + i);
        // Units are unsigned: anything at or above 0x10000 (the top bit
        // included) falls outside.
        __m256i inBmp = _mm256_cmpeq_epi32(_mm256_srli_epi32(units, 16), _mm256_setzero_si256());
        __m256i block = _mm256_and_si256(_mm256_srli_epi32(units, 7), _mm256_set1_epi32(511));
        __m256i entry = _mm256_mask_i32gather_epi32(none, meta, block, inBmp, 4);
        __m256i mapped = _mm256_andnot_si256(_mm256_cmpeq_epi32(entry, none), inBmp);
        __m256i index = _mm256_add_epi32(entry, _mm256_and_si256(units, low7));
        __m256i delta =
            _mm256_mask_i32gather_epi32(_mm256_setzero_si256(), shift, index, mapped, 4);
        store(s + i, _mm256_add_epi32(units, delta));
    }
    for (; i < n; ++i) s[i] = classMapUnit(s[i], meta, shift);
}

// Eight units: one gather of their deltas, masked to the BMP lanes (the
// others keep their unit). Each lane reads four bytes starting at its
// entry; the padding entry keeps U+FFFF's read inside the table.
WIDE __m256i mapByGather(__m256i units, const CaseDeltas &deltas) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    const auto *entries = reinterpret_cast<const int *>(deltas.entries);
    __m256i inBmp = _mm256_cmpeq_epi32(_mm256_srli_epi32(units, 16), zero);
    __m256i delta = _mm256_mask_i32gather_epi32(zero, entries, units, inBmp, 2);
    __m256i mapped = _mm256_and_si256(_mm256_add_epi32(units, delta), low16);
    return _mm256_or_si256(mapped, _mm256_andnot_si256(low16, units));
}

// Sixteen units narrowed to 16 bits (all below U+0100), each Latin run's
// delta added where a unit falls inside the run; as in the baseline.
WIDE __m256i mapLatin(__m256i units, const CaseDeltas &deltas) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i add = zero;
    for (const CaseRun &run : deltas.latin) {
        __m256i offset = _mm256_sub_epi16(units, _mm256_set1_epi16(static_cast<short>(run.first)));
        __m256i inside = _mm256_cmpeq_epi16(
            _mm256_subs_epu16(offset, _mm256_set1_epi16(static_cast<short>(run.span))), zero);
        add = _mm256_add_epi16(add,
                               _mm256_and_si256(inside, _mm256_set1_epi16(static_cast<short>(run.delta))));
    }
    return _mm256_add_epi16(units, add);
}

// Sixteen units a step: mapped in registers by the Latin runs when all lie
// below U+0100, by two gathers otherwise; then eight by a gather, and the
// last few one by one.
WIDE void caseMap(QVChar *s, int64_t n, const CaseDeltas &deltas) {
    const __m256i aboveLatin = _mm256_set1_epi32(~0xFF);
    const __m256i zero = _mm256_setzero_si256();
    int64_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m256i a = load(s + i), b = load(s + i + 8);
        if (!deltas.latinFits || !_mm256_testz_si256(_mm256_or_si256(a, b), aboveLatin)) {
            store(s + i, mapByGather(a, deltas));
            store(s + i + 8, mapByGather(b, deltas));
            continue;
        }
        // The pack works within each 128-bit half and the unpacks undo it
        // the same way, so a and b come back in their order.
        __m256i mapped = mapLatin(_mm256_packs_epi32(a, b), deltas);
        store(s + i, _mm256_unpacklo_epi16(mapped, zero));
        store(s + i + 8, _mm256_unpackhi_epi16(mapped, zero));
    }
    for (; i + 8 <= n; i += 8) store(s + i, mapByGather(load(s + i), deltas));
    for (; i < n; ++i) s[i] = caseMapDelta(s[i], deltas);
}

// Sixty-four bytes a step while the text stays ASCII (two vectors OR-ed, so
// a long ASCII run costs one test per line), then one vector at a time.
WIDE uint64_t asciiPrefix(const unsigned char *p, uint64_t n) {
    uint64_t i = 0;
    for (; i + 2 * kWidth <= n; i += 2 * kWidth)
        if (_mm256_movemask_epi8(_mm256_or_si256(load(p + i), load(p + i + kWidth)))) break;
    for (; i + kWidth <= n; i += kWidth) {
        auto high = static_cast<uint32_t>(_mm256_movemask_epi8(load(p + i)));
        if (high) return i + static_cast<uint64_t>(__builtin_ctz(high));
    }
    return asciiPrefixTail(p, i, n);
}

// Thirty-two bytes a step, as the baseline does it with sixteen: bit i of
// each mask is byte i, and "at least C0" is "above -65 and negative".
WIDE uint64_t wellFormedRun(const unsigned char *p, uint64_t n, uint64_t *chars) {
    uint64_t i = 0, count = 0;
    while (i + kWidth <= n) {
        __m256i v = load(p + i);
        auto high = static_cast<uint32_t>(_mm256_movemask_epi8(v));
        if (!high) {
            // An ASCII vector often starts an ASCII run: take it two
            // vectors a test.
            count += kWidth;
            i += kWidth;
            while (i + 2 * kWidth <= n &&
                   !_mm256_movemask_epi8(_mm256_or_si256(load(p + i), load(p + i + kWidth)))) {
                count += 2 * kWidth;
                i += 2 * kWidth;
            }
            continue;
        }
        auto atLeast = [&](int threshold) WIDE {
            return static_cast<uint32_t>(_mm256_movemask_epi8(
                       _mm256_cmpgt_epi8(v, _mm256_set1_epi8(static_cast<char>(threshold))))) & high;
        };
        uint32_t lead2 = atLeast(-65), lead3 = atLeast(-33), lead4 = atLeast(-17);
        uint32_t continuation = high & ~lead2;
        if (atLeast(-9) || (continuation & 1)) break;
        uint64_t expected = (uint64_t{lead2} << 1) | (uint64_t{lead3} << 2) | (uint64_t{lead4} << 3);
        if (static_cast<uint32_t>(expected) != continuation) break;
        uint32_t leads = ~continuation;
        uint64_t stepped = stepOverCheckedVector(leads, (expected >> kWidth) != 0, kWidth, &count);
        if (stepped == 0) break;
        i += stepped;
    }
    *chars += count;
    return i;
}

}  // namespace

const TextKernels wideKernels = {strUp, strLow, memSet, memTSet, memScan, memNScan, memTNScan,
                                 classMap, caseMap, asciiPrefix, wellFormedRun};

}  // namespace omb
