#include "container.h"

#include <cstddef>
#include <cstring>

namespace omb {

// Hosts read these records by offset.
static_assert(sizeof(QVPoolOptions) == 24 && sizeof(QVLockOptions) == 24);
static_assert(sizeof(OmbrixKeyPart) == 36);
static_assert(offsetof(OmbrixKeyPart, partSize) == 4 && offsetof(OmbrixKeyPart, levels) == 8);
static_assert(offsetof(OmbrixKeyPart, offsets) == 12 && offsetof(OmbrixKeyPart, partOption) == 32);
static_assert(sizeof(OmbrixKeyDefinition) == 24);
static_assert(offsetof(OmbrixKeyDefinition, keyPartCount) == 4);
static_assert(offsetof(OmbrixKeyDefinition, keyParts) == 8);
static_assert(offsetof(OmbrixKeyDefinition, reverseOrder) == 16);
static_assert(sizeof(OmbrixIterator) == 48);
static_assert(offsetof(OmbrixIterator, next) == 8 && offsetof(OmbrixIterator, size) == 16);
static_assert(offsetof(OmbrixIterator, release) == 24 && offsetof(OmbrixIterator, reset) == 32);
static_assert(offsetof(OmbrixIterator, state) == 40);
static_assert(sizeof(OmbrixBlob) == 24 && offsetof(OmbrixBlob, blobData) == 16);

const QVPoolOptions poolParms = {};
const QVLockOptions lockParms = {};
const OmbrixIterator iter = {};

ContainerPool acquireContainerPool(QVWord *callerPool, uint32_t poolFlags, const char *name) {
    if (callerPool) return {callerPool, false};
    QVPoolOptions options = poolParms;
    options.flags = poolFlags;
    return {hostCreatePool(currentHost(), options, nullptr, name), true};
}

void releaseContainerPool(const ContainerPool &owned) {
    if (owned.ownsPool) poolDestroy(owned.pool);
}

std::nullptr_t abandonContainer(const ContainerPool &owned, std::initializer_list<void *> blocks) {
    if (owned.ownsPool) {
        releaseContainerPool(owned);
    } else {
        for (void *block : blocks) poolFree(owned.pool, block);
    }
    return nullptr;
}

QVWord *createContainerLock() {
    QVLockOptions options = lockParms;
    return hostCreateLock(currentHost(), options);
}

bool createLockUnlessUnlocked(uint32_t flags, QVWord **lock) {
    if (flags & OMBRIX_FLAG_NO_LOCK) return true;
    *lock = createContainerLock();
    return *lock != nullptr;
}

OmbrixKeyPart *copyKeyParts(QVWord *pool, const OmbrixKeyPart *parts, int32_t count,
                            bool *failed) {
    *failed = false;
    if (count <= 0 || !parts) return nullptr;
    size_t bytes = sizeof(OmbrixKeyPart) * static_cast<size_t>(count);
    auto *copy = static_cast<OmbrixKeyPart *>(poolAllocate(pool, bytes, 0));
    if (!copy) {
        *failed = true;
        return nullptr;
    }
    std::memcpy(copy, parts, bytes);
    return copy;
}

void *openIteratorState(const char *poolName, size_t stateSize, QVWord **iteratorPool) {
    // Iterators never lock, so their pools are created unlocked.
    QVPoolOptions options = poolParms;
    options.flags = OMBRIX_FLAG_NO_LOCK;
    QVWord *pool = hostCreatePool(currentHost(), options, nullptr, poolName);
    *iteratorPool = pool;
    if (!pool) return nullptr;
    void *state = poolAllocateZeroed(pool, stateSize);
    if (!state) {
        poolDestroy(pool);
        *iteratorPool = nullptr;
    }
    return state;
}

void releaseIteratorState(OmbrixIterator *it, QVWord *iteratorPool) {
    if (!it->state) return;
    poolDestroy(iteratorPool);
    it->state = nullptr;
}

OmbrixIterator openIteratorRecord(const char *poolName, size_t stateSize, QVWord **pool,
                                  void *(*next)(OmbrixIterator *),
                                  int32_t (*size)(OmbrixIterator *),
                                  void (*release)(OmbrixIterator *),
                                  QVStatus (*reset)(OmbrixIterator *, void *)) {
    OmbrixIterator it = iter;
    void *state = openIteratorState(poolName, stateSize, pool);
    if (!state) return it;
    it.next = next;
    it.size = size;
    it.release = release;
    it.reset = reset;
    it.state = state;
    return it;
}

}  // namespace omb
