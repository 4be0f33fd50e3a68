// The UTF readers, writers, unit readers and drivers through their exported
// names: exact code points, consumed and written counts, statuses, and the
// bytes outside what a routine may touch.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ombrix/container.h"
#include "ombrix/utf.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Read {
    QVStatus status;
    QVChar cp;
    uint64_t consumed;
};

// Reads from an exactly-sized copy, so that a read past `available` is a
// heap overflow under ASan.
Read readOne(OmbrixUtfReader reader, const Bytes &bytes, uint64_t available) {
    std::vector<uint8_t> copy(bytes.begin(), bytes.begin() + available);
    Read r{0x1234, 0x5678, 99};
    r.status = reader(copy.data(), available, &r.cp, &r.consumed);
    return r;
}
Read readOne(OmbrixUtfReader reader, const Bytes &bytes) { return readOne(reader, bytes, bytes.size()); }

void expectRead(const Read &r, QVStatus status, QVChar cp, uint64_t consumed) {
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.cp, cp);
    EXPECT_EQ(r.consumed, consumed);
}

constexpr QVStatus kFull = OMBRIX_E_BUFFER_TOO_SMALL;
constexpr QVStatus kInvalid = OMBRIX_E_INVALID_SEQUENCE;
constexpr QVStatus kTruncated = OMBRIX_E_TRUNCATED;

TEST(Utf8Reader, DecodesEachLengthWithoutJudgingContinuationBytes) {
    expectRead(readOne(UTF8_UTF32, {0x41}), 0, 0x41, 1);
    expectRead(readOne(UTF8_UTF32, {0xC3, 0xA9}), 0, 0xE9, 2);
    expectRead(readOne(UTF8_UTF32, {0xE2, 0x82, 0xAC}), 0, 0x20AC, 3);
    expectRead(readOne(UTF8_UTF32, {0xF0, 0x9F, 0x98, 0x80, 0x41}), 0, 0x1F600, 4);
    expectRead(readOne(UTF8_UTF32, {0xF4, 0x8F, 0xBF, 0xBF}), 0, 0x10FFFF, 4);
    // Overlongs, encoded surrogates, values past U+10FFFF and bad
    // continuation bytes pass: only the lead byte is judged here.
    expectRead(readOne(UTF8_UTF32, {0xE0, 0x80, 0x80}), 0, 0, 3);
    expectRead(readOne(UTF8_UTF32, {0xED, 0xA0, 0x80}), 0, 0xD800, 3);
    expectRead(readOne(UTF8_UTF32, {0xF4, 0x90, 0x80, 0x80}), 0, 0x110000, 4);
    expectRead(readOne(UTF8_UTF32, {0xE2, 0x41, 0x42}), 0, 0x2000 | 0x1 << 6 | 0x2, 3);
}

TEST(Utf8Reader, TruncatedSequenceTakesAllThatIsLeft) {
    expectRead(readOne(UTF8_UTF32, {0xE2, 0x82}), kTruncated, 0xFFFD, 2);
    expectRead(readOne(UTF8_UTF32, {0xF0, 0x9F, 0x98, 0x80}, 3), kTruncated, 0xFFFD, 3);
    expectRead(readOne(UTF8_UTF32, {0xC3}), kTruncated, 0xFFFD, 1);
    // Nothing available: no lead byte to judge, nothing consumed.
    expectRead(readOne(UTF8_UTF32, {0x41}, 0), kTruncated, 0xFFFD, 0);
}

