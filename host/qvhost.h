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
/* Destroys the handle; pools, locks and journals still alive are reported
 * on standard error and freed. */
void qvhostDestroy(QVWord *host);

/* Calls outside the host interface: a slot it does not define, arguments it
 * rules out (lock options or arguments not zero, acquire not given 1, 1, a
 * fourth argument of extension lookup not 0), a lock taken again by its
 * holder or released by another thread, a block freed twice or freed to a
 * pool it does not belong to. Each one counts in unexpectedCalls; while
 * traps abort (the default) it is also reported on standard error as
 * "qvhost: unexpected call to <object> slot <n>" and the process aborts.
 * With traps off the call only counts and returns 0 (or does nothing). */
void qvhostSetTrapAborts(QVWord *host, int on);

/* Fault injection. Counting starts at the call: n = 1 fails the very next
 * allocation, n = 0 turns the injection off. A failed allocation returns null
 * and costs nothing. */
void qvhostFailAllocation(QVWord *host, uint64_t n);
/* After the nth allocation from now fails, keep failing every one. */
void qvhostFailAllocationsFrom(QVWord *host, uint64_t n);
/* The same countdown for pool creation (slot 6) and lock creation (slot 3),
 * each counted on its own; a refused creation returns null. */
void qvhostFailPoolCreation(QVWord *host, uint64_t n);
void qvhostFailLockCreation(QVWord *host, uint64_t n);
/* Allocations made on this handle's pools so far (failed ones included). */
uint64_t qvhostAllocationCount(QVWord *host);

/* Blocks allocated without the zero flag are filled with 0xA5 when this is on
 * (the default), so code that forgets to ask for zeroed memory fails fast;
 * freed blocks are filled with 0xDD. Flag bits other than QV_ALLOC_ZERO are
 * ignored.
 *
 * Pools (handle slot 6): options bit 0 clear gives a pool guarded by a
 * mutex, bit 0 set an unlocked pool for one thread at a time; null options
 * count as all zero. Blocks are 16-byte aligned; a size of 0 gives a block
 * of its own; blocks of up to 8 KiB are carved from 64 KiB chunks. Destroying
 * a pool frees every block still in it (its chunks are kept by the handle
 * for later pools and released with the handle). */
void qvhostSetScribble(QVWord *host, int on);

