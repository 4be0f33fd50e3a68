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

struct Block {
    static constexpr uint64_t kWidth = 32;

    static constexpr uint64_t kAllBytes = 0xFFFFFFFF;

    // As signed bytes: continuation bytes 80-BF are -128..-65, leads C2-DF
    // -62..-33, E0-EF -32..-17, F0-F4 -16..-12.
    OMB_UTF_TARGET static BlockBytes scan(const uint8_t *p) {
        __m256i v = load(p);
        auto mask = [](__m256i m) OMB_UTF_TARGET { return uint64_t(uint32_t(_mm256_movemask_epi8(m))); };
        auto from = [&](int low) OMB_UTF_TARGET {
            return _mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_set1_epi8(char(low - 1))),
                                    _mm256_cmpgt_epi8(_mm256_set1_epi8(-11), v));
        };
        uint64_t high = mask(v), continuation = mask(_mm256_cmpgt_epi8(_mm256_set1_epi8(-64), v));
        uint64_t two = mask(from(-62)), three = mask(from(-32)), four = mask(from(-16));
        uint64_t announced = ((two << 1) | (three << 2) | (four << 3)) & kAllBytes;
        return {high, continuation, announced, high & ~continuation & ~two};
    }

    // Eight byte positions at a time: every position is decoded as if a
    // character started there, with its length from its own byte (the
    // block is well formed, so each lead's length is right), and the lanes
    // of the lead positions before the last lead are gathered to the front
    // and stored, exactly as many as there are. A character never reads
    // past s + kWidth + 3.
    template <bool bigEndian>
    OMB_UTF_TARGET static uint64_t decodeWellFormed(const uint8_t *s, uint64_t leads, uint8_t *d,
                                                    uint64_t *taken) {
        uint64_t last = uint64_t(63 - __builtin_clzll(leads));
        uint64_t starts = leads & ((uint64_t(1) << last) - 1), made = 0;
        const __m256i low6 = _mm256_set1_epi32(0x3F);
        const __m256i swapBytes = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12,
                                                   3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
        for (uint64_t g = 0; g < last; g += 8) {
            uint32_t here = uint32_t(starts >> g) & 0xFF;
            if (here == 0) continue;
            auto bytesAt = [&](uint64_t k) OMB_UTF_TARGET {
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
