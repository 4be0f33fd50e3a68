// The UTF conversion loops, written once for both vector variants.
//
// Included by kernels_baseline.cpp and kernels_wide.cpp only, after
// text_loops.h (whose `Width` lane operations and OMB_TARGET they use) and
// a policy `Block` with:
//   widen<be>(p, d)             kBytes ASCII bytes to kBytes 4-byte units;
//   narrow<be>(p, d)            kBytes 4-byte units to kBytes bytes when all
//                               are below 0x80, else false with d untouched;
//   decodeWellFormed<be>(s, leads, d, &taken)
//                               decodeBlock<be, false> of a block for which
//                               wellFormedBeforeLastLead holds.
// A block is one vector of UTF-8 bytes. Everything here has internal
// linkage, so each file gets its own copy, compiled for its own processor.
//
// Every vector step stands for a run of characters that the plain driver
// would take one by one with the same result: a step is taken only when the
// input left and the room left hold all it reads and writes, it ends before
// the first character it cannot take whole, and when the loop ends no byte
// outside the written count differs from what the plain driver leaves.
// Everything else goes one character at a time through readUtf8 and
// writeUtf8.

#include "core/export.h"

namespace omb {
namespace {


template <bool bigEndian>
OMB_TARGET inline void storeUnit(uint8_t *d, QVChar c) {
    if (bigEndian) store32be(d, c); else store32le(d, c);
}

template <bool bigEndian>
OMB_TARGET inline QVChar loadUnit(const uint8_t *s) {
    return bigEndian ? load32be(s) : load32le(s);
}

// Sequence length of a lead byte that valid_1st_utf8 accepts, 0 for one it
// rejects.
struct LeadLengths {
    uint8_t of[256];
    constexpr LeadLengths() : of() {
        for (int b = 0; b < 256; ++b)
            of[b] = utf8rules::valid_1st_utf8(uint8_t(b)) ? utf8rules::bytesFromUTF8(uint8_t(b)) : 0;
    }
};
constexpr LeadLengths kLeadLengths;

// readUtf8 of a character with an accepted lead byte of length len, at
// least four bytes being readable: the payload of all four bytes is
// gathered, then the bytes past the character are shifted out, so that no
// branch depends on the length.
OMB_TARGET inline QVChar decodeWithoutBranches(const uint8_t *s, uint32_t len) {
    uint32_t w = load32be(s);
    QVChar c = ((w >> 24) & utf8rules::utf8_mask[len]) << 18 | (w >> 4 & 0x3F000) | (w >> 2 & 0xFC0) | (w & 0x3F);
    return c >> (6 * (4 - len));
}

// How a code point of a given bit width is written in UTF-8: its length,
// the lead byte's base and how far the payload is shifted for it, and how
// far the prepared trailing bytes are shifted to follow the lead byte.
struct Utf8Form {
    uint8_t length, leadBase, leadShift, trailShift;
};
struct Utf8Forms {
    Utf8Form byBits[33];
    constexpr Utf8Forms() : byBits() {
        constexpr uint8_t leads[5] = {0, 0, 0xC0, 0xE0, 0xF0};
        for (int bits = 0; bits <= 32; ++bits) {
            uint8_t len = bits <= 7 ? 1 : bits <= 11 ? 2 : bits <= 16 ? 3 : 4;
            byBits[bits] = {len, leads[len], uint8_t(6 * (len - 1)), uint8_t(8 * (4 - len))};
        }
    }
};
constexpr Utf8Forms kUtf8Forms;

// writeUtf8 of c as one 4-byte store whose first bytes are the character
// (utf8Length(c) of them, returned); the caller makes sure the bytes past
// it are written over before the loop ends.
OMB_TARGET inline uint32_t encodeWithoutBranches(QVChar c, uint8_t *d) {
    const Utf8Form &form = kUtf8Forms.byBits[32 - __builtin_clz(c | 1)];
    // The three trailing bytes of a four-byte form, last one highest.
    uint32_t trail = (c & 0x3F) << 24 | (c & 0xFC0) << 10 | (c & 0x3F000) >> 4 | 0x80808000u;
    uint32_t lead = uint8_t(form.leadBase + (c >> form.leadShift));
    store32le(d, ((trail >> form.trailShift) & ~0xFFu) | lead);
    return form.length;
}

// What one block holds, one bit per byte (bit i for byte i): bytes of 0x80
// and above, continuation bytes (80-BF), the continuation bytes that the
// lead bytes C2-F4 announce (one after C2-DF, two after E0-EF, three after
// F0-F4; bits past the block dropped), and lead bytes that valid_1st_utf8
// rejects (C0, C1, F5-FF).
struct BlockBytes {
    uint64_t high, continuation, announced, badLead;
};

// As signed bytes: continuation bytes 80-BF are -128..-65, leads C2-DF
// -62..-33, E0-EF -32..-17, F0-F4 -16..-12.
OMB_TARGET inline BlockBytes scanBlock(const uint8_t *p) {
    Vec v = Width::load(p);
    auto from = [&](int low) OMB_TARGET {
        return Width::signs(Width::both(Width::gt8(v, Width::bytes(char(low - 1))),
                                        Width::gt8(Width::bytes(-11), v)));
    };
    uint64_t high = Width::signs(v), continuation = Width::signs(Width::gt8(Width::bytes(-64), v));
    uint64_t two = from(-62), three = from(-32), four = from(-16);
    uint64_t announced = ((two << 1) | (three << 2) | (four << 3)) & Width::kAllBytes;
    return {high, continuation, announced, high & ~continuation & ~two};
}

// The characters of one block that start at a lead byte whose next lead
// byte lies exactly where its length says, stored as units: each is one
// readUtf8 would give the same way, since its bytes are all readable. The
// lead positions come from a bit mask rather than from the previous
// character's length, so the loads of successive characters do not wait on
// each other. Stops before the block's last lead byte (whose length cannot
// be checked here) and, unless `checked` is false because the block's masks
// have shown every length right already, at the first character that is
// not of that shape. `taken` gets the bytes consumed; returns the units
// stored.
template <bool bigEndian, bool checked>
OMB_TARGET inline uint64_t decodeBlock(const uint8_t *s, uint64_t leads, uint8_t *d, uint64_t *taken) {
    uint64_t start = 0, made = 0;
    for (leads &= leads - 1; leads != 0; leads &= leads - 1) {
        uint64_t next = uint64_t(__builtin_ctzll(leads));
        uint32_t len = uint32_t(next - start);
        if (checked && kLeadLengths.of[s[start]] != len) break;
        storeUnit<bigEndian>(d + 4 * made, decodeWithoutBranches(s + start, len));
        ++made;
        start = next;
    }
    *taken = start;
    return made;
}

// True when every character of the block before its last lead byte has a
// valid lead byte followed by exactly the continuation bytes its length
// announces: the continuation bytes the leads announce are the ones there,
// up to and including the last lead's position.
OMB_TARGET inline bool wellFormedBeforeLastLead(const BlockBytes &b, uint64_t leads) {
    uint64_t last = uint64_t(63 - __builtin_clzll(leads));
    uint64_t upToLast = (uint64_t(2) << last) - 1, beforeLast = upToLast >> 1;
    return ((b.announced ^ b.continuation) & upToLast) == 0 && (b.badLead & beforeLast) == 0;
}

// UTF-8 to UTF-32 units. COPY_UTF32 always finds 4 bytes at a unit position
// below cap / 4, so the remaining capacity never decides anything. A block
// is looked at when the input holds it and three bytes more (a character
// decoded near its end reads four bytes) and the room holds as many units
// as it has bytes.
template <bool bigEndian>
OMB_TARGET QVStatus utf8ToUtf32Loop(const uint8_t *src, uint64_t n, uint8_t *dst,
                                        uint64_t cap, uint64_t *written) {
    constexpr uint64_t W = Width::kBytes;
    uint64_t units = 0, pos = 0;
    const uint64_t room = cap / 4;
    QVStatus status = 0;
    while (pos < n && units < room) {
        if (n - pos >= W + 3 && room - units >= W) {
            BlockBytes bytes = scanBlock(src + pos);
            if (bytes.high == 0) {
                Block::template widen<bigEndian>(src + pos, dst + 4 * units);
                pos += W;
                units += W;
                continue;
            }
            uint64_t leads = ~bytes.continuation & Width::kAllBytes;
            if (leads & 1) {
                uint64_t taken;
                uint64_t made = wellFormedBeforeLastLead(bytes, leads)
                    ? Block::template decodeWellFormed<bigEndian>(src + pos, leads, dst + 4 * units, &taken)
                    : decodeBlock<bigEndian, true>(src + pos, leads, dst + 4 * units, &taken);
                pos += taken;
                units += made;
                if (made != 0) continue;
            }
        }
        // One character the way the plain driver takes it.
        QVChar c;
        uint64_t used;
        status = readUtf8(src + pos, n - pos, &c, &used);
        if (status != 0) break;
        storeUnit<bigEndian>(dst + 4 * units, c);
        pos += used;
        ++units;
    }
    if (written) *written = 4 * units;
    return status;
}

// UTF-32 units to UTF-8. Runs of W units go without a check per unit when
// the input holds three units more than the run and the room holds four
// bytes for each unit and twelve more: a run's last store may leave up to
// three spare bytes past the output, and the next three units, which are
// there and fit, write over them before the loop can end.
template <bool bigEndian>
OMB_TARGET QVStatus utf32ToUtf8Loop(const uint8_t *src, uint64_t n, uint8_t *dst,
                                        uint64_t cap, uint64_t *written) {
    constexpr uint64_t W = Width::kBytes;
    const uint64_t count = n / 4;
    uint64_t i = 0, out = 0;
    QVStatus status = 0;
    while (i < count && out < cap) {
        if (count - i >= W && cap - out >= W &&
            Block::template narrow<bigEndian>(src + 4 * i, dst + out)) {
            i += W;
            out += W;
            continue;
        }
        if (count - i >= W + 3 && cap - out >= 4 * W + 12) {
            for (uint64_t end = i + W; i < end; ++i)
                out += encodeWithoutBranches(loadUnit<bigEndian>(src + 4 * i), dst + out);
            continue;
        }
        // One unit the way the plain driver takes it.
        uint64_t used;
        status = writeUtf8(loadUnit<bigEndian>(src + 4 * i), dst + out, cap - out, &used);
        if (status != 0) break;
        out += used;
        ++i;
    }
    if (written) *written = out;
    return status;
}

OMB_TARGET OMBRIX_LINE_START QVStatus utf8ToUtf32Be(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                                      uint64_t *written) {
    return utf8ToUtf32Loop<true>(src, n, dst, cap, written);
}
OMB_TARGET OMBRIX_LINE_START QVStatus utf8ToUtf32Le(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                                      uint64_t *written) {
    return utf8ToUtf32Loop<false>(src, n, dst, cap, written);
}
OMB_TARGET OMBRIX_LINE_START QVStatus utf32BeToUtf8(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                                      uint64_t *written) {
    return utf32ToUtf8Loop<true>(src, n, dst, cap, written);
}
OMB_TARGET OMBRIX_LINE_START QVStatus utf32LeToUtf8(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                                      uint64_t *written) {
    return utf32ToUtf8Loop<false>(src, n, dst, cap, written);
}

// The sum of utf8Length over n units, a vector of units a step: each adds 1
// plus one for every bound it passes, compared as signed after shifting
// both sides by 2^31.
OMB_TARGET uint64_t utf8LengthOf(const QVChar *s, uint64_t n) {
    const Vec flip = Width::units(0x80000000u);
    const Vec b1 = Width::units(0x7Fu ^ 0x80000000u);
    const Vec b2 = Width::units(0x7FFu ^ 0x80000000u);
    const Vec b3 = Width::units(0xFFFFu ^ 0x80000000u);
    uint64_t i = 0, total = n;
    while (i + kVectorUnits <= n) {
        // A lane gains at most 3 a step; 2^28 steps keep it below 2^31.
        constexpr uint64_t kBatch = kVectorUnits << 28;
        uint64_t stop = n - i > kBatch ? i + kBatch : n;
        Vec acc = Width::zero();
        for (; i + kVectorUnits <= stop; i += kVectorUnits) {
            Vec v = Width::flip(Width::load(s + i), flip);
            acc = Width::sub32(acc, Width::gt32(v, b1));
            acc = Width::sub32(acc, Width::gt32(v, b2));
            acc = Width::sub32(acc, Width::gt32(v, b3));
        }
        uint32_t lanes[kVectorUnits];
        Width::store(lanes, acc);
        for (uint32_t lane : lanes) total += lane;
    }
    for (; i < n; ++i) total += utf8Length(s[i]) - 1;
    return total;
}

}  // namespace
}  // namespace omb
