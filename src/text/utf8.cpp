// UTF-8 text as byte strings: lengths, character sizes, comparisons.
//
// Lengths never decode: one table lookup per lead byte, and ASCII runs are
// skipped a vector at a time by the dispatched kernel. The comparisons
// decode a character only where the bytes differ or are non-ASCII and not
// identical.
#include "text/utf8.h"

#include "extension/export.h"
#include "extension/host_calls.h"
#include "ombrix/case.h"
#include "ombrix/primitives.h"
#include "text/kernels.h"

#define ROW(v) v, v, v, v, v, v, v, v, v, v, v, v, v, v, v, v

extern "C" {

OMBRIX_API extern const uint8_t _utf8_len[256];
OMBRIX_API extern const uint8_t valid_2nd_utf8[256];
OMBRIX_API extern const uint8_t valid_1st_utf8[256];

const uint8_t _utf8_len[256] = {
    ROW(1), ROW(1), ROW(1), ROW(1), ROW(1), ROW(1), ROW(1), ROW(1),  // 00-7F
    ROW(1), ROW(1), ROW(1), ROW(1),                                  // 80-BF
    ROW(2), ROW(2),                                                  // C0-DF
    ROW(3),                                                          // E0-EF
    4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6};                 // F0-FF

const uint8_t valid_2nd_utf8[256] = {
    ROW(0), ROW(0), ROW(0), ROW(0), ROW(0), ROW(0), ROW(0), ROW(0),  // 00-7F
    ROW(1), ROW(1), ROW(1), ROW(1),                                  // 80-BF
    ROW(0), ROW(0), ROW(0), ROW(0)};                                 // C0-FF

const uint8_t valid_1st_utf8[256] = {
    ROW(1), ROW(1), ROW(1), ROW(1), ROW(1), ROW(1), ROW(1), ROW(1),  // 00-7F
    ROW(0), ROW(0), ROW(0), ROW(0),                                  // 80-BF
    0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,                  // C0-CF
    ROW(1), ROW(1),                                                  // D0-EF
    1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};                 // F0-FF

}  // extern "C"

#undef ROW

