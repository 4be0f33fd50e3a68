// The generated case-mapping and case-class tables, read through their
// exported declarations with the lookup rule the header documents.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "ombrix/case.h"

namespace {

constexpr uint32_t kBmp = 0x10000;
constexpr int kBlock = 128;

using Pairs = const uint32_t (*)[2];

uint32_t caseMap(const int8_t *shift, Pairs pairs, uint32_t c) {
    if (c >= kBmp || ybz_metatable[c / kBlock] < 0) return c;
    int d = shift[ybz_metatable[c / kBlock] + c % kBlock];
    if (d == -128) {
        for (int i = 0; pairs[i][0] != 0; ++i)
            if (pairs[i][0] == c) return pairs[i][1];
        return c;
    }
    return static_cast<uint32_t>(static_cast<int64_t>(c) + d);
}

uint32_t lower(uint32_t c) { return caseMap(ybz_downshift, ybz_downaux, c); }
uint32_t upper(uint32_t c) { return caseMap(ybz_upshift, ybz_upaux, c); }

uint32_t classMap(const int32_t *meta, const int32_t *shift, uint32_t c) {
    if (c >= kBmp || meta[c / kBlock] < 0) return c;
    return static_cast<uint32_t>(static_cast<int64_t>(c) + shift[meta[c / kBlock] + c % kBlock]);
}

uint32_t classMin(uint32_t c) { return classMap(ybz_min_meta, ybz_minshift, c); }
uint32_t classMax(uint32_t c) { return classMap(ybz_max_meta, ybz_maxshift, c); }

std::vector<std::pair<uint32_t, uint32_t>> pairList(Pairs pairs) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (int i = 0; pairs[i][0] != 0; ++i) out.emplace_back(pairs[i][0], pairs[i][1]);
    return out;
}

// Both directions over a range: lower adds `down` (0: unchanged), upper adds `up`.
void expectRange(uint32_t first, uint32_t last, int down, int up) {
    for (uint32_t c = first; c <= last; ++c) {
        EXPECT_EQ(lower(c), c + down) << std::hex << "lower of U+" << c;
        EXPECT_EQ(upper(c), c + up) << std::hex << "upper of U+" << c;
    }
}

void expectFixed(std::initializer_list<uint32_t> codes) {
    for (uint32_t c : codes) {
        EXPECT_EQ(lower(c), c) << std::hex << "lower of U+" << c;
        EXPECT_EQ(upper(c), c) << std::hex << "upper of U+" << c;
    }
}

TEST(CaseTableLayout, NineteenBlocksInOrderOfTheirGroups) {
    const std::vector<uint32_t> expected = {
        0x0000, 0x0080, 0x0100, 0x0180, 0x0200, 0x0280, 0x0380, 0x0400, 0x0480, 0x0500,
        0x0580, 0x1080, 0x1E00, 0x1E80, 0x1F00, 0x1F80, 0x2100, 0x2480, 0xFF00};
    std::vector<uint32_t> mapped;
    for (int k = 0; k < 512; ++k) {
        if (ybz_metatable[k] == -1) continue;
        EXPECT_EQ(ybz_metatable[k], static_cast<int16_t>(mapped.size() * kBlock))
            << "block " << k << " starts its group in order";
        mapped.push_back(static_cast<uint32_t>(k) * kBlock);
    }
    EXPECT_EQ(mapped, expected);
}

