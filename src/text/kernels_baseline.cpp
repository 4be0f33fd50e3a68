// The baseline kernels: SSE2, which every x86-64 processor has.
#include <emmintrin.h>

#include "kernels.h"
#include "utf.h"

#define OMB_TARGET

namespace omb {
namespace {

struct Width {
    using Vec = __m128i;
    static constexpr uint64_t kBytes = 16;
    static constexpr uint32_t kAllBytes = 0xFFFF;

    static Vec load(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
    static void store(void *p, Vec v) { _mm_storeu_si128(static_cast<__m128i *>(p), v); }
    static Vec zero() { return _mm_setzero_si128(); }
    static Vec bytes(char c) { return _mm_set1_epi8(c); }
    static Vec units(uint32_t c) { return _mm_set1_epi32(int(c)); }
    static uint32_t signs(Vec v) { return uint32_t(_mm_movemask_epi8(v)); }
    static Vec eq8(Vec a, Vec b) { return _mm_cmpeq_epi8(a, b); }
    static Vec gt8(Vec a, Vec b) { return _mm_cmpgt_epi8(a, b); }
    static Vec eq32(Vec a, Vec b) { return _mm_cmpeq_epi32(a, b); }
    static Vec gt32(Vec a, Vec b) { return _mm_cmpgt_epi32(a, b); }
    static Vec both(Vec a, Vec b) { return _mm_and_si128(a, b); }
    static Vec either(Vec a, Vec b) { return _mm_or_si128(a, b); }
    static Vec flip(Vec a, Vec b) { return _mm_xor_si128(a, b); }
    static Vec add8(Vec a, Vec b) { return _mm_add_epi8(a, b); }
    static Vec sub32(Vec a, Vec b) { return _mm_sub_epi32(a, b); }
};

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

// Defined in utf_loops.h.
template <bool bigEndian, bool checked>
uint64_t decodeBlock(const uint8_t *s, uint64_t leads, uint8_t *d, uint64_t *taken);

// The conversion steps that need more than the width's lane operations.
struct Block {
    // One character after the other: SSE2 has no variable shifts or lane
    // permutations to take several at once.
    template <bool bigEndian>
    static uint64_t decodeWellFormed(const uint8_t *s, uint64_t leads, uint8_t *d, uint64_t *taken) {
        return decodeBlock<bigEndian, false>(s, leads, d, taken);
    }

    // Each byte becomes a 32-bit lane; a big-endian unit carries its byte in
    // the lane's last byte, which is the top of the lane as loaded.
    template <bool bigEndian>
    static void widen(const uint8_t *p, uint8_t *d) {
        const __m128i zero = _mm_setzero_si128();
        __m128i bytes = Width::load(p);
        __m128i lo = _mm_unpacklo_epi8(bytes, zero), hi = _mm_unpackhi_epi8(bytes, zero);
        __m128i q[4] = {_mm_unpacklo_epi16(lo, zero), _mm_unpackhi_epi16(lo, zero),
                        _mm_unpacklo_epi16(hi, zero), _mm_unpackhi_epi16(hi, zero)};
        for (int k = 0; k < 4; ++k) Width::store(d + 16 * k, bigEndian ? _mm_slli_epi32(q[k], 24) : q[k]);
    }

    // Sixteen units below 0x80 have nothing outside the ASCII bits (a
    // big-endian unit loads with its byte at the top of the lane); packing
    // the lanes twice leaves the bytes in order.
    template <bool bigEndian>
    static bool narrow(const uint8_t *p, uint8_t *d) {
        __m128i q[4] = {Width::load(p), Width::load(p + 16), Width::load(p + 32), Width::load(p + 48)};
        const __m128i outside = _mm_set1_epi32(int(bigEndian ? 0x80FFFFFFu : 0xFFFFFF80u));
        __m128i any = _mm_or_si128(_mm_or_si128(q[0], q[1]), _mm_or_si128(q[2], q[3]));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(any, outside), _mm_setzero_si128())) != 0xFFFF)
            return false;
        if (bigEndian)
            for (auto &v : q) v = _mm_srli_epi32(v, 24);
        Width::store(d, _mm_packus_epi16(_mm_packs_epi32(q[0], q[1]), _mm_packs_epi32(q[2], q[3])));
        return true;
    }
};

}  // namespace
}  // namespace omb

#include "text_loops.h"
#include "utf_loops.h"

namespace omb {

const TextKernels baselineKernels = {strUp, strLow, memSet, memTSet, memScan, memNScan, memTNScan,
                                     classMap, caseMap, asciiPrefix, wellFormedRun,
                                     utf8ToUtf32Be, utf8ToUtf32Le, utf32BeToUtf8, utf32LeToUtf8,
                                     utf8LengthOf};

}  // namespace omb