TEST(Utf8Reader, RejectedLeadSwallowsTheContinuationBytesItAnnounces) {
    // A stray continuation byte announces one byte.
    expectRead(readOne(UTF8_UTF32, {0x80, 0x41}), kInvalid, 0xFFFD, 1);
    expectRead(readOne(UTF8_UTF32, {0xBF, 0x80, 0x80}), kInvalid, 0xFFFD, 1);
    // C0 and C1 announce two.
    expectRead(readOne(UTF8_UTF32, {0xC0, 0x80, 0x80}), kInvalid, 0xFFFD, 2);
    expectRead(readOne(UTF8_UTF32, {0xC1, 0x41}), kInvalid, 0xFFFD, 1);
    // F5-F7 four, F8-FB five, FC-FF six; a non-continuation byte ends it.
    expectRead(readOne(UTF8_UTF32, {0xF5, 0x80, 0x80, 0x80, 0x80}), kInvalid, 0xFFFD, 4);
    expectRead(readOne(UTF8_UTF32, {0xF8, 0x88, 0x80, 0x80, 0x80}), kInvalid, 0xFFFD, 5);
    expectRead(readOne(UTF8_UTF32, {0xFC, 0x84, 0x80, 0x80, 0x80, 0x80, 0x80}), kInvalid, 0xFFFD, 6);
    expectRead(readOne(UTF8_UTF32, {0xFF, 0x80, 0x80, 0x41, 0x80}), kInvalid, 0xFFFD, 3);
    // Never past what is available.
    expectRead(readOne(UTF8_UTF32, {0xF8, 0x88, 0x80, 0x80, 0x80}, 2), kInvalid, 0xFFFD, 2);
    expectRead(readOne(UTF8_UTF32, {0xFE}), kInvalid, 0xFFFD, 1);
}

TEST(Utf16Readers, BigEndianAndLittleEndianSurrogatePairs) {
    expectRead(readOne(UTF16_UTF32, {0xD8, 0x3D, 0xDE, 0x00}), 0, 0x1F600, 4);
    expectRead(readOne(UTF16_UTF32_SWAP, {0x3D, 0xD8, 0x00, 0xDE}), 0, 0x1F600, 4);
    expectRead(readOne(UTF16_UTF32, {0x20, 0xAC, 0x00}), 0, 0x20AC, 2);
    expectRead(readOne(UTF16_UTF32_SWAP, {0xAC, 0x20}), 0, 0x20AC, 2);
    expectRead(readOne(UTF16_UTF32, {0xDB, 0xFF, 0xDF, 0xFF}), 0, 0x10FFFF, 4);
    expectRead(readOne(UTF16_UTF32, {0xFF, 0xFF}), 0, 0xFFFF, 2);
    expectRead(readOne(UTF16_UTF32, {0xD7, 0xFF}), 0, 0xD7FF, 2);
    expectRead(readOne(UTF16_UTF32, {0xE0, 0x00}), 0, 0xE000, 2);
}

TEST(Utf16Readers, LoneAndCutSurrogates) {
    expectRead(readOne(UTF16_UTF32, {0xDC, 0x00}), kInvalid, 0xFFFD, 2);
    expectRead(readOne(UTF16_UTF32_SWAP, {0xFF, 0xDF, 0x41, 0x00}), kInvalid, 0xFFFD, 2);
    // A high surrogate followed by anything but a low one: both units go.
    expectRead(readOne(UTF16_UTF32, {0xD8, 0x3D, 0x00, 0x41}), kInvalid, 0xFFFD, 4);
    expectRead(readOne(UTF16_UTF32, {0xD8, 0x3D, 0xD8, 0x3D}), kInvalid, 0xFFFD, 4);
    // A high surrogate the input cuts off consumes one byte.
    expectRead(readOne(UTF16_UTF32, {0xD8, 0x3D, 0xDE}), kTruncated, 0xFFFD, 1);
    expectRead(readOne(UTF16_UTF32_SWAP, {0x3D, 0xD8}), kTruncated, 0xFFFD, 1);
    // Half a unit.
    expectRead(readOne(UTF16_UTF32, {0x41}), kTruncated, 0xFFFD, 1);
}

TEST(Utf32Readers, TakeFourBytesAsTheyAre) {
    expectRead(readOne(COPY_UTF32b, {0x00, 0x01, 0xF6, 0x00}), 0, 0x1F600, 4);
    expectRead(readOne(COPY_UTF32b_SWAP, {0x00, 0xF6, 0x01, 0x00}), 0, 0x1F600, 4);
    expectRead(readOne(COPY_UTF32b, {0xFF, 0xFF, 0xFF, 0xFE, 0x41}), 0, 0xFFFFFFFE, 4);
    expectRead(readOne(COPY_UTF32b, {0x00, 0x00, 0xD8, 0x00}), 0, 0xD800, 4);
    expectRead(readOne(COPY_UTF32b, {0x00, 0x00, 0x41}), kTruncated, 0xFFFD, 3);
    expectRead(readOne(COPY_UTF32b_SWAP, {0x41}), kTruncated, 0xFFFD, 1);
}