TEST(CaseTableLayout, PairListsExactlyAndTerminated) {
    const std::vector<std::pair<uint32_t, uint32_t>> down = {
        {0x0181, 0x0253}, {0x0186, 0x0254}, {0x018A, 0x0257}, {0x018E, 0x0258},
        {0x018F, 0x0259}, {0x0190, 0x025B}, {0x0193, 0x0260}, {0x0194, 0x0263},
        {0x0196, 0x0269}, {0x0197, 0x0268}, {0x019C, 0x026F}, {0x019D, 0x0272},
        {0x01A9, 0x0283}, {0x01AE, 0x0288}, {0x01B1, 0x028A}, {0x01B2, 0x028B},
        {0x01B7, 0x0292}, {0x1FF8, 0x1F78}, {0x1FF9, 0x1F79}};
    const std::vector<std::pair<uint32_t, uint32_t>> up = {
        {0x017F, 0x0053}, {0x0253, 0x0181}, {0x0254, 0x0186}, {0x0257, 0x018A},
        {0x0258, 0x018E}, {0x0259, 0x018F}, {0x025B, 0x0190}, {0x0260, 0x0193},
        {0x0263, 0x0194}, {0x0268, 0x0197}, {0x0269, 0x0196}, {0x026F, 0x019C},
        {0x0272, 0x019D}, {0x0283, 0x01A9}, {0x0288, 0x01AE}, {0x028A, 0x01B1},
        {0x028B, 0x01B2}, {0x0292, 0x01B7}, {0x1F78, 0x1FF8}, {0x1F79, 0x1FF9}};
    EXPECT_EQ(pairList(ybz_downaux), down);
    EXPECT_EQ(pairList(ybz_upaux), up);
    EXPECT_EQ(ybz_downaux[19][0], 0u);
    EXPECT_EQ(ybz_downaux[19][1], 0u);
    EXPECT_EQ(ybz_upaux[20][0], 0u);
    EXPECT_EQ(ybz_upaux[20][1], 0u);
}

// A -128 slot whose character is missing from the list would leave it
// unchanged without a trace: the marked slots and the lists must agree.
TEST(CaseTableLayout, MarkedSlotsAreExactlyThePairListEntries) {
    for (auto [shift, pairs, name] : {std::tuple{ybz_downshift, ybz_downaux, "lower"},
                                      std::tuple{ybz_upshift, ybz_upaux, "upper"}}) {
        std::vector<uint32_t> marked, listed;
        for (uint32_t c = 0; c < kBmp; ++c)
            if (ybz_metatable[c / kBlock] >= 0 && shift[ybz_metatable[c / kBlock] + c % kBlock] == -128)
                marked.push_back(c);
        for (auto [from, to] : pairList(pairs)) listed.push_back(from);
        EXPECT_EQ(marked, listed) << name;
    }
}

TEST(CaseTableRows, BasicLatinAndLatin1) {
    expectRange(0x41, 0x5A, +0x20, 0);
    expectRange(0x61, 0x7A, 0, -0x20);
    for (uint32_t c = 0xC0; c <= 0xDE; ++c) {
        EXPECT_EQ(lower(c), c == 0xD7 ? c : c + 0x20) << std::hex << "U+" << c;
        EXPECT_EQ(upper(c), c) << std::hex << "U+" << c;
    }
    expectFixed({0xDF, 0xD7, 0xF7, 0xB5});
    EXPECT_EQ(lower(0xFF), 0xFFu);
    EXPECT_EQ(upper(0xFF), 0x178u);
    EXPECT_EQ(lower(0x178), 0xFFu);
    EXPECT_EQ(upper(0x178), 0x178u);
    // Nothing below U+0080 other than the letters changes.
    for (uint32_t c = 0; c < 0x80; ++c) {
        bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (letter) continue;
        EXPECT_EQ(lower(c), c) << c;
        EXPECT_EQ(upper(c), c) << c;
    }
}

TEST(CaseTableRows, LatinExtended) {
    expectFixed({0x130, 0x131});
    EXPECT_EQ(lower(0x17F), 0x17Fu);
    EXPECT_EQ(upper(0x17F), 0x53u);
    for (uint32_t c : {0x1C4u, 0x1C5u, 0x1C6u}) {
        EXPECT_EQ(lower(c), 0x1C6u) << std::hex << c;
        EXPECT_EQ(upper(c), 0x1C4u) << std::hex << c;
    }
    EXPECT_EQ(lower(0x18E), 0x258u);
    EXPECT_EQ(upper(0x18E), 0x18Eu);
    EXPECT_EQ(lower(0x181), 0x253u);
    // Deltas beyond a byte that the lists leave out.
    for (uint32_t c : {0x189u, 0x19Fu, 0x1A6u}) EXPECT_EQ(lower(c), c) << std::hex << c;
    for (uint32_t c : {0x256u, 0x275u, 0x280u}) EXPECT_EQ(upper(c), c) << std::hex << c;
}

