// The routines that come in a wide-vector and a baseline variant.
//
// Both variants give identical results on every length and alignment; they
// differ only in how many bytes they look at per step. Which one the
// exported routines use is decided once, in dispatch.cpp.
#pragma once

#include <cstdint>

#include "ombrix/host.h"

namespace omb {

struct TextKernels {
    void (*strUp)(char *buffer, uint64_t n);
    void (*strLow)(char *buffer, uint64_t n);
    void (*memSet)(void *buffer, uint8_t c, uint64_t n);
    void (*memTSet)(QVChar *buffer, QVChar c, uint64_t n);
    int64_t (*memScan)(const void *buffer, uint64_t n, uint8_t c);
    int64_t (*memNScan)(const void *buffer, uint64_t n, uint8_t c);
    int64_t (*memTNScan)(const QVChar *buffer, uint64_t n, QVChar c);
    // Adds each BMP unit's block delta: meta gives a block's start in shift,
    // or -1 for a block that does not change.
    void (*classMap)(QVChar *s, int64_t n, const int32_t *meta, const int32_t *shift);
    // Lower- or upper-cases through a table of case deltas (below).
    void (*caseMap)(QVChar *s, int64_t n, const uint16_t *deltas);
    // The number of bytes before the first one of 0x80 and above (n when
    // all n are ASCII): the UTF-8 length routines skip ASCII runs with it.
    uint64_t (*asciiPrefix)(const unsigned char *p, uint64_t n);
};

extern const TextKernels baselineKernels;  // 16-byte vectors, every x86-64 processor
extern const TextKernels wideKernels;      // 32-byte vectors, AVX2 processors only

// The variant this process uses, chosen once when the library loads.
const TextKernels &textKernels();
bool wideKernelsSupported();

// The scalar steps both variants finish with, for the bytes after their last
// full vector.
inline char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 0x20) : c; }
inline char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c; }

inline QVChar classMapUnit(QVChar c, const int32_t *meta, const int32_t *shift) {
    if (c >= 0x10000) return c;
    int32_t block = meta[c >> 7];
    return block < 0 ? c : c + static_cast<QVChar>(shift[block + (c & 127)]);
}

constexpr int8_t kSeePairList = -128;

inline QVChar caseMapUnit(QVChar c, const int16_t *meta, const int8_t *shift,
                          const uint32_t (*pairs)[2]) {
    if (c >= 0x10000) return c;
    int32_t block = meta[c >> 7];
    if (block < 0) return c;
    int8_t delta = shift[block + (c & 127)];
    if (delta != kSeePairList) return c + static_cast<QVChar>(static_cast<int32_t>(delta));
    for (const uint32_t(*pair)[2] = pairs; (*pair)[0]; ++pair)
        if ((*pair)[0] == c) return (*pair)[1];
    return c;
}

// The compact case tables unfolded into one 16-bit delta per BMP unit: c
// maps to (c + deltas[c]) mod 2^16, the pair lists included, and units
// beyond the BMP never change. One unit of padding lets a four-byte gather
// read the last entry. Derived once, on first use, from the compact tables
// (case.cpp), so the two can never disagree; tests compare every unit.
constexpr uint32_t kCaseDeltaEntries = 0x10000 + 1;
const uint16_t *lowerCaseDeltas();
const uint16_t *upperCaseDeltas();

inline QVChar caseMapDelta(QVChar c, const uint16_t *deltas) {
    QVChar delta = c < 0x10000 ? deltas[c] : 0;
    return ((c + delta) & 0xFFFF) | (c & 0xFFFF0000u);
}

inline int64_t scanTail(const unsigned char *p, uint64_t from, uint64_t n, unsigned char c,
                        bool equal) {
    for (uint64_t i = from; i < n; ++i)
        if ((p[i] == c) == equal) return static_cast<int64_t>(i);
    return -1;
}

inline uint64_t asciiPrefixTail(const unsigned char *p, uint64_t from, uint64_t n) {
    uint64_t i = from;
    while (i < n && p[i] < 0x80) ++i;
    return i;
}

}  // namespace omb
