// The wide variant of the UTF conversion loops: AVX2. Only called after the
// processor has been found to support it, so every function carries the
// target itself and the file needs no special flags.
#include <immintrin.h>

#include "utf.h"

#define OMB_UTF_TARGET __attribute__((target("avx2")))

namespace omb {
namespace {

OMB_UTF_TARGET inline __m256i load(const void *p) {
    return _mm256_loadu_si256(static_cast<const __m256i *>(p));
}
OMB_UTF_TARGET inline void store(void *p, __m256i v) {
    _mm256_storeu_si256(static_cast<__m256i *>(p), v);
}

struct Block {
    static constexpr uint64_t kWidth = 32;

    static constexpr uint64_t kAllBytes = 0xFFFFFFFF;

    // Continuation bytes 80-BF are the signed bytes below -64.
    OMB_UTF_TARGET static void scan(const uint8_t *p, uint64_t *high, uint64_t *continuation) {
        __m256i v = load(p);
        *high = uint32_t(_mm256_movemask_epi8(v));
        *continuation = uint32_t(_mm256_movemask_epi8(_mm256_cmpgt_epi8(_mm256_set1_epi8(-64), v)));
    }

    // Eight bytes at a time become eight 32-bit lanes; a big-endian unit
    // carries its byte in the lane's last byte, the top of the lane as stored.
    template <bool bigEndian>
    OMB_UTF_TARGET static void widen(const uint8_t *p, uint8_t *d) {
        for (int k = 0; k < 4; ++k) {
            __m256i v = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + 8 * k)));
            store(d + 32 * k, bigEndian ? _mm256_slli_epi32(v, 24) : v);
        }
    }

    // Thirty-two units below 0x80 have nothing outside the ASCII bits (a
    // big-endian unit loads with its byte at the top of the lane). Packing
    // works within each 128-bit half, so the four-byte groups come out as
    // a0 b0 c0 d0 a1 b1 c1 d1 and one permutation puts them in order.
    template <bool bigEndian>
    OMB_UTF_TARGET static bool narrow(const uint8_t *p, uint8_t *d) {
        __m256i q[4] = {load(p), load(p + 32), load(p + 64), load(p + 96)};
        const __m256i outside = _mm256_set1_epi32(int(bigEndian ? 0x80FFFFFFu : 0xFFFFFF80u));
        __m256i any = _mm256_or_si256(_mm256_or_si256(q[0], q[1]), _mm256_or_si256(q[2], q[3]));
        if (!_mm256_testz_si256(any, outside)) return false;
        if (bigEndian)
            for (auto &v : q) v = _mm256_srli_epi32(v, 24);
        __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(q[0], q[1]), _mm256_packs_epi32(q[2], q[3]));
        store(d, _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7)));
        return true;
    }

    // Eight units a step: each adds 1 plus one for every bound it passes,
    // compared as signed after shifting both sides by 2^31.
    OMB_UTF_TARGET static uint64_t utf8LengthOf(const QVChar *s, uint64_t n) {
        const __m256i flip = _mm256_set1_epi32(int(0x80000000u));
        const __m256i b1 = _mm256_set1_epi32(int(0x7Fu ^ 0x80000000u));
        const __m256i b2 = _mm256_set1_epi32(int(0x7FFu ^ 0x80000000u));
        const __m256i b3 = _mm256_set1_epi32(int(0xFFFFu ^ 0x80000000u));
        uint64_t i = 0, total = n;
        while (i + 8 <= n) {
            // A lane gains at most 3 a step; 2^28 steps keep it below 2^31.
            uint64_t stop = n - i > (uint64_t(1) << 31) ? i + (uint64_t(1) << 31) : n;
            __m256i acc = _mm256_setzero_si256();
            for (; i + 8 <= stop; i += 8) {
                __m256i v = _mm256_xor_si256(load(s + i), flip);
                acc = _mm256_sub_epi32(acc, _mm256_cmpgt_epi32(v, b1));
                acc = _mm256_sub_epi32(acc, _mm256_cmpgt_epi32(v, b2));
                acc = _mm256_sub_epi32(acc, _mm256_cmpgt_epi32(v, b3));
            }
            uint32_t lanes[8];
            store(lanes, acc);
            for (uint32_t lane : lanes) total += lane;
        }
        for (; i < n; ++i) total += utf8Length(s[i]) - 1;
        return total;
    }
};

}  // namespace
}  // namespace omb

#include "utf_loops.h"

namespace omb {
const UtfKernels utfWideKernels = kLoops;
}  // namespace omb
