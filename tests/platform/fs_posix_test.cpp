// File layer on POSIX: attributes, copies, renames, permissions, directories.
#include "platform/fs.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>


namespace {

class FsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/varno-fs-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    ASSERT_EQ(std::system(("chmod -R u+w '" + dir_ + "'; rm -rf '" + dir_ + "'").c_str()), 0);
  }
  std::wstring Path(const char* leaf) const {
    std::string path = dir_ + "/" + leaf;
    return std::wstring(path.begin(), path.end());
  }
  void Write(const char* leaf, const std::string& bytes) const {
    FILE* f = fopen((dir_ + "/" + leaf).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
  std::string Read(const char* leaf) const {
    std::string bytes;
    FILE* f = fopen((dir_ + "/" + leaf).c_str(), "rb");
    if (f == nullptr) return "<missing>";
    for (int c; (c = fgetc(f)) != EOF;) bytes.push_back(static_cast<char>(c));
    fclose(f);
    return bytes;
  }
  std::string dir_;
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
  EXPECT_EQ(Read("c"), "<missing>");
  EXPECT_EQ(SyncPathToDisk(Path("a").c_str()), kOk);
  EXPECT_EQ(SyncPathToDisk(Path("").c_str()), kOk);

  ASSERT_EQ(std::system(("chmod a-w '" + dir_ + "/a'").c_str()), 0);
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
