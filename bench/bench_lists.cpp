// The lists against the standard containers, side by side in one run.
//
//   append:  1M appends of 8-byte by-value elements to a fresh array list
//            (unlocked and locked), created and destroyed in the timing,
//            against std::vector<uint64_t>::push_back with no reserve;
//   queue:   1000 linkedListAddLast, then 1000 linkedListRemoveFirst, on an
//            unlocked list, against std::list<uint64_t> push_back/pop_front
//            with the default allocator. By reference the entry is the only
//            block; by value the copy is a second block, which RemoveFirst
//            hands to the caller and the caller gives back to the pool;
//   read:    a sum over 1M elements by arrayListGet, by the list's iterator
//            and by ToArray's array, against vector indexing.
//
// The library is the shared one, called by its exported names as a host
// component calls it; the pools are the reference host's with scribbling
// off.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <list>
#include <vector>

#include "ombrix/array_list.h"
#include "ombrix/extension.h"
#include "ombrix/linked_list.h"
#include "qvhost.h"

namespace {

constexpr int32_t kAppends = 1 << 20;
constexpr int32_t kQueue = 1000;

// One reference host for the whole run, with the library's handle set.
QVWord *host() {
    static QVWord *handle = [] {
        QVWord *h = qvhostCreate();
        qvhostSetScribble(h, 0);
        uint64_t major, minor;
        qvextver(h, &major, &minor);
        return h;
    }();
    return handle;
}

constexpr uint32_t kUnlocked = OMBRIX_FLAG_NO_LOCK;
constexpr uint32_t kLocked = 0;

void arrayListAppend(benchmark::State &state, uint32_t flags) {
    host();
    OmbrixArrayListParms parms = {8, 0, flags, 0, 0, nullptr};
    for (auto _ : state) {
        OmbrixArrayList *list = arrayListNew(nullptr, parms);
        for (uint64_t v = 0; v < kAppends; ++v) arrayListAddLast(list, &v);
        benchmark::DoNotOptimize(list->elements);
        arrayListDestroy(list);
    }
    state.SetItemsProcessed(state.iterations() * kAppends);
}

void BM_ArrayListAddLast(benchmark::State &state) { arrayListAppend(state, kUnlocked); }
void BM_ArrayListAddLastLocked(benchmark::State &state) { arrayListAppend(state, kLocked); }

void BM_VectorPushBack(benchmark::State &state) {
    for (auto _ : state) {
        std::vector<uint64_t> vector;
        for (uint64_t v = 0; v < kAppends; ++v) vector.push_back(v);
        benchmark::DoNotOptimize(vector.data());
    }
    state.SetItemsProcessed(state.iterations() * kAppends);
}

void linkedListQueue(benchmark::State &state, uint32_t keyType) {
    host();
    OmbrixLinkedListParms parms = {8, keyType, kUnlocked, 0, nullptr};
    OmbrixLinkedList *list = linkedListNew(nullptr, parms);
    auto giveBack = reinterpret_cast<QVPoolFreeFn>(list->pool[QV_POOL_FREE]);
    bool byValue = keyType != OMBRIX_BY_REFERENCE;
    std::vector<uint64_t> values(kQueue);
    for (auto _ : state) {
        for (uint64_t &v : values) linkedListAddLast(list, &v);
        for (int32_t i = 0; i < kQueue; ++i) {
            void *element = linkedListRemoveFirst(list);
            benchmark::DoNotOptimize(element);
            if (byValue) giveBack(list->pool, element);
        }
    }
    linkedListDestroy(list);
    state.SetItemsProcessed(state.iterations() * kQueue);
}

void BM_LinkedListQueue(benchmark::State &state) { linkedListQueue(state, OMBRIX_BY_REFERENCE); }
void BM_LinkedListQueueByValue(benchmark::State &state) { linkedListQueue(state, 0); }

void BM_StdListQueue(benchmark::State &state) {
    std::list<uint64_t> list;
    for (auto _ : state) {
        for (uint64_t v = 0; v < kQueue; ++v) list.push_back(v);
        for (int32_t i = 0; i < kQueue; ++i) {
            benchmark::DoNotOptimize(list.front());
            list.pop_front();
        }
    }
    state.SetItemsProcessed(state.iterations() * kQueue);
}

OmbrixArrayList *filledList() {
    host();
    OmbrixArrayListParms parms = {8, 0, kUnlocked, kAppends, 0, nullptr};
    OmbrixArrayList *list = arrayListNew(nullptr, parms);
    for (uint64_t v = 0; v < kAppends; ++v) arrayListAddLast(list, &v);
    return list;
}

void BM_ArrayListGet(benchmark::State &state) {
    OmbrixArrayList *list = filledList();
    for (auto _ : state) {
        uint64_t sum = 0;
        for (int32_t i = 0; i < kAppends; ++i) sum += *static_cast<uint64_t *>(arrayListGet(list, i));
        benchmark::DoNotOptimize(sum);
    }
    arrayListDestroy(list);
    state.SetItemsProcessed(state.iterations() * kAppends);
}

void BM_ArrayListIterator(benchmark::State &state) {
    OmbrixArrayList *list = filledList();
    for (auto _ : state) {
        uint64_t sum = 0;
        OmbrixIterator it = arrayListIterator(list);
        while (it.hasNext) sum += *static_cast<uint64_t *>(it.next(&it));
        it.release(&it);
        benchmark::DoNotOptimize(sum);
    }
    arrayListDestroy(list);
    state.SetItemsProcessed(state.iterations() * kAppends);
}

void BM_ArrayListToArray(benchmark::State &state) {
    OmbrixArrayList *list = filledList();
    for (auto _ : state) {
        int32_t count = 0;
        void *elements = nullptr;
        arrayListToArray(list, &count, &elements);
        const auto *values = static_cast<const uint64_t *>(elements);
        uint64_t sum = 0;
        for (int32_t i = 0; i < count; ++i) sum += values[i];
        benchmark::DoNotOptimize(sum);
    }
    arrayListDestroy(list);
    state.SetItemsProcessed(state.iterations() * kAppends);
}

void BM_VectorIndex(benchmark::State &state) {
    std::vector<uint64_t> vector;
    for (uint64_t v = 0; v < kAppends; ++v) vector.push_back(v);
    for (auto _ : state) {
        uint64_t sum = 0;
        for (size_t i = 0; i < vector.size(); ++i) sum += vector[i];
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kAppends);
}

}  // namespace

BENCHMARK(BM_ArrayListAddLast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArrayListAddLastLocked)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VectorPushBack)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinkedListQueue)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LinkedListQueueByValue)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdListQueue)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ArrayListGet)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArrayListIterator)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArrayListToArray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VectorIndex)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
