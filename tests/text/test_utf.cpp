// The UTF readers, writers and drivers and the UTF-8 string routines where
// the kernel tests do not reach: exact results, the bytes around what a
// routine may touch, the host's text services present and absent.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "ombrix/container.h"
#include "ombrix/utf.h"
#include "ombrix/utf8.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr QVStatus kFull = OMBRIX_E_BUFFER_TOO_SMALL, kInvalid = OMBRIX_E_INVALID_SEQUENCE,
                   kTruncated = OMBRIX_E_TRUNCATED;

// Reads from an exactly-sized copy, so that a read past the bytes given is
// a heap overflow under ASan.
TEST(UtfReaders, CodePointConsumedAndStatus) {
    const std::tuple<OmbrixUtfReader, Bytes, QVStatus, QVChar, uint64_t> cases[] = {  // reader, bytes, result
        {UTF8_UTF32, {0x41}, 0, 0x41, 1}, {UTF8_UTF32, {0xC3, 0xA9}, 0, 0xE9, 2},
        {UTF8_UTF32, {0xF0, 0x9F, 0x98, 0x80, 0x41}, 0, 0x1F600, 4},
        // Only the lead byte is judged: overlongs, surrogates, values past
        // U+10FFFF and bad continuation bytes pass.
        {UTF8_UTF32, {0xE0, 0x80, 0x80}, 0, 0, 3}, {UTF8_UTF32, {0xED, 0xA0, 0x80}, 0, 0xD800, 3},
        {UTF8_UTF32, {0xF4, 0x90, 0x80, 0x80}, 0, 0x110000, 4}, {UTF8_UTF32, {0xE2, 0x41, 0x42}, 0, 0x2042, 3},
        {UTF8_UTF32, {0xE2, 0x82}, kTruncated, 0xFFFD, 2}, {UTF8_UTF32, {}, kTruncated, 0xFFFD, 0},
        // A rejected lead swallows the continuation bytes it announces.
        {UTF8_UTF32, {0x80, 0x80}, kInvalid, 0xFFFD, 1}, {UTF8_UTF32, {0xC0, 0x80, 0x80}, kInvalid, 0xFFFD, 2},
        {UTF8_UTF32, {0xC1, 0x41}, kInvalid, 0xFFFD, 1}, {UTF8_UTF32, {0xF5, 0x80, 0x80, 0x80, 0x80}, kInvalid, 0xFFFD, 4},
        {UTF8_UTF32, {0xF8, 0x88, 0x80, 0x80, 0x80}, kInvalid, 0xFFFD, 5}, {UTF8_UTF32, {0xF8, 0x88}, kInvalid, 0xFFFD, 2},
        {UTF8_UTF32, {0xFC, 0x84, 0x80, 0x80, 0x80, 0x80, 0x80}, kInvalid, 0xFFFD, 6},
        {UTF8_UTF32, {0xFF, 0x80, 0x80, 0x41, 0x80}, kInvalid, 0xFFFD, 3},
        {UTF16_UTF32, {0xD8, 0x3D, 0xDE, 0x00}, 0, 0x1F600, 4}, {UTF16_UTF32_SWAP, {0x3D, 0xD8, 0x00, 0xDE}, 0, 0x1F600, 4},
        {UTF16_UTF32, {0xDB, 0xFF, 0xDF, 0xFF}, 0, 0x10FFFF, 4}, {UTF16_UTF32_SWAP, {0xAC, 0x20}, 0, 0x20AC, 2},
        {UTF16_UTF32, {0xD7, 0xFF}, 0, 0xD7FF, 2}, {UTF16_UTF32, {0xE0, 0x00}, 0, 0xE000, 2},
        {UTF16_UTF32, {0xDC, 0x00}, kInvalid, 0xFFFD, 2}, {UTF16_UTF32_SWAP, {0xFF, 0xDF, 0x41, 0x00}, kInvalid, 0xFFFD, 2},
        {UTF16_UTF32, {0xD8, 0x3D, 0x00, 0x41}, kInvalid, 0xFFFD, 4}, {UTF16_UTF32, {0xD8, 0x3D, 0xE0, 0x00}, kInvalid, 0xFFFD, 4},
        // A high surrogate cut off by the end consumes one byte.
        {UTF16_UTF32, {0xD8, 0x3D, 0xDE}, kTruncated, 0xFFFD, 1}, {UTF16_UTF32, {0x41}, kTruncated, 0xFFFD, 1},
        {COPY_UTF32b, {0x00, 0x01, 0xF6, 0x00}, 0, 0x1F600, 4}, {COPY_UTF32b_SWAP, {0x00, 0xF6, 0x01, 0x00}, 0, 0x1F600, 4},
        {COPY_UTF32b, {0xFF, 0xFF, 0xFF, 0xFE, 0x41}, 0, 0xFFFFFFFE, 4}, {COPY_UTF32b, {0x00, 0x00, 0x41}, kTruncated, 0xFFFD, 3},
    };
    for (const auto &[reader, bytes, status, cp, consumed] : cases) {
        Bytes copy(bytes);
        QVChar got = 0x5678;
        uint64_t used = 99;
        EXPECT_EQ((std::tuple{reader(copy.data(), copy.size(), &got, &used), got, used}), std::tuple(status, cp, consumed))
            << testing::PrintToString(bytes);
    }
    const uint8_t p[4] = {0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(std::vector<uint32_t>({Byte2DWord(p), Byte2DWord_swap(p), Byte2Word(p), Byte2Word_swap(p),
                                     BYTE_UTF16_UTF32(p), BYTE_UTF16_UTF32_SWAP(p)}),
              std::vector<uint32_t>({0x04030201u, 0x01020304u, 0x0201u, 0x0102u, 0x0102u, 0x0201u}));
}

// Each writer with exactly enough room, then one byte too few: nothing
// written (a surrogate pair in three bytes included).
TEST(UtfWriters, BytesAtEachBoundary) {
    const std::tuple<OmbrixUtfWriter, QVChar, Bytes> cases[] = {
        {COPY_UTF32, 0x1F600, {0x00, 0x01, 0xF6, 0x00}}, {COPY_UTF32_SWAP, 0x1F600, {0x00, 0xF6, 0x01, 0x00}},
        {UTF32_UTF16, 0x1F600, {0x00, 0xF6}}, {UTF32_UTF16_SWAP, 0x20AC, {0x20, 0xAC}}, {UTF32_UTF16s, 0xFFFF, {0xFF, 0xFF}},
        {UTF32_UTF16s, 0x1F600, {0x3D, 0xD8, 0x00, 0xDE}}, {UTF32_UTF16s_SWAP, 0x10FFFF, {0xDB, 0xFF, 0xDF, 0xFF}},
        {UTF32_UTF16s_SWAP, 0x10000, {0xD8, 0x00, 0xDC, 0x00}}, {UTF32_UTF8, 0x7F, {0x7F}}, {UTF32_UTF8, 0x80, {0xC2, 0x80}},
        {UTF32_UTF8, 0x7FF, {0xDF, 0xBF}}, {UTF32_UTF8, 0x800, {0xE0, 0xA0, 0x80}}, {UTF32_UTF8, 0xFFFF, {0xEF, 0xBF, 0xBF}},
        {UTF32_UTF8, 0x10000, {0xF0, 0x90, 0x80, 0x80}}, {UTF32_UTF8, 0xD800, {0xED, 0xA0, 0x80}},
        {UTF32_UTF8, 0x110000, {0xF4, 0x90, 0x80, 0x80}}, {UTF16_UTF8, 0x1F600, {0xEF, 0x98, 0x80}}, {UTF16_UTF8, 0x10041, {0x41}},
    };
    for (const auto &[writer, c, expected] : cases) {
        for (uint64_t room : {expected.size(), expected.size() - 1}) {
            Bytes buffer(room + 4, 0xEE), want(room + 4, 0xEE);
            if (room == expected.size()) std::copy(expected.begin(), expected.end(), want.begin());
            uint64_t written = 99;
            QVStatus status = writer(c, buffer.data(), room, &written);
            bool fits = room == expected.size();
            EXPECT_EQ(std::tuple(status, written, buffer), std::tuple(fits ? 0 : kFull, fits ? room : 0, want)) << std::hex << c;
        }
    }
}

// One run of a driver into `cap` bytes and four guard bytes; `out` is what
// the buffer must start with, the rest staying 0xEE.
TEST(UtfDrivers, WrittenCountStatusAndEveryByteOfTheBuffer) {
    const Bytes utf16 = {0x00, 0x41, 0xD8, 0x3D, 0xDE, 0x00};
    const Bytes utf32 = {0, 0, 0, 0x41, 0, 0, 0x20, 0xAC, 0, 0x01, 0xF6, 0x00};  // A € U+1F600
    const Bytes utf32le = {0x00, 0xF6, 0x01, 0x00, 0x41, 0, 0, 0, 0x12, 0x34};  // and two stray bytes
    const Bytes aEuro = {0x41, 0xE2, 0x82, 0xAC};
    const std::tuple<bool, Bytes, uint64_t, OmbrixUtfReader, OmbrixUtfWriter, QVStatus, uint64_t, Bytes> cases[] = {
        {true, utf16, 8, UTF16_UTF32, COPY_UTF32, 0, 8, {0, 0, 0, 0x41, 0x00, 0x01, 0xF6, 0x00}},
        // 7 bytes hold one unit: the loop ends for want of room, status 0.
        {true, utf16, 7, UTF16_UTF32, COPY_UTF32, 0, 4, {0, 0, 0, 0x41}},
        {true, utf16, 3, UTF16_UTF32, COPY_UTF32, 0, 0, {}}, {true, {0x80}, 3, UTF8_UTF32, COPY_UTF32, 0, 0, {}},
        // A failed character is not written and ends the run.
        {true, {0x61, 0x80, 0x62}, 12, UTF8_UTF32, COPY_UTF32_SWAP, kInvalid, 4, {0x61, 0, 0, 0}},
        {true, {0x61, 0xE2, 0x82}, 12, UTF8_UTF32, COPY_UTF32, kTruncated, 4, {0, 0, 0, 0x61}},
        // Each character lands at its 4-byte position whatever the writer wrote.
        {true, {0x61, 0xC3, 0xA9}, 8, UTF8_UTF32, UTF32_UTF8, 0, 8, {0x61, 0xEE, 0xEE, 0xEE, 0xC3, 0xA9}},
        {false, utf32, 8, COPY_UTF32b, UTF32_UTF8, 0, 8, {0x41, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80}},
        {false, utf32, 4, COPY_UTF32b, UTF32_UTF8, 0, 4, aEuro}, {false, utf32, 7, COPY_UTF32b, UTF32_UTF8, kFull, 4, aEuro},
        {false, utf32, 2, COPY_UTF32b, UTF32_UTF8, kFull, 1, {0x41}},
        {false, utf32le, 16, COPY_UTF32b_SWAP, UTF32_UTF16s_SWAP, 0, 6, {0xD8, 0x3D, 0xDE, 0x00, 0x00, 0x41}},
        {false, utf32le, 3, COPY_UTF32b_SWAP, UTF32_UTF16s_SWAP, kFull, 0, {}},
    };
    for (const auto &[toUtf32, src, cap, read, write, status, written, expected] : cases) {
        Bytes in(src), out(cap + 4, 0xEE), want(expected);
        want.resize(cap + 4, 0xEE);
        uint64_t count = 99;
        QVStatus got = toUtf32 ? ConvertToUTF32(in.data(), in.size(), out.data(), cap, &count, read, write)
                               : ConvertFromUTF32(in.data(), in.size(), out.data(), cap, &count, write, read);
        EXPECT_EQ(std::tuple(got, count, out), std::tuple(status, written, want)) << testing::PrintToString(src) << " cap " << cap;
    }
}

TEST(UtfDrivers, Utf8ToUtf16AndCopy) {
    const uint8_t grin[] = {0xF0, 0x9F, 0x98, 0x80}, stray[] = {0x80, 0x80};
    uint16_t out[2] = {0, 0x7777};
    uint64_t used = 0;
    EXPECT_EQ((std::tuple{UTF8_UTF16(grin, 3, out, &used), out[0], out[1], used}), std::tuple(kInvalid, 0xFFFD, 0x7777, 3));
    EXPECT_EQ((std::tuple{UTF8_UTF16(grin, 4, out, &used), out[0], out[1], used}), std::tuple(0u, 0xD83D, 0xDE00, 4));
    EXPECT_EQ((std::tuple{UTF8_UTF16(stray, 2, out, &used), used}), std::tuple(kInvalid, 1));
    uint8_t dst[6] = {9, 9, 9, 9, 9, 9};
    uint64_t copied = 99;
    EXPECT_EQ((std::tuple{COPY_UTF(grin, 4, dst, 3, &copied), copied, Bytes(dst, dst + 6)}),
              std::tuple(kFull, 3, Bytes{0xF0, 0x9F, 0x98, 9, 9, 9}));
    EXPECT_EQ((std::tuple{COPY_UTF(grin, 2, dst, 6, &copied), copied}), std::tuple(0u, 2));
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
        EXPECT_EQ((std::pair{isLegalUTF8(copy.data(), int32_t(copy.size()), &at), at}), std::pair(legal, index)) << testing::PrintToString(bytes);
    }
}

