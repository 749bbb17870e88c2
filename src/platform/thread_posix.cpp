#include "platform/thread.h"

#include <pthread.h>
#include <sched.h>

#include <new>

namespace {

struct StartBlock {
  PlatformThreadFn fn;
  void* argument;
};

void* ThreadEntry(void* raw) {
  const StartBlock block = *static_cast<StartBlock*>(raw);
  delete static_cast<StartBlock*>(raw);
  block.fn(block.argument);
  return nullptr;
}

}  // namespace

ResultCode PlatformThreadStart(PlatformThread* thread, PlatformThreadFn fn, void* argument) {
  StartBlock* block = new (std::nothrow) StartBlock{fn, argument};
  pthread_t* id = new (std::nothrow) pthread_t;
  if (block == nullptr || id == nullptr || pthread_create(id, nullptr, ThreadEntry, block) != 0) {
    delete block;
    delete id;
    return kErrNoMemory;
  }
  thread->handle = id;
  return kOk;
}

void PlatformThreadJoin(PlatformThread* thread) {
  pthread_t* id = static_cast<pthread_t*>(thread->handle);
  if (id == nullptr) return;
  pthread_join(*id, nullptr);
  delete id;
  thread->handle = nullptr;
}

// The processors this process may run on, which a container or taskset may
// hold below the machine's count.
uint32_t PlatformProcessorCount() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count < 1 ? 1 : static_cast<uint32_t>(count);
}
