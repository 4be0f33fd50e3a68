// Journals: the texts of each slot, what is recorded, buffers, echo and use
// from several threads.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host_test.h"

namespace {

class Journals : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        journal = qvhostJournalCreate(host);
        ASSERT_NE(journal, nullptr);
        qvhostJournalSetEcho(journal, 0);
    }
    void TearDown() override {
        qvhostJournalDestroy(journal);
        HostTest::TearDown();
    }

    // The slots take a list; these build one the way the library's wrappers do.
    template <typename... Args>
    QVStatus messageToJnl(uintptr_t id, uintptr_t severity, const char *format, Args... args) {
        auto call = slot<QVJournalMessageToJnlFn>(journal, QV_JOURNAL_MESSAGE_TO_JNL);
        return withArgs(
            [&](va_list ap) { return call(journal, id, severity, reinterpret_cast<uintptr_t>(format), ap); },
            0, args...);
    }
    template <typename... Args>
    QVStatus messageToBuf(char *buffer, size_t capacity, uintptr_t id, uintptr_t severity,
                          const char *format, Args... args) {
        auto call = slot<QVJournalMessageToBufFn>(journal, QV_JOURNAL_MESSAGE_TO_BUF);
        return withArgs([&](va_list ap) {
            return call(journal, reinterpret_cast<uintptr_t>(buffer), capacity, id, severity,
                        reinterpret_cast<uintptr_t>(format), ap);
        }, 0, args...);
    }
    QVStatus statusToJnl(QVWord *j, uintptr_t facility, uintptr_t code) {
        auto call = slot<QVJournalStatusToJnlFn>(j, QV_JOURNAL_STATUS_TO_JNL);
        return withArgs([&](va_list ap) { return call(j, facility, code, ap); }, 0);
    }
    QVStatus statusToBuf(char *buffer, size_t capacity, uintptr_t facility, uintptr_t code) {
        auto call = slot<QVJournalStatusToBufFn>(journal, QV_JOURNAL_STATUS_TO_BUF);
        return withArgs(
            [&](va_list ap) { return call(journal, reinterpret_cast<uintptr_t>(buffer), capacity, facility, code, ap); },
            0);
    }

    QVWord *journal = nullptr;
};

TEST_F(Journals, StatusToJournalRecordsItsTextAndValues) {
    EXPECT_EQ(statusToJnl(journal, 4, 1), 0u);
    ASSERT_EQ(qvhostJournalCount(journal), 1u);
    EXPECT_STREQ(qvhostJournalEntry(journal, 0), "status facility 4 code 1");
    EXPECT_EQ(qvhostJournalEntry(journal, 1), nullptr);
    uintptr_t values[5] = {9, 9, 9, 9, 9};
    EXPECT_EQ(qvhostJournalLastValues(journal, values), QV_JOURNAL_STATUS_TO_JNL);
    EXPECT_EQ(values[0], 4u);
    EXPECT_EQ(values[1], 1u);
    EXPECT_EQ(values[2], 0u);
    EXPECT_EQ(values[4], 0u);
}

TEST_F(Journals, MessageToJournalFormatsItsArguments) {
    EXPECT_EQ(messageToJnl(12, 3, "pool %s has %d blocks", "ombrixa", 7), 0u);
    EXPECT_EQ(messageToJnl(13, 0, nullptr), 0u);
    ASSERT_EQ(qvhostJournalCount(journal), 2u);
    EXPECT_STREQ(qvhostJournalEntry(journal, 0), "message 12 severity 3: pool ombrixa has 7 blocks");
    EXPECT_STREQ(qvhostJournalEntry(journal, 1), "message 13 severity 0");
    uintptr_t values[5] = {};
    EXPECT_EQ(qvhostJournalLastValues(journal, values), QV_JOURNAL_MESSAGE_TO_JNL);
    EXPECT_EQ(values[0], 13u);
    EXPECT_EQ(values[2], 0u);
}

