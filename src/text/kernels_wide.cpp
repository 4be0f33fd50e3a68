// The wide kernels: AVX2. Only called after the processor has been found to
// support it, so every function carries the target itself and the file
// needs no special flags.
#include <immintrin.h>

#include "kernels.h"
#include "utf.h"

#define OMB_TARGET __attribute__((target("avx2")))

namespace omb {
namespace {

struct Width {
    using Vec = __m256i;
    static constexpr uint64_t kBytes = 32;
    static constexpr uint32_t kAllBytes = 0xFFFFFFFF;

    OMB_TARGET static Vec load(const void *p) { return _mm256_loadu_si256(static_cast<const __m256i *>(p)); }
    OMB_TARGET static void store(void *p, Vec v) { _mm256_storeu_si256(static_cast<__m256i *>(p), v); }
    OMB_TARGET static Vec zero() { return _mm256_setzero_si256(); }
    OMB_TARGET static Vec bytes(char c) { return _mm256_set1_epi8(c); }
    OMB_TARGET static Vec units(uint32_t c) { return _mm256_set1_epi32(int(c)); }
    OMB_TARGET static uint32_t signs(Vec v) { return uint32_t(_mm256_movemask_epi8(v)); }
    OMB_TARGET static Vec eq8(Vec a, Vec b) { return _mm256_cmpeq_epi8(a, b); }
    OMB_TARGET static Vec gt8(Vec a, Vec b) { return _mm256_cmpgt_epi8(a, b); }
    OMB_TARGET static Vec eq32(Vec a, Vec b) { return _mm256_cmpeq_epi32(a, b); }
    OMB_TARGET static Vec gt32(Vec a, Vec b) { return _mm256_cmpgt_epi32(a, b); }
    OMB_TARGET static Vec both(Vec a, Vec b) { return _mm256_and_si256(a, b); }
    OMB_TARGET static Vec either(Vec a, Vec b) { return _mm256_or_si256(a, b); }
    OMB_TARGET static Vec flip(Vec a, Vec b) { return _mm256_xor_si256(a, b); }
    OMB_TARGET static Vec add8(Vec a, Vec b) { return _mm256_add_epi8(a, b); }
    OMB_TARGET static Vec sub32(Vec a, Vec b) { return _mm256_sub_epi32(a, b); }
};

// Eight units per step: gather each unit's block entry, then, for the units
// inside the BMP whose block changes, gather the delta and add it.
OMB_TARGET void classMap(QVChar *s, int64_t n, const int32_t *meta, const int32_t *shift) {
    const __m256i low7 = _mm256_set1_epi32(127);
    const __m256i none = _mm256_set1_epi32(-1);
    int64_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m256i units = Width::load(s + i);
        // Units are unsigned: anything at or above 0x10000 (the top bit
        // included) falls outside.
        __m256i inBmp = _mm256_cmpeq_epi32(_mm256_srli_epi32(units, 16), _mm256_setzero_si256());
        __m256i block = _mm256_and_si256(_mm256_srli_epi32(units, 7), _mm256_set1_epi32(511));
        __m256i entry = _mm256_mask_i32gather_epi32(none, meta, block, inBmp, 4);
        __m256i mapped = _mm256_andnot_si256(_mm256_cmpeq_epi32(entry, none), inBmp);
        __m256i index = _mm256_add_epi32(entry, _mm256_and_si256(units, low7));
        __m256i delta =
            _mm256_mask_i32gather_epi32(_mm256_setzero_si256(), shift, index, mapped, 4);
        Width::store(s + i, _mm256_add_epi32(units, delta));
    }
    for (; i < n; ++i) s[i] = classMapUnit(s[i], meta, shift);
}

// Eight units: one gather of their deltas, masked to the BMP lanes (the
// others keep their unit). Each lane reads four bytes starting at its
// entry; the padding entry keeps U+FFFF's read inside the table.
OMB_TARGET __m256i mapByGather(__m256i units, const CaseDeltas &deltas) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    const auto *entries = reinterpret_cast<const int *>(deltas.entries);
    __m256i inBmp = _mm256_cmpeq_epi32(_mm256_srli_epi32(units, 16), zero);
    __m256i delta = _mm256_mask_i32gather_epi32(zero, entries, units, inBmp, 2);
    __m256i mapped = _mm256_and_si256(_mm256_add_epi32(units, delta), low16);
    return _mm256_or_si256(mapped, _mm256_andnot_si256(low16, units));
}

// Sixteen units narrowed to 16 bits (all below U+0100): each Latin run's
// delta is added where a unit falls inside the run.
OMB_TARGET __m256i mapLatin(__m256i units, const CaseDeltas &deltas) {
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
OMB_TARGET void caseMap(QVChar *s, int64_t n, const CaseDeltas &deltas) {
    const __m256i aboveLatin = _mm256_set1_epi32(~0xFF);
    const __m256i zero = _mm256_setzero_si256();
    int64_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m256i a = Width::load(s + i), b = Width::load(s + i + 8);
        if (!deltas.latinFits || !_mm256_testz_si256(_mm256_or_si256(a, b), aboveLatin)) {
            Width::store(s + i, mapByGather(a, deltas));
            Width::store(s + i + 8, mapByGather(b, deltas));
            continue;
        }
        // The pack works within each 128-bit half and the unpacks undo it
        // the same way, so a and b come back in their order.
        __m256i mapped = mapLatin(_mm256_packs_epi32(a, b), deltas);
        Width::store(s + i, _mm256_unpacklo_epi16(mapped, zero));
        Width::store(s + i + 8, _mm256_unpackhi_epi16(mapped, zero));
    }
    for (; i + 8 <= n; i += 8) Width::store(s + i, mapByGather(Width::load(s + i), deltas));
    for (; i < n; ++i) s[i] = caseMapDelta(s[i], deltas);
}

