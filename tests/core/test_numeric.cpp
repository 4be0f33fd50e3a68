// i32div, intmdiv and log2.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "ombrix/messages.h"

namespace {

TEST(Numeric, DivisionsTruncateTowardZeroAndI32divPacksQuotientLow) {
    const struct {
        int32_t n, d, q, r;
    } cases[] = {{7, -2, -3, 1},  {-7, 2, -3, -1}, {-7, -2, 3, -1}, {7, 2, 3, 1},
                 {0, 5, 0, 0},    {5, 7, 0, 5},    {INT32_MIN, 1, INT32_MIN, 0},
                 {INT32_MAX, -1, -INT32_MAX, 0}};
    for (const auto &c : cases) {
        auto packed = static_cast<uint64_t>(i32div(c.n, c.d));
        EXPECT_EQ(static_cast<int32_t>(static_cast<uint32_t>(packed)), c.q) << c.n << " / " << c.d;
        EXPECT_EQ(static_cast<int32_t>(static_cast<uint32_t>(packed >> 32)), c.r) << c.n << " % " << c.d;
        EXPECT_EQ(intmdiv(c.n, c.d), c.q) << c.n << " / " << c.d;
    }
    EXPECT_EQ(intmdiv(INT64_MAX, 3), 3074457345618258602);
    EXPECT_EQ(intmdiv(INT64_MIN, 2), INT64_MIN / 2);
}

// Exact on powers of two, the natural logarithm scaled elsewhere.
TEST(Numeric, Log2) {
    auto sameBits = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    for (int e : {3, 0, -2, 1000, -1074}) EXPECT_TRUE(sameBits(log2(std::ldexp(1.0, e)), e)) << e;
    for (double x : {10.0, 3.0, 0.1, 1e300, 12345.678}) {
        volatile double scaled = std::log(x) * 1.4426950408889634;
        EXPECT_TRUE(sameBits(log2(x), scaled)) << x;
    }
    EXPECT_TRUE(std::isnan(log2(-1.0)));
}

}  // namespace