TEST(UnitReaders, ByteOrdersFollowTheNames) {
    const uint8_t p[4] = {0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(Byte2DWord(p), 0x04030201u);
    EXPECT_EQ(Byte2DWord_swap(p), 0x01020304u);
    EXPECT_EQ(Byte2Word(p), 0x0201u);
    EXPECT_EQ(Byte2Word_swap(p), 0x0102u);
    EXPECT_EQ(BYTE_UTF16_UTF32(p), 0x0102u);
    EXPECT_EQ(BYTE_UTF16_UTF32_SWAP(p), 0x0201u);
}

struct Written {
    QVStatus status;
    uint64_t written;
    Bytes bytes;  // the whole buffer: what was written, then untouched 0xEE
};

Written writeOne(OmbrixUtfWriter writer, QVChar c, uint64_t available) {
    Bytes buffer(available + 4, 0xEE);
    Written w{0x1234, 99, {}};
    w.status = writer(c, buffer.data(), available, &w.written);
    w.bytes = buffer;
    return w;
}

Bytes withTail(Bytes head, size_t tail) {
    head.insert(head.end(), tail, 0xEE);
    return head;
}

void expectWrite(OmbrixUtfWriter writer, QVChar c, const Bytes &expected) {
    // Exactly enough room, then one byte too few.
    Written w = writeOne(writer, c, expected.size());
    EXPECT_EQ(w.status, 0u) << std::hex << c;
    EXPECT_EQ(w.written, expected.size()) << std::hex << c;
    EXPECT_EQ(w.bytes, withTail(expected, 4)) << std::hex << c;
    Written full = writeOne(writer, c, expected.size() - 1);
    EXPECT_EQ(full.status, kFull) << std::hex << c;
    EXPECT_EQ(full.written, 0u) << std::hex << c;
    EXPECT_EQ(full.bytes, Bytes(expected.size() + 3, 0xEE)) << "nothing written for " << std::hex << c;
}

// Each writer with exactly enough room, then one byte too few (so a
// surrogate pair in 3 bytes writes nothing).
TEST(Writers, EachWriterAtItsBoundaries) {
    // UTF-32 in either order.
    expectWrite(COPY_UTF32, 0x1F600, {0x00, 0x01, 0xF6, 0x00});
    expectWrite(COPY_UTF32_SWAP, 0x1F600, {0x00, 0xF6, 0x01, 0x00});
    expectWrite(COPY_UTF32, 0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF});
    // A sixteen-bit unit keeps the low bits only.
    expectWrite(UTF32_UTF16, 0x20AC, {0xAC, 0x20});
    expectWrite(UTF32_UTF16_SWAP, 0x20AC, {0x20, 0xAC});
    expectWrite(UTF32_UTF16, 0x1F600, {0x00, 0xF6});
    expectWrite(UTF32_UTF16_SWAP, 0x1F600, {0xF6, 0x00});
    // UTF-16 writes surrogate pairs whole.
    expectWrite(UTF32_UTF16s, 0x1F600, {0x3D, 0xD8, 0x00, 0xDE});
    expectWrite(UTF32_UTF16s_SWAP, 0x1F600, {0xD8, 0x3D, 0xDE, 0x00});
    expectWrite(UTF32_UTF16s, 0xFFFF, {0xFF, 0xFF});
    expectWrite(UTF32_UTF16s_SWAP, 0x10000, {0xD8, 0x00, 0xDC, 0x00});
    expectWrite(UTF32_UTF16s_SWAP, 0x10FFFF, {0xDB, 0xFF, 0xDF, 0xFF});
    // UTF-8 at every length boundary.
    expectWrite(UTF32_UTF8, 0x00, {0x00});
    expectWrite(UTF32_UTF8, 0x7F, {0x7F});
    expectWrite(UTF32_UTF8, 0x80, {0xC2, 0x80});
    expectWrite(UTF32_UTF8, 0x7FF, {0xDF, 0xBF});
    expectWrite(UTF32_UTF8, 0x800, {0xE0, 0xA0, 0x80});
    expectWrite(UTF32_UTF8, 0x20AC, {0xE2, 0x82, 0xAC});
    expectWrite(UTF32_UTF8, 0xFFFF, {0xEF, 0xBF, 0xBF});
    expectWrite(UTF32_UTF8, 0x10000, {0xF0, 0x90, 0x80, 0x80});
    expectWrite(UTF32_UTF8, 0x10FFFF, {0xF4, 0x8F, 0xBF, 0xBF});
    // Surrogates and values past U+10FFFF are not refused.
    expectWrite(UTF32_UTF8, 0xD800, {0xED, 0xA0, 0x80});
    expectWrite(UTF32_UTF8, 0x110000, {0xF4, 0x90, 0x80, 0x80});
    // UTF16_UTF8 encodes the low 16 bits.
    expectWrite(UTF16_UTF8, 0x1F600, {0xEF, 0x98, 0x80});
    expectWrite(UTF16_UTF8, 0x10041, {0x41});
}

