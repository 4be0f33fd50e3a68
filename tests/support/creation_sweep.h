// The refused-creation checks every container family makes: its constructor
// swept through every allocation failure in its own pool and in a caller's,
// then with the pool and the lock refused.
#pragma once

#include "core/container.h"
#include "core/host_calls.h"
#include "fault_sweep.h"
#include "host_fixture.h"

struct CreationAllocations {  // the allocations of one creation in each pool
    uint64_t ownPool, callerPool;
};

// `create(pool)` makes the container in `pool` (null: its own), checks and
// destroys it and returns true; false when refused. A refused creation must
// leave no pool of its own and no block in the caller's pool behind.
template <typename Create>
CreationAllocations sweepCreation(QVWord *host, uint64_t poolsAtStart, Create create) {
    QVWord *callerPool = omb::hostCreatePool(host, omb::poolParms, nullptr, "caller");
    uint64_t made[2] = {};
    for (int i = 0; i < 2; ++i)
        made[i] = sweepAllocationFailures(host, [&] { return create(i ? callerPool : nullptr); },
                                          [&](uint64_t n) {
                                              EXPECT_EQ(qvhostLivePools(host), poolsAtStart + 1) << n;
                                              EXPECT_EQ(poolStats(callerPool).liveBlocks, 0u) << n;
                                          });
    omb::poolDestroy(callerPool);
    return {made[0], made[1]};
}

// `create()` makes a container in its own pool: null, and no pool left, when either is refused.
template <typename Create>
void expectRefusedPoolAndLockGiveNull(QVWord *host, uint64_t poolsAtStart, Create create) {
    qvhostFailPoolCreation(host, 1);
    EXPECT_EQ(create(), nullptr) << "pool refused";
    qvhostFailLockCreation(host, 1);
    EXPECT_EQ(create(), nullptr) << "lock refused";
    EXPECT_EQ(qvhostLivePools(host), poolsAtStart);
}
