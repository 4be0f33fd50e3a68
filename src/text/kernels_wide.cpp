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

// The signed field of `bits` bits that starts `position` bits into each lane.
WIDE __m256i signedField(__m256i lanes, __m256i position, int bits) {
    __m256i up = _mm256_sub_epi32(_mm256_set1_epi32(32 - bits), position);
    return _mm256_srai_epi32(_mm256_sllv_epi32(lanes, up), 32 - bits);
}

// Eight units per step, as classMap, over 16-bit block entries and 8-bit
// deltas. A gather reads four bytes, so each read starts early enough to end
// at the entry it wants and never runs past a table's end; the entry is then
// picked out of the lane. A step in which any unit needs the pair list is
// done unit by unit.
WIDE void caseMap(QVChar *s, int64_t n, const int16_t *meta, const int8_t *shift,
                  const uint32_t (*pairs)[2]) {
    const __m256i zero = _mm256_setzero_si256();
    const auto *metaBytes = reinterpret_cast<const int *>(meta);
    const auto *shiftBytes = reinterpret_cast<const int *>(shift);
    int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m256i units = load(s + i);
        __m256i inBmp = _mm256_cmpeq_epi32(_mm256_srli_epi32(units, 16), zero);
        __m256i block = _mm256_and_si256(_mm256_srli_epi32(units, 7), _mm256_set1_epi32(511));
        __m256i notFirst = _mm256_cmpgt_epi32(block, zero);
        __m256i metaAt = _mm256_sub_epi32(_mm256_slli_epi32(block, 1),
                                          _mm256_and_si256(notFirst, _mm256_set1_epi32(2)));
        __m256i entry = signedField(_mm256_i32gather_epi32(metaBytes, metaAt, 1),
                                    _mm256_and_si256(notFirst, _mm256_set1_epi32(16)), 16);
        __m256i mapped = _mm256_andnot_si256(_mm256_cmpgt_epi32(zero, entry), inBmp);
        __m256i index = _mm256_add_epi32(entry, _mm256_and_si256(units, _mm256_set1_epi32(127)));
        __m256i shiftAt = _mm256_max_epi32(_mm256_sub_epi32(index, _mm256_set1_epi32(3)), zero);
        __m256i position = _mm256_slli_epi32(_mm256_sub_epi32(index, shiftAt), 3);
        __m256i delta = signedField(
            _mm256_mask_i32gather_epi32(zero, shiftBytes, shiftAt, mapped, 1), position, 8);
        __m256i paired = _mm256_and_si256(_mm256_cmpeq_epi32(delta, _mm256_set1_epi32(kSeePairList)), mapped);
        if (!_mm256_testz_si256(paired, paired)) {
            for (int64_t j = i; j < i + 8; ++j) s[j] = caseMapUnit(s[j], meta, shift, pairs);
            continue;
        }
        store(s + i, _mm256_add_epi32(units, delta));
    }
    for (; i < n; ++i) s[i] = caseMapUnit(s[i], meta, shift, pairs);
}

}  // namespace

const TextKernels wideKernels = {strUp, strLow, memSet, memTSet, memScan, memNScan, memTNScan,
                                 classMap, caseMap};

}  // namespace omb
