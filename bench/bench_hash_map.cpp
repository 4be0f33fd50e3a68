// The chained ombrix hash map ("ombrix") and its open-addressing table
// ("open") against std::unordered_map, absl::flat_hash_map,
// tsl::hopscotch_map and GLib's GHashTable, at 1K, 64K and 1M entries:
//
// - int: 4-byte integer keys, the map keyed by one direct part of the item
//   (keyMode 2) and holding the item pointer as its value (valueMode 1);
//   the peers map the integer to the item pointer.
// - ptr: the item pointers themselves (keyMode 2 without parts), the item
//   pointer as the value; the peers map the pointer to the pointer.
// - str: 16-byte string keys copied into the map (keyMode 0, one bytes part)
//   with 8-byte copied values; the peers hold a copy of the key and the value.
//
// Operations: insert of every key into a fresh map, find of every key in a
// random order (hit), find of as many absent keys (miss), erase of every key,
// and one full iteration. The ombrix map is driven through its object, as a
// host drives it, in the unlocked pool it makes for itself (flags bit 0) on
// the reference host with scribbling off. Every contender's memory is
// advised for transparent huge pages (reexecWithHugePages).
//
// Bytes per entry: the ombrix map's pool statistics (bytes asked for), a counting allocator for the std and absl peers, and
// malloc's own count (mallinfo2) for GLib.
//
// Collision: 64K integer keys that are all multiples of 65536, so that the
// map's default hash (the integer itself) puts them in one bucket until the
// table outgrows 65536 buckets; against std::unordered_map with a hash that
// sends every key to one bucket.
//
// At the end the run prints each peer's CPU time over the ombrix map's
// (above 1: ombrix faster) and the bytes per entry.
#include <benchmark/benchmark.h>
#include <glib.h>
#include <malloc.h>

#include <absl/container/flat_hash_map.h>
#include <absl/hash/hash.h>
#include <tsl/hopscotch_map.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include "bench_support.h"
#include "bench_host.h"
#include "ombrix/extension.h"
#include "hashmap/hash_map.h"  // the map's private state, for the layout floor
#include "hashmap/hash_map_scan.h"  // the walk floors step as the iterators do
#include "ombrix/hash_map.h"
#include "qvhost.h"

namespace {

enum KeyKind { kInt, kPtr, kStr };
constexpr size_t kSizes[] = {1u << 10, 1u << 16, 1u << 20};
constexpr size_t kCollisionKeys = 1u << 16;

struct IntItem {
    int32_t key;
};

using Key16 = std::array<char, 16>;

// Keys, the order they are looked up and erased in, and absent keys.
struct Workload {
    std::vector<IntItem> ints;
    std::vector<IntItem> missingInts;
    std::vector<Key16> strs;
    std::vector<Key16> missingStrs;
    std::vector<uint32_t> probeOrder;
};

Key16 randomKey(std::mt19937 &random) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    Key16 key;
    for (char &c : key) c = letters[random() % (sizeof letters - 1)];
    return key;
}

const Workload &workload(size_t n) {
    static std::map<size_t, Workload> cache;
    Workload &w = cache[n];
    if (!w.ints.empty()) return w;
    std::mt19937 random(static_cast<unsigned>(2026 + n));
    std::unordered_set<int32_t> seenInts;
    auto freshInt = [&] {
        int32_t key;
        do key = static_cast<int32_t>(random()); while (!seenInts.insert(key).second);
        return IntItem{key};
    };
    std::unordered_set<std::string> seenStrs;
    auto freshStr = [&] {
        Key16 key;
        do key = randomKey(random); while (!seenStrs.insert(std::string(key.data(), 16)).second);
        return key;
    };
    for (size_t i = 0; i < n; ++i) w.ints.push_back(freshInt());
    for (size_t i = 0; i < n; ++i) w.missingInts.push_back(freshInt());
    for (size_t i = 0; i < n; ++i) w.strs.push_back(freshStr());
    for (size_t i = 0; i < n; ++i) w.missingStrs.push_back(freshStr());
    w.probeOrder.resize(n);
    std::iota(w.probeOrder.begin(), w.probeOrder.end(), 0u);
    std::shuffle(w.probeOrder.begin(), w.probeOrder.end(), random);
    return w;
}

using bench::benchHost;

// ---------------------------------------------------------------------------
// Bytes held by the std and absl peers, through their allocator.

size_t gLiveBytes = 0;

template <typename T>
struct CountingAllocator {
    using value_type = T;
    CountingAllocator() = default;
    template <typename U>
    CountingAllocator(const CountingAllocator<U> &) {}
    T *allocate(size_t n) {
        gLiveBytes += n * sizeof(T);
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T *p, size_t n) {
        gLiveBytes -= n * sizeof(T);
        std::allocator<T>().deallocate(p, n);
    }
    template <typename U>
    bool operator==(const CountingAllocator<U> &) const { return true; }
};

struct Key16Hash {
    size_t operator()(const Key16 &k) const {
        return std::hash<std::string_view>()(std::string_view(k.data(), k.size()));
    }
};

// ---------------------------------------------------------------------------
// The contenders. Each offers insert(i), find(i), findMissing(i), erase(i),
// iterate() over the workload's keys by index, and bytes().

OmbrixKeyPart intPart = {OMBRIX_PART_INT32, 4, 1, {0, 0, 0, 0, 0}, 0};
OmbrixKeyPart strPart = {OMBRIX_PART_BYTES, 16, 1, {0, 0, 0, 0, 0}, 0};

// A mix of a key's first eight bytes (a pointer key's own bytes) that
// spreads them over the hash's low bits, which pick the bucket: what a
// caller passes as the map's hashFunction when its keys differ only in a
// few bits.
uint32_t mixedHash(const void *bytes, int32_t size) {
    uint64_t x = 0;
    std::memcpy(&x, bytes, size < 8 ? static_cast<size_t>(size) : 8);
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdu;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53u;
    x ^= x >> 33;
    return static_cast<uint32_t>(x);
}

