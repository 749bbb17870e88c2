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

thread_local DWORD gLastError = 0;

// The Windows error of a runtime failure that left only errno.
DWORD WinErrorOf(int err) {
  switch (err) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case EACCES: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EMFILE: return ERROR_TOO_MANY_OPEN_FILES;
    default: return ERROR_INVALID_PARAMETER;
  }
}

FILE* Fail(DWORD error) {
  gLastError = error;
  SetLastError(error);
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
  if (path == nullptr || mode == nullptr || path[0] == L'\0') return Fail(ERROR_INVALID_PARAMETER);
  const char kind = mode[0];
  if (kind != 'r' && kind != 'w' && kind != 'a') return Fail(ERROR_INVALID_PARAMETER);
  const bool text = strchr(mode, 't') != nullptr;
  HANDLE handle = OpenHandle(path, kind);
  if (handle == INVALID_HANDLE_VALUE) return Fail(GetLastError());
  int flags = text ? _O_TEXT : _O_BINARY;
  if (kind == 'r') flags |= _O_RDONLY;
  if (kind == 'a') flags |= _O_APPEND;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
  if (fd < 0) {
    CloseHandle(handle);
    return Fail(ERROR_TOO_MANY_OPEN_FILES);
  }
  char crtMode[3] = {kind, text ? 't' : 'b', 0};
  FILE* stream = _fdopen(fd, crtMode);
  if (stream == nullptr) {
    const DWORD error = WinErrorOf(errno);
    _close(fd);
    return Fail(error);
  }
  return stream;
}

int StreamLastError() { return static_cast<int>(gLastError != 0 ? gLastError : GetLastError()); }

ResultCode FlushStreamToDisk(FILE* stream) {
  if (stream == nullptr) return kErrInvalidArgument;
  if (fflush(stream) != 0) {
    gLastError = WinErrorOf(errno);
    return kErrWriteFault;
  }
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (handle != INVALID_HANDLE_VALUE && !FlushFileBuffers(handle)) {
    const DWORD error = GetLastError();
    // Devices and read-only handles have nothing to flush.
    if (error != ERROR_INVALID_HANDLE && error != ERROR_ACCESS_DENIED &&
        error != ERROR_INVALID_FUNCTION) {
      gLastError = error;
      return kErrWriteFault;
    }
  }
  return kOk;
}

ResultCode SeekStream(FILE* stream, uint64_t offset) {
  if (stream == nullptr) return kErrInvalidArgument;
  if (_fseeki64(stream, static_cast<__int64>(offset), SEEK_SET) != 0) {
    gLastError = WinErrorOf(errno);
    return kErrReadFault;
  }
  return kOk;
}

int64_t TellStream(FILE* stream) {
  if (stream == nullptr) return -1;
  return static_cast<int64_t>(_ftelli64(stream));
}

namespace {

// Reads at `offset` of a synchronous handle, the offset in OVERLAPPED, until
// `size` bytes or the end of the file.
ResultCode ReadHandleAt(HANDLE handle, uint64_t offset, char* bytes, size_t size, size_t* got) {
  while (*got < size) {
    const uint64_t at = offset + *got;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    const size_t left = size - *got;
    const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD done = 0;
    if (!ReadFile(handle, bytes + *got, chunk, &done, &where)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      gLastError = error;
      return kErrReadFault;
    }
    if (done == 0) break;
    *got += done;
  }
  return kOk;
}

}  // namespace

ResultCode ReadStreamAt(FILE* stream, uint64_t offset, void* buffer, size_t size, size_t* got) {
  if (stream == nullptr || got == nullptr || (buffer == nullptr && size != 0)) {
    return kErrInvalidArgument;
  }
  *got = 0;
  const intptr_t os = _get_osfhandle(_fileno(stream));
  if (os == -1 || os == -2) return kErrInvalidArgument;
  const HANDLE handle = reinterpret_cast<HANDLE>(os);
  // Such a read moves the handle's file pointer, which the stream takes its
  // own position from: the pointer is put back afterwards.
  LARGE_INTEGER before{};
  const LARGE_INTEGER none{};
  if (!SetFilePointerEx(handle, none, &before, FILE_CURRENT)) {
    gLastError = GetLastError();
    return kErrReadFault;
  }
  const ResultCode result = ReadHandleAt(handle, offset, static_cast<char*>(buffer), size, got);
  SetFilePointerEx(handle, before, nullptr, FILE_BEGIN);
  return result;
}
