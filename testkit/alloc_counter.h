// Counts heap allocations and frees made anywhere in the test process, the
// loaded library included (the test binary replaces the global operators).
#pragma once

#include <cstdint>

namespace vtest {

struct AllocationCounts {
    uint64_t allocations;
    uint64_t frees;
};

AllocationCounts allocationCounts();

}  // namespace vtest
