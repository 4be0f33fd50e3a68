// The byte and unit kernels, written once for both vector variants.
//
// Included by kernels_baseline.cpp and kernels_wide.cpp only, each after
// defining OMB_TARGET (the function attribute its vectors need) and a
// policy `Width` with:
//   Vec, kBytes, kAllBytes       the vector type, its bytes, and a mask with
//                                one bit for each of them;
//   load(p), store(p, v), zero()
//   bytes(c), units(c)           c in every byte or every 32-bit lane;
//   signs(v)                     bit i set when byte i has its top bit;
//   eq8, gt8, eq32, gt32         lane-wise compares, greater as signed;
//   both, either, flip, add8, sub32
//                                and, or, xor, 8-bit add, 32-bit subtract.
// Everything here has internal linkage, so each file gets its own copy,
// compiled for its own processor. Each routine ends with the scalar step
// for the bytes after its last full vector.

namespace omb {
namespace {

using Vec = Width::Vec;
constexpr uint64_t kVectorBytes = Width::kBytes;
constexpr uint64_t kVectorUnits = Width::kBytes / 4;

// Adds `delta` to every byte in [low, high]; bytes of 0x80 and above compare
// as negative and so never match.
OMB_TARGET void shiftRange(char *buffer, uint64_t n, char low, char high, char delta) {
    const Vec below = Width::bytes(char(low - 1)), above = Width::bytes(char(high + 1));
    const Vec step = Width::bytes(delta);
    uint64_t i = 0;
    for (; i + kVectorBytes <= n; i += kVectorBytes) {
        Vec v = Width::load(buffer + i);
        Vec in = Width::both(Width::gt8(v, below), Width::gt8(above, v));
        Width::store(buffer + i, Width::add8(v, Width::both(in, step)));
    }
    for (; i < n; ++i)
        if (buffer[i] >= low && buffer[i] <= high) buffer[i] = char(buffer[i] + delta);
}

OMB_TARGET void strUp(char *buffer, uint64_t n) { shiftRange(buffer, n, 'a', 'z', -0x20); }
OMB_TARGET void strLow(char *buffer, uint64_t n) { shiftRange(buffer, n, 'A', 'Z', 0x20); }

OMB_TARGET void memSet(void *buffer, uint8_t c, uint64_t n) {
    auto *p = static_cast<unsigned char *>(buffer);
    const Vec fill = Width::bytes(char(c));
    uint64_t i = 0;
    for (; i + kVectorBytes <= n; i += kVectorBytes) Width::store(p + i, fill);
    for (; i < n; ++i) p[i] = c;
}

OMB_TARGET void memTSet(QVChar *buffer, QVChar c, uint64_t n) {
    const Vec fill = Width::units(c);
    uint64_t i = 0;
    for (; i + kVectorUnits <= n; i += kVectorUnits) Width::store(buffer + i, fill);
    for (; i < n; ++i) buffer[i] = c;
}

// The index of the first byte that equals (or, with `equal` false, differs
// from) c. Four vectors a step while no decision falls: one test for all of
// them.
OMB_TARGET int64_t scanBytes(const void *buffer, uint64_t n, uint8_t c, bool equal) {
    if (!buffer) return -1;
    auto *p = static_cast<const unsigned char *>(buffer);
    const Vec needle = Width::bytes(char(c));
    auto same = [&](uint64_t at) OMB_TARGET { return Width::eq8(Width::load(p + at), needle); };
    uint64_t i = 0;
    for (; i + 4 * kVectorBytes <= n; i += 4 * kVectorBytes) {
        Vec a = same(i), b = same(i + kVectorBytes), c2 = same(i + 2 * kVectorBytes),
            d = same(i + 3 * kVectorBytes);
        Vec any = equal ? Width::either(Width::either(a, b), Width::either(c2, d))
                        : Width::both(Width::both(a, b), Width::both(c2, d));
        uint32_t decided = Width::signs(any);
        if (equal ? decided != 0 : decided != Width::kAllBytes) break;
    }
    for (; i + kVectorBytes <= n; i += kVectorBytes) {
        uint32_t mask = Width::signs(same(i));
        if (!equal) mask ^= Width::kAllBytes;
        if (mask) return int64_t(i + uint64_t(__builtin_ctz(mask)));
    }
    for (; i < n; ++i)
        if ((p[i] == c) == equal) return int64_t(i);
    return -1;
}

OMB_TARGET int64_t memScan(const void *buffer, uint64_t n, uint8_t c) {
    return scanBytes(buffer, n, c, true);
}
OMB_TARGET int64_t memNScan(const void *buffer, uint64_t n, uint8_t c) {
    return scanBytes(buffer, n, c, false);
}

OMB_TARGET int64_t memTNScan(const QVChar *buffer, uint64_t n, QVChar c) {
    if (!buffer) return -1;
    const Vec needle = Width::units(c);
    uint64_t i = 0;
    for (; i + kVectorUnits <= n; i += kVectorUnits) {
        uint32_t differ = Width::signs(Width::eq32(Width::load(buffer + i), needle)) ^ Width::kAllBytes;
        if (differ) return int64_t(i + uint64_t(__builtin_ctz(differ)) / 4);
    }
    for (; i < n; ++i)
        if (buffer[i] != c) return int64_t(i);
    return -1;
}

// Two vectors a step while the text stays ASCII (OR-ed, so a long ASCII run
// costs one test per pair), then one vector at a time: the sign bits of a
// vector are its non-ASCII bytes.
OMB_TARGET uint64_t asciiPrefix(const unsigned char *p, uint64_t n) {
    uint64_t i = 0;
    for (; i + 2 * kVectorBytes <= n; i += 2 * kVectorBytes)
        if (Width::signs(Width::either(Width::load(p + i), Width::load(p + i + kVectorBytes)))) break;
    for (; i + kVectorBytes <= n; i += kVectorBytes)
        if (uint32_t high = Width::signs(Width::load(p + i))) return i + uint64_t(__builtin_ctz(high));
    while (i < n && p[i] < 0x80) ++i;
    return i;
}

// The bookkeeping for one checked vector: `leads` has a bit per lead byte,
// `spills` tells that the last character runs past the vector. Counts the
// vector's characters into *count and returns the bytes stepped over, which
// end before a spilling character; 0 ends the run (the spilling character
// is the vector's first).
inline uint64_t stepOverCheckedVector(uint32_t leads, bool spills, uint64_t *count) {
    if (!spills) {
        *count += uint64_t(__builtin_popcount(leads));
        return kVectorBytes;
    }
    int last = 31 - __builtin_clz(leads);
    *count += uint64_t(__builtin_popcount(leads) - 1);
    return uint64_t(last);
}

// A vector a step; bit i of each mask is byte i. Bytes compare as signed,
// so 0x80..0xFF are negative: "at least C0" is "above -65 and negative". An
// ASCII vector often starts an ASCII run, which goes two vectors a test.
OMB_TARGET uint64_t wellFormedRun(const unsigned char *p, uint64_t n, uint64_t *chars) {
    uint64_t i = 0, count = 0;
    while (i + kVectorBytes <= n) {
        Vec v = Width::load(p + i);
        uint32_t high = Width::signs(v);
        if (!high) {
            count += kVectorBytes;
            i += kVectorBytes;
            while (i + 2 * kVectorBytes <= n &&
                   !Width::signs(Width::either(Width::load(p + i), Width::load(p + i + kVectorBytes)))) {
                count += 2 * kVectorBytes;
                i += 2 * kVectorBytes;
            }
            continue;
        }
        auto atLeast = [&](int threshold) OMB_TARGET {
            return Width::signs(Width::gt8(v, Width::bytes(char(threshold)))) & high;
        };
        uint32_t lead2 = atLeast(-65), lead3 = atLeast(-33), lead4 = atLeast(-17);
        uint32_t continuation = high & ~lead2;
        if (atLeast(-9) || (continuation & 1)) break;
        uint64_t expected = (uint64_t{lead2} << 1) | (uint64_t{lead3} << 2) | (uint64_t{lead4} << 3);
        if ((expected & Width::kAllBytes) != continuation) break;
        uint32_t leads = ~continuation & Width::kAllBytes;
        uint64_t stepped = stepOverCheckedVector(leads, (expected >> kVectorBytes) != 0, &count);
        if (stepped == 0) break;
        i += stepped;
    }
    *chars += count;
    return i;
}

}  // namespace
}  // namespace omb
