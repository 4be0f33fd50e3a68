// A fresh handle per test, with typed calls through the slots of its
// objects. Traps count instead of aborting, and tear-down fails the test if
// anything was counted that the test did not expect.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <thread>

#include "qvhost.h"

// Under AddressSanitizer the host gives every block a malloc of its own, so
// freed memory is the sanitizer's and may not be looked at.
#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_ASAN 1
#endif
#endif
#ifndef UNDER_ASAN
#define UNDER_ASAN 0
#endif

template <typename Fn>
Fn slot(QVWord *object, int index) {
    return reinterpret_cast<Fn>(object[index]);
}

inline void *allocate(QVWord *pool, uint64_t size, uint32_t flags = 0) {
    return slot<QVPoolAllocateFn>(pool, QV_POOL_ALLOCATE)(pool, size, flags);
}
inline void release(QVWord *pool, void *block) {
    slot<QVPoolFreeFn>(pool, QV_POOL_FREE)(pool, block);
}
inline void destroy(QVWord *pool) { slot<QVPoolDestroyFn>(pool, QV_POOL_DESTROY)(pool); }

// Hands the arguments after `marker` to `call` as a va_list, the way the
// library's wrappers hand theirs to a slot.
template <typename Call>
QVStatus withArgs(Call &&call, int marker, ...) {
    va_list ap;
    va_start(ap, marker);
    QVStatus s = call(ap);
    va_end(ap);
    return s;
}

// Runs `work(0)` and `work(1)` at once, each on a thread of its own.
template <typename Work>
void inTwoThreads(Work work) {
    std::thread a(work, 0);
    std::thread b(work, 1);
    a.join();
    b.join();
}

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host = qvhostCreate();
        ASSERT_NE(host, nullptr);
        qvhostSetTrapAborts(host, 0);
        qvhostJournalSetEcho(qvhostDefaultJournal(host), 0);
    }

    void TearDown() override {
        EXPECT_EQ(counters().unexpectedCalls, expectedUnexpected);
        qvhostDestroy(host);
    }

    QVHostCounters counters() const {
        QVHostCounters c{};
        qvhostCounters(host, &c);
        return c;
    }

    QVWord *createPool(const char *name, uint32_t flags = 0, void *journal = nullptr) {
        QVPoolOptions options{};
        options.flags = flags;
        return static_cast<QVWord *>(
            slot<QVCreatePoolFn>(host, QV_HOST_CREATE_POOL)(host, &options, journal, name));
    }
    QVWord *createLock() {
        QVLockOptions options{};
        return static_cast<QVWord *>(
            slot<QVCreateLockFn>(host, QV_HOST_CREATE_LOCK)(host, &options, 0, 0));
    }

    static QVHostPoolStats stats(QVWord *pool) {
        QVHostPoolStats s{};
        qvhostPoolStats(pool, &s);
        return s;
    }

    QVWord *host = nullptr;
    uint64_t expectedUnexpected = 0;
};
