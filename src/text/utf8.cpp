// UTF-8 text as byte strings: lengths, character sizes, comparisons.
//
// Lengths never decode: one table lookup per lead byte, and well-formed text
// is stepped over a vector at a time by the dispatched kernel. The comparisons
// decode a character only where the bytes differ or are non-ASCII and not
// identical.
#include "text/utf8.h"

#include "core/export.h"
#include "core/host_calls.h"
#include "ombrix/case.h"
#include "ombrix/primitives.h"
#include "ombrix/utf.h"
#include "text/kernels.h"
#include "text/utf8_rules.h"

// The exported byte tables, each entry one of the sequence rules applied to
// its byte when the library is compiled.
#define OMB_BYTES16(rule, high)                                                               \
    rule(high + 0x0), rule(high + 0x1), rule(high + 0x2), rule(high + 0x3), rule(high + 0x4), \
        rule(high + 0x5), rule(high + 0x6), rule(high + 0x7), rule(high + 0x8),               \
        rule(high + 0x9), rule(high + 0xA), rule(high + 0xB), rule(high + 0xC),               \
        rule(high + 0xD), rule(high + 0xE), rule(high + 0xF)
#define OMB_BYTES256(rule)                                                                  \
    {OMB_BYTES16(rule, 0x00), OMB_BYTES16(rule, 0x10), OMB_BYTES16(rule, 0x20),             \
     OMB_BYTES16(rule, 0x30), OMB_BYTES16(rule, 0x40), OMB_BYTES16(rule, 0x50),             \
     OMB_BYTES16(rule, 0x60), OMB_BYTES16(rule, 0x70), OMB_BYTES16(rule, 0x80),             \
     OMB_BYTES16(rule, 0x90), OMB_BYTES16(rule, 0xA0), OMB_BYTES16(rule, 0xB0),             \
     OMB_BYTES16(rule, 0xC0), OMB_BYTES16(rule, 0xD0), OMB_BYTES16(rule, 0xE0),             \
     OMB_BYTES16(rule, 0xF0)}

extern "C" {

OMBRIX_API extern const uint8_t _utf8_len[256];
OMBRIX_API extern const uint8_t valid_2nd_utf8[256];
OMBRIX_API extern const uint8_t valid_1st_utf8[256];

constinit const uint8_t _utf8_len[256] = OMB_BYTES256(omb::utf8rules::bytesFromUTF8);
constinit const uint8_t valid_2nd_utf8[256] = OMB_BYTES256(omb::utf8rules::valid_2nd_utf8);
constinit const uint8_t valid_1st_utf8[256] = OMB_BYTES256(omb::utf8rules::valid_1st_utf8);

}  // extern "C"

#undef OMB_BYTES256
#undef OMB_BYTES16

namespace omb {

QVChar readUtf8Char(const unsigned char *p, uint64_t available, uint64_t *consumed) {
    QVChar c = kReplacementCharacter;
    UTF8_UTF32(p, available, &c, consumed);
    return c;
}

}  // namespace omb

namespace {

using Bytes = const unsigned char *;

Bytes bytesOf(const char *s) { return reinterpret_cast<Bytes>(s); }

constexpr unsigned char kBlank = 0x20;

// Case folding for ordering: the host's fold (mode 0) when it offers text
// services. Without them the static lower-case tables stand in, so that a
// bare host still orders letters of the mapped blocks without case.
QVChar foldForOrder(QVChar c, QVWord *services) {
    if (!services) return qvtolower(c);
    return omb::textToLower(services)(services, c, 0);
}

// Lower case for equality: BMP characters as qvzstlo maps them, the others
// through the host's lower-case operation (mode 1); without text services
// those stay as they are.
QVChar lowerForEquality(QVChar c, QVWord *services) {
    if (c <= 0xFFFF) return qvtolower(c);
    if (!services) return c;
    return omb::textToLower(services)(services, c, 1);
}

// The length of the identical sequence at the front of both strings, or 0:
// the lead byte's announced length, or what is left of both strings when
// that is less and the same for both (a cut sequence equals only itself).
uint64_t identicalSequence(Bytes a, uint64_t ra, Bytes b, uint64_t rb) {
    if (*a != *b) return 0;
    uint64_t length = _utf8_len[*a];
    uint64_t inA = length < ra ? length : ra, inB = length < rb ? length : rb;
    if (inA != inB) return 0;
    return ybMemCmp(a, b, inA) == 0 ? inA : 0;
}

// Two cursors walking a pair of strings, each with the bytes it has left.
struct Walk {
    Bytes a, b;
    uint64_t ra, rb;

