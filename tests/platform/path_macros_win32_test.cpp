// Path macros resolve to the Windows folders they name, as the shell and the
// registry report them.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "common/paths.h"
#include "platform/fs.h"

namespace {

std::wstring WithSeparator(std::wstring path) {
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return path;
}

std::wstring ShellFolder(int csidl) {
  wchar_t buffer[MAX_PATH] = {};
  if (SHGetFolderPathW(nullptr, csidl, nullptr, 0, buffer) != S_OK) return L"";
  return WithSeparator(buffer);
}

std::wstring RegistryFolder(HKEY root, const wchar_t* key, const wchar_t* value) {
  wchar_t buffer[MAX_PATH] = {};
  DWORD bytes = sizeof buffer - sizeof(wchar_t);
  if (RegGetValueW(root, key, value, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, buffer,
                   &bytes) != ERROR_SUCCESS) {
    return L"";
  }
  return WithSeparator(buffer);
}

std::wstring SystemFolder(UINT (*WINAPI get)(LPWSTR, UINT)) {
  wchar_t buffer[MAX_PATH] = {};
  return get(buffer, MAX_PATH) > 0 ? WithSeparator(buffer) : L"";
}

// The executable's directory, its parent (the installation root), each with '\'.
std::wstring ExecutableFolder(bool parent) {
  std::wstring path;
  EXPECT_EQ(GetExecutablePath(&path), kOk);
  path.resize(path.find_last_of(L"\\/"));
  if (parent) path.resize(path.find_last_of(L"\\/"));
  return path + L"\\";
}

constexpr const wchar_t* kShellFolders = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const wchar_t* kDefaultShellFolders =
    L".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

TEST(PathMacrosWin32, EveryKindResolvesToItsWindowsFolder) {
  const std::wstring appData = ShellFolder(CSIDL_APPDATA);
  const std::wstring localAppData = ShellFolder(CSIDL_LOCAL_APPDATA);
  ASSERT_FALSE(appData.empty());
  ASSERT_NE(appData, localAppData);
  const struct {
    const wchar_t* macro;
    std::wstring expected;
  } cases[] = {
      {L"@@x:", ExecutableFolder(true)},
      {L"@@m:", ExecutableFolder(true)},
      {L"@@x:B", ExecutableFolder(false)},
      {L"@@c:", ShellFolder(CSIDL_PROGRAM_FILES_COMMON) + L"Vexmoor\\"},
      {L"@@w:", SystemFolder(GetWindowsDirectoryW)},
      {L"@@s:", SystemFolder(GetSystemDirectoryW)},
      {L"@@h:", appData},
      {L"@@h!:", localAppData},
      {L"@@ha:", ShellFolder(CSIDL_COMMON_APPDATA)},
      {L"@@hd:", RegistryFolder(HKEY_USERS, kDefaultShellFolders, L"AppData")},
      {L"@@hd!:", RegistryFolder(HKEY_USERS, kDefaultShellFolders, L"Local AppData")},
  };
  for (const auto& c : cases) {
    std::wstring path;
    const ResultCode result = ExpandPath(c.macro, 0, &path);
    if (c.expected.size() <= 1) {
      // A folder the system does not have: the expansion must fail, not guess.
      EXPECT_NE(result, kOk) << c.macro;
      continue;
    }
    EXPECT_EQ(result, kOk) << c.macro;
    EXPECT_EQ(path, c.expected) << c.macro;
  }
  // The registry copy of the local folder names the same place as the shell.
  const std::wstring registryLocal = RegistryFolder(HKEY_CURRENT_USER, kShellFolders, L"Local AppData");
  if (!registryLocal.empty()) {
    EXPECT_EQ(registryLocal, localAppData);
  }
}

TEST(PathMacrosWin32, FolderLettersAndTheRestFollowTheBase) {
  const std::wstring appData = ShellFolder(CSIDL_APPDATA);
  const std::wstring root = ExecutableFolder(true);
  const struct {
    const wchar_t* macro;
    std::wstring expected;
  } cases[] = {
      {L"@@h:b", appData + L"bin\\"},        {L"@@h:c", appData + L"conf\\"},
      {L"@@h:l", appData + L"log\\"},        {L"@@h:t", appData + L"tmp\\"},
      {L"@@x:c//a\\\\b", root + L"conf\\a\\b"}, {L"@@x:/htdocs/logs/", root + L"htdocs\\logs\\"},
      {L"@@h!:t/x", ShellFolder(CSIDL_LOCAL_APPDATA) + L"tmp\\x"},
  };
  for (const auto& c : cases) {
    std::wstring path;
    EXPECT_EQ(ExpandPath(c.macro, 0, &path), kOk) << c.macro;
    EXPECT_EQ(path, c.expected) << c.macro;
  }
}

}  // namespace
