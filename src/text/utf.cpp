// UTF readers, writers and the drivers over them.
//
// The one-character routines live in utf.h as inline functions; here they
// get their exported names. The drivers hand the pairs hosts use most
// (UTF-8 to UTF-32 in either byte order and back) to the vector loops of
// utf_loops.h, run UTF-16 to UTF-32 and back through the plain loop with
// the routines inlined, and every other pair through the plain loop.
#include "text/utf.h"

#include <cstring>

#include "core/export.h"
#include "text/kernels.h"

namespace omb {
namespace {

// The two drivers' loops, over any reader and writer: function pointers for
// the plain drivers, inlined routines for the pairs the drivers recognise.
template <class Read, class Write>
inline QVStatus toUtf32Loop(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                            uint64_t *written, Read read, Write write) {
    uint64_t units = 0, pos = 0, remaining = cap;
    QVStatus status = 0;
    while (pos < n && units < cap / 4) {
        QVChar c;
        uint64_t used = 0, put = 0;
        status = read(src + pos, n - pos, &c, &used);
        if (status != 0) break;
        pos += used;
        status = write(c, dst + 4 * units, remaining, &put);
        if (status != 0) break;
        remaining -= put;
        ++units;
    }
    if (written) *written = 4 * units;
    return status;
}

// The reader sees one 4-byte unit at a time; its status is not looked at,
// the text being UTF-32 already.
template <class Read, class Write>
inline QVStatus fromUtf32Loop(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                              uint64_t *written, Write write, Read read) {
    uint64_t out = 0;
    QVStatus status = 0;
    for (uint64_t i = 0; i < n / 4 && out < cap; ++i) {
        QVChar c = 0;
        uint64_t used, put = 0;
        read(src + 4 * i, 4, &c, &used);
        status = write(c, dst + out, cap - out, &put);
        if (status != 0) break;
        out += put;
    }
    if (written) *written = out;
    return status;
}

using Loop = QVStatus (*)(const uint8_t *, uint64_t, uint8_t *, uint64_t, uint64_t *);

template <OmbrixUtfReader reader, OmbrixUtfWriter writer>
QVStatus toUtf32Inlined(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap, uint64_t *written) {
    return toUtf32Loop(
        src, n, dst, cap, written,
        [](const uint8_t *s, uint64_t a, QVChar *c, uint64_t *u) { return reader(s, a, c, u); },
        [](QVChar c, uint8_t *d, uint64_t a, uint64_t *w) { return writer(c, d, a, w); });
}

template <OmbrixUtfWriter writer, OmbrixUtfReader reader>
QVStatus fromUtf32Inlined(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap, uint64_t *written) {
    return fromUtf32Loop(
        src, n, dst, cap, written,
        [](QVChar c, uint8_t *d, uint64_t a, uint64_t *w) { return writer(c, d, a, w); },
        [](const uint8_t *s, uint64_t a, QVChar *c, uint64_t *u) { return reader(s, a, c, u); });
}

struct RecognisedPair {
    OmbrixUtfReader read;
    OmbrixUtfWriter write;
    Loop loop;
};

}  // namespace

QVStatus convertToUtf32Plain(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                             uint64_t *written, OmbrixUtfReader read, OmbrixUtfWriter write) {
    return toUtf32Loop(src, n, dst, cap, written, read, write);
}

QVStatus convertFromUtf32Plain(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                               uint64_t *written, OmbrixUtfWriter write, OmbrixUtfReader read) {
    return fromUtf32Loop(src, n, dst, cap, written, write, read);
}

}  // namespace omb

using namespace omb;

