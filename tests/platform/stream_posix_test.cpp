// Streams on POSIX: no open waits on a FIFO, and devices take output only.
#include "platform/stream.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

TEST(StreamPosixTest, NoModeWaitsOnAFifoAndDevicesTakeOutputOnly) {
  const fs::path folder = fs::temp_directory_path() / ("varno-stream-fifo-" + std::to_string(getpid()));
  fs::create_directories(folder);
  ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
  for (const char* mode : {"rb", "rt", "wb", "wt", "ab", "at"}) {
    EXPECT_EQ(OpenStream((folder / "fifo").wstring().c_str(), mode), nullptr) << mode;  // returns at once
  }
  FILE* sink = OpenStream(L"/dev/null", "wt");
  ASSERT_NE(sink, nullptr);
  std::fclose(sink);
  EXPECT_EQ(OpenStream(L"/dev/null", "rb"), nullptr);
  fs::remove_all(folder);
}

}  // namespace
