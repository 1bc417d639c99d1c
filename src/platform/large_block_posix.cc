// Large blocks on POSIX: allocations aligned to 2 MiB, advised for huge pages where the system has
// them, and zeroed. The advice is a hint: without it the block works the same, page by page. The
// blocks come from the heap rather than from mappings of their own so that a leak checker still
// follows the pointers kept in them.
#include <sys/mman.h>

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

void* allocate_large_block(size_t bytes) {
  const size_t size = whole_huge_pages(bytes);
  void* block = ::operator new (size, std::align_val_t{kHugePage});
#ifdef MADV_HUGEPAGE
  ::madvise(block, size, MADV_HUGEPAGE);
#endif
  std::memset(block, 0, size);
  return block;
}

void free_large_block(void* block, size_t /*bytes*/) noexcept {
  ::operator delete (block, std::align_val_t{kHugePage});
}

}  // namespace quorda
