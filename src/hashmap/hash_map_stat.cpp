// hashMapStat: a histogram of bucket lengths on standard output, counted in
// a temporary hash map (int32 key, double accumulator, sorted iteration) so
// that the lines come out in ascending key order.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/export.h"
#include "hashmap/hash_map.h"
#include "hashmap/hash_map_open.h"
#include "hashmap/hash_map_stat.h"
#include "ombrix/hash_map.h"

namespace omb {

namespace {
// The counting map's key: one signed 32-bit part at the start of the item.
const OmbrixKeyPart def = {OMBRIX_PART_INT32, 4, 1, {0, 0, 0, 0, 0}, 0};
}  // namespace

OmbrixHashMapParms countingMapParms(uint32_t valueMode) {
    OmbrixHashMapParms parms = {};
    parms.keyMode = OMBRIX_KEY_COMPOSITE;
    parms.keyPartCount = 1;
    parms.keyParts = const_cast<OmbrixKeyPart *>(&def);  // the map copies it
    parms.valueMode = valueMode;
    parms.flags = OMBRIX_HASH_MAP_SORTED | OMBRIX_FLAG_NO_LOCK;
    parms.tableKind = OMBRIX_TABLE_CHAINED;
    return parms;
}

}  // namespace omb

namespace {

using Map = OmbrixHashMap;

// The histogram map and its counts; destroyed with the object.
class Histogram {
  public:
    // Key k counts as a double; the map makes its own pool.
    Histogram() : map_(hashMapNew(nullptr, omb::countingMapParms(OMBRIX_VALUE_ACCUMULATE))) {}
    ~Histogram() {
        if (map_) map_->destroy(map_);
    }
    Histogram(const Histogram &) = delete;
    Histogram &operator=(const Histogram &) = delete;

    bool ready() const { return map_ != nullptr; }
    Map *map() const { return map_; }

    // Adds `amount` to key k's count, or 1.0 with no amount.
    QVStatus count(int32_t k, const double *amount = nullptr) {
        return map_->add(map_, &k, amount);
    }

  private:
    Map *map_;
};

// Chained table: one count per bucket under its length (a tree bucket's
// count is negative), and the empty buckets under 0.
QVStatus countChainedBuckets(const omb::HashMapState &state, Histogram &histogram,
                             int64_t *total) {
    double emptyBuckets = 0.0;
    for (int32_t b = 0; b < state.tableSize; ++b) {
        int32_t n = std::abs(state.bucketCounts[b]);
        if (n == 0) {
            emptyBuckets += 1.0;
            continue;
        }
        *total += n;
        if (histogram.count(n) != OMBRIX_OK) return OMBRIX_E_NO_MEMORY;
    }
    return histogram.count(0, &emptyBuckets);
}

// Line per histogram key k with its count c. The share is that of all
// entries lying in buckets of length k (for k = 0, the empty buckets
// against the entry count).
void printChainedLine(int32_t k, double c, double entries) {
    double share = k == 0 ? c / entries * 100.0 : k * c / entries * 100.0;
    std::printf("%d : %d * %d (%.2f%%)\n", k, static_cast<int32_t>(c), k, share);
}

// Open table: a home bucket of m entries (its neighbourhood's, then its
// chain's) counts once under each rank 1 .. m; home slots holding no key
// count under 0.
QVStatus countOpenBuckets(const omb::HashMapState &state, Histogram &histogram, int64_t *total) {
    double emptySlots = 0.0;
    for (int32_t b = 0; b < state.tableSize; ++b) {
        int32_t members = omb::hashMapOpenMembers(state, b);
        for (int32_t rank = 1; rank <= members; ++rank)
            if (histogram.count(rank) != OMBRIX_OK) return OMBRIX_E_NO_MEMORY;
        *total += members;
        if (!state.slots[b].key) emptySlots += 1.0;
    }
    return histogram.count(0, &emptySlots);
}

void printOpenLine(int32_t k, double c, double entries) {
    std::printf("%d : %d (%.2f%%)\n", k, static_cast<int32_t>(c), c / entries * 100.0);
}

QVStatus printHistogram(Histogram &histogram, const omb::HashMapState &state,
                        void (*printLine)(int32_t, double, double)) {
    OmbrixIterator it = hashMapEntryIterator(histogram.map());
    if (!it.next) return OMBRIX_E_NO_MEMORY;
    double entries = state.count;
    while (it.hasNext) {
        auto *entry = static_cast<OmbrixHashMapEntry *>(it.next(&it));
        // A record packs the key and the double without padding, so the
        // double may be unaligned.
        int32_t k;
        double c;
        std::memcpy(&k, entry->key, sizeof k);
        std::memcpy(&c, entry->value, sizeof c);
        printLine(k, c, entries);
    }
    it.release(&it);
    return OMBRIX_OK;
}

}  // namespace

extern "C" {

OMBRIX_API QVStatus hashMapStat(Map *map) {
    if (!map) return OMBRIX_OK;
    const omb::HashMapState &state = *omb::hashMapStateOf(map);
    QVStatus (*countBuckets)(const omb::HashMapState &, Histogram &, int64_t *) = nullptr;
    void (*printLine)(int32_t, double, double) = nullptr;
    switch (map->parms->tableKind) {
        case OMBRIX_TABLE_CHAINED:
            countBuckets = countChainedBuckets;
            printLine = printChainedLine;
            break;
        case OMBRIX_TABLE_OPEN:
            countBuckets = countOpenBuckets;
            printLine = printOpenLine;
            break;
        default:
            return OMBRIX_OK;  // the host's table keeps no buckets to count
    }
    Histogram histogram;
    if (!histogram.ready()) return OMBRIX_E_NO_MEMORY;
    int64_t total = 0;
    QVStatus status = countBuckets(state, histogram, &total);
    if (status == OMBRIX_OK) status = printHistogram(histogram, state, printLine);
    if (status != OMBRIX_OK) return status;
    std::printf("\ntotal elements: %ld\n", static_cast<long>(total));
    std::printf("number resizes: %d\n", state.resizeCount);
    return OMBRIX_OK;
}

}  // extern "C"