namespace {

using Bytes = const unsigned char *;

Bytes bytesOf(const char *s) { return reinterpret_cast<Bytes>(s); }

constexpr unsigned char kBlank = 0x20;
constexpr QVChar kReplacement = 0xFFFD;

QVWord *textServices() {
    QVWord *host = omb::currentHost();
    return host ? omb::slotValue<QVWord *>(host, QV_HOST_TEXT_SERVICES) : nullptr;
}

// Decodes one character of at most `available` (at least 1) bytes. A byte
// below 0x80 is itself; a lead byte that may start a character gives its
// payload with the continuation bytes' low six bits, unexamined, or U+FFFD
// over all available bytes when the sequence does not fit; a rejected lead
// byte gives U+FFFD over itself and the continuation bytes it announced.
QVChar readChar(Bytes p, uint64_t available, uint64_t *consumed) {
    static const unsigned char payloadMask[7] = {0, 0x7F, 0x1F, 0x0F, 0x07, 0x03, 0x01};
    unsigned char lead = *p;
    if (lead < 0x80) {
        *consumed = 1;
        return lead;
    }
    uint64_t length = _utf8_len[lead];
    if (!valid_1st_utf8[lead]) {
        uint64_t span = 1;
        while (span < length && span < available && omb::isContinuation(p[span])) ++span;
        *consumed = span;
        return kReplacement;
    }
    if (available < length) {
        *consumed = available;
        return kReplacement;
    }
    QVChar c = lead & payloadMask[length];
    for (uint64_t i = 1; i < length; ++i) c = (c << 6) | (p[i] & 0x3F);
    *consumed = length;
    return c;
}

// Case folding for ordering: the host's fold (mode 0) when it offers text
// services. Without them the static lower-case tables stand in, so that a
// bare host still orders letters of the mapped blocks without case.
QVChar foldForOrder(QVChar c, QVWord *services) {
    if (!services) return qvtolower(c);
    return omb::slotFunction<QVCaseMapFn>(services, QV_TEXT_TO_LOWER)(services, c, 0);
}

// Lower case for equality: BMP characters as qvzstlo maps them, the others
// through the host's lower-case operation (mode 1); without text services
// those stay as they are.
QVChar lowerForEquality(QVChar c, QVWord *services) {
    if (c <= 0xFFFF) return qvtolower(c);
    if (!services) return c;
    return omb::slotFunction<QVCaseMapFn>(services, QV_TEXT_TO_LOWER)(services, c, 1);
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

}  // namespace

extern "C" {

OMBRIX_API uint64_t UTF8_SLENB(const char *s, uint64_t n) {
    if (!s) return 0;
    auto asciiPrefix = omb::textKernels().asciiPrefix;
    Bytes p = bytesOf(s), end = p + n;
    uint64_t count = 0;
    while (p < end) {
        if (*p < 0x80) {
            uint64_t run = asciiPrefix(p, static_cast<uint64_t>(end - p));
            count += run;
            p += run;
            continue;
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

OMBRIX_API uint64_t UTF8_BLENB(const char *s, uint64_t n) {
    if (n == 0) return 0;
    Bytes p = bytesOf(s);
    if (p[n - 1] < 0x80) return n;
    uint64_t lead = n - 1;
    while (lead > 0 && omb::isContinuation(p[lead])) --lead;
    if (!valid_1st_utf8[p[lead]]) return 0;
    uint64_t end = lead + _utf8_len[p[lead]];
    return end <= n ? end : lead;
}

OMBRIX_API uint64_t UTF8_BLEN(const char *s) { return s ? UTF8_BLENB(s, ybStrLen(s)) : 0; }

OMBRIX_API int32_t utf8_len(const char *p) { return _utf8_len[*bytesOf(p)]; }

OMBRIX_API uint64_t qvzsu8CharSize(const char *p, uint8_t *valid) {
    Bytes c = bytesOf(p);
    uint64_t announced = _utf8_len[c[0]];
    uint64_t size = omb::charSpan(c, announced);
    if (valid) {
        bool ok = valid_1st_utf8[c[0]] && size == announced;
        if (ok && size > 1) {
            switch (c[0]) {
                case 0xE0: ok = c[1] >= 0xA0; break;
                case 0xED: ok = c[1] <= 0x9F; break;
                case 0xF0: ok = c[1] >= 0x90; break;
                default: break;
            }
        }
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
    auto asciiPrefix = omb::textKernels().asciiPrefix;
    Bytes p = bytesOf(s), end = p + n;
    uint64_t count = 0;
    while (p < end) {
        uint64_t left = static_cast<uint64_t>(end - p);
        if (*p < 0x80) {
            uint64_t run = asciiPrefix(p, left);
            count += run;
            p += run;
            continue;
        }
        ++count;
        p += omb::charSpan(p, left);
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
    QVWord *services = textServices();
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
        QVChar ua = readChar(w.a, w.ra, &na), ub = readChar(w.b, w.rb, &nb);
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
    QVWord *services = textServices();
    Walk w{bytesOf(a), bytesOf(b), an, bn};
    while (w.ra > 0) {
        if (w.rb == 0) return 0;
        if (uint64_t same = identicalSequence(w.a, w.ra, w.b, w.rb)) {
            w.advance(same, same);
            continue;
        }
        uint64_t na = 0, nb = 0;
        QVChar ua = readChar(w.a, w.ra, &na), ub = readChar(w.b, w.rb, &nb);
        if (lowerForEquality(ua, services) != lowerForEquality(ub, services)) return 0;
        w.advance(na, nb);
    }
    return w.rb == 0 ? 1 : 0;
}

OMBRIX_API int32_t qvzsu8NormEqual(const char *a, uint64_t an, const char *b, uint64_t bn) {
    return qvzsu8NormEqualText(a, an, b, bn, 20);
}

}  // extern "C"
