// The UTF drivers against iconv and ICU's ucnv_convert on 1 MiB of ASCII
// text and 1 MiB of mixed UTF-8 (1-, 2-, 3- and 4-byte characters), both
// directions: UTF-8 -> UTF-32BE (ConvertToUTF32 with UTF8_UTF32 and
// COPY_UTF32) and UTF-32BE -> UTF-8 (ConvertFromUTF32 with UTF32_UTF8 and
// COPY_UTF32b). All run in one process; the table at the end gives each
// peer's time over ours (above 1: ours is faster).
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <unicode/ucnv.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "ombrix/utf.h"

namespace {

// English-like words, deterministic.
std::string asciiText() {
    static const char *const words[] = {"the", "quick", "brown", "fox", "jumps", "over", "lazy", "dog",
                                        "container", "text", "routine", "host", "pool", "and", "of"};
    return bench::wordText(words, sizeof words / sizeof words[0], 1, 9, ".\n");
}

// Words from several scripts, so that every sequence length is common:
// Latin with accents (1 and 2 bytes), Greek and Cyrillic (2), Chinese,
// Japanese, Korean and Devanagari (3), emoji and mathematical letters (4).
std::string mixedText() {
    static const char *const words[] = {
        "naïve",     "café",     "Straße",   "über",     "hello",  "señor",  "καλημέρα", "κόσμε",
        "привет",    "мир",      "你好",     "世界",     "こんにちは", "안녕하세요", "नमस्ते", "😀",
        "🎉🎉",      "𝔸𝕓𝕔",      "data",     "ünïcødé",  "東京",   "Ελλάδα", "Москва",   "🚀 go"};
    return bench::wordText(words, sizeof words / sizeof words[0], 2, 7, ", ");
}

const std::string &textOf(int which) {
    static const std::string ascii = asciiText(), mixed = mixedText();
    return which == 0 ? ascii : mixed;
}

// The text as UTF-32BE, made with the plain readers and writers.
const std::vector<uint8_t> &unitsOf(int which) {
    static std::vector<uint8_t> cache[2];
    std::vector<uint8_t> &units = cache[which];
    if (units.empty()) {
        const std::string &text = textOf(which);
        units.resize(4 * text.size());
        uint64_t written = 0;
        ConvertToUTF32(reinterpret_cast<const uint8_t *>(text.data()), text.size(), units.data(), units.size(),
                       &written, UTF8_UTF32, COPY_UTF32);
        units.resize(written);
    }
    return units;
}

void setCounters(benchmark::State &state, size_t inputBytes, uint64_t outputBytes, uint64_t expectedOutput) {
    state.SetBytesProcessed(int64_t(state.iterations() * inputBytes));
    if (outputBytes != expectedOutput) state.SkipWithError("output size differs from the expected one");
}

// ----- UTF-8 -> UTF-32BE

void BM_ToUtf32_ombrix(benchmark::State &state) {
    const std::string &text = textOf(int(state.range(0)));
    std::vector<uint8_t> out(4 * text.size());
    uint64_t written = 0;
    for (auto _ : state) {
        ConvertToUTF32(reinterpret_cast<const uint8_t *>(text.data()), text.size(), out.data(), out.size(), &written,
                       UTF8_UTF32, COPY_UTF32);
        benchmark::DoNotOptimize(out.data());
    }
    setCounters(state, text.size(), written, unitsOf(int(state.range(0))).size());
}

uint64_t iconvAll(iconv_t cd, const void *src, size_t n, void *dst, size_t cap) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char *in = const_cast<char *>(static_cast<const char *>(src));
    char *out = static_cast<char *>(dst);
    size_t inLeft = n, outLeft = cap;
    iconv(cd, &in, &inLeft, &out, &outLeft);
    return cap - outLeft;
}

void BM_ToUtf32_iconv(benchmark::State &state) {
    const std::string &text = textOf(int(state.range(0)));
    std::vector<uint8_t> out(4 * text.size());
    iconv_t cd = iconv_open("UTF-32BE", "UTF-8");
    uint64_t written = 0;
    for (auto _ : state) {
        written = iconvAll(cd, text.data(), text.size(), out.data(), out.size());
        benchmark::DoNotOptimize(out.data());
    }
    iconv_close(cd);
    setCounters(state, text.size(), written, unitsOf(int(state.range(0))).size());
}

