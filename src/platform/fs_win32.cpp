// File layer on Windows: file attributes, DeleteFileW, MoveFileExW,
// CreateDirectoryW, CopyFileW, GetModuleFileNameW, shell folders and registry
// values for the path macros, and the Windows and errno mappings.
#include "platform/fs.h"

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "platform/win32_util.h"

namespace {

ResultCode LastError(ResultCode fallback) { return MapWinError(GetLastError(), fallback); }

// Windows, system directory: 0 characters is -15, a result that does not fit -16.
ResultCode DirectoryFromCall(UINT (WINAPI *call)(LPWSTR, UINT), std::wstring* out) {
  wchar_t buffer[MAX_PATH];
  UINT length = call(buffer, MAX_PATH);
  if (length == 0) return kErrFailed;
  if (length >= MAX_PATH) return kErrBufferTooSmall;
  out->assign(buffer, length);
  return kOk;
}

using GetFolderPathFn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);
using GetSpecialFolderPathFn = BOOL(WINAPI*)(HWND, LPWSTR, int, BOOL);

// A shell folder by CSIDL: SHGetFolderPathW, else SHGetSpecialFolderPathW,
// both looked up in shell32.dll loaded for the call only.
ResultCode ShellFolder(int csidl, int createFlag, std::wstring* out) {
  HMODULE shell = LoadLibraryW(L"shell32.dll");
  if (shell == nullptr) return kErrFailed;
  wchar_t buffer[MAX_PATH] = {};
  const int flag = createFlag != 0 ? CSIDL_FLAG_CREATE : 0;
  bool found = false;
  auto getFolderPath = reinterpret_cast<GetFolderPathFn>(
      reinterpret_cast<void*>(GetProcAddress(shell, "SHGetFolderPathW")));
  if (getFolderPath != nullptr) {
    found = SUCCEEDED(getFolderPath(nullptr, csidl | flag, nullptr, 0, buffer));
  } else {
    auto getSpecial = reinterpret_cast<GetSpecialFolderPathFn>(
        reinterpret_cast<void*>(GetProcAddress(shell, "SHGetSpecialFolderPathW")));
    found = getSpecial != nullptr && getSpecial(nullptr, buffer, csidl | flag, createFlag != 0);
  }
  FreeLibrary(shell);
  if (!found || buffer[0] == L'\0') return kErrFailed;
  *out = buffer;
  return kOk;
}

// A string value of the registry: a missing key -4, a value longer than the
// buffer -16, other failures or an empty value -15.
ResultCode RegistryValue(HKEY root, const wchar_t* key, const wchar_t* name, std::wstring* out) {
  HKEY opened;
  LONG status = RegOpenKeyExW(root, key, 0, KEY_READ, &opened);
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return kErrPathNotFound;
  if (status != ERROR_SUCCESS) return kErrFailed;
  wchar_t buffer[MAX_PATH];
  DWORD bytes = sizeof buffer;
  DWORD type = 0;
  status = RegQueryValueExW(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
  RegCloseKey(opened);
  if (status == ERROR_MORE_DATA) return kErrBufferTooSmall;
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return kErrFailed;
  size_t length = bytes / sizeof(wchar_t);
  if (length > 0 && buffer[length - 1] == L'\0') --length;
  else if (length == MAX_PATH) return kErrBufferTooSmall;
  if (length == 0) return kErrFailed;
  out->assign(buffer, length);
  out->resize(wcslen(out->c_str()));
  return out->empty() ? kErrFailed : kOk;
}

constexpr wchar_t kShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr wchar_t kDefaultShellFolders[] =
    L".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

ResultCode CommonFiles(int createFlag, std::wstring* out) {
  if (ShellFolder(CSIDL_PROGRAM_FILES_COMMON, createFlag, out) == kOk) return kOk;
  if (RegistryValue(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion",
                    L"CommonFilesDir", out) == kOk) {
    return kOk;
  }
  return GetEnvironmentValue(L"CommonProgramFiles", out) && !out->empty() ? kOk : kErrFailed;
}

ResultCode AppData(int createFlag, std::wstring* out) {
  if (ShellFolder(CSIDL_APPDATA, createFlag, out) == kOk) return kOk;
  return GetEnvironmentValue(L"APPDATA", out) && !out->empty() ? kOk : kErrFailed;
}

ResultCode LocalAppData(int createFlag, std::wstring* out) {
  if (ShellFolder(CSIDL_LOCAL_APPDATA, createFlag, out) == kOk) return kOk;
  return RegistryValue(HKEY_CURRENT_USER, kShellFolders, L"Local AppData", out);
}

ResultCode CommonAppData(int createFlag, std::wstring* out) {
  if (ShellFolder(CSIDL_COMMON_APPDATA, createFlag, out) == kOk) return kOk;
  return RegistryValue(HKEY_LOCAL_MACHINE, kShellFolders, L"Common AppData", out);
}

// No trailing separator unless the folder is a root ("C:\").
void TrimTrailingSeparator(std::wstring* path) {
  while (path->size() > 1 && IsPathSeparator(path->back()) && (*path)[path->size() - 2] != L':') {
    path->pop_back();
  }
}

}  // namespace

