// Modified UTF-8 both ways, copying into a fixed-width field and stripping
// trailing blanks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ombrix/utf8.h"

namespace {

struct Converted {
    QVStatus status;
    std::string bytes;
    uint64_t written;
};

// Converts into a buffer of `cap` bytes followed by guard bytes that must
// survive.
Converted run(QVStatus (*convert)(const char *, uint64_t, char *, uint64_t, uint64_t *, uint32_t),
              const std::string &in, uint32_t flags, uint64_t cap = 64) {
    std::vector<char> out(cap + 8, '#');
    uint64_t written = 999;
    QVStatus status = convert(in.data(), in.size(), out.data(), cap, &written, flags);
    for (uint64_t i = cap; i < cap + 8; ++i) EXPECT_EQ(out[i], '#') << "wrote past the capacity";
    EXPECT_LE(written, cap);
    return {status, std::string(out.data(), written <= cap ? written : 0), written};
}

Converted encode(const std::string &in, uint32_t flags, uint64_t cap = 64) {
    return run(qvzsu8Encode, in, flags, cap);
}
Converted decode(const std::string &in, uint32_t flags, uint64_t cap = 64) {
    return run(qvzsu8Decode, in, flags, cap);
}

const std::string kNulAndSmiley("\x00\xf0\x9f\x98\x80", 5);
const std::string kModifiedSmiley("\xc0\x80\xed\xa0\xbd\xed\xb8\x80", 8);
const std::string kFffd = "\xef\xbf\xbd";
constexpr QVStatus kFull = 0x803fe807u;
constexpr QVStatus kReplaced = 0x803fe808u;

TEST(Utf8Encode, SupplementaryCharactersBecomeSurrogatePairsOrReplacements) {
    auto r = encode(kNulAndSmiley, 1);
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.bytes, kModifiedSmiley);
    EXPECT_EQ(r.written, 8u);

    r = encode(kNulAndSmiley, 4);
    EXPECT_EQ(r.status, kReplaced);
    EXPECT_EQ(r.bytes, std::string("\x00", 1) + kFffd);

    r = encode(kNulAndSmiley, 0);  // pairs, but the zero stays a zero
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.bytes, std::string("\x00\xed\xa0\xbd\xed\xb8\x80", 7));

    r = encode(kNulAndSmiley, 5);  // bit 0 wins over bit 2
    EXPECT_EQ(r.bytes, kModifiedSmiley);
    EXPECT_EQ(encode("\xf4\x8f\xbf\xbf", 1).bytes, "\xed\xaf\xbf\xed\xbf\xbf");  // U+10FFFF
}

TEST(Utf8Encode, MalformedSequencesAreReplacedAndTheWalkResumes) {
    auto r = encode("a\xe2\x82" "b", 0);  // cut by b
    EXPECT_EQ(r.status, kReplaced);
    EXPECT_EQ(r.bytes, "a" + kFffd + "b");
    EXPECT_EQ(encode("a\xe2\x82", 0).bytes, "a" + kFffd);  // cut by the end
    EXPECT_EQ(encode("\x80\xbf", 0).bytes, kFffd + kFffd);  // strays, one each
    r = encode("\xed\xa0\x80x", 0);  // an encoded surrogate in standard input
    EXPECT_EQ(r.status, kReplaced);
    EXPECT_EQ(r.bytes, kFffd + "x");
    // Four-byte forms that encode no supplementary character.
    EXPECT_EQ(encode("\xf0\x80\x80\x80", 1).bytes, kFffd);
    EXPECT_EQ(encode("\xf5\x80\x80\x80", 1).bytes, kFffd);
}

TEST(Utf8Encode, OtherSequencesWithTheirContinuationsAreCopied) {
    for (const std::string s : {"\xc0\x81", "\xc1\xbf", "\xf8\x88\x80\x80\x80",
                                "\xfc\x84\x80\x80\x80\x80", "\xe0\x80\x80", "\xed\x9f\xbf",
                                "h\xc3\xa9llo \xe2\x82\xac"}) {
        auto r = encode(s, 1);
        EXPECT_EQ(r.status, 0u) << s;
        EXPECT_EQ(r.bytes, s);
    }
}

