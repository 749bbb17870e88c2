// The progress file: one short text rewritten at offset 0, written through to
// the disk and readable by other processes meanwhile.
#include "platform/raw_file.h"

#include <windows.h>

#include <new>

#include "platform/fs.h"

struct RawFile {
  HANDLE handle;
};

ResultCode RawFileCreate(const wchar_t* path, RawFile** out) {
  *out = nullptr;
  if (path == nullptr || path[0] == L'\0') return kErrInvalidArgument;
  HANDLE handle = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_FLAG_WRITE_THROUGH, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return MapWinError(GetLastError(), kErrCannotCreate);
  RawFile* file = new (std::nothrow) RawFile{handle};
  if (file == nullptr) {
    CloseHandle(handle);
    return kErrNoMemory;
  }
  *out = file;
  return kOk;
}

ResultCode RawFileRewrite(RawFile* file, const char* bytes, size_t length) {
  if (file == nullptr) return kErrInvalidHandle;
  if (SetFilePointer(file->handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    return MapWinError(GetLastError(), kErrWriteFault);
  }
  size_t done = 0;
  while (done < length) {
    DWORD written = 0;
    const DWORD chunk = length - done > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length - done);
    if (!WriteFile(file->handle, bytes + done, chunk, &written, nullptr) || written == 0) {
      return MapWinError(GetLastError(), kErrWriteFault);
    }
    done += written;
  }
  // Cut behind the new text; a longer old text must not leave its tail.
  if (!SetEndOfFile(file->handle)) return MapWinError(GetLastError(), kErrWriteFault);
  return kOk;
}

void RawFileClose(RawFile* file) {
  if (file == nullptr) return;
  CloseHandle(file->handle);
  delete file;
}

ResultCode RawFileDelete(const wchar_t* path) {
  if (path == nullptr) return kErrInvalidArgument;
  return DeleteFileW(path) ? kOk : MapWinError(GetLastError(), kErrFailed);
}