TEST(CaseTableRows, GreekGeorgianAndLetterlike) {
    expectFixed({0x3C2});
    expectRange(0x10A0, 0x10C5, +0x30, 0);
    expectRange(0x10D0, 0x10F5, 0, 0);
    expectRange(0x1F80, 0x1F87, 0, +8);
    expectFixed({0x1E9E, 0x2126, 0x212A});
    expectRange(0x2160, 0x216F, +0x10, 0);
    expectRange(0x24B6, 0x24CF, +0x1A, 0);
    expectRange(0xFF21, 0xFF3A, +0x20, 0);
    expectRange(0xFF41, 0xFF5A, 0, -0x20);
}

TEST(CaseTableRows, OutsideTheMappedBlocksNothingChanges) {
    expectFixed({0x345, 0x3000, 0xAB70, 0xFFFF, 0x10000, 0x10400, 0x1E900, 0xFFFFFFFFu});
}

// 706 is the figure for the lower table. The upper table keeps two
// mappings more than the 671 it is meant to have (tools/README.md).
TEST(CaseTableCounts, CharactersThatChange) {
    int lowered = 0, uppered = 0;
    for (uint32_t c = 0; c < kBmp; ++c) {
        lowered += lower(c) != c;
        uppered += upper(c) != c;
    }
    EXPECT_EQ(lowered, 706);
    EXPECT_EQ(uppered, 673);
}

TEST(CaseTableRoundTrips, OnlyTheKnownOneWayMappings) {
    std::vector<uint32_t> lowerOneWay, upperOneWay;
    for (uint32_t c = 0; c < kBmp; ++c) {
        if (lower(c) != c && upper(lower(c)) != c) lowerOneWay.push_back(c);
        if (upper(c) != c && lower(upper(c)) != c) upperOneWay.push_back(c);
    }
    // The title-case digraphs; STIGMA, DIGAMMA, KOPPA and SAMPI, whose small
    // letters came later and do not upper-case; the Georgian capitals.
    std::vector<uint32_t> expectedLower = {0x1C5, 0x1C8, 0x1CB, 0x1F2, 0x3DA, 0x3DC, 0x3DE, 0x3E0};
    for (uint32_t c = 0x10A0; c <= 0x10C5; ++c) expectedLower.push_back(c);
    const std::vector<uint32_t> expectedUpper = {0x17F, 0x1C5, 0x1C8, 0x1CB, 0x1F2, 0x3D0, 0x3D1,
                                                 0x3D5, 0x3D6, 0x3F0, 0x3F1, 0x3F2, 0x1E9B};
    EXPECT_EQ(lowerOneWay, expectedLower);
    EXPECT_EQ(upperOneWay, expectedUpper);
}

TEST(CaseTableRoundTrips, AlphabetsPairUp) {
    struct Span { uint32_t capital, small, count; };
    for (Span s : {Span{0x41, 0x61, 26}, Span{0x391, 0x3B1, 17}, Span{0x3A3, 0x3C3, 9},
                   Span{0x410, 0x430, 32}, Span{0x400 + 1, 0x450 + 1, 12}, Span{0x531, 0x561, 38},
                   Span{0xFF21, 0xFF41, 26}, Span{0x24B6, 0x24D0, 26}, Span{0x2160, 0x2170, 16}}) {
        for (uint32_t i = 0; i < s.count; ++i) {
            EXPECT_EQ(lower(s.capital + i), s.small + i) << std::hex << "U+" << s.capital + i;
            EXPECT_EQ(upper(s.small + i), s.capital + i) << std::hex << "U+" << s.small + i;
        }
    }
    for (auto [from, to] : pairList(ybz_downaux)) EXPECT_EQ(upper(to), from) << std::hex << from;
}

