// The ombrix tree against std::set, std::map and GLib's GTree: insert, find
// and erase of 1M 32-bit keys, random and ascending, as a single direct int32
// part of an item and as pointer keys. Every tree stores item pointers; the
// ombrix tree runs with one node per allocation (b0) and with blocks of 64
// nodes (b64), from an unlocked pool of the reference host with scribbling
// off. At the end the run prints each peer's CPU time divided by the ombrix
// tree's: above 1 the ombrix tree is faster.
#include <benchmark/benchmark.h>
#include <glib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "bench_host.h"
#include "ombrix/extension.h"
#include "ombrix/tree.h"
#include "qvhost.h"

namespace {

constexpr size_t kKeys = 1 << 20;

struct Item {
    int32_t key;
    int32_t payload;
};

enum Order { kRandom, kAscending };
enum KeyKind { kIntKey, kPointerKey };

// The items, the order keys go in, and the order they are looked up and
// erased in. Random: distinct random keys in a random order, looked up in
// another random order. Ascending: keys 0, 1, 2 ... in order.
struct Workload {
    std::vector<Item> items;
    std::vector<uint32_t> insertOrder;
    std::vector<uint32_t> probeOrder;
};

const Workload &workload(Order order) {
    static Workload cache[2];
    Workload &w = cache[order];
    if (!w.items.empty()) return w;
    w.items.resize(kKeys);
    w.insertOrder.resize(kKeys);
    std::iota(w.insertOrder.begin(), w.insertOrder.end(), 0u);
    w.probeOrder = w.insertOrder;
    if (order == kRandom) {
        std::mt19937 random(2026);
        std::set<int32_t> seen;
        for (Item &item : w.items) {
            int32_t key;
            do key = static_cast<int32_t>(random()); while (!seen.insert(key).second);
            item.key = key;
        }
        std::shuffle(w.insertOrder.begin(), w.insertOrder.end(), random);
        std::shuffle(w.probeOrder.begin(), w.probeOrder.end(), random);
    } else {
        for (size_t i = 0; i < kKeys; ++i) w.items[i].key = static_cast<int32_t>(i);
    }
    return w;
}

// For pointer keys the item addresses are the keys: the ascending workload
// inserts them in address order, the random one in a random order.
const Item *itemAt(const Workload &w, uint32_t index) { return &w.items[index]; }

using bench::benchHost;

// ---------------------------------------------------------------------------
// The contenders, each with the same four steps.

OmbrixKeyPart intPart = {OMBRIX_PART_INT32, 4, 1, {0, 0, 0, 0, 0}, 0};

struct OmbrixContender {
    OmbrixTree *tree;
    OmbrixContender(KeyKind kind, int32_t perBlock) {
        benchHost();
        OmbrixTreeParms parms = {};
        parms.keyMode = kind == kIntKey ? OMBRIX_KEY_COMPOSITE : OMBRIX_KEY_REFERENCE;
        parms.keyPartCount = kind == kIntKey ? 1 : 0;
        parms.keyParts = kind == kIntKey ? &intPart : nullptr;
        parms.nodesPerBlock = perBlock;
        parms.flags = OMBRIX_FLAG_NO_LOCK;
        tree = treeNew(nullptr, parms);
    }
    ~OmbrixContender() { treeDestroy(tree); }
    void insert(const Item *item) { treeAdd(tree, item); }
    bool find(const Item *item) { return treeFind(tree, item) != nullptr; }
    void erase(const Item *item) { treeRemove(tree, item); }
};

template <int32_t PerBlock>
struct OmbrixBlocks : OmbrixContender {
    explicit OmbrixBlocks(KeyKind kind) : OmbrixContender(kind, PerBlock) {}
};

struct StdSet {
    KeyKind kind;
    std::set<int32_t> ints;
    std::set<const Item *> pointers;
    explicit StdSet(KeyKind k) : kind(k) {}
    void insert(const Item *item) {
        if (kind == kIntKey)
            ints.insert(item->key);
        else
            pointers.insert(item);
    }
    bool find(const Item *item) {
        return kind == kIntKey ? ints.find(item->key) != ints.end()
                               : pointers.find(item) != pointers.end();
    }
    void erase(const Item *item) {
        if (kind == kIntKey)
            ints.erase(item->key);
        else
            pointers.erase(item);
    }
};

// The tree maps a key to its item; std::map does the same by value.
struct StdMap {
    std::map<int32_t, const Item *> map;
    explicit StdMap(KeyKind) {}
    void insert(const Item *item) { map.emplace(item->key, item); }
    bool find(const Item *item) { return map.find(item->key) != map.end(); }
    void erase(const Item *item) { map.erase(item->key); }
};

gint compareIntKeys(gconstpointer a, gconstpointer b) {
    int32_t x = static_cast<const Item *>(a)->key, y = static_cast<const Item *>(b)->key;
    return (x > y) - (x < y);
}

gint comparePointers(gconstpointer a, gconstpointer b) {
    auto x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
    return (x > y) - (x < y);
}

struct GlibTree {
    GTree *tree;
    explicit GlibTree(KeyKind kind)
        : tree(g_tree_new(kind == kIntKey ? compareIntKeys : comparePointers)) {}
    ~GlibTree() { g_tree_destroy(tree); }
    void insert(const Item *item) {
        g_tree_insert(tree, const_cast<Item *>(item), const_cast<Item *>(item));
    }
    bool find(const Item *item) { return g_tree_lookup(tree, item) != nullptr; }
    void erase(const Item *item) { g_tree_remove(tree, item); }
};

// ---------------------------------------------------------------------------
// The three measurements. Building and destroying a container outside the
// measured step is not timed.

template <typename Tree>
void fill(Tree &tree, const Workload &w) {
    for (uint32_t i : w.insertOrder) tree.insert(itemAt(w, i));
}

template <typename Tree>
void BM_Insert(benchmark::State &state, Order order, KeyKind kind) {
    const Workload &w = workload(order);
    for (auto _ : state) {
        state.PauseTiming();
        auto *tree = new Tree(kind);
        state.ResumeTiming();
        fill(*tree, w);
        state.PauseTiming();
        delete tree;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kKeys));
}

