// The memory an arena's chunks come from: a private heap of the system where
// it has them (freed at once with the arena), else the C library's heap.
#pragma once

#include <cstddef>

struct HeapMemory;

// A new private heap; null where the system has none (chunks then come from
// the C library) or when it cannot be made.
HeapMemory* HeapMemoryCreate();

// A chunk of size bytes aligned for any type from the heap (null: the C
// library's heap), or nullptr.
void* HeapMemoryAlloc(HeapMemory* heap, size_t size);

// Returns a chunk to the heap it came from.
void HeapMemoryFree(HeapMemory* heap, void* chunk);

// Releases the heap and every chunk still in it (null ignored).
void HeapMemoryDestroy(HeapMemory* heap);

// Lets the C library's heap keep large freed blocks for the requests that
// follow instead of giving them back to the system at once: a run that builds
// and drops tables of the same sizes day after day then reuses their pages
// instead of faulting fresh ones in. Nothing where there is no such setting.
void HeapKeepFreedBlocks();