template <uint32_t TableKind, bool Mixed = false>
struct OmbrixOf {
    const Workload &w;
    KeyKind kind;
    QVWord *pool;
    OmbrixHashMap *map;
    OmbrixOf(const Workload &work, KeyKind k) : w(work), kind(k) {
        benchHost();
        OmbrixHashMapParms parms = {};
        parms.keyMode = k == kStr ? OMBRIX_KEY_COMPOSITE : OMBRIX_KEY_REFERENCE;
        parms.keyPartCount = k == kPtr ? 0 : 1;
        parms.keyParts = k == kInt ? &intPart : k == kStr ? &strPart : nullptr;
        parms.valueMode = k == kStr ? OMBRIX_VALUE_COPY : OMBRIX_VALUE_POINTER;
        parms.valueSize = k == kStr ? 8 : 0;
        parms.flags = OMBRIX_FLAG_NO_LOCK;
        parms.tableKind = TableKind;
        parms.hashFunction = Mixed ? mixedHash : nullptr;
        map = hashMapNew(nullptr, parms);
        pool = qvhostFindPool(benchHost(), "ombrixh");
    }
    ~OmbrixOf() { map->destroy(map); }
    const void *key(size_t i) const {
        return kind == kStr ? static_cast<const void *>(w.strs[i].data()) : &w.ints[i];
    }
    void insert(size_t i) {
        uint64_t value = i;
        map->add(map, key(i), kind == kStr ? static_cast<const void *>(&value) : key(i));
    }
    bool find(size_t i) { return map->find(map, key(i)) != nullptr; }
    bool findMissing(size_t i) {
        const void *k = kind == kStr ? static_cast<const void *>(w.missingStrs[i].data())
                                     : &w.missingInts[i];
        return map->find(map, k) != nullptr;
    }
    void erase(size_t i) { map->remove(map, key(i)); }
    size_t iterate() {
        size_t visited = 0;
        OmbrixIterator it = map->iterator(map);
        while (it.hasNext) visited += it.next(&it) != nullptr;
        it.release(&it);
        return visited;
    }
    size_t bytes() const {
        QVHostPoolStats stats{};
        qvhostPoolStats(pool, &stats);
        return stats.liveBytes;
    }
};

using Ombrix = OmbrixOf<OMBRIX_TABLE_CHAINED>;
using OmbrixOpen = OmbrixOf<OMBRIX_TABLE_OPEN>;
using OmbrixMixed = OmbrixOf<OMBRIX_TABLE_CHAINED, true>;
using OmbrixOpenMixed = OmbrixOf<OMBRIX_TABLE_OPEN, true>;

template <template <typename...> class Map, typename IntHash = std::hash<int32_t>,
          typename StrHash = Key16Hash, typename PtrHash = std::hash<const void *>>
struct CountedPeer {
    template <typename K, typename V, typename H>
    using Counted = Map<K, V, H, std::equal_to<K>, CountingAllocator<std::pair<const K, V>>>;
    const Workload &w;
    KeyKind kind;
    Counted<int32_t, const IntItem *, IntHash> ints;
    Counted<Key16, uint64_t, StrHash> strs;
    Counted<const void *, const void *, PtrHash> ptrs;
    size_t before;
    CountedPeer(const Workload &work, KeyKind k) : w(work), kind(k), before(gLiveBytes) {}
    void insert(size_t i) {
        if (kind == kInt)
            ints.emplace(w.ints[i].key, &w.ints[i]);
        else if (kind == kPtr)
            ptrs.emplace(&w.ints[i], &w.ints[i]);
        else
            strs.emplace(w.strs[i], i);
    }
    bool find(size_t i) {
        return kind == kInt   ? ints.find(w.ints[i].key) != ints.end()
               : kind == kPtr ? ptrs.find(&w.ints[i]) != ptrs.end()
                              : strs.find(w.strs[i]) != strs.end();
    }
    bool findMissing(size_t i) {
        return kind == kInt   ? ints.find(w.missingInts[i].key) != ints.end()
               : kind == kPtr ? ptrs.find(&w.missingInts[i]) != ptrs.end()
                              : strs.find(w.missingStrs[i]) != strs.end();
    }
    void erase(size_t i) {
        if (kind == kInt)
            ints.erase(w.ints[i].key);
        else if (kind == kPtr)
            ptrs.erase(&w.ints[i]);
        else
            strs.erase(w.strs[i]);
    }
    size_t iterate() {
        size_t visited = 0;
        if (kind == kInt)
            for (auto &entry : ints) visited += entry.second != nullptr;
        else if (kind == kPtr)
            for (auto &entry : ptrs) visited += entry.second != nullptr;
        else
            for (auto &entry : strs) visited += entry.second != ~0ull;
        return visited;
    }
    size_t bytes() const { return gLiveBytes - before; }
};

using StdUnordered = CountedPeer<std::unordered_map>;
using AbslFlat = CountedPeer<absl::flat_hash_map, absl::Hash<int32_t>, absl::Hash<Key16>,
                             absl::Hash<const void *>>;
// Its buckets hold std::pair<K, V>, the key not const.
template <typename K, typename V, typename H, typename E, typename A>
using HopscotchMap = tsl::hopscotch_map<
    K, V, H, E, typename std::allocator_traits<A>::template rebind_alloc<std::pair<K, V>>>;
using Hopscotch = CountedPeer<HopscotchMap>;

// GHashTable: integer keys as pointers (g_direct_hash), string keys as
// NUL-terminated copies (g_str_hash), the 8-byte value in the value pointer.
struct Glib {
    const Workload &w;
    KeyKind kind;
    GHashTable *table;
    size_t before;
    Glib(const Workload &work, KeyKind k)
        : w(work), kind(k),
          table(k != kStr ? g_hash_table_new(g_direct_hash, g_direct_equal)
                          : g_hash_table_new_full(g_str_hash, g_str_equal, g_free, nullptr)),
          before(mallinfo2().uordblks) {}
    ~Glib() { g_hash_table_destroy(table); }
    gpointer intKey(const IntItem &item) const {
        return kind == kPtr ? const_cast<IntItem *>(&item) : GINT_TO_POINTER(item.key);
    }
    std::string text(const Key16 &k) const { return std::string(k.data(), k.size()); }
    void insert(size_t i) {
        if (kind != kStr)
            g_hash_table_insert(table, intKey(w.ints[i]), const_cast<IntItem *>(&w.ints[i]));
        else
            g_hash_table_insert(table, g_strndup(w.strs[i].data(), 16), GSIZE_TO_POINTER(i + 1));
    }
    bool lookup(const IntItem &item) { return g_hash_table_contains(table, intKey(item)); }
    bool lookup(const Key16 &k) {
        char text[17];
        std::memcpy(text, k.data(), 16);
        text[16] = 0;
        return g_hash_table_contains(table, text);
    }
    bool find(size_t i) { return kind != kStr ? lookup(w.ints[i]) : lookup(w.strs[i]); }
    bool findMissing(size_t i) {
        return kind != kStr ? lookup(w.missingInts[i]) : lookup(w.missingStrs[i]);
    }
    void erase(size_t i) {
        if (kind != kStr) {
            g_hash_table_remove(table, intKey(w.ints[i]));
        } else {
            char text[17];
            std::memcpy(text, w.strs[i].data(), 16);
            text[16] = 0;
            g_hash_table_remove(table, text);
        }
    }
    size_t iterate() {
        size_t visited = 0;
        GHashTableIter it;
        gpointer key, value;
        g_hash_table_iter_init(&it, table);
        while (g_hash_table_iter_next(&it, &key, &value)) visited += key != nullptr || value;
        return visited;
    }
    size_t bytes() const { return mallinfo2().uordblks - before; }
};