TEST(Utf8Encode, StopsBeforeTheCharacterThatDoesNotFit) {
    auto r = encode("abc", 0, 2);
    EXPECT_EQ(r.status, kFull);
    EXPECT_EQ(r.bytes, "ab");
    EXPECT_EQ(r.written, 2u);
    r = encode("a\xf0\x9f\x98\x80", 1, 6);  // the pair takes six bytes
    EXPECT_EQ(r.status, kFull);
    EXPECT_EQ(r.bytes, "a");
    r = encode(std::string("\x00", 1), 1, 1);
    EXPECT_EQ(r.status, kFull);
    EXPECT_EQ(r.written, 0u);
    r = encode("a\x80", 0, 3);  // a replacement that does not fit
    EXPECT_EQ(r.status, kFull);
    EXPECT_EQ(r.bytes, "a");
    EXPECT_EQ(encode("", 1, 0).status, 0u);
    uint64_t unused = 0;
    EXPECT_EQ(qvzsu8Encode("ab", 2, nullptr, 0, nullptr, 0), kFull);
    EXPECT_EQ(qvzsu8Encode("", 0, nullptr, 0, &unused, 0), 0u);
}

TEST(Utf8Decode, SurrogatePairsJoinAndZeroPairsBecomeZeros) {
    auto r = decode(kModifiedSmiley, 1);
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.bytes, kNulAndSmiley);
    r = decode(kModifiedSmiley, 0);  // C0 80 is not read as a zero
    EXPECT_EQ(r.status, kReplaced);
    EXPECT_EQ(r.bytes, kFffd + "\xf0\x9f\x98\x80");
    r = decode(std::string("\x00", 1), 0);
    EXPECT_EQ(r.bytes, std::string("\x00", 1));
}

TEST(Utf8Decode, ALoneSurrogateIsReplaced) {
    auto r = decode("\xed\xa0\xbd" "a", 0);
    EXPECT_EQ(r.status, kReplaced);
    EXPECT_EQ(r.bytes, kFffd + "a");
    EXPECT_EQ(decode("\xed\xa0\xbd", 0).bytes, kFffd);  // at the end
    EXPECT_EQ(decode("\xed\xa0\xbd\xe2\x82", 0).bytes, kFffd + kFffd);  // before a cut one
    EXPECT_EQ(decode("\xed\xa0\xbd\xc3\xa9", 0).bytes, kFffd + "\xc3\xa9");
    // Any two in a row make a pair, the first as the high one.
    EXPECT_EQ(decode("\xed\xb8\x80\xed\xa0\xbd", 0).bytes, "\xf2\x90\x80\xbd");  // U+9003D
}

TEST(Utf8Decode, RejectedLeadsGiveOneReplacementEach) {
    auto r = decode("\xc1\x81" "a\x80\xf5\x80\x80\x80", 1);
    EXPECT_EQ(r.status, kReplaced);
    EXPECT_EQ(r.bytes, kFffd + "a" + kFffd + kFffd);
    r = decode("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", 1);  // standard text passes
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.bytes, "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
}

TEST(Utf8Decode, FullOutputStopsAtAWholeCharacter) {
    auto r = decode(kModifiedSmiley, 1, 4);  // the zero fits, the pair's four bytes do not
    EXPECT_EQ(r.status, kFull);
    EXPECT_EQ(r.bytes, std::string("\x00", 1));
    r = decode("\xed\xa0\xbd", 0, 2);  // the late replacement
    EXPECT_EQ(r.status, kFull);
    EXPECT_EQ(r.written, 0u);
}

TEST(Utf8Decode, Flag4AloneCopiesWholeCharactersPaddedWithBlanks) {
    std::vector<char> out(8, '#');
    uint64_t written = 9;
    EXPECT_EQ(qvzsu8Decode("h\xc3\xa9llo", 6, out.data(), 2, &written, 4), kFull);
    EXPECT_EQ(written, 1u);
    EXPECT_EQ(std::string(out.data(), 3), "h #");
    EXPECT_EQ(qvzsu8Decode("\xc0\x80" "ab", 4, out.data(), 8, &written, 4), 0u);
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(std::string(out.data(), 4), "\xc0\x80" "ab") << "no zero pair read";
}

