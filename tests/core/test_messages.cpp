// The message wrappers: which host object they reach, what it receives, and
// the default-context rules of the status wrappers. What the journal
// wrappers hand on is checked with the host's journals (tests/host).
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "host_fixture.h"
#include "ombrix/container.h"
#include "ombrix/messages.h"

namespace {

uintptr_t v(const void *p) { return reinterpret_cast<uintptr_t>(p); }

class MessageWrappers : public HostTest {
  protected:
    QVHostMessageCall lastCall(QVWord *of) const {
        QVHostMessageCall call{};
        qvhostLastMessageCall(of, &call);
        return call;
    }
};

// The plain kind hands a {context, 0} record of its own (`argument` -1:
// not the caller's), the holder kind the holder itself.
TEST_F(MessageWrappers, EachReachesItsSlotWithTheCallersValues) {
    const QVChar format[] = {'n', '=', '%', 'd'};
    QVChar out[8];
    int32_t length = -1;
    char buffer[32];
    void *context = qvhostDefaultMessageContext(host);
    void *holder = context, *empty = nullptr;
    const struct {
        const char *what;
        std::function<QVStatus()> call;
        int slot;
        void *argument, *context;
        std::vector<uintptr_t> values;
    } cases[] = {
        {"format", [&] { return qvzFormatBuff(nullptr, format, 4, out, 8, &length, 12); },
         QV_HOST_FORMAT_BUFF, (void *)-1, nullptr, {v(format), 4, v(out), 8, v(&length), 0}},
        {"format to holder", [&] { return qvzFormat2Buff(&holder, format, 4, out, 8, &length, 1); },
         QV_HOST_FORMAT_BUFF, &holder, context, {v(format), 4, v(out), 8, v(&length), 0}},
        {"capture", [&] { return qvzCapture(host, 8, 9); }, QV_HOST_CAPTURE, nullptr, nullptr, {8, 9}},
        {"render", [&] { return qvzRender(context, 3, 4); }, QV_HOST_RENDER, (void *)-1, context, {3, 4}},
        {"render to holder", [&] { return qvzRender2(&empty, 5, 6); }, QV_HOST_RENDER, &empty,
         nullptr, {5, 6}},
        {"render formatted", [&] { return qvzRenderFmt(nullptr, v(buffer), 32, v("%s/%d"), "a", 1); },
         QV_HOST_RENDER_FMT, (void *)-1, nullptr, {v(buffer), 32}},
        {"render formatted to holder",
         [&] { return qvzRender2Fmt(&holder, v(buffer), 32, v("%x"), 255); }, QV_HOST_RENDER_FMT,
         &holder, context, {v(buffer), 32}},
        {"status", [&] { return qvzStatusBuff(nullptr, OMBRIX_E_NO_MEMORY, v(buffer), 32, 7); },
         QV_HOST_STATUS_BUFF, (void *)-1, context, {OMBRIX_E_NO_MEMORY, v(buffer), 32, 7}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.call(), 0u) << c.what;
        QVHostMessageCall call = lastCall(host);
        EXPECT_EQ(call.slot, c.slot) << c.what;
        if (c.argument == (void *)-1)
            EXPECT_TRUE(call.argument && call.argument != &holder) << c.what;
        else
            EXPECT_EQ(call.argument, c.argument) << c.what;
        EXPECT_EQ(call.context, c.context) << c.what;
        for (size_t i = 0; i < c.values.size(); ++i)
            EXPECT_EQ(call.values[i], c.values[i]) << c.what << " value " << i;
    }
    EXPECT_STREQ(buffer, "0x803fc002: out of memory");
    EXPECT_EQ(qvzFormatBuff(nullptr, format, 4, out, 3, &length, 12), OMBRIX_E_BUFFER_TOO_SMALL)
        << "the host's result comes back unchanged";
}

// A context reaches its own host through its owner, whatever handle the
// library was given.
TEST_F(MessageWrappers, ContextLeadsToItsOwnersHost) {
    QVWord *other = qvhostCreate();
    QVWord owner[6] = {};
    owner[5] = other;
    QVWord context[4] = {};
    context[3] = owner;
    void *holder = context;
    const QVChar format[] = {'%', 'c'};
    QVChar out[4];
    int32_t length = 0;
    uint64_t before = qvhostMessageCallCount(host);
    EXPECT_EQ(qvzFormatBuff(context, format, 2, out, 4, &length, 0x1F600), 0u);
    EXPECT_EQ(lastCall(other).context, context);
    EXPECT_EQ(qvzRender2(&holder, 1, 2), 0u);
    EXPECT_EQ(qvzStatus2Buff(&holder, 0, 0, 0, 0), 0x803fe807u);
    EXPECT_EQ(qvhostMessageCallCount(other), 3u);
    EXPECT_EQ(qvhostMessageCallCount(host), before);
    qvhostDestroy(other);
}

TEST_F(MessageWrappers, StatusWithoutAContextBorrowsTheDefaultOrIsRefused) {
    char buffer[64] = {};
    void *holder = nullptr;
    EXPECT_EQ(qvzStatus2Buff(&holder, OMBRIX_E_TRUNCATED, v(buffer), sizeof buffer, 0), 0u);
    EXPECT_EQ(holder, qvhostDefaultMessageContext(host)) << "left in the caller's holder";
    EXPECT_EQ(lastCall(host).argument, &holder);
    EXPECT_EQ(qvzStatus2Buff(nullptr, 0, v(buffer), sizeof buffer, 0), 0u) << "no holder at all";
    EXPECT_EQ(lastCall(host).context, qvhostDefaultMessageContext(host));

    void *emptyWord = nullptr;
    for (void *slot35 : {static_cast<void *>(&emptyWord), static_cast<void *>(nullptr)}) {
        qvhostSetValue(host, QV_HOST_DEFAULT_MSG_CONTEXT, slot35);
        uint64_t before = qvhostMessageCallCount(host);
        EXPECT_EQ(qvzStatusBuff(nullptr, 0, v(buffer), sizeof buffer, 0), OMBRIX_E_NO_CONTEXT);
        holder = nullptr;
        EXPECT_EQ(qvzStatus2Buff(&holder, 0, v(buffer), sizeof buffer, 0), OMBRIX_E_NO_CONTEXT);
        EXPECT_EQ(holder, nullptr);
        EXPECT_EQ(qvhostMessageCallCount(host), before) << "refused before the host";
    }
}

}  // namespace
