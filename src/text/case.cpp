// Case mapping, case-insensitive equality, case classes and the blank-padded
// comparison over strings of QVChar units.
//
// The static tables cover the BMP in blocks of 128: a block entry of -1
// means no character of it changes; otherwise the block's deltas start at
// that entry, and a delta of -128 sends the lookup to a short pair list.
#include <pthread.h>

#include "core/export.h"
#include "core/host_calls.h"
#include "kernels.h"
#include "ombrix/case.h"
#include "ombrix/primitives.h"

namespace {

struct CaseTable {
    const int8_t *shift;
    const uint32_t (*pairs)[2];
};

const CaseTable lowerTable = {ybz_downshift, ybz_downaux};
const CaseTable upperTable = {ybz_upshift, ybz_upaux};

QVChar mapWithTable(QVChar c, const CaseTable &table) {
    return omb::caseMapUnit(c, ybz_metatable, table.shift, table.pairs);
}

QVChar lowerOf(QVChar c) { return mapWithTable(c, lowerTable); }

// The string routines run on the unfolded deltas (kernels.h): one lookup a
// unit instead of a block lookup, a delta and now and then the pair list.
// Each direction's 128 KiB are written once, on the first call that needs
// them: pthread_once makes a racing second caller wait for the first, and
// the flag, set last with release order, spares later calls the library
// call.
struct UnfoldedDeltas {
    omb::CaseDeltas deltas;
    bool ready;
    pthread_once_t once;
};
UnfoldedDeltas lowerDeltas = {{}, false, PTHREAD_ONCE_INIT};
UnfoldedDeltas upperDeltas = {{}, false, PTHREAD_ONCE_INIT};

void unfold(UnfoldedDeltas &unfolded, const CaseTable &table) {
    uint16_t *entries = unfolded.deltas.entries;
    for (QVChar c = 0; c < 0x10000; ++c)
        entries[c] = static_cast<uint16_t>(mapWithTable(c, table) - c);
    entries[0x10000] = 0;
    omb::findLatinRuns(unfolded.deltas);
    __atomic_store_n(&unfolded.ready, true, __ATOMIC_RELEASE);
}

const omb::CaseDeltas &unfolded(UnfoldedDeltas &unfolded, void (*unfoldOnce)()) {
    if (!__atomic_load_n(&unfolded.ready, __ATOMIC_ACQUIRE)) pthread_once(&unfolded.once, unfoldOnce);
    return unfolded.deltas;
}

void unfoldLower() { unfold(lowerDeltas, lowerTable); }
void unfoldUpper() { unfold(upperDeltas, upperTable); }

// Beyond ASCII the host's text services know more than the static tables,
// so they decide whenever the host offers them. Out of line, so that the
// static path stays a few loads and a jump into the kernel.
__attribute__((noinline)) void mapThroughServices(QVChar *s, int64_t n, const CaseTable &table,
                                                  QVWord *services, QVCaseMapFn (*mapOf)(QVWord *)) {
    QVCaseMapFn map = mapOf(services);
    for (int64_t i = 0; i < n; ++i)
        s[i] = s[i] < 0x80 ? mapWithTable(s[i], table) : map(services, s[i], 1);
}

void mapString(QVChar *s, int64_t n, const CaseTable &table, const omb::CaseDeltas *(*deltas)(),
               QVCaseMapFn (*mapOf)(QVWord *)) {
    if (n < 1) return;
    QVWord *services = omb::hostTextServices(omb::currentHost());
    if (services)
        mapThroughServices(s, n, table, services, mapOf);
    else
        omb::textKernels().caseMap(s, n, *deltas());
}

}  // namespace

namespace omb {

const CaseDeltas *lowerCaseDeltas() { return &unfolded(lowerDeltas, unfoldLower); }
const CaseDeltas *upperCaseDeltas() { return &unfolded(upperDeltas, unfoldUpper); }

}  // namespace omb

extern "C" {

OMBRIX_API void qvzstlo(QVChar *s, int64_t n) { mapString(s, n, lowerTable, omb::lowerCaseDeltas, omb::textToLower); }

OMBRIX_API void qvzstup(QVChar *s, int64_t n) { mapString(s, n, upperTable, omb::upperCaseDeltas, omb::textToUpper); }

OMBRIX_API QVChar qvtolower(QVChar c) {
    qvzstlo(&c, 1);
    return c;
}

OMBRIX_API QVChar qvtoupper(QVChar c) {
    qvzstup(&c, 1);
    return c;
}

OMBRIX_API int32_t qvzseqn(const QVChar *a, int64_t na, const QVChar *b, int64_t nb) {
    if (na != nb) return 0;
    for (int64_t i = 0; i < na; ++i)
        if (a[i] != b[i] && lowerOf(a[i]) != lowerOf(b[i])) return 0;
    return 1;
}

OMBRIX_API void qvzstmin(QVChar *s, int64_t n) {
    omb::textKernels().classMap(s, n, ybz_min_meta, ybz_minshift);
}

OMBRIX_API void qvzstmax(QVChar *s, int64_t n) {
    omb::textKernels().classMap(s, n, ybz_max_meta, ybz_maxshift);
}

// Trailing blanks never count; case only breaks a tie. 0: the same apart
// from trailing blanks; -1/+1: the same apart from case, signed by the first
// pair that differs; -2/+2: different.
OMBRIX_API int32_t qvzsncmp(const QVChar *a, int64_t na, const QVChar *b, int64_t nb) {
    // A negative length reads as an empty string, so that the other's tail
    // never starts before its first unit.
    na = na < 0 ? 0 : na;
    nb = nb < 0 ? 0 : nb;
    int32_t caseOrder = 0;
    int64_t common = na < nb ? na : nb;
    for (int64_t i = 0; i < common; ++i) {
        if (a[i] == b[i]) continue;
        if (caseOrder == 0)
            caseOrder = static_cast<int32_t>(a[i]) < static_cast<int32_t>(b[i]) ? -1 : 1;
        QVChar la = lowerOf(a[i]), lb = lowerOf(b[i]);
        if (la != lb) return la < lb ? -2 : 2;
    }
    if (na == nb) return caseOrder;
    if (na < nb) return ybMemTNot(0x20, b + na, static_cast<uint64_t>(nb - na)) ? caseOrder : -2;
    return ybMemTNot(0x20, a + nb, static_cast<uint64_t>(na - nb)) ? caseOrder : 2;
}

}  // extern "C"
