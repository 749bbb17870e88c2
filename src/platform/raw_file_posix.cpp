// The progress file: one short text rewritten at offset 0. Other processes
// read it through the page cache, so a report does not force it to disk.
#include "platform/raw_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <string>

#include "platform/fs.h"
#include "platform/open_posix.h"
#include "platform/text.h"

struct RawFile {
  int fd;
};


ResultCode RawFileCreate(const wchar_t* path, RawFile** out) {
  *out = nullptr;
  if (path == nullptr || path[0] == L'\0') return kErrInvalidArgument;
  std::string bytes = WideToMultibyte(path);
  int fd = OpenNoWait(bytes.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return MapErrno(errno, kErrCannotCreate);
  RawFile* file = new (std::nothrow) RawFile{fd};
  if (file == nullptr) {
    close(fd);
    return kErrNoMemory;
  }
  *out = file;
  return kOk;
}

ResultCode RawFileRewrite(RawFile* file, const char* bytes, size_t length) {
  if (file == nullptr) return kErrInvalidHandle;
  size_t done = 0;
  while (done < length) {
    ssize_t written = pwrite(file->fd, bytes + done, length - done, static_cast<off_t>(done));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return MapErrno(errno, kErrWriteFault);
    done += static_cast<size_t>(written);
  }
  // Cut behind the new text; a longer old text must not leave its tail.
  if (ftruncate(file->fd, static_cast<off_t>(length)) != 0) return MapErrno(errno, kErrWriteFault);
  return kOk;
}

void RawFileClose(RawFile* file) {
  if (file == nullptr) return;
  close(file->fd);
  delete file;
}

ResultCode RawFileDelete(const wchar_t* path) {
  if (path == nullptr) return kErrInvalidArgument;
  std::string bytes = WideToMultibyte(path);
  return unlink(bytes.c_str()) == 0 ? kOk : MapErrno(errno, kErrFailed);
}
