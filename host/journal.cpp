// Journals: entries kept in memory, echoed to standard error.
//
// The texts each slot writes are given in qvhost.h. Entries live in a deque
// so that the text of an entry handed out stays where it is while later
// entries are added.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <new>

#include "internal.h"

namespace qvh {

struct Journal {
    Head<kWords[kJournal]> head;
    Host *host = nullptr;
    bool ownedByHandle = false;
    std::atomic<bool> echo{true};
    std::mutex mutex;
    std::deque<std::string> entries;
    int lastSlot = 0;
    uintptr_t lastValues[5] = {};
    Journal *prev = nullptr;  // the handle's registry; the default journal is not in it
    Journal *next = nullptr;
};

// printf into a string of any length.
std::string formatText(const char *format, va_list ap) {
    va_list copy;
    va_copy(copy, ap);
    char small[256];
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::string text(static_cast<size_t>(n), '\0');
    va_copy(copy, ap);
    std::vsnprintf(text.data(), text.size() + 1, format, copy);
    va_end(copy);
    return text;
}

// Copies text into a caller's buffer of `capacity` bytes, always
// terminated; a text that does not fit is cut short.
QVStatus copyToBuffer(const std::string &text, uintptr_t buffer, uintptr_t capacity) {
    char *out = reinterpret_cast<char *>(buffer);
    if (!out || capacity == 0) return OMBRIX_E_BUFFER_TOO_SMALL;
    size_t n = text.size() < capacity ? text.size() : capacity - 1;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return n == text.size() ? 0 : OMBRIX_E_BUFFER_TOO_SMALL;
}

namespace {

Journal *journalOf(QVWord *slots) { return objectOf<Journal, kWords[kJournal]>(slots); }

unsigned long long ull(uintptr_t v) { return static_cast<unsigned long long>(v); }

std::string messageText(uintptr_t id, uintptr_t severity, const char *format, va_list ap) {
    char head[64];
    std::snprintf(head, sizeof head, "message %llu severity %llu", ull(id), ull(severity));
    std::string text = head;
    if (format) text += ": " + formatText(format, ap);
    return text;
}

std::string statusText(uintptr_t facility, uintptr_t code) {
    char text[64];
    std::snprintf(text, sizeof text, "status facility %llu code %llu", ull(facility), ull(code));
    return text;
}

// The journal's lock is held.
void setLast(Journal *journal, int slot, std::initializer_list<uintptr_t> values) {
    journal->lastSlot = slot;
    std::memset(journal->lastValues, 0, sizeof journal->lastValues);
    size_t i = 0;
    for (uintptr_t v : values) journal->lastValues[i++] = v;
}

void remember(Journal *journal, int slot, std::initializer_list<uintptr_t> values) {
    std::lock_guard<std::mutex> guard(journal->mutex);
    setLast(journal, slot, values);
}

void record(Journal *journal, int slot, std::initializer_list<uintptr_t> values,
            std::string text) {
    if (journal->echo.load(std::memory_order_relaxed))
        std::fprintf(stderr, "qvhost journal: %s\n", text.c_str());
    std::lock_guard<std::mutex> guard(journal->mutex);
    setLast(journal, slot, values);
    journal->entries.push_back(std::move(text));
}

QVStatus messageToBuf(QVWord *self, uintptr_t buffer, uintptr_t capacity, uintptr_t id,
                      uintptr_t severity, uintptr_t format, va_list ap) {
    Journal *journal = journalOf(self);
    remember(journal, QV_JOURNAL_MESSAGE_TO_BUF, {buffer, capacity, id, severity, format});
    return copyToBuffer(messageText(id, severity, reinterpret_cast<const char *>(format), ap), buffer,
                    capacity);
}

QVStatus messageToJnl(QVWord *self, uintptr_t id, uintptr_t severity, uintptr_t format,
                      va_list ap) {
    Journal *journal = journalOf(self);
    record(journal, QV_JOURNAL_MESSAGE_TO_JNL, {id, severity, format},
           messageText(id, severity, reinterpret_cast<const char *>(format), ap));
    return 0;
}

QVStatus statusToBuf(QVWord *self, uintptr_t buffer, uintptr_t capacity, uintptr_t facility,
                     uintptr_t code, va_list) {
    Journal *journal = journalOf(self);
    remember(journal, QV_JOURNAL_STATUS_TO_BUF, {buffer, capacity, facility, code});
    return copyToBuffer(statusText(facility, code), buffer, capacity);
}

QVStatus statusToJnl(QVWord *self, uintptr_t facility, uintptr_t code, va_list) {
    Journal *journal = journalOf(self);
    record(journal, QV_JOURNAL_STATUS_TO_JNL, {facility, code}, statusText(facility, code));
    return 0;
}

constexpr const char *kLocale = "en_US";

QVStatus getLocale(QVWord *self, ...) {
    Journal *journal = journalOf(self);
    va_list ap;
    va_start(ap, self);
    uintptr_t buffer = va_arg(ap, uintptr_t);
    uintptr_t capacity = va_arg(ap, uintptr_t);
    va_end(ap);
    remember(journal, QV_JOURNAL_GET_LOCALE, {buffer, capacity});
    char *out = reinterpret_cast<char *>(buffer);
    if (!out || capacity <= std::strlen(kLocale)) return OMBRIX_E_BUFFER_TOO_SMALL;
    std::strcpy(out, kLocale);
    return 0;
}

}  // namespace

Journal *newJournal(Host *host, bool ownedByHandle) {
    auto *journal = new (std::nothrow) Journal;
    if (!journal) return nullptr;
    initHead<kJournal>(journal->head, journal, host);
    journal->head.slots[QV_JOURNAL_MESSAGE_TO_BUF] = slotOf(&messageToBuf);
    journal->head.slots[QV_JOURNAL_MESSAGE_TO_JNL] = slotOf(&messageToJnl);
    journal->head.slots[QV_JOURNAL_STATUS_TO_BUF] = slotOf(&statusToBuf);
    journal->head.slots[QV_JOURNAL_STATUS_TO_JNL] = slotOf(&statusToJnl);
    journal->head.slots[QV_JOURNAL_GET_LOCALE] = slotOf(&getLocale);
    journal->host = host;
    journal->ownedByHandle = ownedByHandle;
    return journal;
}

void deleteJournal(Journal *journal) { delete journal; }

QVWord *journalSlots(Journal *journal) { return journal ? journal->head.slots : nullptr; }

namespace {

void unregister(Journal *journal) {
    Host *host = journal->host;
    std::lock_guard<std::mutex> guard(host->registryMutex);
    if (journal->prev)
        journal->prev->next = journal->next;
    else
        host->journals = journal->next;
    if (journal->next) journal->next->prev = journal->prev;
}

}  // namespace

void releaseLeakedJournals(Host *host) {
    while (host->journals) {
        Journal *journal = host->journals;
        std::fprintf(stderr, "qvhost: journal %p was never destroyed; freeing it\n",
                     static_cast<void *>(journal->head.slots));
        unregister(journal);
        delete journal;
    }
}

}  // namespace qvh

