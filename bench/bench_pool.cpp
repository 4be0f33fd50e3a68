// Pool allocation against the C library's malloc and free.
//
//   single: allocate one block and free it again, per iteration;
//   batch:  allocate 1000 blocks, then destroy the pool (against 1000
//           mallocs followed by 1000 frees).
//
// The pools are unlocked and scribbling is off, so the pool does what malloc
// does: hand out memory with unspecified contents. The locked variants show
// what the mutex of a locked pool costs.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "qvhost.h"

namespace {

constexpr int kBatch = 1000;

template <typename Fn>
Fn slot(QVWord *object, int index) {
    return reinterpret_cast<Fn>(object[index]);
}

struct Host {
    Host() {
        handle = qvhostCreate();
        qvhostSetScribble(handle, 0);
    }
    ~Host() { qvhostDestroy(handle); }
    QVWord *pool(uint32_t flags) const {
        QVPoolOptions options{};
        options.flags = flags;
        return static_cast<QVWord *>(slot<QVCreatePoolFn>(handle, QV_HOST_CREATE_POOL)(
            handle, &options, nullptr, "bench"));
    }
    QVWord *handle;
};

constexpr uint32_t kUnlocked = 1;
constexpr uint32_t kLocked = 0;

void poolSingle(benchmark::State &state, uint32_t flags) {
    Host host;
    QVWord *pool = host.pool(flags);
    auto allocate = slot<QVPoolAllocateFn>(pool, QV_POOL_ALLOCATE);
    auto release = slot<QVPoolFreeFn>(pool, QV_POOL_FREE);
    const uint64_t size = static_cast<uint64_t>(state.range(0));
    for (auto _ : state) {
        void *block = allocate(pool, size, 0);
        benchmark::DoNotOptimize(block);
        release(pool, block);
    }
    slot<QVPoolDestroyFn>(pool, QV_POOL_DESTROY)(pool);
}

void BM_PoolSingle(benchmark::State &state) { poolSingle(state, kUnlocked); }
void BM_LockedPoolSingle(benchmark::State &state) { poolSingle(state, kLocked); }

void BM_MallocSingle(benchmark::State &state) {
    const size_t size = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        void *block = std::malloc(size);
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
}

void poolBatch(benchmark::State &state, uint32_t flags) {
    Host host;
    const uint64_t size = static_cast<uint64_t>(state.range(0));
    for (auto _ : state) {
        QVWord *pool = host.pool(flags);
        auto allocate = slot<QVPoolAllocateFn>(pool, QV_POOL_ALLOCATE);
        for (int i = 0; i < kBatch; ++i) {
            void *block = allocate(pool, size, 0);
            benchmark::DoNotOptimize(block);
        }
        slot<QVPoolDestroyFn>(pool, QV_POOL_DESTROY)(pool);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_PoolBatch(benchmark::State &state) { poolBatch(state, kUnlocked); }
void BM_LockedPoolBatch(benchmark::State &state) { poolBatch(state, kLocked); }

void BM_MallocBatch(benchmark::State &state) {
    const size_t size = static_cast<size_t>(state.range(0));
    std::vector<void *> blocks(kBatch);
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) {
            blocks[i] = std::malloc(size);
            benchmark::DoNotOptimize(blocks[i]);
        }
        for (int i = 0; i < kBatch; ++i) std::free(blocks[i]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

#define SIZES RangeMultiplier(2)->Range(16, 256)
BENCHMARK(BM_PoolSingle)->SIZES;
BENCHMARK(BM_MallocSingle)->SIZES;
BENCHMARK(BM_LockedPoolSingle)->SIZES;
BENCHMARK(BM_PoolBatch)->SIZES;
BENCHMARK(BM_MallocBatch)->SIZES;
BENCHMARK(BM_LockedPoolBatch)->SIZES;

}  // namespace

BENCHMARK_MAIN();