    void advance(uint64_t na, uint64_t nb) {
        a += na;
        ra -= na;
        b += nb;
        rb -= nb;
    }
};

// The output of Encode and Decode: each character is written whole or not
// at all, and `used` never passes `capacity`.
struct Output {
    unsigned char *bytes;
    uint64_t capacity;
    uint64_t used;

    bool put(const unsigned char *p, uint64_t n) {
        if (n > capacity - used) return false;
        for (uint64_t i = 0; i < n; ++i) bytes[used + i] = p[i];
        used += n;
        return true;
    }
    bool putByte(unsigned char b) { return put(&b, 1); }
    bool putReplacement() {
        static const unsigned char replacement[3] = {0xEF, 0xBF, 0xBD};
        return put(replacement, 3);
    }
    // Three bytes of one 16-bit value (a surrogate in modified UTF-8).
    bool putThreeByte(QVChar unit) {
        const unsigned char b[3] = {static_cast<unsigned char>(0xE0 | (unit >> 12)),
                                    static_cast<unsigned char>(0x80 | ((unit >> 6) & 0x3F)),
                                    static_cast<unsigned char>(0x80 | (unit & 0x3F))};
        return put(b, 3);
    }
    bool putFourByte(QVChar c) {
        const unsigned char b[4] = {static_cast<unsigned char>(0xF0 | (c >> 18)),
                                    static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F)),
                                    static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F)),
                                    static_cast<unsigned char>(0x80 | (c & 0x3F))};
        return put(b, 4);
    }
};


constexpr uint32_t kZeroAsPair = 0x1;       // U+0000 as C0 80, surrogates always
constexpr uint32_t kReplaceSupplementary = 0x4;

// The continuation bytes that follow the lead at p, at most `wanted` and
// never beyond `available` bytes from p.
uint64_t continuationsAfter(Bytes p, uint64_t wanted, uint64_t available) {
    uint64_t k = 0;
    while (k < wanted && k + 1 < available && omb::isContinuation(p[k + 1])) ++k;
    return k;
}

// ED A0..BF xx: one UTF-16 surrogate written as a three-byte sequence.
bool isEncodedSurrogate(Bytes p, uint64_t length) {
    return length == 3 && p[0] == 0xED && (p[1] & 0xA0) == 0xA0;
}

QVChar payloadOf(Bytes p, uint64_t length) {
    uint64_t consumed = 0;
    return omb::readUtf8Char(p, length, &consumed);
}

QVStatus finish(const Output &out, uint64_t *written, QVStatus status) {
    if (written) *written = out.used;
    return status;
}

// One Encode step for the complete sequence of `length` bytes at p. False
// when the output is full.
bool encodeSequence(Output &out, Bytes p, uint64_t length, uint32_t flags, QVStatus &status) {
    if (length == 1) {
        if (*p == 0 && (flags & kZeroAsPair)) {
            static const unsigned char pair[2] = {0xC0, 0x80};
            return out.put(pair, 2);
        }
        if (omb::isContinuation(*p)) {
            status = OMBRIX_UTF8_REPLACED;
            return out.putReplacement();
        }
        return out.putByte(*p);
    }
    if (isEncodedSurrogate(p, length)) {
        status = OMBRIX_UTF8_REPLACED;
        return out.putReplacement();
    }
    if (length != 4) return out.put(p, length);
    // A four-byte sequence (F0..F7) becomes a surrogate pair, by the pair's
    // arithmetic even beyond U+10FFFF (F4 90 up, F5..F7): its units then
    // leave the high range, but each still fits three bytes. An overlong
    // form below U+10000 has no pair at all, and is replaced like one the
    // flags ask to replace.
    QVChar c = (QVChar(p[0] & 0x07) << 18) | (QVChar(p[1] & 0x3F) << 12) |
               (QVChar(p[2] & 0x3F) << 6) | QVChar(p[3] & 0x3F);  // F5..F7 too, which readers refuse
    bool pairs = (flags & kZeroAsPair) || !(flags & kReplaceSupplementary);
    if (!pairs || c < 0x10000) {
        status = OMBRIX_UTF8_REPLACED;
        return out.putReplacement();
    }
    QVChar offset = c - 0x10000;
    if (out.capacity - out.used < 6) return false;
    out.putThreeByte(0xD800 + (offset >> 10));
    return out.putThreeByte(0xDC00 + (offset & 0x3FF));
}

// Decode holds back one encoded surrogate until it sees what follows.
struct HeldSurrogate {
    QVChar unit = 0;
    bool held = false;
};

