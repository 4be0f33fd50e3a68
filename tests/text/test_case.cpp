// The case routines over QVChar strings, with and without the host's text
// services.
#include <gtest/gtest.h>

#include <string>

#include "host_fixture.h"
#include "ombrix/case.h"
#include "ombrix/primitives.h"

namespace {

// A text services object whose case operations are easy to tell from the
// static tables: they add 0x1000 (lower) or 0x2000 (upper) and count calls.
struct FakeServices {
    QVWord slots[QV_TEXT_SLOT_COUNT] = {};
    int calls = 0;
    int32_t lastMode = -1;

    static QVChar lower(QVWord *self, QVChar c, int32_t mode) {
        auto *s = reinterpret_cast<FakeServices *>(self);
        ++s->calls;
        s->lastMode = mode;
        return c + 0x1000;
    }
    static QVChar upper(QVWord *self, QVChar c, int32_t mode) {
        auto *s = reinterpret_cast<FakeServices *>(self);
        ++s->calls;
        s->lastMode = mode;
        return c + 0x2000;
    }
    FakeServices() {
        slots[QV_TEXT_TO_LOWER] = reinterpret_cast<QVWord>(&lower);
        slots[QV_TEXT_TO_UPPER] = reinterpret_cast<QVWord>(&upper);
    }
};

class CaseRoutines : public HostTest {
  protected:
    void withoutTextServices() { qvhostSetValue(host, QV_HOST_TEXT_SERVICES, nullptr); }
    void withFakeServices() { qvhostSetValue(host, QV_HOST_TEXT_SERVICES, fake.slots); }

    static std::u32string lowered(std::u32string s) {
        qvzstlo(reinterpret_cast<QVChar *>(s.data()), static_cast<int64_t>(s.size()));
        return s;
    }
    static std::u32string uppered(std::u32string s) {
        qvzstup(reinterpret_cast<QVChar *>(s.data()), static_cast<int64_t>(s.size()));
        return s;
    }
    static const QVChar *q(const std::u32string &s) {
        return reinterpret_cast<const QVChar *>(s.data());
    }

