// UTF-8 lengths and character sizes: the rules on telling bytes, and the
// vector-skipping routines against plain one-byte-at-a-time references on
// every length up to 300 at every alignment up to 63.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ombrix/utf8.h"
#include "kernel_placements.h"
#include "text/kernels.h"

namespace {

const char *chars(const unsigned char *p) { return reinterpret_cast<const char *>(p); }

// The references step one byte at a time, straight from the rules.
uint64_t referenceSlenb(const unsigned char *s, uint64_t n) {
    uint64_t count = 0;
    for (uint64_t i = 0; i < n; i += _utf8_len[s[i]]) ++count;
    return count;
}

uint64_t referenceSpan(const unsigned char *p, uint64_t available) {
    uint64_t span = 1;
    while (span < _utf8_len[p[0]] && span < available && p[span] >= 0x80 && p[span] <= 0xBF)
        ++span;
    return span;
}

uint64_t referenceNumChars(const unsigned char *s, uint64_t n) {
    uint64_t count = 0;
    for (uint64_t i = 0; i < n; i += referenceSpan(s + i, n - i)) ++count;
    return count;
}

// Text that mixes ASCII runs of every length with 2-, 3- and 4-byte
// characters, stray continuation bytes, cut sequences and invalid leads.
void fillMixed(unsigned char *p, size_t n, std::mt19937 &random) {
    static const char *pieces[] = {"a", "bcdefghijklmnopqrstuvwxyz0123456789 ABCDEFGHIJKLMNOP",
                                   "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\x80",
                                   "\xe2\x82", "\xff", "\xf8\x88\x80\x80\x80", "\xc0\x80"};
    size_t i = 0;
    while (i < n) {
        const char *piece = pieces[random() % 10];
        size_t len = std::strlen(piece);
        if (random() % 4 == 0) len = 1 + random() % len;
        for (size_t k = 0; k < len && i < n; ++k) p[i++] = static_cast<unsigned char>(piece[k]);
    }
}

TEST(Utf8Kernels, AsciiPrefixStopsAtEveryPosition) {
    auto arena = std::make_unique<Arena>();
    forEachPlacement(1, [&](const omb::TextKernels *k, size_t align, size_t n) {
        unsigned char *p = arena->bytes + align;
        // High bytes just past the end must not be seen.
        std::memset(arena->bytes, 0xC3, sizeof arena->bytes);
        std::memset(p, 'a', n);
        ASSERT_EQ(k->asciiPrefix(p, n), n) << nameOf(k) << " n=" << n << " align=" << align;
        for (size_t at = 0; at < n; ++at) {
            p[at] = static_cast<unsigned char>(0x80 + at % 128);
            if (at + 1 < n) p[n - 1] = 0xFF;  // a later high byte must not win
            ASSERT_EQ(k->asciiPrefix(p, n), at) << nameOf(k) << " n=" << n << " align=" << align;
            p[at] = 0x7F;
            p[n - 1] = 'a';
        }
    });
}

// Well-formed text only: 1- to 4-byte characters, including the forms that
// counting does not judge (C0 80, F5 80 80 80).
void fillWellFormed(unsigned char *p, size_t n, std::mt19937 &random) {
    static const char *pieces[] = {"a", "bcdefghijklmnopqrstuvwxyz0123456789", "\xc3\xa9",
                                   "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xc0\x80",
                                   "\xf5\x80\x80\x80", "\xed\xa0\x80"};
    size_t i = 0;
    while (i < n) {
        const char *piece = pieces[random() % 8];
        for (size_t k = 0; piece[k] && i < n; ++k) p[i++] = static_cast<unsigned char>(piece[k]);
    }
}

TEST(Utf8Kernels, WellFormedRunsEndOnACharacterBoundaryWithTheirCount) {
    std::mt19937 random(5);
    auto arena = std::make_unique<Arena>();
    forEachPlacement(1, [&](const omb::TextKernels *k, size_t align, size_t n) {
        const uint64_t width = k == &omb::wideKernels ? 32 : 16;
        unsigned char *p = arena->bytes + align;
        for (int wellFormed = 0; wellFormed < 2; ++wellFormed) {
            SCOPED_TRACE(testing::Message() << nameOf(k) << " n=" << n << " align=" << align);
            std::memset(arena->bytes, 0x80, sizeof arena->bytes);
            (wellFormed ? fillWellFormed : fillMixed)(p, n, random);
            uint64_t chars = 7;
            uint64_t run = k->wellFormedRun(p, n, &chars);
            ASSERT_LE(run, n);
            uint64_t boundary = 0;
            while (boundary < run) boundary += _utf8_len[p[boundary]];
            ASSERT_EQ(boundary, run);
            ASSERT_EQ(chars - 7, referenceSlenb(p, run));
            ASSERT_EQ(chars - 7, referenceNumChars(p, run));
            // Over well-formed text only the last vector's worth and a
            // character running past it are left.
            if (wellFormed) {
                ASSERT_GE(run + width + 3, n);
            }
        }
    });
}

TEST(Utf8Lengths, MatchTheByteByByteRulesOnEveryLengthAndAlignment) {
    std::mt19937 random(11);
    auto arena = std::make_unique<Arena>();
    for (size_t align = 0; align < kAlignments; ++align) {
        for (size_t n = 0; n <= kMaxLength; ++n) {
            unsigned char *p = arena->bytes + align;
            std::memset(arena->bytes, 0xE2, sizeof arena->bytes);
            fillMixed(p, n, random);
            uint64_t chars = referenceNumChars(p, n);
            ASSERT_EQ(UTF8_SLENB(::chars(p), n), referenceSlenb(p, n)) << n << " " << align;
            ASSERT_EQ(qvzsu8NumChars(::chars(p), n), chars) << n << " " << align;
            // The byte after the text (E2) is no continuation byte, so the
            // characters counted in n bytes span exactly n; any k of them
            // end where the k-th character starts.
            ASSERT_EQ(qvzsu8ByteLength(::chars(p), chars), n) << n << " " << align;
            uint64_t k = chars ? random() % chars : 0, start = 0;
            for (uint64_t i = 0; i < k; ++i) start += referenceSpan(p + start, n - start);
            ASSERT_EQ(qvzsu8ByteLength(::chars(p), k), start) << n << " " << align;
        }
    }
}

TEST(Utf8Lengths, ZeroTerminatedLengthsStopAtTheZero) {
    EXPECT_EQ(UTF8_SLEN("a\xc3\xa9"), 2u);
    EXPECT_EQ(UTF8_SLEN(nullptr), 0u);
    EXPECT_EQ(UTF8_SLEN(""), 0u);
    // A sequence the terminator cuts short is one character, and the count
    // ends there.
    EXPECT_EQ(UTF8_SLEN("ab\xe2\x82"), 3u);
    // Continuation bytes each count once; SLEN does not look past a lead.
    EXPECT_EQ(UTF8_SLEN("\x80\x80x"), 3u);
    EXPECT_EQ(UTF8_SLEN("\xc3xy"), 2u);  // C3 swallows the x

    uint64_t chars = 99, bytes = 99;
    qvzsu8Lengths("a\xc3\xa9", &chars, &bytes);
    EXPECT_EQ(chars, 2u);
    EXPECT_EQ(bytes, 3u);
    qvzsu8Lengths("\xc3xy", &chars, nullptr);
    EXPECT_EQ(chars, 3u);  // the x is not a continuation byte
    chars = bytes = 99;
    qvzsu8Lengths(nullptr, &chars, &bytes);
    EXPECT_EQ(chars, 99u);
    EXPECT_EQ(bytes, 99u);
}

TEST(Utf8Lengths, SlenbStepsByTheAnnouncedLength) {
    EXPECT_EQ(UTF8_SLENB("\xe2\x82\xac" "a", 4), 2u);
    EXPECT_EQ(UTF8_SLENB("\xe2" "ab", 3), 1u);  // the lead takes a and b
    EXPECT_EQ(UTF8_SLENB("\xf0\x9f\x98\x80", 2), 1u);
    EXPECT_EQ(UTF8_SLENB("abc", 0), 0u);
    EXPECT_EQ(UTF8_SLENB(nullptr, 0), 0u);
}

TEST(Utf8Lengths, NumCharsTakesOnlyContinuationBytesThatAreThere) {
    EXPECT_EQ(qvzsu8NumChars("\xe2" "ab", 3), 3u);
    EXPECT_EQ(qvzsu8NumChars("\xe2\x82\xac\x80", 4), 2u);  // a stray continuation
    EXPECT_EQ(qvzsu8NumChars("\xe2\x82\xac", 2), 1u);      // never past n
    EXPECT_EQ(qvzsu8NumChars("\xff\x80", 2), 1u);          // FF announces six
    EXPECT_EQ(qvzsu8ByteLength("\xe2\x82\xac" "a\xc3\xa9", 2), 4u);
    EXPECT_EQ(qvzsu8ByteLength("\xe2" "ab", 2), 2u);
    EXPECT_EQ(qvzsu8ByteLength("abc", 0), 0u);
}

TEST(Utf8Lengths, BlenbNeverEndsInsideACharacter) {
    EXPECT_EQ(UTF8_BLENB("a\xe2\x82", 3), 1u);
    EXPECT_EQ(UTF8_BLENB("a\xe2\x82\xac", 4), 4u);
    EXPECT_EQ(UTF8_BLENB("ab\xff", 3), 0u);
    EXPECT_EQ(UTF8_BLENB("abc", 0), 0u);
    EXPECT_EQ(UTF8_BLENB("abc", 2), 2u);
    EXPECT_EQ(UTF8_BLENB("\xc3\xa9", 1), 0u);          // the cut character is the first
    EXPECT_EQ(UTF8_BLENB("\x80\x80", 2), 0u);          // no lead byte at all
    EXPECT_EQ(UTF8_BLENB("a\xc1\x81", 3), 0u);         // C1 may not start a character
    EXPECT_EQ(UTF8_BLENB("a\xe2\x82\xac\x80", 5), 4u); // an extra continuation drops
    EXPECT_EQ(UTF8_BLEN("a\xe2\x82"), 1u);
    EXPECT_EQ(UTF8_BLEN("h\xc3\xa9llo"), 6u);
    EXPECT_EQ(UTF8_BLEN(nullptr), 0u);
}

TEST(Utf8Lengths, TablesFollowTheLeadByteRules) {
    for (int b = 0; b < 256; ++b) {
        int expectedLength = b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF8 ? 4 : b < 0xFC ? 5 : 6;
        ASSERT_EQ(_utf8_len[b], expectedLength) << b;
        ASSERT_EQ(valid_2nd_utf8[b], b >= 0x80 && b <= 0xBF) << b;
        ASSERT_EQ(valid_1st_utf8[b], b < 0x80 || (b >= 0xC2 && b <= 0xF4)) << b;
        char c = static_cast<char>(b);
        ASSERT_EQ(utf8_len(&c), expectedLength) << b;
    }
}

struct SizeCase {
    const char *bytes;
    uint64_t size;
    uint8_t valid;
};

TEST(Utf8CharSize, SizeIsCutAtTheFirstMissingContinuation) {
    const SizeCase cases[] = {
        {"a", 1, 1},
        {"\xe0\x80\x80", 3, 0},  // overlong: E0 wants A0-BF next
        {"\xe0\xa0\x80", 3, 1},
        {"\xe2\x82\xac", 3, 1},
        {"\xc3" "A", 1, 0},
        {"\xed\x9f\xbf", 3, 1},
        {"\xed\xa0\x80", 3, 0},  // a surrogate
        {"\xf0\x8f\xbf\xbf", 4, 0},
        {"\xf0\x90\x80\x80", 4, 1},
        {"\xf4\xbf\xbf\xbf", 4, 1},  // beyond U+10FFFF, yet F4 is not limited
        {"\xf5\x80\x80\x80", 4, 0},
        {"\xc0\x80", 2, 0},
        {"\x80", 1, 0},
        {"\xfc\x80\x80\x80\x80\x80", 6, 0},
        {"\xf0\x9f\x98", 3, 0},
    };
    for (const auto &c : cases) {
        uint8_t valid = 7;
        int32_t valid32 = 7;
        EXPECT_EQ(qvzsu8CharSize(c.bytes, &valid), c.size) << c.bytes;
        EXPECT_EQ(valid, c.valid) << c.bytes;
        EXPECT_EQ(_U8CharSize(c.bytes, &valid32), c.size) << c.bytes;
        EXPECT_EQ(valid32, c.valid) << c.bytes;
        EXPECT_EQ(qvzsu8NextChar(c.bytes), c.bytes + c.size);
    }
    EXPECT_EQ(qvzsu8CharSize("\xe2\x82\xac", nullptr), 3u);
    EXPECT_EQ(_U8CharSize("\xc3" "A", nullptr), 1u);
}

}  // namespace
