// The drivers' fast routes against the plain per-character driver: the
// exported drivers and both vector variants must give the same bytes in the
// whole destination, the same written count and the same status, for text
// cut at every position, every capacity and several alignments.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "ombrix/utf.h"
#include "text/kernels.h"
#include "text/utf.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Loop = QVStatus (*)(const uint8_t *, uint64_t, uint8_t *, uint64_t, uint64_t *);

struct Variant {
    const char *name;
    const omb::TextKernels *kernels;
};

std::vector<Variant> variants() {
    std::vector<Variant> v{{"baseline", &omb::baselineKernels}};
    if (omb::wideKernelsSupported()) v.push_back({"wide", &omb::wideKernels});
    return v;
}

TEST(UtfKernels, DispatchPicksTheWideVariantWhenTheProcessorHasIt) {
    EXPECT_EQ(&omb::textKernels(),
              omb::wideKernelsSupported() ? &omb::wideKernels : &omb::baselineKernels);
}

struct Result {
    QVStatus status;
    uint64_t written;
    Bytes bytes;  // the destination and a guard after it
    bool operator==(const Result &o) const {
        return status == o.status && written == o.written && bytes == o.bytes;
    }
};

// `shifted` ran with its destination `offset` bytes on: the same result,
// and the bytes before the destination untouched.
bool sameAfterOffset(const Result &shifted, const Result &plain, size_t offset) {
    Bytes before(shifted.bytes.begin(), shifted.bytes.begin() + offset);
    Result moved{shifted.status, shifted.written, Bytes(shifted.bytes.begin() + offset, shifted.bytes.end())};
    return before == Bytes(offset, 0xA5) && moved == plain;
}

std::string describe(const Result &r) {
    return "status " + std::to_string(r.status) + " written " + std::to_string(r.written);
}

constexpr size_t kGuard = 40;

// The source copied to `align` bytes past a 64-byte boundary, at the very
// end of its heap block, so that AddressSanitizer reports a read past it.
class Placed {
public:
    Placed(const uint8_t *src, size_t n, size_t align)
        : block_(static_cast<uint8_t *>(::operator new(align + n, std::align_val_t{64}))), start_(block_ + align) {
        std::copy(src, src + n, start_);
    }
    ~Placed() { ::operator delete(block_, std::align_val_t{64}); }
    Placed(const Placed &) = delete;
    Placed &operator=(const Placed &) = delete;
    const uint8_t *data() const { return start_; }

private:
    uint8_t *block_;
    uint8_t *start_;
};

// The destination starts `offset` bytes into the buffer; the bytes before
// it and the guard after it must stay as they were.
template <class Run>
Result run(uint64_t cap, Run body, size_t offset = 0) {
    Bytes out(offset + cap + kGuard, 0xA5);
    Result r{0x1234, 0xDEAD, {}};
    r.status = body(out.data() + offset, &r.written);
    r.bytes = std::move(out);
    return r;
}

// The plain driver, or the exported one, in either direction.
Result runDriver(bool exported, bool toUtf32, const uint8_t *src, uint64_t n, uint64_t cap,
                 OmbrixUtfReader read, OmbrixUtfWriter write) {
    return run(cap, [&](uint8_t *d, uint64_t *w) {
        if (toUtf32)
            return exported ? ConvertToUTF32(src, n, d, cap, w, read, write)
                            : omb::convertToUtf32Plain(src, n, d, cap, w, read, write);
        return exported ? ConvertFromUTF32(src, n, d, cap, w, write, read)
                        : omb::convertFromUtf32Plain(src, n, d, cap, w, write, read);
    });
}

// A variant's UTF-8 <-> UTF-32 loop in the given direction and byte order.
Loop loopOf(const omb::TextKernels &k, bool toUtf32, bool bigEndian) {
    if (toUtf32) return bigEndian ? k.utf8ToUtf32Be : k.utf8ToUtf32Le;
    return bigEndian ? k.utf32BeToUtf8 : k.utf32LeToUtf8;
}

