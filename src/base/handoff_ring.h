// The handoff ring: a bounded queue of fixed slots from one producing thread to one consuming
// thread, in order.
//
// The slots are allocated once, at construction; the producer fills a slot in place (claim, then
// publish) and the consumer works on it in place (next, then release), so no record is copied
// twice and nothing is allocated per record. The two counters of published and released slots
// are atomics; a thread blocks only when the ring is full (producer) or empty (consumer), on a
// mutex and a condition variable, and the other side takes the mutex and wakes it only when it
// sleeps and enough has changed: the consumer once `wake_batch` slots wait (or on flush, drain
// and close), the producer once half the ring is free again (or the ring is empty, for a drain).
// So in the steady state a slot costs two atomic stores and a few loads and no system call.
//
// Ending: the producer closes the ring (the consumer's next() returns null once the ring is empty);
// the consumer stops it when it cannot go on (claim() then returns null and drain() false, and
// what stays in the ring is never looked at).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace quorda {

template <typename Slot>
class HandoffRing {
 public:
  // A ring of `slots` slots (at least 2); a sleeping consumer is woken when `wake_batch` of them
  // wait for it.
  explicit HandoffRing(size_t slots, uint64_t wake_batch = 1)
      : size_(slots), wake_batch_(wake_batch), slots_(std::make_unique<Slot[]>(slots)) {}
  HandoffRing(const HandoffRing&) = delete;
  HandoffRing& operator=(const HandoffRing&) = delete;

  size_t size() const { return size_; }

  // Producer: the next slot to fill, waiting while the ring is full; null once the consumer has
  // stopped.
  Slot* claim() {
    const uint64_t t = published_.load(std::memory_order_relaxed);
    if (t - released_.load(std::memory_order_acquire) >= size_) {
      std::unique_lock<std::mutex> lock(mutex_);
      producer_sleeps_.store(true);
      producer_wake_.wait(lock, [&] { return t - released_.load() < size_ || stopped_; });
      producer_sleeps_.store(false);
      if (stopped_) return nullptr;
    } else if (stopped_flag_.load(std::memory_order_acquire)) {
      return nullptr;
    }
    return &slots_[t % size_];
  }

  // Producer: hands the claimed slot over.
  void publish() {
    const uint64_t t = published_.load(std::memory_order_relaxed) + 1;
    published_.store(t);
    if (consumer_sleeps_.load() && t - released_.load(std::memory_order_acquire) >= wake_batch_)
      wake_consumer();
  }

  // Producer: wakes a sleeping consumer whatever number of slots waits.
  void flush() {
    if (consumer_sleeps_.load() && published_.load(std::memory_order_relaxed) != released_.load())
      wake_consumer();
  }

  // Producer: the slots published and not yet released.
  uint64_t waiting() const {
    return published_.load(std::memory_order_relaxed) - released_.load(std::memory_order_acquire);
  }

  // Producer: whether the consumer has released every published slot.
  bool empty() const {
    return released_.load(std::memory_order_acquire) == published_.load(std::memory_order_relaxed);
  }

  // Producer: waits until the consumer has released every published slot. True then; false when
  // the consumer stopped instead.
  bool drain() {
    const uint64_t t = published_.load(std::memory_order_relaxed);
    if (released_.load(std::memory_order_acquire) == t) return !stopped_flag_.load(std::memory_order_acquire);
    flush();
    std::unique_lock<std::mutex> lock(mutex_);
    producer_sleeps_.store(true);
    producer_wake_.wait(lock, [&] { return released_.load() == t || stopped_; });
    producer_sleeps_.store(false);
    return !stopped_;
  }

  // Producer: as drain(), but waits no longer than `timeout`. kTimedOut when slots are still
  // out then; the producer may look at other things and drain again.
  enum class Drained { kDone, kStopped, kTimedOut };
  Drained drain_for(std::chrono::milliseconds timeout) {
    const uint64_t t = published_.load(std::memory_order_relaxed);
    if (released_.load(std::memory_order_acquire) == t)
      return stopped_flag_.load(std::memory_order_acquire) ? Drained::kStopped : Drained::kDone;
    flush();
    std::unique_lock<std::mutex> lock(mutex_);
    producer_sleeps_.store(true);
    const bool woken =
        producer_wake_.wait_for(lock, timeout, [&] { return released_.load() == t || stopped_; });
    producer_sleeps_.store(false);
    if (stopped_) return Drained::kStopped;
    return woken ? Drained::kDone : Drained::kTimedOut;
  }

  // Producer: no more slots come; the consumer's next() returns null once it has the rest.
  void close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    consumer_wake_.notify_one();
  }

  // Consumer: the next published slot, waiting while the ring is empty; null when the ring is
  // empty and closed.
  Slot* next() {
    const uint64_t r = released_.load(std::memory_order_relaxed);
    if (published_.load(std::memory_order_acquire) == r) {
      std::unique_lock<std::mutex> lock(mutex_);
      consumer_sleeps_.store(true);
      consumer_wake_.wait(lock, [&] { return published_.load() != r || closed_; });
      consumer_sleeps_.store(false);
      if (published_.load(std::memory_order_acquire) == r) return nullptr;
    }
    return &slots_[r % size_];
  }

  // Consumer: gives the slot from next() back.
  void release() {
    const uint64_t r = released_.load(std::memory_order_relaxed) + 1;
    released_.store(r);
    if (producer_sleeps_.load()) {
      const uint64_t waiting = published_.load(std::memory_order_acquire) - r;
      if (waiting == 0 || waiting <= size_ / 2) wake_producer();
    }
  }

  // Consumer: gives up; the producer's claim() and drain() fail from now on.
  void stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    stopped_flag_.store(true, std::memory_order_release);
    producer_wake_.notify_one();
  }

 private:
  void wake_consumer() {
    std::lock_guard<std::mutex> lock(mutex_);
    consumer_wake_.notify_one();
  }
  void wake_producer() {
    std::lock_guard<std::mutex> lock(mutex_);
    producer_wake_.notify_one();
  }

  const size_t size_;
  const uint64_t wake_batch_;
  std::unique_ptr<Slot[]> slots_;
  // Counters of slots ever published and released; slot i is slots_[i % size_]. Sequentially
  // consistent stores and loads pair with the sleep flags: a side that goes to sleep sets its flag
  // and then looks at the other's counter, the other side moves its counter and then looks at the
  // flag, so one of them sees the other.
  std::atomic<uint64_t> published_{0};
  std::atomic<uint64_t> released_{0};
  std::atomic<bool> consumer_sleeps_{false};
  std::atomic<bool> producer_sleeps_{false};
  std::atomic<bool> stopped_flag_{false};
  std::mutex mutex_;
  std::condition_variable consumer_wake_;
  std::condition_variable producer_wake_;
  bool closed_ = false;   // under mutex_
  bool stopped_ = false;  // under mutex_
};

}  // namespace quorda
