// The lists, made through the extension's tables as a host component makes
// them: an array list of records, a linked list used as a queue with entry
// handles, two storages over the two backings, and a thin array list.
#include <cinttypes>
#include <cstdio>
#include <initializer_list>

#include "demo.h"
#include "ombrix/array_list.h"
#include "ombrix/linked_list.h"
#include "ombrix/storage.h"
#include "ombrix/thin_array_list.h"
#include "qvhost.h"

namespace {

struct Reading {
    int32_t station;
    int32_t celsius;
};

template <typename T>
T tableFunction(OmbrixFunction *table, int position) {
    return reinterpret_cast<T>(table[position]);
}

void arrayListPart(OmbrixExtension *ext) {
    auto make = tableFunction<OmbrixArrayList *(*)(QVWord *, OmbrixArrayListParms)>(
        ext->factoryTable, OMBRIX_FACTORY_ARRAY_LIST_NEW);
    OmbrixArrayListParms parms = {sizeof(Reading), 0, 0, 0, 0, nullptr};
    OmbrixArrayList *list = make(nullptr, parms);  // its own pool, "ombrixa"
    if (!list) return;
    std::printf("array list: by value, %d-byte elements, %d slots\n", list->elementSize,
                list->parms.capacity);
    for (int32_t i = 0; i < 17; ++i) {
        Reading r = {100 + i, 10 + i % 7};
        list->addLast(list, &r);
    }
    std::printf("  17 appends: %d elements, now %d slots (grown by half plus one)\n",
                list->size(list), list->parms.capacity);
    Reading first = {99, -4};
    list->add(list, 0, &first);
    Reading *got = static_cast<Reading *>(list->get(list, 0));
    std::printf("  add at 0, get(0): station %d, %d C\n", got->station, got->celsius);

    // A composite key of one part: the station field.
    OmbrixKeyPart station = {OMBRIX_PART_INT32, 4, 1, {0, 0, 0, 0, 0}, 0};
    OmbrixKeyDefinition byStation = {OMBRIX_KEY_COMPOSITE, 1, &station, 0};
    int32_t wanted = 110;
    int32_t at = list->findByKey(list, &wanted, 0, byStation);
    std::printf("  findByKey(station 110) = index %d, %d C\n", at,
                static_cast<Reading *>(list->get(list, at))->celsius);

    OmbrixIterator it = list->iterator(list);
    int32_t warm = 0;
    while (it.hasNext) warm += static_cast<Reading *>(it.next(&it))->celsius >= 14;
    it.release(&it);
    int32_t count = 0;
    void *array = nullptr;
    list->toArray(list, &count, &array);
    std::printf("  iterator: %d of %d readings at 14 C or more; toArray hands out the list's "
                "own array (last station %d)\n",
                warm, count, static_cast<Reading *>(array)[count - 1].station);
    list->destroy(list);
}

void linkedListPart(OmbrixExtension *ext) {
    auto make = tableFunction<OmbrixLinkedList *(*)(QVWord *, OmbrixLinkedListParms)>(
        ext->factoryTable, OMBRIX_FACTORY_LINKED_LIST_NEW);
    static const char *jobs[] = {"fetch", "parse", "index", "report"};
    OmbrixLinkedListParms parms = {0, OMBRIX_BY_REFERENCE, OMBRIX_FLAG_NO_LOCK, 0, nullptr};
    OmbrixLinkedList *queue = make(nullptr, parms);
    if (!queue) return;
    queue->addLast(queue, jobs[0]);
    queue->addLast(queue, jobs[2]);
    queue->addLast(queue, jobs[3]);
    // Entry handles: put "parse" right after the head without a walk.
    queue->addAfter(queue, queue->getFirstEntry(queue), jobs[1]);
    std::printf("linked list: by reference, unlocked, %d jobs queued; served:", queue->size(queue));
    while (void *job = queue->removeFirst(queue)) std::printf(" %s", static_cast<const char *>(job));
    std::printf("\n");
    queue->destroy(queue);
}

void storagePart(OmbrixExtension *ext, QVWord *host) {
    auto make = tableFunction<OmbrixStorage *(*)(QVWord *, OmbrixStorageParms)>(
        ext->factoryTable, OMBRIX_FACTORY_STORAGE_NEW);
    // Both storages share one pool of the caller's; it outlives them.
    QVPoolOptions options = {};
    auto createPool = reinterpret_cast<QVCreatePoolFn>(host[QV_HOST_CREATE_POOL]);
    auto *pool = static_cast<QVWord *>(createPool(host, &options, nullptr, "demo storage"));
    if (!pool) return;
    OmbrixStorageParms parms = {};
    parms.keySize = 4;
    parms.listKind = 0;
    OmbrixStorage *array = make(pool, parms);
    parms.listKind = 1;
    OmbrixStorage *linked = make(pool, parms);
    if (array && linked) {
        for (int32_t v : {3, 1, 4, 1, 5}) {
            array->addLast(array, &v);
            linked->addLast(linked, &v);
        }
        std::printf("storage: the same five values over an array list and a linked list: "
                    "compare = %d (0: equal)\n",
                    array->compare(array, linked));
        int32_t one = 1;
        linked->remove(linked, &one);
        std::printf("  after removing the first 1 from the linked one: compare = %d\n",
                    array->compare(array, linked));
        int32_t count = 0;
        void **pointers = nullptr;
        linked->toArray(linked, &count, &pointers);
        std::printf("  toArray of the linked one:");
        for (int32_t i = 0; i < count; ++i) std::printf(" %d", *static_cast<int32_t *>(pointers[i]));
        std::printf("\n");
    }
    if (array) array->destroy(array);
    if (linked) linked->destroy(linked);
    QVHostPoolStats stats{};
    qvhostPoolStats(pool, &stats);
    std::printf("  pool \"%s\" after both storages went: %" PRIu64
                " blocks (the toArray array, kept until the pool goes)\n",
                qvhostPoolName(pool), stats.liveBlocks);
    reinterpret_cast<QVPoolDestroyFn>(pool[QV_POOL_DESTROY])(pool);
}

void thinArrayListPart(OmbrixExtension *ext) {
    auto make = tableFunction<OmbrixThinArrayList *(*)(QVWord *, uint32_t, int32_t, int32_t)>(
        ext->thinArrayListTable, 0);
    auto add = tableFunction<QVStatus (*)(OmbrixThinArrayList *, const void *)>(
        ext->thinArrayListTable, 1);
    auto destroy = tableFunction<void (*)(OmbrixThinArrayList *)>(ext->thinArrayListTable, 2);
    OmbrixThinArrayList *list = make(nullptr, 0, 8, 0);
    if (!list) return;
    for (int64_t v = 1; v <= 9; ++v) {
        int64_t square = v * v;
        add(list, &square);
    }
    const auto *squares = static_cast<const int64_t *>(list->elements);
    std::printf("thin array list: %d squares in %d slots (8 grew to 13), the last %" PRId64 "\n",
                list->count, list->capacity, squares[list->count - 1]);
    destroy(list);
}

}  // namespace

void listsTour(OmbrixExtension *ext, QVWord *host) {
    arrayListPart(ext);
    linkedListPart(ext);
    storagePart(ext, host);
    thinArrayListPart(ext);
}
