// The hash map as a host component uses it: made through the factory table
// with no pool, keyed by one 4-byte integer field of the item (copied into
// the map) with 8-byte copied values, then added to, searched, walked in key
// order, counted and destroyed.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "demo.h"
#include "ombrix/hash_map.h"

namespace {

struct Parcel {
    int32_t number;   // the key
    int32_t shelf;
};

}  // namespace

void hashMapTour(OmbrixExtension *ext) {
    auto make = reinterpret_cast<OmbrixHashMap *(*)(QVWord *, OmbrixHashMapParms)>(
        ext->factoryTable[OMBRIX_FACTORY_HASH_MAP_NEW]);
    if (!make) {
        std::printf("hash map: the factory table has no hashMapNew\n");
        return;
    }
    OmbrixKeyPart number = {OMBRIX_PART_INT32, 4, 1, {0, 0, 0, 0, 0}, 0};
    OmbrixHashMapParms parms = {};
    parms.keyMode = OMBRIX_KEY_COMPOSITE;
    parms.keyPartCount = 1;
    parms.keyParts = &number;
    parms.valueMode = OMBRIX_VALUE_COPY;
    parms.valueSize = 8;
    parms.flags = OMBRIX_HASH_MAP_SORTED;
    OmbrixHashMap *map = make(nullptr, parms);  // its own pool, "ombrixh"; 32 buckets
    if (!map) {
        std::fprintf(stderr, "ombrix-demo: hashMapNew returned null\n");
        return;
    }
    // Parcels 7, 39 and 71 share bucket 7 of 32; the value is a 64-bit
    // weight in grams, copied into the map.
    Parcel parcels[] = {{71, 3}, {7, 1}, {12, 2}, {39, 1}, {1000, 4}};
    for (const Parcel &p : parcels) {
        uint64_t grams = 250u * static_cast<uint64_t>(p.number);
        map->add(map, &p, &grams);
    }
    std::printf("hash map: %d parcels\n", map->size(map));

    Parcel probe = {39, 0};
    auto *grams = static_cast<const uint64_t *>(map->find(map, &probe));
    std::printf("hash map find 39: %" PRIu64 " g\n", grams ? *grams : 0);

    std::printf("hash map in key order:");
    OmbrixIterator it = map->entryIterator(map);
    if (it.next) {
        while (it.hasNext) {
            auto *entry = static_cast<OmbrixHashMapEntry *>(it.next(&it));
            int32_t key;
            uint64_t value;
            std::memcpy(&key, entry->key, sizeof key);
            std::memcpy(&value, entry->value, sizeof value);
            std::printf(" %d=%" PRIu64 "g", key, value);
        }
        it.release(&it);
    }
    std::printf("\nhash map buckets (length : buckets * length (share of entries)):\n");
    std::fflush(stdout);
    map->stat(map);
    std::fflush(stdout);
    map->destroy(map);  // and its pool
}