using std::string;

TEST(Utf8Lengths, CutsCountsAndValidity) {
    // SLEN: a sequence the terminator cuts is one character; C3 swallows x.
    for (auto [s, n] : {std::pair{"ab\xe2\x82", 3u}, {"\x80\x80x", 3u}, {"\xc3xy", 2u}, {"", 0u}})
        EXPECT_EQ(UTF8_SLEN(s), n) << s;
    EXPECT_EQ(UTF8_SLEN(nullptr) + UTF8_SLENB(nullptr, 0) + UTF8_BLEN(nullptr), 0u);
    uint64_t chars = 99, bytes = 99;
    qvzsu8Lengths("\xc3xy", &chars, &bytes);
    EXPECT_EQ(chars * 10 + bytes, 33u);  // x is no continuation byte
    qvzsu8Lengths(nullptr, &chars, &bytes);
    EXPECT_EQ(chars * 10 + bytes, 33u);
    // BLENB never ends inside a character; a bad lead where the cut lands gives 0.
    const std::tuple<const char *, uint64_t, uint64_t> cuts[] = {
        {"a\xe2\x82", 3, 1}, {"a\xe2\x82\xac", 4, 4}, {"ab\xff", 3, 0}, {"abc", 0, 0}, {"\xc3\xa9", 1, 0},
        {"\x80\x80", 2, 0}, {"a\xc1\x81", 3, 0}, {"a\xe2\x82\xac\x80", 5, 4}, {"\xf4\x8f\xbf", 3, 0}};
    for (auto [s, n, expected] : cuts) EXPECT_EQ(UTF8_BLENB(s, n), expected) << s << " " << n;
    EXPECT_EQ(UTF8_BLEN("h\xc3\xa9llo\xe2\x82"), 6u);
    const std::tuple<const char *, uint64_t, uint8_t> sizes[] = {
        {"a", 1, 1}, {"\xe0\x9f\xbf", 3, 0}, {"\xe0\xa0\x80", 3, 1}, {"\xc3" "A", 1, 0}, {"\xed\x9f\xbf", 3, 1},
        {"\xed\xa0\x80", 3, 0}, {"\xf0\x8f\xbf\xbf", 4, 0}, {"\xf0\x90\x80\x80", 4, 1}, {"\xf4\xbf\xbf\xbf", 4, 1},
        {"\xf5\x80\x80\x80", 4, 0}, {"\xc1\xbf", 2, 0}, {"\xc2\x80", 2, 1}, {"\x80", 1, 0},
        {"\xfc\x80\x80\x80\x80\x80", 6, 0}, {"\xf0\x9f\x98", 3, 0}};
    for (auto [s, size, valid] : sizes) {
        uint8_t ok = 7;
        int32_t ok32 = 7;
        EXPECT_TRUE(qvzsu8CharSize(s, &ok) == size && _U8CharSize(s, &ok32) == size && qvzsu8NextChar(s) == s + size) << s;
        EXPECT_TRUE(ok == valid && ok32 == valid) << s;
    }
}