// One run of a driver into a buffer of `cap` bytes followed by four guard
// bytes; `out` is the whole buffer as it must look afterwards, untouched
// bytes being 0xEE.
struct DriverCase {
    const char *what;
    bool toUtf32;  // ConvertToUTF32, else ConvertFromUTF32
    Bytes src;
    uint64_t cap;
    OmbrixUtfReader read;
    OmbrixUtfWriter write;
    QVStatus status;
    uint64_t written;
    Bytes out;
};

TEST(UtfDrivers, WrittenCountStatusAndEveryByteOfTheBuffer) {
    const Bytes utf16 = {0x00, 0x41, 0xD8, 0x3D, 0xDE, 0x00};
    // A, euro sign, U+1F600 as big-endian UTF-32.
    const Bytes utf32 = {0, 0, 0, 0x41, 0, 0, 0x20, 0xAC, 0, 0x01, 0xF6, 0x00};
    // U+1F600 and U+0041 as little-endian UTF-32, then two stray bytes.
    const Bytes utf32le = {0x00, 0xF6, 0x01, 0x00, 0x41, 0, 0, 0, 0x12, 0x34};
    const Bytes aEuro = {0x41, 0xE2, 0x82, 0xAC};
    const DriverCase cases[] = {
        {"UTF-16 to UTF-32, room for all", true, utf16, 8, UTF16_UTF32, COPY_UTF32, 0, 8,
         {0x00, 0x00, 0x00, 0x41, 0x00, 0x01, 0xF6, 0x00}},
        // 4 and 7 bytes hold one unit: the loop ends for want of room, status 0.
        {"room for one unit", true, utf16, 4, UTF16_UTF32, COPY_UTF32, 0, 4, {0, 0, 0, 0x41}},
        {"room for one unit and three bytes", true, utf16, 7, UTF16_UTF32, COPY_UTF32, 0, 4, {0, 0, 0, 0x41}},
        {"room for no unit", true, utf16, 3, UTF16_UTF32, COPY_UTF32, 0, 0, {}},
        // A failed character is not written and ends the run.
        {"a, stray continuation, b", true, {0x61, 0x80, 0x62}, 12, UTF8_UTF32, COPY_UTF32_SWAP,
         kInvalid, 4, {0x61, 0, 0, 0}},
        {"a and a cut euro sign", true, {0x61, 0xE2, 0x82}, 12, UTF8_UTF32, COPY_UTF32, kTruncated, 4,
         {0, 0, 0, 0x61}},
        {"lone low surrogate first", true, {0xDC, 0x00, 0x00, 0x41}, 8, UTF16_UTF32, COPY_UTF32,
         kInvalid, 0, {}},
        // No room: the reader is never asked, so bad input goes unnoticed.
        {"no room for bad input", true, {0x80}, 3, UTF8_UTF32, COPY_UTF32, 0, 0, {}},
        // Each character lands at its 4-byte position even when the writer
        // puts fewer bytes there.
        {"four bytes per unit whatever the writer wrote", true, {0x61, 0xC3, 0xA9}, 8, UTF8_UTF32,
         UTF32_UTF8, 0, 8, {0x61, 0xEE, 0xEE, 0xEE, 0xC3, 0xA9}},
        {"empty input", true, {}, 16, UTF8_UTF32, COPY_UTF32, 0, 0, {}},
        // From UTF-32: stops at the first character that does not fit.
        {"UTF-32 to UTF-8, room for all", false, utf32, 8, COPY_UTF32b, UTF32_UTF8, 0, 8,
         {0x41, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80}},
        {"room for exactly two: capacity ran out", false, utf32, 4, COPY_UTF32b, UTF32_UTF8, 0, 4, aEuro},
        {"the third does not fit in 5", false, utf32, 5, COPY_UTF32b, UTF32_UTF8, kFull, 4, aEuro},
        {"the third does not fit in 6", false, utf32, 6, COPY_UTF32b, UTF32_UTF8, kFull, 4, aEuro},
        {"the third does not fit in 7", false, utf32, 7, COPY_UTF32b, UTF32_UTF8, kFull, 4, aEuro},
        {"the second does not fit", false, utf32, 2, COPY_UTF32b, UTF32_UTF8, kFull, 1, {0x41}},
        {"little-endian to UTF-16, trailing partial unit", false, utf32le, 16, COPY_UTF32b_SWAP,
         UTF32_UTF16s_SWAP, 0, 6, {0xD8, 0x3D, 0xDE, 0x00, 0x00, 0x41}},
        {"a pair in 3 bytes", false, utf32le, 3, COPY_UTF32b_SWAP, UTF32_UTF16s_SWAP, kFull, 0, {}},
        {"no room at all", false, utf32le, 0, COPY_UTF32b_SWAP, UTF32_UTF8, 0, 0, {}},
    };
    for (const DriverCase &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes in(c.src), out(c.cap + 4, 0xEE);
        uint64_t written = 99;
        QVStatus status =
            c.toUtf32 ? ConvertToUTF32(in.data(), in.size(), out.data(), c.cap, &written, c.read, c.write)
                      : ConvertFromUTF32(in.data(), in.size(), out.data(), c.cap, &written, c.write, c.read);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(out, withTail(c.out, c.cap + 4 - c.out.size()));
    }
}