extern "C" {

OMBRIX_API QVStatus UTF8_UTF32(const uint8_t *s, uint64_t n, QVChar *cp, uint64_t *consumed) {
    return readUtf8(s, n, cp, consumed);
}
OMBRIX_API QVStatus UTF16_UTF32(const uint8_t *s, uint64_t n, QVChar *cp, uint64_t *consumed) {
    return readUtf16<load16be>(s, n, cp, consumed);
}
OMBRIX_API QVStatus UTF16_UTF32_SWAP(const uint8_t *s, uint64_t n, QVChar *cp, uint64_t *consumed) {
    return readUtf16<load16le>(s, n, cp, consumed);
}
OMBRIX_API QVStatus COPY_UTF32b(const uint8_t *s, uint64_t n, QVChar *cp, uint64_t *consumed) {
    return readUtf32<load32be>(s, n, cp, consumed);
}
OMBRIX_API QVStatus COPY_UTF32b_SWAP(const uint8_t *s, uint64_t n, QVChar *cp, uint64_t *consumed) {
    return readUtf32<load32le>(s, n, cp, consumed);
}

OMBRIX_API QVStatus COPY_UTF32(QVChar c, uint8_t *d, uint64_t n, uint64_t *written) {
    return writeUtf32<store32be>(c, d, n, written);
}
OMBRIX_API QVStatus COPY_UTF32_SWAP(QVChar c, uint8_t *d, uint64_t n, uint64_t *written) {
    return writeUtf32<store32le>(c, d, n, written);
}
OMBRIX_API QVStatus UTF32_UTF16(QVChar c, uint8_t *d, uint64_t n, uint64_t *written) {
    return writeUnit16<store16le>(c, d, n, written);
}
OMBRIX_API QVStatus UTF32_UTF16_SWAP(QVChar c, uint8_t *d, uint64_t n, uint64_t *written) {
    return writeUnit16<store16be>(c, d, n, written);
}
OMBRIX_API QVStatus UTF32_UTF16s(QVChar c, uint8_t *d, uint64_t n, uint64_t *written) {
    return writeUtf16<store16le>(c, d, n, written);
}
OMBRIX_API QVStatus UTF32_UTF16s_SWAP(QVChar c, uint8_t *d, uint64_t n, uint64_t *written) {
    return writeUtf16<store16be>(c, d, n, written);
}
OMBRIX_API QVStatus UTF32_UTF8(QVChar c, uint8_t *d, uint64_t n, uint64_t *written) {
    return writeUtf8(c, d, n, written);
}
OMBRIX_API QVStatus UTF16_UTF8(QVChar c, uint8_t *d, uint64_t n, uint64_t *written) {
    return writeUtf8(c & 0xFFFF, d, n, written);
}

OMBRIX_API uint32_t Byte2DWord(const uint8_t *p) { return load32le(p); }
OMBRIX_API uint32_t Byte2DWord_swap(const uint8_t *p) { return load32be(p); }
OMBRIX_API uint16_t Byte2Word(const uint8_t *p) { return load16le(p); }
OMBRIX_API uint16_t Byte2Word_swap(const uint8_t *p) { return load16be(p); }
OMBRIX_API QVChar BYTE_UTF16_UTF32(const uint8_t *p) { return load16be(p); }
OMBRIX_API QVChar BYTE_UTF16_UTF32_SWAP(const uint8_t *p) { return load16le(p); }

}  // extern "C"

namespace {

// UTF-16 in either order to UTF-32 in either order and back: the plain
// loop with the routines' inline bodies, which the exported names (open to
// interposition in a shared library) would not let the compiler inline.
const RecognisedPair kInlinedToUtf32[] = {
    {UTF16_UTF32, COPY_UTF32, toUtf32Inlined<readUtf16<load16be>, writeUtf32<store32be>>},
    {UTF16_UTF32, COPY_UTF32_SWAP, toUtf32Inlined<readUtf16<load16be>, writeUtf32<store32le>>},
    {UTF16_UTF32_SWAP, COPY_UTF32, toUtf32Inlined<readUtf16<load16le>, writeUtf32<store32be>>},
    {UTF16_UTF32_SWAP, COPY_UTF32_SWAP, toUtf32Inlined<readUtf16<load16le>, writeUtf32<store32le>>},
};
const RecognisedPair kInlinedFromUtf32[] = {
    {COPY_UTF32b, UTF32_UTF16s, fromUtf32Inlined<writeUtf16<store16le>, readUtf32<load32be>>},
    {COPY_UTF32b, UTF32_UTF16s_SWAP, fromUtf32Inlined<writeUtf16<store16be>, readUtf32<load32be>>},
    {COPY_UTF32b_SWAP, UTF32_UTF16s, fromUtf32Inlined<writeUtf16<store16le>, readUtf32<load32le>>},
    {COPY_UTF32b_SWAP, UTF32_UTF16s_SWAP, fromUtf32Inlined<writeUtf16<store16be>, readUtf32<load32le>>},
};

Loop recognised(const RecognisedPair (&pairs)[4], OmbrixUtfReader read, OmbrixUtfWriter write) {
    for (const RecognisedPair &pair : pairs)
        if (pair.read == read && pair.write == write) return pair.loop;
    return nullptr;
}

}  // namespace