typedef struct QVHostPoolStats {
    uint64_t liveBlocks; /* allocations - frees */
    uint64_t liveBytes;  /* bytes asked for, not rounded up */
    uint64_t peakBytes;
    uint64_t allocations; /* blocks handed out; refused allocations not included */
    uint64_t frees;
    uint64_t chunkBytes; /* held in the chunks blocks are carved from */
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

/* Pools and locks count when made; a refused creation does not count. */
void qvhostCounters(QVWord *host, QVHostCounters *out);
/* Pools of this handle alive now, and the one most recently created with
 * this name (null when none). */
uint64_t qvhostLivePools(QVWord *host);
QVWord *qvhostFindPool(QVWord *host, const char *name);

/* Journals. The values of the journal slots mean:
 *   4 message to buffer (buffer char *, capacity in bytes, message id,
 *     severity, printf format or null, list): writes the message text below;
 *   5 message to journal (message id, severity, printf format or null, list):
 *     records "message <id> severity <severity>: <formatted text>", without
 *     the colon and text when the format is null;
 *   6 status to buffer (buffer char *, capacity, facility, code, list):
 *     writes the status text below;
 *   7 status to journal (facility, code, list): records
 *     "status facility <facility> code <code>" (numbers in decimal; the
 *     list is not read);
 *  12 locale (buffer char *, capacity, ...): writes "en_US".
 * Buffers always receive a terminated text; one that does not fit is cut
 * short and the slot returns 0x803fe807 (also for a null buffer or a
 * capacity of 0). Every other result is 0. Entries are recorded; each is
 * also printed to standard error as "qvhost journal: <text>" unless echo is
 * off. Journals may be used from several threads.
 *
 * The default journal is the one the handle made for slot 26 (even after
 * qvhostSetValue replaced the slot); it lives as long as the handle and
 * qvhostJournalDestroy ignores it. Every function here accepts a null
 * journal and then does nothing. */
QVWord *qvhostDefaultJournal(QVWord *host);
QVWord *qvhostJournalCreate(QVWord *host);
void qvhostJournalDestroy(QVWord *journal);
void qvhostJournalSetEcho(QVWord *journal, int on);
size_t qvhostJournalCount(QVWord *journal);
/* The text of entry i, or null past the end; valid until the journal is
 * cleared or destroyed. */
const char *qvhostJournalEntry(QVWord *journal, size_t i);
/* Forgets the entries and the last call. */
void qvhostJournalClear(QVWord *journal);
/* The slot of the last call to slots 4, 5, 6, 7 or 12 (0 when none since
 * creation or the last clear); out receives its values in order, the
 * positions past them zero. */
int qvhostJournalLastValues(QVWord *journal, uintptr_t out[5]);

/* Message services of the handle (slots 229 .. 233). Each service that takes
 * a context reads the context from the first word of what it is given (the
 * {context, 0} record or the holder); a null first word means the default
 * context (what the word of slot 35 holds). A null record or holder, or no
 * context at all, gives 0x803fc009 and does nothing else.
 *
 *  229 capture (v1, v2, list): recorded only; returns 0.
 *  230 format into a buffer (format, formatLength, out, capacity,
 *      outLength, 0, list): a printf-like formatter over QVChar text. A
 *      negative formatLength means the format ends at a zero unit. Units
 *      other than directives are copied. Directives: flags "-+ #0", width
 *      and precision (digits or *), lengths hh h l ll q j z t L, and
 *      d i u o x X (integers), f F e E g G a A (double; L: long double),
 *      p, c (one code point), s (8-bit text, one unit per byte), S and ls
 *      (zero-terminated QVChar text), %%. Precision cuts s and S, width
 *      pads them with blanks. Anything else after a % is copied as text.
 *      At most capacity units are written, with no terminator; when the
 *      output does not fit, what fits is written and the result is
 *      0x803fe807. *outLength (when not null) receives the units written,
 *      0 on 0x803fc009.
 *  231 render (v1, v2): recorded only; returns 0.
 *  232 render with format (buffer char *, capacity, printf format or null,
 *      list): the formatted 8-bit text into the buffer, terminated.
 *  233 status text (status, buffer char *, capacity, v3, list): writes
 *      "0x%08x: <meaning>" with the meaning of qvhostStatusMeaning, or
 *      "unknown status"; v3 and the list are not read.
 * Buffers of 232 and 233 follow the journal's rules (0x803fe807 when cut
 * short, for a null buffer or capacity 0). */

/* "success", "out of memory", "unsupported operation", "no message
 * context", "buffer too small", "invalid character sequence" or "truncated
 * character sequence" for 0, 0x803fc002, 0x803fc004, 0x803fc009, 0x803fe807,
 * 0x803fe808 and 0x803fe814; null for any other status. */
const char *qvhostStatusMeaning(QVStatus status);

/* What reached the handle's message services in the last call. */
typedef struct QVHostMessageCall {
    int slot;       /* 229 .. 233; 0 before the first call */
    void *argument; /* the record or holder as given; null for 229 */
    void *context;  /* the first word of argument (null when argument is) */
    /* 229, 231: v1, v2; 230: format, formatLength, out, capacity,
     * outLength, the zero argument; 232: v1, v2, v3; 233: status, v1, v2,
     * v3. Signed 32-bit arguments are sign-extended. The rest are zero. */
    uintptr_t values[6];
    QVStatus result; /* what the service returned */
} QVHostMessageCall;

void qvhostLastMessageCall(QVWord *host, QVHostMessageCall *out);
/* Calls to slots 229 .. 233 so far. */
uint64_t qvhostMessageCallCount(QVWord *host);

/* The default message context the handle made: slot 35 points to a word
 * holding it. Its word 3 is an owner object whose word 5 is the handle. */
void *qvhostDefaultMessageContext(QVWord *host);

/* Replace what a value slot of the handle holds (26, 27, 35, 43), e.g. to
 * play a host without text services or without a default journal. Other
 * slots are left alone. The objects the handle made stay alive and are
 * freed with it.
 *
 * Text services (slot 27): slot 5 holds the extension loader, whose slot 9
 * finds extensions as handle slot 9 does; slots 31 and 32 (services, code
 * point, mode) return the simple upper- and lower-case of one code point
 * (slot 32 in mode 0: its simple case fold); words 138 and 179 start null
 * and are the caller's to fill.
 *   99 create normaliser (services): the handle's one normaliser, which it
 *      also stores in word 138 as the current one. Normaliser slot 0
 *      (src, srcLength, dst, capacity, int64_t *written, form, options 0):
 *      UTF-8 text (ill-formed bytes read as U+FFFD) into form 0 NFC, 1 NFD,
 *      2 NFKC or 3 NFKD; the whole result or nothing is written, *written
 *      gets its length, 0x803fe807 when it does not fit, 0x803fc004 for
 *      another form. Slot 1 (a, aLength, b, bLength, form, int32_t
 *      *result): both normalised, *result -1, 0 or 1 by code point order.
 *  136 character property (services, code point, property): property 56
 *      is 1 for a mark (general category Mn, Mc, Me), else 0; it may be
 *      asked only once word 179 holds the extension "qvnlsudb" (registered
 *      by every handle, found by handle slot 9 and the loader). Another
 *      property or an early question is an unexpected call.
 *
 * Conversion services (slot 43): word 2 is the transcoder, whose slot 4
 * converts QVChar units in host byte order into UTF-8 (lengths in bytes,
 * the options record not read). Only whole characters are written; the
 * result is 0, 0x803fe807 when the next character does not fit,
 * 0x803fe808 at a surrogate or a value above 0x10FFFF (the conversion stops
 * there) and 0x803fe814 when the source length is not a multiple of 4.
 * *outBytes receives the bytes written in every case; no terminator. */
void qvhostSetValue(QVWord *host, int slot, void *value);

/* Extension registry behind handle slot 9 (host, QVChar name, length in
 * units, 0): a name matches the registered 8-bit (ASCII) name unit for unit;
 * a negative length means the name ends at a zero unit. The factory is
 * called on the first lookup that finds its name and the result is kept for
 * later lookups; a null result is not kept. An unknown name gives null.
 * Registering returns 0, or -1 for a null or empty or non-ASCII name or a
 * null factory; registering a name again replaces its factory and forgets
 * the kept result. */
typedef void *(*QVHostExtensionFactory)(QVWord *host, void *data);
int qvhostRegisterExtension(QVWord *host, const char *name, QVHostExtensionFactory factory,
                            void *data);

#ifdef __cplusplus
}
#endif

#endif
