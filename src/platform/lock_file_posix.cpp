// Lock files: an exclusive flock on the file; releasing unlinks it while the
// lock is still held, so the next taker never locks a file about to vanish.
#include "platform/lock_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <string>

#include "platform/fs.h"
#include "platform/open_posix.h"
#include "platform/text.h"

struct LockFile {
  int fd;
  std::string path;
};

namespace {


constexpr int kOpenRetries = 16;

// A read-only leftover cannot be opened for writing; locking needs no write
// access, so it is reused read-only. When the retry fails too (no file in a
// folder without write access), errno stays the first failure's.
int OpenForLock(const char* path) {
  int fd = OpenNoWait(path, O_RDWR | O_CREAT | O_NOFOLLOW, 0644);
  if (fd < 0 && errno == EACCES) {
    fd = OpenNoWait(path, O_RDONLY | O_NOFOLLOW);
    if (fd < 0) errno = EACCES;
  }
  return fd;
}

bool SameFileAsPath(int fd, const std::string& path) {
  struct stat byFd, byPath;
  if (fstat(fd, &byFd) != 0 || lstat(path.c_str(), &byPath) != 0) return false;
  return byFd.st_dev == byPath.st_dev && byFd.st_ino == byPath.st_ino;
}

}  // namespace

ResultCode LockFileOpen(const wchar_t* path, LockFile** out) {
  *out = nullptr;
  if (path == nullptr || path[0] == L'\0') return kErrInvalidArgument;
  std::string bytes = WideToMultibyte(path);
  for (int attempt = 0; attempt < kOpenRetries; ++attempt) {
    int fd = OpenForLock(bytes.c_str());
    if (fd < 0) return MapErrno(errno, kErrSharingViolation);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int err = errno;
      close(fd);
      return err == EWOULDBLOCK ? kErrSharingViolation : MapErrno(err, kErrSharingViolation);
    }
    if (!SameFileAsPath(fd, bytes)) {
      close(fd);  // released and unlinked between our open and our lock
      continue;
    }
    LockFile* lock = new (std::nothrow) LockFile{fd, std::move(bytes)};
    if (lock == nullptr) {
      unlink(bytes.c_str());
      close(fd);
      return kErrNoMemory;
    }
    *out = lock;
    return kOk;
  }
  return kErrSharingViolation;
}

void LockFileClose(LockFile* lock) {
  if (lock == nullptr) return;
  unlink(lock->path.c_str());
  close(lock->fd);
  delete lock;
}
