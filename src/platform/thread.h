// Worker threads. Mutexes and condition variables come from the standard
// library on both platforms (the MinGW toolchain is the posix one); starting a
// thread goes through the system call here, so that a failure is a result
// code rather than an exception.
#pragma once

#include <cstdint>

#include "platform/types.h"

struct PlatformThread {
  void* handle = nullptr;  // the system's thread object; null when not started
};

using PlatformThreadFn = void (*)(void* argument);

// Starts fn(argument) on a new thread. kErrNoMemory when the system refuses.
ResultCode PlatformThreadStart(PlatformThread* thread, PlatformThreadFn fn, void* argument);
// Waits for a started thread to end and releases it; nothing for one never
// started.
void PlatformThreadJoin(PlatformThread* thread);

// Processors the program may use; at least 1.
uint32_t PlatformProcessorCount();
