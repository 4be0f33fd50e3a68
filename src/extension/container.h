// The rules every container family shares: where its pool comes from, its
// lock, the copy of its key parts, and the steps of an iterator factory.
//
// Families call these instead of repeating them, so a pool is always named
// and owned the same way and an iterator that cannot be made is always the
// zeroed template.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "host_calls.h"
#include "ombrix/container.h"

namespace omb {

// Follows a key part's access path: the first offset lies inside the item,
// every further level reads the pointer found so far and offsets from it.
// A path longer than five levels is cut at five.
inline const unsigned char *keyFieldAddress(const void *item, const OmbrixKeyPart &part) {
    const unsigned char *address = static_cast<const unsigned char *>(item) + part.offsets[0];
    int32_t levels = part.levels > OMBRIX_MAX_LEVELS ? OMBRIX_MAX_LEVELS : part.levels;
    for (int32_t level = 1; level < levels; ++level) {
        const unsigned char *next;
        std::memcpy(&next, address, sizeof next);
        address = next + part.offsets[level];
    }
    return address;
}

// The read-only zeroed templates; copied, never written.
extern const QVPoolOptions poolParms;
extern const QVLockOptions lockParms;
extern const OmbrixIterator iter;

// The pool a container allocates from, and whether it must destroy it.
struct ContainerPool {
    QVWord *pool;
    bool ownsPool;
};

// Uses the caller's pool when one is given; otherwise asks the host for one
// named `name`, with `poolFlags` as the first member of the options and no
// journal. `pool` is null in the result when the host refused.
ContainerPool acquireContainerPool(QVWord *callerPool, uint32_t poolFlags, const char *name);
// Destroys the pool if the container created it.
void releaseContainerPool(const ContainerPool &owned);

// A host lock from the zeroed options, or null when the host refused one.
QVWord *createContainerLock();

// Holds a container's lock for one operation; a null lock is no lock.
class LockScope {
  public:
    explicit LockScope(QVWord *lock) : lock_(lock) {
        if (lock_) lockAcquire(lock_);
    }
    ~LockScope() {
        if (lock_) lockRelease(lock_);
    }
    LockScope(const LockScope &) = delete;
    LockScope &operator=(const LockScope &) = delete;

  private:
    QVWord *lock_;
};

// Copies `count` key parts into `pool`; null when count <= 0 or out of memory
// (`failed` tells the two apart).
OmbrixKeyPart *copyKeyParts(QVWord *pool, const OmbrixKeyPart *parts, int32_t count,
                            bool *failed);

// Iterator factory steps: creates the unlocked iterator pool `poolName` and a
// zeroed state of `stateSize` bytes in it. Returns the state, or null (with
// nothing left behind) when the pool or the state cannot be had; the caller
// then returns the zeroed `iter` template.
void *openIteratorState(const char *poolName, size_t stateSize, QVWord **iteratorPool);
// Destroys the iterator's pool (freeing its state) and clears `state`.
void releaseIteratorState(OmbrixIterator *it, QVWord *iteratorPool);

// The key comparison of the lists' FindByKey. The key length n is the call's
// key size for keyMode 1, else the sum of the part sizes; n <= 0 finds
// nothing. Both buffers hold at least 8 bytes, because keyMode 2 extraction
// writes the 8-byte item pointer whatever n is; the first n bytes compare.
int32_t keySearchLength(const OmbrixKeyDefinition &definition, int32_t keySize);

class KeySearch {
  public:
    // Takes two zero-filled buffers from `pool` and forms the searched key
    // from `key` (already a key, not an item). ready() is false when a
    // buffer was refused; nothing is then held.
    KeySearch(QVWord *pool, const OmbrixKeyDefinition &definition, const void *key,
              int32_t length);
    ~KeySearch();
    KeySearch(const KeySearch &) = delete;
    KeySearch &operator=(const KeySearch &) = delete;

    bool ready() const { return searched_ && candidate_; }
    // Whether the key extracted from `element` equals the searched key. In
    // keyMode 1 only an element recorded with key size n can match.
    bool matches(const void *element, int64_t recordedKeySize);

  private:
    QVWord *pool_;
    const OmbrixKeyDefinition &definition_;
    int32_t length_;
    void *searched_;
    void *candidate_;
};

}  // namespace omb
