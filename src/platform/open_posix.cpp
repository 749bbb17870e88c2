#include "platform/open_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool KindAllowed(mode_t type, unsigned kinds) {
  if (S_ISREG(type)) return true;
  if (S_ISCHR(type)) return (kinds & kOpenDevices) != 0;
  if (S_ISDIR(type)) return (kinds & kOpenDirectories) != 0;
  return false;  // FIFOs, sockets, block devices
}

}  // namespace

int OpenNoWait(const char* path, int flags, mode_t mode, unsigned kinds) {
  int fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  struct stat info;
  const int error = ::fstat(fd, &info) != 0 ? errno : (KindAllowed(info.st_mode, kinds) ? 0 : ENXIO);
  if (error != 0) {
    ::close(fd);
    errno = error;
    return -1;
  }
  const int status = ::fcntl(fd, F_GETFL);
  if (status != -1) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  return fd;
}
