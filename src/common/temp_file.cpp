#include "common/temp_file.h"

#include <cstdio>
#include <cwchar>

#include "common/dir_enum.h"
#include "common/paths.h"
#include "platform/console.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/stream.h"

namespace {

constexpr wchar_t kSuffix[] = L".tmp";

// Folder part ("." when none) and name part of a path.
void SplitFolder(const wchar_t* path, std::wstring* folder, std::wstring* name) {
  const wchar_t* last = nullptr;
  for (const wchar_t* p = path; *p != L'\0'; ++p) {
    if (IsPathSeparator(*p)) last = p;
  }
  if (last == nullptr) {
    *folder = L".";
    *name = path;
    return;
  }
  folder->assign(path, static_cast<size_t>(last - path) + 1);
  *name = last + 1;
}

ResultCode ForceToDisk(const std::wstring& path) {
  FILE* stream = OpenStream(path.c_str(), "ab");
  if (stream == nullptr) return kErrOpenFailed;
  ResultCode result = FlushStreamToDisk(stream);
  if (std::fclose(stream) != 0 && result == kOk) result = kErrWriteFault;
  return result;
}

}  // namespace

std::wstring TemporaryPathOf(const wchar_t* finalPath) {
  return std::wstring(finalPath) + L"." + std::to_wstring(CurrentProcessId()) + kSuffix;
}

uint32_t TemporaryOwner(const wchar_t* name, const wchar_t* finalName) {
  const size_t prefix = std::wcslen(finalName);
  if (std::wcsncmp(name, finalName, prefix) != 0 || name[prefix] != L'.') return 0;
  uint64_t id = 0;
  const wchar_t* p = name + prefix + 1;
  for (; *p >= L'0' && *p <= L'9' && id <= UINT32_MAX; ++p) id = id * 10 + static_cast<uint64_t>(*p - L'0');
  if (p == name + prefix + 1 || std::wcscmp(p, kSuffix) != 0 || id > UINT32_MAX) return 0;
  return static_cast<uint32_t>(id);
}

void RemoveDeadTemporaries(const wchar_t* finalPath) {
  std::wstring folder, finalName;
  SplitFolder(finalPath, &folder, &finalName);
  const uint32_t self = CurrentProcessId();
  const std::wstring wildcard = JoinPath(folder.c_str(), (finalName + L".*" + kSuffix).c_str(), false);
  DirEnum* search = nullptr;
  FileInfo info;
  const uint32_t fields = kFileInfoName | kFileInfoMode;
  ResultCode result = DirEnumOpen(wildcard.c_str(), fields, &search, &info);
  while (result == kOk) {
    const uint32_t owner = TemporaryOwner(info.name, finalName.c_str());
    if ((info.mode & kFileModeRegular) != 0 && owner != 0 && owner != self && !ProcessIsAlive(owner)) {
      RemoveFile(JoinPath(folder.c_str(), info.name, false).c_str());
    }
    result = DirEnumNext(search, fields, &info);
  }
  if (search != nullptr) DirEnumClose(search);
}

ResultCode FinishTemporary(const std::wstring& temporary, const wchar_t* finalPath, ResultCode written) {
  ResultCode result = written;
  if (result == kOk) result = ForceToDisk(temporary);
  if (result == kOk) result = RenameReplacing(temporary.c_str(), finalPath);
  if (result != kOk) RemoveFile(temporary.c_str());
  return result;
}

ResultCode ReplaceFileWhole(const wchar_t* finalPath, const char* bytes, size_t length) {
  RemoveDeadTemporaries(finalPath);
  const std::wstring temporary = TemporaryPathOf(finalPath);
  FILE* out = OpenStream(temporary.c_str(), "wb");
  if (out == nullptr) return MapErrno(StreamLastError(), kErrCannotCreate);
  ResultCode written = kOk;
  if (length != 0 && std::fwrite(bytes, 1, length, out) != length) {
    written = MapErrno(StreamLastError(), kErrWriteFault);
  }
  if (std::fclose(out) != 0 && written == kOk) written = kErrWriteFault;
  return FinishTemporary(temporary, finalPath, written);
}