TEST(Utf8Decode, EncodeThenDecodeGivesTheTextBack) {
    const std::string texts[] = {
        std::string("a\x00z", 3), "\xf0\x9f\x98\x80\xf0\x90\x90\x80",
        "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e \xd0\xba\xd0\xb8\xd1\x80 \xf0\x9f\x8e\x89",
        "\xf4\x8f\xbf\xbf\xf0\x90\x80\x80", ""};
    for (const auto &t : texts) {
        for (uint32_t flags : {0u, 1u}) {
            auto e = encode(t, flags, 128);
            ASSERT_EQ(e.status, 0u);
            auto d = decode(e.bytes, flags, 128);
            EXPECT_EQ(d.status, 0u);
            EXPECT_EQ(d.bytes, t) << "flags " << flags;
        }
    }
}

TEST(Utf8Copy, CopiesWholeCharactersIntoABlankPaddedField) {
    char field[8];
    std::memset(field, '#', sizeof field);
    EXPECT_EQ(qvzsu8CopyText("h\xc3\xa9llo", 6, 0, field, 2), 1u);
    EXPECT_EQ(std::string(field, 3), "h #");
    EXPECT_EQ(qvzsu8Copy("h\xc3\xa9llo", 6, field, 3), 3u);
    EXPECT_EQ(std::string(field, 4), "h\xc3\xa9#");
    EXPECT_EQ(qvzsu8Copy("ab", 2, field, 5), 2u);
    EXPECT_EQ(std::string(field, 6), "ab   #");
    std::memset(field, '#', sizeof field);
    EXPECT_EQ(qvzsu8Copy(nullptr, 3, field, 4), 0u);
    EXPECT_EQ(std::string(field, 5), "    #");
    EXPECT_EQ(qvzsu8Copy("ab\xff", 3, field, 3), 0u) << "no whole character before FF";
    EXPECT_EQ(std::string(field, 3), "   ");
    EXPECT_EQ(qvzsu8Copy("ab", 2, field, 0), 0u);
}

TEST(Utf8Copy, MovesWhenTheFieldOverlapsTheSource) {
    char text[16] = "abcdef";
    EXPECT_EQ(qvzsu8Copy(text, 4, text + 2, 6), 4u);
    EXPECT_EQ(std::string(text, 8), "ababcd  ");
    char back[16] = "abcdef";
    EXPECT_EQ(qvzsu8Copy(back + 2, 4, back, 4), 4u);
    EXPECT_EQ(std::string(back, 6), "cdefef");
}

TEST(Utf8StripBlanks, EachModeRemovesItsOwnSet) {
    const std::string ideographic = "ab\xe3\x80\x80 ";
    EXPECT_EQ(qvzsu8StripBlanks(ideographic.data(), ideographic.size(), 2), 2u);
    EXPECT_EQ(qvzsu8StripBlanks(ideographic.data(), ideographic.size(), 0), 5u);
    EXPECT_EQ(qvzsu8StripBlanks("ab\t", 3, 2), 3u);
    EXPECT_EQ(qvzsu8StripBlanks("ab\t", 3, 1), 2u);
    EXPECT_EQ(qvzsu8StripBlanks("ab\t", 3, -7), 2u);
    EXPECT_EQ(qvzsu8StripBlanks("ab  ", 4, 0), 2u);
    EXPECT_EQ(qvzsu8StripBlanks("ab\xc2\xa0\xe2\x80\xaf", 7, 2), 2u);  // U+00A0, U+202F
    EXPECT_EQ(qvzsu8StripBlanks("ab\xc2\x85", 4, 2), 4u);  // U+0085 only beyond mode 2
    EXPECT_EQ(qvzsu8StripBlanks("ab\xc2\x85\r\n", 6, 3), 2u);
    EXPECT_EQ(qvzsu8StripBlanks("\xe2\x80\x8b", 3, 1), 3u);  // zero width space stays
    EXPECT_EQ(qvzsu8StripBlanks("   ", 3, 2), 0u);
    EXPECT_EQ(qvzsu8StripBlanks("ab\xe3\x80", 4, 2), 4u);  // a cut U+3000 is no blank
    EXPECT_EQ(qvzsu8StripBlanks("\x80\x80", 2, 2), 2u);
    EXPECT_EQ(qvzsu8StripBlanks("", 0, 2), 0u);
}

}  // namespace
