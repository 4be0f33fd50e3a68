// Locked lists shared by several threads. Under ThreadSanitizer a missing
// or misplaced lock shows as a race; in every build the final contents must
// be exactly what the operations imply.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "host_fixture.h"
#include "lists/array_list.h"
#include "lists/linked_list.h"

namespace {

constexpr int kThreads = 4;
constexpr int32_t kPerThread = 400;

class SharedListTest : public HostTest {};

// Thread t adds the values t*kPerThread .. t*kPerThread + kPerThread-1, each
// at a position that depends on its value, reads and searches as it goes,
// and removes its odd values again. What is left: every even value, once.
TEST_F(SharedListTest, LinkedListKeepsExactlyTheValuesNotRemoved) {
    OmbrixLinkedListParms parms = {4, 0, 0, 0, nullptr};
    OmbrixLinkedList *list = linkedListNew(nullptr, parms);
    ASSERT_NE(list, nullptr);
    OmbrixKeyDefinition variable{OMBRIX_KEY_VARIABLE, 0, nullptr, 0};
    std::vector<int> lost(kThreads, 0);

    auto work = [&](int t) {
        for (int32_t i = 0; i < kPerThread; ++i) {
            int32_t v = t * kPerThread + i;
            QVStatus status = v % 3 == 0   ? linkedListAddFirstWithKeySize(list, &v, 4)
                              : v % 3 == 1 ? linkedListAddLastWithKeySize(list, &v, 4)
                                           : linkedListAddWithKeySize(list, v % 7, &v, 4);
            if (status != OMBRIX_OK) ++lost[t];
            if (!linkedListFind(list, &v)) ++lost[t];
            if (!linkedListFindByKey(list, &v, 4, variable)) ++lost[t];
            linkedListGet(list, v % 5);
            linkedListGetLast(list);
        }
        for (int32_t i = 1; i < kPerThread; i += 2) {
            int32_t v = t * kPerThread + i;
            linkedListRemove(list, &v);
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
    for (auto &thread : threads) thread.join();

    EXPECT_EQ(lost, std::vector<int>(kThreads, 0)) << "an add failed or a value was not found";
    std::vector<int32_t> left;
    for (auto *e = list->head; e; e = e->next) {
        int32_t v;
        std::memcpy(&v, e->data, sizeof v);
        left.push_back(v);
    }
    std::sort(left.begin(), left.end());
    std::vector<int32_t> expected;
    for (int32_t v = 0; v < kThreads * kPerThread; v += 2) expected.push_back(v);
    EXPECT_EQ(left, expected);
    EXPECT_EQ(linkedListSize(list), static_cast<int32_t>(expected.size()));
    linkedListDestroy(list);
}

// The same pattern on an array list, whose adds also grow and move the whole
// array. Eight sentinels go in first so that every position used (below 7)
// exists; they stay, with every even value.
TEST_F(SharedListTest, ArrayListKeepsExactlyTheValuesNotRemoved) {
    OmbrixArrayListParms parms = {4, 0, 0, 0, 0, nullptr};
    OmbrixArrayList *list = arrayListNew(nullptr, parms);
    ASSERT_NE(list, nullptr);
    constexpr int32_t kSentinels = 8;
    for (int32_t s = -kSentinels; s < 0; ++s) ASSERT_EQ(arrayListAddLast(list, &s), OMBRIX_OK);
    OmbrixKeyDefinition variable{OMBRIX_KEY_VARIABLE, 0, nullptr, 0};
    std::vector<int> lost(kThreads, 0);

    auto work = [&](int t) {
        for (int32_t i = 0; i < kPerThread; ++i) {
            int32_t v = t * kPerThread + i;
            QVStatus status = v % 3 == 0   ? arrayListAddWithKeySize(list, 0, &v, 4)
                              : v % 3 == 1 ? arrayListAddLastWithKeySize(list, &v, 4)
                                           : arrayListAddWithKeySize(list, v % 7, &v, 4);
            if (status != OMBRIX_OK) ++lost[t];
            if (arrayListFind(list, &v) < 0) ++lost[t];
            if (arrayListFindByKey(list, &v, 4, variable) < 0) ++lost[t];
            // The address handed back is only good until the next add, so
            // it is not read here.
            if (!arrayListGet(list, v % 5)) ++lost[t];
            if (!arrayListGetLast(list)) ++lost[t];
        }
        for (int32_t i = 1; i < kPerThread; i += 2) {
            int32_t v = t * kPerThread + i;
            arrayListRemove(list, &v);
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
    for (auto &thread : threads) thread.join();

    EXPECT_EQ(lost, std::vector<int>(kThreads, 0)) << "an add failed or a value was not found";
    int32_t count = 0;
    void *array = nullptr;
    arrayListToArray(list, &count, &array);
    std::vector<int32_t> left(static_cast<int32_t *>(array), static_cast<int32_t *>(array) + count);
    std::sort(left.begin(), left.end());
    std::vector<int32_t> expected;
    for (int32_t s = -kSentinels; s < 0; ++s) expected.push_back(s);
    for (int32_t v = 0; v < kThreads * kPerThread; v += 2) expected.push_back(v);
    EXPECT_EQ(left, expected);
    const auto *stored = static_cast<const int32_t *>(array);
    for (int32_t i = 0; i < count; ++i)
        EXPECT_EQ(list->keySizes[i], stored[i] < 0 ? 0 : 4) << "each key size moves with its element";
    arrayListDestroy(list);
}

}  // namespace