// ---------------------------------------------------------------------------
// The measurements. Building and destroying a map outside the measured step
// is not timed. Each keeps, per contender, the bytes per entry of a full map.

std::map<std::string, double> gBytesPerEntry;

template <typename Map>
void fill(Map &map, size_t n) {
    for (size_t i = 0; i < n; ++i) map.insert(i);
}

long minorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Also counts the page faults taken while filling ("faults", per fill): a
// contender whose blocks come back from malloc's heap takes none after the
// first repetition, one whose blocks are mapped afresh pays the kernel's
// zeroing of every page again.
template <typename Map>
void insertRun(benchmark::State &state, KeyKind kind, size_t n, const std::string &name) {
    const Workload &w = workload(n);
    long faults = 0, before = 0;
    bench::timeOnFresh(
        state,
        [&] {
            auto *map = new Map(w, kind);
            before = minorFaults();
            return map;
        },
        [&](Map &map) {
            fill(map, n);
            state.PauseTiming();
            faults += minorFaults() - before;
            gBytesPerEntry[name] = double(map.bytes()) / double(n);
            state.ResumeTiming();
        });
    state.counters["faults"] = double(faults) / double(state.iterations());
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}

template <typename Map>
void findRun(benchmark::State &state, KeyKind kind, size_t n, bool hit) {
    const Workload &w = workload(n);
    Map map(w, kind);
    fill(map, n);
    size_t found = 0;
    for (auto _ : state)
        for (uint32_t i : w.probeOrder) found += hit ? map.find(i) : map.findMissing(i);
    if (found != (hit ? size_t(state.iterations()) * n : 0))
        state.SkipWithError("a find gave the wrong answer");
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}

template <typename Map>
void eraseRun(benchmark::State &state, KeyKind kind, size_t n) {
    const Workload &w = workload(n);
    bench::timeOnFresh(
        state,
        [&] {
            auto *map = new Map(w, kind);
            fill(*map, n);
            return map;
        },
        [&](Map &map) {
            for (uint32_t i : w.probeOrder) map.erase(i);
        });
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}

template <typename Map>
void iterateRun(benchmark::State &state, KeyKind kind, size_t n) {
    const Workload &w = workload(n);
    Map map(w, kind);
    fill(map, n);
    size_t visited = 0;
    for (auto _ : state) visited += map.iterate();
    if (visited != size_t(state.iterations()) * n) state.SkipWithError("an entry was missed");
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}

const char *const kOps[] = {"insert", "find_hit", "find_miss", "erase", "iterate"};
const char *const kContenders[] = {"ombrix", "open", "ombrix_mix", "open_mix", "std", "absl", "hopscotch", "glib"};
const KeyKind kKinds[] = {kInt, kPtr, kStr};
const char *kindName(KeyKind kind) { return kind == kInt ? "int" : kind == kPtr ? "ptr" : "str"; }

std::string caseName(const char *op, KeyKind kind, size_t n) {
    return std::string(op) + "/" + kindName(kind) + "/" + std::to_string(n);
}

template <typename Map>
void registerContender(const char *contender, std::initializer_list<KeyKind> kinds = {kInt, kPtr, kStr}) {
    for (KeyKind kind : kinds)
        for (size_t n : kSizes) {
            auto add = [&](const char *op, auto run) {
                std::string name = caseName(op, kind, n) + "/" + contender;
                bench::withLeast(benchmark::RegisterBenchmark(name.c_str(), run))
                    ->Unit(benchmark::kMicrosecond);
            };
            std::string bytesName = caseName("bytes", kind, n) + "/" + contender;
            add("insert", [=](benchmark::State &s) { insertRun<Map>(s, kind, n, bytesName); });
            add("find_hit", [=](benchmark::State &s) { findRun<Map>(s, kind, n, true); });
            add("find_miss", [=](benchmark::State &s) { findRun<Map>(s, kind, n, false); });
            add("erase", [=](benchmark::State &s) { eraseRun<Map>(s, kind, n); });
            add("iterate", [=](benchmark::State &s) { iterateRun<Map>(s, kind, n); });
        }
}

// ---------------------------------------------------------------------------
// Collision: keys k * 65536, k = 0 .. 64K - 1.

struct OneBucketHash {
    size_t operator()(int32_t) const { return 0; }
};

std::vector<IntItem> collidingItems() {
    std::vector<IntItem> items(kCollisionKeys);
    for (size_t k = 0; k < kCollisionKeys; ++k)
        items[k].key = static_cast<int32_t>(static_cast<uint32_t>(k) << 16);
    return items;
}

// Inserts every colliding key into a fresh map (timed), then finds every
// one (timed apart); the map is built and destroyed untimed. One iteration
// each: a search that walks the shared bucket takes seconds.
template <typename Insert, typename Find>
void collisionRun(benchmark::State &state, bool find, Insert insert, Find found) {
    size_t hits = 0;
    for (auto _ : state) {
        if (find) state.PauseTiming();
        insert();
        if (find) {
            state.ResumeTiming();
            hits += found();
        }
    }
    if (find && hits != size_t(state.iterations()) * kCollisionKeys)
        state.SkipWithError("a colliding key was not found");
}

void BM_CollisionOmbrix(benchmark::State &state, bool find) {
    Workload w;
    w.ints = collidingItems();
    Ombrix *map = nullptr;
    collisionRun(
        state, find,
        [&] {
            delete map;
            map = new Ombrix(w, kInt);
            for (size_t i = 0; i < kCollisionKeys; ++i) map->insert(i);
        },
        [&] {
            size_t hits = 0;
            for (size_t i = 0; i < kCollisionKeys; ++i) hits += map->find(i);
            return hits;
        });
    delete map;
}

void BM_CollisionStd(benchmark::State &state, bool find) {
    std::vector<IntItem> items = collidingItems();
    using OneBucket = std::unordered_map<int32_t, const IntItem *, OneBucketHash>;
    OneBucket *map = nullptr;
    collisionRun(
        state, find,
        [&] {
            delete map;
            map = new OneBucket;
            for (const IntItem &item : items) map->emplace(item.key, &item);
        },
        [&] {
            size_t hits = 0;
            for (const IntItem &item : items) hits += map->find(item.key) != map->end();
            return hits;
        });
    delete map;
}

// A zero-filled array backed as the reference host backs a block of 2 MiB
// or more: on a huge-page boundary, advised for transparent huge pages; so
// that the floor pays the TLB what the map's slot array pays.
template <typename T>
class HostBackedArray {
  public:
    explicit HostBackedArray(size_t n) : bytes_((n * sizeof(T) + kHuge - 1) & ~(kHuge - 1)) {
        void *raw = nullptr;
        if (posix_memalign(&raw, kHuge, bytes_) != 0) std::abort();
        madvise(raw, bytes_, MADV_HUGEPAGE);
        std::memset(raw, 0, bytes_);
        data_ = static_cast<T *>(raw);
    }
    ~HostBackedArray() { std::free(data_); }
    HostBackedArray(const HostBackedArray &) = delete;
    HostBackedArray &operator=(const HostBackedArray &) = delete;
    T &operator[](size_t i) { return data_[i]; }

