#include "platform/thread.h"

#include <windows.h>
#include <process.h>

#include <new>

namespace {

struct StartBlock {
  PlatformThreadFn fn;
  void* argument;
};

unsigned __stdcall ThreadEntry(void* raw) {
  const StartBlock block = *static_cast<StartBlock*>(raw);
  delete static_cast<StartBlock*>(raw);
  block.fn(block.argument);
  return 0;
}

}  // namespace

ResultCode PlatformThreadStart(PlatformThread* thread, PlatformThreadFn fn, void* argument) {
  StartBlock* block = new (std::nothrow) StartBlock{fn, argument};
  if (block == nullptr) return kErrNoMemory;
  // _beginthreadex rather than CreateThread: the C runtime sets up its
  // per-thread state for threads it starts.
  const uintptr_t handle = _beginthreadex(nullptr, 0, ThreadEntry, block, 0, nullptr);
  if (handle == 0) {
    delete block;
    return kErrNoMemory;
  }
  thread->handle = reinterpret_cast<void*>(handle);
  return kOk;
}

void PlatformThreadJoin(PlatformThread* thread) {
  if (thread->handle == nullptr) return;
  WaitForSingleObject(static_cast<HANDLE>(thread->handle), INFINITE);
  CloseHandle(static_cast<HANDLE>(thread->handle));
  thread->handle = nullptr;
}

uint32_t PlatformProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors < 1 ? 1 : static_cast<uint32_t>(info.dwNumberOfProcessors);
}