class Utf8Compare : public HostTest {
  protected:
    // Each string in a block of its own, so that ASan sees a read past it.
    int32_t compare(bool equality, const string &a, const string &b) {
        std::vector<char> ea(a.begin(), a.end()), eb(b.begin(), b.end());
        return equality ? qvzsu8NormEqual(ea.data(), ea.size(), eb.data(), eb.size())
                        : qvzsu8NormCompare(ea.data(), ea.size(), eb.data(), eb.size());
    }
};

const string kCapitalSharpS = "\xe1\xba\x9e", kSharpS = "\xc3\x9f", kKelvin = "\xe2\x84\xaa";
const string kDeseretCapital = "\xf0\x90\x90\x80", kDeseretSmall = "\xf0\x90\x90\xa8";

TEST_F(Utf8Compare, OrderWithoutCaseTiesByCaseAndEqualityLowerCases) {
    // a, b, order with the host's services and without, equality with and without
    const std::tuple<string, string, int32_t, int32_t, int32_t, int32_t> cases[] = {
        {"abc", "ABC", 1, 1, 1, 1}, {"abc", "abd", -2, -2, 0, 0}, {"abd", "ABC", 2, 2, 0, 0},
        {"abc", "abc  ", 0, 0, 0, 0}, {"abc  ", "ABC", 1, 1, 0, 0}, {"abc", "abcd", -2, -2, 0, 0},
        {"abc", "abc \t", -2, -2, 0, 0}, {"", "   ", 0, 0, 0, 0}, {"", "", 0, 0, 1, 1}, {"aBc", "AbC", 1, 1, 1, 1},
        {"Ab", "ac", -2, -2, 0, 0}, {"[", "a", -2, -2, 0, 0},
        {"\xc3\x89t\xc3\xa9", "\xc3\xa9t\xc3\xa9", -1, -1, 1, 1}, {"\xc3\xa9", "\xc3\xa8", 2, 2, 0, 0},
        {kCapitalSharpS, kSharpS, 1, 2, 1, 0}, {kDeseretSmall, kDeseretCapital, 1, 2, 1, 0},
        {kDeseretCapital, kDeseretSmall, -1, -2, 1, 0}, {"kx", kKelvin, 2, -2, 0, 0}, {"k ", kKelvin, -1, -2, 0, 0},
        {kKelvin, "k", 1, 2, 1, 0}, {"\xe2\x82\xac", "\xe2\x82\xac  ", 0, 0, 0, 0},
        // A cut sequence reads as U+FFFD over the bytes that are there.
        {"\xe2\x82", "\xe2\x82", 0, 0, 1, 1}, {"\xe2\x82", "\xef\xbf\xbd", 1, 1, 1, 1},
        {"\xff\x80", "\xef\xbf\xbd", 1, 1, 1, 1}, {"a", "\xf0\x9f\x98", -2, -2, 0, 0},
    };
    for (bool bare : {false, true}) {
        if (bare) qvhostSetValue(host, QV_HOST_TEXT_SERVICES, nullptr);
        for (const auto &[a, b, order, bareOrder, equal, bareEqual] : cases)
            EXPECT_EQ(std::tuple(compare(false, a, b), compare(true, a, b), qvzsu8NormCompareText(a.data(), a.size(), b.data(), b.size(), 0)),
                      std::tuple(bare ? bareOrder : order, bare ? bareEqual : equal, bare ? bareOrder : order)) << a << " | " << b << " " << bare;
    }
    for (auto [a, b, order] : {std::tuple{"ab", "abc", -1}, {"abc", "ab", 1}, {"\xff", "\x01", 1}, {"", "", 0}})
        EXPECT_EQ(qvzsu8Compare(a, std::strlen(a), b, std::strlen(b)), order) << a << " " << b;
}

