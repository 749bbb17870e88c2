// File layer on POSIX: stat, unlink, rename, mkdir, copying through file
// descriptors, /proc/self/exe, the XDG folders and the errno mapping.
#include "platform/fs.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/open_posix.h"
#include "platform/text.h"

namespace {

constexpr uint64_t kUnixEpochSeconds = 11644473600ULL;  // 1601 -> 1970

std::string Bytes(const wchar_t* path) { return WideToMultibyte(path); }

TimeValue FromTimespec(const struct timespec& time) {
  return (static_cast<uint64_t>(time.tv_sec) + kUnixEpochSeconds) * kTicksPerSecond +
         static_cast<uint64_t>(time.tv_nsec) / 100;
}

ResultCode CloseKeepingFirst(int fd, ResultCode result) {
  if (close(fd) != 0 && result == kOk) return MapErrno(errno, kErrWriteFault);
  return result;
}

ResultCode CopyBytes(int from, int to) {
  char buffer[65536];
  for (;;) {
    ssize_t got = read(from, buffer, sizeof buffer);
    if (got == 0) return kOk;
    if (got < 0) {
      if (errno == EINTR) continue;
      return MapErrno(errno, kErrReadFault);
    }
    for (ssize_t done = 0; done < got;) {
      ssize_t put = write(to, buffer + done, static_cast<size_t>(got - done));
      if (put < 0) {
        if (errno == EINTR) continue;
        return MapErrno(errno, kErrWriteFault);
      }
      done += put;
    }
  }
}

// A folder from an environment variable, else $HOME + suffix.
ResultCode XdgFolder(const char* variable, const char* homeSuffix, std::wstring* out) {
  const char* value = getenv(variable);
  if (value != nullptr && value[0] == '/') {
    *out = MultibyteToWide(value);
    return kOk;
  }
  const char* home = getenv("HOME");
  if (home == nullptr || home[0] == '\0') return kErrFailed;
  std::string path = home;
  if (path.back() != '/') path += '/';
  path += homeSuffix;
  *out = MultibyteToWide(path.c_str());
  return kOk;
}

}  // namespace

