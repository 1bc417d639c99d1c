// Memory for the run's few large structures (the run context, the chunks between the two
// threads), allocated once at the start: zeroed, and on Linux aligned to 2 MiB and advised for
// transparent huge pages, so that the first touch costs one page fault per 2 MiB instead of one
// per 4 KiB. On a virtual machine, where a fault can cost over 10 microseconds, the few megabytes
// of those structures would otherwise cost over 15 milliseconds before the first line is read.
#pragma once

#include <cstddef>

namespace quorda {

// A zeroed block of at least `bytes` bytes; throws std::bad_alloc when the system has none.
void* allocate_large_block(size_t bytes);
// Gives back a block of allocate_large_block(bytes).
void free_large_block(void* block, size_t bytes) noexcept;

}  // namespace quorda
