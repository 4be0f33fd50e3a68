// The handle's table: value slots, the objects behind them, traps on every
// slot outside the interface, value replacement and clean-up of leftovers.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "host_test.h"

namespace {

using AnyCall = uintptr_t (*)(QVWord *, uintptr_t, uintptr_t, uintptr_t);

class Handle : public HostTest {
  protected:
    // Calls every slot of `object` except `skip` and checks that each call
    // returned 0 and counted once.
    void callAllBut(QVWord *object, int words, const std::set<int> &skip) {
        for (int i = 0; i < words; ++i) {
            if (skip.count(i)) continue;
            uint64_t before = counters().unexpectedCalls;
            EXPECT_EQ(slot<AnyCall>(object, i)(object, 1, 2, 3), 0u) << "slot " << i;
            EXPECT_EQ(counters().unexpectedCalls, before + 1) << "slot " << i;
            ++expectedUnexpected;
        }
    }
};

TEST_F(Handle, EverySlotOutsideTheInterfaceCountsAndReturnsZero) {
    callAllBut(host, QV_HOST_SLOT_COUNT, {3, 6, 9, 26, 27, 35, 43, 229, 230, 231, 232, 233});
    EXPECT_EQ(counters().unexpectedCalls, 244u);
}

TEST_F(Handle, ObjectsTrapOutsideTheirSlots) {
    QVWord *pool = createPool("p");
    QVWord *lock = createLock();
    QVWord *journal = qvhostDefaultJournal(host);
    auto *text = static_cast<QVWord *>(host[QV_HOST_TEXT_SERVICES]);
    auto *loader = static_cast<QVWord *>(text[QV_TEXT_EXTENSION_LOADER]);
    auto *conversion = static_cast<QVWord *>(host[QV_HOST_CONVERSION_SERVICES]);
    auto *transcoder = static_cast<QVWord *>(conversion[QV_CONVERSION_TRANSCODER]);
    auto *context = static_cast<QVWord *>(qvhostDefaultMessageContext(host));
    auto *owner = static_cast<QVWord *>(context[3]);

    callAllBut(pool, 8, {2, 3, 4});
    callAllBut(lock, 8, {2, 3, 4});
    callAllBut(journal, 16, {4, 5, 6, 7, 12});
    callAllBut(text, QV_TEXT_SLOT_COUNT, {5, 31, 32, 99, 136, 138, 179});
    callAllBut(loader, 16, {9});
    callAllBut(conversion, 8, {2});
    callAllBut(transcoder, 8, {4});
    callAllBut(context, 8, {3});
    callAllBut(owner, 8, {5});
    auto *normaliser = slot<QVWord *(*)(QVWord *)>(text, QV_TEXT_CREATE_NORMALIZER)(text);
    static const QVChar nlsName[8] = {'q', 'v', 'n', 'l', 's', 'u', 'd', 'b'};
    auto *nlsData = static_cast<QVWord *>(
        slot<QVFindExtensionFn>(host, QV_HOST_FIND_EXTENSION)(host, nlsName, 8, 0));
    callAllBut(normaliser, 8, {0, 1});
    callAllBut(nlsData, 8, {});
    EXPECT_EQ(counters().unexpectedCalls, 5u + 5 + 11 + 185 + 15 + 7 + 7 + 7 + 7 + 6 + 8);
    slot<QVLockDestroyFn>(lock, QV_LOCK_DESTROY)(lock);
    destroy(pool);
}

using HandleDeathTest = Handle;

TEST_F(HandleDeathTest, TrapNamesObjectAndSlotAndAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    qvhostSetTrapAborts(host, 1);
    EXPECT_DEATH(slot<AnyCall>(host, 7)(host, 0, 0, 0), "qvhost: unexpected call to handle slot 7");
    QVWord *pool = createPool("p");
    EXPECT_DEATH(slot<AnyCall>(pool, 5)(pool, 0, 0, 0), "qvhost: unexpected call to pool slot 5");
    auto *text = static_cast<QVWord *>(host[QV_HOST_TEXT_SERVICES]);
    EXPECT_DEATH(slot<AnyCall>(text, 100)(text, 0, 0, 0),
                 "qvhost: unexpected call to text services slot 100");
    destroy(pool);
}

TEST_F(Handle, ValueSlotsLeadToTheHostsObjects) {
    EXPECT_EQ(host[QV_HOST_DEFAULT_JOURNAL], qvhostDefaultJournal(host));
    ASSERT_NE(qvhostDefaultJournal(host), nullptr);

    auto *word = static_cast<void **>(host[QV_HOST_DEFAULT_MSG_CONTEXT]);
    ASSERT_NE(word, nullptr);
    ASSERT_NE(*word, nullptr);
    EXPECT_EQ(*word, qvhostDefaultMessageContext(host));
    auto *context = static_cast<QVWord *>(*word);
    auto *owner = static_cast<QVWord *>(context[3]);
    EXPECT_EQ(owner[5], host) << "a context leads back to its handle";

    auto *text = static_cast<QVWord *>(host[QV_HOST_TEXT_SERVICES]);
    ASSERT_NE(text, nullptr);
    EXPECT_NE(text[QV_TEXT_EXTENSION_LOADER], nullptr);
    EXPECT_EQ(text[QV_TEXT_CURRENT_NORMALIZER], nullptr);
    EXPECT_EQ(text[QV_TEXT_NLSUDB_EXTENSION], nullptr);

    auto *conversion = static_cast<QVWord *>(host[QV_HOST_CONVERSION_SERVICES]);
    ASSERT_NE(conversion, nullptr);
    EXPECT_NE(conversion[QV_CONVERSION_TRANSCODER], nullptr);
}

TEST_F(Handle, SetValueReplacesOnlyTheFourValueSlots) {
    int marker = 0;
    QVWord *journal = qvhostDefaultJournal(host);
    qvhostSetValue(host, QV_HOST_DEFAULT_JOURNAL, nullptr);
    qvhostSetValue(host, QV_HOST_TEXT_SERVICES, &marker);
    qvhostSetValue(host, QV_HOST_DEFAULT_MSG_CONTEXT, nullptr);
    qvhostSetValue(host, QV_HOST_CONVERSION_SERVICES, nullptr);
    QVWord createPoolSlot = host[QV_HOST_CREATE_POOL];
    qvhostSetValue(host, QV_HOST_CREATE_POOL, &marker);
    qvhostSetValue(host, 500, &marker);  // outside the table: ignored

    EXPECT_EQ(host[QV_HOST_DEFAULT_JOURNAL], nullptr);
    EXPECT_EQ(host[QV_HOST_TEXT_SERVICES], &marker);
    EXPECT_EQ(host[QV_HOST_DEFAULT_MSG_CONTEXT], nullptr);
    EXPECT_EQ(host[QV_HOST_CONVERSION_SERVICES], nullptr);
    EXPECT_EQ(host[QV_HOST_CREATE_POOL], createPoolSlot);
    EXPECT_EQ(qvhostDefaultJournal(host), journal) << "the handle's own journal is still there";
}

TEST(HandleLifetime, DestroyReportsAndFreesWhatWasLeftAlive) {
    QVWord *host = qvhostCreate();
    ASSERT_NE(host, nullptr);
    QVPoolOptions options{};
    auto *pool = static_cast<QVWord *>(
        slot<QVCreatePoolFn>(host, QV_HOST_CREATE_POOL)(host, &options, nullptr, "forgotten"));
    ASSERT_NE(pool, nullptr);
    slot<QVPoolAllocateFn>(pool, QV_POOL_ALLOCATE)(pool, 100, 0);
    slot<QVPoolAllocateFn>(pool, QV_POOL_ALLOCATE)(pool, 5000, 0);
    QVLockOptions lockOptions{};
    ASSERT_NE(slot<QVCreateLockFn>(host, QV_HOST_CREATE_LOCK)(host, &lockOptions, 0, 0), nullptr);
    ASSERT_NE(qvhostJournalCreate(host), nullptr);

    testing::internal::CaptureStderr();
    qvhostDestroy(host);
    std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("pool \"forgotten\" was never destroyed (2 blocks, 5100 bytes live)"),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("lock "), std::string::npos) << report;
    EXPECT_NE(report.find("journal "), std::string::npos) << report;
}

