// Named shared memory blocks through shm_open and mmap. Every handle holds a
// shared flock on the object, so a name that nobody holds (its holders
// crashed) is found stale and starts afresh, as a Windows object would have
// vanished with its last handle.
#include "platform/shared_block.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/text.h"

struct SharedBlock {
  char name[256];  // "/" + the block's name, kept for unlinking
  void* view;
  size_t size;
  int fd;  // open for its shared lock
  bool created;
};

namespace {

bool MakeObjectName(const wchar_t* name, char* out, size_t capacity) {
  const std::string text = WideToMultibyte(name);
  if (text.size() + 2 > capacity) return false;
  out[0] = '/';
  memcpy(out + 1, text.data(), text.size());
  out[text.size() + 1] = '\0';
  return true;
}

}  // namespace

ResultCode SharedBlockOpen(const wchar_t* name, size_t size, SharedBlock** block, void** view,
                           bool* existed) {
  *block = nullptr;
  *view = nullptr;
  *existed = false;
  SharedBlock* result = new SharedBlock{};
  if (!MakeObjectName(name, result->name, sizeof(result->name))) {
    delete result;
    return kErrNoMemory;
  }
  int fd = shm_open(result->name, O_RDWR | O_CREAT | O_EXCL, 0600);
  if (fd >= 0) {
    result->created = true;
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
      close(fd);
      shm_unlink(result->name);
      delete result;
      return kErrNoMemory;
    }
  } else if (errno == EEXIST) {
    fd = shm_open(result->name, O_RDWR, 0600);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) {
      // Nobody holds it: left by a crashed process; start it zero-filled.
      result->created = true;
      if (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
        close(fd);
        fd = -1;
      }
    } else {
      // The creator may not have sized it yet; the caller waits for its magic.
      struct stat info;
      if (fd >= 0 && fstat(fd, &info) == 0 && info.st_size < static_cast<off_t>(size) &&
          ftruncate(fd, static_cast<off_t>(size)) != 0) {
        close(fd);
        fd = -1;
      }
    }
  }
  if (fd < 0) {
    delete result;
    return kErrNoMemory;
  }
  void* mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (mapping == MAP_FAILED || flock(fd, LOCK_SH) != 0) {
    if (mapping != MAP_FAILED) munmap(mapping, size);
    close(fd);
    if (result->created) shm_unlink(result->name);
    delete result;
    return kErrNoMemory;
  }
  result->fd = fd;
  result->view = mapping;
  result->size = size;
  *existed = !result->created;
  *block = result;
  *view = mapping;
  return kOk;
}

void SharedBlockClose(SharedBlock* block) {
  if (block == nullptr) return;
  munmap(block->view, block->size);
  if (block->created) shm_unlink(block->name);
  close(block->fd);
  delete block;
}

void SharedBlockUnlinkForExit(const SharedBlock* block) {
  if (block != nullptr && block->created) shm_unlink(block->name);
}
