// The UTF conversion loops, written once for both vector variants.
//
// Included by utf_kernels_baseline.cpp and utf_kernels_wide.cpp only, each
// after defining OMB_UTF_TARGET (the function attribute its vectors need)
// and a policy `Block` with:
//   kWidth                      bytes on the UTF-8 side of one block;
//   highBytes(p)                bit i set when byte p[i] is 0x80 or above;
//   widen<be>(p, d)             kWidth ASCII bytes to kWidth 4-byte units;
//   narrow<be>(p, d)            kWidth 4-byte units to kWidth bytes when all
//                               are below 0x80, else false with d untouched;
//   utf8LengthOf(s, n)          the UTF-8 length of n units.
// Everything here has internal linkage, so each file gets its own copy,
// compiled for its own processor.
//
// Every vector step stands for a run of characters that the plain driver
// would take one by one with the same result: a block is taken whole only
// when all of it is ASCII and both the input left and the room left hold
// it, and nothing is stored outside what the plain driver stores.

namespace omb {
namespace {

template <bool bigEndian>
OMB_UTF_TARGET inline void storeUnit(uint8_t *d, QVChar c) {
    if (bigEndian) store32be(d, c); else store32le(d, c);
}

template <bool bigEndian>
OMB_UTF_TARGET inline QVChar loadUnit(const uint8_t *s) {
    return bigEndian ? load32be(s) : load32le(s);
}

// UTF-8 to UTF-32 units. COPY_UTF32 always finds 4 bytes at a unit position
// below cap / 4, so the remaining capacity never decides anything.
template <bool bigEndian>
OMB_UTF_TARGET QVStatus utf8ToUtf32Loop(const uint8_t *src, uint64_t n, uint8_t *dst,
                                        uint64_t cap, uint64_t *written) {
    constexpr uint64_t W = Block::kWidth;
    uint64_t units = 0, pos = 0;
    const uint64_t room = cap / 4;
    QVStatus status = 0;
    while (pos < n && units < room) {
        uint64_t blockEnd = pos + 1;
        if (n - pos >= W && room - units >= W) {
            uint64_t high = Block::highBytes(src + pos);
            if (high == 0) {
                Block::template widen<bigEndian>(src + pos, dst + 4 * units);
                pos += W;
                units += W;
                continue;
            }
            // Characters go one by one up to the end of this block before
            // the next one is tried, so mixed text pays one test per block.
            blockEnd = pos + W;
        }
        do {
            uint8_t lead = src[pos];
            if (lead < 0x80) {
                storeUnit<bigEndian>(dst + 4 * units, lead);
                ++pos;
            } else {
                QVChar c;
                uint64_t used;
                status = readUtf8(src + pos, n - pos, &c, &used);
                if (status != 0) goto done;
                storeUnit<bigEndian>(dst + 4 * units, c);
                pos += used;
            }
            ++units;
        } while (pos < blockEnd && pos < n && units < room);
    }
done:
    if (written) *written = 4 * units;
    return status;
}

// UTF-32 units to UTF-8.
template <bool bigEndian>
OMB_UTF_TARGET QVStatus utf32ToUtf8Loop(const uint8_t *src, uint64_t n, uint8_t *dst,
                                        uint64_t cap, uint64_t *written) {
    constexpr uint64_t W = Block::kWidth;
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
        uint64_t blockEnd = i + W < count ? i + W : count;
        do {
            QVChar c = loadUnit<bigEndian>(src + 4 * i);
            if (c < 0x80) {
                dst[out++] = uint8_t(c);
            } else {
                uint64_t used;
                status = writeUtf8(c, dst + out, cap - out, &used);
                if (status != 0) goto done;
                out += used;
            }
            ++i;
        } while (i < blockEnd && out < cap);
    }
done:
    if (written) *written = out;
    return status;
}

OMB_UTF_TARGET QVStatus utf8ToUtf32Be(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                                      uint64_t *written) {
    return utf8ToUtf32Loop<true>(src, n, dst, cap, written);
}
OMB_UTF_TARGET QVStatus utf8ToUtf32Le(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                                      uint64_t *written) {
    return utf8ToUtf32Loop<false>(src, n, dst, cap, written);
}
OMB_UTF_TARGET QVStatus utf32BeToUtf8(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                                      uint64_t *written) {
    return utf32ToUtf8Loop<true>(src, n, dst, cap, written);
}
OMB_UTF_TARGET QVStatus utf32LeToUtf8(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                                      uint64_t *written) {
    return utf32ToUtf8Loop<false>(src, n, dst, cap, written);
}

constexpr UtfKernels kLoops = {utf8ToUtf32Be, utf8ToUtf32Le, utf32BeToUtf8, utf32LeToUtf8,
                               Block::utf8LengthOf};

}  // namespace
}  // namespace omb
