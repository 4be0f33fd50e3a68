// The message wrappers: which host object they reach, what it receives, and
// the default-context rules of the status wrappers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host_fixture.h"
#include "ombrix/container.h"
#include "ombrix/messages.h"

namespace {

class MessageWrappers : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        journal = qvhostJournalCreate(host);
        qvhostJournalSetEcho(journal, 0);
    }
    void TearDown() override {
        qvhostJournalDestroy(journal);
        HostTest::TearDown();
    }
    QVHostMessageCall lastCall() const {
        QVHostMessageCall call{};
        qvhostLastMessageCall(host, &call);
        return call;
    }
    static uintptr_t v(const void *p) { return reinterpret_cast<uintptr_t>(p); }

    QVWord *journal = nullptr;
};

std::u32string units(const QVChar *p, int32_t n) { return std::u32string(p, p + n); }

TEST_F(MessageWrappers, JournalWrappersPassTheirValuesAndTrailingArguments) {
    EXPECT_EQ(qvlMessageToJnl(journal, 42, 2, v("count %d of %s"), 3, "five"), 0u);
    ASSERT_EQ(qvhostJournalCount(journal), 1u);
    EXPECT_STREQ(qvhostJournalEntry(journal, 0), "message 42 severity 2: count 3 of five");

    EXPECT_EQ(qvlStatusToJnl(journal, 4, 1), 0u);
    EXPECT_STREQ(qvhostJournalEntry(journal, 1), "status facility 4 code 1");

    char buffer[64] = {};
    EXPECT_EQ(qvlMessageToBuf(journal, v(buffer), sizeof buffer, 7, 1, v("x=%d"), -5), 0u);
    EXPECT_NE(std::strstr(buffer, "x=-5"), nullptr) << buffer;
    uintptr_t values[5] = {};
    EXPECT_EQ(qvhostJournalLastValues(journal, values), QV_JOURNAL_MESSAGE_TO_BUF);
    EXPECT_EQ(values[0], v(buffer));
    EXPECT_EQ(values[1], sizeof buffer);
    EXPECT_EQ(values[2], 7u);

    EXPECT_EQ(qvlStatusToBuf(journal, v(buffer), 4, 4, 1), OMBRIX_E_BUFFER_TOO_SMALL)
        << "the host's result comes back unchanged";
    EXPECT_EQ(qvhostJournalLastValues(journal, values), QV_JOURNAL_STATUS_TO_BUF);

    EXPECT_EQ(qvlGetLocale(journal, v(buffer), sizeof buffer, 0, 0), 0u);
    EXPECT_STREQ(buffer, "en_US");
    EXPECT_EQ(qvhostJournalLastValues(journal, values), QV_JOURNAL_GET_LOCALE);
}

TEST_F(MessageWrappers, PlainFormatterGetsAContextRecordAndTheFiveValues) {
    const QVChar format[] = {'n', '=', '%', 'd', ' ', '%', 's'};
    QVChar out[16];
    int32_t length = -1;
    EXPECT_EQ(qvzFormatBuff(nullptr, format, 7, out, 16, &length, 12, "ok"), 0u);
    EXPECT_EQ(units(out, length), U"n=12 ok");
    QVHostMessageCall call = lastCall();
    EXPECT_EQ(call.slot, QV_HOST_FORMAT_BUFF);
    ASSERT_NE(call.argument, nullptr);
    EXPECT_EQ(call.context, nullptr) << "the record holds the caller's null context";
    EXPECT_EQ(call.values[0], v(format));
    EXPECT_EQ(call.values[1], 7u);
    EXPECT_EQ(call.values[2], v(out));
    EXPECT_EQ(call.values[3], 16u);
    EXPECT_EQ(call.values[4], v(&length));
    EXPECT_EQ(call.values[5], 0u);

    EXPECT_EQ(qvzFormatBuff(nullptr, format, 7, out, 3, &length, 12, "ok"),
              OMBRIX_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 3);
}

// A context reaches its own host through its owner, whatever handle the
// library was given.
TEST_F(MessageWrappers, ContextLeadsToItsOwnersHost) {
    QVWord *other = qvhostCreate();
    ASSERT_NE(other, nullptr);
    QVWord owner[6] = {};
    owner[5] = other;
    QVWord context[4] = {};
    context[3] = owner;
    const QVChar format[] = {'%', 'c'};
    QVChar out[4];
    int32_t length = 0;
    uint64_t before = qvhostMessageCallCount(host);
    EXPECT_EQ(qvzFormatBuff(context, format, 2, out, 4, &length, 0x1F600), 0u);
    EXPECT_EQ(qvhostMessageCallCount(host), before);
    EXPECT_EQ(qvhostMessageCallCount(other), 1u);
    QVHostMessageCall call{};
    qvhostLastMessageCall(other, &call);
    EXPECT_EQ(call.context, context);
    EXPECT_EQ(units(out, length), U"\U0001F600");

    void *holder = context;
    EXPECT_EQ(qvzRender2(&holder, 1, 2), 0u);
    EXPECT_EQ(qvhostMessageCallCount(other), 2u);
    qvhostDestroy(other);
}

