// Chooses, once per process, which variant of the vector routines runs.
#include "kernels.h"
#include "utf.h"

namespace omb {
namespace {

// Both run while the library loads, before any exported routine can be
// called; __builtin_cpu_init makes the processor model ready that early.
const TextKernels *chooseKernels() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? &wideKernels : &baselineKernels;
}

const UtfKernels *chooseUtfKernels() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? &utfWideKernels : &utfBaselineKernels;
}

const UtfKernels *const chosenUtfKernels = chooseUtfKernels();

}  // namespace

// Read inline by textKernels(): a short call pays no second call for it.
const TextKernels *const chosenKernels = chooseKernels();

const UtfKernels &utfKernels() { return *chosenUtfKernels; }

bool wideKernelsSupported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

}  // namespace omb
