// Shared blocks on POSIX: a name left behind by a crashed holder (nobody
// holds it any more) starts afresh, zero-filled, as on Windows.
#include "platform/shared_block.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/console.h"

TEST(SharedBlockPosix, ANameNobodyHoldsStartsAfresh) {
  const std::string name = "varno-stale-" + std::to_string(CurrentProcessId());
  const int fd = shm_open(("/" + name).c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "left over by a crash", 20), 20);
  close(fd);
  const std::wstring wide(name.begin(), name.end());
  SharedBlock* block = nullptr;
  void* view = nullptr;
  bool existed = true;
  ASSERT_EQ(SharedBlockOpen(wide.c_str(), 64, &block, &view, &existed), kOk);
  EXPECT_FALSE(existed);
  EXPECT_EQ(static_cast<const char*>(view)[0], '\0');
  // While this handle holds it, a second open finds the live block.
  SharedBlock* second = nullptr;
  void* secondView = nullptr;
  ASSERT_EQ(SharedBlockOpen(wide.c_str(), 64, &second, &secondView, &existed), kOk);
  EXPECT_TRUE(existed);
  SharedBlockClose(second);
  SharedBlockClose(block);
}
