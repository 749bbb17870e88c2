// Mapped file windows through mmap of the stream's descriptor.
#include "platform/mapped_file.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/fs.h"

namespace {

// A file cut by another process while mapped would fault on its lost pages
// (SIGBUS). The live views are registered here; a fault inside one gets a
// zero page in place of the lost one, so the reader sees NUL bytes there
// instead of the run ending. Faults anywhere else go to the previous handler.
constexpr size_t kGuardSlots = 64;
std::atomic<uintptr_t> g_viewBegin[kGuardSlots];
std::atomic<uintptr_t> g_viewEnd[kGuardSlots];
struct sigaction g_previousBus;
std::atomic<bool> g_busInstalled{false};

bool InsideAView(uintptr_t address) {
  for (size_t i = 0; i < kGuardSlots; ++i) {
    const uintptr_t begin = g_viewBegin[i].load(std::memory_order_acquire);
    if (begin > 1 && address >= begin && address < g_viewEnd[i].load(std::memory_order_acquire)) return true;
  }
  return false;
}

void OnBusError(int signal, siginfo_t* info, void* context) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
  if (InsideAView(address)) {
    const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    void* at = reinterpret_cast<void*>(address - address % page);
    if (::mmap(at, page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) return;
  }
  if (g_previousBus.sa_flags & SA_SIGINFO) {
    g_previousBus.sa_sigaction(signal, info, context);
  } else if (g_previousBus.sa_handler != SIG_IGN && g_previousBus.sa_handler != SIG_DFL) {
    g_previousBus.sa_handler(signal);
  } else {
    // Default action: fault again without this handler.
    ::signal(SIGBUS, SIG_DFL);
  }
}

void InstallBusGuard() {
  if (g_busInstalled.exchange(true)) return;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, &g_previousBus);
}

// Registers a view: a slot is reserved (begin 1), given its end, then its
// begin. With every slot taken the view stays unguarded, as a plain mapping.
void GuardView(const void* base, size_t length) {
  const uintptr_t begin = reinterpret_cast<uintptr_t>(base);
  for (size_t i = 0; i < kGuardSlots; ++i) {
    uintptr_t expected = 0;
    if (g_viewBegin[i].compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
      g_viewEnd[i].store(begin + length, std::memory_order_release);
      g_viewBegin[i].store(begin, std::memory_order_release);
      return;
    }
  }
}

void UnguardView(const void* base) {
  const uintptr_t begin = reinterpret_cast<uintptr_t>(base);
  for (size_t i = 0; i < kGuardSlots; ++i) {
    uintptr_t expected = begin;
    if (g_viewBegin[i].compare_exchange_strong(expected, 0, std::memory_order_acq_rel)) return;
  }
}

}  // namespace

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
  InstallBusGuard();
  GuardView(base, span);
  view->base = base;
  view->baseLength = span;
  view->bytes = static_cast<const char*>(base) + (offset - start);
  view->length = length;
  return kOk;
}

void MappedFileUnmap(MappedView* view) {
  if (view == nullptr) return;
  if (view->base != nullptr) {
    UnguardView(view->base);
    ::munmap(view->base, view->baseLength);
  }
  *view = MappedView{};
}

void MappedFileClose(MappedFile* file) { delete file; }
