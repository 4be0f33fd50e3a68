// Memory and case primitives against the C library and ICU, on 64 B, 4 KiB
// and 1 MiB buffers. Run the whole program at once: the ratios come from
// one run on one machine.
#include <benchmark/benchmark.h>
#include <unicode/uchar.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "ombrix/case.h"
#include "ombrix/primitives.h"

namespace {

void sizes(benchmark::internal::Benchmark *b) { b->Arg(64)->Arg(4096)->Arg(1 << 20); }

// Scans look for a byte found only in the last position.
std::vector<unsigned char> scanBuffer(size_t n) {
    std::vector<unsigned char> v(n, 'a');
    v[n - 1] = 'z';
    return v;
}

void BM_ybMemScan(benchmark::State &state) {
    auto v = scanBuffer(static_cast<size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(ybMemScan(v.data(), v.size(), 'z'));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_qvmemchr(benchmark::State &state) {
    auto v = scanBuffer(static_cast<size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(qvmemchr(v.data(), 'z', v.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_memchr(benchmark::State &state) {
    auto v = scanBuffer(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(v.data());
        benchmark::DoNotOptimize(std::memchr(v.data(), 'z', v.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_ybMemSet(benchmark::State &state) {
    std::vector<unsigned char> v(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        ybMemSet(v.data(), 0x5A, v.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_memset(benchmark::State &state) {
    std::vector<unsigned char> v(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(v.data());
        std::memset(v.data(), 0x5A, v.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

std::vector<char> mixedAscii(size_t n) {
    std::mt19937 random(3);
    std::vector<char> v(n);
    for (auto &c : v) c = static_cast<char>(0x20 + random() % 0x5F);
    return v;
}

void BM_ybStrUp(benchmark::State &state) {
    auto v = mixedAscii(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        ybStrUp(v.data(), v.size());
        ybStrLow(v.data(), v.size());  // keep the input mixed for the next round
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(2 * static_cast<int64_t>(state.iterations()) * state.range(0));
}

// The loop a C programmer writes; kept from being vectorised so that it is
// the per-byte library call it stands for.
__attribute__((noinline, optimize("no-tree-vectorize"))) void scalarCase(char *p, size_t n,
                                                                         int (*fn)(int)) {
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<char>(fn(static_cast<unsigned char>(p[i])));
}

void BM_toupperLoop(benchmark::State &state) {
    auto v = mixedAscii(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        scalarCase(v.data(), v.size(), ::toupper);
        scalarCase(v.data(), v.size(), ::tolower);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(2 * static_cast<int64_t>(state.iterations()) * state.range(0));
}

// BMP text: Latin, Greek, Cyrillic and CJK letters in both cases.
std::vector<QVChar> bmpText(size_t bytes) {
    const QVChar ranges[][2] = {{0x41, 0x7A}, {0xC0, 0x17F}, {0x391, 0x3C9}, {0x410, 0x44F},
                                {0x4E00, 0x4FFF}};
    std::mt19937 random(5);
    std::vector<QVChar> v(bytes / sizeof(QVChar));
    for (auto &c : v) {
        auto &r = ranges[random() % 5];
        c = r[0] + random() % (r[1] - r[0] + 1);
    }
    return v;
}

// The case loops work on a copy that starts on a cache line, so that neither
// side's figures depend on where the heap happened to put the buffer (at
// 64 B a misplaced one cost the vector path half its speed in one run).
struct AlignedCopy {
    explicit AlignedCopy(const std::vector<QVChar> &from)
        : units(from.size()),
          data(static_cast<QVChar *>(std::aligned_alloc(64, (units * sizeof(QVChar) + 63) / 64 * 64)),
               std::free) {}
    size_t units;
    std::unique_ptr<QVChar, void (*)(void *)> data;
};

void BM_qvzstlo(benchmark::State &state) {
    auto text = bmpText(static_cast<size_t>(state.range(0)));
    AlignedCopy work(text);
    for (auto _ : state) {
        std::memcpy(work.data.get(), text.data(), text.size() * sizeof(QVChar));
        qvzstlo(work.data.get(), static_cast<int64_t>(work.units));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_icuToLowerLoop(benchmark::State &state) {
    auto text = bmpText(static_cast<size_t>(state.range(0)));
    AlignedCopy work(text);
    for (auto _ : state) {
        std::memcpy(work.data.get(), text.data(), text.size() * sizeof(QVChar));
        QVChar *c = work.data.get();
        for (size_t i = 0; i < work.units; ++i)
            c[i] = static_cast<QVChar>(u_tolower(static_cast<UChar32>(c[i])));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_ybMemScan)->Apply(sizes);
BENCHMARK(BM_qvmemchr)->Apply(sizes);
BENCHMARK(BM_memchr)->Apply(sizes);
BENCHMARK(BM_ybMemSet)->Apply(sizes);
BENCHMARK(BM_memset)->Apply(sizes);
BENCHMARK(BM_ybStrUp)->Apply(sizes);
BENCHMARK(BM_toupperLoop)->Apply(sizes);
BENCHMARK(BM_qvzstlo)->Apply(sizes);
BENCHMARK(BM_icuToLowerLoop)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
