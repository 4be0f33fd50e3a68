// i32div, intmdiv and log2.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "ombrix/messages.h"

namespace {

struct Split {
    int32_t quotient, remainder;
};

Split split(int64_t packed) {
    auto bits = static_cast<uint64_t>(packed);
    return {static_cast<int32_t>(static_cast<uint32_t>(bits)),
            static_cast<int32_t>(static_cast<uint32_t>(bits >> 32))};
}

TEST(Numeric, I32divPacksQuotientLowAndRemainderHigh) {
    struct {
        int32_t n, d, q, r;
    } cases[] = {{7, -2, -3, 1},  {-7, 2, -3, -1}, {-7, -2, 3, -1}, {7, 2, 3, 1},
                 {0, 5, 0, 0},    {5, 7, 0, 5},    {INT32_MIN, 1, INT32_MIN, 0},
                 {INT32_MAX, -1, -INT32_MAX, 0}};
    for (auto &c : cases) {
        Split s = split(i32div(c.n, c.d));
        EXPECT_EQ(s.quotient, c.q) << c.n << " / " << c.d;
        EXPECT_EQ(s.remainder, c.r) << c.n << " % " << c.d;
    }
    EXPECT_EQ(static_cast<uint64_t>(i32div(7, -2)), 0x00000001fffffffdull);
}

TEST(Numeric, IntmdivTruncatesTowardZero) {
    EXPECT_EQ(intmdiv(7, 2), 3);
    EXPECT_EQ(intmdiv(-7, 2), -3);
    EXPECT_EQ(intmdiv(7, -2), -3);
    EXPECT_EQ(intmdiv(INT64_MAX, 3), 3074457345618258602);
    EXPECT_EQ(intmdiv(INT64_MIN, 2), INT64_MIN / 2);
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(Numeric, Log2IsExactOnPowersOfTwo) {
    EXPECT_TRUE(sameBits(log2(8.0), 3.0));
    EXPECT_TRUE(sameBits(log2(1.0), 0.0));
    EXPECT_TRUE(sameBits(log2(0.25), -2.0));
    EXPECT_TRUE(sameBits(log2(std::ldexp(1.0, 1000)), 1000.0));
    EXPECT_TRUE(sameBits(log2(std::ldexp(1.0, -1074)), -1074.0)) << "the smallest subnormal";
}

TEST(Numeric, Log2ElsewhereGoesThroughTheNaturalLogarithm) {
    for (double x : {10.0, 3.0, 0.1, 1e300, 12345.678}) {
        volatile double scaled = std::log(x) * 1.4426950408889634;
        EXPECT_TRUE(sameBits(log2(x), scaled)) << x;
    }
    EXPECT_TRUE(std::isnan(log2(-1.0)));
}

}  // namespace
