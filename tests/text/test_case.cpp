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
    FakeServices() { slots[QV_TEXT_TO_LOWER] = QVWord(&map<0x1000>), slots[QV_TEXT_TO_UPPER] = QVWord(&map<0x2000>); }
};

std::vector<unsigned char> counting(size_t n) {
    std::vector<unsigned char> v(n);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

class Primitives : public HostTest {};

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
    EXPECT_EQ(mapped(qvzstlo, U"AB\u00C0\u10A0\U00010400"), U"ab\u00E0\u10D0\U00010400");
    EXPECT_EQ(mapped(qvzstup, U"ab\u00FF\u03C2"), U"AB\u0178\u03C2");
    FakeServices fake;
    use(fake.slots);
    EXPECT_EQ(mapped(qvzstlo, U"A\u00C0z"), U"a\u10C0z") << "ASCII never reaches the services";
    EXPECT_EQ(mapped(qvzstup, U"a\u00E0"), U"A\u20E0");
    EXPECT_EQ(qvtolower(0x100), 0x1100u);
    QVChar c = 0xC0;
    qvzstlo(&c, 0), qvzstup(&c, -1);
    EXPECT_EQ(c, 0xC0u);
    std::u32string upper = U"ABC\u00C0", lower = U"abc\u00E0", other = U"abd", dotted = U"\u0130", plain = U"i";
    EXPECT_EQ(std::vector<int32_t>({qvzseqn(q(upper), 4, q(lower), 4), qvzseqn(q(upper), 3, q(lower), 4),
                                    qvzseqn(q(upper), 3, q(other), 3), qvzseqn(q(dotted), 1, q(plain), 1)}),
              std::vector<int32_t>({1, 0, 0, 0}));
    EXPECT_EQ(fake.modes, U"111") << "equality keeps to the static tables";
}

TEST_F(CaseRoutines, BlankPaddedComparisonAndCaseClasses) {
    const std::tuple<std::u32string, std::u32string, int32_t> cases[] = {
        {U"abc", U"ABC  ", 1}, {U"ABC  ", U"abc", -1}, {U"abc", U"abd", -2}, {U"abd", U"ABC", 2},
        {U"ab", U"ab x", -2}, {U"ab x", U"ab", 2}, {U"ab", U"ab  ", 0}, {U"", U"", 0}, {U"aB", U"Ab", 1}, {U"[", U"A", -2}};
    for (const auto &[a, b, order] : cases)
        EXPECT_EQ(qvzsncmp(q(a), int64_t(a.size()), q(b), int64_t(b.size())), order);
    EXPECT_EQ(qvzsncmp(q(U"ab"), -1, q(U"ab"), 0) * 10 + qvzsncmp(q(U" x"), 1, q(U"ab"), -5), 0) << "negative: empty";
    EXPECT_EQ(mapped(qvzstmin, U"i\u212A\u1E9E") + mapped(qvzstmax, U"i\u212A\u1E9E"), U"IK\u00DF\u0131\u212A\u1E9E");
}