// Every prefix of `text` (UTF-8, or UTF-32 units) into every capacity up
// to the one that holds it all and a little more, through the plain
// driver, the exported one and each variant's loop. Only cap / 4 steers
// the UTF-8 loop, so past 16 its capacities go in steps of 7 that still
// meet every remainder; the guard shows a store past cap.
void compareDrivers(bool toUtf32, const Bytes &text, size_t align, bool bigEndian, bool everyCap = true) {
    OmbrixUtfReader read = toUtf32 ? UTF8_UTF32 : bigEndian ? COPY_UTF32b : COPY_UTF32b_SWAP;
    OmbrixUtfWriter write = !toUtf32 ? UTF32_UTF8 : bigEndian ? COPY_UTF32 : COPY_UTF32_SWAP;
    const uint64_t step = toUtf32 ? 7 : everyCap ? 1 : 5;
    for (size_t n = 0; n <= text.size(); ++n) {
        Placed src(text.data(), n, align);
        for (uint64_t cap = 0; cap <= (toUtf32 ? 4 * n : n) + 8; cap += cap < 16 ? 1 : step) {
            Result plain = runDriver(false, toUtf32, src.data(), n, cap, read, write);
            Result exported = runDriver(true, toUtf32, src.data(), n, cap, read, write);
            ASSERT_TRUE(exported == plain) << "exported n=" << n << " cap=" << cap << ": "
                                           << describe(exported) << " vs " << describe(plain);
            for (const Variant &v : variants()) {
                Loop loop = loopOf(*v.kernels, toUtf32, bigEndian);
                Result vec = run(cap, [&](uint8_t *d, uint64_t *w) { return loop(src.data(), n, d, cap, w); });
                ASSERT_TRUE(vec == plain) << v.name << " n=" << n << " cap=" << cap << " align=" << align
                                          << ": " << describe(vec) << " vs " << describe(plain);
            }
        }
    }
}

// Pieces of UTF-8, good and bad, that the generator strings together.
const std::vector<Bytes> kPieces = {
    {0xC3, 0xA9},                          // é
    {0xE2, 0x82, 0xAC},                    // €
    {0xF0, 0x9F, 0x98, 0x80},              // U+1F600
    {0xF4, 0x8F, 0xBF, 0xBF},              // U+10FFFF
    {0xE2, 0x82},                          // cut short
    {0xF0, 0x9F},                          // cut short
    {0x80},                                // stray continuation
    {0xBF, 0xBF},
    {0xC0, 0x80},                          // overlong NUL
    {0xE0, 0x80, 0x80},                    // overlong, read as a value
    {0xED, 0xA0, 0x80},                    // encoded surrogate
    {0xF5, 0x80, 0x80, 0x80},              // F5 lead
    {0xF8, 0x88, 0x80, 0x80, 0x80},        // five-byte form
    {0xFC, 0x84, 0x80, 0x80, 0x80, 0x80},  // six-byte form
    {0xFF},
    {0x00},
    {0x7F},
};

Bytes asciiRun(std::mt19937 &random, size_t length) {
    Bytes run(length);
    for (auto &b : run) b = uint8_t(0x20 + random() % 0x5F);
    return run;
}

// Text that is mostly ASCII with runs long enough for whole vectors, or
// mostly other pieces; bad pieces only where `bad` allows.
Bytes generateUtf8(std::mt19937 &random, size_t approx, bool bad) {
    Bytes text;
    while (text.size() < approx) {
        if (random() % 3 == 0) {
            Bytes run = asciiRun(random, random() % 70);
            text.insert(text.end(), run.begin(), run.end());
        } else {
            size_t pick = random() % (bad ? kPieces.size() : 4);
            text.insert(text.end(), kPieces[pick].begin(), kPieces[pick].end());
        }
    }
    return text;
}