// A held surrogate that the next sequence does not complete is replaced.
bool releaseHeld(Output &out, HeldSurrogate &held, QVStatus &status) {
    if (!held.held) return true;
    held.held = false;
    status = OMBRIX_UTF8_REPLACED;
    return out.putReplacement();
}

bool decodeSequence(Output &out, Bytes p, uint64_t length, uint32_t flags, HeldSurrogate &held,
                    QVStatus &status) {
    if (isEncodedSurrogate(p, length)) {
        QVChar unit = payloadOf(p, 3);
        if (!held.held) {
            held = {unit, true};
            return true;
        }
        held.held = false;
        return out.putFourByte((((held.unit & 0x3FF) << 10) | (unit & 0x3FF)) + 0x10000);
    }
    // A held surrogate that this sequence does not complete is replaced, and
    // the sequence after it is copied as it stands.
    if (held.held) return releaseHeld(out, held, status) && out.put(p, length);
    if (length == 2 && p[0] == 0xC0 && p[1] == 0x80 && (flags & kZeroAsPair))
        return out.putByte(0);
    if (!valid_1st_utf8[*p]) {
        status = OMBRIX_UTF8_REPLACED;
        return out.putReplacement();
    }
    return out.put(p, length);
}

// Blanks removed by qvzsu8StripBlanks beyond U+0020, by mode.
bool isWideBlank(QVChar c) {
    return c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool isBlankInMode(QVChar c, int32_t mode) {
    if (mode == 2) return isWideBlank(c);
    return isWideBlank(c) || (c >= 0x09 && c <= 0x0D) || c == 0x85;
}

// Both counts step over vectors of well-formed text with the dispatched
// kernel and take one character at a time where it stops: at an irregular
// sequence, or in the last bytes, which the kernel is not called for once
// fewer than a vector's worth remain.
constexpr uint64_t kVectorWorth = 16;

}  // namespace

