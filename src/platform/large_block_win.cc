// Large blocks on Windows: committed pages of VirtualAlloc (zeroed by the system). Large pages
// there need a privilege that a user's account rarely holds, so the pages are the normal ones.
#include <windows.h>

#include <new>

#include "platform/large_block.h"

namespace quorda {

void* allocate_large_block(size_t bytes) {
  void* block = ::VirtualAlloc(nullptr, bytes == 0 ? 1 : bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void free_large_block(void* block, size_t /*bytes*/) noexcept {
  if (block != nullptr) ::VirtualFree(block, 0, MEM_RELEASE);
}

}  // namespace quorda
