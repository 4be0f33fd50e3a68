/* qvhost: the reference QV host.
 *
 * A real implementation of every host service that ombrix calls, for tests,
 * benchmarks and the demo. The library itself never calls anything here: it
 * reaches the host only through the handle's slots (ombrix/host.h). */
#ifndef QVHOST_H
#define QVHOST_H

#include <stddef.h>
#include <stdint.h>

#include "ombrix/host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A new host handle: a table of QV_HOST_SLOT_COUNT words. Every slot that the
 * host interface does not define holds an operation that reports the
 * unexpected call on standard error and aborts. Returns null when out of
 * memory. */
QVWord *qvhostCreate(void);
/* Destroys the handle; pools and locks still alive are reported and freed. */
void qvhostDestroy(QVWord *host);

/* Fault injection. Counting starts at the call: n = 1 fails the very next
 * allocation, n = 0 turns the injection off. A failed allocation returns null
 * and costs nothing. */
void qvhostFailAllocation(QVWord *host, uint64_t n);
/* After the nth allocation from now fails, keep failing every one. */
void qvhostFailAllocationsFrom(QVWord *host, uint64_t n);
void qvhostFailPoolCreation(QVWord *host, uint64_t n);
void qvhostFailLockCreation(QVWord *host, uint64_t n);
/* Allocations made on this handle's pools so far (failed ones included). */
uint64_t qvhostAllocationCount(QVWord *host);

/* Blocks allocated without the zero flag are filled with 0xA5 when this is on
 * (the default), so code that forgets to ask for zeroed memory fails fast. */
void qvhostSetScribble(QVWord *host, int on);

typedef struct QVHostPoolStats {
    uint64_t liveBlocks;
    uint64_t liveBytes;  /* bytes asked for, not rounded up */
    uint64_t peakBytes;
    uint64_t allocations;
    uint64_t frees;
} QVHostPoolStats;

void qvhostPoolStats(QVWord *pool, QVHostPoolStats *out);
const char *qvhostPoolName(QVWord *pool);
uint32_t qvhostPoolFlags(QVWord *pool);
void *qvhostPoolJournal(QVWord *pool);

typedef struct QVHostCounters {
    uint64_t poolsCreated;
    uint64_t poolsDestroyed;
    uint64_t locksCreated;
    uint64_t locksDestroyed;
    uint64_t lockAcquires;
    uint64_t lockReleases;
    uint64_t unexpectedCalls;
} QVHostCounters;

void qvhostCounters(QVWord *host, QVHostCounters *out);
/* Pools of this handle alive now, and the one most recently created with
 * this name (null when none). */
uint64_t qvhostLivePools(QVWord *host);
QVWord *qvhostFindPool(QVWord *host, const char *name);

/* The default journal (handle slot 26). Entries are recorded; each is also
 * printed to standard error unless echo is off. */
QVWord *qvhostDefaultJournal(QVWord *host);
QVWord *qvhostJournalCreate(QVWord *host);
void qvhostJournalDestroy(QVWord *journal);
void qvhostJournalSetEcho(QVWord *journal, int on);
size_t qvhostJournalCount(QVWord *journal);
/* The text of entry i, or null past the end. */
const char *qvhostJournalEntry(QVWord *journal, size_t i);
void qvhostJournalClear(QVWord *journal);

/* Replace what a value slot of the handle holds (26, 27, 35, 43), e.g. to
 * play a host without text services or without a default journal. */
void qvhostSetValue(QVWord *host, int slot, void *value);

/* Extension registry behind handle slot 9: the host finds extensions by
 * their QVChar name. */
typedef void *(*QVHostExtensionFactory)(QVWord *host, void *data);
int qvhostRegisterExtension(QVWord *host, const char *name, QVHostExtensionFactory factory,
                            void *data);

#ifdef __cplusplus
}
#endif

#endif