// For each 8-bit mask, the positions of its set bits in order: the lane
// indices that gather the lanes it marks to the front.
struct CompactIndices {
    uint8_t of[256][8];
    constexpr CompactIndices() : of() {
        for (int mask = 0; mask < 256; ++mask) {
            int k = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (mask >> bit & 1) of[mask][k++] = uint8_t(bit);
        }
    }
};
constexpr CompactIndices kCompact;

// The conversion steps that need more than the width's lane operations.
struct Block {
    // Eight byte positions at a time: every position is decoded as if a
    // character started there, with its length from its own byte (the
    // block is well formed, so each lead's length is right), and the lanes
    // of the lead positions before the last lead are gathered to the front
    // and stored, exactly as many as there are. A character never reads
    // past s + kWidth + 3.
    template <bool bigEndian>
    OMB_TARGET static uint64_t decodeWellFormed(const uint8_t *s, uint64_t leads, uint8_t *d,
                                                    uint64_t *taken) {
        uint64_t last = uint64_t(63 - __builtin_clzll(leads));
        uint64_t starts = leads & ((uint64_t(1) << last) - 1), made = 0;
        const __m256i low6 = _mm256_set1_epi32(0x3F);
        const __m256i swapBytes = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12,
                                                   3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
        for (uint64_t g = 0; g < last; g += 8) {
            uint32_t here = uint32_t(starts >> g) & 0xFF;
            if (here == 0) continue;
            auto bytesAt = [&](uint64_t k) OMB_TARGET {
                return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(s + g + k)));
            };
            __m256i b0 = bytesAt(0), b1 = bytesAt(1), b2 = bytesAt(2), b3 = bytesAt(3);
            __m256i two = _mm256_cmpgt_epi32(b0, _mm256_set1_epi32(0xBF));
            __m256i three = _mm256_cmpgt_epi32(b0, _mm256_set1_epi32(0xDF));
            __m256i four = _mm256_cmpgt_epi32(b0, _mm256_set1_epi32(0xEF));
            // length - 1, from the three comparisons (each -1 or 0)
            __m256i extra = _mm256_sub_epi32(_mm256_setzero_si256(), _mm256_add_epi32(two, _mm256_add_epi32(three, four)));
            // lead payload 0x7F, 0x1F, 0x0F, 0x07 for lengths 1 to 4
            __m256i leadMask = _mm256_srlv_epi32(_mm256_set1_epi32(0x7F), _mm256_sub_epi32(extra, two));
            __m256i c = _mm256_or_si256(
                _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(b0, leadMask), 18),
                                _mm256_slli_epi32(_mm256_and_si256(b1, low6), 12)),
                _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(b2, low6), 6), _mm256_and_si256(b3, low6)));
            // shifted right by 6 x (4 - length) = 18 - 6 x extra
            __m256i shift = _mm256_sub_epi32(_mm256_set1_epi32(18),
                                             _mm256_add_epi32(_mm256_slli_epi32(extra, 2), _mm256_slli_epi32(extra, 1)));
            c = _mm256_srlv_epi32(c, shift);
            __m256i order = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(kCompact.of[here])));
            c = _mm256_permutevar8x32_epi32(c, order);
            if (bigEndian) c = _mm256_shuffle_epi8(c, swapBytes);
            int count = __builtin_popcount(here);
            __m256i first = _mm256_cmpgt_epi32(_mm256_set1_epi32(count), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
            _mm256_maskstore_epi32(reinterpret_cast<int *>(d + 4 * made), first, c);
            made += uint64_t(count);
        }
        *taken = last;
        return made;
    }

    // Eight bytes at a time become eight 32-bit lanes; a big-endian unit
    // carries its byte in the lane's last byte, the top of the lane as stored.
    template <bool bigEndian>
    OMB_TARGET static void widen(const uint8_t *p, uint8_t *d) {
        for (int k = 0; k < 4; ++k) {
            __m256i v = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + 8 * k)));
            Width::store(d + 32 * k, bigEndian ? _mm256_slli_epi32(v, 24) : v);
        }
    }

    // Thirty-two units below 0x80 have nothing outside the ASCII bits (a
    // big-endian unit loads with its byte at the top of the lane). Packing
    // works within each 128-bit half, so the four-byte groups come out as
    // a0 b0 c0 d0 a1 b1 c1 d1 and one permutation puts them in order.
    template <bool bigEndian>
    OMB_TARGET static bool narrow(const uint8_t *p, uint8_t *d) {
        __m256i q[4] = {Width::load(p), Width::load(p + 32), Width::load(p + 64), Width::load(p + 96)};
        const __m256i outside = _mm256_set1_epi32(int(bigEndian ? 0x80FFFFFFu : 0xFFFFFF80u));
        __m256i any = _mm256_or_si256(_mm256_or_si256(q[0], q[1]), _mm256_or_si256(q[2], q[3]));
        if (!_mm256_testz_si256(any, outside)) return false;
        if (bigEndian)
            for (auto &v : q) v = _mm256_srli_epi32(v, 24);
        __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(q[0], q[1]), _mm256_packs_epi32(q[2], q[3]));
        Width::store(d, _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)));
        return true;
    }
};

}  // namespace
}  // namespace omb

#include "text_loops.h"
#include "utf_loops.h"

namespace omb {

const TextKernels wideKernels = {strUp, strLow, memSet, memTSet, memScan, memNScan, memTNScan,
                                 classMap, caseMap, asciiPrefix, wellFormedRun,
                                 utf8ToUtf32Be, utf8ToUtf32Le, utf32BeToUtf8, utf32LeToUtf8,
                                 utf8LengthOf};

}  // namespace omb