TEST(UtfDrivers, ConvertToUTF32WithoutACountPointer) {
    const uint8_t src[] = {0xE2, 0x82, 0xAC};
    uint8_t out[4] = {};
    EXPECT_EQ(ConvertToUTF32(src, 3, out, 4, nullptr, UTF8_UTF32, COPY_UTF32), 0u);
    EXPECT_EQ(Byte2DWord_swap(out), 0x20ACu);
}

TEST(Utf8ToUtf16, OneOrTwoUnitsAndEveryFailureAsInvalid) {
    const uint8_t euro[] = {0xE2, 0x82, 0xAC}, grin[] = {0xF0, 0x9F, 0x98, 0x80};
    uint16_t out[2] = {0, 0x7777};
    uint64_t consumed = 0;
    EXPECT_EQ(UTF8_UTF16(euro, 3, out, &consumed), 0u);
    EXPECT_EQ(out[0], 0x20AC);
    EXPECT_EQ(out[1], 0x7777) << "one unit only";
    EXPECT_EQ(consumed, 3u);
    EXPECT_EQ(UTF8_UTF16(grin, 4, out, &consumed), 0u);
    EXPECT_EQ(out[0], 0xD83D);
    EXPECT_EQ(out[1], 0xDE00);
    // Truncation is reported as invalid input too.
    out[1] = 0x7777;
    EXPECT_EQ(UTF8_UTF16(euro, 2, out, &consumed), kInvalid);
    EXPECT_EQ(out[0], 0xFFFD);
    EXPECT_EQ(out[1], 0x7777);
    EXPECT_EQ(consumed, 2u);
    const uint8_t stray[] = {0x80, 0x80};
    EXPECT_EQ(UTF8_UTF16(stray, 2, out, &consumed), kInvalid);
    EXPECT_EQ(consumed, 1u);
}

