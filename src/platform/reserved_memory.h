// Reserved address ranges whose pages are committed on first touch, and the
// mutex that guards shared tables.
#pragma once

#include <cstddef>

#include "platform/types.h"

// Size of one memory page.
size_t MemoryPageSize();

// Reserves size bytes (a multiple of the page size) without committing them;
// pages become usable read/write memory when first touched. kErrNoMemory when
// the range cannot be reserved.
ResultCode ReserveMemory(size_t size, void** base);

// Commits the pages of [address, address + size) at once (page-aligned), as a
// first touch would one by one. kErrNoMemory when the system refuses; where
// committing ahead is not supported, kOk (pages then come on first touch).
ResultCode CommitMemory(void* address, size_t size);

// Gives the pages of [address, address + size) back to the system; the range
// stays reserved and reads as zeros when touched again. Both must be
// page-aligned.
ResultCode DecommitMemory(void* address, size_t size);

// Releases a range given by ReserveMemory (null ignored).
void ReleaseMemory(void* base, size_t size);

// A non-recursive mutex (a critical section on Windows).
struct PlatformMutex;

// A new mutex, or nullptr when memory is exhausted.
PlatformMutex* MutexCreate();
void MutexLock(PlatformMutex* mutex);
void MutexUnlock(PlatformMutex* mutex);
// Destroys the mutex (null ignored).
void MutexDestroy(PlatformMutex* mutex);
