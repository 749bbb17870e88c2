// Reserved memory through VirtualAlloc: a range is reserved, and a vectored
// exception handler commits a page of a known range when it is first touched,
// so that memory is used as it is written. Critical sections as mutexes.
#include "platform/reserved_memory.h"

#include <windows.h>

#include <new>

namespace {

struct ReservedRange {
  char* base;
  size_t size;
};

constexpr int kMaxRanges = 256;

// Ranges in use; the handler reads them under the shared lock.
SRWLOCK gRangesLock = SRWLOCK_INIT;
ReservedRange gRanges[kMaxRanges];
int gRangeCount = 0;
void* gHandler = nullptr;

bool InRange(const char* address) {
  AcquireSRWLockShared(&gRangesLock);
  bool found = false;
  for (int i = 0; i < gRangeCount && !found; ++i) {
    found = address >= gRanges[i].base && address < gRanges[i].base + gRanges[i].size;
  }
  ReleaseSRWLockShared(&gRangesLock);
  return found;
}

LONG CALLBACK CommitOnTouch(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record->NumberParameters < 2) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  char* address = reinterpret_cast<char*>(record->ExceptionInformation[1]);
  if (!InRange(address)) return EXCEPTION_CONTINUE_SEARCH;
  const size_t page = MemoryPageSize();
  char* start = reinterpret_cast<char*>(reinterpret_cast<uintptr_t>(address) & ~(page - 1));
  if (VirtualAlloc(start, page, MEM_COMMIT, PAGE_READWRITE) == nullptr) {
    return EXCEPTION_CONTINUE_SEARCH;  // out of memory: the fault stands
  }
  return EXCEPTION_CONTINUE_EXECUTION;
}

bool Register(char* base, size_t size) {
  AcquireSRWLockExclusive(&gRangesLock);
  bool added = gRangeCount < kMaxRanges;
  if (added) gRanges[gRangeCount++] = ReservedRange{base, size};
  if (added && gHandler == nullptr) gHandler = AddVectoredExceptionHandler(1, CommitOnTouch);
  ReleaseSRWLockExclusive(&gRangesLock);
  return added;
}

void Unregister(const char* base) {
  AcquireSRWLockExclusive(&gRangesLock);
  for (int i = 0; i < gRangeCount; ++i) {
    if (gRanges[i].base == base) {
      gRanges[i] = gRanges[--gRangeCount];
      break;
    }
  }
  ReleaseSRWLockExclusive(&gRangesLock);
}

}  // namespace

size_t MemoryPageSize() {
  static const size_t size = [] {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize > 0 ? static_cast<size_t>(info.dwPageSize) : static_cast<size_t>(4096);
  }();
  return size;
}

ResultCode ReserveMemory(size_t size, void** base) {
  if (base == nullptr || size == 0) return kErrInvalidArgument;
  *base = nullptr;
  void* address = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_READWRITE);
  if (address == nullptr) return kErrNoMemory;
  if (!Register(static_cast<char*>(address), size)) {
    // No room to watch the range: commit it whole instead.
    if (VirtualAlloc(address, size, MEM_COMMIT, PAGE_READWRITE) == nullptr) {
      VirtualFree(address, 0, MEM_RELEASE);
      return kErrNoMemory;
    }
  }
  *base = address;
  return kOk;
}

ResultCode CommitMemory(void* address, size_t size) {
  if (size == 0) return kOk;
  return VirtualAlloc(address, size, MEM_COMMIT, PAGE_READWRITE) != nullptr ? kOk : kErrNoMemory;
}

ResultCode DecommitMemory(void* address, size_t size) {
  if (size == 0) return kOk;
  return VirtualFree(address, size, MEM_DECOMMIT) ? kOk : kErrFailed;
}

void ReleaseMemory(void* base, size_t size) {
  if (base == nullptr || size == 0) return;
  Unregister(static_cast<char*>(base));
  VirtualFree(base, 0, MEM_RELEASE);
}

struct PlatformMutex {
  CRITICAL_SECTION section;
};

PlatformMutex* MutexCreate() {
  auto* mutex = new (std::nothrow) PlatformMutex;
  if (mutex == nullptr) return nullptr;
  InitializeCriticalSection(&mutex->section);
  return mutex;
}

void MutexLock(PlatformMutex* mutex) { EnterCriticalSection(&mutex->section); }
void MutexUnlock(PlatformMutex* mutex) { LeaveCriticalSection(&mutex->section); }

void MutexDestroy(PlatformMutex* mutex) {
  if (mutex == nullptr) return;
  DeleteCriticalSection(&mutex->section);
  delete mutex;
}