// Characters first assigned after the mappings' edition stay as they are.
TEST(CaseTableRoundTrips, LaterAdditionsStay) {
    expectFixed({0x1F6, 0x1F7, 0x1F8, 0x1F9, 0x218, 0x219, 0x21F, 0x222, 0x233, 0x400, 0x40D, 0x450,
                 0x45D, 0x48C, 0x48F, 0x4EC, 0x4ED, 0x3DB, 0x3E1});
    EXPECT_EQ(upper(0x195), 0x195u);
    EXPECT_EQ(upper(0x1BF), 0x1BFu);
}

TEST(ClassTableLayout, BlockCountsAndIndexes) {
    for (auto [meta, blocks, name] : {std::tuple{ybz_min_meta, 31, "min"},
                                      std::tuple{ybz_max_meta, 29, "max"}}) {
        int used = 0;
        for (int k = 0; k < 512; ++k) {
            if (meta[k] == -1) continue;
            EXPECT_EQ(meta[k], used * kBlock) << name << " block " << k;
            ++used;
        }
        EXPECT_EQ(used, blocks) << name;
    }
}

TEST(ClassTableRows, TellingClasses) {
    struct Row { std::vector<uint32_t> codes; uint32_t min, max; };
    const Row rows[] = {
        {{0x41, 0x61}, 0x41, 0x61},
        {{0x49, 0x69, 0x130, 0x131}, 0x49, 0x131},
        {{0x4B, 0x6B, 0x212A}, 0x4B, 0x212A},
        {{0x53, 0x73, 0x17F}, 0x53, 0x17F},
        {{0x3A3, 0x3C2, 0x3C3}, 0x3A3, 0x3C3},
        {{0x398, 0x3B8, 0x3D1, 0x3F4}, 0x398, 0x3F4},
        {{0xFF, 0x178}, 0xFF, 0x178},
        {{0x1E9E}, 0xDF, 0x1E9E},
        {{0xDF}, 0xDF, 0xDF},
        // Recent additions: Cherokee small letters, Cyrillic variant forms.
        {{0x13A0, 0xAB70}, 0x13A0, 0xAB70},
        {{0x412, 0x432, 0x1C80}, 0x412, 0x1C80},
        // Georgian keeps its letters apart (no capitals at U+1C90 yet).
        {{0x10D0}, 0x10D0, 0x10D0},
    };
    for (const Row &row : rows)
        for (uint32_t c : row.codes) {
            EXPECT_EQ(classMin(c), row.min) << std::hex << "min of U+" << c;
            EXPECT_EQ(classMax(c), row.max) << std::hex << "max of U+" << c;
        }
    for (uint32_t c = 0; c < 0x80; ++c) {
        bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!letter) {
            EXPECT_EQ(classMin(c), c) << c;
            EXPECT_EQ(classMax(c), c) << c;
        }
    }
    for (uint32_t c : {0x10000u, 0x10400u, 0x10428u, 0x1E900u}) {
        EXPECT_EQ(classMin(c), c);
        EXPECT_EQ(classMax(c), c);
    }
}

TEST(ClassTableRows, BoundsAndClosure) {
    std::vector<uint32_t> open;
    for (uint32_t c = 0; c < kBmp; ++c) {
        uint32_t lo = classMin(c), hi = classMax(c);
        ASSERT_LE(lo, c) << std::hex << c;
        ASSERT_GE(hi, c) << std::hex << c;
        ASSERT_EQ(classMin(lo), lo) << std::hex << c;
        ASSERT_EQ(classMax(hi), hi) << std::hex << c;
        if (classMax(lo) != hi || classMin(hi) != lo) open.push_back(c);
    }
    // U+1E9E lower-cases to U+00DF, which has no mapping of its own and
    // therefore keeps itself: the one class whose ends do not agree.
    EXPECT_EQ(open, std::vector<uint32_t>({0x1E9E}));
}

TEST(AnsiLowCaseTable, AsciiCapitalsOnly) {
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(ansi_lowcasetable[i], (i >= 0x41 && i <= 0x5A) ? i + 0x20 : i) << i;
}

}  // namespace