TEST_F(Journals, BufferSlotsWriteWithoutRecordingAndCutShortTexts) {
    char buffer[64];
    EXPECT_EQ(messageToBuf(buffer, sizeof buffer, 5, 2, "x=%u", 42u), 0u);
    EXPECT_STREQ(buffer, "message 5 severity 2: x=42");
    uintptr_t values[5] = {};
    EXPECT_EQ(qvhostJournalLastValues(journal, values), QV_JOURNAL_MESSAGE_TO_BUF);
    EXPECT_EQ(values[0], reinterpret_cast<uintptr_t>(buffer));
    EXPECT_EQ(values[1], sizeof buffer);
    EXPECT_EQ(values[2], 5u);
    EXPECT_EQ(values[3], 2u);

    EXPECT_EQ(statusToBuf(buffer, sizeof buffer, 4, 1), 0u);
    EXPECT_STREQ(buffer, "status facility 4 code 1");
    EXPECT_EQ(qvhostJournalLastValues(journal, values), QV_JOURNAL_STATUS_TO_BUF);
    EXPECT_EQ(values[2], 4u);
    EXPECT_EQ(values[3], 1u);

    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(statusToBuf(buffer, 7, 4, 1), 0x803fe807u);
    EXPECT_STREQ(buffer, "status");
    EXPECT_EQ(buffer[7], 'z') << "nothing past the capacity";
    EXPECT_EQ(statusToBuf(nullptr, 10, 4, 1), 0x803fe807u);
    EXPECT_EQ(statusToBuf(buffer, 0, 4, 1), 0x803fe807u);
    EXPECT_EQ(qvhostJournalCount(journal), 0u);
}

TEST_F(Journals, LocaleIsWrittenWhenItFits) {
    auto getLocale = slot<QVJournalGetLocaleFn>(journal, QV_JOURNAL_GET_LOCALE);
    char buffer[16] = {};
    EXPECT_EQ(getLocale(journal, buffer, sizeof buffer, 0, 0), 0u);
    EXPECT_STREQ(buffer, "en_US");
    uintptr_t values[5] = {};
    EXPECT_EQ(qvhostJournalLastValues(journal, values), QV_JOURNAL_GET_LOCALE);
    EXPECT_EQ(values[1], sizeof buffer);
    char tiny[5] = {'q', 'q', 'q', 'q', 'q'};
    EXPECT_EQ(getLocale(journal, tiny, sizeof tiny, 0, 0), 0x803fe807u);
    EXPECT_EQ(tiny[0], 'q');
}

TEST_F(Journals, ClearForgetsEntriesAndTheLastCall) {
    statusToJnl(journal, 1, 2);
    qvhostJournalClear(journal);
    EXPECT_EQ(qvhostJournalCount(journal), 0u);
    uintptr_t values[5] = {1, 1, 1, 1, 1};
    EXPECT_EQ(qvhostJournalLastValues(journal, values), 0);
    EXPECT_EQ(values[0], 0u);
}

TEST_F(Journals, EchoGoesToStandardErrorUnlessOff) {
    testing::internal::CaptureStderr();
    statusToJnl(journal, 7, 8);
    qvhostJournalSetEcho(journal, 1);
    statusToJnl(journal, 9, 10);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "qvhost journal: status facility 9 code 10\n");
    EXPECT_EQ(qvhostJournalCount(journal), 2u);
}

TEST_F(Journals, DefaultJournalIsTheHandlesAndOutlivesDestroy) {
    QVWord *byDefault = qvhostDefaultJournal(host);
    EXPECT_NE(byDefault, journal);
    qvhostJournalDestroy(byDefault);  // ignored: the handle owns it
    statusToJnl(byDefault, 1, 1);
    EXPECT_EQ(qvhostJournalCount(byDefault), 1u);
    EXPECT_EQ(qvhostJournalCount(journal), 0u) << "journals keep their own entries";
}

TEST_F(Journals, NullJournalIsHarmless) {
    qvhostJournalSetEcho(nullptr, 1);
    qvhostJournalClear(nullptr);
    qvhostJournalDestroy(nullptr);
    EXPECT_EQ(qvhostJournalCount(nullptr), 0u);
    EXPECT_EQ(qvhostJournalEntry(nullptr, 0), nullptr);
    EXPECT_EQ(qvhostJournalLastValues(nullptr, nullptr), 0);
}

TEST_F(Journals, TwoThreadsLoseNoEntry) {
    constexpr int kEach = 2000;
    auto work = [this](uintptr_t facility) {
        for (int i = 0; i < kEach; ++i) statusToJnl(journal, facility, static_cast<uintptr_t>(i));
    };
    inTwoThreads([&](int i) { work(1 + i); });
    ASSERT_EQ(qvhostJournalCount(journal), 2u * kEach);
    int fromA = 0;
    for (size_t i = 0; i < 2u * kEach; ++i)
        if (std::strncmp(qvhostJournalEntry(journal, i), "status facility 1 ", 18) == 0) ++fromA;
    EXPECT_EQ(fromA, kEach);
}

}  // namespace