// Services that fold everything to x and note the modes asked for.
TEST_F(Utf8Compare, OrderAsksForTheFoldAndEqualityForTheLowerCase) {
    static std::vector<int32_t> modes;
    QVWord slots[QV_TEXT_SLOT_COUNT] = {};
    slots[QV_TEXT_TO_LOWER] = QVWord(+[](QVWord *, QVChar, int32_t mode) -> QVChar { return modes.push_back(mode), 'x'; });
    qvhostSetValue(host, QV_HOST_TEXT_SERVICES, slots);
    EXPECT_EQ(std::vector<int32_t>({qvzsu8NormCompare("\xc3\xa9", 2, "\xe2\x82\xac", 3), qvzsu8NormCompare("a", 1, "b", 1),
                                    qvzsu8NormEqual(kDeseretSmall.data(), 4, "\xf0\x9f\x98\x80", 4)}),
              std::vector<int32_t>({-1, -2, 1}));
    EXPECT_EQ(modes, (std::vector<int32_t>{0, 0, 1, 1})) << "ASCII never asks";
}

constexpr QVStatus kOutputFull = 0x803fe807u, kReplaced = 0x803fe808u;
const string kFffd = "\xef\xbf\xbd", kNul(1, '\0'), kSmiley = "\xf0\x9f\x98\x80", kPair = "\xed\xa0\xbd\xed\xb8\x80";