ResultCode GetPathAttributes(const wchar_t* path, PathAttributes* out) {
  if (path == nullptr || out == nullptr) return kErrInvalidArgument;
  *out = PathAttributes{};
  if (path[0] == L'\0') return kOk;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) {
    const DWORD error = GetLastError();
    // Missing: the name, a folder on its way, the drive, or the network share.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        error == ERROR_INVALID_NAME || error == ERROR_BAD_PATHNAME || error == ERROR_BAD_NETPATH ||
        error == ERROR_BAD_NET_NAME || error == ERROR_BAD_DEV_TYPE || error == ERROR_INVALID_DRIVE) {
      return kOk;
    }
    return MapWinError(error, kErrFailed);
  }
  out->exists = true;
  out->isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  out->isRegular = !out->isDirectory && (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
  out->readOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  out->size = out->isRegular
                  ? (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow
                  : 0;
  out->modified = TicksOfFileTime(data.ftLastWriteTime);
  return kOk;
}

ResultCode RemoveFile(const wchar_t* path) {
  if (path == nullptr) return kErrInvalidArgument;
  return DeleteFileW(path) ? kOk : LastError(kErrFailed);
}

ResultCode RemoveEmptyDirectory(const wchar_t* path) {
  if (path == nullptr) return kErrInvalidArgument;
  if (RemoveDirectoryW(path)) return kOk;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND ? kErrPathNotFound : MapWinError(error, kErrFailed);
}

ResultCode CopyFileTo(const wchar_t* from, const wchar_t* to, bool failIfExists) {
  if (from == nullptr || to == nullptr) return kErrInvalidArgument;
  if (CopyFileW(from, to, failIfExists ? TRUE : FALSE)) {
    // The copy is writable for its owner, as the source's permissions allow.
    const DWORD attributes = GetFileAttributesW(to);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      SetFileAttributesW(to, attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    return kOk;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_EXISTS) return kErrAlreadyExists;
  return MapWinError(error, kErrCannotCreate);
}

ResultCode RenameReplacing(const wchar_t* from, const wchar_t* to) {
  if (from == nullptr || to == nullptr) return kErrInvalidArgument;
  return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? kOk
             : LastError(kErrFailed);
}

ResultCode ClearReadOnly(const wchar_t* path) {
  if (path == nullptr) return kErrInvalidArgument;
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastError(kErrFailed);
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return kOk;
  return SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY) ? kOk
                                                                         : LastError(kErrFailed);
}

ResultCode MakeDirectory(const wchar_t* path) {
  if (path == nullptr) return kErrInvalidArgument;
  if (CreateDirectoryW(path, nullptr)) return kOk;
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return kErrAlreadyExists;
  return MapWinError(error, kErrCannotCreate);
}

ResultCode GetExecutablePath(std::wstring* out) {
  if (out == nullptr) return kErrInvalidArgument;
  out->clear();
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return LastError(kErrFailed);
    if (length < buffer.size()) {
      buffer.resize(length);
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  *out = std::move(buffer);
  return kOk;
}

bool GetEnvironmentValue(const wchar_t* name, std::wstring* out) {
  if (name == nullptr || out == nullptr) return false;
  out->clear();
  const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  std::wstring value(needed, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), needed);
  if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
  value.resize(length < needed ? length : 0);
  *out = std::move(value);
  return true;
}

bool SetEnvironmentValue(const wchar_t* name, const wchar_t* value) {
  return name != nullptr && SetEnvironmentVariableW(name, value) != 0;
}

ResultCode SyncPathToDisk(const wchar_t* path) {
  if (path == nullptr) return kErrInvalidArgument;
  // A directory opens only with backup semantics; flushing it is optional.
  ScopedHandle file(CreateFileW(path, GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return kOk;
    }
    return LastError(kErrOpenFailed);
  }
  if (FlushFileBuffers(file.handle)) return kOk;
  const DWORD error = GetLastError();
  return error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_FUNCTION
             ? kOk
             : MapWinError(error, kErrWriteFault);
}

ResultCode GetUserFolder(UserFolder folder, int createFlag, std::wstring* out) {
  if (out == nullptr) return kErrInvalidArgument;
  out->clear();
  ResultCode result = kErrInvalidArgument;
  switch (folder) {
    case UserFolder::kCommonFiles: result = CommonFiles(createFlag, out); break;
    case UserFolder::kWindows: result = DirectoryFromCall(GetWindowsDirectoryW, out); break;
    case UserFolder::kSystem: result = DirectoryFromCall(GetSystemDirectoryW, out); break;
    case UserFolder::kAppData: result = AppData(createFlag, out); break;
    case UserFolder::kLocalAppData: result = LocalAppData(createFlag, out); break;
    case UserFolder::kCommonAppData: result = CommonAppData(createFlag, out); break;
    case UserFolder::kDefaultAppData:
      result = RegistryValue(HKEY_USERS, kDefaultShellFolders, L"AppData", out);
      break;
    case UserFolder::kDefaultLocalAppData:
      result = RegistryValue(HKEY_USERS, kDefaultShellFolders, L"Local AppData", out);
      break;
  }
  if (result == kOk) TrimTrailingSeparator(out);
  else out->clear();
  return result;
}


// On Windows the system's error numbers are the Windows errors.
ResultCode MapErrnoNotFound(int err, ResultCode fallback, ResultCode notFound) {
  return err == ERROR_FILE_NOT_FOUND ? notFound : MapErrno(err, fallback);
}

ResultCode MapErrno(int err, ResultCode fallback) {
  return MapWinError(static_cast<unsigned long>(err), fallback);
}

int LastSystemError() { return static_cast<int>(GetLastError()); }
