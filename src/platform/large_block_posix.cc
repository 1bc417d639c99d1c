// Large blocks on POSIX: allocations aligned to 2 MiB, advised for huge pages where the system has
// them, and zeroed. The advice is a hint: without it the block works the same, page by page. The
// blocks come from calloc rather than from mappings of their own, so that a leak checker still
// follows the pointers kept in them; calloc knows when its memory comes fresh from the system,
// already zero, and then does not clear it again (the system clears each page at its first touch).
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/large_block.h"

namespace quorda {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;

size_t whole_huge_pages(size_t bytes) {
  return ((bytes == 0 ? 1 : bytes) + kHugePage - 1) & ~(kHugePage - 1);
}

}  // namespace

// A block is the 2 MiB boundary inside a calloc'd area one huge page larger; the word before the
// boundary holds the area's address.
void* allocate_large_block(size_t bytes) {
  const size_t size = whole_huge_pages(bytes);
  void* area = std::calloc(1, size + kHugePage);
  if (area == nullptr) throw std::bad_alloc();
  uint8_t* start = static_cast<uint8_t*>(area) + sizeof(void*);
  const size_t past = reinterpret_cast<uintptr_t>(start) & (kHugePage - 1);
  uint8_t* block = past == 0 ? start : start + (kHugePage - past);
  std::memcpy(block - sizeof(void*), &area, sizeof area);
#ifdef MADV_HUGEPAGE
  ::madvise(block, size, MADV_HUGEPAGE);
#endif
  return block;
}

void free_large_block(void* block, size_t /*bytes*/) noexcept {
  if (block == nullptr) return;
  void* area = nullptr;
  std::memcpy(&area, static_cast<uint8_t*>(block) - sizeof(void*), sizeof area);
  std::free(area);
}

}  // namespace quorda
