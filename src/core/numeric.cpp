// Three numeric routines the host's own code expects from an extension.
#include <cmath>
#include <cstdlib>

#include "export.h"
#include "ombrix/messages.h"

extern "C" {

OMBRIX_API int64_t i32div(int32_t numerator, int32_t denominator) {
    std::div_t d = std::div(numerator, denominator);
    uint64_t quotient = static_cast<uint32_t>(d.quot);
    uint64_t remainder = static_cast<uint32_t>(d.rem);
    return static_cast<int64_t>(quotient | remainder << 32);
}

OMBRIX_API int64_t intmdiv(int64_t numerator, int64_t denominator) {
    return numerator / denominator;  // C++ division truncates toward zero
}

// Powers of two come out exact, so table sizing never rounds 3.0 to
// 2.9999999999999996; every other x goes through the natural logarithm.
OMBRIX_API double log2(double x) noexcept {
    int exponent = 0;
    double mantissa = std::frexp(x, &exponent);
    if (mantissa == 0.5) return exponent - 1;
    return std::log(x) * 1.4426950408889634;
}

}  // extern "C"
