// The qv and yb primitives through their exported names.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

#include "core/container.h"
#include "core/host_calls.h"
#include "host_fixture.h"
#include "ombrix/container.h"
#include "ombrix/primitives.h"

namespace {

TEST(Lengths, NullAndEmptyAreZero) {
    EXPECT_EQ(ybStrLen(nullptr), 0u);
    EXPECT_EQ(ybStrLen(""), 0u);
    EXPECT_EQ(ybStrLen("ombrix"), 6u);
    const QVChar empty[] = {0}, text[] = {0x1F600, 'a', 0};
    EXPECT_EQ(ybStrTLen(nullptr), 0u);
    EXPECT_EQ(ybStrTLen(empty), 0u);
    EXPECT_EQ(ybStrTLen(text), 2u);
}

TEST(StringCopies, NullSourceEmptiesAndNullDestinationIsIgnored) {
    char dst[8] = "xxxxxxx";
    ybStrCpy(nullptr, dst);
    EXPECT_EQ(dst[0], '\0');
    EXPECT_EQ(dst[1], 'x') << "a single NUL";
    ybStrCpy("abc", dst);
    EXPECT_STREQ(dst, "abc");
    ybStrCpy("abc", nullptr);

    QVChar units[4] = {9, 9, 9, 9};
    const QVChar src[] = {0x100, 0x200, 0};
    ybStrTCpy(nullptr, units);
    EXPECT_EQ(units[0], 0u);
    EXPECT_EQ(units[1], 9u);
    ybStrTCpy(src, units);
    EXPECT_EQ(units[1], 0x200u);
    EXPECT_EQ(units[2], 0u);
    EXPECT_EQ(units[3], 9u);
    ybStrTCpy(src, nullptr);
}

TEST(AsciiCase, OnlyAsciiLettersChangeAndNulDoesNotStop) {
    char bytes[] = {0x61, 0x7A, 0x7B, static_cast<char>(0xE1), 0, 0x60, 0x6D};
    ybStrUp(bytes, sizeof bytes);
    const char up[] = {0x41, 0x5A, 0x7B, static_cast<char>(0xE1), 0, 0x60, 0x4D};
    EXPECT_EQ(std::memcmp(bytes, up, sizeof up), 0);
    char more[] = {0x40, 0x41, 0x5A, 0x5B, static_cast<char>(0xC1)};
    ybStrLow(more, sizeof more);
    const char low[] = {0x40, 0x61, 0x7A, 0x5B, static_cast<char>(0xC1)};
    EXPECT_EQ(std::memcmp(more, low, sizeof low), 0);
}

TEST(Scans, IndexOfFirstMatchOrMinusOne) {
    unsigned char bytes[100];
    std::memset(bytes, 'a', sizeof bytes);
    EXPECT_EQ(ybMemScan(bytes, 100, 'b'), -1);
    EXPECT_EQ(qvmemchr(bytes, 'b', 100), nullptr);
    bytes[99] = 'b';
    EXPECT_EQ(ybMemScan(bytes, 100, 'b'), 99);
    EXPECT_EQ(qvmemchr(bytes, 0x162, 100), bytes + 99) << "only the low 8 bits of c";
    EXPECT_EQ(ybMemScan(bytes, 0, 'a'), -1);
    EXPECT_EQ(ybMemNScan(bytes, 100, 'a'), 99);
    EXPECT_EQ(ybMemNScan(bytes, 99, 'a'), -1);
    EXPECT_EQ(ybMemNScan(bytes, 0, 'x'), -1);
    const QVChar units[] = {7, 7, 8};
    EXPECT_EQ(ybMemTNScan(units, 3, 7), 2);
    EXPECT_EQ(ybMemTNScan(units, 2, 7), -1);
}

TEST(Scans, AllEqualTests) {
    const unsigned char zeros[5] = {};
    EXPECT_EQ(ybMemNot(0, zeros, 0), 1);
    EXPECT_EQ(ybMemNot(0, zeros, 5), 1);
    EXPECT_EQ(ybMemNot(1, zeros, 5), 0);
    const QVChar blanks[] = {0x20, 0x20, 0x21};
    EXPECT_EQ(ybMemTNot(0x20, blanks, 2), 1);
    EXPECT_EQ(ybMemTNot(0x20, blanks, 3), 0);
    EXPECT_EQ(ybMemTNot(0x20, blanks, 0), 1);
}

TEST(Fills, BytesAndUnitsWithTheValueFirst) {
    unsigned char bytes[6] = {1, 1, 1, 1, 1, 1};
    ybMemSet(bytes + 1, 0xAB, 4);
    const unsigned char expected[] = {1, 0xAB, 0xAB, 0xAB, 0xAB, 1};
    EXPECT_EQ(std::memcmp(bytes, expected, 6), 0);
    EXPECT_EQ(qvmemset(bytes, 0x1CD, 2), bytes);
    EXPECT_EQ(bytes[1], 0xCD);
    QVChar units[4] = {};
    ybMemTSet(units, 0x10FFFF, 3);
    EXPECT_EQ(units[2], 0x10FFFFu);
    EXPECT_EQ(units[3], 0u);
}

TEST(Compares, UnsignedBytesAndWrappingUnits) {
    const unsigned char a[] = {0x01}, b[] = {0xFF};
    EXPECT_EQ(ybMemCmp(a, b, 1), -1);
    EXPECT_EQ(ybMemCmp(b, a, 1), 1);
    EXPECT_EQ(ybMemCmp(a, b, 0), 0);
    EXPECT_LT(qvmemcmp(a, b, 1), 0);
    const QVChar x[] = {'a', 0x10FFFF}, y[] = {'a', 0x41};
    EXPECT_EQ(ybWMemCmp(x, y, 2), 1);
    EXPECT_EQ(ybWMemCmp(y, x, 2), -1);
    EXPECT_EQ(ybWMemCmp(x, y, 1), 0);
    // The wrapping difference decides: 0x80000001 - 1 is negative.
    const QVChar big[] = {0x80000001u}, one[] = {1};
    EXPECT_EQ(ybWMemCmp(big, one, 1), -1);
}

std::vector<unsigned char> counting(size_t n) {
    std::vector<unsigned char> v(n);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

TEST(Copies, ForwardCopyRepeatsThePatternWhenTheDestinationOverlapsAbove) {
    auto buffer = counting(16);
    EXPECT_EQ(ybMemCpy(buffer.data(), buffer.data() + 1, 10), buffer.data() + 1);
    for (int i = 0; i <= 10; ++i) EXPECT_EQ(buffer[i], 0) << i;
    EXPECT_EQ(buffer[11], 11);
    // Period three: the first three bytes repeat.
    buffer = counting(300);
    ybMemCpy(buffer.data(), buffer.data() + 3, 200);
    for (int i = 0; i < 203; ++i) ASSERT_EQ(buffer[i], i % 3) << i;
    EXPECT_EQ(buffer[203], 203);
}

TEST(Copies, ForwardCopyIsPlainOtherwise) {
    for (size_t n : {0u, 1u, 96u, 97u, 250u}) {
        auto src = counting(n), dst = std::vector<unsigned char>(n + 1, 0xEE);
        ybMemCpy(src.data(), dst.data(), n);
        EXPECT_TRUE(std::equal(src.begin(), src.end(), dst.begin())) << n;
        EXPECT_EQ(dst[n], 0xEE);
    }
    auto buffer = counting(300);
    ybMemCpy(buffer.data() + 5, buffer.data(), 200);  // below the source: correct
    for (int i = 0; i < 200; ++i) ASSERT_EQ(buffer[i], i + 5);
}

TEST(Copies, SafeCopyEqualsMemmoveForEveryOverlap) {
    for (size_t n : {1u, 2u, 10u, 96u, 97u, 200u}) {
        for (size_t shift = 0; shift <= n + 2; ++shift) {
            for (int up = 0; up < 2; ++up) {
                auto expected = counting(2 * n + 8), actual = expected;
                size_t from = up ? 0 : shift, to = up ? shift : 0;
                std::memmove(expected.data() + to, expected.data() + from, n);
                ybMemSCpy(actual.data() + from, actual.data() + to, n);
                ASSERT_EQ(actual, expected) << "n=" << n << " from " << from << " to " << to;
            }
        }
    }
}

TEST(Missing, NanMeansMissing) {
    const double values[] = {1.0, std::numeric_limits<double>::quiet_NaN()};
    EXPECT_EQ(ybMissArray(values, 2), 1);
    EXPECT_EQ(ybMissArray(values, 1), 0);
    EXPECT_EQ(ybMissArray(values, 0), 0);
    const double inf[] = {std::numeric_limits<double>::infinity()};
    EXPECT_EQ(ybMissArray(inf, 1), 0);
}

TEST(Misc, UnsupportedAndRuntimeCopies) {
    EXPECT_EQ(ybUnsup(), OMBRIX_E_UNSUPPORTED);
    char buffer[8] = "abcdef";
    EXPECT_EQ(qvmemmove(buffer + 1, buffer, 5), buffer + 1);
    EXPECT_STREQ(buffer, "aabcde");
    char out[4] = {};
    EXPECT_EQ(qvmemcpy(out, "xyz", 3), out);
    EXPECT_STREQ(out, "xyz");
}

class Duplicate : public HostTest {};

TEST_F(Duplicate, CopiesIntoThePoolOrReturnsNull) {
    QVWord *pool = omb::hostCreatePool(host, omb::poolParms, nullptr, "dup");
    ASSERT_NE(pool, nullptr);
    void *copy = ybMemDup("hello", 6, pool);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(static_cast<char *>(copy), "hello");
    EXPECT_EQ(poolStats(pool).liveBytes, 6u);
    EXPECT_EQ(ybMemDup(nullptr, 6, pool), nullptr);
    EXPECT_EQ(ybMemDup("x", 1, nullptr), nullptr);
    qvhostFailAllocation(host, 1);
    EXPECT_EQ(ybMemDup("x", 1, pool), nullptr);
    omb::poolDestroy(pool);
}

}  // namespace
