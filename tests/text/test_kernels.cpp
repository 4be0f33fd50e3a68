// Both vector variants against a plain scalar reference, on every length up
// to 300 at every alignment up to 63, matches at every position.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "ombrix/case.h"
#include "kernel_placements.h"
#include "text/kernels.h"

namespace {

TEST(Kernels, DispatchPicksTheWideVariantWhenTheProcessorHasIt) {
    EXPECT_EQ(&omb::textKernels(),
              omb::wideKernelsSupported() ? &omb::wideKernels : &omb::baselineKernels);
}

TEST(Kernels, AsciiCaseFoldingMatchesTheScalarRule) {
    std::mt19937 random(7);
    auto arena = std::make_unique<Arena>();
    auto expected = std::make_unique<Arena>();
    forEachPlacement(1, [&](const omb::TextKernels *k, size_t align, size_t n) {
        for (int upper = 0; upper < 2; ++upper) {
            // Every byte value appears, the range edges often.
            for (auto &b : arena->bytes) b = static_cast<unsigned char>(random());
            for (size_t i = align; i < align + n; i += 3)
                arena->bytes[i] = "@AZ[`az{\x80\xe1\xc1"[random() % 11];
            *expected = *arena;
            char *e = reinterpret_cast<char *>(expected->bytes) + align;
            for (size_t i = 0; i < n; ++i) e[i] = upper ? omb::asciiUpper(e[i]) : omb::asciiLower(e[i]);
            char *p = reinterpret_cast<char *>(arena->bytes) + align;
            (upper ? k->strUp : k->strLow)(p, n);
            ASSERT_EQ(std::memcmp(arena->bytes, expected->bytes, sizeof arena->bytes), 0)
                << nameOf(k) << (upper ? " strUp" : " strLow") << " n=" << n << " align=" << align;
        }
    });
}

TEST(Kernels, FillsWriteExactlyTheRange) {
    auto arena = std::make_unique<Arena>();
    forEachPlacement(1, [&](const omb::TextKernels *k, size_t align, size_t n) {
        std::memset(arena->bytes, 0x11, sizeof arena->bytes);
        k->memSet(arena->bytes + align, 0xC3, n);
        for (size_t i = 0; i < sizeof arena->bytes; ++i) {
            bool inside = i >= align && i < align + n;
            ASSERT_EQ(arena->bytes[i], inside ? 0xC3 : 0x11)
                << nameOf(k) << " memSet n=" << n << " align=" << align << " at " << i;
        }
        // Units are four-byte aligned: sixteen placements in a line.
        if (align % 4) return;
        std::memset(arena->bytes, 0x11, sizeof arena->bytes);
        k->memTSet(reinterpret_cast<QVChar *>(arena->bytes + align), 0x8001F600u, n);
        for (size_t i = 0; i < n; ++i) {
            QVChar u;
            std::memcpy(&u, arena->bytes + align + 4 * i, 4);
            ASSERT_EQ(u, 0x8001F600u) << nameOf(k) << " memTSet n=" << n << " align=" << align;
        }
        ASSERT_EQ(arena->bytes[align + 4 * n], 0x11) << "memTSet wrote past the end";
        if (align) {
            ASSERT_EQ(arena->bytes[align - 1], 0x11);
        }
    });
}

TEST(Kernels, ScansFindEveryPosition) {
    auto arena = std::make_unique<Arena>();
    forEachPlacement(1, [&](const omb::TextKernels *k, size_t align, size_t n) {
        unsigned char *p = arena->bytes + align;
        // Matches just past the end must not be seen.
        std::memset(arena->bytes, 0x5C, sizeof arena->bytes);
        std::memset(p, 0x20, n);
        ASSERT_EQ(k->memScan(p, n, 0x5C), -1) << nameOf(k) << " n=" << n << " align=" << align;
        ASSERT_EQ(k->memNScan(p, n, 0x20), -1) << nameOf(k) << " n=" << n << " align=" << align;
        for (size_t at = 0; at < n; ++at) {
            p[at] = 0x5C;
            if (at + 1 < n) p[n - 1] = 0x5C;  // a later match must not win
            ASSERT_EQ(k->memScan(p, n, 0x5C), static_cast<int64_t>(at))
                << nameOf(k) << " memScan n=" << n << " align=" << align;
            ASSERT_EQ(k->memNScan(p, n, 0x20), static_cast<int64_t>(at))
                << nameOf(k) << " memNScan n=" << n << " align=" << align;
            p[at] = 0x20;
            p[n - 1] = 0x20;
        }
    });
}

TEST(Kernels, UnitScanFindsEveryPosition) {
    auto arena = std::make_unique<Arena>();
    forEachPlacement(4, [&](const omb::TextKernels *k, size_t align, size_t n) {
        auto *u = reinterpret_cast<QVChar *>(arena->bytes + align);
        for (size_t i = 0; i < n + 8; ++i) u[i] = 0x1F600;
        u[n] = 0x20;  // a difference just past the end
        ASSERT_EQ(k->memTNScan(u, n, 0x1F600), -1) << nameOf(k) << " n=" << n;
        for (size_t at = 0; at < n; ++at) {
            u[at] = 0x1F601;
            ASSERT_EQ(k->memTNScan(u, n, 0x1F600), static_cast<int64_t>(at))
                << nameOf(k) << " memTNScan n=" << n << " align=" << align;
            u[at] = 0x1F600;
        }
    });
}

TEST(Kernels, NullBuffersScanToMinusOne) {
    for (auto *k : variants()) {
        EXPECT_EQ(k->memScan(nullptr, 10, 0), -1);
        EXPECT_EQ(k->memNScan(nullptr, 10, 0), -1);
        EXPECT_EQ(k->memTNScan(nullptr, 10, 0), -1);
    }
}

// A small class table: block 0 maps 'a'..'z' down, block 2 (U+0100..) adds
// a large delta to odd units, every other block is unchanged.
struct ClassTable {
    int32_t meta[512];
    int32_t shift[2 * 128];
    ClassTable() {
        for (auto &m : meta) m = -1;
        meta[0] = 0;
        meta[2] = 128;
        for (int i = 0; i < 256; ++i) shift[i] = 0;
        for (int c = 'a'; c <= 'z'; ++c) shift[c] = -0x20;
        for (int i = 1; i < 128; i += 2) shift[128 + i] = 0x10000 - 0x100;
    }
};

// Each variant maps `n` units at every unit alignment, `fill` having
// written them; `scalar` maps a copy one unit at a time, and the whole
// arena must come out the same, the bytes around the units included.
template <class Fill, class Scalar, class Map>
void expectUnitMapMatches(const char *what, Fill fill, Scalar scalar, Map map) {
    auto arena = std::make_unique<Arena>();
    auto expected = std::make_unique<Arena>();
    forEachPlacement(4, [&](const omb::TextKernels *k, size_t align, size_t n) {
        auto *u = reinterpret_cast<QVChar *>(arena->bytes + align);
        fill(u, n);
        *expected = *arena;
        auto *e = reinterpret_cast<QVChar *>(expected->bytes + align);
        for (size_t i = 0; i < n; ++i) e[i] = scalar(e[i]);
        map(k, u, static_cast<int64_t>(n));
        ASSERT_EQ(std::memcmp(arena->bytes, expected->bytes, sizeof arena->bytes), 0)
            << what << ' ' << nameOf(k) << " n=" << n << " align=" << align;
    });
}

TEST(Kernels, ClassMappingMatchesTheScalarLookup) {
    static const ClassTable table;
    std::mt19937 random(11);
    const QVChar samples[] = {'a', 'z', 'A', 0x101, 0x102, 0x17F, 0xFFFF, 0x10000, 0x10061,
                              0x80000061u, 0xFFFFFFFFu, 0x161};
    expectUnitMapMatches(
        "classMap",
        [&](QVChar *u, size_t n) {
            for (size_t i = 0; i < n; ++i)
                u[i] = random() % 2 ? samples[random() % 12] : static_cast<QVChar>(random() % 0x400);
        },
        [](QVChar c) { return omb::classMapUnit(c, table.meta, table.shift); },
        [](const omb::TextKernels *k, QVChar *u, int64_t n) { k->classMap(u, n, table.meta, table.shift); });
    QVChar odd = 0x101;
    omb::baselineKernels.classMap(&odd, 1, table.meta, table.shift);
    EXPECT_EQ(odd, 0x10001u);
}

TEST(Kernels, CaseMappingMatchesTheScalarLookupOnTheRealTables) {
    std::mt19937 random(13);
    // Pair-list characters, block edges, unmapped blocks, outside the BMP.
    const QVChar samples[] = {0x181, 0x17F, 0x253, 0x1FF8, 0x1F78, 0x0, 0x7F, 0x80, 0xFFFF,
                              0xFF21, 0x10000, 0x80000041u, 0xFFFFFFFFu, 0x4E00, 0x10A0, 0x24B6};
    struct {
        const int8_t *shift;
        const uint32_t (*pairs)[2];
        const omb::CaseDeltas *deltas;
    } tables[] = {{ybz_downshift, ybz_downaux, omb::lowerCaseDeltas()},
                  {ybz_upshift, ybz_upaux, omb::upperCaseDeltas()}};
    for (auto &t : tables) {
        expectUnitMapMatches(
            "caseMap",
            [&](QVChar *u, size_t n) {
                // Pair-list units are frequent in some rounds, rare in others.
                unsigned pairEvery = n % 3 == 0 ? 2 : 50;
                for (size_t i = 0; i < n; ++i)
                    u[i] = random() % pairEvery == 0 ? samples[random() % 16]
                                                     : static_cast<QVChar>(random() % 0x2200);
            },
            [&](QVChar c) { return omb::caseMapUnit(c, ybz_metatable, t.shift, t.pairs); },
            [&](const omb::TextKernels *k, QVChar *u, int64_t n) { k->caseMap(u, n, *t.deltas); });
    }
    // Every BMP unit at once, both tables, against the scalar lookup.
    std::vector<QVChar> all(0x10000), reference(0x10000);
    for (auto &t : tables) {
        for (QVChar c = 0; c < 0x10000; ++c) {
            all[c] = c;
            reference[c] = omb::caseMapUnit(c, ybz_metatable, t.shift, t.pairs);
        }
        for (auto *k : variants()) {
            std::vector<QVChar> mapped = all;
            k->caseMap(mapped.data(), 0x10000, *t.deltas);
            EXPECT_EQ(mapped, reference) << nameOf(k);
        }
    }
}

// Units below U+0100 in runs, broken at every place by a unit from beyond
// (or from beyond the BMP), so that each vector step sees Latin-only blocks,
// blocks with one stranger in each lane, and the switch between the two.
void fillLatinRuns(QVChar *u, size_t n, std::mt19937 &random) {
    const QVChar strangers[] = {0x100, 0x1FF, 0x178, 0x410, 0x4E00, 0xFFFF, 0x10041, 0x80000041u};
    size_t run = 0;
    for (size_t i = 0; i < n; ++i) {
        if (run == 0) {
            run = 1 + random() % 40;
            u[i] = strangers[random() % 8];
            continue;
        }
        --run;
        u[i] = static_cast<QVChar>(random() % 0x100);
    }
}

void expectCaseMapMatches(const omb::CaseDeltas &deltas, const char *what) {
    std::mt19937 random(17);
    expectUnitMapMatches(
        what,
        [&](QVChar *u, size_t n) {
            // Every third round all Latin, the others broken into runs.
            if (n % 3 == 0)
                for (size_t i = 0; i < n; ++i) u[i] = static_cast<QVChar>(random() % 0x100);
            else
                fillLatinRuns(u, n, random);
        },
        [&](QVChar c) { return omb::caseMapDelta(c, deltas); },
        [&](const omb::TextKernels *k, QVChar *u, int64_t n) { k->caseMap(u, n, deltas); });
}

TEST(Kernels, LatinRunsOfTheRealTables) {
    const omb::CaseDeltas &lower = *omb::lowerCaseDeltas(), &upper = *omb::upperCaseDeltas();
    ASSERT_TRUE(lower.latinFits);
    ASSERT_TRUE(upper.latinFits);
    auto run = [](const omb::CaseRun &r) {
        return std::vector<unsigned>{r.first, static_cast<unsigned>(r.first + r.span), r.delta};
    };
    // A..Z, U+00C0..U+00D6 and U+00D8..U+00DE up by 0x20; U+00D7 stays.
    EXPECT_EQ(run(lower.latin[0]), (std::vector<unsigned>{0x41, 0x5A, 0x20}));
    EXPECT_EQ(run(lower.latin[1]), (std::vector<unsigned>{0xC0, 0xD6, 0x20}));
    EXPECT_EQ(run(lower.latin[2]), (std::vector<unsigned>{0xD8, 0xDE, 0x20}));
    EXPECT_EQ(lower.latin[3].delta, 0);
    // a..z down, U+00F7 stays, U+00FF goes up to U+0178; U+00B5 and U+00DF stay.
    EXPECT_EQ(run(upper.latin[0]), (std::vector<unsigned>{0x61, 0x7A, 0x10000 - 0x20}));
    EXPECT_EQ(run(upper.latin[1]), (std::vector<unsigned>{0xE0, 0xF6, 0x10000 - 0x20}));
    EXPECT_EQ(run(upper.latin[2]), (std::vector<unsigned>{0xF8, 0xFE, 0x10000 - 0x20}));
    EXPECT_EQ(run(upper.latin[3]), (std::vector<unsigned>{0xFF, 0xFF, 0x79}));
}

TEST(Kernels, CaseMappingOfLatinRunsMatchesTheScalarLookup) {
    expectCaseMapMatches(*omb::lowerCaseDeltas(), "lower");
    expectCaseMapMatches(*omb::upperCaseDeltas(), "upper");
}

// Made-up tables: one whose Latin runs do not fit (the kernels must read
// the entries), and one with runs at both ends of the range whose deltas
// use all 16 bits (U+00F0 .. U+00FF go to U+FFF0 .. U+FFFF).
TEST(Kernels, CaseMappingOfMadeUpLatinRuns) {
    auto many = std::make_unique<omb::CaseDeltas>();
    for (uint32_t c = 0; c < omb::kCaseDeltaEntries; ++c) many->entries[c] = 0;
    for (uint32_t c = 0; c < 0x100; c += 8) many->entries[c] = 1;  // 32 runs of one
    omb::findLatinRuns(*many);
    EXPECT_FALSE(many->latinFits);
    expectCaseMapMatches(*many, "many runs");

    auto edges = std::make_unique<omb::CaseDeltas>();
    for (uint32_t c = 0; c < omb::kCaseDeltaEntries; ++c) edges->entries[c] = static_cast<uint16_t>(c % 7);
    for (uint32_t c = 0; c < 0x100; ++c) edges->entries[c] = 0;
    for (uint32_t c = 0x00; c <= 0x0F; ++c) edges->entries[c] = 0x8000;
    for (uint32_t c = 0x10; c <= 0x1F; ++c) edges->entries[c] = 0x7000;  // same span, other delta
    for (uint32_t c = 0xF0; c <= 0xFF; ++c) edges->entries[c] = static_cast<uint16_t>(0xFF00 - c);
    edges->entries[0xF0] = 0xFF00;  // a run of one, then one run per unit: too many
    omb::findLatinRuns(*edges);
    EXPECT_FALSE(edges->latinFits);
    for (uint32_t c = 0xF0; c <= 0xFF; ++c) edges->entries[c] = 0xFF00;  // to U+FFF0 .. U+FFFF
    omb::findLatinRuns(*edges);
    ASSERT_TRUE(edges->latinFits);
    EXPECT_EQ(edges->latin[2].first, 0xF0);
    EXPECT_EQ(edges->latin[2].span, 0x0F);
    EXPECT_EQ(edges->latin[3].delta, 0);
    expectCaseMapMatches(*edges, "edge runs");
}

}  // namespace
