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

// BMP text as documents hold it: sentences of one script each, in equal
// shares of English-like Latin, Latin with accented letters (U+00C0 ..
// U+017F, one letter in four), Greek, Cyrillic and CJK ideographs. Words of
// one to ten letters, small but for the first of a sentence and one in ten
// others, separated by blanks, now and then a comma or a number; CJK runs
// without blanks and ends with an ideographic full stop.
std::vector<QVChar> wordText(size_t bytes) {
    struct Script {
        QVChar capital, small, letters;  // capitals and small letters as two runs
        QVChar accentFrom, accentTo;     // 0: no accented letters
        QVChar blank, stop;              // 0: words run together
    };
    const Script scripts[] = {{0x41, 0x61, 26, 0, 0, 0x20, 0x2E},
                              {0x41, 0x61, 26, 0xC0, 0x17F, 0x20, 0x2E},
                              {0x391, 0x3B1, 17, 0, 0, 0x20, 0x2E},
                              {0x410, 0x430, 32, 0, 0, 0x20, 0x2E},
                              {0x4E00, 0x4E00, 0x5200, 0, 0, 0, 0x3002}};
    std::mt19937 random(5);
    std::vector<QVChar> v;
    const size_t units = bytes / sizeof(QVChar);
    while (v.size() < units) {
        const Script &s = scripts[random() % 5];
        size_t words = 4 + random() % 12;
        for (size_t w = 0; w < words; ++w) {
            if (w > 0 && s.blank) {
                if (random() % 12 == 0) v.push_back(0x2C);
                v.push_back(s.blank);
            }
            if (s.blank && random() % 15 == 0) {
                for (size_t d = 1 + random() % 4; d > 0; --d) v.push_back(0x30 + random() % 10);
                continue;
            }
            bool capital = w == 0 || random() % 10 == 0;
            for (size_t l = 1 + random() % 10; l > 0; --l, capital = false) {
                if (s.accentFrom && random() % 4 == 0)
                    v.push_back(s.accentFrom + random() % (s.accentTo - s.accentFrom + 1));
                else
                    v.push_back((capital ? s.capital : s.small) + random() % s.letters);
            }
        }
        v.push_back(s.stop);
        if (s.blank) v.push_back(s.blank);
    }
    v.resize(units);
    return v;
}

// The hard case for anything that bets on runs: every unit drawn on its own
// from Latin, Latin-1 and Latin Extended-A, Greek, Cyrillic or CJK, both
// cases alike.
std::vector<QVChar> scatteredText(size_t bytes) {
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

// Both sides copy the text back before each round, so both pay for the copy.
template <typename Map>
void caseLoop(benchmark::State &state, std::vector<QVChar> (*textOf)(size_t), Map map) {
    auto text = textOf(static_cast<size_t>(state.range(0)));
    AlignedCopy work(text);
    for (auto _ : state) {
        std::memcpy(work.data.get(), text.data(), text.size() * sizeof(QVChar));
        map(work.data.get(), work.units);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_qvzstlo(benchmark::State &state, std::vector<QVChar> (*textOf)(size_t)) {
    caseLoop(state, textOf, [](QVChar *c, size_t n) { qvzstlo(c, static_cast<int64_t>(n)); });
}

void BM_qvzstup(benchmark::State &state, std::vector<QVChar> (*textOf)(size_t)) {
    caseLoop(state, textOf, [](QVChar *c, size_t n) { qvzstup(c, static_cast<int64_t>(n)); });
}

void BM_icuToLowerLoop(benchmark::State &state, std::vector<QVChar> (*textOf)(size_t)) {
    caseLoop(state, textOf, [](QVChar *c, size_t n) {
        for (size_t i = 0; i < n; ++i) c[i] = static_cast<QVChar>(u_tolower(static_cast<UChar32>(c[i])));
    });
}

void BM_icuToUpperLoop(benchmark::State &state, std::vector<QVChar> (*textOf)(size_t)) {
    caseLoop(state, textOf, [](QVChar *c, size_t n) {
        for (size_t i = 0; i < n; ++i) c[i] = static_cast<QVChar>(u_toupper(static_cast<UChar32>(c[i])));
    });
}

BENCHMARK(BM_ybMemScan)->Apply(sizes);
BENCHMARK(BM_qvmemchr)->Apply(sizes);
BENCHMARK(BM_memchr)->Apply(sizes);
BENCHMARK(BM_ybMemSet)->Apply(sizes);
BENCHMARK(BM_memset)->Apply(sizes);
BENCHMARK(BM_ybStrUp)->Apply(sizes);
BENCHMARK(BM_toupperLoop)->Apply(sizes);
BENCHMARK_CAPTURE(BM_qvzstlo, words, wordText)->Apply(sizes);
BENCHMARK_CAPTURE(BM_icuToLowerLoop, words, wordText)->Apply(sizes);
BENCHMARK_CAPTURE(BM_qvzstup, words, wordText)->Apply(sizes);
BENCHMARK_CAPTURE(BM_icuToUpperLoop, words, wordText)->Apply(sizes);
BENCHMARK_CAPTURE(BM_qvzstlo, scattered, scatteredText)->Apply(sizes);
BENCHMARK_CAPTURE(BM_icuToLowerLoop, scattered, scatteredText)->Apply(sizes);
BENCHMARK_CAPTURE(BM_qvzstup, scattered, scatteredText)->Apply(sizes);
BENCHMARK_CAPTURE(BM_icuToUpperLoop, scattered, scatteredText)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