extern "C" {

OMBRIX_API uint64_t UTF8_SLENB(const char *s, uint64_t n) {
    if (!s) return 0;
    auto wellFormedRun = omb::textKernels().wellFormedRun;
    Bytes p = bytesOf(s), end = p + n;
    uint64_t count = 0;
    while (p < end) {
        if (static_cast<uint64_t>(end - p) >= kVectorWorth) {
            p += wellFormedRun(p, static_cast<uint64_t>(end - p), &count);
            if (p >= end) break;
        }
        ++count;
        uint64_t length = _utf8_len[*p];
        if (length >= static_cast<uint64_t>(end - p)) break;
        p += length;
    }
    return count;
}

// Stepping to the terminator counts what stepping over the bytes before it
// counts: a sequence cut short by the zero is one character either way.
OMBRIX_API uint64_t UTF8_SLEN(const char *s) { return s ? UTF8_SLENB(s, ybStrLen(s)) : 0; }

OMBRIX_API uint64_t UTF8_BLENB(const char *s, uint64_t n) { return omb::wholeCharacterPrefix(s, n); }

OMBRIX_API uint64_t UTF8_BLEN(const char *s) { return omb::wholeCharacterLength(s); }

OMBRIX_API int32_t utf8_len(const char *p) { return _utf8_len[*bytesOf(p)]; }

OMBRIX_API uint64_t qvzsu8CharSize(const char *p, uint8_t *valid) {
    Bytes c = bytesOf(p);
    uint64_t announced = _utf8_len[c[0]];
    uint64_t size = omb::charSpan(c, announced);
    if (valid) {
        bool ok = valid_1st_utf8[c[0]] && size == announced;
        if (ok && size > 1) ok = omb::utf8rules::secondByteFits(c[0], c[1]);
        *valid = ok ? 1 : 0;
    }
    return size;
}

OMBRIX_API uint64_t _U8CharSize(const char *p, int32_t *valid) {
    uint8_t ok = 0;
    uint64_t size = qvzsu8CharSize(p, valid ? &ok : nullptr);
    if (valid) *valid = ok;
    return size;
}

OMBRIX_API const char *qvzsu8NextChar(const char *p) { return p + qvzsu8CharSize(p, nullptr); }

OMBRIX_API uint64_t qvzsu8NumChars(const char *s, uint64_t n) {
    auto wellFormedRun = omb::textKernels().wellFormedRun;
    Bytes p = bytesOf(s), end = p + n;
    uint64_t count = 0;
    while (p < end) {
        if (static_cast<uint64_t>(end - p) >= kVectorWorth) {
            p += wellFormedRun(p, static_cast<uint64_t>(end - p), &count);
            if (p >= end) break;
        }
        ++count;
        p += omb::charSpan(p, static_cast<uint64_t>(end - p));
    }
    return count;
}

// `count` characters span at least `count` bytes, so an ASCII run may be
// looked for in that many bytes without reading past the text.
OMBRIX_API uint64_t qvzsu8ByteLength(const char *s, uint64_t count) {
    auto asciiPrefix = omb::textKernels().asciiPrefix;
    Bytes start = bytesOf(s), p = start;
    while (count > 0) {
        if (*p < 0x80) {
            uint64_t run = asciiPrefix(p, count);
            count -= run;
            p += run;
            continue;
        }
        --count;
        p += omb::charSpan(p, _utf8_len[*p]);
    }
    return static_cast<uint64_t>(p - start);
}

// Stepping over a zero-terminated string ends exactly at the zero, which is
// never a continuation byte: the byte count is the string's length.
OMBRIX_API void qvzsu8Lengths(const char *s, uint64_t *chars, uint64_t *bytes) {
    if (!s) return;
    uint64_t n = ybStrLen(s);
    if (chars) *chars = qvzsu8NumChars(s, n);
    if (bytes) *bytes = n;
}

OMBRIX_API int32_t qvzsu8CompareText(const char *a, uint64_t an, const char *b, uint64_t bn,
                                     int64_t) {
    int32_t order = ybMemCmp(a, b, an < bn ? an : bn);
    if (order != 0) return order;
    return an < bn ? -1 : (an > bn ? 1 : 0);
}

OMBRIX_API int32_t qvzsu8Compare(const char *a, uint64_t an, const char *b, uint64_t bn) {
    return qvzsu8CompareText(a, an, b, bn, 20);
}

// The walk ends when a reaches the length of the shorter string, or when b
// runs out first (its characters may be longer than a's). Then the longer
// remainder decides: only blanks leave the tie standing.
OMBRIX_API int32_t qvzsu8NormCompareText(const char *a, uint64_t an, const char *b, uint64_t bn,
                                         int64_t) {
    QVWord *services = omb::textServices();
    Walk w{bytesOf(a), bytesOf(b), an, bn};
    Bytes stop = w.a + (an < bn ? an : bn);
    int32_t tie = 0;
    while (w.a < stop && w.rb > 0) {
        unsigned char ca = *w.a, cb = *w.b;
        if (ca == cb && ca < 0x80) {
            w.advance(1, 1);
            continue;
        }
        if (uint64_t same = ca >= 0x80 ? identicalSequence(w.a, w.ra, w.b, w.rb) : 0) {
            w.advance(same, same);
            continue;
        }
        if (ca < 0x80 && cb < 0x80) {
            unsigned char la = ansi_lowcasetable[ca], lb = ansi_lowcasetable[cb];
            if (la != lb) return la < lb ? -2 : 2;
            if (tie == 0) tie = ca > cb ? 1 : -1;
            w.advance(1, 1);
            continue;
        }
        uint64_t na = 0, nb = 0;
        QVChar ua = omb::readUtf8Char(w.a, w.ra, &na), ub = omb::readUtf8Char(w.b, w.rb, &nb);
        if (tie == 0) tie = ua < ub ? -1 : 1;
        auto fa = static_cast<int32_t>(foldForOrder(ua, services));
        auto fb = static_cast<int32_t>(foldForOrder(ub, services));
        if (fa != fb) return fa < fb ? -2 : 2;
        w.advance(na, nb);
    }
    if (w.ra == w.rb) return tie;
    if (w.ra > w.rb) return ybMemNot(kBlank, w.a, w.ra - w.rb) ? tie : 2;
    return ybMemNot(kBlank, w.b, w.rb - w.ra) ? tie : -2;
}

OMBRIX_API int32_t qvzsu8NormCompare(const char *a, uint64_t an, const char *b, uint64_t bn) {
    return qvzsu8NormCompareText(a, an, b, bn, 20);
}

OMBRIX_API int32_t qvzsu8NormEqualText(const char *a, uint64_t an, const char *b, uint64_t bn,
                                       int64_t) {
    QVWord *services = omb::textServices();
    Walk w{bytesOf(a), bytesOf(b), an, bn};
    while (w.ra > 0) {
        if (w.rb == 0) return 0;
        if (uint64_t same = identicalSequence(w.a, w.ra, w.b, w.rb)) {
            w.advance(same, same);
            continue;
        }
        uint64_t na = 0, nb = 0;
        QVChar ua = omb::readUtf8Char(w.a, w.ra, &na), ub = omb::readUtf8Char(w.b, w.rb, &nb);
        if (lowerForEquality(ua, services) != lowerForEquality(ub, services)) return 0;
        w.advance(na, nb);
    }
    return w.rb == 0 ? 1 : 0;
}

OMBRIX_API int32_t qvzsu8NormEqual(const char *a, uint64_t an, const char *b, uint64_t bn) {
    return qvzsu8NormEqualText(a, an, b, bn, 20);
}

// The walk over the source is the same for both directions: a sequence
// whose continuation bytes are cut short is replaced as far as it goes and
// the walk resumes at the byte that cut it.
OMBRIX_API QVStatus qvzsu8Encode(const char *src, uint64_t n, char *dst, uint64_t cap,
                                 uint64_t *written, uint32_t flags) {
    Output out{reinterpret_cast<unsigned char *>(dst), cap, 0};
    QVStatus status = 0;
    Bytes p = bytesOf(src);
    for (uint64_t i = 0; i < n;) {
        uint64_t wanted = _utf8_len[p[i]] - 1;
        uint64_t present = continuationsAfter(p + i, wanted, n - i);
        bool ok;
        if (present < wanted) {
            status = OMBRIX_UTF8_REPLACED;
            ok = out.putReplacement();
        } else {
            ok = encodeSequence(out, p + i, wanted + 1, flags, status);
        }
        if (!ok) return finish(out, written, OMBRIX_UTF8_OUTPUT_FULL);
        i += present + 1;
    }
    return finish(out, written, status);
}

OMBRIX_API QVStatus qvzsu8Decode(const char *src, uint64_t n, char *dst, uint64_t cap,
                                 uint64_t *written, uint32_t flags) {
    if (!(flags & kZeroAsPair) && (flags & kReplaceSupplementary)) {
        uint64_t m = n < cap ? n : cap;
        uint64_t copied = qvzsu8Copy(src, m, dst, m);
        if (written) *written = copied;
        return copied < n ? OMBRIX_UTF8_OUTPUT_FULL : 0;
    }
    Output out{reinterpret_cast<unsigned char *>(dst), cap, 0};
    QVStatus status = 0;
    HeldSurrogate held;
    Bytes p = bytesOf(src);
    for (uint64_t i = 0; i < n;) {
        uint64_t wanted = _utf8_len[p[i]] - 1;
        uint64_t present = continuationsAfter(p + i, wanted, n - i);
        bool ok;
        if (present < wanted) {
            ok = releaseHeld(out, held, status);
            status = OMBRIX_UTF8_REPLACED;
            ok = ok && out.putReplacement();
        } else {
            ok = decodeSequence(out, p + i, wanted + 1, flags, held, status);
        }
        if (!ok) return finish(out, written, OMBRIX_UTF8_OUTPUT_FULL);
        i += present + 1;
    }
    if (!releaseHeld(out, held, status)) return finish(out, written, OMBRIX_UTF8_OUTPUT_FULL);
    return finish(out, written, status);
}

OMBRIX_API uint64_t qvzsu8CopyText(const char *src, uint64_t sn, int64_t, char *dst,
                                   uint64_t dn) {
    if (!src) {
        ybMemSet(dst, kBlank, dn);
        return 0;
    }
    uint64_t n = UTF8_BLENB(src, sn < dn ? sn : dn);
    ybMemSCpy(src, dst, n);
    ybMemSet(dst + n, kBlank, dn - n);
    return n;
}

OMBRIX_API uint64_t qvzsu8Copy(const char *src, uint64_t sn, char *dst, uint64_t dn) {
    return qvzsu8CopyText(src, sn, 20, dst, dn);
}

OMBRIX_API uint64_t qvzsu8StripBlanks(const char *s, uint64_t n, int32_t mode) {
    Bytes p = bytesOf(s);
    if (mode == 0) {
        while (n > 0 && p[n - 1] == kBlank) --n;
        return n;
    }
    while (n > 0) {
        uint64_t lead = n - 1;
        while (lead > 0 && omb::isContinuation(p[lead])) --lead;
        uint64_t consumed = 0;
        if (!isBlankInMode(omb::readUtf8Char(p + lead, n - lead, &consumed), mode)) break;
        n = lead;
    }
    return n;
}

OMBRIX_API int32_t _QVZSU8IsFunct(const char *p, int32_t (*classify)(QVChar)) {
    uint64_t consumed = 0;
    return classify(omb::readUtf8Char(bytesOf(p), _utf8_len[*bytesOf(p)], &consumed));
}

}  // extern "C"