    FakeServices fake;
};

TEST_F(CaseRoutines, StaticTablesWhenTheHostHasNoTextServices) {
    withoutTextServices();
    EXPECT_EQ(lowered(U"ABC\u00C0\u0130\u0181\u1E9E\U00010400"),
              U"abc\u00E0\u0130\u0253\u1E9E\U00010400");
    EXPECT_EQ(uppered(U"abc\u017F\u00DF\u00FF\u03C2\u1F80"), U"ABCS\u00DF\u0178\u03C2\u1F88");
    EXPECT_EQ(lowered(U"\u10A0\u2160\u24B6\uFF21"), U"\u10D0\u2170\u24D0\uFF41");
    EXPECT_EQ(qvtolower(0x00C0), 0x00E0u);
    EXPECT_EQ(qvtoupper(0x01C5), 0x01C4u);
    EXPECT_EQ(qvtolower(0x01C5), 0x01C6u);
}

TEST_F(CaseRoutines, TextServicesDecideBeyondAsciiWithModeOne) {
    withFakeServices();
    EXPECT_EQ(lowered(U"A\u00C0z"), U"a\u10C0z");
    EXPECT_EQ(fake.calls, 1) << "ASCII never reaches the services";
    EXPECT_EQ(fake.lastMode, 1);
    EXPECT_EQ(uppered(U"a\u00E0"), U"A\u20E0");
    EXPECT_EQ(fake.calls, 2);
    EXPECT_EQ(qvtolower(0x100), 0x1100u);
}

TEST_F(CaseRoutines, TheReferenceHostsServicesAreUsedByDefault) {
    QVWord *services = static_cast<QVWord *>(host[QV_HOST_TEXT_SERVICES]);
    ASSERT_NE(services, nullptr);
    auto lower = reinterpret_cast<QVCaseMapFn>(services[QV_TEXT_TO_LOWER]);
    EXPECT_EQ(qvtolower(0x00C0), lower(services, 0x00C0, 1));
    // The tables keep the early Georgian mapping; the host's data is newer.
    EXPECT_EQ(qvtolower(0x10A0), 0x2D00u);
    EXPECT_EQ(qvtoupper(0x03C2), 0x03A3u);
    withoutTextServices();
    EXPECT_EQ(qvtolower(0x10A0), 0x10D0u);
    EXPECT_EQ(qvtoupper(0x03C2), 0x03C2u);
}

TEST_F(CaseRoutines, NothingHappensForCountsBelowOne) {
    withFakeServices();
    QVChar c = 0x00C0;
    qvzstlo(&c, 0);
    qvzstup(&c, -1);
    EXPECT_EQ(c, 0x00C0u);
    EXPECT_EQ(fake.calls, 0);
}

TEST_F(CaseRoutines, EqualityIgnoresCaseWithTheStaticTablesOnly) {
    withFakeServices();
    std::u32string upper = U"ABC\u00C0", lower = U"abc\u00E0";
    EXPECT_EQ(qvzseqn(q(upper), 4, q(lower), 4), 1);
    EXPECT_EQ(fake.calls, 0);
    EXPECT_EQ(qvzseqn(q(upper), 3, q(lower), 4), 0);
    EXPECT_EQ(qvzseqn(q(upper), 0, q(lower), 0), 1);
    std::u32string other = U"abd";
    EXPECT_EQ(qvzseqn(q(upper), 3, q(other), 3), 0);
    // U+0130 has no lower case of its own here, so it differs from i.
    std::u32string dotted = U"\u0130", plain = U"i";
    EXPECT_EQ(qvzseqn(q(dotted), 1, q(plain), 1), 0);
}

TEST_F(CaseRoutines, BlankPaddedComparisonTellsCaseFromDifference) {
    auto cmp = [&](const std::u32string &a, const std::u32string &b) {
        return qvzsncmp(q(a), static_cast<int64_t>(a.size()), q(b), static_cast<int64_t>(b.size()));
    };
    EXPECT_EQ(cmp(U"abc", U"ABC  "), 1) << "lower-case a lies above upper-case A";
    EXPECT_EQ(cmp(U"ABC  ", U"abc"), -1);
    EXPECT_EQ(cmp(U"abc", U"abd"), -2);
    EXPECT_EQ(cmp(U"abd", U"ABC"), 2) << "difference beats case";
    EXPECT_EQ(cmp(U"ab", U"ab x"), -2);
    EXPECT_EQ(cmp(U"ab x", U"ab"), 2);
    EXPECT_EQ(cmp(U"ab", U"ab  "), 0);
    EXPECT_EQ(cmp(U"", U""), 0);
    EXPECT_EQ(cmp(U"aB", U"Ab"), 1) << "the first pair that differs in case gives the sign";
    // Lower-case mappings order the difference: [ (0x5B) against a.
    EXPECT_EQ(cmp(U"[", U"A"), -2) << "0x5B below the lower case of A";
}

TEST_F(CaseRoutines, CaseClassesMapToTheirLowestAndHighestMembers) {
    std::u32string s = U"\u0131i\u212Ak\u017Fs\u03C2\u03D1\u1E9E\u00DF9 \U00010400";
    std::u32string lowest = s, highest = s;
    qvzstmin(reinterpret_cast<QVChar *>(lowest.data()), static_cast<int64_t>(lowest.size()));
    qvzstmax(reinterpret_cast<QVChar *>(highest.data()), static_cast<int64_t>(highest.size()));
    EXPECT_EQ(lowest, U"IIKKSS\u03A3\u0398\u00DF\u00DF9 \U00010400");
    EXPECT_EQ(highest, U"\u0131\u0131\u212A\u212A\u017F\u017F\u03C3\u03F4\u1E9E\u00DF9 \U00010400");
}

}  // namespace
