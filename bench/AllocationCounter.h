// Counts the heap allocations made through operator new in the program that
// links AllocationCounter.cpp (it replaces the global operators new and
// delete).
#ifndef VOQBENCH_ALLOCATIONCOUNTER_H
#define VOQBENCH_ALLOCATIONCOUNTER_H

#include <cstdint>

namespace voqbench {

// Allocations since the program started, on every thread.
uint64_t AllocationCount();

}  // namespace voqbench

#endif
