// Directory enumeration: result codes, mask matching without case, FileInfo.
#include "common/dir_enum.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

class DirEnumTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device seed;
    folder_ = fs::temp_directory_path() / ("varno-enum-" + std::to_string(seed()));
    fs::create_directories(folder_ / "sub.log");
    Put("smtp20080427.log", "12345");
    Put("SMTP20080428.LOG", "");
    Put("rbl20080427.log", "x");
    Put("noext", "");
  }
  void TearDown() override {
    fs::permissions(folder_ / "smtp20080427.log", fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(folder_);
  }
  void Put(const char* name, const std::string& bytes) {
    std::ofstream out(folder_ / name, std::ios::binary);
    out << bytes;
  }
  std::wstring Mask(const wchar_t* mask) const { return (folder_ / mask).wstring(); }

  std::set<std::wstring> List(const wchar_t* mask) {
    std::set<std::wstring> names;
    DirEnum* handle = nullptr;
    FileInfo info;
    ResultCode rc = DirEnumOpen(Mask(mask).c_str(), 0x43, &handle, &info);
    while (rc == kOk) {
      names.insert(info.name);
      rc = DirEnumNext(handle, 0x43, &info);
    }
    EXPECT_EQ(rc, kErrNoMoreEntries);
    EXPECT_EQ(DirEnumClose(handle), kOk);
    return names;
  }

  fs::path folder_;
};

TEST_F(DirEnumTest, MaskMatchesWithoutCase) {
  EXPECT_EQ(List(L"smtp*.log"),
            (std::set<std::wstring>{L"smtp20080427.log", L"SMTP20080428.LOG"}));
  EXPECT_EQ(List(L"?bl2008042?.LOG"), (std::set<std::wstring>{L"rbl20080427.log"}));
  EXPECT_EQ(List(L"*b*"), (std::set<std::wstring>{L"rbl20080427.log", L"sub.log"}));
  EXPECT_EQ(List(L"*.*").count(L"noext"), 1u);  // as on Windows, names without a dot too
  EXPECT_EQ(List(L"*").count(L".."), 1u);  // callers skip entries without 0x8000
}

TEST_F(DirEnumTest, FileInfoModeAndSize) {
  DirEnum* handle = nullptr;
  FileInfo info;
  ASSERT_EQ(DirEnumOpen(Mask(L"smtp2008042?.log").c_str(), 0x43, &handle, &info), kOk);
  EXPECT_EQ(info.valid, 0x43u);
  EXPECT_EQ(info.mode, 0x8000u | 0x124u | 0x92u);
  EXPECT_EQ(info.size, 5u);
  EXPECT_EQ(info.writeTime, 0u);  // not asked for
  DirEnumClose(handle);

  ASSERT_EQ(DirEnumOpen(Mask(L"sub.*").c_str(), 0, &handle, &info), kOk);
  EXPECT_EQ(info.valid, 0x5Fu);
  EXPECT_EQ(info.mode & 0xF000u, 0x4000u);
  EXPECT_NE(info.writeTime, 0u);
  DirEnumClose(handle);

  fs::permissions(folder_ / "smtp20080427.log", fs::perms::owner_write | fs::perms::group_write |
                                                    fs::perms::others_write,
                  fs::perm_options::remove);
  ASSERT_EQ(DirEnumOpen(Mask(L"smtp20080427.log").c_str(), 0x43, &handle, &info), kOk);
  EXPECT_EQ(info.mode, 0x8000u | 0x124u);  // read-only: no write bits
  DirEnumClose(handle);
}

TEST_F(DirEnumTest, EndCodes) {
  DirEnum* handle = reinterpret_cast<DirEnum*>(1);
  FileInfo info;
  EXPECT_EQ(DirEnumOpen(Mask(L"kelb*.log").c_str(), 0x43, &handle, &info), kErrFileNotFound);
  EXPECT_EQ(handle, reinterpret_cast<DirEnum*>(1));  // nothing given out
  EXPECT_EQ(DirEnumOpen((folder_ / "missing" / "*.log").wstring().c_str(), 0x43, &handle, &info),
            kErrPathNotFound);
  ASSERT_EQ(DirEnumOpen(Mask(L"rbl*.log").c_str(), 0x43, &handle, &info), kOk);
  EXPECT_EQ(DirEnumNext(handle, 0x43, &info), kErrNoMoreEntries);
  EXPECT_EQ(DirEnumNext(handle, 0x43, &info), kErrNoMoreEntries);
  EXPECT_EQ(DirEnumClose(handle), kOk);
}

TEST_F(DirEnumTest, BackslashSeparatorsAndHandleChecks) {
  std::wstring path = folder_.wstring() + L"\\rbl*.log";
  DirEnum* handle = nullptr;
  FileInfo info;
  ASSERT_EQ(DirEnumOpen(path.c_str(), 0x43, &handle, &info), kOk);
  EXPECT_STREQ(info.name, L"rbl20080427.log");
  DirEnumClose(handle);
  EXPECT_EQ(DirEnumOpen(nullptr, 0, &handle, &info), kErrInvalidArgument);
  char fake[64] = "nope";
  EXPECT_EQ(DirEnumClose(reinterpret_cast<DirEnum*>(fake)), kErrInvalidHandle);
}

}  // namespace