using qvh::Journal;

extern "C" {

QVWord *qvhostDefaultJournal(QVWord *handle) {
    qvh::Host *host = qvh::hostOf(handle);
    return host ? qvh::journalSlots(host->defaultJournal) : nullptr;
}

QVWord *qvhostJournalCreate(QVWord *handle) {
    qvh::Host *host = qvh::hostOf(handle);
    if (!host) return nullptr;
    Journal *journal = qvh::newJournal(host, false);
    if (!journal) return nullptr;
    std::lock_guard<std::mutex> guard(host->registryMutex);
    journal->next = host->journals;
    if (host->journals) host->journals->prev = journal;
    host->journals = journal;
    return journal->head.slots;
}

void qvhostJournalDestroy(QVWord *slots) {
    if (!slots) return;
    Journal *journal = qvh::journalOf(slots);
    if (journal->ownedByHandle) return;
    qvh::unregister(journal);
    delete journal;
}

void qvhostJournalSetEcho(QVWord *slots, int on) {
    if (slots) qvh::journalOf(slots)->echo.store(on != 0, std::memory_order_relaxed);
}

size_t qvhostJournalCount(QVWord *slots) {
    if (!slots) return 0;
    Journal *journal = qvh::journalOf(slots);
    std::lock_guard<std::mutex> guard(journal->mutex);
    return journal->entries.size();
}

const char *qvhostJournalEntry(QVWord *slots, size_t i) {
    if (!slots) return nullptr;
    Journal *journal = qvh::journalOf(slots);
    std::lock_guard<std::mutex> guard(journal->mutex);
    return i < journal->entries.size() ? journal->entries[i].c_str() : nullptr;
}

void qvhostJournalClear(QVWord *slots) {
    if (!slots) return;
    Journal *journal = qvh::journalOf(slots);
    std::lock_guard<std::mutex> guard(journal->mutex);
    journal->entries.clear();
    journal->lastSlot = 0;
    std::memset(journal->lastValues, 0, sizeof journal->lastValues);
}

int qvhostJournalLastValues(QVWord *slots, uintptr_t out[5]) {
    if (!slots) return 0;
    Journal *journal = qvh::journalOf(slots);
    std::lock_guard<std::mutex> guard(journal->mutex);
    if (out) std::memcpy(out, journal->lastValues, sizeof journal->lastValues);
    return journal->lastSlot;
}

}  // extern "C"
