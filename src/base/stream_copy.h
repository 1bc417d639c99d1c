// Copies into a handoff ring's slot that bypass this processor's caches.
//
// A slot of the ring is read by the consumer on the other processor, which holds the slot's cache
// lines from the last time round. A plain store fetches each line back from there first and takes
// it away, a transfer between the processors' caches per line. A streaming (non-temporal) store
// writes the line on to memory without fetching it, and the consumer, which reads the slot in
// order, finds it there. Streaming stores are weakly ordered: stream_fence() must come between
// the copies into a slot and the store that hands the slot over.
//
// Where the processor has no such stores, or a sanitizer watches the memory (it sees no streaming
// store), they are plain copies.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && defined(__SSE2__) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(__SANITIZE_THREAD__)
#if defined(__has_feature)
#if !__has_feature(address_sanitizer) && !__has_feature(thread_sanitizer) && !__has_feature(memory_sanitizer)
#define QUORDA_STREAM_STORES 1
#endif
#else
#define QUORDA_STREAM_STORES 1
#endif
#endif

#ifdef QUORDA_STREAM_STORES
#include <emmintrin.h>
#endif

namespace quorda {

// Copies n bytes from `from` to `to`, both 4-byte aligned, n a multiple of 4.
inline void stream_copy(void* to, const void* from, size_t n) {
#ifdef QUORDA_STREAM_STORES
  auto* d = static_cast<uint8_t*>(to);
  const auto* s = static_cast<const uint8_t*>(from);
  if ((reinterpret_cast<uintptr_t>(d) & 7u) != 0 && n >= 4) {
    int32_t v;
    std::memcpy(&v, s, 4);
    _mm_stream_si32(reinterpret_cast<int*>(d), v);
    d += 4;
    s += 4;
    n -= 4;
  }
  for (; n >= 8; n -= 8, d += 8, s += 8) {
    long long v;
    std::memcpy(&v, s, 8);
    _mm_stream_si64(reinterpret_cast<long long*>(d), v);
  }
  if (n >= 4) {
    int32_t v;
    std::memcpy(&v, s, 4);
    _mm_stream_si32(reinterpret_cast<int*>(d), v);
  }
#else
  std::memcpy(to, from, n);
#endif
}

// Orders the streaming copies before the stores that follow.
inline void stream_fence() {
#ifdef QUORDA_STREAM_STORES
  _mm_sfence();
#else
  std::atomic_thread_fence(std::memory_order_release);
#endif
}

}  // namespace quorda
