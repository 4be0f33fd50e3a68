// String buffer appends against std::string, side by side in one run.
//
//   AddString/n:    stringBufferAddString of an n-byte piece (length given)
//                   against std::string::append(piece, n);
//   AddStringNul/n: the same with length 0 (the buffer measures the piece
//                   as UTF-8) against std::string::append(piece), which
//                   measures it with strlen;
//   AddInt:         stringBufferAddInt (host formatter and transcoder)
//                   against std::to_chars into a stack buffer + append.
//
// Both sides empty their text, untimed, once it passes 64 KiB, so the loop
// measures appends into warm memory, growth included at the start. The host's pools
// are unlocked and do not scribble. After the runs the ratios are printed:
// string buffer time over std::string time (below 1.5 meets the target).
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "ombrix/extension.h"
#include "ombrix/string_buffer.h"
#include "bench_support.h"
#include "qvhost.h"

namespace {

constexpr uint64_t kFlushBytes = 64 * 1024;

const char kText[] = "the quick brown fox jumps over the lazy dog, again and again";

struct Fixture {
    Fixture() {
        host = qvhostCreate();
        qvhostSetScribble(host, 0);
        uint64_t major, minor;
        qvextver(host, &major, &minor);
        QVPoolOptions options{};
        options.flags = 1;  // unlocked: one thread
        auto create = reinterpret_cast<QVCreatePoolFn>(host[QV_HOST_CREATE_POOL]);
        pool = static_cast<QVWord *>(create(host, &options, nullptr, "bench"));
        buffer = stringBufferNew(pool, 0);
    }
    ~Fixture() {
        buffer->destroy(buffer, 1);
        reinterpret_cast<QVPoolDestroyFn>(pool[QV_POOL_DESTROY])(pool);
        qvhostDestroy(host);
        Exported_QVHandle = nullptr;
    }
    QVWord *host;
    QVWord *pool;
    OmbrixStringBuffer *buffer;
};

// Empties a text outside the timed region: the loops measure appends, not
// the buffer's reset (which zeroes its whole capacity, to keep every byte
// from the length on zero) nor std::string::clear.
template <typename Empty>
void flush(benchmark::State &state, Empty empty) {
    state.PauseTiming();
    empty();
    state.ResumeTiming();
}

// Pieces of n bytes at changing offsets of the text, so no call sees the
// same address twice in a row.
std::vector<std::string> pieces(size_t n) {
    std::vector<std::string> out;
    for (size_t i = 0; i < 16; ++i) out.emplace_back(kText + i, n);
    return out;
}

void BM_StringBufferAddString(benchmark::State &state) {
    Fixture f;
    OmbrixStringBuffer *b = f.buffer;
    auto p = pieces(static_cast<size_t>(state.range(0)));
    int32_t status = 0;
    size_t i = 0;
    for (auto _ : state) {
        const std::string &piece = p[i++ & 15];
        b->addString(b, piece.data(), piece.size(), &status);
        if (b->length > kFlushBytes) flush(state, [b] { b->reset(b); });
    }
    if (status != 0) state.SkipWithError("append failed");
}

void BM_StdStringAppend(benchmark::State &state) {
    std::string s;
    auto p = pieces(static_cast<size_t>(state.range(0)));
    size_t i = 0;
    for (auto _ : state) {
        const std::string &piece = p[i++ & 15];
        s.append(piece.data(), piece.size());
        benchmark::DoNotOptimize(s.data());
        if (s.size() > kFlushBytes) flush(state, [&s] { s.clear(); });
    }
}

void BM_StringBufferAddStringNul(benchmark::State &state) {
    Fixture f;
    OmbrixStringBuffer *b = f.buffer;
    auto p = pieces(static_cast<size_t>(state.range(0)));
    int32_t status = 0;
    size_t i = 0;
    for (auto _ : state) {
        b->addString(b, p[i++ & 15].c_str(), 0, &status);
        if (b->length > kFlushBytes) flush(state, [b] { b->reset(b); });
    }
    if (status != 0) state.SkipWithError("append failed");
}

void BM_StdStringAppendNul(benchmark::State &state) {
    std::string s;
    auto p = pieces(static_cast<size_t>(state.range(0)));
    size_t i = 0;
    for (auto _ : state) {
        const char *piece = p[i++ & 15].c_str();
        benchmark::DoNotOptimize(piece);
        s.append(piece);
        benchmark::DoNotOptimize(s.data());
        if (s.size() > kFlushBytes) flush(state, [&s] { s.clear(); });
    }
}

void BM_StringBufferAddInt(benchmark::State &state) {
    Fixture f;
    OmbrixStringBuffer *b = f.buffer;
    int32_t status = 0;
    int32_t value = -1234567;
    for (auto _ : state) {
        b->addInt(b, value, &status);
        value += 7919;
        if (b->length > kFlushBytes) flush(state, [b] { b->reset(b); });
    }
    if (status != 0) state.SkipWithError("append failed");
}

void BM_StdToCharsAppend(benchmark::State &state) {
    std::string s;
    int32_t value = -1234567;
    for (auto _ : state) {
        char digits[16];
        auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        s.append(digits, static_cast<size_t>(end - digits));
        benchmark::DoNotOptimize(s.data());
        value += 7919;
        if (s.size() > kFlushBytes) flush(state, [&s] { s.clear(); });
    }
}

BENCHMARK(BM_StringBufferAddString)->Arg(4)->Arg(16)->Arg(48);
BENCHMARK(BM_StdStringAppend)->Arg(4)->Arg(16)->Arg(48);
BENCHMARK(BM_StringBufferAddStringNul)->Arg(4)->Arg(16)->Arg(48);
BENCHMARK(BM_StdStringAppendNul)->Arg(4)->Arg(16)->Arg(48);
BENCHMARK(BM_StringBufferAddInt);
BENCHMARK(BM_StdToCharsAppend);

// Keeps each run's time per iteration (the median when repeated) so the
// ratios can be printed after the ordinary report.
class RatioReporter : public bench::RatioReporter {
  public:
    void printRatios() const {
        std::printf("\nstring buffer / std::string (time ratio; target below 1.5):\n");
        const char *pairs[][3] = {
            {"AddString", "BM_StringBufferAddString", "BM_StdStringAppend"},
            {"AddString, length 0", "BM_StringBufferAddStringNul", "BM_StdStringAppendNul"},
        };
        for (auto &pair : pairs)
            for (const char *size : {"/4", "/16", "/48"}) ratio(pair[0], size, pair[1], pair[2]);
        ratio("AddInt vs to_chars + append", "", "BM_StringBufferAddInt", "BM_StdToCharsAppend");
    }

  private:
    void ratio(const char *what, const char *size, const char *ours, const char *peer) const {
        const Times *a = timesOf(std::string(ours) + size);
        const Times *b = timesOf(std::string(peer) + size);
        if (!a || !b || b->real <= 0 || b->cpu <= 0) return;
        std::printf("  %-28s %-4s real %7.2f / %7.2f ns = %5.2fx   cpu %7.2f / %7.2f ns = %5.2fx\n",
                    what, size, a->real, b->real, a->real / b->real, a->cpu, b->cpu,
                    a->cpu / b->cpu);
    }
};

}  // namespace

int main(int argc, char **argv) { return bench::runWithRatios<RatioReporter>(argc, argv); }
