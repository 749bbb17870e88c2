// Arena chunks on POSIX come from the C library's heap; the arena frees each
// of them when it is destroyed.
#include "platform/heap_memory.h"

#include <cstdlib>

HeapMemory* HeapMemoryCreate() { return nullptr; }

void* HeapMemoryAlloc(HeapMemory*, size_t size) { return std::malloc(size); }

void HeapMemoryFree(HeapMemory*, void* chunk) { std::free(chunk); }

void HeapMemoryDestroy(HeapMemory*) {}