TEST(UtfKernels, Utf8ToUtf32MatchesThePlainDriverOnRandomText) {
    std::mt19937 random(41);
    for (int round = 0; round < 12; ++round) {
        Bytes text = generateUtf8(random, 90, round % 3 != 0);
        for (bool bigEndian : {true, false})
            ASSERT_NO_FATAL_FAILURE(compareDrivers(true, text, round % 7, bigEndian)) << "round " << round;
    }
}

// Long ASCII with one piece at each position in turn: the vector blocks
// meet the piece at every offset within a block, and the text ends at
// every position around it.
TEST(UtfKernels, Utf8ToUtf32WithOneOddPieceAtEveryPosition) {
    std::mt19937 random(43);
    Bytes ascii = asciiRun(random, 72);
    for (const Bytes &piece : kPieces) {
        for (size_t at = 0; at <= ascii.size(); at += 5) {
            Bytes text(ascii.begin(), ascii.begin() + at);
            text.insert(text.end(), piece.begin(), piece.end());
            text.insert(text.end(), ascii.begin() + at, ascii.end());
            ASSERT_NO_FATAL_FAILURE(compareDrivers(true, text, at % 3, at % 2))
                << "piece " << testing::PrintToString(piece) << " at " << at;
        }
    }
}

Bytes unitsAsBytes(const std::vector<QVChar> &units, bool bigEndian) {
    Bytes bytes(4 * units.size());
    for (size_t i = 0; i < units.size(); ++i)
        bigEndian ? omb::store32be(&bytes[4 * i], units[i]) : omb::store32le(&bytes[4 * i], units[i]);
    return bytes;
}

TEST(UtfKernels, Utf32ToUtf8MatchesThePlainDriverOnRandomUnits) {
    std::mt19937 random(47);
    const QVChar odd[] = {0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x10FFFF, 0xD800, 0x110000, 0xFFFFFFFF, 0x80000000};
    for (int round = 0; round < 8; ++round) {
        std::vector<QVChar> units;
        while (units.size() < 90) {
            if (random() % 3 == 0) {
                for (size_t k = random() % 70; k > 0; --k) units.push_back(random() % 0x80);
            } else {
                units.push_back(odd[random() % (sizeof odd / sizeof odd[0])]);
            }
        }
        bool bigEndian = round % 2;
        Bytes bytes = unitsAsBytes(units, bigEndian);
        bytes.push_back(0x41);  // a partial unit at the end is never read
        // Every prefix in bytes; capacities up to n + 8 cover every unit.
        Bytes head(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 4 * 60 + 1));
        ASSERT_NO_FATAL_FAILURE(compareDrivers(false, head, round % 5 * 4 + round % 4, bigEndian))
            << "round " << round;
    }
}

TEST(UtfKernels, Utf32ToUtf8WithOneWideUnitAtEveryPosition) {
    for (QVChar wide : {QVChar(0x80), QVChar(0x20AC), QVChar(0x1F600), QVChar(0x7FFFFF80)}) {
        for (size_t at = 0; at < 40; at += 3) {
            std::vector<QVChar> units(40, 'x');
            units[at] = wide;
            for (bool bigEndian : {true, false})
                ASSERT_NO_FATAL_FAILURE(
                    compareDrivers(false, unitsAsBytes(units, bigEndian), at % 4, bigEndian, false))
                    << std::hex << wide << " at " << std::dec << at;
        }
    }
}

// A run of four-byte characters that ends with a short one leaves spare
// bytes past the output, and a four-byte character after it that does not
// fit must not leave them there: every capacity around the end of the run,
// for the run lengths of both variants.
TEST(UtfKernels, Utf32ToUtf8RunEndingWhereTheRoomRunsOut) {
    for (size_t run : {16u, 32u}) {
        for (QVChar shortChar : {QVChar('x'), QVChar(0xE9), QVChar(0x20AC)}) {
            std::vector<QVChar> units(run - 1, 0x1F600);
            units.push_back(shortChar);
            units.insert(units.end(), 4, 0x1F600);
            units.insert(units.end(), 3, 'y');
            for (bool bigEndian : {true, false})
                ASSERT_NO_FATAL_FAILURE(compareDrivers(false, unitsAsBytes(units, bigEndian), 0, bigEndian))
                    << "run " << run << " short " << std::hex << shortChar;
        }
    }
}

