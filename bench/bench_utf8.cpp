// Counting UTF-8 characters: UTF8_SLENB and qvzsu8NumChars against glibc
// strlen (which only finds the end, the floor for any count) and against
// ICU's UTF-8 macros (a U8_NEXT decoding loop and a U8_FWD_1 stepping loop,
// the way u_countChar32 counts), on 1 MiB of ASCII text and 1 MiB of mixed
// text with 1-, 2-, 3- and 4-byte characters. All run in one process; the
// table at the end gives each peer's time over ours (above 1: ours is
// faster).
#include <benchmark/benchmark.h>
#include <unicode/utf8.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench_support.h"
#include "ombrix/utf8.h"

namespace {

const std::string &textOf(int which) {
    static const char *const ascii[] = {"the", "tree", "keeps", "its", "keys", "in", "order",
                                        "while", "a", "hash", "map", "spreads", "them", "out"};
    // Latin with accents (1-2 bytes), Greek, Cyrillic, Hebrew (2), CJK,
    // Thai, Devanagari (3), emoji and mathematical letters (4).
    static const char *const mixed[] = {"déjà",  "vu",      "Grüße",  "año",    "ελληνικά", "язык",
                                        "שלום",  "漢字",    "かな",   "한국어", "ภาษา",     "हिन्दी",
                                        "😀",    "🌍🌏",    "𝒜𝒷𝒸",    "text",   "Ωmega",    "naïve"};
    static const std::string texts[2] = {bench::wordText(ascii, sizeof ascii / sizeof *ascii, 3, 8, ".\n"),
                                         bench::wordText(mixed, sizeof mixed / sizeof *mixed, 4, 8, ".\n")};
    return texts[which];
}

// The count every character counter must reach.
uint64_t expectedChars(int which) {
    const std::string &text = textOf(which);
    uint64_t count = 0;
    for (unsigned char c : text) count += (c & 0xC0) != 0x80;
    return count;
}

void check(benchmark::State &state, uint64_t got, uint64_t expected) {
    state.SetBytesProcessed(int64_t(state.iterations() * textOf(int(state.range(0))).size()));
    if (got != expected) state.SkipWithError("the count differs from the expected one");
}

void BM_Count_slenb(benchmark::State &state) {
    const std::string &text = textOf(int(state.range(0)));
    uint64_t n = 0;
    for (auto _ : state) {
        n = UTF8_SLENB(text.data(), text.size());
        benchmark::DoNotOptimize(n);
    }
    check(state, n, expectedChars(int(state.range(0))));
}

void BM_Count_numchars(benchmark::State &state) {
    const std::string &text = textOf(int(state.range(0)));
    uint64_t n = 0;
    for (auto _ : state) {
        n = qvzsu8NumChars(text.data(), text.size());
        benchmark::DoNotOptimize(n);
    }
    check(state, n, expectedChars(int(state.range(0))));
}

void BM_Count_strlen(benchmark::State &state) {
    const std::string &text = textOf(int(state.range(0)));
    const char *p = text.c_str();
    size_t n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(p);
        n = std::strlen(p);
        benchmark::DoNotOptimize(n);
    }
    check(state, n, text.size());
}

void BM_Count_icuNext(benchmark::State &state) {
    const std::string &text = textOf(int(state.range(0)));
    const auto *s = reinterpret_cast<const uint8_t *>(text.data());
    auto length = int32_t(text.size());
    uint64_t n = 0;
    for (auto _ : state) {
        n = 0;
        for (int32_t i = 0; i < length; ++n) {
            UChar32 c;
            U8_NEXT(s, i, length, c);
            benchmark::DoNotOptimize(c);
        }
        benchmark::DoNotOptimize(n);
    }
    check(state, n, expectedChars(int(state.range(0))));
}

void BM_Count_icuFwd(benchmark::State &state) {
    const std::string &text = textOf(int(state.range(0)));
    const auto *s = reinterpret_cast<const uint8_t *>(text.data());
    auto length = int32_t(text.size());
    uint64_t n = 0;
    for (auto _ : state) {
        n = 0;
        for (int32_t i = 0; i < length; ++n) U8_FWD_1(s, i, length);
        benchmark::DoNotOptimize(n);
    }
    check(state, n, expectedChars(int(state.range(0))));
}

// Argument 0: ASCII text; 1: mixed text.
#define TEXTS ArgName("text")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_Count_slenb)->TEXTS;
BENCHMARK(BM_Count_numchars)->TEXTS;
BENCHMARK(BM_Count_strlen)->TEXTS;
BENCHMARK(BM_Count_icuNext)->TEXTS;
BENCHMARK(BM_Count_icuFwd)->TEXTS;

// Keeps every run's CPU time (the median when repetitions are asked) and
// prints the peers' times over ours after the usual console report.
class RatioReporter : public bench::RatioReporter {
public:
    void printRatios() const {
        std::printf("\nRatios (peer time / ombrix time; above 1: ombrix is faster)\n");
        std::printf("%-16s %-6s %9s %9s %9s\n", "routine", "text", "strlen", "U8_NEXT", "U8_FWD_1");
        for (const char *ours : {"slenb", "numchars"}) {
            for (const char *text : {"text:0", "text:1"}) {
                double t = lookup(ours, text);
                std::printf("%-16s %-6s %8.3fx %8.2fx %8.2fx\n",
                            std::strcmp(ours, "slenb") == 0 ? "UTF8_SLENB" : "qvzsu8NumChars",
                            std::strcmp(text, "text:0") == 0 ? "ASCII" : "mixed",
                            lookup("strlen", text) / t, lookup("icuNext", text) / t,
                            lookup("icuFwd", text) / t);
            }
        }
    }

private:
    double lookup(const char *who, const char *text) const {
        return cpuTimeOf(std::string("BM_Count_") + who + "/" + text);
    }
};

}  // namespace

int main(int argc, char **argv) { return bench::runWithRatios<RatioReporter>(argc, argv); }
