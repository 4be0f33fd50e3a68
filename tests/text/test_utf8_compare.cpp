// UTF-8 comparisons, with the reference host's text services and without.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_fixture.h"
#include "ombrix/utf8.h"

namespace {

// The string's bytes in a block of their own, so that a read past the
// given length lands outside it (and ASan sees it).
struct Exact {
    explicit Exact(const std::string &s) : bytes(s.begin(), s.end()) {}
    const char *data() const { return bytes.empty() ? nullptr : bytes.data(); }
    uint64_t size() const { return bytes.size(); }
    std::vector<char> bytes;
};

class Utf8Compare : public HostTest {
  protected:
    void withoutTextServices() { qvhostSetValue(host, QV_HOST_TEXT_SERVICES, nullptr); }

    int32_t normCompare(const std::string &a, const std::string &b) {
        Exact ea(a), eb(b);
        int32_t r = qvzsu8NormCompare(ea.data() ? ea.data() : "", ea.size(),
                                      eb.data() ? eb.data() : "", eb.size());
        EXPECT_EQ(r, qvzsu8NormCompareText(a.data(), a.size(), b.data(), b.size(), 0));
        return r;
    }
    int32_t normEqual(const std::string &a, const std::string &b) {
        Exact ea(a), eb(b);
        int32_t r = qvzsu8NormEqual(ea.data() ? ea.data() : "", ea.size(),
                                    eb.data() ? eb.data() : "", eb.size());
        EXPECT_EQ(r, qvzsu8NormEqualText(a.data(), a.size(), b.data(), b.size(), 7));
        return r;
    }
};

const std::string kSharpS = "\xc3\x9f";         // U+00DF
const std::string kCapitalSharpS = "\xe1\xba\x9e";  // U+1E9E
const std::string kKelvin = "\xe2\x84\xaa";     // U+212A, folds to k
const std::string kDeseretCapital = "\xf0\x90\x90\x80";  // U+10400
const std::string kDeseretSmall = "\xf0\x90\x90\xa8";    // U+10428

TEST_F(Utf8Compare, ByteOrderPutsAPrefixFirst) {
    EXPECT_EQ(qvzsu8CompareText("ab", 2, "abc", 3, 0), -1);
    EXPECT_EQ(qvzsu8Compare("abc", 3, "ab", 2), 1);
    EXPECT_EQ(qvzsu8Compare("abc", 3, "abc", 3), 0);
    EXPECT_EQ(qvzsu8Compare("abd", 3, "abc", 3), 1);
    EXPECT_EQ(qvzsu8Compare("\xff", 1, "\x01", 1), 1);  // bytes are unsigned
    EXPECT_EQ(qvzsu8Compare("", 0, "", 0), 0);
    EXPECT_EQ(qvzsu8Compare("a", 0, "", 0), 0);
}

TEST_F(Utf8Compare, NormCompareOrdersWithoutCaseAndBreaksTiesByCase) {
    EXPECT_EQ(normCompare("abc", "ABC"), 1);  // a lies above A
    EXPECT_EQ(normCompare("ABC", "abc"), -1);
    EXPECT_EQ(normCompare("abc", "abd"), -2);
    EXPECT_EQ(normCompare("abd", "ABC"), 2);
    EXPECT_EQ(normCompare("abc", "abc  "), 0);
    EXPECT_EQ(normCompare("abc  ", "ABC"), 1);
    EXPECT_EQ(normCompare("abc", "abcd"), -2);
    EXPECT_EQ(normCompare("abcd", "abc"), 2);
    EXPECT_EQ(normCompare("abc", "abc \t"), -2);  // only the blank does not count
    EXPECT_EQ(normCompare("", ""), 0);
    EXPECT_EQ(normCompare("", "   "), 0);
    // The first case difference decides the tie, a later one does not.
    EXPECT_EQ(normCompare("aBc", "AbC"), 1);
    // A difference of letters wins over an earlier case difference.
    EXPECT_EQ(normCompare("Ab", "ac"), -2);
    // ASCII folding is ASCII only: [ lies between Z and a.
    EXPECT_EQ(normCompare("[", "a"), -2);
    EXPECT_EQ(normCompare("[", "A"), -2);
}

TEST_F(Utf8Compare, NormCompareFoldsOtherCharactersThroughTheHost) {
    EXPECT_EQ(normCompare("\xc3\x89t\xc3\xa9", "\xc3\xa9t\xc3\xa9"), -1);  // Été, été
    EXPECT_EQ(normCompare("caf\xc3\xa9", "CAF\xc3\x89"), 1);
    EXPECT_EQ(normCompare("\xc3\xa9", "\xc3\xa8"), 2);  // é after è
    // Only the host's fold knows these pairs.
    EXPECT_EQ(normCompare(kCapitalSharpS, kSharpS), 1);
    EXPECT_EQ(normCompare(kDeseretSmall, kDeseretCapital), 1);
    // Characters of different sizes fold alike; b runs out first and a's
    // remaining byte decides.
    EXPECT_EQ(normCompare("kx", kKelvin), 2);
    EXPECT_EQ(normCompare("k ", kKelvin), -1);
    EXPECT_EQ(normCompare(kKelvin, "k "), 1);
    // Identical non-ASCII characters never reach the host and leave no tie.
    EXPECT_EQ(normCompare("\xe2\x82\xac", "\xe2\x82\xac  "), 0);
}

TEST_F(Utf8Compare, NormCompareWithoutTextServicesUsesTheStaticTables) {
    withoutTextServices();
    EXPECT_EQ(normCompare("\xc3\x89t\xc3\xa9", "\xc3\xa9t\xc3\xa9"), -1);
    EXPECT_EQ(normCompare("abc", "ABC"), 1);
    // U+1E9E has no lower case in the static tables; beyond the BMP
    // nothing changes.
    EXPECT_EQ(normCompare(kCapitalSharpS, kSharpS), 2);
    EXPECT_EQ(normCompare(kDeseretSmall, kDeseretCapital), 2);
    EXPECT_EQ(normCompare(kDeseretCapital, kDeseretSmall), -2);
}

// A text services object whose fold is easy to recognise: it sends every
// code point to 'x' and notes the modes it was asked for.
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
    EXPECT_EQ(qvzsu8NormCompare("\xc3\xa9", 2, "\xe2\x82\xac", 3), -1);  // folded alike, é below €
    EXPECT_EQ(services.modes, (std::vector<int32_t>{0, 0}));
    services.modes.clear();
    EXPECT_EQ(qvzsu8NormCompare("a", 1, "b", 1), -2);  // ASCII pairs never ask
    EXPECT_TRUE(services.modes.empty());
    EXPECT_EQ(qvzsu8NormEqual(kDeseretSmall.data(), 4, "\xf0\x9f\x98\x80", 4), 1);
    EXPECT_EQ(services.modes, (std::vector<int32_t>{1, 1}));
}

