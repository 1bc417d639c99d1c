// The handoff ring between two threads: every slot arrives once and in order across many
// wrap-arounds (filled with streaming copies, which copy every length and alignment as memcpy does), a full
// ring holds the producer and an empty one the consumer until the other side moves, a bounded drain gives up
// after its time, and closing or stopping ends the waits.
#include "base/handoff_ring.h"

#include "base/stream_copy.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace quorda {
namespace {

struct Slot {
  uint64_t seq = 0;
  uint64_t payload[4] = {};
};

using namespace std::chrono_literals;

// Spins (with short sleeps) until `cond` holds or a generous time has passed.
template <typename F>
bool eventually(F cond) {
  for (int i = 0; i < 5000 && !cond(); ++i) std::this_thread::sleep_for(1ms);
  return cond();
}

TEST(HandoffRing, EverySlotArrivesOnceAndInOrderAcrossWrapArounds) {
  for (uint64_t batch : {uint64_t{1}, uint64_t{3}}) {
    constexpr uint64_t kCount = 200000;
    HandoffRing<Slot> ring(4, batch);
    std::vector<uint64_t> bad;
    std::thread consumer([&] {
      uint64_t expect = 0;
      while (const Slot* s = ring.next()) {
        if (s->seq != expect || s->payload[3] != s->seq * 7) bad.push_back(expect);
        ++expect;
        ring.release();
      }
      if (expect != kCount) bad.push_back(expect);
    });
    for (uint64_t i = 0; i < kCount; ++i) {
      Slot* s = ring.claim();
      ASSERT_NE(s, nullptr);
      s->seq = i;
      // The payload with streaming stores, as the measuring thread's chunks are filled: the fence
      // must make it visible with the slot.
      const uint64_t payload[4] = {0, 0, 0, i * 7};
      stream_copy(s->payload, payload, sizeof payload);
      stream_fence();
      ring.publish();
      if (i % 1000 == 999) ring.flush();
      if (i % 50000 == 49999) {
        ASSERT_TRUE(ring.drain());
      }
    }
    EXPECT_TRUE(ring.drain());
    EXPECT_TRUE(ring.empty());
    ring.close();
    consumer.join();
    EXPECT_TRUE(bad.empty()) << "first slot out of order: " << bad.front();
  }
}

TEST(StreamCopy, CopiesAsMemcpyAtEveryAlignmentAndLength) {
  alignas(16) uint8_t from[96], to[96];
  for (int i = 0; i < 96; ++i) from[i] = static_cast<uint8_t>(i * 37 + 1);
  for (size_t at = 0; at < 16; at += 4) {
    for (size_t n = 0; n <= 64; n += 4) {
      std::memset(to, 0xEE, sizeof to);
      stream_copy(to + at, from + 4, n);
      stream_fence();
      for (size_t k = 0; k < sizeof to; ++k) {
        const uint8_t want = k >= at && k < at + n ? from[4 + k - at] : 0xEE;
        ASSERT_EQ(to[k], want) << "at " << at << ", " << n << " bytes, byte " << k;
      }
    }
  }
}

TEST(HandoffRing, AFullRingHoldsTheProducerAndAnEmptyOneTheConsumer) {
  HandoffRing<Slot> ring(2);
  // Empty: the consumer waits until a slot is published.
  std::atomic<int> got{-1};
  std::thread consumer([&] {
    const Slot* s = ring.next();
    got = s == nullptr ? -2 : static_cast<int>(s->seq);
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(got.load(), -1);
  ring.claim()->seq = 5;
  ring.publish();
  ASSERT_TRUE(eventually([&] { return got.load() == 5; }));
  consumer.join();

  // Slot 5 is still held (not released); one more fills the ring of two.
  ring.claim()->seq = 6;
  ring.publish();
  std::atomic<bool> claimed{false};
  std::thread producer([&] {
    Slot* s = ring.claim();
    claimed = s != nullptr;
    if (s != nullptr) {
      s->seq = 7;
      ring.publish();
    }
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(claimed.load()) << "claimed a slot of a full ring";
  ring.release();  // slot 5: half the ring is free again
  ASSERT_TRUE(eventually([&] { return claimed.load(); }));
  producer.join();
  EXPECT_EQ(ring.next()->seq, 6u);
  ring.release();
  EXPECT_EQ(ring.next()->seq, 7u);
  ring.release();
  EXPECT_TRUE(ring.drain());
}

TEST(HandoffRing, CloseEndsTheConsumerAndStopEndsTheProducer) {
  {
    HandoffRing<Slot> ring(3);
    ring.claim()->seq = 1;
    ring.publish();
    ring.close();
    // A closed ring still gives what was published before.
    ASSERT_NE(ring.next(), nullptr);
    ring.release();
    EXPECT_EQ(ring.next(), nullptr);
  }
  {
    HandoffRing<Slot> ring(2);
    ring.claim()->seq = 1;
    ring.publish();
    ring.claim()->seq = 2;
    ring.publish();
    std::thread consumer([&] {
      std::this_thread::sleep_for(20ms);
      ASSERT_NE(ring.next(), nullptr);
      ring.stop();  // fails on the first slot without releasing it
    });
    // The ring is full: claim waits until the consumer stops, then fails; so does drain.
    EXPECT_EQ(ring.claim(), nullptr);
    consumer.join();
    EXPECT_FALSE(ring.drain());
    EXPECT_EQ(ring.claim(), nullptr);
  }
}

TEST(HandoffRing, ABoundedDrainReturnsWhileTheConsumerStillWorks) {
  using Drained = HandoffRing<Slot>::Drained;
  HandoffRing<Slot> ring(4);
  EXPECT_EQ(ring.drain_for(0ms), Drained::kDone);  // nothing published
  ring.claim()->seq = 1;
  ring.publish();
  std::atomic<bool> release{false};
  std::thread consumer([&] {
    ASSERT_NE(ring.next(), nullptr);
    while (!release.load()) std::this_thread::sleep_for(1ms);
    ring.release();
    ring.stop();  // gives up right after the release
  });
  // The slot is held: each bounded drain gives up after its time, and may be tried again.
  EXPECT_EQ(ring.drain_for(10ms), Drained::kTimedOut);
  EXPECT_EQ(ring.drain_for(10ms), Drained::kTimedOut);
  release = true;
  Drained d = Drained::kTimedOut;
  for (int i = 0; i < 500 && d == Drained::kTimedOut; ++i) d = ring.drain_for(10ms);
  consumer.join();
  // Released, then stopped: a drain that saw the release says so, a later one sees the stop.
  EXPECT_NE(d, Drained::kTimedOut);
  EXPECT_EQ(ring.drain_for(10ms), Drained::kStopped);
}

}  // namespace
}  // namespace quorda