  private:
    static constexpr size_t kHuge = size_t{2} << 20;
    size_t bytes_;
    T *data_;
};

// The floor of a find-hit in a chained table of 48-byte entries, with no
// call through a function pointer, no key preparation and no chain: one
// random read of the bucket's count and of its primary slot, in arrays the
// size the map holds at n entries (the table doubles at three quarters
// full), the hash compared, then the key read where the entry's pointer
// leads (the item's field). Colliding keys overwrite each other's slot;
// only the hits count.
void BM_FloorEntryProbe(benchmark::State &state, size_t n) {
    const Workload &w = workload(n);
    size_t table = 32;
    while (table * 3 / 4 <= n) table *= 2;
    HostBackedArray<OmbrixHashMapEntry> slots(table);
    HostBackedArray<int32_t> counts(table);
    for (const IntItem &item : w.ints) {
        size_t bucket = uint32_t(item.key) & (table - 1);
        slots[bucket].hash = uint32_t(item.key);
        slots[bucket].key = const_cast<IntItem *>(&item);
        counts[bucket] = 1;
    }
    size_t found = 0;
    for (auto _ : state)
        for (uint32_t i : w.probeOrder) {
            int32_t key = w.ints[i].key;
            size_t bucket = uint32_t(key) & (table - 1);
            if (counts[bucket] == 0) continue;
            const OmbrixHashMapEntry &slot = slots[bucket];
            found += slot.hash == uint32_t(key) && static_cast<const IntItem *>(slot.key)->key == key;
        }
    benchmark::DoNotOptimize(found);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}

// The floor of the chained table's growth memory up to n int keys: each
// doubling's new slot array (48-byte entries) and bucket counts, taken as
// the reference host takes blocks (malloc below 2 MiB; above, a huge-page
// aligned block advised for huge pages, which malloc maps afresh past its
// 32 MiB mapping threshold) and written once, as the growth clears them;
// the counts freed after the doubling, the slot arrays kept to the end as
// retired overflow supply. No entry is moved: this is the memory alone.
void *takeBlockAsTheHostDoes(size_t bytes) {
    constexpr size_t kHuge = size_t{2} << 20;
    if (bytes < kHuge) return std::malloc(bytes);
    void *raw = nullptr;
    size_t whole = (bytes + kHuge - 1) & ~(kHuge - 1);
    if (posix_memalign(&raw, kHuge, whole) != 0) std::abort();
    madvise(raw, whole, MADV_HUGEPAGE);
    return raw;
}

