// The routines that come in a wide-vector and a baseline variant.
//
// Both variants give identical results on every length and alignment; they
// differ only in how many bytes they look at per step. Each is one record,
// and which one the exported routines use is decided once, in dispatch.cpp.
#pragma once

#include <cstdint>

#include "ombrix/host.h"

namespace omb {

struct CaseDeltas;

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
    void (*caseMap)(QVChar *s, int64_t n, const CaseDeltas &deltas);
    // The number of bytes before the first one of 0x80 and above (n when
    // all n are ASCII): the UTF-8 length routines skip ASCII runs with it.
    uint64_t (*asciiPrefix)(const unsigned char *p, uint64_t n);
    // Steps over whole vectors of well-formed UTF-8 from p, a character
    // boundary: every lead byte (below 0xF8) followed by exactly the
    // continuation bytes it announces and no other continuation byte.
    // Stops at the first vector that is not, or that has fewer than a
    // vector's bytes left of n; a character running past a vector ends it
    // at that character's lead. Returns the bytes stepped over, always a
    // character boundary, and adds their characters to *chars (the count
    // both ways of stepping agree on over such bytes).
    uint64_t (*wellFormedRun)(const unsigned char *p, uint64_t n, uint64_t *chars);
    // The UTF conversions that take the vector loops (utf_loops.h); each
    // gives the output, written count and status of the plain driver (utf.h).
    // ConvertToUTF32 with UTF8_UTF32 and COPY_UTF32 (BE) or COPY_UTF32_SWAP (LE).
    QVStatus (*utf8ToUtf32Be)(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                              uint64_t *written);
    QVStatus (*utf8ToUtf32Le)(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                              uint64_t *written);
    // ConvertFromUTF32 with UTF32_UTF8 and COPY_UTF32b (BE) or COPY_UTF32b_SWAP (LE).
    QVStatus (*utf32BeToUtf8)(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                              uint64_t *written);
    QVStatus (*utf32LeToUtf8)(const uint8_t *src, uint64_t n, uint8_t *dst, uint64_t cap,
                              uint64_t *written);
    // The sum of utf8Length over count units.
    uint64_t (*utf8LengthOf)(const QVChar *s, uint64_t count);
};

extern const TextKernels baselineKernels;  // 16-byte vectors, every x86-64 processor
extern const TextKernels wideKernels;      // 32-byte vectors, AVX2 processors only

// The variant this process uses, chosen once when the library loads
// (dispatch.cpp). Read inline: a short call pays for no further call.
extern const TextKernels *const chosenKernels;
inline const TextKernels &textKernels() { return *chosenKernels; }
// Whether this processor runs the wide variant.
bool wideKernelsSupported();

// The scalar rule of ybStrUp and ybStrLow.
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
// maps to (c + entries[c]) mod 2^16, the pair lists included, and units
// beyond the BMP never change. One unit of padding lets a four-byte gather
// read the last entry. Derived once, on first use, from the compact tables
// (case.cpp), so the two can never disagree; tests compare every unit.
//
// Below U+0100, where text in Latin script spends most of its units, the
// units that change form a few runs of one delta each (A to Z by +0x20, and
// so on). `latin` lists them, so that the wide kernel can map a vector of
// such units with a compare and an addition per run instead of a gather.
// latinFits is false when there are more than kLatinCaseRuns runs, and the
// kernels then read the entries; unused runs add 0.
constexpr uint32_t kCaseDeltaEntries = 0x10000 + 1;
constexpr int kLatinCaseRuns = 4;

struct CaseRun {
    uint16_t first;
    uint16_t span;   // last - first
    uint16_t delta;  // added mod 2^16
};

struct CaseDeltas {
    uint16_t entries[kCaseDeltaEntries];
    CaseRun latin[kLatinCaseRuns];
    bool latinFits;
};

const CaseDeltas *lowerCaseDeltas();
const CaseDeltas *upperCaseDeltas();

// Fills `latin` and latinFits from the entries below U+0100.
inline void findLatinRuns(CaseDeltas &d) {
    int runs = 0;
    for (uint32_t c = 0; c < 0x100; ++c) {
        uint16_t delta = d.entries[c];
        if (delta == 0) continue;
        CaseRun *last = runs ? &d.latin[runs - 1] : nullptr;
        if (last && last->delta == delta && last->first + last->span + 1u == c) {
            ++last->span;
            continue;
        }
        if (runs == kLatinCaseRuns) {
            d.latinFits = false;
            return;
        }
        d.latin[runs++] = {static_cast<uint16_t>(c), 0, delta};
    }
    for (int r = runs; r < kLatinCaseRuns; ++r) d.latin[r] = {0, 0, 0};
    d.latinFits = true;
}

inline QVChar caseMapDelta(QVChar c, const CaseDeltas &deltas) {
    QVChar delta = c < 0x10000 ? deltas.entries[c] : 0;
    return ((c + delta) & 0xFFFF) | (c & 0xFFFF0000u);
}

}  // namespace omb
