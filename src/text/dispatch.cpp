// Chooses, once per process, which variant of the vector routines runs.
#include "kernels.h"

namespace omb {
namespace {

// Runs while the library loads, before any exported routine can be called;
// __builtin_cpu_init makes the processor model ready that early.
const TextKernels *chooseKernels() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? &wideKernels : &baselineKernels;
}

}  // namespace

const TextKernels *const chosenKernels = chooseKernels();

bool wideKernelsSupported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

}  // namespace omb
