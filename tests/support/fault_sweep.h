// Fails every allocation of an operation in turn.
//
// The sweep runs `operation` with the 1st, 2nd, 3rd ... allocation from its
// start refused, until a run makes fewer allocations than the one refused:
// that run saw no failure and must have succeeded. After each run that did
// see a failure, `operation` must have failed and `unchanged` checks that it
// left everything as it was. Returns the number of allocations the operation
// makes when nothing fails.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "qvhost.h"

template <typename Operation, typename Unchanged>
uint64_t sweepAllocationFailures(QVWord *host, Operation operation, Unchanged unchanged) {
    for (uint64_t n = 1;; ++n) {
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
        if (n > 100000) {
            ADD_FAILURE() << "the operation never stops allocating";
            return made;
        }
    }
}
