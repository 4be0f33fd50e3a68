// Both kernel records against the scalar rule, on every length up to 300 at
// every alignment up to 63 (kernel_placements.h), the bytes around the
// range included; and the UTF-8 counts that run on them against plain
// one-byte-at-a-time references.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "kernel_placements.h"
#include "ombrix/case.h"
#include "ombrix/utf8.h"
#include "text/kernels.h"

namespace {

TEST(Kernels, DispatchPicksTheWideRecordWhenTheProcessorHasIt) {
    EXPECT_EQ(&omb::textKernels(), omb::wideKernelsSupported() ? &omb::wideKernels : &omb::baselineKernels);
}

// Runs `kernel` on the placed range and `scalar` on a copy; the whole arena
// must come out the same.
template <class Fill, class Scalar, class Kernel>
void expectSameArena(size_t step, Fill fill, Scalar scalar, Kernel kernel) {
    auto arena = std::make_unique<Arena>(), expected = std::make_unique<Arena>();
    forEachPlacement(step, [&](const omb::TextKernels *k, size_t align, size_t n) {
        fill(arena->bytes, align, n);
        *expected = *arena;
        scalar(expected->bytes + align, n);
        kernel(k, arena->bytes + align, n);
        ASSERT_EQ(std::memcmp(arena->bytes, expected->bytes, sizeof arena->bytes), 0)
            << nameOf(k) << " n=" << n << " align=" << align;
    });
}

TEST(Kernels, ByteRoutinesMatchTheScalarRule) {
    std::mt19937 random(7);
    auto randomBytes = [&](unsigned char *a, size_t align, size_t n) {
        for (size_t i = 0; i < sizeof(Arena); ++i) a[i] = static_cast<unsigned char>(random());
        for (size_t i = align; i < align + n; i += 3) a[i] = "@AZ[`az{\x80\xe1\xc1"[random() % 11];
    };
    using K = const omb::TextKernels *;
    auto chars = [](unsigned char *p) { return reinterpret_cast<char *>(p); };
    expectSameArena(1, randomBytes, [&](unsigned char *p, size_t n) { for (size_t i = 0; i < n; ++i) p[i] = omb::asciiUpper(chars(p)[i]); },
                    [&](K k, unsigned char *p, size_t n) { k->strUp(chars(p), n); });
    expectSameArena(1, randomBytes, [&](unsigned char *p, size_t n) { for (size_t i = 0; i < n; ++i) p[i] = omb::asciiLower(chars(p)[i]); },
                    [&](K k, unsigned char *p, size_t n) { k->strLow(chars(p), n); });
    expectSameArena(1, randomBytes, [](unsigned char *p, size_t n) { std::memset(p, 0xC3, n); },
                    [](K k, unsigned char *p, size_t n) { k->memSet(p, 0xC3, n); });
    auto units = [](unsigned char *p) { return reinterpret_cast<QVChar *>(p); };
    expectSameArena(4, randomBytes, [&](unsigned char *p, size_t n) { for (size_t i = 0; i < n; ++i) units(p)[i] = 0x8001F600u; },
                    [&](K k, unsigned char *p, size_t n) { k->memTSet(units(p), 0x8001F600u, n); });
}

// Every position of a match, with matches just past the end and a later
// match in the range that must not win.
TEST(Kernels, ScansFindEveryPosition) {
    auto arena = std::make_unique<Arena>();
    forEachPlacement(1, [&](const omb::TextKernels *k, size_t align, size_t n) {
        unsigned char *p = arena->bytes + align;
        std::memset(arena->bytes, 0x5C, sizeof arena->bytes);
        std::memset(p, 0x20, n);
        ASSERT_EQ(k->memScan(p, n, 0x5C), -1) << nameOf(k) << " n=" << n << " align=" << align;
        ASSERT_EQ(k->memNScan(p, n, 0x20), -1) << nameOf(k) << " n=" << n << " align=" << align;
        ASSERT_EQ(k->asciiPrefix(p, n), n) << nameOf(k) << " n=" << n << " align=" << align;
        for (size_t at = 0; at < n; ++at) {
            p[at] = 0x5C;
            if (at + 1 < n) p[n - 1] = 0x5C;
            ASSERT_EQ(k->memScan(p, n, 0x5C), int64_t(at)) << nameOf(k) << " n=" << n << " align=" << align;
            ASSERT_EQ(k->memNScan(p, n, 0x20), int64_t(at)) << nameOf(k) << " n=" << n << " align=" << align;
            p[at] = static_cast<unsigned char>(0x80 + at % 128);
            if (at + 1 < n) p[n - 1] = 0xFF;
            ASSERT_EQ(k->asciiPrefix(p, n), at) << nameOf(k) << " n=" << n << " align=" << align;
            p[at] = p[n - 1] = 0x20;
        }
        if (align % 4) return;
        auto *u = reinterpret_cast<QVChar *>(p);
        for (size_t i = 0; i < n + 8; ++i) u[i] = i < n ? 0x1F600 : 0x20;
        ASSERT_EQ(k->memTNScan(u, n, 0x1F600), -1) << nameOf(k) << " n=" << n;
        for (size_t at = 0; at < n; ++at) {
            u[at] = 0x1F601;
            ASSERT_EQ(k->memTNScan(u, n, 0x1F600), int64_t(at)) << nameOf(k) << " n=" << n << " align=" << align;
            u[at] = 0x1F600;
        }
    });
    for (auto *k : variants())
        EXPECT_TRUE(k->memScan(nullptr, 10, 0) == -1 && k->memNScan(nullptr, 10, 0) == -1 &&
                    k->memTNScan(nullptr, 10, 0) == -1);
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

// Made-up delta tables: runs at both ends of the Latin range with deltas
// that use all 16 bits, and too many runs to fit (the entries decide).
TEST(Kernels, CaseMappingOfMadeUpLatinRuns) {
    auto d = std::make_unique<omb::CaseDeltas>();
    for (uint32_t c = 0; c < omb::kCaseDeltaEntries; ++c) d->entries[c] = c < 0x100 ? 0 : uint16_t(c % 7);
    for (uint32_t c = 0x00; c <= 0x0F; ++c) d->entries[c] = 0x8000;
    for (uint32_t c = 0x10; c <= 0x1F; ++c) d->entries[c] = 0x7000;
    for (uint32_t c = 0xF0; c <= 0xFF; ++c) d->entries[c] = 0xFF00;
    for (bool fits : {true, false}) {
        if (!fits) d->entries[0x80] = d->entries[0x82] = 1;
        omb::findLatinRuns(*d);
        ASSERT_EQ(d->latinFits, fits);
        expectUnitMapMatches(pickUnit, [&](QVChar c) { return omb::caseMapDelta(c, *d); },
                             [&](const omb::TextKernels *k, QVChar *u, int64_t n) { k->caseMap(u, n, *d); });
    }
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

TEST(Kernels, WellFormedRunsEndOnACharacterBoundaryWithTheirCount) {
    std::mt19937 random(5);
    auto arena = std::make_unique<Arena>();
    forEachPlacement(1, [&](const omb::TextKernels *k, size_t align, size_t n) {
        unsigned char *p = arena->bytes + align;
        for (bool wellFormed : {false, true}) {
            SCOPED_TRACE(testing::Message() << nameOf(k) << " n=" << n << " align=" << align);
            std::memset(arena->bytes, 0x80, sizeof arena->bytes);
            fillUtf8(p, n, random, wellFormed);
            uint64_t chars = 7, run = k->wellFormedRun(p, n, &chars), boundary = 0;
            while (boundary < run) boundary += _utf8_len[p[boundary]];
            ASSERT_EQ(boundary, run);
            ASSERT_EQ(chars - 7, referenceCount(p, run, true));
            ASSERT_EQ(chars - 7, referenceCount(p, run, false));
            // Over well-formed text only the last vector and a character
            // running past it are left.
            if (wellFormed) ASSERT_GE(run + (k == &omb::wideKernels ? 32 : 16) + 3, n);
        }
    });
}

TEST(Kernels, Utf8CountsMatchTheByteByByteRules) {
    std::mt19937 random(11);
    auto arena = std::make_unique<Arena>();
    for (size_t align = 0; align < kAlignments; ++align) {
        for (size_t n = 0; n <= kMaxLength; ++n) {
            unsigned char *p = arena->bytes + align;
            auto *s = reinterpret_cast<const char *>(p);
            std::memset(arena->bytes, 0xE2, sizeof arena->bytes);
            fillUtf8(p, n, random, false);
            uint64_t chars = referenceCount(p, n, false);
            ASSERT_EQ(UTF8_SLENB(s, n), referenceCount(p, n, true)) << n << " " << align;
            ASSERT_EQ(qvzsu8NumChars(s, n), chars) << n << " " << align;
            // The E2 after the text is no continuation byte: the characters
            // of n bytes span n, and k of them end where the k-th starts.
            ASSERT_EQ(qvzsu8ByteLength(s, chars), n) << n << " " << align;
            uint64_t k = chars ? random() % chars : 0, start = 0;
            for (uint64_t i = 0; i < k; ++i) start += referenceSpan(p + start, n - start);
            ASSERT_EQ(qvzsu8ByteLength(s, k), start) << n << " " << align;
        }
    }
}

}  // namespace