TEST(Utf8Modified, EncodeAndDecode) {
    const std::tuple<bool, string, uint32_t, uint64_t, QVStatus, string> cases[] = {  // encode?, in, flags, cap, result
        {true, kNul + kSmiley, 1, 64, 0, "\xc0\x80" + kPair}, {true, kNul + kSmiley, 4, 64, kReplaced, kNul + kFffd},
        {true, kNul + kSmiley, 0, 64, 0, kNul + kPair}, {true, kNul + kSmiley, 5, 64, 0, "\xc0\x80" + kPair},
        {true, "\xf4\x8f\xbf\xbf", 1, 64, 0, "\xed\xaf\xbf\xed\xbf\xbf"}, {true, "a\xe2\x82" "b", 0, 64, kReplaced, "a" + kFffd + "b"},
        {true, "\x80\xbf", 0, 64, kReplaced, kFffd + kFffd}, {true, "\xed\xa0\x80x", 0, 64, kReplaced, kFffd + "x"},
        {true, "\xf0\x80\x80\x80", 1, 64, kReplaced, kFffd}, {true, "\xf5\x80\x80\x80\xf7\xbf\xbf\xbf", 1, 64, 0, "\xed\xb3\x80\xed\xb0\x80\xed\xbe\xbf\xed\xbf\xbf"},
        {true, "\xc1\xbf\xf8\x88\x80\x80\x80\xe0\x80\x80", 1, 64, 0, "\xc1\xbf\xf8\x88\x80\x80\x80\xe0\x80\x80"},
        {true, "abc", 0, 2, kOutputFull, "ab"}, {true, "a" + kSmiley, 1, 6, kOutputFull, "a"}, {true, kNul, 1, 1, kOutputFull, ""},
        {true, "a\x80", 0, 3, kOutputFull, "a"},
        {false, "\xc0\x80" + kPair, 1, 64, 0, kNul + kSmiley}, {false, "\xc0\x80" + kPair, 0, 64, kReplaced, kFffd + kSmiley},
        {false, "\xed\xa0\xbd" "a", 0, 64, kReplaced, kFffd + "a"}, {false, "\xed\xa0\xbd\xc0\x80\xc0\x80", 1, 64, kReplaced, kFffd + "\xc0\x80" + kNul}, {false, "\xed\xa0\xbd\xe2\x82", 0, 64, kReplaced, kFffd + kFffd},
        {false, "\xed\xb8\x80\xed\xa0\xbd", 0, 64, 0, "\xf2\x90\x80\xbd"},  // any two make a pair
        {false, "\xc1\x81" "a\x80\xf5\x80\x80\x80", 1, 64, kReplaced, kFffd + "a" + kFffd + kFffd},
        {false, "\xc0\x80" + kPair, 1, 4, kOutputFull, kNul}, {false, "\xed\xa0\xbd", 0, 2, kOutputFull, ""},
        // Flag 4 alone copies whole characters (the field's padding aside).
        {false, "h\xc3\xa9llo", 4, 2, kOutputFull, "h"}, {false, "\xc0\x80" "ab", 4, 8, 0, "\xc0\x80" "ab"},
    };
    for (const auto &[encode, in, flags, cap, status, expected] : cases) {
        string out(cap + 8, '#');
        uint64_t written = 999;
        QVStatus got = (encode ? qvzsu8Encode : qvzsu8Decode)(in.data(), in.size(), out.data(), cap, &written, flags);
        EXPECT_EQ(std::tuple(got, out.substr(0, written), out.substr(cap)), std::tuple(status, expected, string(8, '#')))
            << in << " flags " << flags;
    }
    EXPECT_EQ(qvzsu8Encode("ab", 2, nullptr, 0, nullptr, 0), kOutputFull);
}

