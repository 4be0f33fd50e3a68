// Chooses, once per process, which kernel record the exported routines use.
#include "kernels.h"

namespace omb {

// Runs while the library loads too, before any exported routine can be
// called; __builtin_cpu_init makes the processor model ready that early.
bool wideKernelsSupported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

// Read inline by textKernels(): a short call pays no second call for it.
const TextKernels *const chosenKernels = wideKernelsSupported() ? &wideKernels : &baselineKernels;

}  // namespace omb
