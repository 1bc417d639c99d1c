// Large blocks on POSIX: anonymous mappings (zeroed by the system), trimmed to a 2 MiB boundary and
// advised for huge pages where the system has them. The advice is a hint: without it the block
// works the same, page by page.
#include <sys/mman.h>

#include <cstdint>
#include <new>

#include "platform/large_block.h"

namespace quorda {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;

size_t whole_huge_pages(size_t bytes) {
  return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

}  // namespace

void* allocate_large_block(size_t bytes) {
  const size_t size = whole_huge_pages(bytes == 0 ? 1 : bytes);
  // One huge page more than needed, so that an aligned stretch lies inside; the rest is unmapped.
  const size_t span = size + kHugePage;
  void* raw = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  char* const first = static_cast<char*>(raw);
  const size_t head = (kHugePage - reinterpret_cast<uintptr_t>(raw) % kHugePage) % kHugePage;
  char* const block = first + head;
  if (head > 0) ::munmap(first, head);
  const size_t tail = span - head - size;
  if (tail > 0) ::munmap(block + size, tail);
#ifdef MADV_HUGEPAGE
  ::madvise(block, size, MADV_HUGEPAGE);
#endif
  return block;
}

void free_large_block(void* block, size_t bytes) noexcept {
  if (block != nullptr) ::munmap(block, whole_huge_pages(bytes == 0 ? 1 : bytes));
}

}  // namespace quorda
