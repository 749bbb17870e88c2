// Platform directory search: codes and mask rules.
#include "platform/dir_search.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class DirSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device seed;
    folder_ = fs::temp_directory_path() / ("varno-search-" + std::to_string(seed()));
    fs::create_directories(folder_);
    for (const char* name : {"a.log", "ab.log", "abc.txt", "noext"}) {
      std::ofstream(folder_ / name) << "z";
    }
  }
  void TearDown() override { fs::remove_all(folder_); }

  size_t Count(const wchar_t* mask) {
    DirSearch* search = nullptr;
    DirSearchEntry entry;
    ResultCode rc = DirSearchFirst(folder_.wstring().c_str(), mask, &search, &entry);
    if (rc == kErrFileNotFound) return 0;
    EXPECT_EQ(rc, kOk);
    size_t count = 0;
    while (rc == kOk) {
      if (!entry.isDirectory) ++count;
      rc = DirSearchNext(search, &entry);
    }
    EXPECT_EQ(rc, kErrNoMoreEntries);
    DirSearchClose(search);
    return count;
  }

  fs::path folder_;
};

TEST_F(DirSearchTest, WildcardRules) {
  EXPECT_EQ(Count(L"*.log"), 2u);
  EXPECT_EQ(Count(L"A?.LOG"), 1u);
  EXPECT_EQ(Count(L"*b*"), 2u);
  EXPECT_EQ(Count(L"*.*"), 4u);  // as on Windows, names without a dot too
  EXPECT_EQ(Count(L"*c"), 0u);
  EXPECT_EQ(Count(L"noext"), 1u);
}

TEST_F(DirSearchTest, MissingDirectoryAndFileEntryFields) {
  DirSearch* search = nullptr;
  DirSearchEntry entry;
  EXPECT_EQ(DirSearchFirst((folder_ / "gone").wstring().c_str(), L"*", &search, &entry),
            kErrPathNotFound);
  EXPECT_EQ(DirSearchFirst((folder_ / "a.log").wstring().c_str(), L"*", &search, &entry),
            kErrPathNotFound);  // a file is no directory
  ASSERT_EQ(DirSearchFirst(folder_.wstring().c_str(), L"abc.txt", &search, &entry), kOk);
  EXPECT_EQ(entry.size, 1u);
  EXPECT_FALSE(entry.isDirectory);
  EXPECT_STREQ(entry.name, L"abc.txt");
  DirSearchClose(search);
}

}  // namespace
