// Streams over Win32 files: CreateFileW with the program's share modes, then
// a C runtime stream on the handle. The runtime's text mode writes "\n" as
// "\r\n" and reads CR LF as LF.
#include "platform/stream.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>

namespace {

thread_local int gLastError = 0;

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE: case ERROR_BAD_NETPATH: case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED: case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS: case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY: case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_NOT_READY: return ENXIO;
    default: return EINVAL;
  }
}

FILE* Fail(int error) {
  gLastError = errno = error;
  return nullptr;
}

// Readers let others read, write and delete; writers let others read only.
HANDLE OpenHandle(const wchar_t* path, char kind) {
  if (kind == 'r') {
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  }
  return CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                     kind == 'w' ? CREATE_ALWAYS : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

FILE* OpenStream(const wchar_t* path, const char* mode) {
  if (path == nullptr || mode == nullptr || path[0] == L'\0') return Fail(EINVAL);
  const char kind = mode[0];
  if (kind != 'r' && kind != 'w' && kind != 'a') return Fail(EINVAL);
  const bool text = strchr(mode, 't') != nullptr;
  HANDLE handle = OpenHandle(path, kind);
  if (handle == INVALID_HANDLE_VALUE) return Fail(ErrnoOf(GetLastError()));
  int flags = text ? _O_TEXT : _O_BINARY;
  if (kind == 'r') flags |= _O_RDONLY;
  if (kind == 'a') flags |= _O_APPEND;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd < 0) {
    CloseHandle(handle);
    return Fail(EMFILE);
  }
  char crtMode[3] = {kind, text ? 't' : 'b', 0};
  FILE* stream = _fdopen(fd, crtMode);
  if (stream == nullptr) {
    const int saved = errno;
    _close(fd);
    return Fail(saved);
  }
  return stream;
}

int StreamLastError() { return gLastError != 0 ? gLastError : errno; }

ResultCode FlushStreamToDisk(FILE* stream) {
  if (stream == nullptr) return kErrInvalidArgument;
  if (fflush(stream) != 0) {
    gLastError = errno;
    return kErrWriteFault;
  }
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (handle != INVALID_HANDLE_VALUE && !FlushFileBuffers(handle)) {
    const DWORD error = GetLastError();
    // Devices and read-only handles have nothing to flush.
    if (error != ERROR_INVALID_HANDLE && error != ERROR_ACCESS_DENIED &&
        error != ERROR_INVALID_FUNCTION) {
      gLastError = ErrnoOf(error);
      return kErrWriteFault;
    }
  }
  return kOk;
}

ResultCode SeekStream(FILE* stream, uint64_t offset) {
  if (stream == nullptr) return kErrInvalidArgument;
  if (_fseeki64(stream, static_cast<__int64>(offset), SEEK_SET) != 0) {
    gLastError = errno;
    return kErrReadFault;
  }
  return kOk;
}

int64_t TellStream(FILE* stream) {
  if (stream == nullptr) return -1;
  return static_cast<int64_t>(_ftelli64(stream));
}
