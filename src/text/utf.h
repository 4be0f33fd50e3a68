// Internal side of the UTF conversions: the one-character readers and
// writers as inline functions (the exported routines and the vector loops
// both use them) and the plain per-character drivers that every fast path
// must agree with. The vector conversion loops are in the kernel records
// (kernels.h).
#pragma once

#include <cstdint>

#include "ombrix/container.h"
#include "ombrix/utf.h"
#include "text/utf8_rules.h"

namespace omb {

constexpr QVChar kReplacementChar = 0xFFFD;


inline uint32_t load32be(const uint8_t *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint32_t load32le(const uint8_t *p) {
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
inline uint16_t load16be(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint16_t load16le(const uint8_t *p) { return uint16_t(p[1] << 8 | p[0]); }
inline void store32be(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}
inline void store32le(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}
inline void store16be(uint8_t *p, uint32_t v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }
inline void store16le(uint8_t *p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }

inline QVStatus readResult(QVChar value, uint64_t used, QVStatus status, QVChar *cp,
                           uint64_t *consumed) {
    *cp = value;
    *consumed = used;
    return status;
}

// One UTF-8 character. Only the lead byte is judged: continuation bytes,
// overlong forms and encoded surrogates pass (isLegalUTF8 judges those). A
// rejected lead byte swallows the continuation bytes its length announces,
// so that one bad sequence gives one U+FFFD. With nothing available there is
// no lead byte to judge: U+FFFD, nothing consumed, input ends inside a
// sequence.
inline QVStatus readUtf8(const uint8_t *s, uint64_t n, QVChar *cp, uint64_t *consumed) {
    if (n == 0) return readResult(kReplacementChar, 0, OMBRIX_E_TRUNCATED, cp, consumed);
    uint8_t lead = s[0];
    if (lead < 0x80) return readResult(lead, 1, 0, cp, consumed);
    uint64_t len = utf8rules::bytesFromUTF8(lead);
    if (!utf8rules::valid_1st_utf8(lead)) {
        uint64_t used = 1;
        while (used < len && used < n && utf8rules::valid_2nd_utf8(s[used])) ++used;
        return readResult(kReplacementChar, used, OMBRIX_E_INVALID_SEQUENCE, cp, consumed);
    }
    if (n < len) return readResult(kReplacementChar, n, OMBRIX_E_TRUNCATED, cp, consumed);
    QVChar c = lead & utf8rules::utf8_mask[len];
    for (uint64_t i = 1; i < len; ++i) c = c << 6 | (s[i] & 0x3F);
    return readResult(c, len, 0, cp, consumed);
}

// One UTF-16 character. A high surrogate cut off by the end of the input
// consumes one byte, so a caller that skips and retries meets the rest as a
// fresh unit boundary one byte on.
template <uint16_t (*load)(const uint8_t *)>
inline QVStatus readUtf16(const uint8_t *s, uint64_t n, QVChar *cp, uint64_t *consumed) {
    if (n < 2) return readResult(kReplacementChar, n, OMBRIX_E_TRUNCATED, cp, consumed);
    QVChar u = load(s);
    if (u < 0xD800 || u > 0xDBFF) {
        if (u >= 0xDC00 && u <= 0xDFFF)
            return readResult(kReplacementChar, 2, OMBRIX_E_INVALID_SEQUENCE, cp, consumed);
        return readResult(u, 2, 0, cp, consumed);
    }
    if (n < 4) return readResult(kReplacementChar, 1, OMBRIX_E_TRUNCATED, cp, consumed);
    QVChar v = load(s + 2);
    if (v < 0xDC00 || v > 0xDFFF)
        return readResult(kReplacementChar, 4, OMBRIX_E_INVALID_SEQUENCE, cp, consumed);
    return readResult((((u & 0x3FF) << 10) | (v & 0x3FF)) + 0x10000, 4, 0, cp, consumed);
}

// One UTF-32 unit, taken as it is: no range check.
template <uint32_t (*load)(const uint8_t *)>
inline QVStatus readUtf32(const uint8_t *s, uint64_t n, QVChar *cp, uint64_t *consumed) {
    if (n < 4) return readResult(kReplacementChar, n, OMBRIX_E_TRUNCATED, cp, consumed);
    return readResult(load(s), 4, 0, cp, consumed);
}

inline QVStatus outputFull(uint64_t *written) {
    *written = 0;
    return OMBRIX_E_BUFFER_TOO_SMALL;
}

template <void (*store)(uint8_t *, uint32_t)>
inline QVStatus writeUtf32(QVChar c, uint8_t *d, uint64_t n, uint64_t *written) {
    if (n < 4) return outputFull(written);
    store(d, c);
    *written = 4;
    return 0;
}

// The low 16 bits as one unit; surrogates are not formed.
template <void (*store)(uint8_t *, uint32_t)>
inline QVStatus writeUnit16(QVChar c, uint8_t *d, uint64_t n, uint64_t *written) {
    if (n < 2) return outputFull(written);
    store(d, c & 0xFFFF);
    *written = 2;
    return 0;
}

// Above U+FFFF a surrogate pair, both units or neither.
template <void (*store)(uint8_t *, uint32_t)>
inline QVStatus writeUtf16(QVChar c, uint8_t *d, uint64_t n, uint64_t *written) {
    if (c <= 0xFFFF) return writeUnit16<store>(c, d, n, written);
    if (n < 4) return outputFull(written);
    store(d, 0xD800 + ((c - 0x10000) >> 10));
    store(d + 2, 0xDC00 + (c & 0x3FF));
    *written = 4;
    return 0;
}

// Bytes of the UTF-8 form of c: 1 to 4, every value above U+FFFF taking 4.
inline uint64_t utf8Length(QVChar c) {
    return 1 + uint64_t(c >= 0x80) + uint64_t(c >= 0x800) + uint64_t(c >= 0x10000);
}

// At most four bytes: surrogates pass, and values above U+10FFFF keep only
// what fits the lead byte after the three trailing 6-bit groups.
inline QVStatus writeUtf8(QVChar c, uint8_t *d, uint64_t n, uint64_t *written) {
    if (c < 0x80) {
        if (n < 1) return outputFull(written);
        d[0] = uint8_t(c);
        *written = 1;
        return 0;
    }
    uint64_t len = utf8Length(c);
    if (n < len) return outputFull(written);
    static constexpr uint8_t leads[5] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (uint64_t i = len - 1; i > 0; --i) {
        d[i] = uint8_t(0x80 | (c & 0x3F));
        c >>= 6;
    }
    d[0] = uint8_t(leads[len] + c);
    *written = len;
    return 0;
}

// The plain drivers: one reader call and one writer call per character,
// through the function pointers given. The exported drivers
// take faster routes for some pairs (the kernels' conversion loops, and
// loops with the reader and writer inlined) and must give exactly these
// results; the tests compare the two.
QVStatus convertToUtf32Plain(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                             uint64_t *written, OmbrixUtfReader read, OmbrixUtfWriter write);
QVStatus convertFromUtf32Plain(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                               uint64_t *written, OmbrixUtfWriter write, OmbrixUtfReader read);

}  // namespace omb