extern "C" {

OMBRIX_API QVStatus ConvertToUTF32(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                                   uint64_t *written, OmbrixUtfReader read, OmbrixUtfWriter write) {
    if (read == UTF8_UTF32 && write == COPY_UTF32) return textKernels().utf8ToUtf32Be(src, n, dst, cap, written);
    if (read == UTF8_UTF32 && write == COPY_UTF32_SWAP) return textKernels().utf8ToUtf32Le(src, n, dst, cap, written);
    if (Loop loop = recognised(kInlinedToUtf32, read, write)) return loop(src, n, dst, cap, written);
    return convertToUtf32Plain(src, n, dst, cap, written, read, write);
}

OMBRIX_API QVStatus ConvertFromUTF32(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                                     uint64_t *written, OmbrixUtfWriter write, OmbrixUtfReader read) {
    if (write == UTF32_UTF8 && read == COPY_UTF32b) return textKernels().utf32BeToUtf8(src, n, dst, cap, written);
    if (write == UTF32_UTF8 && read == COPY_UTF32b_SWAP) return textKernels().utf32LeToUtf8(src, n, dst, cap, written);
    if (Loop loop = recognised(kInlinedFromUtf32, read, write)) return loop(src, n, dst, cap, written);
    return convertFromUtf32Plain(src, n, dst, cap, written, write, read);
}

// The units are in the processor's order. Only the first unit is stored
// for a character that failed to read.
OMBRIX_API QVStatus UTF8_UTF16(const uint8_t *src, uint64_t n, uint16_t out[2], uint64_t *consumed) {
    QVChar c;
    if (readUtf8(src, n, &c, consumed) != 0) {
        out[0] = uint16_t(kReplacementChar);
        return OMBRIX_E_INVALID_SEQUENCE;
    }
    if (c >= 0x10000) {
        out[0] = uint16_t(0xD800 + ((c - 0x10000) >> 10));
        out[1] = uint16_t(0xDC00 + (c & 0x3FF));
    } else {
        out[0] = uint16_t(c);
    }
    return 0;
}

OMBRIX_API QVStatus COPY_UTF(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap, uint64_t *copied) {
    uint64_t count = n < cap ? n : cap;
    if (count) std::memmove(dst, src, count);
    if (copied) *copied = count;
    return n > cap ? OMBRIX_E_BUFFER_TOO_SMALL : 0;
}

// Every continuation byte is examined, so `index` ends at the lowest one
// that fails; the bounds on the second byte after E0, ED and F0 (overlongs
// and encoded surrogates) fail the sequence without moving `index`.
OMBRIX_API int32_t isLegalUTF8(const uint8_t *s, int32_t len, int32_t *index) {
    *index = len;
    if (len < 1 || len > 4) return 1;
    int32_t legal = 1;
    for (int32_t pos = len - 1; pos >= 1; --pos) {
        if (!utf8rules::valid_2nd_utf8(s[pos])) {
            *index = pos;
            legal = 0;
        }
    }
    if (len >= 2 && utf8rules::valid_2nd_utf8(s[1]) && !utf8rules::secondByteFits(s[0], s[1])) legal = 0;
    if (!utf8rules::valid_1st_utf8(s[0])) return 0;
    return legal;
}

OMBRIX_API uint64_t GET_UTF8_LEN_FROM_QVCHAR(const QVChar *s, int64_t count) {
    if (count <= 0) return 0;
    return textKernels().utf8LengthOf(s, uint64_t(count));
}

}  // extern "C"
