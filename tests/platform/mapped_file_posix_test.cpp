// Mapped windows of a file that another process cuts meanwhile: the lost
// pages read as zero bytes instead of ending the process with SIGBUS.
#include "platform/mapped_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "../scratch.h"

namespace {

TEST(MappedFilePosix, PagesCutFromTheFileReadAsZero) {
  scratch::Folder dir("mapped");
  const std::string bytes(3 * 65536, 'x');
  scratch::WriteFile(dir / "log", bytes);
  FILE* stream = std::fopen((dir / "log").c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  MappedFile* file = nullptr;
  uint64_t size = 0;
  ASSERT_EQ(MappedFileOpen(stream, &file, &size), kOk);
  MappedView view;
  ASSERT_EQ(MappedFileMap(file, 100, bytes.size() - 100, &view), kOk);
  EXPECT_EQ(view.bytes[0], 'x');
  std::filesystem::resize_file(dir / "log", 4096);
  size_t zeros = 0;
  for (size_t i = 0; i < view.length; ++i) zeros += view.bytes[i] == '\0';
  EXPECT_EQ(zeros, view.length - (4096 - 100));
  MappedFileUnmap(&view);
  MappedFileClose(file);
  std::fclose(stream);
}

}  // namespace
