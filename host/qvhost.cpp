// The handle: its table, the value slots and the objects behind them, the
// counters, fault injection and the trap for calls outside the interface.
#include <cstdio>
#include <cstdlib>
#include <new>

#include "internal.h"

namespace qvh {

uintptr_t unexpected(Host *host, const char *object, int slot, const char *detail) {
    if (host) host->unexpectedCalls.fetch_add(1, std::memory_order_relaxed);
    if (host && !host->trapAborts.load(std::memory_order_relaxed)) return 0;
    if (detail)
        std::fprintf(stderr, "qvhost: unexpected call to %s slot %d: %s\n", object, slot, detail);
    else
        std::fprintf(stderr, "qvhost: unexpected call to %s slot %d\n", object, slot);
    std::abort();
}

namespace {

// The default message context and its owner: the context's word 3 is the
// owner, the owner's word 5 the handle, which is how a context leads back to
// its host.
constexpr int kContextOwnerWord = 3;
constexpr int kOwnerHandleWord = 5;

void installDefaultContext(Host *host) {
    initHead<kContextOwner>(host->owner.head, &host->owner, host);
    host->owner.head.slots[kOwnerHandleWord] = host->head.slots;
    initHead<kMessageContext>(host->context.head, &host->context, host);
    host->context.head.slots[kContextOwnerWord] = host->owner.head.slots;
    host->defaultContextWord = host->context.head.slots;
    host->head.slots[QV_HOST_DEFAULT_MSG_CONTEXT] = &host->defaultContextWord;
}

}  // namespace

}  // namespace qvh

using qvh::Host;

extern "C" {

QVWord *qvhostCreate(void) {
    auto *host = new (std::nothrow) Host;
    if (!host) return nullptr;
    qvh::initHead<qvh::kHandle>(host->head, host, host);
    host->defaultJournal = qvh::newJournal(host, true);
    if (!host->defaultJournal) {
        delete host;
        return nullptr;
    }
    host->head.slots[QV_HOST_DEFAULT_JOURNAL] = qvh::journalSlots(host->defaultJournal);
    qvh::installLockServices(host);
    qvh::installPoolServices(host);
    qvh::installTextServices(host);
    qvh::installMessageServices(host);
    qvh::installDefaultContext(host);
    return host->head.slots;
}

void qvhostDestroy(QVWord *handle) {
    Host *host = qvh::hostOf(handle);
    if (!host) return;
    qvh::releaseLeakedPools(host);
    qvh::releaseLeakedLocks(host);
    qvh::releaseLeakedJournals(host);
    qvh::releaseSpareChunks(host);
    qvh::deleteJournal(host->defaultJournal);
    delete host;
}

void qvhostSetTrapAborts(QVWord *handle, int on) {
    if (Host *host = qvh::hostOf(handle)) host->trapAborts.store(on != 0, std::memory_order_relaxed);
}

void qvhostFailAllocation(QVWord *handle, uint64_t n) {
    Host *host = qvh::hostOf(handle);
    if (!host) return;
    host->allocationFaults.arm(n, false);
    qvh::refreshAllocationMode(host);
}

void qvhostFailAllocationsFrom(QVWord *handle, uint64_t n) {
    Host *host = qvh::hostOf(handle);
    if (!host) return;
    host->allocationFaults.arm(n, true);
    qvh::refreshAllocationMode(host);
}

void qvhostFailPoolCreation(QVWord *handle, uint64_t n) {
    if (Host *host = qvh::hostOf(handle)) host->poolFaults.arm(n, false);
}

void qvhostFailLockCreation(QVWord *handle, uint64_t n) {
    if (Host *host = qvh::hostOf(handle)) host->lockFaults.arm(n, false);
}

void qvhostSetScribble(QVWord *handle, int on) {
    Host *host = qvh::hostOf(handle);
    if (!host) return;
    host->scribble.store(on != 0, std::memory_order_relaxed);
    qvh::refreshAllocationMode(host);
}

void qvhostCounters(QVWord *handle, QVHostCounters *out) {
    if (!out) return;
    *out = QVHostCounters{};
    Host *host = qvh::hostOf(handle);
    if (!host) return;
    auto get = [](const std::atomic<uint64_t> &v) { return v.load(std::memory_order_relaxed); };
    out->poolsCreated = get(host->poolsCreated);
    out->poolsDestroyed = get(host->poolsDestroyed);
    out->locksCreated = get(host->locksCreated);
    out->locksDestroyed = get(host->locksDestroyed);
    out->lockAcquires = get(host->lockAcquires);
    out->lockReleases = get(host->lockReleases);
    out->unexpectedCalls = get(host->unexpectedCalls);
}

void qvhostSetValue(QVWord *handle, int slot, void *value) {
    Host *host = qvh::hostOf(handle);
    if (!host) return;
    switch (slot) {
    case QV_HOST_DEFAULT_JOURNAL:
    case QV_HOST_TEXT_SERVICES:
    case QV_HOST_DEFAULT_MSG_CONTEXT:
    case QV_HOST_CONVERSION_SERVICES: host->head.slots[slot] = value; break;
    default: break;
    }
}

void *qvhostDefaultMessageContext(QVWord *handle) {
    Host *host = qvh::hostOf(handle);
    return host ? host->context.head.slots : nullptr;
}

}  // extern "C"
