// The baseline variant of the UTF conversion loops: SSE2, which every x86-64
// processor has.
#include <emmintrin.h>

#include "utf.h"

#define OMB_UTF_TARGET

namespace omb {
namespace {

// Defined in utf_loops.h.
template <bool bigEndian, bool checked>
uint64_t decodeBlock(const uint8_t *s, uint64_t leads, uint8_t *d, uint64_t *taken);

inline __m128i load(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
inline void store(void *p, __m128i v) { _mm_storeu_si128(static_cast<__m128i *>(p), v); }

struct Block {
    static constexpr uint64_t kWidth = 16;

    static constexpr uint64_t kAllBytes = 0xFFFF;

    // As signed bytes: continuation bytes 80-BF are -128..-65, leads C2-DF
    // -62..-33, E0-EF -32..-17, F0-F4 -16..-12.
    static BlockBytes scan(const uint8_t *p) {
        __m128i v = load(p);
        auto mask = [](__m128i m) { return uint64_t(uint32_t(_mm_movemask_epi8(m))); };
        auto from = [&](int low) { return _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(char(low - 1))),
                                                         _mm_cmplt_epi8(v, _mm_set1_epi8(-11))); };
        uint64_t high = mask(v), continuation = mask(_mm_cmplt_epi8(v, _mm_set1_epi8(-64)));
        uint64_t two = mask(from(-62)), three = mask(from(-32)), four = mask(from(-16));
        uint64_t announced = ((two << 1) | (three << 2) | (four << 3)) & kAllBytes;
        return {high, continuation, announced, high & ~continuation & ~two};
    }

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
        __m128i bytes = load(p);
        __m128i lo = _mm_unpacklo_epi8(bytes, zero), hi = _mm_unpackhi_epi8(bytes, zero);
        __m128i q[4] = {_mm_unpacklo_epi16(lo, zero), _mm_unpackhi_epi16(lo, zero),
                        _mm_unpacklo_epi16(hi, zero), _mm_unpackhi_epi16(hi, zero)};
        for (int k = 0; k < 4; ++k) store(d + 16 * k, bigEndian ? _mm_slli_epi32(q[k], 24) : q[k]);
    }

    // Sixteen units below 0x80 have nothing outside the ASCII bits (a
    // big-endian unit loads with its byte at the top of the lane); packing
    // the lanes twice leaves the bytes in order.
    template <bool bigEndian>
    static bool narrow(const uint8_t *p, uint8_t *d) {
        __m128i q[4] = {load(p), load(p + 16), load(p + 32), load(p + 48)};
        const __m128i outside = _mm_set1_epi32(int(bigEndian ? 0x80FFFFFFu : 0xFFFFFF80u));
        __m128i any = _mm_or_si128(_mm_or_si128(q[0], q[1]), _mm_or_si128(q[2], q[3]));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(any, outside), _mm_setzero_si128())) != 0xFFFF)
            return false;
        if (bigEndian)
            for (auto &v : q) v = _mm_srli_epi32(v, 24);
        store(d, _mm_packus_epi16(_mm_packs_epi32(q[0], q[1]), _mm_packs_epi32(q[2], q[3])));
        return true;
    }

    // Four units a step: each adds 1 plus one for every bound it passes.
    // SSE2 compares 32-bit lanes as signed only, so both sides are shifted
    // by 2^31 first.
    static uint64_t utf8LengthOf(const QVChar *s, uint64_t n) {
        const __m128i flip = _mm_set1_epi32(int(0x80000000u));
        const __m128i b1 = _mm_set1_epi32(int(0x7Fu ^ 0x80000000u));
        const __m128i b2 = _mm_set1_epi32(int(0x7FFu ^ 0x80000000u));
        const __m128i b3 = _mm_set1_epi32(int(0xFFFFu ^ 0x80000000u));
        uint64_t i = 0, total = n;
        while (i + 4 <= n) {
            // A lane gains at most 3 a step; 2^28 steps keep it below 2^31.
            uint64_t stop = n - i > (uint64_t(1) << 30) ? i + (uint64_t(1) << 30) : n;
            __m128i acc = _mm_setzero_si128();
            for (; i + 4 <= stop; i += 4) {
                __m128i v = _mm_xor_si128(load(s + i), flip);
                acc = _mm_sub_epi32(acc, _mm_cmpgt_epi32(v, b1));
                acc = _mm_sub_epi32(acc, _mm_cmpgt_epi32(v, b2));
                acc = _mm_sub_epi32(acc, _mm_cmpgt_epi32(v, b3));
            }
            uint32_t lanes[4];
            store(lanes, acc);
            total += uint64_t(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
        }
        for (; i < n; ++i) total += utf8Length(s[i]) - 1;
        return total;
    }
};

}  // namespace
}  // namespace omb

#include "utf_loops.h"

namespace omb {
const UtfKernels utfBaselineKernels = kLoops;
}  // namespace omb
