// The list-like families behind one set of names, for what they all share:
// lists of int32 by value, reached through their operation tables.
#pragma once

#include <functional>
#include <random>
#include <vector>

#include "core/host_calls.h"
#include "host_fixture.h"
#include "lists/array_list.h"
#include "lists/linked_list.h"
#include "lists/storage.h"

inline const OmbrixKeyDefinition kVariableKey{OMBRIX_KEY_VARIABLE, 0, nullptr, 0};

// One operation and the times it must take the list's lock.
struct LockRow {
    const char *what;
    uint64_t times;
    std::function<void()> run;
};

// `giveBack` returns what RemoveLast handed out when it is the caller's (a
// by-value linked list's copy).
template <typename H, OmbrixIterator (*kIterator)(H *), bool kCopiesOut>
struct TableOps {
    using Handle = H;
    static void destroy(H *h) { h->destroy(h); }
    static QVStatus addLast(H *h, const void *v) { return h->addLast(h, v); }
    static QVStatus add(H *h, int32_t i, const void *v) { return h->add(h, i, v); }
    static void remove(H *h, const void *v) { h->remove(h, v); }
    static void *removeLast(H *h) { return h->removeLast(h); }
    static void giveBack(H *h, void *copy) { omb::poolFree(h->pool, kCopiesOut ? copy : nullptr); }
    static void *get(H *h, int32_t i) { return h->get(h, i); }
    static void *getLast(H *h) { return h->getLast(h); }
    static int32_t size(H *h) { return h->size(h); }
    static void reset(H *h) { h->reset(h); }
    static OmbrixIterator iterator(H *h) { return kIterator(h); }
    static void *walked(H *h) { return h; }  // what the iterator walks
    static void ownStep(H *, std::vector<int32_t> &, std::mt19937 &) {}

    // The rows every family shares, with `extra`, its own operations.
    static std::vector<LockRow> lockRowsWith(H *h, int32_t *v, std::vector<LockRow> extra) {
        extra.insert(extra.end(), {
            {"AddLast", 1, [=] { addLast(h, v); }}, {"Add", 1, [=] { add(h, 1, v); }},
            {"Get", 1, [=] { get(h, 1); }}, {"Get past the end", 1, [=] { get(h, 100); }},
            {"Get of -1", 0, [=] { get(h, -1); }}, {"GetLast", 1, [=] { getLast(h); }},
            {"Remove", 1, [=] { remove(h, v); }}, {"Size", 0, [=] { size(h); }},
            {"RemoveLast", 1, [=] { giveBack(h, removeLast(h)); }},
            {"Iterator", 0, [=] { OmbrixIterator it = iterator(h); it.next(&it), it.release(&it); }},
            {"Reset", 0, [=] { reset(h); }}});
        return extra;
    }
};

struct ArrayFamily : TableOps<OmbrixArrayList, arrayListIterator, false> {
    static constexpr bool kOutOfRangeAppends = false;
    static constexpr int32_t kFull = 3;  // made with room for 3
    // Creation: the object, the parts, the array; an add to a full list: the grown array.
    static constexpr uint64_t kCreateAllocations = 3, kAddAllocations = 1;
    static Handle *make(QVWord *pool, uint32_t flags, OmbrixKeyPart *parts = nullptr, int32_t n = 0) {
        return arrayListNew(pool, {4, 0, flags, 3, n, parts});
    }
    static uint64_t blocksHeld(Handle *h, size_t) { return h->keySizes ? 3 : 2; }
    static std::vector<LockRow> lockRows(Handle *h, int32_t *v) {
        return lockRowsWith(h, v, {
            {"AddWithKeySize", 1, [=] { h->addWithKeySize(h, 0, v, 4); }},
            {"Add past the count", 1, [=] { h->add(h, 100, v); }}, {"Add at -1", 0, [=] { h->add(h, -1, v); }},
            {"Find", 1, [=] { h->find(h, v); }}, {"Find null", 1, [=] { h->find(h, nullptr); }},
            {"FindByKey", 1, [=] { h->findByKey(h, v, 4, kVariableKey); }},
            {"ToArray", 0, [=] { h->toArray(h, nullptr, nullptr); }}});
    }
};

