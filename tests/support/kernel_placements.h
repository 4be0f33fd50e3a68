// The text kernel variants this processor runs and the placements the
// kernel tests try each one on: every length up to 300 at every alignment
// within a 64-byte line. Byte routines are tried at every alignment; unit
// routines at every alignment a QVChar may have.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
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
