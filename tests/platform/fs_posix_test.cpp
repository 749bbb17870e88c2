// File layer on POSIX: attributes, copies, renames, permissions, directories.
#include "platform/fs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "../scratch.h"

namespace {

using scratch::ReadFile;

class FsTest : public ::testing::Test {
 protected:
  std::wstring Path(const char* leaf) const { return folder_.Wide(leaf); }
  void Write(const char* leaf, const std::string& bytes) const { scratch::WriteFile(folder_ / leaf, bytes); }
  std::string Read(const char* leaf) const { return ReadFile(folder_ / leaf); }
  scratch::Folder folder_{"fs"};
};

TEST_F(FsTest, AttributesOfFilesDirectoriesAndMissingPaths) {
  Write("f", "12345");
  PathAttributes attributes;
  ASSERT_EQ(GetPathAttributes(Path("f").c_str(), &attributes), kOk);
  EXPECT_TRUE(attributes.exists);
  EXPECT_TRUE(attributes.isRegular);
  EXPECT_FALSE(attributes.isDirectory);
  EXPECT_EQ(attributes.size, 5u);
  EXPECT_GT(attributes.modified, 116444736000000000ULL);  // after 1970
  ASSERT_EQ(GetPathAttributes(Path("").c_str(), &attributes), kOk);
  EXPECT_TRUE(attributes.isDirectory);
  ASSERT_EQ(GetPathAttributes(Path("none/x").c_str(), &attributes), kOk);
  EXPECT_FALSE(attributes.exists);
  uint64_t size = 1;
  EXPECT_EQ(GetPathSize(Path("none").c_str(), &size), kErrFileNotFound);
  EXPECT_EQ(size, 0u);
  std::wstring value;  // a missing name or result is no value, not a crash
  EXPECT_FALSE(GetEnvironmentValue(nullptr, &value));
  EXPECT_FALSE(GetEnvironmentValue(L"PATH", nullptr));
}

TEST_F(FsTest, CopyRenameDeleteAndReadOnly) {
  Write("a", "first");
  Write("b", "second");
  EXPECT_EQ(CopyFileTo(Path("a").c_str(), Path("b").c_str(), true), kErrAlreadyExists);
  EXPECT_EQ(Read("b"), "second");
  EXPECT_EQ(CopyFileTo(Path("a").c_str(), Path("b").c_str(), false), kOk);
  EXPECT_EQ(Read("b"), "first");
  EXPECT_EQ(CopyFileTo(Path("none").c_str(), Path("c").c_str(), false), kErrFileNotFound);

  Write("c", "new");
  EXPECT_EQ(RenameReplacing(Path("c").c_str(), Path("a").c_str()), kOk);
  EXPECT_EQ(Read("a"), "new");
  EXPECT_FALSE(std::filesystem::exists(folder_ / "c"));
  EXPECT_EQ(SyncPathToDisk(Path("a").c_str()), kOk);
  EXPECT_EQ(SyncPathToDisk(Path("").c_str()), kOk);

  ASSERT_EQ(std::system(("chmod a-w '" + (folder_ / "a").string() + "'").c_str()), 0);
  PathAttributes attributes;
  ASSERT_EQ(GetPathAttributes(Path("a").c_str(), &attributes), kOk);
  EXPECT_TRUE(attributes.readOnly);
  EXPECT_EQ(ClearReadOnly(Path("a").c_str()), kOk);
  ASSERT_EQ(GetPathAttributes(Path("a").c_str(), &attributes), kOk);
  EXPECT_FALSE(attributes.readOnly);

  EXPECT_EQ(RemoveFile(Path("a").c_str()), kOk);
  EXPECT_EQ(RemoveFile(Path("a").c_str()), kErrFileNotFound);
}

TEST_F(FsTest, MakeDirectoryResults) {
  EXPECT_EQ(MakeDirectory(Path("d").c_str()), kOk);
  EXPECT_EQ(MakeDirectory(Path("d").c_str()), kErrAlreadyExists);
  EXPECT_EQ(MakeDirectory(Path("x/y").c_str()), kErrPathNotFound);
  EXPECT_EQ(RemoveEmptyDirectory(Path("d").c_str()), kOk);
  EXPECT_EQ(MakeDirectory(nullptr), kErrInvalidArgument);
}

}  // namespace
