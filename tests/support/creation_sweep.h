// The refused-creation checks every container family makes: its
// constructor swept through every allocation failure, once making its own
// pool and once in a caller's pool, then with the pool and the lock refused.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "core/container.h"
#include "core/host_calls.h"
#include "fault_sweep.h"
#include "host_fixture.h"
#include "qvhost.h"

// The allocations one creation makes, in each of the two pools.
struct CreationAllocations {
    uint64_t ownPool;
    uint64_t callerPool;
};

// `create(pool)` makes the container in `pool` (null: its own), checks it,
// destroys it and returns true; false when the creation was refused. A
// refused creation must leave no pool of its own behind and no block in the
// caller's pool. `poolsAtStart` is the host's live pool count before the
// test.
template <typename Create>
CreationAllocations sweepCreation(QVWord *host, uint64_t poolsAtStart, Create create) {
    QVWord *callerPool = omb::hostCreatePool(host, omb::poolParms, nullptr, "caller");
    EXPECT_NE(callerPool, nullptr);
    if (!callerPool) return {0, 0};
    uint64_t made[2] = {};
    QVWord *pools[2] = {nullptr, callerPool};
    for (int i = 0; i < 2; ++i) {
        made[i] = sweepAllocationFailures(
            host, [&] { return create(pools[i]); },
            [&](uint64_t n) {
                EXPECT_EQ(qvhostLivePools(host), poolsAtStart + 1) << n;
                EXPECT_EQ(poolStats(callerPool).liveBlocks, 0u) << "allocation " << n;
            });
    }
    omb::poolDestroy(callerPool);
    return {made[0], made[1]};
}

// `create()` makes a container in its own pool; with the pool refused, and
// then the lock, it must give null and leave no pool behind.
template <typename Create>
void expectRefusedPoolAndLockGiveNull(QVWord *host, uint64_t poolsAtStart, Create create) {
    qvhostFailPoolCreation(host, 1);
    EXPECT_EQ(create(), nullptr) << "pool refused";
    qvhostFailLockCreation(host, 1);
    EXPECT_EQ(create(), nullptr) << "lock refused";
    EXPECT_EQ(qvhostLivePools(host), poolsAtStart);
}
