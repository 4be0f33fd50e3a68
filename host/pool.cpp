// Pools: size-class free lists over bump-carved chunks.
//
// A request of up to kLargestCarved bytes is rounded up to its class and
// taken from the class's free list, or else carved from the current chunk.
// Classes go up by 16 bytes to 512, then by 512 bytes to 8 KiB, so a block
// of a few kilobytes (a tree's block of nodes, a short array) is carved
// too, without a malloc and its links of its own. Larger requests get a
// malloc of their own, kept on an intrusive list so that destroying the
// pool frees everything at once. The chunks of a destroyed pool go to a
// small cache on the handle, from which later pools take theirs before
// asking malloc. Freed large blocks go to a second cache on the handle, so
// that a growing array or table that is made again and again does not hand
// its pages back to the system and fault them in anew each time (a page
// fault costs microseconds).
//
// Every block is preceded by a 16-byte header: the size asked for, and a
// word with the block's state, class and the pool's tag, so a block can be
// freed without its size and a double free or a block of another pool is
// caught. Blocks are 16-byte aligned: chunks are (see below), and every
// carved stride is a multiple of 16.
//
// Chunks are cache-line aligned, and a class whose stride is a whole number
// of lines (48 bytes asked, 64 carved) is carved at a line boundary: such a
// block never straddles two lines. Carved at an arbitrary 16-byte address,
// half of those blocks would, and touching one would cost two cache misses.
//
// Locked and unlocked pools get different slot functions, so an unlocked
// pool never looks at its mutex. The common case (a block of at most 512
// bytes, no fill, no fault injection armed) is handled inline; everything
// else, medium classes included, goes through the out-of-line slow paths.
//
// Under AddressSanitizer every block takes the large path, one malloc per
// block, so the sanitizer sees each overflow and use after free; statistics
// and fault injection are the same.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include <sys/mman.h>

#include "internal.h"

namespace qvh {

namespace {

constexpr uint64_t kChunkBytes = 64 * 1024;
constexpr uint64_t kCacheLine = 64;
constexpr uint64_t kHugePage = 2ull << 20;
constexpr uint64_t kSpareChunkLimit = 64;  // 4 MiB kept per handle at most
// Freed large blocks kept per handle: at most this many bytes and blocks.
// A chained hash map of a million entries has passed through 192 MiB of
// slot arrays, the last two of 48 and 96 MiB, and one made again after it
// asks for the same; a list grown by half from 16 slots to a million 8-byte
// elements has passed through about 36 MiB. This keeps either whole, so
// that such a container made again does not fault its pages in afresh.
constexpr uint64_t kSpareLargeByteLimit = 256ull << 20;
constexpr uint64_t kSpareLargeCountLimit = 128;
constexpr uint64_t kGranule = 16;
constexpr uint64_t kLargestSmall = 512;  // the inline path's limit
constexpr uint64_t kMediumGranule = 512;
constexpr uint64_t kLargestCarved = 8192;
constexpr unsigned kSmallClassCount = kLargestSmall / kGranule;  // classes 1 .. 32
constexpr unsigned kClassCount =
    kSmallClassCount + (kLargestCarved - kLargestSmall) / kMediumGranule;  // and 33 .. 47
constexpr uint64_t kLargeClass = 0;
constexpr uint32_t kLiveBlock = 0x4c495645u;
constexpr uint32_t kFreedBlock = 0x46524545u;
constexpr unsigned char kScribbleAllocated = 0xA5;
constexpr unsigned char kScribbleFreed = 0xDD;

// The header's second word: state in the low 32 bits, the class in the
// next 16, the pool's tag in the top 16.
constexpr uint64_t kClassMask = 0xffffull << 32;

constexpr uint64_t headerWord(uint32_t state, uint64_t sizeClass, uint16_t tag) {
    return state | sizeClass << 32 | static_cast<uint64_t>(tag) << 48;
}
constexpr unsigned classOf(uint64_t word) { return static_cast<unsigned>((word >> 32) & 0xffff); }
// The same block's word once it is freed.
constexpr uint64_t freedWord(uint64_t liveWord) {
    return (liveWord & ~uint64_t{0xffffffff}) | kFreedBlock;
}

struct BlockHeader {
    uint64_t size;  // as asked for
    uint64_t word;
};
static_assert(sizeof(BlockHeader) == kGranule);

// Precedes the header of a large block. `capacity` is what the block can
// hold, which may exceed the size asked for when it was reused.
struct LargeLinks {
    LargeLinks *prev;
    LargeLinks *next;
    uint64_t capacity;
    uint64_t reserved;
};
static_assert(sizeof(LargeLinks) == 2 * kGranule);

struct Chunk {
    Chunk *next;
    uint64_t reserved;
};
static_assert(sizeof(Chunk) <= kCacheLine && kChunkBytes % kCacheLine == 0);

}  // namespace

// Standard layout with the head first, so the slots' address is the pool's.
struct Pool {
    Head<kWords[kPool]> head;
    Host *host;
    std::atomic<uint32_t> mode;  // the host's allocationMode
    uint64_t liveWord;  // headerWord(kLiveBlock, 0, tag)
    void *freeLists[kClassCount + 1];
    char *cursor;
    char *end;
    Stat liveBytes;
    Stat peakBytes;
    Stat allocations;  // blocks handed out
    Stat frees;

