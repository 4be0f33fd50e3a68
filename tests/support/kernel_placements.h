// The text kernel variants this processor runs and the placements the
// kernel tests try each one on: every length up to 300 at every alignment
// within a 64-byte line. Byte routines are tried at every alignment; unit
// routines at every alignment a QVChar may have. Conversions are compared
// route against route on every prefix and capacity, their source placed at
// the end of a heap block.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <vector>

#include "text/kernels.h"

constexpr size_t kMaxLength = 300;
constexpr size_t kAlignments = 64;
// Bytes past the end of the range a routine is given; they must survive.
constexpr size_t kGuard = 64;

// Aligned to 64 so that an offset sets the alignment exactly; room for
// kMaxLength units at any alignment, then the guard.
struct Arena {
    alignas(64) unsigned char bytes[kAlignments + kMaxLength * 4 + kGuard];
};

inline std::vector<const omb::TextKernels *> variants() {
    std::vector<const omb::TextKernels *> v{&omb::baselineKernels};
    if (omb::wideKernelsSupported()) v.push_back(&omb::wideKernels);
    return v;
}

inline const char *nameOf(const omb::TextKernels *k) {
    return k == &omb::wideKernels ? "wide" : "baseline";
}

// Calls `check(k, align, n)` for each variant, each alignment that is a
// multiple of `step` and each length, up to the first fatal failure.
template <class Check>
void forEachPlacement(size_t step, Check check) {
    for (auto *k : variants())
        for (size_t align = 0; align < kAlignments; align += step)
            for (size_t n = 0; n <= kMaxLength; ++n) {
                check(k, align, n);
                if (::testing::Test::HasFatalFailure()) return;
            }
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

using Bytes = std::vector<uint8_t>;
using Convert = std::function<QVStatus(const uint8_t *, uint64_t, uint8_t *, uint64_t, uint64_t *)>;

// The source `align` bytes past a 64-byte boundary, at the very end of its
// heap block, so that AddressSanitizer reports a read past it.
struct Placed {
    Placed(const Bytes &src, size_t n, size_t align)
        : block(static_cast<uint8_t *>(::operator new(align + n, std::align_val_t{64}))), data(block + align) {
        std::copy(src.begin(), src.begin() + n, data);
    }
    ~Placed() { ::operator delete(block, std::align_val_t{64}); }
    uint8_t *block, *data;
};

// Status, written count and the whole buffer: `offset` bytes before the
// destination and a guard after it start as 0xA5.
inline Bytes outcome(const Convert &convert, const uint8_t *src, uint64_t n, uint64_t cap, size_t offset) {
    Bytes out(offset + cap + 40 + 12, 0xA5);
    uint64_t written = 0xDEAD;
    QVStatus status = convert(src, n, out.data() + offset, cap, &written);
    std::memcpy(out.data() + out.size() - 12, &status, 4);
    std::memcpy(out.data() + out.size() - 8, &written, 8);
    return out;
}

// Every prefix of `text` into every capacity up to all of it and a little
// more (past 16 in steps of `step`), through `routes` against `plain`.
inline void compareRoutes(const Bytes &text, size_t align, const Convert &plain, const std::vector<Convert> &routes,
                   uint64_t perByte, uint64_t step = 1) {
    for (size_t n = 0; n <= text.size(); ++n) {
        Placed src(text, n, align);
        size_t offset = (align + 1) % 64;
        for (uint64_t cap = 0; cap <= perByte * n + 8; cap += cap < 16 ? 1 : step) {
            Bytes expected = outcome(plain, src.data, n, cap, offset);
            for (size_t r = 0; r < routes.size(); ++r)
                ASSERT_EQ(outcome(routes[r], src.data, n, cap, offset), expected)
                    << "route " << r << " n=" << n << " cap=" << cap << " align=" << align;
        }
    }
}
