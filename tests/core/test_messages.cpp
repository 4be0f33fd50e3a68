// The message wrappers: which host object they reach, what it receives, the
// default-context rules of the status wrappers; i32div, intmdiv and log2.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "host_fixture.h"
#include "ombrix/container.h"
#include "ombrix/messages.h"

namespace {

uintptr_t v(const void *p) { return reinterpret_cast<uintptr_t>(p); }

QVHostMessageCall lastCall(QVWord *of) {
    QVHostMessageCall call{};
    return qvhostLastMessageCall(of, &call), call;
}

class MessageWrappers : public HostTest {};

TEST_F(MessageWrappers, EachReachesItsSlotWithTheCallersValues) {
    const QVChar format[] = {'n', '=', '%', 'd'};
    QVChar out[8];
    int32_t length = -1;
    char buffer[32];
    void *context = qvhostDefaultMessageContext(host), *holder = context, *empty = nullptr;
    void *const own = (void *)-1;  // the plain kind hands the host a {context, 0} record of its own
    const struct { const char *what; std::function<QVStatus()> call; int slot;
                   void *argument, *context; std::vector<uintptr_t> values; } cases[] = {
        {"format", [&] { return qvzFormatBuff(nullptr, format, 4, out, 8, &length, 12); },
         QV_HOST_FORMAT_BUFF, own, nullptr, {v(format), 4, v(out), 8, v(&length), 0}},
        {"format to holder", [&] { return qvzFormat2Buff(&holder, format, 4, out, 8, &length, 1); },
         QV_HOST_FORMAT_BUFF, &holder, context, {v(format), 4, v(out), 8, v(&length), 0}},
        {"capture", [&] { return qvzCapture(host, 8, 9); }, QV_HOST_CAPTURE, nullptr, nullptr, {8, 9}},
        {"render", [&] { return qvzRender(context, 3, 4); }, QV_HOST_RENDER, own, context, {3, 4}},
        {"render to holder", [&] { return qvzRender2(&empty, 5, 6); }, QV_HOST_RENDER, &empty,
         nullptr, {5, 6}},
        {"render formatted", [&] { return qvzRenderFmt(nullptr, v(buffer), 32, v("%s/%d"), "a", 1); },
         QV_HOST_RENDER_FMT, own, nullptr, {v(buffer), 32}},
        {"render formatted to holder",
         [&] { return qvzRender2Fmt(&holder, v(buffer), 32, v("%x"), 255); }, QV_HOST_RENDER_FMT,
         &holder, context, {v(buffer), 32}},
        {"status", [&] { return qvzStatusBuff(nullptr, OMBRIX_E_NO_MEMORY, v(buffer), 32, 7); },
         QV_HOST_STATUS_BUFF, own, context, {OMBRIX_E_NO_MEMORY, v(buffer), 32, 7}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.call(), 0u) << c.what;
        QVHostMessageCall call = lastCall(host);
        EXPECT_TRUE(c.argument == own ? call.argument && call.argument != &holder
                                      : call.argument == c.argument) << c.what;
        EXPECT_TRUE(call.slot == c.slot && call.context == c.context) << c.what;
        for (size_t i = 0; i < c.values.size(); ++i)
            EXPECT_EQ(call.values[i], c.values[i]) << c.what << " value " << i;
    }
    EXPECT_STREQ(buffer, "0x803fc002: out of memory");
    EXPECT_EQ(qvzFormatBuff(nullptr, format, 4, out, 3, &length, 12), OMBRIX_E_BUFFER_TOO_SMALL)
        << "the host's result comes back unchanged";
}

TEST_F(MessageWrappers, AContextLeadsToItsOwnersHostAndAMissingOneToTheDefaultOrARefusal) {
    QVWord *other = qvhostCreate();
    QVWord owner[6] = {nullptr, nullptr, nullptr, nullptr, nullptr, other};
    QVWord context[4] = {nullptr, nullptr, nullptr, owner};
    void *holder = context;
    const QVChar format[] = {'%', 'c'};
    QVChar out[4];
    int32_t length = 0;
    uint64_t before = qvhostMessageCallCount(host);
    EXPECT_EQ(qvzFormatBuff(context, format, 2, out, 4, &length, 0x1F600), 0u);
    EXPECT_EQ(lastCall(other).context, context);
    EXPECT_EQ(qvzRender2(&holder, 1, 2), 0u);
    EXPECT_EQ(qvzStatus2Buff(&holder, 0, 0, 0, 0), 0x803fe807u);
    EXPECT_TRUE(qvhostMessageCallCount(other) == 3 && qvhostMessageCallCount(host) == before);
    qvhostDestroy(other);
    char buffer[64] = {};
    holder = nullptr;
    EXPECT_EQ(qvzStatus2Buff(&holder, OMBRIX_E_TRUNCATED, v(buffer), sizeof buffer, 0), 0u);
    EXPECT_EQ(holder, qvhostDefaultMessageContext(host)) << "left in the caller's holder";
    EXPECT_EQ(lastCall(host).argument, &holder);
    EXPECT_EQ(qvzStatus2Buff(nullptr, 0, v(buffer), sizeof buffer, 0), OMBRIX_E_NO_CONTEXT)
        << "no holder at all: the host gets none and has no context";
    EXPECT_EQ(lastCall(host).argument, nullptr);
    // A default word holding null refuses before the host; a host without
    // the word is called and answers for itself.
    void *emptyWord = nullptr;
    for (void *slot35 : {static_cast<void *>(&emptyWord), static_cast<void *>(nullptr)}) {
        qvhostSetValue(host, QV_HOST_DEFAULT_MSG_CONTEXT, slot35);
        before = qvhostMessageCallCount(host);
        EXPECT_EQ(qvzStatusBuff(nullptr, 0, v(buffer), sizeof buffer, 0), OMBRIX_E_NO_CONTEXT);
        holder = nullptr;
        EXPECT_EQ(qvzStatus2Buff(&holder, 0, v(buffer), sizeof buffer, 0), OMBRIX_E_NO_CONTEXT);
        EXPECT_EQ(holder, nullptr);
        EXPECT_EQ(qvhostMessageCallCount(host), before + (slot35 ? 0 : 2)) << slot35;
    }
}

TEST(Numeric, DivisionsTruncateTowardZeroAndI32divPacksQuotientLow) {
    const struct { int32_t n, d, q, r; } cases[] = {
        {7, -2, -3, 1}, {-7, 2, -3, -1}, {-7, -2, 3, -1},       {7, 2, 3, 1},
        {0, 5, 0, 0},   {5, 7, 0, 5},    {INT32_MIN, 1, INT32_MIN, 0}, {INT32_MAX, -1, -INT32_MAX, 0}};
    for (const auto &c : cases) {
        auto packed = static_cast<uint64_t>(i32div(c.n, c.d));
        EXPECT_EQ(int32_t(uint32_t(packed)), c.q) << c.n << " / " << c.d;
        EXPECT_EQ(int32_t(uint32_t(packed >> 32)), c.r) << c.n << " % " << c.d;
        EXPECT_EQ(intmdiv(c.n, c.d), c.q) << c.n << " / " << c.d;
    }
    EXPECT_TRUE(intmdiv(INT64_MAX, 3) == 3074457345618258602 &&
                intmdiv(INT64_MIN, 2) == -4611686018427387904);
}

TEST(Numeric, Log2ExactOnPowersOfTwoElseTheNaturalLogarithmScaled) {
    auto sameBits = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    for (int e : {3, 0, -2, 1000, -1074}) EXPECT_TRUE(sameBits(log2(std::ldexp(1.0, e)), e)) << e;
    for (double x : {10.0, 3.0, 0.1, 1e300, 12345.678})
        EXPECT_TRUE(sameBits(log2(x), std::log(x) * 1.4426950408889634)) << x;
    EXPECT_TRUE(std::isnan(log2(-1.0)));
}

}  // namespace
