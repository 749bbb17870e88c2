// Reserved memory through mmap with MAP_NORESERVE (the kernel commits a page
// when it is first touched), tails released with madvise; pthread mutexes.
#include "platform/reserved_memory.h"

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <new>

size_t MemoryPageSize() {
  static const size_t size = [] {
    long page = sysconf(_SC_PAGESIZE);
    return page > 0 ? static_cast<size_t>(page) : static_cast<size_t>(4096);
  }();
  return size;
}

ResultCode ReserveMemory(size_t size, void** base) {
  if (base == nullptr || size == 0) return kErrInvalidArgument;
  void* address = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (address == MAP_FAILED) {
    *base = nullptr;
    return kErrNoMemory;
  }
  *base = address;
  return kOk;
}

ResultCode CommitMemory(void* address, size_t size) {
  if (size == 0) return kOk;
#ifdef MADV_POPULATE_WRITE
  if (madvise(address, size, MADV_POPULATE_WRITE) != 0) {
    // Older kernels do not know the advice: the pages come on first touch.
    return errno == EINVAL ? kOk : kErrNoMemory;
  }
#else
  (void)address;
#endif
  return kOk;
}

ResultCode DecommitMemory(void* address, size_t size) {
  if (size == 0) return kOk;
  return madvise(address, size, MADV_DONTNEED) == 0 ? kOk : kErrFailed;
}

void ReleaseMemory(void* base, size_t size) {
  if (base != nullptr && size != 0) munmap(base, size);
}

struct PlatformMutex {
  pthread_mutex_t mutex;
};

PlatformMutex* MutexCreate() {
  auto* mutex = new (std::nothrow) PlatformMutex;
  if (mutex == nullptr) return nullptr;
  if (pthread_mutex_init(&mutex->mutex, nullptr) != 0) {
    delete mutex;
    return nullptr;
  }
  return mutex;
}

void MutexLock(PlatformMutex* mutex) { pthread_mutex_lock(&mutex->mutex); }
void MutexUnlock(PlatformMutex* mutex) { pthread_mutex_unlock(&mutex->mutex); }

void MutexDestroy(PlatformMutex* mutex) {
  if (mutex == nullptr) return;
  pthread_mutex_destroy(&mutex->mutex);
  delete mutex;
}
