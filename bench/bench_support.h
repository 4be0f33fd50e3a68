// What the benchmarks share: deterministic text drawn from word lists, and
// a console reporter that keeps each benchmark's time so that the program
// can print peer-over-ombrix ratios once every run is over.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace bench {

constexpr size_t kTextBytes = 1 << 20;

// Words drawn from `words` with a fixed seed, so every run measures the same
// bytes; after a word comes `mark` one time in `every`, else a space. The
// text is cut at a UTF-8 character boundary at or below kTextBytes.
inline std::string wordText(const char *const *words, size_t count, unsigned seed, unsigned every,
                            const char *mark) {
    std::mt19937 random(seed);
    std::string text;
    while (text.size() < kTextBytes) {
        text += words[random() % count];
        text += random() % every == 0 ? mark : " ";
    }
    size_t end = kTextBytes;
    while ((static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

// Runs `measure(container)` once per iteration on a container that `make`
// builds (and prepares) untimed and that is deleted untimed.
template <typename Make, typename Measure>
void timeOnFresh(benchmark::State &state, Make make, Measure measure) {
    for (auto _ : state) {
        state.PauseTiming();
        auto *container = make();
        state.ResumeTiming();
        measure(*container);
        state.PauseTiming();
        delete container;
        state.ResumeTiming();
    }
}

// The least of a benchmark's repetitions, as an extra aggregate. On a shared
// machine another tenant only ever adds time (a filled L3 turns a 2 ms walk
// into a 6 ms one for a whole repetition), so with the repetitions randomly
// interleaved the least is each contender's cost under the same conditions.
inline benchmark::internal::Benchmark *withLeast(benchmark::internal::Benchmark *benchmark) {
    return benchmark->ComputeStatistics("min", [](const std::vector<double> &times) {
        double least = times.empty() ? 0.0 : times[0];
        for (double time : times) least = time < least ? time : least;
        return least;
    });
}

// Keeps, per benchmark ("BM_Name" or "BM_Name/args"), the least of its
// repetitions when withLeast gave it one, else their median, else its run;
// errored runs are left out.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    struct Times {
        double real;
        double cpu;
    };

    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred) continue;
            bool aggregate = run.run_type == Run::RT_Aggregate;
            int rank = !aggregate ? 1 : run.aggregate_name == "median" ? 2
                                      : run.aggregate_name == "min"    ? 3
                                                                       : 0;
            if (rank == 0) continue;
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
            int &kept = ranks_[name];
            if (rank < kept) continue;
            times_[name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
            kept = rank;
        }
    }

  protected:
    // The times of benchmark `name`, or null when it did not run.
    const Times *timesOf(const std::string &name) const {
        auto it = times_.find(name);
        return it == times_.end() ? nullptr : &it->second;
    }

    // Its CPU time, 0 when it did not run.
    double cpuTimeOf(const std::string &name) const {
        const Times *times = timesOf(name);
        return times ? times->cpu : 0.0;
    }

  private:
    std::map<std::string, Times> times_;
    std::map<std::string, int> ranks_;  // 1 a run, 2 a median, 3 the least
};

// The main of a benchmark program whose reporter prints its ratios at the
// end through printRatios().
template <typename Reporter>
int runWithRatios(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}

}  // namespace bench