template <typename Tree>
void BM_Find(benchmark::State &state, Order order, KeyKind kind) {
    const Workload &w = workload(order);
    Tree tree(kind);
    fill(tree, w);
    size_t found = 0;
    for (auto _ : state)
        for (uint32_t i : w.probeOrder) found += tree.find(itemAt(w, i));
    if (found != size_t(state.iterations()) * kKeys) state.SkipWithError("a key was not found");
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kKeys));
}

template <typename Tree>
void BM_Erase(benchmark::State &state, Order order, KeyKind kind) {
    const Workload &w = workload(order);
    for (auto _ : state) {
        state.PauseTiming();
        auto *tree = new Tree(kind);
        fill(*tree, w);
        state.ResumeTiming();
        for (uint32_t i : w.probeOrder) tree->erase(itemAt(w, i));
        state.PauseTiming();
        delete tree;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kKeys));
}

// Registers one measurement for every contender under names
// "<op>/<order>/<key>/<contender>".
template <template <typename> class Measure>
struct Register {
    template <typename Tree>
    static void one(const std::string &prefix, const char *name, Order order, KeyKind kind) {
        benchmark::RegisterBenchmark((prefix + name).c_str(),
                                     [order, kind](benchmark::State &s) {
                                         Measure<Tree>::run(s, order, kind);
                                     })
            ->Unit(benchmark::kMillisecond);
    }
    static void all(const char *op) {
        for (Order order : {kRandom, kAscending})
            for (KeyKind kind : {kIntKey, kPointerKey}) {
                std::string prefix = std::string(op) + "/" +
                                     (order == kRandom ? "random" : "ascending") + "/" +
                                     (kind == kIntKey ? "int" : "pointer") + "/";
                one<OmbrixBlocks<0>>(prefix, "ombrix_b0", order, kind);
                one<OmbrixBlocks<64>>(prefix, "ombrix_b64", order, kind);
                one<StdSet>(prefix, "std_set", order, kind);
                if (kind == kIntKey) one<StdMap>(prefix, "std_map", order, kind);
                one<GlibTree>(prefix, "gtree", order, kind);
            }
    }
};

template <typename Tree>
struct InsertRun {
    static void run(benchmark::State &s, Order o, KeyKind k) { BM_Insert<Tree>(s, o, k); }
};
template <typename Tree>
struct FindRun {
    static void run(benchmark::State &s, Order o, KeyKind k) { BM_Find<Tree>(s, o, k); }
};
template <typename Tree>
struct EraseRun {
    static void run(benchmark::State &s, Order o, KeyKind k) { BM_Erase<Tree>(s, o, k); }
};

// Prints, after the usual table, every peer's CPU time over the ombrix
// tree's for both block settings. CPU time rather than wall time, and the
// fastest of the repetitions: the machine these figures come from is
// shared, and other work only ever slows a run down.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            double time = run.GetAdjustedCPUTime();
            auto [at, fresh] = times_.emplace(run.benchmark_name(), time);
            if (!fresh && time < at->second) at->second = time;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\npeer time / ombrix time (above 1: ombrix faster)\n");
        std::printf("%-26s %-10s %10s %10s %10s\n", "case", "ombrix", "std_set", "std_map",
                    "gtree");
        for (const char *op : {"insert", "find", "erase"})
            for (const char *order : {"random", "ascending"})
                for (const char *key : {"int", "pointer"})
                    for (const char *mine : {"ombrix_b0", "ombrix_b64"}) {
                        std::string prefix = std::string(op) + "/" + order + "/" + key + "/";
                        auto own = times_.find(prefix + mine);
                        if (own == times_.end()) continue;
                        std::printf("%-26s %-10s", prefix.c_str(), mine);
                        for (const char *peer : {"std_set", "std_map", "gtree"}) {
                            auto other = times_.find(prefix + peer);
                            if (other == times_.end())
                                std::printf(" %10s", "-");
                            else
                                std::printf(" %9.2fx", other->second / own->second);
                        }
                        std::printf("\n");
                    }
    }

  private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char **argv) {
    Register<InsertRun>::all("insert");
    Register<FindRun>::all("find");
    Register<EraseRun>::all("erase");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
