// Test support: the test binary's global operator new and delete are
// replaced by counting ones, so that a test can check how often a piece of
// code allocates and how much heap it holds at its peak. Sizes are the
// usable sizes of the blocks that malloc hands out.
#pragma once

#include <cstddef>

namespace identify::testing {

// Allocations through operator new since the program started.
long heap_allocations();
// Bytes held by blocks from operator new now.
std::size_t heap_bytes_in_use();
// The most bytes held at once since the last reset_heap_peak().
std::size_t heap_peak_bytes();
// Starts a new peak at the bytes in use now.
void reset_heap_peak();

}  // namespace identify::testing