// What the kernel tests do not reach: null strings, the low bits of an int
// argument, empty ranges, wrapping unit differences, overlapping copies.
TEST_F(Primitives, EdgesOfTheWrappers) {
    const QVChar units[] = {0x1F600, 'a', 0}, blanks[] = {0x20, 0x20, 0x21}, big[] = {0x80000001u}, one[] = {1};
    EXPECT_EQ(ybStrLen(nullptr) + ybStrLen("") + ybStrTLen(nullptr) + ybStrTLen(units + 2), 0u);
    EXPECT_EQ(ybStrLen("ombrix") + ybStrTLen(units), 8u);
    char dst[8] = "xxxxxxx";
    QVChar out[4] = {9, 9, 9, 9};
    ybStrCpy(nullptr, dst), ybStrTCpy(nullptr, out);
    EXPECT_TRUE(dst[0] == 0 && dst[1] == 'x' && out[0] == 0 && out[1] == 9) << "a single terminator";
    ybStrCpy("abc", dst), ybStrCpy("abc", nullptr), ybStrTCpy(units, out), ybStrTCpy(units, nullptr);
    EXPECT_TRUE(std::string(dst) == "abc" && out[1] == 'a' && out[2] == 0 && out[3] == 9);
    unsigned char bytes[100];
    std::memset(bytes, 'a', sizeof bytes);
    bytes[99] = 'b';
    EXPECT_EQ(qvmemchr(bytes, 0x162, 100), bytes + 99) << "only the low 8 bits of c";
    EXPECT_EQ(qvmemchr(bytes, 'b', 99), nullptr);
    EXPECT_EQ(ybMemNot('a', bytes, 0) + ybMemNot('a', bytes, 99) + ybMemNot('a', bytes, 100), 2);
    EXPECT_EQ(ybMemTNot(0x20, blanks, 0) + ybMemTNot(0x20, blanks, 2) + ybMemTNot(0x20, blanks, 3), 2);
    EXPECT_TRUE(qvmemset(bytes, 0x1CD, 2) == bytes && bytes[1] == 0xCD);
    EXPECT_EQ(std::vector<int32_t>({ybMemCmp(one, bytes, 1), ybMemCmp(bytes, one, 1), ybMemCmp(one, bytes, 0), ybWMemCmp(units, one, 2),
                                    ybWMemCmp(one, units, 1), ybWMemCmp(big, one, 1)}),
              std::vector<int32_t>({-1, 1, 0, 1, -1, -1})) << "unsigned bytes; the wrapping unit difference decides";
    EXPECT_LT(qvmemcmp(one, bytes, 1), 0);
    // ybMemCpy copies forward: above an overlapping source it repeats the
    // pattern; otherwise it is a plain copy. ybMemSCpy is memmove.
    for (size_t period : {1u, 3u}) {
        auto buffer = counting(300);
        EXPECT_EQ(ybMemCpy(buffer.data(), buffer.data() + period, 200), buffer.data() + period);
        for (size_t i = 0; i <= 200 + period; ++i) ASSERT_EQ(buffer[i], i < 200 + period ? i % period : i) << i;
    }
    auto below = counting(300);
    ybMemCpy(below.data() + 5, below.data(), 200);
    EXPECT_TRUE(std::equal(below.begin(), below.begin() + 200, counting(300).begin() + 5));
    for (size_t n : {0u, 1u, 2u, 10u, 96u, 97u, 200u})
        for (size_t shift = 0; shift <= n + 2; ++shift)
            for (int up = 0; up < 2; ++up) {
                auto expected = counting(2 * n + 8), actual = expected;
                size_t from = up ? 0 : shift, to = up ? shift : 0;
                std::memmove(expected.data() + to, expected.data() + from, n);
                ybMemSCpy(actual.data() + from, actual.data() + to, n);
                ASSERT_EQ(actual, expected) << "n=" << n << " from " << from << " to " << to;
            }
    char text[8] = "abcdef";
    EXPECT_TRUE(qvmemmove(text + 1, text, 5) == text + 1 && qvmemcpy(text, "xy", 2) == text && std::string(text) == "xybcde");
    const double values[] = {std::numeric_limits<double>::infinity(), std::nan("")};
    EXPECT_EQ(ybMissArray(values, 1) * 10 + ybMissArray(values, 2), 1);
    EXPECT_EQ(ybUnsup(), OMBRIX_E_UNSUPPORTED);
    QVWord *pool = omb::hostCreatePool(host, omb::poolParms, nullptr, "dup");
    auto *copy = static_cast<char *>(ybMemDup("hello", 6, pool));
    EXPECT_TRUE(copy && std::string(copy) == "hello" && poolStats(pool).liveBytes == 6);
    EXPECT_TRUE(ybMemDup(nullptr, 6, pool) == nullptr && ybMemDup("x", 1, nullptr) == nullptr);
    qvhostFailAllocation(host, 1);
    EXPECT_EQ(ybMemDup("x", 1, pool), nullptr);
    omb::poolDestroy(pool);
}

}  // namespace