// The UTF-16 pairs the drivers run with the routines inlined, in every
// combination of orders: lone and cut surrogates, every prefix (odd ones
// too), every capacity.
TEST(UtfKernels, Utf16PairsMatchThePlainDriver) {
    std::mt19937 random(67);
    const uint16_t odd[] = {0xD83D, 0xDE00, 0xDBFF, 0xDFFF, 0xD800, 0xDC00, 0xFFFF, 0x00E9, 0x20AC};
    std::vector<uint16_t> units;
    while (units.size() < 60) {
        if (random() % 3 == 0) {
            units.push_back(0xD83D);  // a proper pair
            units.push_back(0xDE00);
        } else {
            units.push_back(random() % 2 ? uint16_t('a' + random() % 26) : odd[random() % 9]);
        }
    }
    std::vector<QVChar> scalars;
    for (int i = 0; i < 40; ++i) scalars.push_back(random() % 2 ? random() % 0x110000 : random() % 0x80);
    for (bool bigEndian : {true, false}) {
        Bytes text;
        for (uint16_t u : units) {
            uint8_t two[2];
            bigEndian ? omb::store16be(two, u) : omb::store16le(two, u);
            text.insert(text.end(), two, two + 2);
        }
        OmbrixUtfReader read16 = bigEndian ? UTF16_UTF32 : UTF16_UTF32_SWAP;
        OmbrixUtfReader read32 = bigEndian ? COPY_UTF32b : COPY_UTF32b_SWAP;
        Bytes utf32 = unitsAsBytes(scalars, bigEndian);
        for (size_t n = 0; n <= text.size(); ++n) {
            Placed src(text.data(), n, n % 8);
            for (OmbrixUtfWriter write : {COPY_UTF32, COPY_UTF32_SWAP}) {
                for (uint64_t cap = 0; cap <= 2 * n + 8; ++cap)
                    ASSERT_TRUE(runDriver(true, true, src.data(), n, cap, read16, write) ==
                                runDriver(false, true, src.data(), n, cap, read16, write))
                        << "to UTF-32 n=" << n << " cap=" << cap;
            }
        }
        for (size_t n = 0; n <= utf32.size(); ++n) {
            Placed src(utf32.data(), n, n % 8);
            for (OmbrixUtfWriter write : {UTF32_UTF16s, UTF32_UTF16s_SWAP}) {
                for (uint64_t cap = 0; cap <= n + 8; ++cap)
                    ASSERT_TRUE(runDriver(true, false, src.data(), n, cap, read32, write) ==
                                runDriver(false, false, src.data(), n, cap, read32, write))
                        << "to UTF-16 n=" << n << " cap=" << cap;
            }
        }
    }
}