    Chunk *chunks;
    uint64_t chunkBytes;  // held in chunks
    LargeLinks large;  // sentinel of the large block ring
    uint32_t flags;
    uint16_t tag;
    bool locked;
    void *journal;
    char *name;
    std::mutex mutex;
    Pool *prev;  // the handle's registry
    Pool *next;
};
static_assert(std::is_standard_layout_v<Pool>);

namespace {

Pool *poolOf(QVWord *slots) { return reinterpret_cast<Pool *>(slots); }

// Holds the pool's mutex for the scope when the pool is a locked one.
template <bool Locked>
class PoolGuard {
  public:
    explicit PoolGuard(Pool *pool) : pool_(pool) {
        if constexpr (Locked) pool_->mutex.lock();
    }
    ~PoolGuard() {
        if constexpr (Locked) pool_->mutex.unlock();
    }
    PoolGuard(const PoolGuard &) = delete;
    PoolGuard &operator=(const PoolGuard &) = delete;

  private:
    Pool *pool_;
};

#define QVHOST_HOT inline __attribute__((always_inline))

QVHOST_HOT unsigned sizeClassOf(uint64_t size) {
    if (size <= kGranule) return 1;
    if (size <= kLargestSmall) return static_cast<unsigned>((size + kGranule - 1) / kGranule);
    return kSmallClassCount +
           static_cast<unsigned>((size - kLargestSmall + kMediumGranule - 1) / kMediumGranule);
}

// What a block of the class holds.
QVHOST_HOT uint64_t classBytes(unsigned sizeClass) {
    return sizeClass <= kSmallClassCount
               ? sizeClass * kGranule
               : kLargestSmall + (sizeClass - kSmallClassCount) * kMediumGranule;
}

QVHOST_HOT void noteAllocated(Pool *pool, BlockHeader *header, uint64_t size, uint64_t sizeClass) {
    header->size = size;
    header->word = pool->liveWord | sizeClass << 32;
    pool->allocations.add(1);
    uint64_t live = pool->liveBytes.get() + size;
    pool->liveBytes.set(live);
    if (live > pool->peakBytes.get()) pool->peakBytes.set(live);
}

// The first line boundary at or after `at`; never past a chunk's end, which
// is itself on a line boundary.
QVHOST_HOT char *lineAligned(char *at) {
    auto address = reinterpret_cast<uintptr_t>(at);
    return at + ((kCacheLine - address % kCacheLine) % kCacheLine);
}

// A block of the class from the free list or the current chunk; null when
// both are empty. A class whose stride is a whole number of lines is carved
// at a line boundary, so the block starts 16 bytes into a line; carving
// after a block of another class may skip up to 48 bytes of the chunk.
QVHOST_HOT BlockHeader *takeQuick(Pool *pool, unsigned sizeClass) {
    void *block = pool->freeLists[sizeClass];
    if (block) {
        pool->freeLists[sizeClass] = *static_cast<void **>(block);
        return static_cast<BlockHeader *>(block) - 1;
    }
    uint64_t stride = kGranule + classBytes(sizeClass);
    char *at = pool->cursor;
    if (stride % kCacheLine == 0) at = lineAligned(at);
    if (static_cast<uint64_t>(pool->end - at) < stride) return nullptr;
    pool->cursor = at + stride;
    return reinterpret_cast<BlockHeader *>(at);
}

Chunk *newChunk(Host *host) {
    {
        std::lock_guard<std::mutex> guard(host->chunkMutex);
        if (auto *chunk = static_cast<Chunk *>(host->spareChunks)) {
            host->spareChunks = chunk->next;
            --host->spareChunkCount;
            return chunk;
        }
    }
    return static_cast<Chunk *>(std::aligned_alloc(kCacheLine, kChunkBytes));
}

BlockHeader *takeSmall(Pool *pool, unsigned sizeClass) {
    if (BlockHeader *header = takeQuick(pool, sizeClass)) return header;
    Chunk *chunk = newChunk(pool->host);
    if (!chunk) return nullptr;
    chunk->next = pool->chunks;
    pool->chunks = chunk;
    pool->chunkBytes += kChunkBytes;
    pool->cursor = reinterpret_cast<char *>(chunk + 1);
    pool->end = reinterpret_cast<char *>(chunk) + kChunkBytes;
    return takeQuick(pool, sizeClass);
}

// The spare large blocks form a list through `next`, smallest first. A
// request takes the smallest that holds it, unless even that one is more
// than a quarter too big: a small request does not pin a large block.
LargeLinks *takeSpareLarge(Host *host, uint64_t size) {
    std::lock_guard<std::mutex> guard(host->chunkMutex);
    LargeLinks *before = nullptr;
    auto *spare = static_cast<LargeLinks *>(host->spareLarge);
    while (spare && spare->capacity < size) {
        before = spare;
        spare = spare->next;
    }
    if (!spare || spare->capacity - size > size / 4) return nullptr;
    if (before)
        before->next = spare->next;
    else
        host->spareLarge = spare->next;
    host->spareLargeBytes -= spare->capacity;
    --host->spareLargeCount;
    return spare;
}

bool spareLargeFull(const Host *host, uint64_t capacity) {
    return host->spareLargeBytes + capacity > kSpareLargeByteLimit ||
           host->spareLargeCount == kSpareLargeCountLimit;
}

// Puts a block into the spare list at its place by capacity; chunkMutex is
// held and there is room.
void insertSpareLarge(Host *host, LargeLinks *block) {
    LargeLinks *before = nullptr;
    auto *after = static_cast<LargeLinks *>(host->spareLarge);
    while (after && after->capacity < block->capacity) {
        before = after;
        after = after->next;
    }
    block->next = after;
    if (before)
        before->next = block;
    else
        host->spareLarge = block;
    host->spareLargeBytes += block->capacity;
    ++host->spareLargeCount;
}

void freeLargeList(LargeLinks *block) {
    while (block) {
        LargeLinks *next = block->next;
        std::free(block);
        block = next;
    }
}

// Keeps a freed large block for later requests. When the cache is full,
// smaller spares make room for a larger block, since the pages of a larger
// block cost more to fault in again; otherwise the block goes back to
// malloc. Under AddressSanitizer every block goes back at once, so the
// sanitizer sees any use after free.
void giveBackLarge(Host *host, LargeLinks *block) {
    if (QVHOST_ASAN || block->capacity > kSpareLargeByteLimit) {
        std::free(block);
        return;
    }
    LargeLinks *evicted = nullptr;
    {
        std::lock_guard<std::mutex> guard(host->chunkMutex);
        auto *smallest = static_cast<LargeLinks *>(host->spareLarge);
        while (spareLargeFull(host, block->capacity) && smallest &&
               smallest->capacity < block->capacity) {
            host->spareLarge = smallest->next;
            host->spareLargeBytes -= smallest->capacity;
            --host->spareLargeCount;
            smallest->next = evicted;
            evicted = smallest;
            smallest = static_cast<LargeLinks *>(host->spareLarge);
        }
        if (!spareLargeFull(host, block->capacity)) {
            insertSpareLarge(host, block);
            block = nullptr;
        }
    }
    std::free(block);
    freeLargeList(evicted);  // outside the lock: freeing megabytes may unmap them
}

// A block of a huge page or more starts on a huge-page boundary and is
// advised for transparent huge pages, whole pages only. A hash table's
// slot array of many megabytes read at random otherwise misses the TLB on
// nearly every probe; a production host backs such blocks with huge pages
// too. The kernel may decline the advice; the block is good either way.
void *mallocLarge(uint64_t bytes) {
    void *raw = nullptr;
    if (QVHOST_ASAN || bytes < kHugePage) {
        if (posix_memalign(&raw, kGranule, bytes) != 0) return nullptr;
        return raw;
    }
    uint64_t whole = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    if (posix_memalign(&raw, kHugePage, whole) != 0) return nullptr;
    madvise(raw, whole, MADV_HUGEPAGE);
    return raw;
}

BlockHeader *takeLarge(Pool *pool, uint64_t size) {
    if (size > UINT64_MAX - kHugePage - 3 * kGranule) return nullptr;
    LargeLinks *links = QVHOST_ASAN ? nullptr : takeSpareLarge(pool->host, size);
    if (!links) {
        links = static_cast<LargeLinks *>(mallocLarge(3 * kGranule + size));
        if (!links) return nullptr;
        links->capacity = size;
    }
    links->prev = &pool->large;
    links->next = pool->large.next;
    pool->large.next->prev = links;
    pool->large.next = links;
    return reinterpret_cast<BlockHeader *>(links + 1);
}

// Everything the inline path leaves: fault injection, fills, large blocks,
// a new chunk.
template <bool Locked>
__attribute__((noinline)) void *allocateSlow(Pool *pool, uint64_t size, uint32_t flags) {
    Host *host = pool->host;
    if (pool->mode.load(std::memory_order_relaxed) & kModeFaults) {
        bool fail = host->allocationFaults.shouldFail();
        if (!host->allocationFaults.armed()) refreshAllocationMode(host);
        if (fail) {
            host->failedAllocations.fetch_add(1, std::memory_order_relaxed);
            return nullptr;
        }
    }
    BlockHeader *header;
    {
        PoolGuard<Locked> guard(pool);
        bool small = !QVHOST_ASAN && size <= kLargestCarved;
        uint64_t sizeClass = small ? sizeClassOf(size) : kLargeClass;
        header = small ? takeSmall(pool, static_cast<unsigned>(sizeClass)) : takeLarge(pool, size);
        if (header) noteAllocated(pool, header, size, sizeClass);
    }
    if (!header) {
        host->failedAllocations.fetch_add(1, std::memory_order_relaxed);
        return nullptr;
    }
    void *block = header + 1;
    if (flags & QV_ALLOC_ZERO)
        std::memset(block, 0, size);
    else if (host->scribble.load(std::memory_order_relaxed))
        std::memset(block, kScribbleAllocated, size);
    return block;
}

template <bool Locked>
void *poolAllocate(QVWord *self, uint64_t size, uint32_t flags) {
    Pool *pool = poolOf(self);
    // One test for the common case: small, no fill, no fault injection.
    uint64_t unusual = pool->mode.load(std::memory_order_relaxed) | (flags & QV_ALLOC_ZERO) |
                       static_cast<uint64_t>(size > kLargestSmall) |
                       static_cast<uint64_t>(QVHOST_ASAN);
    if (__builtin_expect(unusual == 0, 1)) {
        unsigned sizeClass = sizeClassOf(size);
        PoolGuard<Locked> guard(pool);
        if (BlockHeader *header = takeQuick(pool, sizeClass)) {
            noteAllocated(pool, header, size, sizeClass);
            return header + 1;
        }
    }
    return allocateSlow<Locked>(pool, size, flags);
}

// The pool's lock (if any) is held.
__attribute__((noinline)) void freeSlow(Pool *pool, BlockHeader *header) {
    uint64_t word = header->word;
    if (word == headerWord(kFreedBlock, classOf(word), pool->tag)) {
        unexpected(pool->host, "pool", QV_POOL_FREE, "block freed twice");
        return;
    }
    if ((word & ~kClassMask) != pool->liveWord) {
        unexpected(pool->host, "pool", QV_POOL_FREE, "block not allocated from this pool");
        return;
    }
    unsigned sizeClass = classOf(word);
    header->word = freedWord(word);
    pool->frees.add(1);
    pool->liveBytes.sub(header->size);
    void *block = header + 1;
    bool scribble = pool->host->scribble.load(std::memory_order_relaxed);
    if (sizeClass == kLargeClass) {
        auto *links = reinterpret_cast<LargeLinks *>(header) - 1;
        links->prev->next = links->next;
        links->next->prev = links->prev;
        if (scribble && !QVHOST_ASAN) std::memset(block, kScribbleFreed, header->size);
        giveBackLarge(pool->host, links);
        return;
    }
    if (scribble) std::memset(block, kScribbleFreed, classBytes(sizeClass));
    *static_cast<void **>(block) = pool->freeLists[sizeClass];
    pool->freeLists[sizeClass] = block;
}

// The header is checked with the lock held, so two threads freeing the same
// block are told apart.
template <bool Locked>
void poolFree(QVWord *self, void *block) {
    if (!block) return;
    Pool *pool = poolOf(self);
    auto *header = static_cast<BlockHeader *>(block) - 1;
    PoolGuard<Locked> guard(pool);
    uint64_t word = header->word;
    unsigned sizeClass = classOf(word);
    // One test for the common case: our live block, small, no scribbling.
    uint64_t unusual = ((word & ~kClassMask) ^ pool->liveWord) |
                       static_cast<uint64_t>(sizeClass == kLargeClass) |
                       (pool->mode.load(std::memory_order_relaxed) & kModeScribble) |
                       static_cast<uint64_t>(QVHOST_ASAN);
    if (__builtin_expect(unusual == 0, 1)) {
        header->word = freedWord(word);
        pool->frees.add(1);
        pool->liveBytes.sub(header->size);
        *static_cast<void **>(block) = pool->freeLists[sizeClass];
        pool->freeLists[sizeClass] = block;
        return;
    }
    freeSlow(pool, header);
}

void freeStorage(Pool *pool) {
    Host *host = pool->host;
    for (Chunk *chunk = pool->chunks; chunk;) {
        Chunk *next = chunk->next;
        bool kept = false;
        {
            std::lock_guard<std::mutex> guard(host->chunkMutex);
            if (host->spareChunkCount < kSpareChunkLimit) {
                chunk->next = static_cast<Chunk *>(host->spareChunks);
                host->spareChunks = chunk;
                ++host->spareChunkCount;
                kept = true;
            }
        }
        if (!kept) std::free(chunk);
        chunk = next;
    }
    for (LargeLinks *links = pool->large.next; links != &pool->large;) {
        LargeLinks *next = links->next;
        giveBackLarge(host, links);
        links = next;
    }
}

void unregister(Pool *pool) {
    Host *host = pool->host;
    std::lock_guard<std::mutex> guard(host->registryMutex);
    if (pool->prev)
        pool->prev->next = pool->next;
    else
        host->pools = pool->next;
    if (pool->next) pool->next->prev = pool->prev;
    --host->livePools;
    // Under the registry lock, so qvhostAllocationCount never counts a pool
    // twice or not at all.
    host->retiredAllocations.fetch_add(pool->allocations.get(), std::memory_order_relaxed);
}

void deletePool(Pool *pool) {
    delete[] pool->name;
    delete pool;
}

void poolDestroy(QVWord *self) {
    Pool *pool = poolOf(self);
    Host *host = pool->host;
    unregister(pool);
    freeStorage(pool);
    deletePool(pool);
    host->poolsDestroyed.fetch_add(1, std::memory_order_relaxed);
}

char *copyName(const char *name) {
    size_t n = name ? std::strlen(name) : 0;
    char *copy = new (std::nothrow) char[n + 1];
    if (!copy) return nullptr;
    if (n) std::memcpy(copy, name, n);
    copy[n] = '\0';
    return copy;
}

void *createPool(QVWord *handle, const QVPoolOptions *options, void *journal, const char *name) {
    Host *host = hostOf(handle);
    if (host->poolFaults.shouldFail()) return nullptr;
    auto *pool = new (std::nothrow) Pool{};
    if (!pool) return nullptr;
    pool->name = copyName(name);
    if (!pool->name) {
        delete pool;
        return nullptr;
    }
    initHead<kPool>(pool->head, pool, host);
    pool->host = host;
    pool->flags = options ? options->flags : 0;
    pool->journal = journal;
    pool->locked = (pool->flags & 1u) == 0;
    pool->head.slots[QV_POOL_DESTROY] = slotOf(&poolDestroy);
    pool->head.slots[QV_POOL_ALLOCATE] =
        pool->locked ? slotOf(&poolAllocate<true>) : slotOf(&poolAllocate<false>);
    pool->head.slots[QV_POOL_FREE] = pool->locked ? slotOf(&poolFree<true>) : slotOf(&poolFree<false>);
    uint32_t serial = host->poolSerial.fetch_add(1, std::memory_order_relaxed) + 1;
    pool->tag = static_cast<uint16_t>(serial % 0xffffu + 1);  // never 0
    pool->liveWord = headerWord(kLiveBlock, 0, pool->tag);
    pool->large.prev = pool->large.next = &pool->large;

    std::lock_guard<std::mutex> guard(host->registryMutex);
    pool->mode.store(host->allocationMode.load(std::memory_order_relaxed), std::memory_order_relaxed);
    pool->next = host->pools;
    if (host->pools) host->pools->prev = pool;
    host->pools = pool;
    ++host->livePools;
    host->poolsCreated.fetch_add(1, std::memory_order_relaxed);
    return pool->head.slots;
}

}  // namespace

void installPoolServices(Host *host) {
    host->head.slots[QV_HOST_CREATE_POOL] = slotOf(&createPool);
}

void refreshAllocationMode(Host *host) {
    std::lock_guard<std::mutex> guard(host->registryMutex);
    uint32_t mode = (host->allocationFaults.armed() ? kModeFaults : 0) |
                    (host->scribble.load(std::memory_order_relaxed) ? kModeScribble : 0);
    host->allocationMode.store(mode, std::memory_order_relaxed);
    for (Pool *pool = host->pools; pool; pool = pool->next)
        pool->mode.store(mode, std::memory_order_relaxed);
}

void releaseLeakedPools(Host *host) {
    while (host->pools) {
        Pool *pool = host->pools;
        std::fprintf(stderr,
                     "qvhost: pool \"%s\" was never destroyed (%llu blocks, %llu bytes live); "
                     "freeing it\n",
                     pool->name,
                     static_cast<unsigned long long>(pool->allocations.get() - pool->frees.get()),
                     static_cast<unsigned long long>(pool->liveBytes.get()));
        poolDestroy(pool->head.slots);
    }
}

void releaseSpareChunks(Host *host) {
    std::lock_guard<std::mutex> guard(host->chunkMutex);
    for (auto *chunk = static_cast<Chunk *>(host->spareChunks); chunk;) {
        Chunk *next = chunk->next;
        std::free(chunk);
        chunk = next;
    }
    host->spareChunks = nullptr;
    host->spareChunkCount = 0;
    freeLargeList(static_cast<LargeLinks *>(host->spareLarge));
    host->spareLarge = nullptr;
    host->spareLargeBytes = 0;
    host->spareLargeCount = 0;
}

}  // namespace qvh