TEST(HandleLifetime, CleanHandleSaysNothingOnDestroy) {
    QVWord *host = qvhostCreate();
    ASSERT_NE(host, nullptr);
    testing::internal::CaptureStderr();
    qvhostDestroy(host);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    qvhostDestroy(nullptr);
}

TEST(HandleLifetime, HandlesAreIndependent) {
    QVWord *a = qvhostCreate();
    QVWord *b = qvhostCreate();
    QVPoolOptions options{};
    auto *pool = static_cast<QVWord *>(
        slot<QVCreatePoolFn>(a, QV_HOST_CREATE_POOL)(a, &options, nullptr, "only in a"));
    EXPECT_EQ(qvhostLivePools(a), 1u);
    EXPECT_EQ(qvhostLivePools(b), 0u);
    EXPECT_EQ(qvhostFindPool(b, "only in a"), nullptr);
    qvhostFailAllocation(b, 1);
    EXPECT_NE(slot<QVPoolAllocateFn>(pool, QV_POOL_ALLOCATE)(pool, 8, 0), nullptr)
        << "b's fault injection does not reach a's pools";
    EXPECT_EQ(qvhostAllocationCount(a), 1u);
    EXPECT_EQ(qvhostAllocationCount(b), 0u);
    slot<QVPoolDestroyFn>(pool, QV_POOL_DESTROY)(pool);
    qvhostDestroy(a);
    qvhostDestroy(b);
}

}  // namespace