// Source and destination at every alignment within a 64-byte line (the
// destination one further on each time), every length, with room for
// everything and with room that runs out mid-text.
TEST(UtfKernels, EveryAlignmentAndLength) {
    std::mt19937 random(61);
    Bytes text = generateUtf8(random, 140, true);
    std::vector<QVChar> values;
    while (values.size() < 140) values.push_back(random() % 4 ? random() % 0x80 : random() % 0x110000);
    for (size_t align = 0; align < 64; ++align) {
        for (size_t n = 0; n <= 140; ++n) {
            Placed src(text.data(), n, align);
            for (uint64_t cap : {uint64_t(4 * n), uint64_t(2 * n + 1)}) {
                for (const Variant &v : variants()) {
                    for (bool bigEndian : {true, false}) {
                        Result plain = runDriver(false, true, src.data(), n, cap, UTF8_UTF32,
                                                 bigEndian ? COPY_UTF32 : COPY_UTF32_SWAP);
                        Loop loop = loopOf(*v.kernels, true, bigEndian);
                        Result vec = run(
                            cap, [&](uint8_t *d, uint64_t *w) { return loop(src.data(), n, d, cap, w); },
                            (align + 1) % 64);
                        ASSERT_TRUE(sameAfterOffset(vec, plain, (align + 1) % 64))
                            << v.name << " to UTF-32 n=" << n << " align=" << align;
                    }
                }
            }
            Bytes units = unitsAsBytes(std::vector<QVChar>(values.begin(), values.begin() + n), align % 2);
            Placed unitSrc(units.data(), units.size(), align);
            OmbrixUtfReader read = align % 2 ? COPY_UTF32b : COPY_UTF32b_SWAP;
            for (uint64_t cap : {uint64_t(4 * n), uint64_t(n + 1)}) {
                Result plain = runDriver(false, false, unitSrc.data(), units.size(), cap, read, UTF32_UTF8);
                for (const Variant &v : variants()) {
                    Loop loop = loopOf(*v.kernels, false, align % 2);
                    Result vec = run(
                        cap, [&](uint8_t *d, uint64_t *w) { return loop(unitSrc.data(), units.size(), d, cap, w); },
                        (align + 1) % 64);
                    ASSERT_TRUE(sameAfterOffset(vec, plain, (align + 1) % 64))
                        << v.name << " to UTF-8 n=" << n << " align=" << align;
                }
            }
        }
    }
}

// The UTF-8 length of QVChar strings at every count and alignment, units of
// every length class including the top of the unsigned range.
TEST(UtfKernels, Utf8LengthOfMatchesTheUnitSum) {
    std::mt19937 random(53);
    const QVChar classes[] = {0, 0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    std::vector<QVChar> storage(300 + 16);
    for (auto &u : storage) u = random() % 2 ? classes[random() % 10] : QVChar(random());
    for (size_t align = 0; align < 16; ++align) {
        for (size_t n = 0; n <= 300; ++n) {
            const QVChar *s = storage.data() + align;
            uint64_t expected = 0;
            for (size_t i = 0; i < n; ++i) expected += omb::utf8Length(s[i]);
            for (const Variant &v : variants())
                ASSERT_EQ(v.kernels->utf8LengthOf(s, n), expected) << v.name << " n=" << n << " align=" << align;
            ASSERT_EQ(GET_UTF8_LEN_FROM_QVCHAR(s, int64_t(n)), expected);
        }
    }
}

// Round trip of long valid text through the exported drivers, crossing
// many vector blocks in both directions.
TEST(UtfKernels, ValidTextSurvivesTheRoundTrip) {
    std::mt19937 random(59);
    Bytes text = generateUtf8(random, 20000, false);
    for (OmbrixUtfWriter write : {COPY_UTF32, COPY_UTF32_SWAP}) {
        bool bigEndian = write == COPY_UTF32;
        Bytes units(4 * text.size());
        uint64_t written = 0;
        ASSERT_EQ(ConvertToUTF32(text.data(), text.size(), units.data(), units.size(), &written, UTF8_UTF32, write), 0u);
        ASSERT_EQ(written % 4, 0u);
        std::vector<QVChar> values(written / 4);
        for (size_t i = 0; i < values.size(); ++i)
            values[i] = bigEndian ? omb::load32be(&units[4 * i]) : omb::load32le(&units[4 * i]);
        EXPECT_EQ(GET_UTF8_LEN_FROM_QVCHAR(values.data(), int64_t(values.size())), text.size());
        Bytes back(text.size());
        uint64_t backWritten = 0;
        ASSERT_EQ(ConvertFromUTF32(units.data(), written, back.data(), back.size(), &backWritten, UTF32_UTF8,
                                   bigEndian ? COPY_UTF32b : COPY_UTF32b_SWAP), 0u);
        EXPECT_EQ(backWritten, text.size());
        EXPECT_EQ(back, text);
    }
}

}  // namespace
