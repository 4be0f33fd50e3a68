// qvhost internals shared by its sources.
//
// Every host object is a Head<N>: N slot words, then a pointer back to the
// C++ object that contains the head and one to the host that made it. The
// library only ever sees the address of the slots. A slot the host
// interface does not define holds a trap of its own (one function per kind
// and slot index), so an unexpected call can name the object and the slot
// however it was called.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "ombrix/container.h"  // the status codes
#include "qvhost.h"

#if defined(__SANITIZE_ADDRESS__)
#define QVHOST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QVHOST_ASAN 1
#endif
#endif
#ifndef QVHOST_ASAN
#define QVHOST_ASAN 0
#endif

namespace qvh {

struct Host;

// The kinds of host object, their table lengths and the names used when
// one of them is called through a slot it does not define.
enum Kind : int {
    kHandle,
    kPool,
    kLock,
    kJournal,
    kTextServices,
    kLoader,
    kConversionServices,
    kTranscoder,
    kMessageContext,
    kContextOwner,
    kNormalizer,
    kNlsData,
    kKindCount
};

inline constexpr int kWords[kKindCount] = {QV_HOST_SLOT_COUNT, 8, 8, 16, QV_TEXT_SLOT_COUNT,
                                           16, 8, 8, 8, 8, 8, 8};
inline constexpr const char *kKindNames[kKindCount] = {
    "handle",
    "pool",
    "lock",
    "journal",
    "text services",
    "extension loader",
    "conversion services",
    "transcoder",
    "message context",
    "context owner",
    "normaliser",
    "qvnlsudb extension",
};

template <int N>
struct Head {
    QVWord slots[N];
    void *object;  // the C++ object holding this head
    Host *host;
};

template <typename T, int N>
T *objectOf(QVWord *slots) {
    return static_cast<T *>(reinterpret_cast<Head<N> *>(slots)->object);
}

// Counts a call the host interface does not allow and returns 0, or, while
// traps abort (the default), reports it on standard error and aborts.
// `detail` may be null.
uintptr_t unexpected(Host *host, const char *object, int slot, const char *detail = nullptr);

template <int K, int S>
uintptr_t trap(QVWord *self) {
    // Callers pass whatever arguments they like; under the platform's calling
    // convention only the first, the object, is read here.
    Host *host = self ? reinterpret_cast<Head<kWords[K]> *>(self)->host : nullptr;
    return unexpected(host, kKindNames[K], S);
}

using TrapFn = uintptr_t (*)(QVWord *);

template <int K, std::size_t... S>
constexpr std::array<TrapFn, sizeof...(S)> makeTraps(std::index_sequence<S...>) {
    return {&trap<K, static_cast<int>(S)>...};
}

template <int K>
inline constexpr auto kTraps = makeTraps<K>(std::make_index_sequence<kWords[K]>{});

// Fills a head with the traps of its kind; the caller then stores the slots
// and values it defines.
template <int K>
void initHead(Head<kWords[K]> &head, void *object, Host *host) {
    for (int i = 0; i < kWords[K]; ++i) head.slots[i] = reinterpret_cast<QVWord>(kTraps<K>[i]);
    head.object = object;
    head.host = host;
}

template <typename Fn>
QVWord slotOf(Fn fn) {
    return reinterpret_cast<QVWord>(fn);
}

// "Fail the nth from now" fault injection; `from` keeps failing after it.
// Nothing is counted while disarmed, so the hot path is one relaxed load.
class Countdown {
  public:
    void arm(uint64_t n, bool from) {
        target_.store(0, std::memory_order_relaxed);
        seen_.store(0, std::memory_order_relaxed);
        from_.store(from, std::memory_order_relaxed);
        target_.store(n, std::memory_order_release);
    }
    bool armed() const { return target_.load(std::memory_order_relaxed) != 0; }
    bool shouldFail() {
        uint64_t target = target_.load(std::memory_order_acquire);
        if (target == 0) return false;
        uint64_t k = seen_.fetch_add(1, std::memory_order_relaxed) + 1;
        if (from_.load(std::memory_order_relaxed)) return k >= target;
        if (k != target) return false;
        uint64_t expected = target;  // disarm, unless re-armed meanwhile
        target_.compare_exchange_strong(expected, 0, std::memory_order_relaxed);
        return true;
    }

  private:
    std::atomic<uint64_t> target_{0};
    std::atomic<uint64_t> seen_{0};
    std::atomic<bool> from_{false};
};

// A statistic with a single writer at a time (the pool's lock holder, or the
// one thread an unlocked pool belongs to) and readers anywhere: a relaxed
// load and store, no read-modify-write.
class Stat {
  public:
    uint64_t get() const { return v_.load(std::memory_order_relaxed); }
    void add(uint64_t d) { v_.store(get() + d, std::memory_order_relaxed); }
    void sub(uint64_t d) { v_.store(get() - d, std::memory_order_relaxed); }
    void set(uint64_t v) { v_.store(v, std::memory_order_relaxed); }

