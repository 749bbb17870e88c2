// Lock files: created with no sharing and delete-on-close, so a second taker
// fails with a sharing violation and the file vanishes with the last handle,
// also when the holder dies.
#include "platform/lock_file.h"

#include <windows.h>

#include <new>

#include "platform/fs.h"

// windows.h declares a function LockFile, which hides the type's plain name
// here: the type is written `struct LockFile` or LockRecord.
struct LockFile {
  HANDLE handle;
};
using LockRecord = struct LockFile;

namespace {

HANDLE CreateLockHandle(const wchar_t* path) {
  return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

// A leftover marked read-only refuses a delete-on-close create; it is made
// writable again and reused. A file that another process holds still
// refuses the retry, with a sharing violation.
bool ClearReadOnlyLeftover(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
    return false;
  }
  return SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY) != 0;
}

}  // namespace

ResultCode LockFileOpen(const wchar_t* path, struct LockFile** out) {
  *out = nullptr;
  if (path == nullptr || path[0] == L'\0') return kErrInvalidArgument;
  HANDLE handle = CreateLockHandle(path);
  if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    if (ClearReadOnlyLeftover(path)) {
      handle = CreateLockHandle(path);
    } else {
      SetLastError(ERROR_ACCESS_DENIED);
    }
  }
  if (handle == INVALID_HANDLE_VALUE) {
    return MapErrno(static_cast<int>(GetLastError()), kErrSharingViolation);
  }
  LockRecord* lock = new (std::nothrow) LockRecord{handle};
  if (lock == nullptr) {
    CloseHandle(handle);
    return kErrNoMemory;
  }
  *out = lock;
  return kOk;
}

void LockFileClose(struct LockFile* lock) {
  if (lock == nullptr) return;
  CloseHandle(lock->handle);  // delete-on-close removes the file
  delete lock;
}
