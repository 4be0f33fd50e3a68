// The drivers' fast routes against the plain per-character driver: the
// exported drivers and both kernel records must give the same bytes in the
// whole destination, the same written count and the same status, for text
// cut at every position, every capacity and many alignments.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <random>
#include <vector>

#include "ombrix/utf.h"
#include "text/kernels.h"
#include "text/utf.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Loop = QVStatus (*)(const uint8_t *, uint64_t, uint8_t *, uint64_t, uint64_t *);

std::vector<const omb::TextKernels *> variants() {
    std::vector<const omb::TextKernels *> v{&omb::baselineKernels};
    if (omb::wideKernelsSupported()) v.push_back(&omb::wideKernels);
    return v;
}

// The source `align` bytes past a 64-byte boundary, at the very end of its
// heap block, so that AddressSanitizer reports a read past it.
struct Placed {
    Placed(const uint8_t *src, size_t n, size_t align)
        : block(static_cast<uint8_t *>(::operator new(align + n, std::align_val_t{64}))), data(block + align) {
        std::copy(src, src + n, data);
    }
    ~Placed() { ::operator delete(block, std::align_val_t{64}); }
    uint8_t *block, *data;
};

// Status, written count and the whole buffer: `offset` bytes before the
// destination and a guard after it, all of which must stay 0xA5.
struct Result {
    QVStatus status;
    uint64_t written;
    Bytes bytes;
    bool operator==(const Result &) const = default;
};

template <class Body>
Result run(uint64_t cap, Body body, size_t offset = 0) {
    Result r{0x1234, 0xDEAD, Bytes(offset + cap + 40, 0xA5)};
    r.status = body(r.bytes.data() + offset, &r.written);
    return r;
}

struct Pair {
    bool toUtf32;
    OmbrixUtfReader read;
    OmbrixUtfWriter write;
};

Result runDriver(bool exported, const Pair &p, const uint8_t *src, uint64_t n, uint64_t cap, size_t offset = 0) {
    return run(cap, [&](uint8_t *d, uint64_t *w) {
        if (p.toUtf32)
            return exported ? ConvertToUTF32(src, n, d, cap, w, p.read, p.write)
                            : omb::convertToUtf32Plain(src, n, d, cap, w, p.read, p.write);
        return exported ? ConvertFromUTF32(src, n, d, cap, w, p.write, p.read)
                        : omb::convertFromUtf32Plain(src, n, d, cap, w, p.write, p.read);
    }, offset);
}

Pair utf8Pair(bool toUtf32, bool bigEndian) {
    if (toUtf32) return {true, UTF8_UTF32, bigEndian ? COPY_UTF32 : COPY_UTF32_SWAP};
    return {false, bigEndian ? COPY_UTF32b : COPY_UTF32b_SWAP, UTF32_UTF8};
}

Loop loopOf(const omb::TextKernels &k, bool toUtf32, bool bigEndian) {
    if (toUtf32) return bigEndian ? k.utf8ToUtf32Be : k.utf8ToUtf32Le;
    return bigEndian ? k.utf32BeToUtf8 : k.utf32LeToUtf8;
}

// Every prefix of `text` into every capacity up to all of it and a little
// more (past 16, steps of 7 that meet every remainder of cap / 4), the
// destination one byte further than the source's alignment.
void compareDrivers(bool toUtf32, const Bytes &text, size_t align, bool bigEndian, uint64_t step = 1) {
    Pair pair = utf8Pair(toUtf32, bigEndian);
    for (size_t n = 0; n <= text.size(); ++n) {
        Placed src(text.data(), n, align);
        for (uint64_t cap = 0; cap <= (toUtf32 ? 4 * n : n) + 8; cap += cap < 16 ? 1 : step) {
            size_t offset = (align + 1) % 64;
            Result plain = runDriver(false, pair, src.data, n, cap, offset);
            ASSERT_TRUE(runDriver(true, pair, src.data, n, cap, offset) == plain) << "exported n=" << n << " cap=" << cap;
            for (auto *k : variants()) {
                Loop loop = loopOf(*k, toUtf32, bigEndian);
                Result vec = run(cap, [&](uint8_t *d, uint64_t *w) { return loop(src.data, n, d, cap, w); }, offset);
                ASSERT_TRUE(vec == plain) << (k == &omb::wideKernels ? "wide" : "baseline") << " n=" << n
                                          << " cap=" << cap << " align=" << align << " status " << vec.status
                                          << " vs " << plain.status << ", written " << vec.written << " vs " << plain.written;
            }
        }
    }
}

// Pieces of UTF-8, good (the first four) and bad.
const std::vector<Bytes> kPieces = {
    {0xC3, 0xA9}, {0xE2, 0x82, 0xAC}, {0xF0, 0x9F, 0x98, 0x80}, {0xF4, 0x8F, 0xBF, 0xBF},
    {0xE2, 0x82}, {0xF0, 0x9F}, {0x80}, {0xBF, 0xBF}, {0xC0, 0x80}, {0xE0, 0x80, 0x80}, {0xED, 0xA0, 0x80},
    {0xF5, 0x80, 0x80, 0x80}, {0xF8, 0x88, 0x80, 0x80, 0x80}, {0xFC, 0x84, 0x80, 0x80, 0x80, 0x80},
    {0xFF}, {0x00}, {0x7F}};

