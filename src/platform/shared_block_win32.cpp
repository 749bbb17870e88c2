// Named shared memory blocks: page-file backed mappings. The system removes
// the name with the last handle, so nothing is left behind at exit.
#include "platform/shared_block.h"

#include <windows.h>

#include <cstdint>
#include <new>

struct SharedBlock {
  HANDLE mapping;
  void* view;
};

ResultCode SharedBlockOpen(const wchar_t* name, size_t size, SharedBlock** block, void** view,
                           bool* existed) {
  *block = nullptr;
  *view = nullptr;
  *existed = false;
  if (name == nullptr || size == 0) return kErrNoMemory;
  const uint64_t bytes = size;
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                      static_cast<DWORD>(bytes >> 32), static_cast<DWORD>(bytes), name);
  if (mapping == nullptr) return kErrNoMemory;
  const bool opened = GetLastError() == ERROR_ALREADY_EXISTS;
  void* mapped = MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, size);
  SharedBlock* result = mapped != nullptr ? new (std::nothrow) SharedBlock{mapping, mapped} : nullptr;
  if (result == nullptr) {
    if (mapped != nullptr) UnmapViewOfFile(mapped);
    CloseHandle(mapping);
    return kErrNoMemory;
  }
  *existed = opened;
  *block = result;
  *view = mapped;
  return kOk;
}

void SharedBlockClose(SharedBlock* block) {
  if (block == nullptr) return;
  UnmapViewOfFile(block->view);
  CloseHandle(block->mapping);
  delete block;
}

// The name goes with the process's handles; nothing to do before exit.
void SharedBlockUnlinkForExit(const SharedBlock*) {}
