// Paths on every platform: macro names, joining, directory trees.
#include "common/paths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/fs.h"
#include "../scratch.h"

namespace {

namespace fs = std::filesystem;

ResultCode ExpandResult(const wchar_t* text) {
  std::wstring out = L"junk";
  ResultCode result = ExpandPath(text, 0, &out);
  if (result != kOk) {
    EXPECT_TRUE(out.empty());
  }
  return result;
}

// A path as JoinPath writes it: every separator the platform's own.
std::wstring Joined(std::wstring path) {
  for (wchar_t& c : path) {
    if (IsPathSeparator(c)) c = kPathSeparator;
  }
  return path;
}

TEST(ExpandPath, BadMacroNames) {
  // Unknown names, a macro without ':', 12 or 13 characters, a character of no single byte.
  for (const wchar_t* bad : {L"@@x:lb", L"@@y:", L"@@x", L"@@", L"@@/x", L"@@ha!:", L"@@x:aaaaaaaaaa/",
                             L"@@x:aaaaaaaaaaa/", L"@@x:\x4E2D"}) {
    EXPECT_EQ(ExpandResult(bad), kErrInvalidName) << bad;
  }
  EXPECT_EQ(ExpandResult(L"@@hd!:l///////"), kOk);
  std::wstring out;
  EXPECT_EQ(ExpandPath(nullptr, 0, &out), kErrInvalidArgument);
}

TEST(JoinPath, SeparatorsAndTrailingFlag) {
  EXPECT_EQ(JoinPath(L"a", L"b", false), Joined(L"a/b"));
  EXPECT_EQ(JoinPath(L"a/", L"b", false), Joined(L"a/b"));
  EXPECT_EQ(JoinPath(L"a\\", L"b\\c", true), Joined(L"a/b/c/"));
  EXPECT_EQ(JoinPath(nullptr, L"x\\y", false), Joined(L"x/y"));
  EXPECT_EQ(JoinPath(L"/root", L"f.txt", false), Joined(L"/root/f.txt"));
}

class DirectoryTreeTest : public ::testing::Test {
 protected:
  scratch::Folder folder_{"paths"};
  std::wstring base_ = folder_.Wide();
};

TEST_F(DirectoryTreeTest, CreatesEveryLevel) {
  std::wstring deep = base_ + L"/a/b\\\\c//";
  EXPECT_EQ(CreateDirectoryTree(deep.c_str()), kOk);
  EXPECT_TRUE(DirectoryExists((base_ + L"/a/b/c").c_str()));
  EXPECT_EQ(CreateDirectoryTree(deep.c_str()), kOk);
  EXPECT_EQ(CreateDirectoryTree((base_ + L"/a/b/d").c_str()), kOk);
  EXPECT_TRUE(DirectoryExists((base_ + L"/a/b/d").c_str()));
  EXPECT_FALSE(FileExists((base_ + L"/a").c_str()));
}

TEST_F(DirectoryTreeTest, FailuresAndArguments) {
  EXPECT_EQ(CreateDirectoryTree(nullptr), kErrInvalidArgument);
  EXPECT_EQ(CreateDirectoryTree(L""), kErrPathNotFound);
  EXPECT_EQ(CreateDirectoryTree(L"/"), kOk);
  std::wstring file = base_ + L"/file";
  FILE* f = fopen(fs::path(file).string().c_str(), "w");
  ASSERT_NE(f, nullptr);
  fclose(f);
  EXPECT_TRUE(FileExists(file.c_str()));
  EXPECT_FALSE(DirectoryExists(file.c_str()));
  EXPECT_EQ(CreateDirectoryTree((file + L"/sub").c_str()), kErrBadPath);
  EXPECT_EQ(CreateDirectoryTree(file.c_str()), kErrBadPath);
  EXPECT_FALSE(FileExists((base_ + L"/missing").c_str()));
  EXPECT_FALSE(DirectoryExists(nullptr));
}

}  // namespace