// Mostly ASCII in runs long enough for whole vectors, or mostly pieces.
Bytes generateUtf8(std::mt19937 &random, size_t approx, bool bad) {
    Bytes text;
    while (text.size() < approx) {
        if (random() % 3 == 0) {
            for (size_t k = random() % 70; k > 0; --k) text.push_back(uint8_t(0x20 + random() % 0x5F));
        } else {
            const Bytes &piece = kPieces[random() % (bad ? kPieces.size() : 4)];
            text.insert(text.end(), piece.begin(), piece.end());
        }
    }
    return text;
}

Bytes unitsAsBytes(const std::vector<QVChar> &units, bool bigEndian) {
    Bytes bytes(4 * units.size());
    for (size_t i = 0; i < units.size(); ++i)
        bigEndian ? omb::store32be(&bytes[4 * i], units[i]) : omb::store32le(&bytes[4 * i], units[i]);
    return bytes;
}

TEST(UtfKernels, Utf8ToUtf32MatchesThePlainDriver) {
    std::mt19937 random(41);
    for (int round = 0; round < 12; ++round)
        for (bool bigEndian : {true, false})
            ASSERT_NO_FATAL_FAILURE(compareDrivers(true, generateUtf8(random, 90, round % 3), round * 5 % 64, bigEndian, 7));
    // One piece at each position of long ASCII: blocks meet it at every
    // offset, and the text ends at every position around it.
    Bytes ascii(72, 'q');
    for (const Bytes &piece : kPieces)
        for (size_t at = 0; at <= ascii.size(); at += 5) {
            Bytes text(ascii.begin(), ascii.begin() + at);
            text.insert(text.end(), piece.begin(), piece.end());
            text.insert(text.end(), ascii.begin() + at, ascii.end());
            ASSERT_NO_FATAL_FAILURE(compareDrivers(true, text, at % 64, at % 2, 7)) << "at " << at;
        }
}

TEST(UtfKernels, Utf32ToUtf8MatchesThePlainDriver) {
    std::mt19937 random(47);
    const QVChar odd[] = {0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF, 0xD800, 0x110000, 0xFFFFFFFF, 0x80000000};
    for (int round = 0; round < 8; ++round) {
        std::vector<QVChar> units;
        while (units.size() < 60) {
            if (random() % 3 == 0)
                for (size_t k = random() % 70; k > 0; --k) units.push_back(random() % 0x80);
            else
                units.push_back(odd[random() % 10]);
        }
        units.resize(60);
        Bytes bytes = unitsAsBytes(units, round % 2);
        bytes.push_back(0x41);  // a partial unit at the end is never read
        ASSERT_NO_FATAL_FAILURE(compareDrivers(false, bytes, round * 9 % 64, round % 2));
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
                ASSERT_NO_FATAL_FAILURE(compareDrivers(false, unitsAsBytes(units, bigEndian), 0, bigEndian));
        }
}

// The UTF-16 pairs the exported drivers run inlined: lone and cut
// surrogates, every prefix (odd ones too), every capacity, both orders.
TEST(UtfKernels, Utf16PairsMatchThePlainDriver) {
    std::mt19937 random(67);
    const uint16_t odd[] = {0xD83D, 0xDE00, 0xDBFF, 0xDFFF, 0xD800, 0xDC00, 0xFFFF, 0x00E9, 0x41};
    std::vector<uint16_t> units;
    std::vector<QVChar> scalars;
    while (units.size() < 60) units.push_back(odd[random() % 9]);
    while (scalars.size() < 40) scalars.push_back(random() % 2 ? random() % 0x110000 : random() % 0x80);
    for (bool bigEndian : {true, false}) {
        Bytes text;
        for (uint16_t u : units) text.insert(text.end(), {uint8_t(bigEndian ? u >> 8 : u), uint8_t(bigEndian ? u : u >> 8)});
        Bytes utf32 = unitsAsBytes(scalars, bigEndian);
        const Pair pairs[] = {{true, bigEndian ? UTF16_UTF32 : UTF16_UTF32_SWAP, COPY_UTF32},
                              {true, bigEndian ? UTF16_UTF32 : UTF16_UTF32_SWAP, COPY_UTF32_SWAP},
                              {false, bigEndian ? COPY_UTF32b : COPY_UTF32b_SWAP, UTF32_UTF16s},
                              {false, bigEndian ? COPY_UTF32b : COPY_UTF32b_SWAP, UTF32_UTF16s_SWAP}};
        for (const Pair &p : pairs) {
            const Bytes &in = p.toUtf32 ? text : utf32;
            for (size_t n = 0; n <= in.size(); ++n) {
                Placed src(in.data(), n, n % 8);
                for (uint64_t cap = 0; cap <= 2 * n + 8; ++cap)
                    ASSERT_TRUE(runDriver(true, p, src.data, n, cap) == runDriver(false, p, src.data, n, cap))
                        << p.toUtf32 << " n=" << n << " cap=" << cap;
            }
        }
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
            for (auto *k : variants()) ASSERT_EQ(k->utf8LengthOf(s, n), expected) << n << " " << align;
            ASSERT_EQ(GET_UTF8_LEN_FROM_QVCHAR(s, int64_t(n)), expected);
        }
    EXPECT_EQ(GET_UTF8_LEN_FROM_QVCHAR(nullptr, -3), 0u);
}

}  // namespace
