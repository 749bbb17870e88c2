// Arena chunks on POSIX come from the C library's heap; the arena frees each
// of them when it is destroyed.
#include "platform/heap_memory.h"

#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

HeapMemory* HeapMemoryCreate() { return nullptr; }

void* HeapMemoryAlloc(HeapMemory*, size_t size) { return std::malloc(size); }

void HeapMemoryFree(HeapMemory*, void* chunk) { std::free(chunk); }

void HeapMemoryDestroy(HeapMemory*) {}

void HeapKeepFreedBlocks() {
#if defined(__GLIBC__)
  // Blocks up to the largest threshold glibc takes come from the heap, and
  // up to 256 MiB free at its top stay there.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
}
