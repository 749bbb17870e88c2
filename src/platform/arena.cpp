// Arena: blocks are carved from chunks; freed blocks go to a free list per
// power-of-two size class and are reused. Large blocks get their own chunk.
// Chunks come from the arena's own heap where the system has private heaps.
#include "platform/arena.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#include "platform/heap_memory.h"

namespace {

constexpr size_t kAlignment = 16;
constexpr size_t kChunkSize = 64 * 1024;
constexpr int kClassCount = 13;  // 16 bytes .. 64 KiB
constexpr size_t kLargestClass = size_t{16} << (kClassCount - 1);

struct Chunk {
  Chunk* next;
  Chunk* previous;
  size_t size;
  size_t pad;
};

// In front of every block; a large block points at its own chunk.
struct BlockHeader {
  uint32_t sizeClass;  // kClassCount for a large block
  uint32_t magic;
  Chunk* ownChunk;
};

struct FreeBlock {
  FreeBlock* next;
};

constexpr uint32_t kBlockMagic = 0x6b6c6261;  // "ablk"
constexpr uint32_t kFreedMagic = 0x65657266;  // "free": a second free is refused
static_assert(sizeof(BlockHeader) == kAlignment, "header keeps blocks aligned");
static_assert(sizeof(Chunk) % kAlignment == 0, "chunk header keeps blocks aligned");

int ClassOf(size_t size) {
  int sizeClass = 0;
  size_t capacity = 16;
  while (capacity < size) {
    capacity <<= 1;
    ++sizeClass;
  }
  return sizeClass;
}

size_t ClassSize(int sizeClass) { return size_t{16} << sizeClass; }

}  // namespace

struct Arena {
  HeapMemory* heap;  // where the chunks come from (null: the C library)
  Chunk* chunks;     // every chunk, small and large
  char* cursor;      // free space of the current small chunk
  char* limit;
  FreeBlock* freeLists[kClassCount];
};

namespace {

Chunk* NewChunk(Arena* arena, size_t payload) {
  void* memory = HeapMemoryAlloc(arena->heap, sizeof(Chunk) + payload);
  if (memory == nullptr) return nullptr;
  Chunk* chunk = static_cast<Chunk*>(memory);
  chunk->size = payload;
  chunk->previous = nullptr;
  chunk->next = arena->chunks;
  if (arena->chunks != nullptr) arena->chunks->previous = chunk;
  arena->chunks = chunk;
  return chunk;
}

void* AllocLarge(Arena* arena, size_t size) {
  Chunk* chunk = NewChunk(arena, sizeof(BlockHeader) + size);
  if (chunk == nullptr) return nullptr;
  BlockHeader* header = reinterpret_cast<BlockHeader*>(chunk + 1);
  header->sizeClass = kClassCount;
  header->magic = kBlockMagic;
  header->ownChunk = chunk;
  return header + 1;
}

}  // namespace

Arena* ArenaCreate() {
  Arena* arena = static_cast<Arena*>(std::calloc(1, sizeof(Arena)));
  if (arena != nullptr) arena->heap = HeapMemoryCreate();
  return arena;
}

void ArenaDestroy(Arena* arena) {
  if (arena == nullptr) return;
  if (arena->heap != nullptr) {
    HeapMemoryDestroy(arena->heap);  // every chunk at once
  } else {
    Chunk* chunk = arena->chunks;
    while (chunk != nullptr) {
      Chunk* next = chunk->next;
      HeapMemoryFree(nullptr, chunk);
      chunk = next;
    }
  }
  std::free(arena);
}

void* ArenaAlloc(Arena* arena, size_t size) {
  if (arena == nullptr) return nullptr;
  if (size == 0) size = 1;
  if (size > kLargestClass) return AllocLarge(arena, size);
  int sizeClass = ClassOf(size);
  if (FreeBlock* block = arena->freeLists[sizeClass]) {
    arena->freeLists[sizeClass] = block->next;
    (reinterpret_cast<BlockHeader*>(block) - 1)->magic = kBlockMagic;
    return block;
  }
  size_t needed = sizeof(BlockHeader) + ClassSize(sizeClass);
  if (arena->cursor == nullptr || static_cast<size_t>(arena->limit - arena->cursor) < needed) {
    size_t payload = needed > kChunkSize ? needed : kChunkSize;
    Chunk* chunk = NewChunk(arena, payload);
    if (chunk == nullptr) return nullptr;
    arena->cursor = reinterpret_cast<char*>(chunk + 1);
    arena->limit = arena->cursor + payload;
  }
  BlockHeader* header = reinterpret_cast<BlockHeader*>(arena->cursor);
  arena->cursor += needed;
  header->sizeClass = static_cast<uint32_t>(sizeClass);
  header->magic = kBlockMagic;
  header->ownChunk = nullptr;
  return header + 1;
}

ResultCode ArenaFree(Arena* arena, void* block) {
  if (arena == nullptr || block == nullptr) return kErrInvalidArgument;
  BlockHeader* header = static_cast<BlockHeader*>(block) - 1;
  if (header->magic != kBlockMagic) return kErrFailed;
  if (header->sizeClass == kClassCount) {
    Chunk* chunk = header->ownChunk;
    if (chunk->previous != nullptr) chunk->previous->next = chunk->next;
    else arena->chunks = chunk->next;
    if (chunk->next != nullptr) chunk->next->previous = chunk->previous;
    header->magic = 0;
    HeapMemoryFree(arena->heap, chunk);
    return kOk;
  }
  if (header->sizeClass >= kClassCount) return kErrFailed;
  FreeBlock* freed = static_cast<FreeBlock*>(block);
  header->magic = kFreedMagic;
  freed->next = arena->freeLists[header->sizeClass];
  arena->freeLists[header->sizeClass] = freed;
  return kOk;
}
