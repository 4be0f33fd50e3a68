// Both kernel records against the scalar rule, on every length up to 300 at
// every alignment up to 63 (kernel_placements.h), the bytes around the
// range included; the UTF-8 counts that run on them against plain
// one-byte-at-a-time references; and the drivers' fast routes against the
// plain per-character driver: the same bytes in the whole destination (and
// around it), the same written count and status, for text cut at every
// position, every capacity, many alignments.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "kernel_placements.h"
#include "ombrix/case.h"
#include "ombrix/utf.h"
#include "ombrix/utf8.h"
#include "text/kernels.h"
#include "text/utf.h"

namespace {

TEST(Kernels, ByteRoutinesMatchTheScalarRule) {
    std::mt19937 random(7);
    auto randomBytes = [&](unsigned char *a, size_t align, size_t n) {
        for (size_t i = 0; i < sizeof(Arena); ++i) a[i] = static_cast<unsigned char>(random());
        for (size_t i = align; i < align + n; i += 3) a[i] = "@AZ[`az{\x80\xe1\xc1"[random() % 11];
    };
    using K = const omb::TextKernels *;
    using Bytes = unsigned char *;
    auto c = [](Bytes p) { return reinterpret_cast<char *>(p); };
    auto u = [](Bytes p) { return reinterpret_cast<QVChar *>(p); };
    expectSameArena(1, randomBytes, [&](Bytes p, size_t n) { for (size_t i = 0; i < n; ++i) p[i] = omb::asciiUpper(c(p)[i]); },
                    [&](K k, Bytes p, size_t n) { k->strUp(c(p), n); });
    expectSameArena(1, randomBytes, [&](Bytes p, size_t n) { for (size_t i = 0; i < n; ++i) p[i] = omb::asciiLower(c(p)[i]); },
                    [&](K k, Bytes p, size_t n) { k->strLow(c(p), n); });
    expectSameArena(1, randomBytes, [](Bytes p, size_t n) { std::memset(p, 0xC3, n); },
                    [](K k, Bytes p, size_t n) { k->memSet(p, 0xC3, n); });
    expectSameArena(4, randomBytes, [&](Bytes p, size_t n) { for (size_t i = 0; i < n; ++i) u(p)[i] = 0x8001F600u; },
                    [&](K k, Bytes p, size_t n) { k->memTSet(u(p), 0x8001F600u, n); });
}

// A byte that stops the scans and the ASCII prefix at every position, with
// such bytes just past the end and a later one in the range that must not
// win; a differing unit at every position.
TEST(Kernels, ScansFindEveryPosition) {
    auto arena = std::make_unique<Arena>();
    forEachPlacement(1, [&](const omb::TextKernels *k, size_t align, size_t n) {
        unsigned char *p = arena->bytes + align;
        std::memset(arena->bytes, 0x80, sizeof arena->bytes);
        std::memset(p, 0x20, n);
        auto found = [&](uint8_t stop, int64_t at) {
            return k->memScan(p, n, stop) == at && k->memNScan(p, n, 0x20) == at &&
                   k->asciiPrefix(p, n) == (at < 0 ? n : uint64_t(at));
        };
        ASSERT_TRUE(found(0x80, -1)) << nameOf(k) << " n=" << n << " align=" << align;
        for (size_t at = 0; at < n; ++at) {
            uint8_t stop = static_cast<uint8_t>(0x80 + at % 128);
            p[at] = p[n - 1] = stop;
            ASSERT_TRUE(found(stop, int64_t(at))) << nameOf(k) << " n=" << n << " align=" << align << " at " << at;
            p[at] = p[n - 1] = 0x20;
        }
        if (align % 4) return;
        auto *u = reinterpret_cast<QVChar *>(p);
        for (size_t i = 0; i < n + 8; ++i) u[i] = i < n ? 0x1F600 : 0x20;
        for (size_t at = 0; at <= n; ++at) {
            if (at < n) u[at] = 0x1F601;
            ASSERT_EQ(k->memTNScan(u, n, 0x1F600), at < n ? int64_t(at) : -1) << nameOf(k) << " n=" << n << " align=" << align;
            if (at < n) u[at] = 0x1F600;
        }
    });
    EXPECT_EQ(&omb::textKernels(), omb::wideKernelsSupported() ? &omb::wideKernels : &omb::baselineKernels) << "dispatch";
    for (auto *k : variants())
        EXPECT_TRUE(k->memScan(nullptr, 10, 0) == -1 && k->memNScan(nullptr, 10, 0) == -1 && k->memTNScan(nullptr, 10, 0) == -1);
}

// Units from `pick` mapped by a variant and by `scalar`, one at a time.
template <class Pick, class Scalar, class Map>
void expectUnitMapMatches(Pick pick, Scalar scalar, Map map) {
    std::mt19937 random(11);
    expectSameArena(
        4,
        [&](unsigned char *a, size_t align, size_t n) {
            std::memset(a, 0x11, sizeof(Arena));
            auto *u = reinterpret_cast<QVChar *>(a + align);
            for (size_t i = 0; i < n; ++i) u[i] = pick(random, n);
        },
        [&](unsigned char *p, size_t n) {
            auto *u = reinterpret_cast<QVChar *>(p);
            for (size_t i = 0; i < n; ++i) u[i] = scalar(u[i]);
        },
        [&](const omb::TextKernels *k, unsigned char *p, size_t n) { map(k, reinterpret_cast<QVChar *>(p), int64_t(n)); });
}

// Pair-list characters, block edges, unmapped blocks, beyond the BMP, the
// top bit set.
const QVChar kOddUnits[] = {0x181, 0x17F, 0x253, 0x1FF8, 0x0, 0x7F, 0x80, 0xFF, 0x100, 0x178, 0xFFFF,
                            0xFF21, 0x10000, 0x10041, 0x80000041u, 0xFFFFFFFFu};

// Latin runs broken by odd units (every third length all Latin), or wide
// units with the odd ones often or rarely.
QVChar pickUnit(std::mt19937 &random, size_t n) {
    if (n % 3 == 0 || random() % 40 != 0) return n % 2 ? QVChar(random() % 0x100) : QVChar(random() % 0x2200);
    return kOddUnits[random() % 16];
}

TEST(Kernels, CaseAndClassMappingMatchTheScalarLookup) {
    const omb::CaseDeltas *tables[] = {omb::lowerCaseDeltas(), omb::upperCaseDeltas()};
    const int8_t *shifts[] = {ybz_downshift, ybz_upshift};
    const uint32_t(*pairs[])[2] = {ybz_downaux, ybz_upaux};
    for (int t = 0; t < 2; ++t) {
        expectUnitMapMatches(pickUnit, [&](QVChar c) { return omb::caseMapUnit(c, ybz_metatable, shifts[t], pairs[t]); },
                             [&](const omb::TextKernels *k, QVChar *u, int64_t n) { k->caseMap(u, n, *tables[t]); });
        std::vector<QVChar> all(0x10000), reference(0x10000);
        for (QVChar c = 0; c < 0x10000; ++c) reference[all[c] = c] = omb::caseMapUnit(c, ybz_metatable, shifts[t], pairs[t]);
        for (auto *k : variants()) {
            std::vector<QVChar> mapped = all;
            k->caseMap(mapped.data(), 0x10000, *tables[t]);
            EXPECT_EQ(mapped, reference) << nameOf(k);
        }
    }
    const int32_t *metas[] = {ybz_min_meta, ybz_max_meta}, *classShifts[] = {ybz_minshift, ybz_maxshift};
    for (int t = 0; t < 2; ++t)
        expectUnitMapMatches(pickUnit, [&](QVChar c) { return omb::classMapUnit(c, metas[t], classShifts[t]); },
                             [&](const omb::TextKernels *k, QVChar *u, int64_t n) { k->classMap(u, n, metas[t], classShifts[t]); });
}

// Straight from the lead-byte rules, one byte at a time.
uint64_t referenceSpan(const unsigned char *p, uint64_t available) {
    uint64_t span = 1;
    while (span < _utf8_len[p[0]] && span < available && p[span] >= 0x80 && p[span] <= 0xBF) ++span;
    return span;
}
uint64_t referenceCount(const unsigned char *s, uint64_t n, bool byAnnounced) {
    uint64_t count = 0;
    for (uint64_t i = 0; i < n; i += byAnnounced ? _utf8_len[s[i]] : referenceSpan(s + i, n - i)) ++count;
    return count;
}

// ASCII runs with 2-, 3- and 4-byte characters and, unless only well-formed
// text is wanted, strays, cut sequences and invalid leads.
void fillUtf8(unsigned char *p, size_t n, std::mt19937 &random, bool wellFormed) {
    static const char *good[] = {"a", "bcdefghijklmnopqrstuvwxyz0123456789 ABCDEFGHIJKLMNOP", "\xc3\xa9",
                                 "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xc0\x80", "\xf5\x80\x80\x80", "\xed\xa0\x80"};
    static const char *bad[] = {"\x80", "\xe2\x82", "\xff", "\xf8\x88\x80\x80\x80", "\xf4\x80"};
    for (size_t i = 0; i < n;) {
        const char *piece = wellFormed || random() % 3 ? good[random() % 8] : bad[random() % 5];
        for (size_t k = 0; piece[k] && i < n; ++k) p[i++] = static_cast<unsigned char>(piece[k]);
    }
}

// The kernel's run over well-formed text, and the exported counts that use
// it over any text, against the references.
TEST(Kernels, Utf8RunsAndCountsMatchTheByteByByteRules) {
    std::mt19937 random(5);
    auto arena = std::make_unique<Arena>();
    forEachPlacement(1, [&](const omb::TextKernels *k, size_t align, size_t n) {
        unsigned char *p = arena->bytes + align;
        auto *s = reinterpret_cast<const char *>(p);
        for (bool wellFormed : {false, true}) {
            SCOPED_TRACE(testing::Message() << nameOf(k) << " n=" << n << " align=" << align);
            std::memset(arena->bytes, 0x80, sizeof arena->bytes);
            fillUtf8(p, n, random, wellFormed);
            p[n] = 0xE2;  // no continuation byte: the characters of n bytes span n
            uint64_t chars = 7, run = k->wellFormedRun(p, n, &chars), boundary = 0;
            while (boundary < run) boundary += _utf8_len[p[boundary]];
            ASSERT_EQ(std::tuple(boundary, chars - 7, chars - 7), std::tuple(run, referenceCount(p, run, true), referenceCount(p, run, false)));
            // Over well-formed text only the last vector and a character
            // running past it are left.
            ASSERT_TRUE(!wellFormed || run + (k == &omb::wideKernels ? 32 : 16) + 3 >= n) << run;
            if (k != &omb::textKernels()) continue;
            chars = referenceCount(p, n, false);
            ASSERT_EQ(std::tuple(UTF8_SLENB(s, n), qvzsu8NumChars(s, n), qvzsu8ByteLength(s, chars)),
                      std::tuple(referenceCount(p, n, true), chars, uint64_t(n)));
            uint64_t first = chars ? random() % chars : 0, start = 0;  // they end where the next starts
            for (uint64_t i = 0; i < first; ++i) start += referenceSpan(p + start, n - start);
            ASSERT_EQ(qvzsu8ByteLength(s, first), start);
        }
    });
}

// The exported driver and each record's loop for a UTF-8 / UTF-32 pair.
void compareUtf8Loops(bool toUtf32, const Bytes &text, size_t align, bool bigEndian, uint64_t step = 1) {
    OmbrixUtfReader read = toUtf32 ? UTF8_UTF32 : bigEndian ? COPY_UTF32b : COPY_UTF32b_SWAP;
    OmbrixUtfWriter write = !toUtf32 ? UTF32_UTF8 : bigEndian ? COPY_UTF32 : COPY_UTF32_SWAP;
    using namespace std::placeholders;
    std::vector<Convert> routes;
    if (toUtf32) {
        routes.push_back(std::bind(ConvertToUTF32, _1, _2, _3, _4, _5, read, write));
        for (auto *k : variants()) routes.push_back(bigEndian ? k->utf8ToUtf32Be : k->utf8ToUtf32Le);
        compareRoutes(text, align, std::bind(omb::convertToUtf32Plain, _1, _2, _3, _4, _5, read, write), routes, 4, step);
    } else {
        routes.push_back(std::bind(ConvertFromUTF32, _1, _2, _3, _4, _5, write, read));
        for (auto *k : variants()) routes.push_back(bigEndian ? k->utf32BeToUtf8 : k->utf32LeToUtf8);
        compareRoutes(text, align, std::bind(omb::convertFromUtf32Plain, _1, _2, _3, _4, _5, write, read), routes, 1, step);
    }
}

// Pieces of UTF-8, good (the first four) and bad.
const std::vector<Bytes> kPieces = {
    {0xC3, 0xA9}, {0xE2, 0x82, 0xAC}, {0xF0, 0x9F, 0x98, 0x80}, {0xF4, 0x8F, 0xBF, 0xBF}, {0xE2, 0x82}, {0xF0, 0x9F},
    {0x80}, {0xBF, 0xBF}, {0xC0, 0x80}, {0xE0, 0x80, 0x80}, {0xED, 0xA0, 0x80}, {0xF5, 0x80, 0x80, 0x80},
    {0xF8, 0x88, 0x80, 0x80, 0x80}, {0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}, {0xFF}, {0x00}, {0x7F}};

Bytes unitsAsBytes(const std::vector<QVChar> &units, bool bigEndian) {
    Bytes bytes(4 * units.size());
    for (size_t i = 0; i < units.size(); ++i)
        bigEndian ? omb::store32be(&bytes[4 * i], units[i]) : omb::store32le(&bytes[4 * i], units[i]);
    return bytes;
}

TEST(UtfKernels, Utf8ToUtf32MatchesThePlainDriver) {
    // Mostly ASCII in runs long enough for whole vectors, or mostly pieces.
    std::mt19937 random(41);
    for (int round = 0; round < 12; ++round) {
        Bytes text;
        while (text.size() < 90) {
            if (random() % 3 == 0) {
                for (size_t k = random() % 70; k > 0; --k) text.push_back(uint8_t(0x20 + random() % 0x5F));
                continue;
            }
            const Bytes &piece = kPieces[random() % (round % 3 ? kPieces.size() : 4)];
            text.insert(text.end(), piece.begin(), piece.end());
        }
        for (bool bigEndian : {true, false}) ASSERT_NO_FATAL_FAILURE(compareUtf8Loops(true, text, round * 5 % 64, bigEndian, 7));
    }
    // One piece at each position of long ASCII: blocks meet it at every
    // offset, and the text ends at every position around it.
    for (const Bytes &piece : kPieces)
        for (size_t at = 0; at <= 72; at += 5) {
            Bytes text(72, 'q');
            text.insert(text.begin() + long(at), piece.begin(), piece.end());
            ASSERT_NO_FATAL_FAILURE(compareUtf8Loops(true, text, at % 64, at % 2, 7)) << "at " << at;
        }
}

TEST(UtfKernels, Utf32ToUtf8MatchesThePlainDriver) {
    std::mt19937 random(47);
    const QVChar odd[] = {0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF, 0xD800, 0x110000, 0xFFFFFFFF, 0x80000000};
    for (int round = 0; round < 8; ++round) {
        std::vector<QVChar> units;
        while (units.size() < 60) {
            for (size_t k = random() % 3 ? 0 : random() % 70; k > 0; --k) units.push_back(random() % 0x80);
            units.push_back(odd[random() % 10]);
        }
        units.resize(60);
        Bytes bytes = unitsAsBytes(units, round % 2);
        bytes.push_back(0x41);  // a partial unit at the end is never read
        ASSERT_NO_FATAL_FAILURE(compareUtf8Loops(false, bytes, round * 9 % 64, round % 2));
    }
    // A run of four-byte characters ending with a short one leaves spare
    // bytes past the output that a character which does not fit must not
    // leave there: every capacity around the end of a run of either width.
    for (size_t width : {16u, 32u})
        for (QVChar shortChar : {QVChar('x'), QVChar(0xE9), QVChar(0x20AC)}) {
            std::vector<QVChar> units(width - 1, 0x1F600);
            units.push_back(shortChar);
            units.insert(units.end(), 4, 0x1F600);
            units.insert(units.end(), 3, 'y');
            for (bool bigEndian : {true, false})
                ASSERT_NO_FATAL_FAILURE(compareUtf8Loops(false, unitsAsBytes(units, bigEndian), 0, bigEndian));
        }
}

// The UTF-16 pairs the exported drivers run inlined: lone and cut
// surrogates, every prefix (odd ones too), every capacity, both orders.
TEST(UtfKernels, Utf16PairsMatchThePlainDriver) {
    using namespace std::placeholders;
    std::mt19937 random(67);
    const uint16_t odd[] = {0xD83D, 0xDE00, 0xDBFF, 0xDFFF, 0xD800, 0xDC00, 0xFFFF, 0x00E9, 0x41};
    std::vector<QVChar> scalars;
    while (scalars.size() < 40) scalars.push_back(random() % 2 ? random() % 0x110000 : random() % 0x80);
    for (bool bigEndian : {true, false}) {
        Bytes text;
        for (int i = 0; i < 60; ++i) {
            uint16_t u = odd[random() % 9];
            text.insert(text.end(), {uint8_t(bigEndian ? u >> 8 : u), uint8_t(bigEndian ? u : u >> 8)});
        }
        OmbrixUtfReader read16 = bigEndian ? UTF16_UTF32 : UTF16_UTF32_SWAP, read32 = bigEndian ? COPY_UTF32b : COPY_UTF32b_SWAP;
        for (OmbrixUtfWriter write : {COPY_UTF32, COPY_UTF32_SWAP})
            ASSERT_NO_FATAL_FAILURE(compareRoutes(text, 3, std::bind(omb::convertToUtf32Plain, _1, _2, _3, _4, _5, read16, write),
                                                  {std::bind(ConvertToUTF32, _1, _2, _3, _4, _5, read16, write)}, 2));
        for (OmbrixUtfWriter write : {UTF32_UTF16s, UTF32_UTF16s_SWAP})
            ASSERT_NO_FATAL_FAILURE(compareRoutes(unitsAsBytes(scalars, bigEndian), 5,
                                                  std::bind(omb::convertFromUtf32Plain, _1, _2, _3, _4, _5, write, read32),
                                                  {std::bind(ConvertFromUTF32, _1, _2, _3, _4, _5, write, read32)}, 1));
    }
}

// Every count and alignment, units of every length class.
TEST(UtfKernels, Utf8LengthOfMatchesTheUnitSum) {
    std::mt19937 random(53);
    const QVChar classes[] = {0, 0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    std::vector<QVChar> storage(316);
    for (auto &u : storage) u = random() % 2 ? classes[random() % 10] : QVChar(random());
    for (size_t align = 0; align < 16; ++align)
        for (size_t n = 0; n <= 300; ++n) {
            const QVChar *s = storage.data() + align;
            uint64_t expected = 0;
            for (size_t i = 0; i < n; ++i) expected += omb::utf8Length(s[i]);
            for (auto *k : variants()) ASSERT_EQ(k->utf8LengthOf(s, n), expected) << nameOf(k) << n << " " << align;
            ASSERT_EQ(GET_UTF8_LEN_FROM_QVCHAR(s, int64_t(n)), expected);
        }
    EXPECT_EQ(GET_UTF8_LEN_FROM_QVCHAR(nullptr, -3), 0u);
}

}  // namespace
