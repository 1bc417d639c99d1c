// Large blocks: zeroed and writable to their last byte whatever the size asked, and on Linux on
// a 2 MiB boundary, where the huge-page advice can take effect.
#include "platform/large_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace quorda {
namespace {

constexpr uintptr_t kHugePage = uintptr_t{2} << 20;

TEST(LargeBlock, IsZeroedWritableAndOnAHugePageBoundary) {
  for (const size_t bytes : {size_t{1}, size_t{4097}, kHugePage, 3 * kHugePage + 5}) {
    auto* block = static_cast<unsigned char*>(allocate_large_block(bytes));
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(std::all_of(block, block + bytes, [](unsigned char c) { return c == 0; })) << bytes;
    std::memset(block, 0xA5, bytes);
    EXPECT_EQ(block[bytes - 1], 0xA5);
#ifdef __linux__
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % kHugePage, 0u) << bytes;
#endif
    free_large_block(block, bytes);
  }
}

}  // namespace
}  // namespace quorda
