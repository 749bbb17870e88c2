// Private heaps: blocks reused by size class, aligned, freed at once.
#include "platform/arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

TEST(Arena, BlocksAreReusedAndAligned) {
  Arena* arena = ArenaCreate();
  ASSERT_NE(arena, nullptr);
  void* small = ArenaAlloc(arena, 24);
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(small) % 16, 0u);
  EXPECT_EQ(ArenaFree(arena, small), kOk);
  EXPECT_EQ(ArenaFree(arena, small), kErrFailed);  // a second free is refused
  EXPECT_EQ(ArenaAlloc(arena, 30), small);         // same size class
  void* large = ArenaAlloc(arena, 1 << 20);
  ASSERT_NE(large, nullptr);
  std::memset(large, 0xAB, 1 << 20);
  EXPECT_EQ(ArenaFree(arena, large), kOk);
  for (int i = 0; i < 10000; ++i) ASSERT_NE(ArenaAlloc(arena, static_cast<size_t>(i % 300)), nullptr);
  EXPECT_EQ(ArenaFree(arena, nullptr), kErrInvalidArgument);
  ArenaDestroy(arena);
}

}  // namespace
