// The extension's face towards the host: the handle, the version functions,
// the entry that builds the extension record, and its destroy operation.
#include <cstddef>
#include <cstring>

#include "core/export.h"
#include "core/host_calls.h"
#include "ombrix/extension.h"
#include "ombrix/messages.h"
#include "tables.h"

#ifndef OMBRIX_BUILD_TIME
#define OMBRIX_BUILD_TIME 0
#endif

OMBRIX_API QVWord *Exported_QVHandle = nullptr;

namespace {

using omb::TableLayout;

static_assert(sizeof(OmbrixExtension) == 15 * 8);
static_assert(offsetof(OmbrixExtension, getReqVersion) == 3 * 8);
static_assert(offsetof(OmbrixExtension, getVersion) == 4 * 8);
static_assert(offsetof(OmbrixExtension, destroyExtension) == 6 * 8);
static_assert(offsetof(OmbrixExtension, pool) == 9 * 8);
static_assert(offsetof(OmbrixExtension, journal) == 10 * 8);
static_assert(offsetof(OmbrixExtension, factoryTable) == 11 * 8);
static_assert(offsetof(OmbrixExtension, thinHashMapTable) == 12 * 8);
static_assert(offsetof(OmbrixExtension, thinArrayListTable) == 13 * 8);
static_assert(offsetof(OmbrixExtension, itemListTable) == 14 * 8);
static_assert(sizeof(OmbrixVersionRecord) == 26 * 8);

constexpr uint64_t kHostMajor = 7, kHostMinor = 1, kHostPatch = 1;
constexpr uint64_t kOwnMajor = 1, kOwnMinor = 0, kOwnPatch = 0;

// The journal entry that reports a refused pool or allocation.
constexpr uintptr_t kEntryFailureFacility = 4, kEntryFailureCode = 1;

// The build
// identifier is the build time as sixteen hex digits behind "v1:", a
// 19-character text.
struct VersionTexts {
    char buildId[20];
};

VersionTexts makeVersionTexts() {
    VersionTexts texts{};
    static const char hex[] = "0123456789abcdef";
    std::memcpy(texts.buildId, "v1:", 3);
    uint64_t t = static_cast<uint64_t>(OMBRIX_BUILD_TIME);
    for (int i = 15; i >= 0; --i, t >>= 4) texts.buildId[3 + i] = hex[t & 0xf];
    return texts;
}

const VersionTexts versionTexts = makeVersionTexts();

const char *const versionText[16] = {
    "ombrix",
    "1.0.0",
    "in-memory containers and text routines for the QV host",
    versionTexts.buildId,
    "QV host interface 7.1",
    "extension version 1.0.0",
    "requires QV host 7.1.1",
    "built with " __VERSION__,
    "C ABI, 64-bit",
    "pools: host-supplied",
    "locks: host-supplied",
    "tables: factory, thin hash map, thin array list, item list",
    "text: UTF-8, UTF-16, UTF-32",
    "keys: composite, variable, reference",
    "ombrix " __DATE__,
    "no exceptions, no global state beyond the handle",
};

// Version numbers go through the pointers the caller gave; a null one is
// passed over, as an invalid argument changes nothing.
void store(uint64_t *to, uint64_t value) {
    if (to) *to = value;
}

QVStatus getReqVersion(OmbrixExtension *, uint64_t *major, uint64_t *minor, uint64_t *patch) {
    store(major, kHostMajor);
    store(minor, kHostMinor);
    store(patch, kHostPatch);
    return 0;
}

QVStatus getVersion(OmbrixExtension *, uint64_t *major, uint64_t *minor, uint64_t *patch) {
    store(major, kOwnMajor);
    store(minor, kOwnMinor);
    store(patch, kOwnPatch);
    return 0;
}

// The record and all four tables live in the extension's pool.
QVStatus destroyExtension(OmbrixExtension *ext) {
    if (ext) omb::poolDestroy(ext->pool);
    return 0;
}

OmbrixFunction *allocateTable(QVWord *pool, const TableLayout &layout) {
    auto *table = static_cast<OmbrixFunction *>(
        omb::poolAllocateZeroed(pool, sizeof(OmbrixFunction) * layout.words));
    if (table) {
        for (int i = 0; i < layout.filled; ++i) table[i] = layout.entries[i];
    }
    return table;
}

// Allocates the record and the tables in turn, storing each table right
// after it is made. False when any allocation is refused.
bool fillExtension(OmbrixExtension **out, QVWord *pool, QVWord *journal) {
    auto *ext = static_cast<OmbrixExtension *>(
        omb::poolAllocateZeroed(pool, sizeof(OmbrixExtension)));
    if (!ext) return false;
    ext->getReqVersion = getReqVersion;
    ext->getVersion = getVersion;
    ext->destroyExtension = destroyExtension;
    ext->pool = pool;
    ext->journal = journal;
    if (!(ext->factoryTable = allocateTable(pool, omb::factoryLayout))) return false;
    if (!(ext->thinHashMapTable = allocateTable(pool, omb::thinHashMapLayout))) return false;
    if (!(ext->thinArrayListTable = allocateTable(pool, omb::thinArrayListLayout)))
        return false;
    if (!(ext->itemListTable = allocateTable(pool, omb::itemListLayout))) return false;
    *out = ext;
    return true;
}

}  // namespace

extern "C" {

OMBRIX_API QVStatus qvextver(QVWord *host, uint64_t *major, uint64_t *minor) {
    store(major, kHostMajor);
    store(minor, kHostMinor);
    Exported_QVHandle = host;
    return 0;
}

OMBRIX_API QVStatus qvextent(QVWord *host) {
    Exported_QVHandle = host;
    return 0;
}

OMBRIX_API QVStatus qvvercn1(OmbrixVersionRecord *record) {
    if (!record) return 0;
    std::memset(record, 0, sizeof *record);
    // Sixteen texts in words 0..16 around the build time in word 3.
    for (int i = 0; i < 16; ++i)
        record->words[i < 3 ? i : i + 1] = reinterpret_cast<uint64_t>(versionText[i]);
    record->words[3] = static_cast<uint64_t>(OMBRIX_BUILD_TIME);
    return 0;
}

// A pool created here is destroyed again when a later allocation fails, so a
// refused entry leaves nothing behind in the host.
OMBRIX_API OmbrixExtension *ombrix(QVWord *host, QVWord *journal) {
    if (!journal) journal = omb::hostDefaultJournal(Exported_QVHandle);
    QVPoolOptions options = {};
    QVWord *pool = omb::hostCreatePool(host, options, journal, "ombrix");
    OmbrixExtension *ext = nullptr;
    if (pool && fillExtension(&ext, pool, journal)) return ext;
    omb::poolDestroy(pool);
    if (journal) qvlStatusToJnl(journal, kEntryFailureFacility, kEntryFailureCode);
    return nullptr;
}

}  // extern "C"