TEST(Utf8Fields, CopiesWholeCharactersPaddedAndStripsBlanksByMode) {
    char field[8];
    std::memset(field, '#', sizeof field);
    EXPECT_EQ((std::pair{qvzsu8CopyText("h\xc3\xa9llo", 6, 0, field, 2), string(field, 3)}), std::pair(1ul, string("h #")));
    EXPECT_EQ((std::pair{qvzsu8Copy(nullptr, 3, field, 4), string(field, 5)}), std::pair(0ul, string("    #")));
    EXPECT_EQ(qvzsu8Copy("ab\xff", 3, field, 3), 0u);
    char text[16] = "abcdef";
    EXPECT_EQ(qvzsu8Copy(text, 4, text + 2, 6), 4u);  // overlapping: moved
    EXPECT_EQ(string(text, 8), "ababcd  ");
    const std::tuple<string, int32_t, uint64_t> strips[] = {
        {"ab\xe3\x80\x80 ", 2, 2}, {"ab\xe3\x80\x80 ", 0, 5}, {"ab\t", 2, 3}, {"ab\t", 1, 2}, {"ab\t", -7, 2},
        {"ab\xc2\xa0\xe2\x80\xaf", 2, 2}, {"ab\xc2\x85", 2, 4}, {"ab\xc2\x85\r\n", 3, 2}, {"\xe2\x80\x8b", 1, 3},
        {"ab\xe3\x80", 2, 4}, {"\x80\x80", 2, 2}, {"", 2, 0}};
    for (const auto &[s, mode, n] : strips) EXPECT_EQ(qvzsu8StripBlanks(s.data(), s.size(), mode), n) << s << " " << mode;
}

}  // namespace
