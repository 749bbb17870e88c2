// Streams over POSIX files. Text mode is a cookie stream that turns "\n" into
// "\r\n" when writing and drops the CR of a CR LF when reading.
#include "platform/stream.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/open_posix.h"
#include "platform/text.h"

namespace {

constexpr size_t kTextBufferSize = 65536;

struct TextCookie {
  int fd = -1;
  bool reading = false;
  size_t rawPos = 0;
  size_t rawEnd = 0;
  bool rawEof = false;
  char raw[kTextBufferSize];
};

// Cookie streams have no file descriptor of their own; FlushStreamToDisk finds
// it here.
std::mutex gRegistryLock;
std::vector<std::pair<FILE*, TextCookie*>> gRegistry;

int thread_local gLastError = 0;

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t done = ::write(fd, data, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

ssize_t TextWrite(void* cookie, const char* data, size_t size) {
  auto* text = static_cast<TextCookie*>(cookie);
  char* out = text->raw;
  size_t used = 0;
  size_t at = 0;
  while (at < size) {
    // Copies up to the next LF (or what fits), then writes it as CR LF.
    const void* found = memchr(data + at, '\n', size - at);
    const size_t run = (found != nullptr ? static_cast<size_t>(static_cast<const char*>(found) - data)
                                         : size) - at;
    const size_t room = kTextBufferSize - used - 2;
    const size_t take = run < room ? run : room;
    memcpy(out + used, data + at, take);
    used += take;
    at += take;
    if (take == run && found != nullptr) {
      out[used++] = '\r';
      out[used++] = '\n';
      ++at;
    }
    if (used + 2 >= kTextBufferSize) {
      if (!WriteAll(text->fd, out, used)) return -1;
      used = 0;
    }
  }
  if (used > 0 && !WriteAll(text->fd, out, used)) return -1;
  return static_cast<ssize_t>(size);
}

// Refills the raw buffer; false at end of file or on error (errno kept).
bool Refill(TextCookie* text, bool* failed) {
  if (text->rawEof) return false;
  for (;;) {
    ssize_t got = ::read(text->fd, text->raw, kTextBufferSize);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *failed = true;
      return false;
    }
    if (got == 0) {
      text->rawEof = true;
      return false;
    }
    text->rawPos = 0;
    text->rawEnd = static_cast<size_t>(got);
    return true;
  }
}

ssize_t TextRead(void* cookie, char* data, size_t size) {
  auto* text = static_cast<TextCookie*>(cookie);
  size_t out = 0;
  bool failed = false;
  while (out < size) {
    if (text->rawPos == text->rawEnd && !Refill(text, &failed)) break;
    char c = text->raw[text->rawPos++];
    if (c == '\r') {
      if (text->rawPos == text->rawEnd && !Refill(text, &failed)) {
        if (failed) break;
        data[out++] = c;  // a CR at the very end stays
        break;
      }
      if (text->raw[text->rawPos] == '\n') continue;  // CR LF -> LF
    }
    data[out++] = c;
  }
  if (failed && out == 0) return -1;
  return static_cast<ssize_t>(out);
}

int TextSeek(void* cookie, off64_t* offset, int whence) {
  auto* text = static_cast<TextCookie*>(cookie);
  if (text->reading) {
    // Only rewinding is meaningful on translated input.
    if (*offset != 0 || whence == SEEK_CUR) {
      if (whence == SEEK_CUR && *offset == 0) {
        off64_t pos = ::lseek64(text->fd, 0, SEEK_CUR);
        if (pos < 0) return -1;
        *offset = pos - static_cast<off64_t>(text->rawEnd - text->rawPos);
        return 0;
      }
      errno = EINVAL;
      return -1;
    }
    text->rawPos = text->rawEnd = 0;
    text->rawEof = false;
  }
  off64_t pos = ::lseek64(text->fd, *offset, whence);
  if (pos < 0) return -1;
  *offset = pos;
  return 0;
}

int TextClose(void* cookie) {
  auto* text = static_cast<TextCookie*>(cookie);
  {
    std::lock_guard<std::mutex> guard(gRegistryLock);
    for (size_t i = 0; i < gRegistry.size(); ++i) {
      if (gRegistry[i].second == text) {
        gRegistry.erase(gRegistry.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
  }
  int rc = ::close(text->fd);
  delete text;
  return rc;
}

// Input comes from a regular file (a directory opens as fopen opens it, and
// its reads fail); output may also go to a character device such as
// /dev/null. Nothing waits on a FIFO.
int OpenStreamFile(const char* path, char kind) {
  int flags = O_RDONLY;
  if (kind == 'w') flags = O_WRONLY | O_CREAT | O_TRUNC;
  else if (kind == 'a') flags = O_WRONLY | O_CREAT | O_APPEND;
  return OpenNoWait(path, flags, 0666,
                    kind == 'r' ? kOpenRegular | kOpenDirectories : kOpenRegular | kOpenDevices);
}

FILE* OpenBinaryStream(const char* path, char kind) {
  int fd = OpenStreamFile(path, kind);
  if (fd < 0) return nullptr;
  char mode[3] = {kind, 'b', 0};
  FILE* stream = ::fdopen(fd, mode);
  if (stream == nullptr) {
    int saved = errno;
    ::close(fd);
    errno = saved;
  }
  return stream;
}

FILE* OpenTextStream(const char* path, char kind) {
  int fd = OpenStreamFile(path, kind);
  if (fd < 0) return nullptr;
  auto* text = new (std::nothrow) TextCookie;
  if (text == nullptr) {
    ::close(fd);
    errno = ENOMEM;
    return nullptr;
  }
  text->fd = fd;
  text->reading = (kind == 'r');
  cookie_io_functions_t io = {};
  if (text->reading) io.read = TextRead;
  else io.write = TextWrite;
  io.seek = TextSeek;
  io.close = TextClose;
  FILE* stream = ::fopencookie(text, text->reading ? "r" : (kind == 'w' ? "w" : "a"), io);
  if (stream == nullptr) {
    int saved = errno;
    ::close(fd);
    delete text;
    errno = saved;
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(gRegistryLock);
  gRegistry.emplace_back(stream, text);
  return stream;
}

int DescriptorOf(FILE* stream) {
  {
    std::lock_guard<std::mutex> guard(gRegistryLock);
    for (const auto& entry : gRegistry) {
      if (entry.first == stream) return entry.second->fd;
    }
  }
  return ::fileno(stream);
}

}  // namespace

FILE* OpenStream(const wchar_t* path, const char* mode) {
  if (path == nullptr || mode == nullptr || mode[0] == 0) {
    gLastError = errno = EINVAL;
    return nullptr;
  }
  std::string bytes = WideToMultibyte(path);
  char kind = mode[0];
  if (kind != 'r' && kind != 'w' && kind != 'a') {
    gLastError = errno = EINVAL;
    return nullptr;
  }
  FILE* stream = nullptr;
  if (strchr(mode, 't') != nullptr) {
    stream = OpenTextStream(bytes.c_str(), kind);
  } else {
    stream = OpenBinaryStream(bytes.c_str(), kind);
  }
  if (stream == nullptr) gLastError = errno;
  return stream;
}

int StreamLastError() { return gLastError != 0 ? gLastError : errno; }

ResultCode FlushStreamToDisk(FILE* stream) {
  if (stream == nullptr) return kErrInvalidArgument;
  if (::fflush(stream) != 0) {
    gLastError = errno;
    return kErrWriteFault;
  }
  int fd = DescriptorOf(stream);
  if (fd >= 0 && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
    gLastError = errno;
    return kErrWriteFault;
  }
  return kOk;
}

ResultCode SeekStream(FILE* stream, uint64_t offset) {
  if (stream == nullptr) return kErrInvalidArgument;
  if (::fseeko64(stream, static_cast<off64_t>(offset), SEEK_SET) != 0) {
    gLastError = errno;
    return kErrReadFault;
  }
  return kOk;
}

int64_t TellStream(FILE* stream) {
  if (stream == nullptr) return -1;
  return static_cast<int64_t>(::ftello64(stream));
}

ResultCode ReadStreamAt(FILE* stream, uint64_t offset, void* buffer, size_t size, size_t* got) {
  if (stream == nullptr || got == nullptr || (buffer == nullptr && size != 0)) {
    return kErrInvalidArgument;
  }
  *got = 0;
  const int fd = fileno(stream);
  if (fd < 0) return kErrInvalidArgument;
  auto* bytes = static_cast<char*>(buffer);
  while (*got < size) {
    const ssize_t done = ::pread(fd, bytes + *got, size - *got, static_cast<off_t>(offset + *got));
    if (done < 0) {
      if (errno == EINTR) continue;
      gLastError = errno;
      return kErrReadFault;
    }
    if (done == 0) break;
    *got += static_cast<size_t>(done);
  }
  return kOk;
}
