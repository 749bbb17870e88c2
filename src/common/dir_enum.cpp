// Directory enumeration handles over the platform directory search.
#include "common/dir_enum.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "platform/dir_search.h"

struct DirEnum {
  char magic[4] = {'x', 'f', 'n', 'd'};
  DirSearch* search = nullptr;
  size_t prefixLength = 0;
  std::wstring prefix;  // the path up to and including its last separator
};

namespace {

bool HasMagic(const DirEnum* handle) {
  return handle != nullptr && std::memcmp(handle->magic, "xfnd", 4) == 0;
}

void FillInfo(const DirSearchEntry& entry, uint32_t mask, FileInfo* info) {
  if (info == nullptr) return;
  if (mask == 0) mask = kFileInfoAll;
  *info = FileInfo{};
  info->valid = mask & kFileInfoAll;
  if (mask & kFileInfoName) std::wcscpy(info->name, entry.name);
  if (mask & kFileInfoMode) {
    // A FIFO or a device is neither: every caller skips it, and none opens it.
    info->mode = kFileModeReadAll;
    if (entry.isDirectory) info->mode |= kFileModeDirectory;
    if (!entry.isDirectory && !entry.isSpecial) info->mode |= kFileModeRegular;
    if (!entry.readOnly) info->mode |= kFileModeWriteAll;
  }
  if (mask & kFileInfoAccessTime) info->accessTime = entry.accessTime;
  if (mask & kFileInfoWriteTime) info->writeTime = entry.writeTime;
  if (mask & kFileInfoCreateTime) info->createTime = entry.createTime;
  if (mask & kFileInfoSize) info->size = entry.size;
}

}  // namespace

ResultCode DirEnumOpen(const wchar_t* path, uint32_t mask, DirEnum** handle, FileInfo* info) {
  if (path == nullptr || handle == nullptr) return kErrInvalidArgument;
  auto* enumeration = new (std::nothrow) DirEnum;
  if (enumeration == nullptr) return kErrNoMemory;
  const wchar_t* lastSeparator = nullptr;
  for (const wchar_t* p = path; *p != 0; ++p) {
    if (*p == L'\\' || *p == L'/') lastSeparator = p;
  }
  const size_t prefixLength = lastSeparator != nullptr ? size_t(lastSeparator - path) + 1 : 0;
  enumeration->prefix.assign(path, prefixLength);
  enumeration->prefixLength = prefixLength;
  DirSearchEntry entry;
  const ResultCode code =
      DirSearchFirst(enumeration->prefix.c_str(), path + prefixLength, &enumeration->search, &entry);
  if (code != kOk) {
    delete enumeration;
    return code;
  }
  FillInfo(entry, mask, info);
  *handle = enumeration;
  return kOk;
}

ResultCode DirEnumNext(DirEnum* handle, uint32_t mask, FileInfo* info) {
  if (!HasMagic(handle) || handle->search == nullptr) return kErrInvalidHandle;
  DirSearchEntry entry;
  const ResultCode code = DirSearchNext(handle->search, &entry);
  if (code != kOk) return code;
  FillInfo(entry, mask, info);
  return kOk;
}

ResultCode DirEnumClose(DirEnum* handle) {
  if (!HasMagic(handle)) return kErrInvalidHandle;
  DirSearchClose(handle->search);
  std::memset(handle->magic, 0, sizeof handle->magic);
  delete handle;
  return kOk;
}
