// Mapped file windows through mmap of the stream's descriptor.
#include "platform/mapped_file.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/fs.h"

struct MappedFile {
  int fd;
  uint64_t size;
};

ResultCode MappedFileOpen(FILE* stream, MappedFile** file, uint64_t* size) {
  if (stream == nullptr || file == nullptr || size == nullptr) return kErrInvalidArgument;
  *file = nullptr;
  *size = 0;
  const int fd = ::fileno(stream);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) return MapErrno(errno, kErrReadFault);
  if (!S_ISREG(info.st_mode)) return kErrReadFault;
  auto* handle = new (std::nothrow) MappedFile{fd, static_cast<uint64_t>(info.st_size)};
  if (handle == nullptr) return kErrNoMemory;
  *file = handle;
  *size = handle->size;
  return kOk;
}

ResultCode MappedFileMap(MappedFile* file, uint64_t offset, size_t length, MappedView* view) {
  if (file == nullptr || view == nullptr) return kErrInvalidArgument;
  MappedFileUnmap(view);
  if (offset >= file->size || length == 0) return kOk;
  if (length > file->size - offset) length = static_cast<size_t>(file->size - offset);
  const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  const uint64_t start = offset - offset % page;
  const size_t span = static_cast<size_t>(offset - start) + length;
  // Populating at once costs one call instead of a fault per few pages.
  void* base = ::mmap(nullptr, span, PROT_READ, MAP_PRIVATE | MAP_POPULATE, file->fd,
                      static_cast<off_t>(start));
  if (base == MAP_FAILED) return kErrReadFault;
  ::madvise(base, span, MADV_SEQUENTIAL);
  view->base = base;
  view->baseLength = span;
  view->bytes = static_cast<const char*>(base) + (offset - start);
  view->length = length;
  return kOk;
}

void MappedFileUnmap(MappedView* view) {
  if (view == nullptr) return;
  if (view->base != nullptr) ::munmap(view->base, view->baseLength);
  *view = MappedView{};
}

void MappedFileClose(MappedFile* file) { delete file; }