TEST_F(Utf8Compare, NormEqualLowerCasesEveryCharacter) {
    EXPECT_EQ(normEqual("ABC", "abc"), 1);
    EXPECT_EQ(normEqual("\xc3\x89t\xc3\xa9", "\xc3\xa9T\xc3\x89"), 1);
    EXPECT_EQ(normEqual(kDeseretCapital, kDeseretSmall), 1);
    EXPECT_EQ(normEqual("abc", "abd"), 0);
    EXPECT_EQ(normEqual("abc ", "abc"), 0);  // trailing blanks count
    EXPECT_EQ(normEqual("abc", "abc "), 0);
    EXPECT_EQ(normEqual("", ""), 1);
    EXPECT_EQ(normEqual("", "a"), 0);
    EXPECT_EQ(normEqual("a", ""), 0);
    EXPECT_EQ(normEqual(kKelvin, "k"), 1);
}

TEST_F(Utf8Compare, NormEqualWithoutTextServicesLeavesOtherPlanesAlone) {
    withoutTextServices();
    EXPECT_EQ(normEqual("\xc3\x89t\xc3\xa9", "\xc3\xa9T\xc3\x89"), 1);
    EXPECT_EQ(normEqual(kDeseretCapital, kDeseretSmall), 0);
    EXPECT_EQ(normEqual(kDeseretSmall, kDeseretSmall), 1);
}

TEST_F(Utf8Compare, CutAndInvalidSequencesStayInsideTheirBytes) {
    // A cut sequence decodes to U+FFFD over the bytes that are there.
    EXPECT_EQ(normCompare("\xe2\x82", "\xe2\x82"), 0);  // identical bytes
    EXPECT_EQ(normCompare("\xe2\x82", "\xef\xbf\xbd"), 1);
    EXPECT_EQ(normEqual("\xe2\x82", "\xef\xbf\xbd"), 1);
    EXPECT_EQ(normEqual("\xff\x80", "\xef\xbf\xbd"), 1);  // FF and its continuation
    EXPECT_EQ(normCompare("\xf0\x9f\x98\x80", "a"), 2);
    EXPECT_EQ(normCompare("a", "\xf0\x9f\x98"), -2);
}

}  // namespace