struct LinkedFamily : TableOps<OmbrixLinkedList, linkedListIterator, true> {
    using Entry = OmbrixLinkedListEntry;
    static constexpr bool kOutOfRangeAppends = true;
    static constexpr int32_t kFull = 3;
    // Creation: the object, the parts; an add: the entry, the copy.
    static constexpr uint64_t kCreateAllocations = 2, kAddAllocations = 2;
    static Handle *make(QVWord *pool, uint32_t flags, OmbrixKeyPart *parts = nullptr, int32_t n = 0) {
        return linkedListNew(pool, {4, 0, flags, n, parts});
    }
    // Entries and copies; the chain's prev links, tail and count checked on the way.
    static uint64_t blocksHeld(Handle *h, size_t count) {
        const Entry *previous = nullptr;
        for (const Entry *e = h->head; e; previous = e, e = e->next) EXPECT_EQ(e->prev, previous);
        EXPECT_EQ(h->tail, previous);
        return h->count == static_cast<int32_t>(count) ? 1 + 2 * count : 0;
    }
    // The front, an entry's neighbours and entry handles, on `model` too.
    static void ownStep(Handle *h, std::vector<int32_t> &model, std::mt19937 &rng) {
        int32_t v = static_cast<int32_t>(rng() % 40), at = model.empty() ? 0 : rng() % model.size();
        Entry *e = h->head;
        for (int32_t i = 0; i < at; ++i) e = e->next;
        auto place = model.begin() + at;
        switch (e ? rng() % 6 : rng() % 2) {
            case 0: h->addFirst(h, &v), model.insert(model.begin(), v); break;
            case 1:
                (v % 2 ? h->addFirstEntry : h->addLastEntry)(h, linkedListNewEntry(h, &v, 0));
                model.insert(v % 2 ? model.begin() : model.end(), v);
                break;
            case 2: {
                auto *copy = static_cast<int32_t *>(h->removeFirst(h));
                EXPECT_EQ(*copy, model.front());
                giveBack(h, copy), model.erase(model.begin());
                break;
            }
            case 3: h->addBefore(h, e, &v), model.insert(place, v); break;
            case 4: h->addAfter(h, e, &v), model.insert(place + 1, v); break;
            default:  // unlinked and freed, or kept and linked again at the end
                v = *place, model.erase(place);
                h->removeEntry(h, e, v % 2);
                if (v % 2 == 0) h->addLastEntry(h, e), model.push_back(v);
        }
    }
    static std::vector<LockRow> lockRows(Handle *h, int32_t *v) {
        return lockRowsWith(h, v, {
            {"AddFirst", 1, [=] { h->addFirst(h, v); }}, {"Add at -1", 1, [=] { h->add(h, -1, v); }},
            {"AddBefore", 1, [=] { h->addBefore(h, h->tail, v); }},
            {"AddAfter", 1, [=] { h->addAfter(h, h->head, v); }},
            {"GetFirstEntry", 1, [=] { h->getFirstEntry(h); }}, {"Find", 1, [=] { h->find(h, v); }},
            {"FindByKey", 1, [=] { h->findByKey(h, v, 4, kVariableKey); }},
            {"RemoveFirst", 1, [=] { giveBack(h, h->removeFirst(h)); }}});
    }
};

// The storage facade over an array list (kind 0) or a linked list.
template <uint32_t kKind>
struct StorageFamily : TableOps<OmbrixStorage, storageIterator, kKind != 0> {
    using Backing = std::conditional_t<kKind == 0, ArrayFamily, LinkedFamily>;
    static constexpr bool kOutOfRangeAppends = Backing::kOutOfRangeAppends;
    static constexpr int32_t kFull = kKind == 0 ? 16 : 3;  // an array backing starts at 16
    static constexpr uint64_t kCreateAllocations = 1 + Backing::kCreateAllocations;
    static constexpr uint64_t kAddAllocations = Backing::kAddAllocations;
    static OmbrixStorage *make(QVWord *pool, uint32_t flags, OmbrixKeyPart *parts = nullptr, int32_t n = 0) {
        return storageNew(pool, {{}, kKind, 4, 0, flags, n, parts});
    }
    static void *walked(OmbrixStorage *h) { return h->list; }
    static uint64_t blocksHeld(OmbrixStorage *h, size_t count) {
        return 1 + Backing::blocksHeld(static_cast<typename Backing::Handle *>(h->list), count);
    }
    static std::vector<LockRow> lockRows(OmbrixStorage *h, int32_t *v) {
        return StorageFamily::lockRowsWith(h, v, {{"Compare", 0, [=] { h->compare(h, h); }},
                                                  {"ToArray", 0, [=] { h->toArray(h, nullptr, nullptr); }}});
    }
};
