// The UTF-8 string routines on the cases the kernel tests do not reach:
// terminated strings, whole-character cuts, validity, comparisons with and
// without the host's text services, modified UTF-8, fields and blanks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "ombrix/utf8.h"

namespace {

using std::string;

TEST(Utf8Lengths, CutsCountsAndValidity) {
    // SLEN: a sequence the terminator cuts is one character; C3 swallows x.
    for (auto [s, n] : {std::pair{"ab\xe2\x82", 3u}, {"\x80\x80x", 3u}, {"\xc3xy", 2u}, {"", 0u}})
        EXPECT_EQ(UTF8_SLEN(s), n) << s;
    EXPECT_EQ(UTF8_SLEN(nullptr), 0u);
    EXPECT_EQ(UTF8_SLENB(nullptr, 0), 0u);
    uint64_t chars = 99, bytes = 99;
    qvzsu8Lengths("\xc3xy", &chars, &bytes);
    EXPECT_EQ(chars, 3u);  // x is no continuation byte
    EXPECT_EQ(bytes, 3u);
    qvzsu8Lengths(nullptr, &chars, &bytes);
    EXPECT_EQ(chars + bytes, 6u);
    // BLENB never ends inside a character; a bad lead where the cut lands gives 0.
    const std::tuple<const char *, uint64_t, uint64_t> cuts[] = {
        {"a\xe2\x82", 3, 1}, {"a\xe2\x82\xac", 4, 4}, {"ab\xff", 3, 0}, {"abc", 0, 0}, {"\xc3\xa9", 1, 0},
        {"\x80\x80", 2, 0}, {"a\xc1\x81", 3, 0}, {"a\xe2\x82\xac\x80", 5, 4}, {"\xf4\x8f\xbf", 3, 0}};
    for (auto [s, n, expected] : cuts) EXPECT_EQ(UTF8_BLENB(s, n), expected) << s << " " << n;
    EXPECT_EQ(UTF8_BLEN("h\xc3\xa9llo\xe2\x82"), 6u);
    EXPECT_EQ(UTF8_BLEN(nullptr), 0u);
    const std::tuple<const char *, uint64_t, uint8_t> sizes[] = {
        {"a", 1, 1}, {"\xe0\x9f\xbf", 3, 0}, {"\xe0\xa0\x80", 3, 1}, {"\xc3" "A", 1, 0}, {"\xed\x9f\xbf", 3, 1},
        {"\xed\xa0\x80", 3, 0}, {"\xf0\x8f\xbf\xbf", 4, 0}, {"\xf0\x90\x80\x80", 4, 1}, {"\xf4\xbf\xbf\xbf", 4, 1},
        {"\xf5\x80\x80\x80", 4, 0}, {"\xc1\xbf", 2, 0}, {"\xc2\x80", 2, 1}, {"\x80", 1, 0},
        {"\xfc\x80\x80\x80\x80\x80", 6, 0}, {"\xf0\x9f\x98", 3, 0}};
    for (auto [s, size, valid] : sizes) {
        uint8_t ok = 7;
        int32_t ok32 = 7;
        EXPECT_EQ(qvzsu8CharSize(s, &ok), size) << s;
        EXPECT_EQ(ok, valid) << s;
        EXPECT_EQ(_U8CharSize(s, &ok32), size) << s;
        EXPECT_EQ(ok32, valid) << s;
        EXPECT_EQ(qvzsu8NextChar(s), s + size);
        EXPECT_EQ(utf8_len(s), _utf8_len[uint8_t(*s)]);
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

// a, b, order with the host's services, order without, then equality both ways.
struct CompareCase {
    string a, b;
    int32_t order, bareOrder, equal, bareEqual;
};

TEST_F(Utf8Compare, OrderWithoutCaseTiesByCaseAndEqualityLowerCases) {
    const CompareCase cases[] = {
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
        for (const CompareCase &c : cases) {
            EXPECT_EQ(compare(false, c.a, c.b), bare ? c.bareOrder : c.order) << c.a << " | " << c.b << " " << bare;
            EXPECT_EQ(compare(true, c.a, c.b), bare ? c.bareEqual : c.equal) << c.a << " | " << c.b << " " << bare;
            EXPECT_EQ(qvzsu8NormCompareText(c.a.data(), c.a.size(), c.b.data(), c.b.size(), 0), bare ? c.bareOrder : c.order);
        }
    }
    for (auto [a, b, order] : {std::tuple{"ab", "abc", -1}, {"abc", "ab", 1}, {"\xff", "\x01", 1}, {"", "", 0}})
        EXPECT_EQ(qvzsu8Compare(a, std::strlen(a), b, std::strlen(b)), order) << a << " " << b;
}

// Services that fold everything to x and note the modes asked for.
struct FoldEverything {
    QVWord slots[QV_TEXT_SLOT_COUNT] = {};
    std::vector<int32_t> modes;
    static QVChar lower(QVWord *self, QVChar, int32_t mode) {
        reinterpret_cast<FoldEverything *>(self)->modes.push_back(mode);
        return 'x';
    }
    FoldEverything() { slots[QV_TEXT_TO_LOWER] = reinterpret_cast<QVWord>(&lower); }
};

TEST_F(Utf8Compare, OrderAsksForTheFoldAndEqualityForTheLowerCase) {
    FoldEverything services;
    qvhostSetValue(host, QV_HOST_TEXT_SERVICES, services.slots);
    EXPECT_EQ(qvzsu8NormCompare("\xc3\xa9", 2, "\xe2\x82\xac", 3), -1);
    EXPECT_EQ(qvzsu8NormCompare("a", 1, "b", 1), -2);  // ASCII never asks
    EXPECT_EQ(qvzsu8NormEqual(kDeseretSmall.data(), 4, "\xf0\x9f\x98\x80", 4), 1);
    EXPECT_EQ(services.modes, (std::vector<int32_t>{0, 0, 1, 1}));
}

constexpr QVStatus kFull = 0x803fe807u, kReplaced = 0x803fe808u;
const string kFffd = "\xef\xbf\xbd", kNul(1, '\0'), kSmiley = "\xf0\x9f\x98\x80", kPair = "\xed\xa0\xbd\xed\xb8\x80";

struct ConvertCase {
    bool encode;
    string in;
    uint32_t flags;
    uint64_t cap;
    QVStatus status;
    string out;
};

TEST(Utf8Modified, EncodeAndDecode) {
    const ConvertCase cases[] = {
        {true, kNul + kSmiley, 1, 64, 0, "\xc0\x80" + kPair}, {true, kNul + kSmiley, 4, 64, kReplaced, kNul + kFffd},
        {true, kNul + kSmiley, 0, 64, 0, kNul + kPair}, {true, kNul + kSmiley, 5, 64, 0, "\xc0\x80" + kPair},
        {true, "\xf4\x8f\xbf\xbf", 1, 64, 0, "\xed\xaf\xbf\xed\xbf\xbf"}, {true, "a\xe2\x82" "b", 0, 64, kReplaced, "a" + kFffd + "b"},
        {true, "\x80\xbf", 0, 64, kReplaced, kFffd + kFffd}, {true, "\xed\xa0\x80x", 0, 64, kReplaced, kFffd + "x"},
        {true, "\xf0\x80\x80\x80", 1, 64, kReplaced, kFffd}, {true, "\xf5\x80\x80\x80", 1, 64, kReplaced, kFffd},
        {true, "\xc1\xbf\xf8\x88\x80\x80\x80\xe0\x80\x80", 1, 64, 0, "\xc1\xbf\xf8\x88\x80\x80\x80\xe0\x80\x80"},
        {true, "abc", 0, 2, kFull, "ab"}, {true, "a" + kSmiley, 1, 6, kFull, "a"}, {true, kNul, 1, 1, kFull, ""},
        {true, "a\x80", 0, 3, kFull, "a"},
        {false, "\xc0\x80" + kPair, 1, 64, 0, kNul + kSmiley}, {false, "\xc0\x80" + kPair, 0, 64, kReplaced, kFffd + kSmiley},
        {false, "\xed\xa0\xbd" "a", 0, 64, kReplaced, kFffd + "a"}, {false, "\xed\xa0\xbd\xe2\x82", 0, 64, kReplaced, kFffd + kFffd},
        {false, "\xed\xb8\x80\xed\xa0\xbd", 0, 64, 0, "\xf2\x90\x80\xbd"},  // any two make a pair
        {false, "\xc1\x81" "a\x80\xf5\x80\x80\x80", 1, 64, kReplaced, kFffd + "a" + kFffd + kFffd},
        {false, "\xc0\x80" + kPair, 1, 4, kFull, kNul}, {false, "\xed\xa0\xbd", 0, 2, kFull, ""},
        // Flag 4 alone copies whole characters (the field's padding aside).
        {false, "h\xc3\xa9llo", 4, 2, kFull, "h"}, {false, "\xc0\x80" "ab", 4, 8, 0, "\xc0\x80" "ab"},
    };
    for (const ConvertCase &c : cases) {
        string out(c.cap + 8, '#');
        uint64_t written = 999;
        QVStatus status = (c.encode ? qvzsu8Encode : qvzsu8Decode)(c.in.data(), c.in.size(), out.data(), c.cap, &written, c.flags);
        EXPECT_EQ(status, c.status) << c.in << " flags " << c.flags;
        EXPECT_EQ(out.substr(0, c.out.size()), c.out) << c.in << " flags " << c.flags;
        EXPECT_EQ(written, c.out.size()) << c.in << " flags " << c.flags;
        EXPECT_EQ(out.substr(c.cap), string(8, '#')) << c.in;
    }
    EXPECT_EQ(qvzsu8Encode("ab", 2, nullptr, 0, nullptr, 0), kFull);
}

TEST(Utf8Fields, CopiesWholeCharactersPaddedAndStripsBlanksByMode) {
    char field[8];
    std::memset(field, '#', sizeof field);
    EXPECT_EQ(qvzsu8CopyText("h\xc3\xa9llo", 6, 0, field, 2), 1u);
    EXPECT_EQ(string(field, 3), "h #");
    EXPECT_EQ(qvzsu8Copy(nullptr, 3, field, 4), 0u);
    EXPECT_EQ(string(field, 5), "    #");
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