  private:
    std::atomic<uint64_t> v_{0};
};

struct Pool;
struct Lock;
struct Journal;

struct TextServices {
    Head<kWords[kTextServices]> head;
};
struct Loader {
    Head<kWords[kLoader]> head;
};
struct ConversionServices {
    Head<kWords[kConversionServices]> head;
};
struct Transcoder {
    Head<kWords[kTranscoder]> head;
};
struct MessageContext {
    Head<kWords[kMessageContext]> head;
};
struct ContextOwner {
    Head<kWords[kContextOwner]> head;
};

struct Normalizer {
    Head<kWords[kNormalizer]> head;
};
struct NlsData {
    Head<kWords[kNlsData]> head;
};

struct Extension {
    QVHostExtensionFactory factory;
    void *data;
    void *made;  // cached result, null until the factory gave one
};

// Bits of Host::allocationMode: while it is 0 (and the zero flag is not
// given) a pool allocation needs no fill and no fault check.
inline constexpr uint32_t kModeFaults = 1;
inline constexpr uint32_t kModeScribble = 2;

struct Host {
    Head<kWords[kHandle]> head;

    std::atomic<bool> trapAborts{true};
    std::atomic<bool> scribble{true};
    // Each live pool keeps a copy, so its fast path reads its own word; the
    // copies change with this under registryMutex (refreshAllocationMode).
    std::atomic<uint32_t> allocationMode{kModeScribble};

    Countdown allocationFaults;
    Countdown poolFaults;
    Countdown lockFaults;

    // Allocation calls: those of destroyed pools and those that failed; the
    // live pools keep their own count.
    std::atomic<uint64_t> retiredAllocations{0};
    std::atomic<uint64_t> failedAllocations{0};

    std::atomic<uint64_t> poolsCreated{0};
    std::atomic<uint64_t> poolsDestroyed{0};
    std::atomic<uint64_t> locksCreated{0};
    std::atomic<uint64_t> locksDestroyed{0};
    std::atomic<uint64_t> lockAcquires{0};
    std::atomic<uint64_t> lockReleases{0};
    std::atomic<uint64_t> unexpectedCalls{0};
    std::atomic<uint32_t> poolSerial{0};

    // Live pools, locks, and journals made through qvhostJournalCreate, each
    // list newest first; guarded by registryMutex.
    std::mutex registryMutex;
    Pool *pools = nullptr;
    Lock *locks = nullptr;
    Journal *journals = nullptr;
    uint64_t livePools = 0;

    // Chunks of destroyed pools, kept for the next pools so that a pool's
    // life does not cost fresh pages from the system; guarded by chunkMutex.
    std::mutex chunkMutex;
    void *spareChunks = nullptr;
    uint64_t spareChunkCount = 0;
    // Freed large blocks, smallest first, kept for later large requests
    // for the same reason; also guarded by chunkMutex.
    void *spareLarge = nullptr;
    uint64_t spareLargeBytes = 0;
    uint64_t spareLargeCount = 0;

    std::recursive_mutex extensionMutex;
    std::map<std::string, Extension> extensions;

    std::mutex messageMutex;
    QVHostMessageCall lastMessage{};
    uint64_t messageCalls = 0;

    Journal *defaultJournal = nullptr;
    TextServices text;
    Loader loader;
    ConversionServices conversion;
    Transcoder transcoder;
    MessageContext context;
    ContextOwner owner;
    Normalizer normalizer;  // made by text services slot 99, then current
    NlsData nlsData;        // the "qvnlsudb" extension
    void *defaultContextWord = nullptr;  // handle slot 35 points here
};

inline Host *hostOf(QVWord *handle) {
    return handle ? reinterpret_cast<Head<kWords[kHandle]> *>(handle)->host : nullptr;
}

// Recomputes the allocation mode from scribble and the allocation countdown
// and hands it to every live pool.
void refreshAllocationMode(Host *host);

// Set-up of the parts of a handle that live in other sources.
void installPoolServices(Host *host);     // handle slot 6
void installLockServices(Host *host);     // handle slot 3
void installMessageServices(Host *host);  // handle slots 229 .. 233
void installTextServices(Host *host);     // slots 9, 27 and 43 with their objects
void installNormalizerServices(Host *host);  // text services 99 and 136, "qvnlsudb"
Journal *newJournal(Host *host, bool ownedByHandle);
void deleteJournal(Journal *journal);
QVWord *journalSlots(Journal *journal);

// Frees what the library left alive when the handle goes; reports each.
void releaseLeakedPools(Host *host);
void releaseLeakedLocks(Host *host);
void releaseLeakedJournals(Host *host);
void releaseSpareChunks(Host *host);

// Finds an extension by its QVChar name (shared by handle slot 9 and the
// text services' loader).
void *findExtension(Host *host, const QVChar *name, int32_t length);

// Shared by the journal and the message services (journal.cpp).
std::string formatText(const char *format, va_list ap);
// Copies text into a char buffer of `capacity` bytes, always terminated; a
// text that does not fit is cut short and gives OMBRIX_E_BUFFER_TOO_SMALL.
QVStatus copyToBuffer(const std::string &text, uintptr_t buffer, uintptr_t capacity);

}  // namespace qvh
