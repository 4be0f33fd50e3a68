// Fails the 1st, 2nd, 3rd ... allocation of an operation in turn until a run
// makes fewer than the one refused: that run must succeed; each run before it
// must fail, and `unchanged(n)` checks that it left everything as it was.
// Returns the allocations the operation makes when nothing fails.
#pragma once

#include <gtest/gtest.h>
#include "qvhost.h"

template <typename Operation, typename Unchanged>
uint64_t sweepAllocationFailures(QVWord *host, Operation operation, Unchanged unchanged) {
    for (uint64_t n = 1; n <= 100000; ++n) {
        uint64_t before = qvhostAllocationCount(host);
        qvhostFailAllocation(host, n);
        bool succeeded = operation();
        uint64_t made = qvhostAllocationCount(host) - before;
        qvhostFailAllocation(host, 0);
        if (made < n) {
            EXPECT_TRUE(succeeded) << "the run without a refused allocation failed";
            return made;
        }
        EXPECT_FALSE(succeeded) << "allocation " << n << " was refused, yet the operation succeeded";
        unchanged(n);
    }
    ADD_FAILURE() << "the operation never stops allocating";
    return 0;
}