void BM_GrowthMemoryFloor(benchmark::State &state, size_t n) {
    std::vector<void *> retired;
    for (auto _ : state) {
        for (size_t table = 32; table * 3 / 4 <= n; table *= 2) {
            size_t grown = table * 2;
            void *slots = takeBlockAsTheHostDoes(grown * sizeof(OmbrixHashMapEntry));
            void *counts = takeBlockAsTheHostDoes(grown * sizeof(int32_t));
            std::memset(slots, 0, grown * sizeof(OmbrixHashMapEntry));
            std::memset(counts, 0, grown * sizeof(int32_t));
            benchmark::ClobberMemory();
            std::free(counts);
            retired.push_back(slots);
        }
        state.PauseTiming();
        for (void *block : retired) std::free(block);
        retired.clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}

// The floor of the chained table's whole insert of n int keys in the
// documented layout: each key's entry written into its bucket's 48-byte
// primary slot, or into an overflow entry linked behind it, and the
// bucket's count raised, once the bucket's entries were seen to hold no
// entry of its hash; at 3/4 of the table, new slot and count arrays
// taken as the host takes blocks and cleared, and every bucket's entries
// split between its two new buckets by the next hash bit. No call, no key
// steps, no tree buckets; overflow entries come from one array, the ones a
// split frees going back on a stack. Blocks are kept from one fill to the
// next, as the reference host keeps freed large blocks, so no fill maps
// fresh pages. The growth's memory alone is floor_growth_memory.
struct InsertLayoutFloor {
    using Entry = OmbrixHashMapEntry;
    std::vector<Entry> overflow;
    std::vector<Entry *> freed;
    size_t used = 0;
    Entry *slots = nullptr;
    int32_t *counts = nullptr;
    uint32_t size = 0;
    std::vector<void *> retired;
    std::vector<uint32_t> retiredSizes;
    std::multimap<size_t, void *> spare;

    explicit InsertLayoutFloor(size_t n) : overflow(n) { freed.reserve(n); }
    ~InsertLayoutFloor() {
        for (auto &[bytes, block] : spare) std::free(block);
    }

    void *take(size_t bytes) {
        auto it = spare.find(bytes);
        if (it == spare.end()) return takeBlockAsTheHostDoes(bytes);
        void *block = it->second;
        spare.erase(it);
        return block;
    }

    void takeArrays(uint32_t buckets) {
        size = buckets;
        slots = static_cast<Entry *>(take(size * sizeof(Entry)));
        counts = static_cast<int32_t *>(take(size * sizeof(int32_t)));
        std::memset(slots, 0, size * sizeof(Entry));
        std::memset(counts, 0, size * sizeof(int32_t));
    }

    void place(const Entry &entry) {
        uint32_t bucket = entry.hash & (size - 1);
        Entry &primary = slots[bucket];
        if (counts[bucket]++ == 0) {
            primary = entry;
            primary.next = nullptr;
            return;
        }
        Entry *extra = freed.empty() ? &overflow[used++] : freed.back();
        if (!freed.empty()) freed.pop_back();
        *extra = entry;
        extra->next = primary.next;
        primary.next = extra;
    }

    // Whether the key's bucket holds an entry of its hash, as an add must
    // ask before it places a key.
    bool holds(const Entry &entry) const {
        uint32_t bucket = entry.hash & (size - 1);
        if (counts[bucket] == 0) return false;
        for (const Entry *member = &slots[bucket]; member; member = member->next)
            if (member->hash == entry.hash) return true;
        return false;
    }

    [[gnu::noinline]] void grow() {
        Entry *old = slots;
        uint32_t oldSize = size;
        spare.emplace(oldSize * sizeof(int32_t), counts);
        takeArrays(oldSize * 2);
        for (uint32_t bucket = 0; bucket < oldSize; ++bucket) {
            if (!old[bucket].key) continue;
            Entry *chain = old[bucket].next;
            place(old[bucket]);
            for (Entry *entry = chain; entry;) {
                Entry *next = entry->next;
                freed.push_back(entry);
                place(*entry);
                entry = next;
            }
        }
        retired.push_back(old);
        retiredSizes.push_back(oldSize);
    }

    void run(const Workload &w, size_t n) {
        used = 0;
        freed.clear();
        takeArrays(32);
        for (size_t i = 0; i < n; ++i) {
            if (i >= size / 4 * 3) grow();
            Entry entry{};
            entry.hash = uint32_t(w.ints[i].key);
            entry.key = const_cast<IntItem *>(&w.ints[i]);
            entry.value = entry.key;
            if (!holds(entry)) place(entry);
        }
        benchmark::ClobberMemory();
    }

    void release() {
        retired.push_back(slots);
        retiredSizes.push_back(size);
        for (size_t i = 0; i < retired.size(); ++i)
            spare.emplace(retiredSizes[i] * sizeof(Entry), retired[i]);
        spare.emplace(size * sizeof(int32_t), counts);
        retired.clear();
        retiredSizes.clear();
    }
};

void BM_InsertLayoutFloor(benchmark::State &state, size_t n) {
    const Workload &w = workload(n);
    InsertLayoutFloor floor(n);
    floor.run(w, n);  // every block taken once, untimed
    floor.release();
    for (auto _ : state) {
        floor.run(w, n);
        state.PauseTiming();
        floor.release();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}

// A map of n keys of `kind`, filled, and its private state: what the
// floors walk.
template <typename Map>
struct FullMap {
    const Workload &w;
    Map map;
    const omb::HashMapState &s;
    FullMap(size_t n, KeyKind kind)
        : w(workload(n)), map(w, kind), s((fill(map, n), *omb::hashMapStateOf(map.map))) {}
};

// Runs `probe(map state, map, i)` for every key of a full map of n keys,
// `Map` made over the `kind` keys; each probe answers whether it found key i.
// A floor of finds that miss (`hit` false) expects no key found.
template <typename Map, typename Probe>
void layoutFloorRun(benchmark::State &state, size_t n, KeyKind kind, Probe probe, bool hit = true) {
    FullMap<Map> full(n, kind);
    size_t found = 0;
    for (auto _ : state)
        for (uint32_t i : full.w.probeOrder) found += probe(full.s, full.map, i);
    if (found != (hit ? size_t(state.iterations()) * n : 0))
        state.SkipWithError("a find gave the wrong answer");
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}

// The same walk for absent int keys: the primary slot, and behind it, when
// the bucket holds more, its count and its whole chain (a tree bucket counts
// as a miss, a handful at 1M keys).
void BM_IntMissLayoutFloor(benchmark::State &state, size_t n) {
    const Workload &w = workload(n);
    layoutFloorRun<Ombrix>(
        state, n, kInt,
        [&](const omb::HashMapState &s, Ombrix &, uint32_t i) {
            uint32_t hash = uint32_t(w.missingInts[i].key);
            const OmbrixHashMapEntry *entry = &s.slots[hash & uint32_t(s.mask)];
            if (entry->hash == hash && entry->key) return true;
            if (!entry->next || s.bucketCounts[hash & uint32_t(s.mask)] < 0) return false;
            for (entry = entry->next; entry; entry = entry->next)
                if (entry->hash == hash) return true;
            return false;
        },
        false);
}

// The floor of a find-hit in the map's own layout: the walk of a real
// chained map's slot array and chains, inline, with no call, no key
// preparation and no match rules beyond the stored pointer. The primary
// slot first; behind a miss there, the bucket's count and its overflow
// entries, which the supply's order scatters over other arrays. A tree
// bucket (a handful at 1M keys) is left to the map's find.
void BM_LayoutFloor(benchmark::State &state, size_t n) {
    const Workload &w = workload(n);
    layoutFloorRun<Ombrix>(state, n, kInt, [&](const omb::HashMapState &s, Ombrix &map, uint32_t i) {
        const void *item = &w.ints[i];
        uint32_t bucket = uint32_t(w.ints[i].key) & uint32_t(s.mask);
        const OmbrixHashMapEntry *entry = &s.slots[bucket];
        if (entry->key != item && entry->next) {
            if (s.bucketCounts[bucket] < 0) return map.find(i);
            do entry = entry->next; while (entry && entry->key != item);
        }
        return entry && entry->key == item;
    });
}

// The same floor for 16-byte string keys copied into the map: the default
// hash of the key's bytes, the primary slot, then the chain, each entry of
// the key's hash compared at its key copy in the record supply.
bool strLayoutFloorFinds(const omb::HashMapState &s, const Key16 &bytes) {
    const unsigned char *key = reinterpret_cast<const unsigned char *>(bytes.data());
    uint32_t hash = omb::defaultHash(*s.keyLayout, key, 16);
    uint32_t bucket = hash & uint32_t(s.mask);
    if (s.bucketCounts[bucket] < 0) return false;  // a handful at 1M keys: see the callers
    for (const OmbrixHashMapEntry *entry = &s.slots[bucket]; entry; entry = entry->next)
        if (entry->hash == hash && omb::sameKeyBytes(entry->key, key, 16)) return true;
    return false;
}

void BM_StrLayoutFloor(benchmark::State &state, size_t n) {
    const Workload &w = workload(n);
    layoutFloorRun<Ombrix>(state, n, kStr, [&](const omb::HashMapState &s, Ombrix &map, uint32_t i) {
        return strLayoutFloorFinds(s, w.strs[i]) || map.find(i);
    });
}

// The same walk for absent string keys: the count, the primary slot and
// the whole chain, every hash compared (a tree bucket counts as a miss).
void BM_StrMissLayoutFloor(benchmark::State &state, size_t n) {
    const Workload &w = workload(n);
    layoutFloorRun<Ombrix>(
        state, n, kStr,
        [&](const omb::HashMapState &s, Ombrix &, uint32_t i) {
            return strLayoutFloorFinds(s, w.missingStrs[i]);
        },
        false);
}

// The layout floor's walk as a function called through a pointer, as a
// host calls the map's find: the floor of the call shape.
[[gnu::noinline]] const void *layoutFloorFind(const omb::HashMapState *s, const IntItem *item) {
    uint32_t bucket = uint32_t(item->key) & uint32_t(s->mask);
    const OmbrixHashMapEntry *entry = &s->slots[bucket];
    if (entry->key != item && entry->next) {
        if (s->bucketCounts[bucket] < 0) return nullptr;
        do entry = entry->next; while (entry && entry->key != item);
    }
    return entry && entry->key == item ? entry->value : nullptr;
}
const void *(*volatile gLayoutFloorFind)(const omb::HashMapState *, const IntItem *) = layoutFloorFind;

void BM_CallFloor(benchmark::State &state, size_t n) {
    const Workload &w = workload(n);
    layoutFloorRun<Ombrix>(state, n, kInt, [&](const omb::HashMapState &s, Ombrix &map, uint32_t i) {
        return gLayoutFloorFind(&s, &w.ints[i]) != nullptr || map.find(i);
    });
}

// The same call for absent keys.
void BM_CallMissFloor(benchmark::State &state, size_t n) {
    const Workload &w = workload(n);
    layoutFloorRun<Ombrix>(
        state, n, kInt,
        [&](const omb::HashMapState &s, Ombrix &, uint32_t i) {
            return gLayoutFloorFind(&s, &w.missingInts[i]) != nullptr;
        },
        false);
}

// The call floor with the checks every find of the map makes before and
// around the walk: a null map and a null key answered, the key field read
// at the map's offset, and the stored hash compared beside the pointer (an
// entry of another item with an equal key has the key's hash). Only the
// test of the map's kind of key is left out. A key of equal hash ends the
// walk here; the map's find goes on under the full rule.
[[gnu::noinline]] const void *checkedFloorFind(OmbrixHashMap *map, const void *key) {
    if (!map || !key) return nullptr;
    const omb::HashMapState &s = *omb::hashMapStateOf(map);
    uint32_t hash;
    std::memcpy(&hash, static_cast<const char *>(key) + s.fieldOffset, sizeof hash);
    uint32_t bucket = hash & uint32_t(s.mask);
    const OmbrixHashMapEntry *entry = &s.slots[bucket];
    if (entry->key == key) return entry->value;
    if (entry->hash == hash || !entry->next || s.bucketCounts[bucket] < 0) return nullptr;
    for (entry = entry->next; entry; entry = entry->next) {
        if (entry->key == key) return entry->value;
        if (entry->hash == hash) return nullptr;
    }
    return nullptr;
}
const void *(*volatile gCheckedFloorFind)(OmbrixHashMap *, const void *) = checkedFloorFind;

void BM_CheckedCallMissFloor(benchmark::State &state, size_t n) {
    const Workload &w = workload(n);
    layoutFloorRun<Ombrix>(
        state, n, kInt,
        [&](const omb::HashMapState &, Ombrix &map, uint32_t i) {
            return gCheckedFloorFind(map.map, &w.missingInts[i]) != nullptr;
        },
        false);
}

// Whether an entry of the open table that `holds` is found where a key of
// `hash` may be: the home bucket's neighbourhood, the members its bits name,
// then the home's chain.
template <typename Holds>
bool openBucketHolds(const omb::HashMapState &s, uint32_t hash, Holds holds) {
    uint32_t home = hash & uint32_t(s.mask);
    for (uint32_t hop = s.slots[home].hop; hop; hop &= hop - 1)
        if (holds(s.slots[home + uint32_t(std::countr_zero(hop))])) return true;
    for (const OmbrixHashMapEntry *node = s.slots[home].next; node; node = node->next)
        if (holds(*node)) return true;
    return false;
}

// The same for the open table and pointer keys under the default hash: the
// home bucket's neighbourhood bits, each member they name compared by the
// stored pointer, then the home's chain.
void BM_OpenLayoutFloor(benchmark::State &state, size_t n) {
    const Workload &w = workload(n);
    layoutFloorRun<OmbrixOpen>(state, n, kPtr, [&](const omb::HashMapState &s, OmbrixOpen &, uint32_t i) {
        const void *item = &w.ints[i];
        uint32_t hash = omb::defaultPointerHash(reinterpret_cast<uintptr_t>(item));
        return openBucketHolds(s, hash, [&](const OmbrixHashMapEntry &entry) { return entry.key == item; });
    });
}

// The floor of an integer find-hit in the open table's own layout: the
// home slot compared by the stored pointer first, then the members the home
// bucket's bits name, then its chain; the value read as the find returns
// it. Inline (layout) and as a function called through a pointer (call),
// as the host calls the map's find.
const void *openIntFloorFind(const omb::HashMapState &s, const IntItem *item) {
    uint32_t home = uint32_t(item->key) & uint32_t(s.mask);
    if (s.slots[home].key == item) return s.slots[home].value;
    const void *value = nullptr;
    openBucketHolds(s, uint32_t(item->key), [&](const OmbrixHashMapEntry &entry) {
        return entry.key == item && (value = entry.value, true);
    });
    return value;
}

[[gnu::noinline]] const void *openIntFloorFindOutOfLine(const omb::HashMapState *s,
                                                        const IntItem *item) {
    return openIntFloorFind(*s, item);
}
const void *(*volatile gOpenIntFloorFind)(const omb::HashMapState *, const IntItem *) =
    openIntFloorFindOutOfLine;

void BM_OpenIntLayoutFloor(benchmark::State &state, size_t n) {
    const Workload &w = workload(n);
    layoutFloorRun<OmbrixOpen>(state, n, kInt, [&](const omb::HashMapState &s, OmbrixOpen &, uint32_t i) {
        return openIntFloorFind(s, &w.ints[i]) != nullptr;
    });
}

void BM_OpenIntCallFloor(benchmark::State &state, size_t n) {
    const Workload &w = workload(n);
    layoutFloorRun<OmbrixOpen>(state, n, kInt, [&](const omb::HashMapState &s, OmbrixOpen &, uint32_t i) {
        return gOpenIntFloorFind(&s, &w.ints[i]) != nullptr;
    });
}

// The same for the open table and 16-byte string keys copied into the
// map: the default hash of the key's bytes, then each member of the home
// bucket's neighbourhood and of its chain compared by hash and key copy.
void BM_OpenStrLayoutFloor(benchmark::State &state, size_t n) {
    const Workload &w = workload(n);
    layoutFloorRun<OmbrixOpen>(state, n, kStr, [&](const omb::HashMapState &s, OmbrixOpen &, uint32_t i) {
        const unsigned char *key = reinterpret_cast<const unsigned char *>(w.strs[i].data());
        uint32_t hash = omb::defaultHash(*s.keyLayout, key, 16);
        return openBucketHolds(s, hash, [&](const OmbrixHashMapEntry &entry) {
            return entry.hash == hash && omb::sameKeyBytes(entry.key, key, 16);
        });
    });
}

// The floors of a full iteration of a chained map of n int keys. The
// layout floor walks the real table inline, stepping from bucket to bucket
// as the iterators step (the next non-empty bucket, the chains asked for
// ahead): each primary slot and its chain (tree buckets, a handful at 1M
// keys, counted without a walk). The call floor is the iterator record's
// shape alone: `next` called through the record for every entry, its state
// in memory, stepping through an array of the entries already in table
// order; no walk of any layout can cost less through this record.
void BM_IterateLayoutFloor(benchmark::State &state, size_t n) {
    FullMap<Ombrix> full(n, kInt);
    const omb::HashMapState &s = full.s;
    size_t visited = 0;
    for (auto _ : state)
        for (int32_t b = omb::nextNonEmptyBucket(s, 0); b < s.tableSize;
             b = omb::nextNonEmptyBucket(s, b + 1)) {
            omb::askForChainsAhead(s, b);
            int32_t count = s.bucketCounts[b];
            if (count < 0) {
                visited += size_t(-count);
                continue;
            }
            for (const OmbrixHashMapEntry *entry = &s.slots[b]; entry; entry = entry->next)
                visited += entry->value != nullptr;
        }
    if (visited != size_t(state.iterations()) * n) state.SkipWithError("an entry was missed");
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}

struct ArrayWalk {
    OmbrixHashMapEntry **entries;
    size_t position;
    size_t count;
};

[[gnu::noinline]] void *arrayWalkNext(OmbrixIterator *it) {
    auto *walk = static_cast<ArrayWalk *>(it->state);
    OmbrixHashMapEntry *entry = walk->entries[walk->position];
    walk->position += 1;
    it->hasNext = walk->position < walk->count;
    return entry->value;
}

void BM_IterateCallFloor(benchmark::State &state, size_t n) {
    FullMap<Ombrix> full(n, kInt);
    std::vector<OmbrixHashMapEntry *> entries;
    OmbrixIterator it = hashMapEntryIterator(full.map.map);
    while (it.hasNext) entries.push_back(static_cast<OmbrixHashMapEntry *>(it.next(&it)));
    it.release(&it);
    size_t visited = 0;
    for (auto _ : state) {
        ArrayWalk walk = {entries.data(), 0, entries.size()};
        OmbrixIterator floor = {};
        floor.next = arrayWalkNext;
        floor.state = &walk;
        floor.hasNext = walk.count > 0;
        benchmark::DoNotOptimize(floor.next);
        while (floor.hasNext) visited += floor.next(&floor) != nullptr;
    }
    if (visited != size_t(state.iterations()) * n) state.SkipWithError("an entry was missed");
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}

// The layout floor's walk behind the call shape: a `next` called through
// the iterator record for every entry, its position (bucket and entry) in
// memory, walking the real map's bucket counts, primary slots and chains,
// and nothing else (no null key, no sorted order; tree buckets, a handful
// at 1M keys, are passed over and their entries left out of the count).
struct LayoutWalk {
    const omb::HashMapState *s;
    int32_t bucket;
    const OmbrixHashMapEntry *entry;
};

void layoutWalkFrom(LayoutWalk *walk, int32_t bucket) {
    const omb::HashMapState &s = *walk->s;
    for (bucket = omb::nextNonEmptyBucket(s, bucket); bucket < s.tableSize && s.bucketCounts[bucket] < 0;)
        bucket = omb::nextNonEmptyBucket(s, bucket + 1);
    omb::askForChainsAhead(s, bucket);
    walk->bucket = bucket;
    walk->entry = bucket < walk->s->tableSize ? &walk->s->slots[bucket] : nullptr;
}

[[gnu::noinline]] void *layoutWalkNext(OmbrixIterator *it) {
    auto *walk = static_cast<LayoutWalk *>(it->state);
    const OmbrixHashMapEntry *entry = walk->entry;
    if (entry->next)
        walk->entry = entry->next;
    else
        layoutWalkFrom(walk, walk->bucket + 1);
    it->hasNext = walk->entry != nullptr;
    return entry->value;
}

void BM_IterateLayoutCallFloor(benchmark::State &state, size_t n) {
    FullMap<Ombrix> full(n, kInt);
    size_t inTrees = 0;
    for (int32_t b = 0; b < full.s.tableSize; ++b)
        if (full.s.bucketCounts[b] < 0) inTrees += size_t(-full.s.bucketCounts[b]);
    size_t visited = 0;
    for (auto _ : state) {
        LayoutWalk walk = {&full.s, 0, nullptr};
        layoutWalkFrom(&walk, 0);
        OmbrixIterator floor = {};
        floor.next = layoutWalkNext;
        floor.state = &walk;
        floor.hasNext = walk.entry != nullptr;
        benchmark::DoNotOptimize(floor.next);
        while (floor.hasNext) visited += floor.next(&floor) != nullptr;
    }
    if (visited != size_t(state.iterations()) * (n - inTrees))
        state.SkipWithError("an entry was missed");
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}

class Reporter : public bench::RatioReporter {
  public:
    using CaseOfSize = std::function<std::string(size_t)>;

    // One line per size: each column's benchmark in ns per find, CPU.
    void printPerKey(const char *title,
                      std::initializer_list<std::pair<const char *, CaseOfSize>> columns) {
        std::printf("\n%s (ns per key, CPU)\n", title);
        for (size_t n : kSizes) {
            std::printf("%-7zu", n);
            for (const auto &[label, name] : columns)
                std::printf("   %s %6.1f", label, cpuTimeOf(name(n)) * 1e3 / double(n));
            std::printf("\n");
        }
    }

    // Each peer's CPU time over `base`'s, per case.
    void printRatiosOver(const char *base, std::initializer_list<const char *> peers) {
        std::printf("\npeer CPU time / %s CPU time (above 1: %s faster)\n%-22s", base, base,
                    "case");
        for (const char *peer : peers) std::printf(" %10s", peer);
        std::printf("\n");
        for (const char *op : kOps)
            for (KeyKind kind : kKinds)
                for (size_t n : kSizes) {
                    std::string prefix = caseName(op, kind, n);
                    double own = cpuTimeOf(prefix + "/" + base);
                    if (own == 0.0) continue;
                    std::printf("%-22s", prefix.c_str());
                    for (const char *peer : peers) {
                        double other = cpuTimeOf(prefix + "/" + peer);
                        if (other == 0.0)
                            std::printf(" %10s", "-");
                        else
                            std::printf(" %9.2fx", other / own);
                    }
                    std::printf("\n");
                }
    }

    void printRatios() {
        printRatiosOver("ombrix", {"open", "std", "absl", "glib"});
        printRatiosOver("open", {"std", "absl", "hopscotch", "glib"});
        // Pointer keys under a mixing hashFunction instead of the default hash.
        printRatiosOver("ombrix_mix", {"std", "absl", "glib"});
        printRatiosOver("open_mix", {"std", "absl", "hopscotch"});
        std::printf("\nbytes per entry of a full map\n");
        std::printf("%-22s", "case");
        for (const char *contender : kContenders) std::printf(" %10s", contender);
        std::printf("\n");
        for (KeyKind kind : kKinds)
            for (size_t n : kSizes) {
                std::string prefix = caseName("bytes", kind, n);
                std::printf("%-22s", prefix.c_str());
                for (const char *contender : kContenders) {
                    auto it = gBytesPerEntry.find(prefix + "/" + contender);
                    if (it == gBytesPerEntry.end())
                        std::printf(" %10s", "-");
                    else
                        std::printf(" %10.1f", it->second);
                }
                std::printf("\n");
            }
        auto floor = [](const char *name) {
            return [name](size_t n) { return std::string(name) + "/" + std::to_string(n); };
        };
        auto hit = [](KeyKind kind, const char *contender) {
            return [=](size_t n) { return caseName("find_hit", kind, n) + "/" + contender; };
        };
        printPerKey("find_hit/int against the floors",
                     {{"slot", floor("floor/int")}, {"layout", floor("floor_layout/int")},
                      {"call", floor("floor_call/int")}, {"ombrix", hit(kInt, "ombrix")},
                      {"absl", hit(kInt, "absl")}, {"glib", hit(kInt, "glib")}});
        printPerKey("find_hit/int, open table, against its floors",
                     {{"layout", floor("floor_layout_open/int")}, {"call", floor("floor_call_open/int")},
                      {"open", hit(kInt, "open")}, {"absl", hit(kInt, "absl")}});
        printPerKey("find_hit/ptr, open table, default hash, against its layout floor",
                     {{"layout", floor("floor_layout/ptr")}, {"open", hit(kPtr, "open")},
                      {"open_mix", hit(kPtr, "open_mix")}, {"hopscotch", hit(kPtr, "hopscotch")}});
        printPerKey("find_hit/str against the layout floors of both tables",
                     {{"layout", floor("floor_layout/str")}, {"ombrix", hit(kStr, "ombrix")},
                      {"open layout", floor("floor_layout_open/str")}, {"open", hit(kStr, "open")},
                      {"std", hit(kStr, "std")}, {"glib", hit(kStr, "glib")}});
        auto miss = [](KeyKind kind, const char *contender) {
            return [=](size_t n) { return caseName("find_miss", kind, n) + "/" + contender; };
        };
        printPerKey("find_miss/int against the chained table's floors",
                     {{"layout", floor("floor_layout_miss/int")}, {"call", floor("floor_call_miss/int")},
                      {"checked call", floor("floor_checked_call_miss/int")},
                      {"ombrix", miss(kInt, "ombrix")},
                      {"glib", miss(kInt, "glib")}, {"std", miss(kInt, "std")}});
        printPerKey("find_miss/str against the chained table's layout floor",
                     {{"layout", floor("floor_layout_miss/str")}, {"ombrix", miss(kStr, "ombrix")},
                      {"glib", miss(kStr, "glib")}, {"std", miss(kStr, "std")}});
        auto insert = [](const char *contender) {
            return [=](size_t n) { return caseName("insert", kInt, n) + "/" + contender; };
        };
        printPerKey("insert/int against the chained table's floors",
                     {{"growth memory", floor("floor_growth_memory/int")},
                      {"layout", floor("floor_insert_layout/int")}, {"ombrix", insert("ombrix")},
                      {"open", insert("open")}, {"glib", insert("glib")}, {"std", insert("std")}});
        std::printf("\n");
        for (const char *op : {"insert", "find"}) {
            std::string prefix = std::string("collision_") + op;
            double own = cpuTimeOf(prefix + "/ombrix"), peer = cpuTimeOf(prefix + "/std");
            if (own != 0.0 && peer != 0.0)
                std::printf("%s (64K keys, one bucket): ombrix %.3f s, std %.3f s, std / ombrix "
                            "%.2fx\n",
                            prefix.c_str(), own / 1e3, peer / 1e3, peer / own);
        }
    }
};

// Runs the program again with glibc's malloc advising all its memory for
// transparent huge pages, unless GLIBC_TUNABLES is already set (set it to
// anything, say "glibc.malloc.hugetlb=0", to run on the pages malloc
// chooses). The reference host advises its blocks of 2 MiB and more for huge
// pages; once such a block is freed malloc can hand its range on, still
// advised, to whichever contender allocates next, so without this a peer's
// table may land on huge pages or not depending on which rows ran before it.
// With it every contender's memory is backed alike, as a production host
// backs its own.
void reexecWithHugePages(char **argv) {
    if (std::getenv("GLIBC_TUNABLES")) return;
    setenv("GLIBC_TUNABLES", "glibc.malloc.hugetlb=1", 1);
    execv("/proc/self/exe", argv);
    unsetenv("GLIBC_TUNABLES");  // exec failed: run as started
}

}  // namespace

int main(int argc, char **argv) {
    reexecWithHugePages(argv);
    const char *tunables = std::getenv("GLIBC_TUNABLES");
    benchmark::AddCustomContext("GLIBC_TUNABLES", tunables ? tunables : "(unset)");
    registerContender<Ombrix>("ombrix");
    registerContender<OmbrixOpen>("open");
    registerContender<OmbrixMixed>("ombrix_mix", {kPtr});
    registerContender<OmbrixOpenMixed>("open_mix", {kPtr});
    registerContender<StdUnordered>("std");
    registerContender<AbslFlat>("absl");
    registerContender<Hopscotch>("hopscotch");
    registerContender<Glib>("glib");
    const std::pair<const char *, void (*)(benchmark::State &, size_t)> floors[] = {
        {"floor/int/", BM_FloorEntryProbe},
        {"floor_layout/int/", BM_LayoutFloor},
        {"floor_layout/ptr/", BM_OpenLayoutFloor},
        {"floor_layout/str/", BM_StrLayoutFloor},
        {"floor_layout_miss/str/", BM_StrMissLayoutFloor},
        {"floor_layout_miss/int/", BM_IntMissLayoutFloor},
        {"floor_call_miss/int/", BM_CallMissFloor},
        {"floor_checked_call_miss/int/", BM_CheckedCallMissFloor},
        {"floor_growth_memory/int/", BM_GrowthMemoryFloor},
        {"floor_insert_layout/int/", BM_InsertLayoutFloor},
        {"floor_layout_open/str/", BM_OpenStrLayoutFloor},
        {"floor_call/int/", BM_CallFloor},
        {"floor_layout_open/int/", BM_OpenIntLayoutFloor},
        {"floor_call_open/int/", BM_OpenIntCallFloor},
        {"floor_iterate_layout/int/", BM_IterateLayoutFloor},
        {"floor_iterate_call/int/", BM_IterateCallFloor},
        {"floor_iterate_layout_call/int/", BM_IterateLayoutCallFloor},
    };
    for (size_t n : kSizes)
        for (const auto &[name, run] : floors)
            bench::withLeast(benchmark::RegisterBenchmark((name + std::to_string(n)).c_str(), run, n))
                ->Unit(benchmark::kMicrosecond);
    for (bool find : {false, true}) {
        std::string op = find ? "collision_find/" : "collision_insert/";
        benchmark::RegisterBenchmark((op + "ombrix").c_str(), BM_CollisionOmbrix, find)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
        benchmark::RegisterBenchmark((op + "std").c_str(), BM_CollisionStd, find)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }
    return bench::runWithRatios<Reporter>(argc, argv);
}
