// Directory search with FindFirstFileExW/FindNextFileW; the system matches
// the mask without regard to case.
#include "platform/dir_search.h"

#include <windows.h>

#include <new>
#include <string>

#include "platform/fs.h"
#include "platform/win32_util.h"

struct DirSearch {
  HANDLE handle = INVALID_HANDLE_VALUE;
};

namespace {

void FillEntry(const WIN32_FIND_DATAW& data, DirSearchEntry* entry) {
  *entry = DirSearchEntry{};
  const DWORD attributes = data.dwFileAttributes;
  entry->isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  entry->isSpecial = !entry->isDirectory && (attributes & FILE_ATTRIBUTE_DEVICE) != 0;
  entry->readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  entry->size = entry->isDirectory
                    ? 0
                    : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  entry->accessTime = TicksOfFileTime(data.ftLastAccessTime);
  entry->writeTime = TicksOfFileTime(data.ftLastWriteTime);
  entry->createTime = TicksOfFileTime(data.ftCreationTime);
  size_t n = wcslen(data.cFileName);
  if (n >= kDirSearchNameCapacity) n = kDirSearchNameCapacity - 1;
  wmemcpy(entry->name, data.cFileName, n);
  entry->name[n] = 0;
}

}  // namespace

ResultCode DirSearchFirst(const wchar_t* directory, const wchar_t* mask, DirSearch** out,
                          DirSearchEntry* entry) {
  if (directory == nullptr || mask == nullptr || out == nullptr) return kErrInvalidArgument;
  std::wstring pattern = directory;
  if (!pattern.empty() && !IsPathSeparator(pattern.back())) pattern += L'\\';
  if (mask[0] == L'\0') {
    // Nothing matches an empty mask; a missing directory is still told apart.
    const DWORD attributes = GetFileAttributesW(pattern.empty() ? L"." : pattern.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return kErrPathNotFound;
    }
    return kErrFileNotFound;
  }
  pattern += mask;
  WIN32_FIND_DATAW data;
  HANDLE handle = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                   FindExSearchNameMatch, nullptr, 0);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) return kErrFileNotFound;
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_DIRECTORY || error == ERROR_INVALID_NAME ||
        error == ERROR_BAD_NETPATH || error == ERROR_BAD_NET_NAME) {
      return kErrPathNotFound;
    }
    return MapWinError(error, kErrFailed);
  }
  auto* search = new (std::nothrow) DirSearch;
  if (search == nullptr) {
    FindClose(handle);
    return kErrNoMemory;
  }
  search->handle = handle;
  if (entry != nullptr) FillEntry(data, entry);
  *out = search;
  return kOk;
}

ResultCode DirSearchNext(DirSearch* search, DirSearchEntry* entry) {
  if (search == nullptr || search->handle == INVALID_HANDLE_VALUE) return kErrInvalidHandle;
  WIN32_FIND_DATAW data;
  if (!FindNextFileW(search->handle, &data)) {
    const DWORD error = GetLastError();
    return error == ERROR_NO_MORE_FILES ? kErrNoMoreEntries : MapWinError(error, kErrFailed);
  }
  if (entry != nullptr) FillEntry(data, entry);
  return kOk;
}

void DirSearchClose(DirSearch* search) {
  if (search == nullptr) return;
  if (search->handle != INVALID_HANDLE_VALUE) FindClose(search->handle);
  delete search;
}
