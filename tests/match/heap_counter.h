// Counting of heap allocations in the test program: operator new is replaced for the whole test
// program (heap_counter.cc) by one that counts each call and forwards to malloc.
#pragma once

namespace quorda::testing {

// Number of operator new calls since the test program started.
long heap_allocations();

}  // namespace quorda::testing
