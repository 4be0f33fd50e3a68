// ombrix-demo: loads libombrix.so the way the QV host does and drives it.
//
//   ombrix-demo [path/to/libombrix.so]
//
// The host side is the reference host, qvhost. The library is reached only
// through dlopen, its exported entry points and the tables of its record.
#include <dlfcn.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "ombrix/extension.h"
#include "demo.h"
#include "qvhost.h"

namespace {

struct Library {
    void *handle;
    QVStatus (*qvextver)(QVWord *, uint64_t *, uint64_t *);
    QVStatus (*qvvercn1)(OmbrixVersionRecord *);
    OmbrixExtension *(*entry)(QVWord *, QVWord *);
};

bool load(const char *path, Library *lib) {
    lib->handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!lib->handle) {
        std::fprintf(stderr, "ombrix-demo: cannot load %s: %s\n", path, dlerror());
        return false;
    }
    return bind(lib->handle, "qvextver", &lib->qvextver) &&
           bind(lib->handle, "qvvercn1", &lib->qvvercn1) &&
           bind(lib->handle, "ombrix", &lib->entry);
}

void printVersionRecord(const Library &lib) {
    OmbrixVersionRecord record;
    lib.qvvercn1(&record);
    std::printf("version record:\n");
    for (int i = 0; i < 17; ++i) {
        if (i == 3) {
            std::printf("  [3] built at %" PRIu64 " (seconds since 1970)\n", record.words[3]);
            continue;
        }
        std::printf("  [%d] %s\n", i, reinterpret_cast<const char *>(record.words[i]));
    }
}

int countFilled(OmbrixFunction *table, int words) {
    int filled = 0;
    for (int i = 0; i < words; ++i) filled += table[i] != nullptr;
    return filled;
}

void printTables(const OmbrixExtension *ext) {
    std::printf("tables (filled words / length):\n");
    std::printf("  factory          %2d / %d\n", countFilled(ext->factoryTable, OMBRIX_FACTORY_WORDS),
                OMBRIX_FACTORY_WORDS);
    std::printf("  thin hash map    %2d / %d\n",
                countFilled(ext->thinHashMapTable, OMBRIX_THIN_HASH_MAP_WORDS),
                OMBRIX_THIN_HASH_MAP_WORDS);
    std::printf("  thin array list  %2d / %d\n",
                countFilled(ext->thinArrayListTable, OMBRIX_THIN_ARRAY_LIST_WORDS),
                OMBRIX_THIN_ARRAY_LIST_WORDS);
    std::printf("  item list        %2d / %d\n",
                countFilled(ext->itemListTable, OMBRIX_ITEM_LIST_WORDS), OMBRIX_ITEM_LIST_WORDS);
}

}  // namespace

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : OMBRIX_LIBRARY_PATH;
    Library lib{};
    if (!load(path, &lib)) return 1;
    std::printf("loaded %s\n", path);

    QVWord *host = qvhostCreate();
    if (!host) return 1;
    uint64_t major = 0, minor = 0;
    lib.qvextver(host, &major, &minor);
    std::printf("qvextver: the library is built for QV host interface %" PRIu64 ".%" PRIu64 "\n",
                major, minor);
    printVersionRecord(lib);

    OmbrixExtension *ext = lib.entry(host, nullptr);
    if (!ext) {
        std::fprintf(stderr, "ombrix-demo: the entry returned no extension record\n");
        return 1;
    }
    uint64_t patch = 0;
    ext->getReqVersion(ext, &major, &minor, &patch);
    std::printf("extension record: requires host %" PRIu64 ".%" PRIu64 ".%" PRIu64, major, minor,
                patch);
    ext->getVersion(ext, &major, &minor, &patch);
    std::printf(", is version %" PRIu64 ".%" PRIu64 ".%" PRIu64 "\n", major, minor, patch);
    printTables(ext);

    QVHostPoolStats stats{};
    qvhostPoolStats(ext->pool, &stats);
    std::printf("pool \"%s\": %" PRIu64 " blocks, %" PRIu64 " bytes\n", qvhostPoolName(ext->pool),
                stats.liveBlocks, stats.liveBytes);

    // Each family tours itself; see demo.h.
    textTour(lib.handle);
    utf8Tour(lib.handle);
    stringBufferTour(host, ext);
    listsTour(ext, host);
    treeTour(lib.handle, ext);
    hashMapTour(ext);

    ext->destroyExtension(ext);
    std::printf("destroyed the extension; pools still alive: %" PRIu64 "\n", qvhostLivePools(host));
    bool clean = qvhostLivePools(host) == 0;
    qvhostDestroy(host);
    dlclose(lib.handle);
    std::printf(clean ? "ombrix-demo: done\n" : "ombrix-demo: pools were left behind\n");
    return clean ? 0 : 1;
}
