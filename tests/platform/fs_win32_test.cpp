// File layer on Windows: drive letters, both separators, "\\?\" long paths,
// UNC names and non-ASCII names; the Windows error mapping.
#include "platform/fs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "../scratch.h"
#include "platform/dir_search.h"
#include "platform/stream.h"

namespace {

namespace fs = std::filesystem;

class FsWin32Test : public ::testing::Test {
 protected:
  std::wstring Backslashed() const { return fs::path(dir_).make_preferred().wstring(); }
  scratch::Folder folder_{"fs_win32"};
  const fs::path& dir_ = folder_.path;
};

TEST_F(FsWin32Test, EveryPathFormNamesTheSameFile) {
  FILE* out = OpenStream((dir_ / "f.txt").wstring().c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fputs("12345", out);
  std::fclose(out);
  std::wstring slashed = Backslashed() + L"\\f.txt";
  for (wchar_t& c : slashed) {
    if (c == L'\\') c = L'/';
  }
  const std::wstring forms[] = {Backslashed() + L"\\f.txt", slashed, Backslashed() + L"/f.txt",
                                L"\\\\?\\" + Backslashed() + L"\\f.txt"};
  for (const std::wstring& form : forms) {
    PathAttributes attributes;
    ASSERT_EQ(GetPathAttributes(form.c_str(), &attributes), kOk) << fs::path(form).string();
    EXPECT_TRUE(attributes.isRegular) << fs::path(form).string();
    EXPECT_EQ(attributes.size, 5u) << fs::path(form).string();
  }
}

TEST_F(FsWin32Test, DriveRootsAndMissingUncPaths) {
  const struct {
    std::wstring path;
    bool exists, isDirectory;
  } cases[] = {
      {Backslashed().substr(0, 3), true, true},  // the drive root, "C:\"
      {Backslashed().substr(0, 2) + L"/", true, true},
      {L"\\\\no-such-host-varno\\share\\x.txt", false, false},
      {L"\\\\?\\" + Backslashed() + L"\\none", false, false},
  };
  for (const auto& c : cases) {
    PathAttributes attributes;
    ASSERT_EQ(GetPathAttributes(c.path.c_str(), &attributes), kOk) << fs::path(c.path).string();
    EXPECT_EQ(attributes.exists, c.exists) << fs::path(c.path).string();
    EXPECT_EQ(attributes.isDirectory, c.isDirectory) << fs::path(c.path).string();
  }
}

TEST_F(FsWin32Test, NonAsciiNamesAreCreatedFoundAndRemoved) {
  const std::wstring names[] = {L"caf\u00e9.log", L"\u0416\u0443\u0440\u043d\u0430\u043b.log",
                                L"\u65e5\u8a8c.log"};
  for (const std::wstring& name : names) {
    const std::wstring path = Backslashed() + L"\\" + name;
    FILE* out = OpenStream(path.c_str(), "wt");
    ASSERT_NE(out, nullptr);
    std::fclose(out);
    DirSearch* search = nullptr;
    DirSearchEntry entry;
    ASSERT_EQ(DirSearchFirst(Backslashed().c_str(), name.c_str(), &search, &entry), kOk);
    EXPECT_EQ(std::wstring(entry.name), name);
    DirSearchClose(search);
    EXPECT_EQ(MakeDirectory((path + L".d").c_str()), kOk);
    EXPECT_EQ(RemoveEmptyDirectory((path + L".d").c_str()), kOk);
    EXPECT_EQ(RemoveFile(path.c_str()), kOk);
    EXPECT_EQ(RemoveFile(path.c_str()), kErrFileNotFound);
  }
}

TEST(MapWinError, TableAndDefault) {
  const struct {
    unsigned long error;
    ResultCode code;
  } cases[] = {{0, kOk}, {2, kErrFileNotFound}, {3, kErrPathNotFound}, {5, kErrAccessDenied},
               {32, kErrSharingViolation}, {80, kErrAlreadyExists}, {112, kErrDiskFull},
               {123, kErrInvalidName}, {258, kTimeOut}, {1243, -30}, {16, -33},
               {12029, kErrCannotConnect}, {12030, kConnectionBroken}, {99999, -6}};
  for (const auto& c : cases) EXPECT_EQ(MapWinError(c.error, -6), c.code) << c.error;
}

}  // namespace
