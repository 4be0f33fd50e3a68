// The UTF readers, writers and drivers through their exported names: exact
// code points, consumed and written counts, statuses, and the bytes outside
// what a routine may touch.
#include <gtest/gtest.h>

#include <vector>

#include "ombrix/container.h"
#include "ombrix/utf.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr QVStatus kFull = OMBRIX_E_BUFFER_TOO_SMALL, kInvalid = OMBRIX_E_INVALID_SEQUENCE,
                   kTruncated = OMBRIX_E_TRUNCATED;

struct ReadCase {
    OmbrixUtfReader reader;
    Bytes bytes;
    QVStatus status;
    QVChar cp;
    uint64_t consumed;
};

// Reads from an exactly-sized copy, so that a read past the bytes given is
// a heap overflow under ASan.
TEST(UtfReaders, CodePointConsumedAndStatus) {
    const ReadCase cases[] = {
        {UTF8_UTF32, {0x41}, 0, 0x41, 1},
        {UTF8_UTF32, {0xC3, 0xA9}, 0, 0xE9, 2},
        {UTF8_UTF32, {0xF0, 0x9F, 0x98, 0x80, 0x41}, 0, 0x1F600, 4},
        // Only the lead byte is judged: overlongs, surrogates, values past
        // U+10FFFF and bad continuation bytes pass.
        {UTF8_UTF32, {0xE0, 0x80, 0x80}, 0, 0, 3},
        {UTF8_UTF32, {0xED, 0xA0, 0x80}, 0, 0xD800, 3},
        {UTF8_UTF32, {0xF4, 0x90, 0x80, 0x80}, 0, 0x110000, 4},
        {UTF8_UTF32, {0xE2, 0x41, 0x42}, 0, 0x2000 | 0x1 << 6 | 0x2, 3},
        {UTF8_UTF32, {0xE2, 0x82}, kTruncated, 0xFFFD, 2},
        {UTF8_UTF32, {}, kTruncated, 0xFFFD, 0},
        // A rejected lead swallows the continuation bytes it announces.
        {UTF8_UTF32, {0x80, 0x80}, kInvalid, 0xFFFD, 1},
        {UTF8_UTF32, {0xC0, 0x80, 0x80}, kInvalid, 0xFFFD, 2},
        {UTF8_UTF32, {0xC1, 0x41}, kInvalid, 0xFFFD, 1},
        {UTF8_UTF32, {0xF5, 0x80, 0x80, 0x80, 0x80}, kInvalid, 0xFFFD, 4},
        {UTF8_UTF32, {0xF8, 0x88, 0x80, 0x80, 0x80}, kInvalid, 0xFFFD, 5},
        {UTF8_UTF32, {0xFC, 0x84, 0x80, 0x80, 0x80, 0x80, 0x80}, kInvalid, 0xFFFD, 6},
        {UTF8_UTF32, {0xFF, 0x80, 0x80, 0x41, 0x80}, kInvalid, 0xFFFD, 3},
        {UTF8_UTF32, {0xF8, 0x88}, kInvalid, 0xFFFD, 2},
        {UTF16_UTF32, {0xD8, 0x3D, 0xDE, 0x00}, 0, 0x1F600, 4},
        {UTF16_UTF32_SWAP, {0x3D, 0xD8, 0x00, 0xDE}, 0, 0x1F600, 4},
        {UTF16_UTF32, {0xDB, 0xFF, 0xDF, 0xFF}, 0, 0x10FFFF, 4},
        {UTF16_UTF32_SWAP, {0xAC, 0x20}, 0, 0x20AC, 2},
        {UTF16_UTF32, {0xD7, 0xFF}, 0, 0xD7FF, 2},
        {UTF16_UTF32, {0xE0, 0x00}, 0, 0xE000, 2},
        {UTF16_UTF32, {0xDC, 0x00}, kInvalid, 0xFFFD, 2},
        {UTF16_UTF32_SWAP, {0xFF, 0xDF, 0x41, 0x00}, kInvalid, 0xFFFD, 2},
        {UTF16_UTF32, {0xD8, 0x3D, 0x00, 0x41}, kInvalid, 0xFFFD, 4},
        {UTF16_UTF32, {0xD8, 0x3D, 0xE0, 0x00}, kInvalid, 0xFFFD, 4},
        // A high surrogate cut off by the end consumes one byte.
        {UTF16_UTF32, {0xD8, 0x3D, 0xDE}, kTruncated, 0xFFFD, 1},
        {UTF16_UTF32, {0x41}, kTruncated, 0xFFFD, 1},
        {COPY_UTF32b, {0x00, 0x01, 0xF6, 0x00}, 0, 0x1F600, 4},
        {COPY_UTF32b_SWAP, {0x00, 0xF6, 0x01, 0x00}, 0, 0x1F600, 4},
        {COPY_UTF32b, {0xFF, 0xFF, 0xFF, 0xFE, 0x41}, 0, 0xFFFFFFFE, 4},
        {COPY_UTF32b, {0x00, 0x00, 0x41}, kTruncated, 0xFFFD, 3},
    };
    for (const ReadCase &c : cases) {
        Bytes copy(c.bytes);
        QVChar cp = 0x5678;
        uint64_t consumed = 99;
        EXPECT_EQ(c.reader(copy.data(), copy.size(), &cp, &consumed), c.status) << testing::PrintToString(c.bytes);
        EXPECT_EQ(cp, c.cp) << testing::PrintToString(c.bytes);
        EXPECT_EQ(consumed, c.consumed) << testing::PrintToString(c.bytes);
    }
    const uint8_t p[4] = {0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(Byte2DWord(p), 0x04030201u);
    EXPECT_EQ(Byte2DWord_swap(p), 0x01020304u);
    EXPECT_EQ(Byte2Word(p), 0x0201u);
    EXPECT_EQ(Byte2Word_swap(p), 0x0102u);
    EXPECT_EQ(BYTE_UTF16_UTF32(p), 0x0102u);
    EXPECT_EQ(BYTE_UTF16_UTF32_SWAP(p), 0x0201u);
}

// Each writer with exactly enough room, then one byte too few: nothing
// written (a surrogate pair in three bytes included).
TEST(UtfWriters, BytesAtEachBoundary) {
    const std::tuple<OmbrixUtfWriter, QVChar, Bytes> cases[] = {
        {COPY_UTF32, 0x1F600, {0x00, 0x01, 0xF6, 0x00}}, {COPY_UTF32_SWAP, 0x1F600, {0x00, 0xF6, 0x01, 0x00}},
        {UTF32_UTF16, 0x1F600, {0x00, 0xF6}}, {UTF32_UTF16_SWAP, 0x20AC, {0x20, 0xAC}},
        {UTF32_UTF16s, 0x1F600, {0x3D, 0xD8, 0x00, 0xDE}}, {UTF32_UTF16s_SWAP, 0x10FFFF, {0xDB, 0xFF, 0xDF, 0xFF}},
        {UTF32_UTF16s, 0xFFFF, {0xFF, 0xFF}}, {UTF32_UTF16s_SWAP, 0x10000, {0xD8, 0x00, 0xDC, 0x00}},
        {UTF32_UTF8, 0x7F, {0x7F}}, {UTF32_UTF8, 0x80, {0xC2, 0x80}}, {UTF32_UTF8, 0x7FF, {0xDF, 0xBF}},
        {UTF32_UTF8, 0x800, {0xE0, 0xA0, 0x80}}, {UTF32_UTF8, 0xFFFF, {0xEF, 0xBF, 0xBF}},
        {UTF32_UTF8, 0x10000, {0xF0, 0x90, 0x80, 0x80}}, {UTF32_UTF8, 0xD800, {0xED, 0xA0, 0x80}},
        {UTF32_UTF8, 0x110000, {0xF4, 0x90, 0x80, 0x80}}, {UTF16_UTF8, 0x1F600, {0xEF, 0x98, 0x80}},
        {UTF16_UTF8, 0x10041, {0x41}},
    };
    for (const auto &[writer, c, expected] : cases) {
        for (uint64_t room : {expected.size(), expected.size() - 1}) {
            Bytes buffer(room + 4, 0xEE), want(room + 4, 0xEE);
            if (room == expected.size()) std::copy(expected.begin(), expected.end(), want.begin());
            uint64_t written = 99;
            EXPECT_EQ(writer(c, buffer.data(), room, &written), room == expected.size() ? 0 : kFull) << std::hex << c;
            EXPECT_EQ(written, room == expected.size() ? room : 0) << std::hex << c;
            EXPECT_EQ(buffer, want) << std::hex << c;
        }
    }
}

// One run of a driver into `cap` bytes and four guard bytes; `out` is what
// the buffer must start with, the rest staying 0xEE.
struct DriverCase {
    bool toUtf32;
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
    const Bytes utf32 = {0, 0, 0, 0x41, 0, 0, 0x20, 0xAC, 0, 0x01, 0xF6, 0x00};  // A € U+1F600
    const Bytes utf32le = {0x00, 0xF6, 0x01, 0x00, 0x41, 0, 0, 0, 0x12, 0x34};  // and two stray bytes
    const Bytes aEuro = {0x41, 0xE2, 0x82, 0xAC};
    const DriverCase cases[] = {
        {true, utf16, 8, UTF16_UTF32, COPY_UTF32, 0, 8, {0, 0, 0, 0x41, 0x00, 0x01, 0xF6, 0x00}},
        // 7 bytes hold one unit: the loop ends for want of room, status 0.
        {true, utf16, 7, UTF16_UTF32, COPY_UTF32, 0, 4, {0, 0, 0, 0x41}},
        {true, utf16, 3, UTF16_UTF32, COPY_UTF32, 0, 0, {}},
        // A failed character is not written and ends the run.
        {true, {0x61, 0x80, 0x62}, 12, UTF8_UTF32, COPY_UTF32_SWAP, kInvalid, 4, {0x61, 0, 0, 0}},
        {true, {0x61, 0xE2, 0x82}, 12, UTF8_UTF32, COPY_UTF32, kTruncated, 4, {0, 0, 0, 0x61}},
        {true, {0x80}, 3, UTF8_UTF32, COPY_UTF32, 0, 0, {}},  // no room: bad input unread
        // Each character lands at its 4-byte position whatever the writer wrote.
        {true, {0x61, 0xC3, 0xA9}, 8, UTF8_UTF32, UTF32_UTF8, 0, 8, {0x61, 0xEE, 0xEE, 0xEE, 0xC3, 0xA9}},
        {false, utf32, 8, COPY_UTF32b, UTF32_UTF8, 0, 8, {0x41, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80}},
        {false, utf32, 4, COPY_UTF32b, UTF32_UTF8, 0, 4, aEuro},
        {false, utf32, 7, COPY_UTF32b, UTF32_UTF8, kFull, 4, aEuro},
        {false, utf32, 2, COPY_UTF32b, UTF32_UTF8, kFull, 1, {0x41}},
        {false, utf32le, 16, COPY_UTF32b_SWAP, UTF32_UTF16s_SWAP, 0, 6, {0xD8, 0x3D, 0xDE, 0x00, 0x00, 0x41}},
        {false, utf32le, 3, COPY_UTF32b_SWAP, UTF32_UTF16s_SWAP, kFull, 0, {}},
    };
    for (const DriverCase &c : cases) {
        Bytes in(c.src), out(c.cap + 4, 0xEE), want(c.out);
        want.resize(c.cap + 4, 0xEE);
        uint64_t written = 99;
        QVStatus status = c.toUtf32 ? ConvertToUTF32(in.data(), in.size(), out.data(), c.cap, &written, c.read, c.write)
                                    : ConvertFromUTF32(in.data(), in.size(), out.data(), c.cap, &written, c.write, c.read);
        EXPECT_EQ(status, c.status) << testing::PrintToString(c.src) << " cap " << c.cap;
        EXPECT_EQ(written, c.written) << testing::PrintToString(c.src) << " cap " << c.cap;
        EXPECT_EQ(out, want) << testing::PrintToString(c.src) << " cap " << c.cap;
    }
}

TEST(UtfDrivers, Utf8ToUtf16AndCopy) {
    const uint8_t grin[] = {0xF0, 0x9F, 0x98, 0x80}, stray[] = {0x80, 0x80};
    uint16_t out[2] = {0, 0x7777};
    uint64_t consumed = 0;
    EXPECT_EQ(UTF8_UTF16(grin, 3, out, &consumed), kInvalid);  // truncation too
    EXPECT_EQ(out[0], 0xFFFD);
    EXPECT_EQ(out[1], 0x7777);
    EXPECT_EQ(consumed, 3u);
    EXPECT_EQ(UTF8_UTF16(grin + 1, 1, out, &consumed), kInvalid);
    EXPECT_EQ(UTF8_UTF16(grin, 4, out, &consumed), 0u);
    EXPECT_EQ(out[0], 0xD83D);
    EXPECT_EQ(out[1], 0xDE00);
    out[1] = 0x7777;
    EXPECT_EQ(UTF8_UTF16(grin + 3, 1, out, &consumed), kInvalid);
    EXPECT_EQ(UTF8_UTF16(stray, 2, out, &consumed), kInvalid);
    EXPECT_EQ(consumed, 1u);
    uint8_t dst[6] = {9, 9, 9, 9, 9, 9};
    uint64_t copied = 99;
    EXPECT_EQ(COPY_UTF(grin, 4, dst, 3, &copied), kFull);
    EXPECT_EQ(Bytes(dst, dst + 6), (Bytes{0xF0, 0x9F, 0x98, 9, 9, 9}));
    EXPECT_EQ(copied, 3u);
    EXPECT_EQ(COPY_UTF(grin, 2, dst, 6, &copied), 0u);
    EXPECT_EQ(copied, 2u);
}

TEST(IsLegalUtf8, ContinuationBytesSecondByteBoundsAndLead) {
    const std::tuple<Bytes, int32_t, int32_t> cases[] = {  // bytes, legal, index
        {{0x41}, 1, 1}, {{0x80}, 0, 1}, {{0xE2, 0x82, 0xAC}, 1, 3}, {{0xE2, 0x82, 0xBF}, 1, 3},
        {{0xE2, 0x82, 0xC0}, 0, 2}, {{0xE0, 0x9F, 0x80}, 0, 3}, {{0xE0, 0xA0, 0x80}, 1, 3},
        {{0xE2, 0x28, 0x28}, 0, 1}, {{0xE0, 0x28, 0x80}, 0, 1}, {{0xC1, 0xBF}, 0, 2}, {{0xC2, 0x80}, 1, 2},
        {{0xED, 0x9F, 0xBF}, 1, 3}, {{0xED, 0xA0, 0x80}, 0, 3}, {{0xF0, 0x8F, 0xBF, 0xBF}, 0, 4},
        {{0xF0, 0x90, 0x80, 0x80}, 1, 4}, {{0xF4, 0x90, 0x80, 0x80}, 1, 4}, {{0xF5, 0x80, 0x80, 0x80}, 0, 4},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 1, 5}, {{}, 1, 0},
    };
    for (const auto &[bytes, legal, index] : cases) {
        Bytes copy(bytes);
        int32_t at = -7;
        EXPECT_EQ(isLegalUTF8(copy.data(), int32_t(copy.size()), &at), legal) << testing::PrintToString(bytes);
        EXPECT_EQ(at, index) << testing::PrintToString(bytes);
    }
}

}  // namespace