TEST(CopyUtf, CopiesWhatFitsAndSaysWhenItWasNotAll) {
    const uint8_t src[5] = {1, 2, 3, 4, 5};
    uint8_t dst[6] = {9, 9, 9, 9, 9, 9};
    uint64_t copied = 99;
    EXPECT_EQ(COPY_UTF(src, 5, dst, 3, &copied), kFull);
    EXPECT_EQ(copied, 3u);
    EXPECT_EQ(Bytes(dst, dst + 6), (Bytes{1, 2, 3, 9, 9, 9}));
    EXPECT_EQ(COPY_UTF(src, 5, dst, 5, &copied), 0u);
    EXPECT_EQ(copied, 5u);
    EXPECT_EQ(COPY_UTF(src, 2, dst, 6, &copied), 0u);
    EXPECT_EQ(copied, 2u);
    EXPECT_EQ(COPY_UTF(src, 0, dst, 0, &copied), 0u);
    EXPECT_EQ(copied, 0u);
}

struct Legality {
    Bytes bytes;
    int32_t len;
    int32_t legal;
    int32_t index;
};

TEST(IsLegalUtf8, ContinuationBytesSecondByteBoundsAndLead) {
    const Legality cases[] = {
        {{0x41}, 1, 1, 1},
        {{0x80}, 1, 0, 1},
        {{0xE2, 0x82, 0xAC}, 3, 1, 3},
        {{0xE0, 0x80, 0x80}, 3, 0, 3},           // overlong: index stays
        {{0xE0, 0xA0, 0x80}, 3, 1, 3},
        {{0xE2, 0x28, 0xA1}, 3, 0, 1},
        {{0xE2, 0x28, 0x28}, 3, 0, 1},           // lowest failing position
        {{0xE2, 0x82, 0x28}, 3, 0, 2},
        {{0xE0, 0x28, 0x80}, 3, 0, 1},           // no bound check on a non-continuation
        {{0xC0, 0x80}, 2, 0, 2},
        {{0xC2, 0x80}, 2, 1, 2},
        {{0xED, 0x9F, 0xBF}, 3, 1, 3},
        {{0xED, 0xA0, 0x80}, 3, 0, 3},           // encoded surrogate
        {{0xF0, 0x8F, 0xBF, 0xBF}, 4, 0, 4},
        {{0xF0, 0x90, 0x80, 0x80}, 4, 1, 4},
        {{0xF4, 0x90, 0x80, 0x80}, 4, 1, 4},     // F4 is not limited
        {{0xF5, 0x80, 0x80, 0x80}, 4, 0, 4},
        {{0xF0, 0x9F, 0x41, 0x80}, 4, 0, 2},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 5, 1, 5},  // other lengths unexamined
        {{}, 0, 1, 0},
    };
    for (const Legality &c : cases) {
        Bytes copy(c.bytes);
        int32_t index = -7;
        EXPECT_EQ(isLegalUTF8(copy.data(), c.len, &index), c.legal) << testing::PrintToString(c.bytes);
        EXPECT_EQ(index, c.index) << testing::PrintToString(c.bytes);
    }
}

TEST(Utf8LengthOfQVChars, SumsOneToFourBytesPerUnit) {
    const QVChar text[] = {0x41, 0xE9, 0x20AC, 0x1F600};
    EXPECT_EQ(GET_UTF8_LEN_FROM_QVCHAR(text, 4), 10u);
    EXPECT_EQ(GET_UTF8_LEN_FROM_QVCHAR(text, 0), 0u);
    EXPECT_EQ(GET_UTF8_LEN_FROM_QVCHAR(nullptr, -3), 0u);
    const QVChar bounds[] = {0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0xFFFFFFFF, 0x80000000};
    EXPECT_EQ(GET_UTF8_LEN_FROM_QVCHAR(bounds, 8), 1u + 2 + 2 + 3 + 3 + 4 + 4 + 4);
}

}  // namespace
