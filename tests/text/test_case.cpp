// The case routines over QVChar strings, with and without the host's text
// services, and the qv and yb primitives through their exported names.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <string>

#include "core/container.h"
#include "core/host_calls.h"
#include "host_fixture.h"
#include "ombrix/case.h"
#include "ombrix/container.h"
#include "ombrix/primitives.h"

namespace {

// Services whose case operations are easy to tell from the static tables:
// they add 0x1000 (lower) or 0x2000 (upper) and note the modes asked for.
struct FakeServices {
    QVWord slots[QV_TEXT_SLOT_COUNT] = {};
    std::u32string modes;
    template <QVChar add>
    static QVChar map(QVWord *self, QVChar c, int32_t mode) {
        reinterpret_cast<FakeServices *>(self)->modes.push_back(char32_t('0' + mode));
        return c + add;
    }
    FakeServices() {
        slots[QV_TEXT_TO_LOWER] = reinterpret_cast<QVWord>(&map<0x1000>);
        slots[QV_TEXT_TO_UPPER] = reinterpret_cast<QVWord>(&map<0x2000>);
    }
};

class CaseRoutines : public HostTest {
  protected:
    using Map = void (*)(QVChar *, int64_t);
    static std::u32string mapped(Map map, std::u32string s) {
        map(reinterpret_cast<QVChar *>(s.data()), int64_t(s.size()));
        return s;
    }
    static const QVChar *q(const std::u32string &s) { return reinterpret_cast<const QVChar *>(s.data()); }
    void use(QVWord *services) { qvhostSetValue(host, QV_HOST_TEXT_SERVICES, services); }
};

TEST_F(CaseRoutines, StaticTablesServicesAndTheReferenceHost) {
    EXPECT_EQ(qvtolower(0x10A0), 0x2D00u) << "the reference host's data is newer than the tables";
    EXPECT_EQ(qvtoupper(0x03C2), 0x03A3u);
    use(nullptr);
    EXPECT_EQ(mapped(qvzstlo, U"ABC\u00C0\u0130\u0181\u1E9E\U00010400\u10A0\u24B6\uFF21"),
              U"abc\u00E0\u0130\u0253\u1E9E\U00010400\u10D0\u24D0\uFF41");
    EXPECT_EQ(mapped(qvzstup, U"abc\u017F\u00DF\u00FF\u03C2\u1F80"), U"ABCS\u00DF\u0178\u03C2\u1F88");
    EXPECT_EQ(qvtoupper(0x01C5), 0x01C4u);
    EXPECT_EQ(qvtolower(0x01C5), 0x01C6u);
    FakeServices fake;
    use(fake.slots);
    EXPECT_EQ(mapped(qvzstlo, U"A\u00C0z"), U"a\u10C0z") << "ASCII never reaches the services";
    EXPECT_EQ(mapped(qvzstup, U"a\u00E0"), U"A\u20E0");
    EXPECT_EQ(qvtolower(0x100), 0x1100u);
    QVChar c = 0xC0;
    qvzstlo(&c, 0);
    qvzstup(&c, -1);
    EXPECT_EQ(c, 0xC0u);
    std::u32string upper = U"ABC\u00C0", lower = U"abc\u00E0", other = U"abd", dotted = U"\u0130", plain = U"i";
    EXPECT_EQ(qvzseqn(q(upper), 4, q(lower), 4), 1);
    EXPECT_EQ(fake.modes, U"111") << "equality keeps to the static tables";
    EXPECT_EQ(qvzseqn(q(upper), 3, q(lower), 4), 0);
    EXPECT_EQ(qvzseqn(q(upper), 3, q(other), 3), 0);
    EXPECT_EQ(qvzseqn(q(dotted), 1, q(plain), 1), 0);
}

TEST_F(CaseRoutines, BlankPaddedComparisonAndCaseClasses) {
    const std::tuple<std::u32string, std::u32string, int32_t> cases[] = {
        {U"abc", U"ABC  ", 1}, {U"ABC  ", U"abc", -1}, {U"abc", U"abd", -2}, {U"abd", U"ABC", 2},
        {U"ab", U"ab x", -2}, {U"ab x", U"ab", 2}, {U"ab", U"ab  ", 0}, {U"", U"", 0}, {U"aB", U"Ab", 1}, {U"[", U"A", -2}};
    for (const auto &[a, b, order] : cases)
        EXPECT_EQ(qvzsncmp(q(a), int64_t(a.size()), q(b), int64_t(b.size())), order);
    std::u32string s = U"\u0131i\u212Ak\u017Fs\u03C2\u03D1\u1E9E\u00DF9 \U00010400";
    EXPECT_EQ(mapped(qvzstmin, s), U"IIKKSS\u03A3\u0398\u00DF\u00DF9 \U00010400");
    EXPECT_EQ(mapped(qvzstmax, s), U"\u0131\u0131\u212A\u212A\u017F\u017F\u03C3\u03F4\u1E9E\u00DF9 \U00010400");
}

TEST(Primitives, StringsAndScans) {
    const QVChar units[] = {0x1F600, 'a', 0}, sevens[] = {7, 7, 8}, blanks[] = {0x20, 0x20, 0x21};
    EXPECT_EQ(ybStrLen(nullptr) + ybStrLen("") + ybStrTLen(nullptr) + ybStrTLen(units + 2), 0u);
    EXPECT_EQ(ybStrLen("ombrix"), 6u);
    EXPECT_EQ(ybStrTLen(units), 2u);
    char dst[8] = "xxxxxxx";
    ybStrCpy(nullptr, dst);
    EXPECT_EQ(std::string(dst, 2), std::string("\0x", 2));
    ybStrCpy("abc", dst);
    EXPECT_STREQ(dst, "abc");
    ybStrCpy("abc", nullptr);
    QVChar out[4] = {9, 9, 9, 9};
    ybStrTCpy(nullptr, out);
    EXPECT_EQ(out[0] + out[1], 9u);
    ybStrTCpy(units, out);
    EXPECT_TRUE(out[1] == 'a' && out[2] == 0 && out[3] == 9);
    ybStrTCpy(units, nullptr);
    unsigned char bytes[100];
    std::memset(bytes, 'a', sizeof bytes);
    bytes[99] = 'b';
    EXPECT_EQ(qvmemchr(bytes, 0x162, 100), bytes + 99) << "only the low 8 bits of c";
    EXPECT_EQ(qvmemchr(bytes, 'b', 99), nullptr);
    EXPECT_EQ(ybMemNScan(bytes, 100, 'a'), 99);
    EXPECT_EQ(ybMemTNScan(sevens, 3, 7), 2);
    EXPECT_EQ(ybMemNot('a', bytes, 0) + ybMemNot('a', bytes, 99) + ybMemNot('a', bytes, 100), 2);
    EXPECT_EQ(ybMemTNot(0x20, blanks, 0) + ybMemTNot(0x20, blanks, 2) + ybMemTNot(0x20, blanks, 3), 2);
    EXPECT_EQ(qvmemset(bytes, 0x1CD, 2), bytes);
    EXPECT_EQ(bytes[1], 0xCD);
    const unsigned char one[] = {0x01}, ff[] = {0xFF};
    EXPECT_EQ(ybMemCmp(one, ff, 1), -1);
    EXPECT_EQ(ybMemCmp(ff, one, 1), 1);
    EXPECT_EQ(ybMemCmp(one, ff, 0), 0);
    EXPECT_LT(qvmemcmp(one, ff, 1), 0);
    const QVChar x[] = {'a', 0x10FFFF}, y[] = {'a', 0x41}, big[] = {0x80000001u}, unit1[] = {1};
    EXPECT_EQ(ybWMemCmp(x, y, 2), 1);
    EXPECT_EQ(ybWMemCmp(y, x, 2), -1);
    EXPECT_EQ(ybWMemCmp(x, y, 1), 0);
    EXPECT_EQ(ybWMemCmp(big, unit1, 1), -1) << "the wrapping difference decides";
}

std::vector<unsigned char> counting(size_t n) {
    std::vector<unsigned char> v(n);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

TEST(Primitives, Copies) {
    // ybMemCpy copies forward: a destination above an overlapping source
    // repeats the pattern; otherwise it is a plain copy.
    for (size_t period : {1u, 3u}) {
        auto buffer = counting(300);
        EXPECT_EQ(ybMemCpy(buffer.data(), buffer.data() + period, 200), buffer.data() + period);
        for (size_t i = 0; i < 200 + period; ++i) ASSERT_EQ(buffer[i], i % period) << i;
        EXPECT_EQ(buffer[200 + period], 200 + period);
    }
    auto below = counting(300);
    ybMemCpy(below.data() + 5, below.data(), 200);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(below[i], i + 5);
    for (size_t n : {0u, 1u, 2u, 10u, 96u, 97u, 200u})
        for (size_t shift = 0; shift <= n + 2; ++shift)
            for (int up = 0; up < 2; ++up) {
                auto expected = counting(2 * n + 8), actual = expected;
                size_t from = up ? 0 : shift, to = up ? shift : 0;
                std::memmove(expected.data() + to, expected.data() + from, n);
                ybMemSCpy(actual.data() + from, actual.data() + to, n);
                ASSERT_EQ(actual, expected) << "n=" << n << " from " << from << " to " << to;
            }
    char buffer[8] = "abcdef";
    EXPECT_EQ(qvmemmove(buffer + 1, buffer, 5), buffer + 1);
    EXPECT_EQ(qvmemcpy(buffer, "xy", 2), buffer);
    EXPECT_STREQ(buffer, "xybcde");
    const double values[] = {std::numeric_limits<double>::infinity(), std::nan("")};
    EXPECT_EQ(ybMissArray(values, 1) + ybMissArray(values, 0), 0);
    EXPECT_EQ(ybMissArray(values, 2), 1);
    EXPECT_EQ(ybUnsup(), OMBRIX_E_UNSUPPORTED);
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