void BM_ToUtf32_icu(benchmark::State &state) {
    const std::string &text = textOf(int(state.range(0)));
    std::vector<char> out(4 * text.size());
    uint64_t written = 0;
    for (auto _ : state) {
        UErrorCode error = U_ZERO_ERROR;
        written = uint64_t(ucnv_convert("UTF-32BE", "UTF-8", out.data(), int32_t(out.size()), text.data(),
                                        int32_t(text.size()), &error));
        benchmark::DoNotOptimize(out.data());
    }
    setCounters(state, text.size(), written, unitsOf(int(state.range(0))).size());
}

// ----- UTF-32BE -> UTF-8

void BM_FromUtf32_ombrix(benchmark::State &state) {
    const std::vector<uint8_t> &units = unitsOf(int(state.range(0)));
    std::vector<uint8_t> out(units.size());
    uint64_t written = 0;
    for (auto _ : state) {
        ConvertFromUTF32(units.data(), units.size(), out.data(), out.size(), &written, UTF32_UTF8, COPY_UTF32b);
        benchmark::DoNotOptimize(out.data());
    }
    setCounters(state, units.size(), written, textOf(int(state.range(0))).size());
}

void BM_FromUtf32_iconv(benchmark::State &state) {
    const std::vector<uint8_t> &units = unitsOf(int(state.range(0)));
    std::vector<uint8_t> out(units.size());
    iconv_t cd = iconv_open("UTF-8", "UTF-32BE");
    uint64_t written = 0;
    for (auto _ : state) {
        written = iconvAll(cd, units.data(), units.size(), out.data(), out.size());
        benchmark::DoNotOptimize(out.data());
    }
    iconv_close(cd);
    setCounters(state, units.size(), written, textOf(int(state.range(0))).size());
}

void BM_FromUtf32_icu(benchmark::State &state) {
    const std::vector<uint8_t> &units = unitsOf(int(state.range(0)));
    std::vector<char> out(units.size());
    uint64_t written = 0;
    for (auto _ : state) {
        UErrorCode error = U_ZERO_ERROR;
        written = uint64_t(ucnv_convert("UTF-8", "UTF-32BE", out.data(), int32_t(out.size()),
                                        reinterpret_cast<const char *>(units.data()), int32_t(units.size()),
                                        &error));
        benchmark::DoNotOptimize(out.data());
    }
    setCounters(state, units.size(), written, textOf(int(state.range(0))).size());
}

// Argument 0: ASCII text; 1: mixed text.
#define TEXTS ArgName("text")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_ToUtf32_ombrix)->TEXTS;
BENCHMARK(BM_ToUtf32_iconv)->TEXTS;
BENCHMARK(BM_ToUtf32_icu)->TEXTS;
BENCHMARK(BM_FromUtf32_ombrix)->TEXTS;
BENCHMARK(BM_FromUtf32_iconv)->TEXTS;
BENCHMARK(BM_FromUtf32_icu)->TEXTS;

// Keeps every run's CPU time (the median when repetitions are asked) and
// prints the peers' times over ours after the usual console report.
class RatioReporter : public bench::RatioReporter {
public:
    void printRatios() const {
        std::printf("\nRatios (peer time / ombrix time; above 1: ombrix is faster)\n");
        std::printf("%-24s %10s %10s\n", "conversion", "iconv", "ICU");
        for (const char *direction : {"ToUtf32", "FromUtf32"}) {
            for (const char *text : {"text:0", "text:1"}) {
                double ours = lookup(direction, "ombrix", text);
                std::printf("%-9s %-14s %9.2fx %9.2fx\n", direction,
                            std::strcmp(text, "text:0") == 0 ? "ASCII" : "mixed",
                            lookup(direction, "iconv", text) / ours, lookup(direction, "icu", text) / ours);
            }
        }
    }

private:
    double lookup(const char *direction, const char *who, const char *text) const {
        return cpuTimeOf(std::string("BM_") + direction + "_" + who + "/" + text);
    }
};

}  // namespace

int main(int argc, char **argv) { return bench::runWithRatios<RatioReporter>(argc, argv); }
