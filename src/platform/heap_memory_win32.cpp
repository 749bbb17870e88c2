// Arena chunks on Windows come from a private heap (HeapCreate) with the
// low-fragmentation option when the system offers it; destroying the heap
// releases every chunk at once.
#include "platform/heap_memory.h"

#include <windows.h>

#include <cstdlib>

namespace {

using SetInformationFn = BOOL(WINAPI*)(HANDLE, HEAP_INFORMATION_CLASS, PVOID, SIZE_T);

// HeapSetInformation is looked up at run time: older systems lack it.
void AskForLowFragmentation(HANDLE heap) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (kernel == nullptr) return;
  auto setInformation = reinterpret_cast<SetInformationFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "HeapSetInformation")));
  if (setInformation == nullptr) return;
  ULONG lowFragmentation = 2;
  setInformation(heap, HeapCompatibilityInformation, &lowFragmentation, sizeof lowFragmentation);
}

}  // namespace

HeapMemory* HeapMemoryCreate() {
  HANDLE heap = HeapCreate(0, 0, 0);
  if (heap != nullptr) AskForLowFragmentation(heap);
  return static_cast<HeapMemory*>(heap);
}

void* HeapMemoryAlloc(HeapMemory* heap, size_t size) {
  if (heap == nullptr) return std::malloc(size);
  return HeapAlloc(static_cast<HANDLE>(heap), 0, size);
}

void HeapMemoryFree(HeapMemory* heap, void* chunk) {
  if (heap == nullptr) {
    std::free(chunk);
    return;
  }
  HeapFree(static_cast<HANDLE>(heap), 0, chunk);
}

void HeapMemoryDestroy(HeapMemory* heap) {
  if (heap != nullptr) HeapDestroy(static_cast<HANDLE>(heap));
}

// The process heap keeps freed blocks on its own.
void HeapKeepFreedBlocks() {}