using qvh::Pool;

extern "C" {

void qvhostPoolStats(QVWord *slots, QVHostPoolStats *out) {
    if (!out) return;
    *out = QVHostPoolStats{};
    if (!slots) return;
    Pool *pool = qvh::poolOf(slots);
    std::unique_lock<std::mutex> guard(pool->mutex, std::defer_lock);
    if (pool->locked) guard.lock();
    out->allocations = pool->allocations.get();
    out->frees = pool->frees.get();
    out->liveBlocks = out->allocations - out->frees;
    out->liveBytes = pool->liveBytes.get();
    out->peakBytes = pool->peakBytes.get();
    out->chunkBytes = pool->chunkBytes;
}

const char *qvhostPoolName(QVWord *slots) { return slots ? qvh::poolOf(slots)->name : nullptr; }

uint32_t qvhostPoolFlags(QVWord *slots) { return slots ? qvh::poolOf(slots)->flags : 0; }

void *qvhostPoolJournal(QVWord *slots) { return slots ? qvh::poolOf(slots)->journal : nullptr; }

uint64_t qvhostLivePools(QVWord *handle) {
    qvh::Host *host = qvh::hostOf(handle);
    if (!host) return 0;
    std::lock_guard<std::mutex> guard(host->registryMutex);
    return host->livePools;
}

QVWord *qvhostFindPool(QVWord *handle, const char *name) {
    qvh::Host *host = qvh::hostOf(handle);
    if (!host || !name) return nullptr;
    std::lock_guard<std::mutex> guard(host->registryMutex);
    for (Pool *pool = host->pools; pool; pool = pool->next)
        if (std::strcmp(pool->name, name) == 0) return pool->head.slots;
    return nullptr;
}

uint64_t qvhostAllocationCount(QVWord *handle) {
    qvh::Host *host = qvh::hostOf(handle);
    if (!host) return 0;
    std::lock_guard<std::mutex> guard(host->registryMutex);
    uint64_t count = host->retiredAllocations.load(std::memory_order_relaxed) +
                     host->failedAllocations.load(std::memory_order_relaxed);
    for (Pool *pool = host->pools; pool; pool = pool->next) count += pool->allocations.get();
    return count;
}

}  // extern "C"
