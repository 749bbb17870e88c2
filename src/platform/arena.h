// A private heap: blocks come from large chunks owned by the arena, so that
// destroying the arena releases every block at once. Single blocks may be
// freed early; their memory is reused for later blocks of a fitting size.
#pragma once

#include <cstddef>

#include "platform/types.h"

struct Arena;

// A new empty arena, or nullptr when memory is exhausted.
Arena* ArenaCreate();

// Releases the arena and every block taken from it.
void ArenaDestroy(Arena* arena);

// A block of at least size bytes aligned for any type, or nullptr.
void* ArenaAlloc(Arena* arena, size_t size);

// Returns one block to the arena for reuse. -14 for a missing block.
ResultCode ArenaFree(Arena* arena, void* block);