ResultCode GetPathAttributes(const wchar_t* path, PathAttributes* out) {
  if (path == nullptr || out == nullptr) return kErrInvalidArgument;
  *out = PathAttributes{};
  if (path[0] == L'\0') return kOk;
  struct stat info;
  if (stat(Bytes(path).c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return kOk;
    return MapErrno(errno, kErrFailed);
  }
  out->exists = true;
  out->isDirectory = S_ISDIR(info.st_mode);
  out->isRegular = S_ISREG(info.st_mode);
  out->readOnly = (info.st_mode & S_IWUSR) == 0;
  out->size = out->isRegular ? static_cast<uint64_t>(info.st_size) : 0;
  out->modified = FromTimespec(info.st_mtim);
  return kOk;
}

ResultCode RemoveFile(const wchar_t* path) {
  if (path == nullptr) return kErrInvalidArgument;
  return unlink(Bytes(path).c_str()) == 0 ? kOk : MapErrno(errno, kErrFailed);
}

ResultCode RemoveEmptyDirectory(const wchar_t* path) {
  if (path == nullptr) return kErrInvalidArgument;
  return rmdir(Bytes(path).c_str()) == 0 ? kOk : MapErrnoNotFound(errno, kErrFailed, kErrPathNotFound);
}

ResultCode CopyFileTo(const wchar_t* from, const wchar_t* to, bool failIfExists) {
  if (from == nullptr || to == nullptr) return kErrInvalidArgument;
  int source = OpenNoWait(Bytes(from).c_str(), O_RDONLY);
  if (source < 0) return MapErrno(errno, kErrOpenFailed);
  struct stat info;
  mode_t mode = fstat(source, &info) == 0 ? (info.st_mode & 0777) : 0644;
  int flags = O_WRONLY | O_CREAT | O_TRUNC | (failIfExists ? O_EXCL : 0);
  int target = OpenNoWait(Bytes(to).c_str(), flags, mode | S_IWUSR);
  if (target < 0) {
    ResultCode result = MapErrno(errno, kErrCannotCreate);
    close(source);
    return result;
  }
  ResultCode result = CopyBytes(source, target);
  close(source);
  return CloseKeepingFirst(target, result);
}

ResultCode RenameReplacing(const wchar_t* from, const wchar_t* to) {
  if (from == nullptr || to == nullptr) return kErrInvalidArgument;
  return rename(Bytes(from).c_str(), Bytes(to).c_str()) == 0 ? kOk : MapErrno(errno, kErrFailed);
}

ResultCode ClearReadOnly(const wchar_t* path) {
  if (path == nullptr) return kErrInvalidArgument;
  std::string bytes = Bytes(path);
  struct stat info;
  if (stat(bytes.c_str(), &info) != 0) return MapErrno(errno, kErrFailed);
  if ((info.st_mode & S_IWUSR) != 0) return kOk;
  return chmod(bytes.c_str(), (info.st_mode & 07777) | S_IWUSR) == 0 ? kOk
                                                                      : MapErrno(errno, kErrFailed);
}

ResultCode MakeDirectory(const wchar_t* path) {
  if (path == nullptr) return kErrInvalidArgument;
  if (mkdir(Bytes(path).c_str(), 0777) == 0) return kOk;
  return MapErrnoNotFound(errno, kErrCannotCreate, kErrPathNotFound);
}

ResultCode GetExecutablePath(std::wstring* out) {
  if (out == nullptr) return kErrInvalidArgument;
  out->clear();
  std::string buffer(4096, '\0');
  for (;;) {
    ssize_t got = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (got < 0) return MapErrno(errno, kErrFailed);
    if (static_cast<size_t>(got) < buffer.size()) {
      buffer.resize(static_cast<size_t>(got));
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  *out = MultibyteToWide(buffer.c_str(), buffer.size());
  return kOk;
}

bool GetEnvironmentValue(const wchar_t* name, std::wstring* out) {
  if (name == nullptr || out == nullptr) return false;
  const char* value = getenv(Bytes(name).c_str());
  if (value == nullptr) {
    out->clear();
    return false;
  }
  *out = MultibyteToWide(value);
  return true;
}

bool SetEnvironmentValue(const wchar_t* name, const wchar_t* value) {
  if (name == nullptr) return false;
  if (value == nullptr) return unsetenv(Bytes(name).c_str()) == 0;
  return setenv(Bytes(name).c_str(), Bytes(value).c_str(), 1) == 0;
}

ResultCode SyncPathToDisk(const wchar_t* path) {
  if (path == nullptr) return kErrInvalidArgument;
  int fd = OpenNoWait(Bytes(path).c_str(), O_RDONLY, 0, kOpenRegular | kOpenDirectories);
  if (fd < 0) return MapErrno(errno, kErrOpenFailed);
  ResultCode result = fsync(fd) == 0 ? kOk : MapErrno(errno, kErrWriteFault);
  close(fd);
  return result;
}

ResultCode GetUserFolder(UserFolder folder, int createFlag, std::wstring* out) {
  if (out == nullptr) return kErrInvalidArgument;
  out->clear();
  ResultCode result = kOk;
  switch (folder) {
    case UserFolder::kCommonFiles: *out = L"/usr/local/share"; break;
    case UserFolder::kWindows: *out = L"/"; break;
    case UserFolder::kSystem: *out = L"/usr/lib"; break;
    case UserFolder::kAppData: result = XdgFolder("XDG_CONFIG_HOME", ".config", out); break;
    case UserFolder::kLocalAppData: result = XdgFolder("XDG_DATA_HOME", ".local/share", out); break;
    case UserFolder::kCommonAppData: *out = L"/var/lib"; break;
    case UserFolder::kDefaultAppData: *out = L"/etc/skel/.config"; break;
    case UserFolder::kDefaultLocalAppData: *out = L"/etc/skel/.local/share"; break;
    default: return kErrInvalidArgument;
  }
  if (result == kOk && createFlag != 0) {
    // Only the last level is created, as the shell creates the folder itself.
    std::string bytes = Bytes(out->c_str());
    if (mkdir(bytes.c_str(), 0700) != 0 && errno != EEXIST) result = MapErrno(errno, kErrFailed);
  }
  if (result != kOk) out->clear();
  return result;
}

ResultCode MapErrnoNotFound(int err, ResultCode fallback, ResultCode notFound) {
  return err == ENOENT ? notFound : MapErrno(err, fallback);
}

ResultCode MapErrno(int err, ResultCode fallback) {
  switch (err) {
    case 0: return kOk;
    case ENOENT: return kErrFileNotFound;
    case ENOTDIR: return kErrPathNotFound;
    case ENOMEM: case EFAULT: return kErrNoMemory;
    case EACCES: case EPERM: case EROFS: case EISDIR: return kErrAccessDenied;
    case EEXIST: case ENOTEMPTY: return kErrAlreadyExists;
    case ENOSPC: case EDQUOT: case EFBIG: return kErrDiskFull;
    case ENAMETOOLONG: case ELOOP: return kErrInvalidName;
    case EBADF: return kErrInvalidHandle;
    case EINVAL: return kErrInvalidArgument;
    case EBUSY: case ETXTBSY: return kErrSharingViolation;
    case ENOSYS: case ENOTSUP: return kErrNotSupported;
    case ENXIO: case ENODEV: return kErrDeviceNotReady;
    case ETIMEDOUT: return kTimeOut;
    case ECONNRESET: case ECONNABORTED: return kConnectionBroken;
    case ECONNREFUSED: case EHOSTUNREACH: case ENETUNREACH: return kErrCannotConnect;
    default: return fallback;
  }
}

int LastSystemError() { return errno; }
