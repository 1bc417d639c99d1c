// The counting operator new of the test program. It only counts and forwards to malloc; it lives
// in a file of its own so that no caller sees the forwarding inline.
#include "match/heap_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> heap_allocation_count{0};
}  // namespace

void* operator new(std::size_t n) {
  heap_allocation_count.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
  return operator new(n);
}
// The nothrow forms are replaced too, so that every allocation that the plain delete frees came
// from malloc (the standard library's temporary buffers use them).
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  heap_allocation_count.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(n == 0 ? 1 : n);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept {
  return operator new(n, t);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace quorda::testing {

long heap_allocations() {
  return heap_allocation_count.load(std::memory_order_relaxed);
}

}  // namespace quorda::testing
