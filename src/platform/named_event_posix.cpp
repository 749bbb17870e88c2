// Named events as files in the user's runtime folder. The creator holds an
// exclusive flock for its whole life, so a live holder is recognised by the
// lock and a crashed one releases the name automatically. Setting the event
// writes a flag byte; polling reads it back.
#include "platform/named_event.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>

#include "platform/fs.h"
#include "platform/text.h"

struct NamedEvent {
  int fd;
  std::string path;
};

namespace {


constexpr int kOpenRetries = 16;
constexpr size_t kMaxLeafBytes = 200;  // leaves room for ".event" in a 255-byte name

// FNV-1a, only to tell long names apart.
uint64_t HashName(const std::string& text) {
  uint64_t hash = 14695981039346656037ULL;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ULL;
  return hash;
}

// $XDG_RUNTIME_DIR, else /tmp/varno-<uid> created with mode 0700 and owned by us.
ResultCode RuntimeFolder(std::string* out) {
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  struct stat info;
  if (runtime != nullptr && runtime[0] == '/' && stat(runtime, &info) == 0 &&
      S_ISDIR(info.st_mode)) {
    *out = runtime;
    return kOk;
  }
  std::string folder = "/tmp/varno-" + std::to_string(static_cast<unsigned long>(getuid()));
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return MapErrno(errno, kErrFailed);
  if (lstat(folder.c_str(), &info) != 0) return MapErrno(errno, kErrFailed);
  // Someone else's folder (or a link planted there) must not carry our events.
  if (!S_ISDIR(info.st_mode) || info.st_uid != getuid()) return kErrAccessDenied;
  *out = std::move(folder);
  return kOk;
}

// "Local\varno_x" -> "<runtime>/Local.varno_x.event".
ResultCode EventPath(const wchar_t* name, std::string* out) {
  if (name == nullptr || name[0] == L'\0') return kErrInvalidArgument;
  ResultCode result = RuntimeFolder(out);
  if (result != kOk) return result;
  std::string leaf = WideToMultibyte(name);
  for (char& c : leaf) {
    if (c == '\\' || c == '/') c = '.';
  }
  if (leaf.size() > kMaxLeafBytes) {
    // Too long for a file name: keep a prefix and make it unique with a hash.
    char hash[20];
    snprintf(hash, sizeof hash, "~%016llx", static_cast<unsigned long long>(HashName(leaf)));
    leaf.resize(kMaxLeafBytes - 17);
    leaf += hash;
  }
  out->append("/").append(leaf).append(".event");
  return kOk;
}

// True when fd still is the file at path (it was not unlinked and replaced
// between our open and our lock).
bool SameFileAsPath(int fd, const std::string& path) {
  struct stat byFd, byPath;
  if (fstat(fd, &byFd) != 0 || lstat(path.c_str(), &byPath) != 0) return false;
  return byFd.st_dev == byPath.st_dev && byFd.st_ino == byPath.st_ino;
}

}  // namespace

ResultCode NamedEventCreate(const wchar_t* name, NamedEvent** out) {
  *out = nullptr;
  std::string path;
  ResultCode result = EventPath(name, &path);
  if (result != kOk) return result;
  for (int attempt = 0; attempt < kOpenRetries; ++attempt) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return MapErrno(errno, kErrFailed);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int err = errno;
      close(fd);
      return err == EWOULDBLOCK ? kErrAlreadyExists : MapErrno(err, kErrFailed);
    }
    if (!SameFileAsPath(fd, path)) {
      close(fd);  // the previous holder removed it meanwhile: take a fresh one
      continue;
    }
    // A file left by a crashed holder may still carry its flag.
    if (ftruncate(fd, 0) != 0) {
      int err = errno;
      close(fd);
      return MapErrno(err, kErrFailed);
    }
    NamedEvent* event = new (std::nothrow) NamedEvent{fd, std::move(path)};
    if (event == nullptr) {
      close(fd);
      return kErrNoMemory;
    }
    *out = event;
    return kOk;
  }
  return kErrFailed;
}

ResultCode NamedEventSetByName(const wchar_t* name) {
  std::string path;
  ResultCode result = EventPath(name, &path);
  if (result != kOk) return result;
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return MapErrno(errno, kErrFailed);
  if (flock(fd, LOCK_SH | LOCK_NB) == 0) {
    // Nobody holds it: the leftover of a crashed holder. Remove it while we
    // hold the lock, so a creator that opened it meanwhile notices and retries.
    unlink(path.c_str());
    close(fd);
    return kErrFileNotFound;
  }
  if (errno != EWOULDBLOCK) {
    close(fd);
    return kErrWriteFault;
  }
  const char flag = 1;
  ssize_t written = pwrite(fd, &flag, 1, 0);
  close(fd);
  return written == 1 ? kOk : kErrWriteFault;
}

int NamedEventIsSet(const NamedEvent* event) {
  if (event == nullptr) return 0;
  char flag = 0;
  return pread(event->fd, &flag, 1, 0) == 1 && flag != 0 ? 1 : 0;
}

ResultCode NamedEventClose(NamedEvent* event) {
  if (event == nullptr) return kErrInvalidArgument;
  unlink(event->path.c_str());  // while still locked, so no one takes a dying name
  int closed = close(event->fd);
  delete event;
  return closed == 0 ? kOk : kErrFailed;
}
