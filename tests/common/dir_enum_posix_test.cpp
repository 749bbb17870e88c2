// Directory enumeration on POSIX: a FIFO is neither a file nor a directory.
#include "common/dir_enum.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;

TEST(DirEnumPosixTest, AFifoIsNeitherFileNorDirectory) {
  std::random_device seed;
  const fs::path folder = fs::temp_directory_path() / ("varno-enum-fifo-" + std::to_string(seed()));
  fs::create_directories(folder);
  ASSERT_EQ(mkfifo((folder / "smtp20080429.log").c_str(), 0600), 0);
  DirEnum* handle = nullptr;
  FileInfo info;
  ASSERT_EQ(DirEnumOpen((folder / "smtp20080429.log").wstring().c_str(), 0x43, &handle, &info), kOk);
  EXPECT_EQ(info.mode & 0xC000u, 0u);
  DirEnumClose(handle);
  fs::remove_all(folder);
}

}  // namespace