TEST_F(MessageWrappers, HolderKindHandsTheHolderItself) {
    void *context = qvhostDefaultMessageContext(host);
    void *holder = context;
    const QVChar format[] = {'a'};
    QVChar out[2];
    int32_t length = 0;
    EXPECT_EQ(qvzFormat2Buff(&holder, format, 1, out, 2, &length), 0u);
    QVHostMessageCall call = lastCall();
    EXPECT_EQ(call.argument, &holder);
    EXPECT_EQ(call.context, context);

    void *empty = nullptr;
    EXPECT_EQ(qvzRender2(&empty, 5, 6), 0u);
    call = lastCall();
    EXPECT_EQ(call.slot, QV_HOST_RENDER);
    EXPECT_EQ(call.argument, &empty);
    EXPECT_EQ(call.values[0], 5u);
    EXPECT_EQ(call.values[1], 6u);
}

TEST_F(MessageWrappers, RenderAndCaptureReachTheirSlots) {
    EXPECT_EQ(qvzCapture(host, 8, 9), 0u);
    EXPECT_EQ(lastCall().slot, QV_HOST_CAPTURE);
    EXPECT_EQ(lastCall().values[1], 9u);

    EXPECT_EQ(qvzRender(nullptr, 3, 4), 0u);
    EXPECT_EQ(lastCall().slot, QV_HOST_RENDER);
    EXPECT_EQ(lastCall().values[0], 3u);

    char buffer[32];
    EXPECT_EQ(qvzRenderFmt(nullptr, v(buffer), sizeof buffer, v("%s/%d"), "a", 1), 0u);
    EXPECT_STREQ(buffer, "a/1");
    EXPECT_EQ(lastCall().slot, QV_HOST_RENDER_FMT);
    void *holder = qvhostDefaultMessageContext(host);
    EXPECT_EQ(qvzRender2Fmt(&holder, v(buffer), sizeof buffer, v("%x"), 255), 0u);
    EXPECT_STREQ(buffer, "ff");
    EXPECT_EQ(lastCall().argument, &holder);
}

TEST_F(MessageWrappers, StatusTextWithoutContextUsesTheHostDefault) {
    char buffer[64] = {};
    EXPECT_EQ(qvzStatusBuff(nullptr, OMBRIX_E_NO_MEMORY, v(buffer), sizeof buffer, 0), 0u);
    EXPECT_STREQ(buffer, "0x803fc002: out of memory");
    QVHostMessageCall call = lastCall();
    EXPECT_EQ(call.slot, QV_HOST_STATUS_BUFF);
    EXPECT_EQ(call.context, qvhostDefaultMessageContext(host));
    EXPECT_EQ(call.values[0], OMBRIX_E_NO_MEMORY);
}

TEST_F(MessageWrappers, StatusTextWithNoContextAnywhereIsRefusedBeforeTheHost) {
    void *emptyWord = nullptr;
    for (void *slot35 : {static_cast<void *>(&emptyWord), static_cast<void *>(nullptr)}) {
        qvhostSetValue(host, QV_HOST_DEFAULT_MSG_CONTEXT, slot35);
        uint64_t before = qvhostMessageCallCount(host);
        char buffer[64] = {};
        EXPECT_EQ(qvzStatusBuff(nullptr, 0, v(buffer), sizeof buffer, 0), OMBRIX_E_NO_CONTEXT);
        void *holder = nullptr;
        EXPECT_EQ(qvzStatus2Buff(&holder, 0, v(buffer), sizeof buffer, 0), OMBRIX_E_NO_CONTEXT);
        EXPECT_EQ(holder, nullptr);
        EXPECT_EQ(qvhostMessageCallCount(host), before);
    }
}

TEST_F(MessageWrappers, StatusHolderIsLeftHoldingTheDefaultContext) {
    void *holder = nullptr;
    char buffer[64] = {};
    EXPECT_EQ(qvzStatus2Buff(&holder, OMBRIX_E_TRUNCATED, v(buffer), sizeof buffer, 0), 0u);
    EXPECT_EQ(holder, qvhostDefaultMessageContext(host));
    EXPECT_EQ(lastCall().argument, &holder);
    EXPECT_STREQ(buffer, "0x803fe814: truncated character sequence");

    EXPECT_EQ(qvzStatus2Buff(nullptr, 0, v(buffer), sizeof buffer, 0), 0u)
        << "no holder at all still finds the default";
    EXPECT_EQ(lastCall().context, qvhostDefaultMessageContext(host));
}

}  // namespace
