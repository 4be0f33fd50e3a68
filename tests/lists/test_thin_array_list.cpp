// The thin array list: appends, growth from 8 slots, by-reference storage
// and refused allocations.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/container.h"
#include "core/host_calls.h"
#include "creation_sweep.h"
#include "fault_sweep.h"
#include "host_fixture.h"
#include "lists/thin_array_list.h"
#include "qvhost.h"

namespace {

using List = OmbrixThinArrayList;

class ThinArrayListTest : public HostTest {
  protected:
    static std::vector<int32_t> values(const List *list) {
        std::vector<int32_t> out(static_cast<size_t>(list->count));
        if (!out.empty()) std::memcpy(out.data(), list->elements, out.size() * sizeof(int32_t));
        return out;
    }
};

TEST_F(ThinArrayListTest, GrowsFromEightSlotsByHalfPlusOne) {
    List *list = thinArrayListNew(nullptr, 0, 4, 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->capacity, 8) << "below 1 gives 8";
    EXPECT_EQ(list->elementSize, 4);
    EXPECT_EQ(list->keyType, 0u);
    EXPECT_EQ(list->ownsPool, 1);
    EXPECT_STREQ(qvhostPoolName(list->pool), "ombrixr");
    EXPECT_EQ(qvhostPoolFlags(list->pool), OMBRIX_FLAG_NO_LOCK) << "an unlocked pool";
    std::vector<int32_t> expected;
    for (int32_t v = 100; v < 108; ++v) {
        EXPECT_EQ(thinArrayListAdd(list, &v), OMBRIX_OK);
        expected.push_back(v);
    }
    EXPECT_EQ(list->capacity, 8);
    int32_t v = 108;
    thinArrayListAdd(list, &v);
    expected.push_back(v);
    EXPECT_EQ(list->capacity, 13) << "the ninth add";
    const auto *slots = static_cast<const int32_t *>(list->elements);
    EXPECT_EQ(std::vector<int32_t>(slots + 9, slots + 13), std::vector<int32_t>(4, 0))
        << "the grown array reads zero past the elements";
    for (v = 109; v < 114; ++v) {
        thinArrayListAdd(list, &v);
        expected.push_back(v);
    }
    EXPECT_EQ(list->capacity, 20) << "the fourteenth add";
    EXPECT_EQ(values(list), expected);
    EXPECT_EQ(poolStats(list->pool).liveBlocks, 2u) << "the record and one array: old arrays went back";

    EXPECT_EQ(thinArrayListAdd(list, nullptr), OMBRIX_OK);
    EXPECT_EQ(thinArrayListAdd(nullptr, &v), OMBRIX_OK);
    EXPECT_EQ(list->count, 14) << "a null item adds nothing";
    thinArrayListDestroy(list);
    thinArrayListDestroy(nullptr);
    EXPECT_EQ(qvhostLivePools(host), poolsAtStart);
}

TEST_F(ThinArrayListTest, ByReferenceStoresPointersWhateverKeySizeSays) {
    QVWord *pool = omb::hostCreatePool(host, omb::poolParms, nullptr, "caller");
    List *list = thinArrayListNew(pool, OMBRIX_BY_REFERENCE, 3, 2);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->elementSize, 8);
    EXPECT_EQ(list->capacity, 2);
    EXPECT_EQ(list->ownsPool, 0);
    int32_t a = 1, b = 2, c = 3;
    for (int32_t *p : {&a, &b, &c}) EXPECT_EQ(thinArrayListAdd(list, p), OMBRIX_OK);
    EXPECT_EQ(list->capacity, 4);
    auto **stored = static_cast<int32_t **>(list->elements);
    EXPECT_EQ(stored[0], &a);
    EXPECT_EQ(stored[1], &b);
    EXPECT_EQ(stored[2], &c);
    thinArrayListDestroy(list);
    EXPECT_EQ(poolStats(pool).liveBlocks, 0u) << "the caller's pool gets every block back and survives";
    omb::poolDestroy(pool);

    EXPECT_EQ(thinArrayListNew(nullptr, 0, -4, 0), nullptr) << "no negative element size";
}

TEST_F(ThinArrayListTest, RefusedGrowthLeavesTheListAsItWas) {
    List *list = thinArrayListNew(nullptr, 0, 4, 3);
    for (int32_t v = 1; v <= 3; ++v) thinArrayListAdd(list, &v);
    void *before = list->elements;
    int32_t v = 4;
    uint64_t made = sweepAllocationFailures(
        host, [&] { return thinArrayListAdd(list, &v) == OMBRIX_OK; },
        [&](uint64_t) {
            EXPECT_EQ(values(list), (std::vector<int32_t>{1, 2, 3}));
            EXPECT_EQ(list->capacity, 3);
            EXPECT_EQ(list->elements, before);
        });
    EXPECT_EQ(made, 1u);
    EXPECT_EQ(values(list), (std::vector<int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(list->capacity, 5);
    thinArrayListDestroy(list);

    CreationAllocations creation = sweepCreation(host, poolsAtStart, [&](QVWord *given) {
        List *l = thinArrayListNew(given, 0, 4, 0);
        thinArrayListDestroy(l);
        return l != nullptr;
    });
    EXPECT_EQ(creation.ownPool, 2u) << "the record and the array";
    EXPECT_EQ(creation.callerPool, 2u) << "the record and the array";
    qvhostFailPoolCreation(host, 1);
    EXPECT_EQ(thinArrayListNew(nullptr, 0, 4, 0), nullptr);
}

}  // namespace
