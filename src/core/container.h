// The rules every container family shares: where its pool comes from, its
// lock, the copy of its key parts, and the rules of its iterators.
//
// Families call these instead of repeating them, so a pool is always named
// and owned the same way and an iterator that cannot be made is always the
// zeroed template.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

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

// Whether the families may act on key parts: a positive count comes with an
// array, and every part names a field of partSize >= 0 bytes at the end of an
// access path of one to five offsets. partType is not looked at: every value
// has a meaning (the named types, any other a QVChar string). A family given
// parts that fail here treats them as an invalid argument, before it touches
// any memory.
bool keyPartsUsable(const OmbrixKeyPart *parts, int32_t count);
inline bool keyDefinitionUsable(const OmbrixKeyDefinition &definition) {
    return keyPartsUsable(definition.keyParts, definition.keyPartCount);
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

// A failed constructor gives back what it took: its own pool whole, or each
// of `blocks` (null ones skipped) to the caller's pool. Returns null, what
// the constructor then returns.
std::nullptr_t abandonContainer(const ContainerPool &owned, std::initializer_list<void *> blocks);

// A host lock from the zeroed options, or null when the host refused one.
QVWord *createContainerLock();
// The container's lock unless `flags` holds OMBRIX_FLAG_NO_LOCK (then `lock`
// stays null). False only when a lock was wanted and the host refused it.
bool createLockUnlessUnlocked(uint32_t flags, QVWord **lock);

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

// The iterator factory's common part: an unlocked iterator pool `poolName`
// holding a zeroed state of `stateSize` bytes, with the operations filled in
// and `state` set. The zeroed `iter` template, with nothing left behind, when
// the pool or the state is refused; `*pool` is then null.
OmbrixIterator openIteratorRecord(const char *poolName, size_t stateSize, QVWord **pool,
                                  void *(*next)(OmbrixIterator *),
                                  int32_t (*size)(OmbrixIterator *),
                                  void (*release)(OmbrixIterator *),
                                  QVStatus (*reset)(OmbrixIterator *, void *));

// The iterator rules every family shares, written once. Each family lays its
// state out in its documented member order (a host may read it) and names
// the two members these rules need: the container walked and the iterator's
// own pool. The family supplies `restart`, which puts the position back at
// the first element and sets hasNext, and `count`, the container's size.
template <typename State, typename Container, Container *State::*kContainer,
          QVWord *State::*kPool>
struct IteratorRules {
    static State *stateOf(OmbrixIterator *it) { return static_cast<State *>(it->state); }
    static Container *container(OmbrixIterator *it) { return stateOf(it)->*kContainer; }

    // Its pool goes, with the state; a released or never-made iterator has
    // no state and nothing happens.
    static void release(OmbrixIterator *it) {
        if (it->state) releaseIteratorState(it, stateOf(it)->*kPool);
    }

    // On `container` when one is given, else on the same one. The restart's
    // status (a restart may need memory) is the reset's. An iterator without
    // state resets to nothing and reports 0.
    template <QVStatus (*restart)(OmbrixIterator *, State *)>
    static QVStatus reset(OmbrixIterator *it, void *container) {
        State *state = stateOf(it);
        if (!state) return OMBRIX_OK;
        if (container) state->*kContainer = static_cast<Container *>(container);
        return restart(it, state);
    }

    // The container's size, asked at each call (not when the walk began); 0
    // without state.
    template <auto count>
    static int32_t size(OmbrixIterator *it) {
        if (!it->state) return 0;
        return static_cast<int32_t>(count(container(it)));
    }

    // The factory: a state on `container`, restarted. The zeroed `iter`
    // template, with nothing left behind, when the container is null or the
    // pool, the state or the restart is refused.
    template <QVStatus (*restart)(OmbrixIterator *, State *), auto count>
    static OmbrixIterator open(const char *poolName, Container *container,
                               void *(*next)(OmbrixIterator *)) {
        return openNamed<restart>(poolName, container, next, size<count>, release,
                                  reset<restart>);
    }

    // The same factory for a family whose record holds operations of its
    // own names; `sizeOp`, `releaseOp` and `resetOp` call the rules above.
    template <QVStatus (*restart)(OmbrixIterator *, State *)>
    static OmbrixIterator openNamed(const char *poolName, Container *container,
                                    void *(*next)(OmbrixIterator *),
                                    int32_t (*sizeOp)(OmbrixIterator *),
                                    void (*releaseOp)(OmbrixIterator *),
                                    QVStatus (*resetOp)(OmbrixIterator *, void *)) {
        if (!container) return iter;
        QVWord *pool = nullptr;
        OmbrixIterator it = openIteratorRecord(poolName, sizeof(State), &pool, next, sizeOp,
                                               releaseOp, resetOp);
        if (!pool) return it;
        stateOf(&it)->*kContainer = container;
        stateOf(&it)->*kPool = pool;
        if (restart(&it, stateOf(&it)) != OMBRIX_OK) {
            release(&it);
            return iter;
        }
        return it;
    }
};

}  // namespace omb
