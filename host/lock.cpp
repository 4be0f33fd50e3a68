// Locks: one std::mutex each.
//
// The host interface says how a lock is made and taken (zero options, 0, 0;
// acquire with 1, 1) and that a lock is never taken again by its holder;
// anything else is reported as an unexpected call. The holder is tracked so
// that a release by a thread that does not hold the lock, or a second
// acquire by the holder, is reported instead of deadlocking or corrupting
// the mutex.
#include <cstdio>
#include <new>
#include <thread>

#include "internal.h"

namespace qvh {

struct Lock {
    Head<kWords[kLock]> head;
    Host *host = nullptr;
    std::mutex mutex;
    std::atomic<std::thread::id> holder{};
    int ignoredAcquires = 0;  // re-entries let through when traps do not abort
    Lock *prev = nullptr;
    Lock *next = nullptr;
};

namespace {

Lock *lockOf(QVWord *slots) { return objectOf<Lock, kWords[kLock]>(slots); }

void lockAcquire(QVWord *self, int32_t a, int32_t b) {
    Lock *lock = lockOf(self);
    if (a != 1 || b != 1) unexpected(lock->host, "lock", QV_LOCK_ACQUIRE, "arguments are not 1, 1");
    lock->host->lockAcquires.fetch_add(1, std::memory_order_relaxed);
    if (lock->holder.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
        unexpected(lock->host, "lock", QV_LOCK_ACQUIRE, "acquired again by its holder");
        ++lock->ignoredAcquires;
        return;
    }
    lock->mutex.lock();
    lock->holder.store(std::this_thread::get_id(), std::memory_order_relaxed);
}

void lockRelease(QVWord *self) {
    Lock *lock = lockOf(self);
    lock->host->lockReleases.fetch_add(1, std::memory_order_relaxed);
    if (lock->holder.load(std::memory_order_relaxed) != std::this_thread::get_id()) {
        unexpected(lock->host, "lock", QV_LOCK_RELEASE, "released by a thread not holding it");
        return;
    }
    if (lock->ignoredAcquires > 0) {
        --lock->ignoredAcquires;
        return;
    }
    lock->holder.store(std::thread::id{}, std::memory_order_relaxed);
    lock->mutex.unlock();
}

void unregister(Lock *lock) {
    Host *host = lock->host;
    std::lock_guard<std::mutex> guard(host->registryMutex);
    if (lock->prev)
        lock->prev->next = lock->next;
    else
        host->locks = lock->next;
    if (lock->next) lock->next->prev = lock->prev;
}

void lockDestroy(QVWord *self) {
    Lock *lock = lockOf(self);
    Host *host = lock->host;
    if (lock->holder.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
        unexpected(host, "lock", QV_LOCK_DESTROY, "destroyed while held");
        lock->mutex.unlock();
    } else if (lock->holder.load(std::memory_order_relaxed) != std::thread::id{}) {
        // Held by another thread: freeing it would pull the mutex from under
        // its holder. Report and keep it.
        unexpected(host, "lock", QV_LOCK_DESTROY, "destroyed while another thread holds it");
        return;
    }
    unregister(lock);
    delete lock;
    host->locksDestroyed.fetch_add(1, std::memory_order_relaxed);
}

bool isZero(const QVLockOptions *options) {
    return options && options->reserved[0] == 0 && options->reserved[1] == 0 &&
           options->reserved[2] == 0;
}

void *createLock(QVWord *handle, const QVLockOptions *options, int32_t a, int32_t b) {
    Host *host = hostOf(handle);
    if (!isZero(options) || a != 0 || b != 0)
        unexpected(host, "handle", QV_HOST_CREATE_LOCK, "lock options or arguments are not zero");
    if (host->lockFaults.shouldFail()) return nullptr;
    auto *lock = new (std::nothrow) Lock;
    if (!lock) return nullptr;
    initHead<kLock>(lock->head, lock, host);
    lock->head.slots[QV_LOCK_DESTROY] = slotOf(&lockDestroy);
    lock->head.slots[QV_LOCK_ACQUIRE] = slotOf(&lockAcquire);
    lock->head.slots[QV_LOCK_RELEASE] = slotOf(&lockRelease);
    lock->host = host;

    std::lock_guard<std::mutex> guard(host->registryMutex);
    lock->next = host->locks;
    if (host->locks) host->locks->prev = lock;
    host->locks = lock;
    host->locksCreated.fetch_add(1, std::memory_order_relaxed);
    return lock->head.slots;
}

}  // namespace

void installLockServices(Host *host) {
    host->head.slots[QV_HOST_CREATE_LOCK] = slotOf(&createLock);
}

void releaseLeakedLocks(Host *host) {
    while (host->locks) {
        Lock *lock = host->locks;
        std::fprintf(stderr, "qvhost: lock %p was never destroyed; freeing it\n",
                     static_cast<void *>(lock->head.slots));
        if (lock->holder.load(std::memory_order_relaxed) == std::this_thread::get_id())
            lock->mutex.unlock();
        unregister(lock);
        delete lock;
        host->locksDestroyed.fetch_add(1, std::memory_order_relaxed);
    }
}

}  // namespace qvh
