// Mapped file windows through a read-only section of the stream's handle.
#include "platform/mapped_file.h"

#include <windows.h>
#include <io.h>

#include <new>

#include "platform/fs.h"

struct MappedFile {
  HANDLE mapping;  // null for an empty file, which cannot be mapped
  uint64_t size;
};

ResultCode MappedFileOpen(FILE* stream, MappedFile** file, uint64_t* size) {
  if (stream == nullptr || file == nullptr || size == nullptr) return kErrInvalidArgument;
  *file = nullptr;
  *size = 0;
  const intptr_t os = _get_osfhandle(_fileno(stream));
  HANDLE handle = reinterpret_cast<HANDLE>(os);
  if (os == -1 || handle == INVALID_HANDLE_VALUE) return kErrReadFault;
  if (GetFileType(handle) != FILE_TYPE_DISK) return kErrReadFault;
  LARGE_INTEGER length{};
  if (!GetFileSizeEx(handle, &length)) return MapWinError(GetLastError(), kErrReadFault);
  HANDLE mapping = nullptr;
  if (length.QuadPart > 0) {
    // The section is fixed at today's length; bytes appended later stay unread.
    mapping = CreateFileMappingW(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping == nullptr) return MapWinError(GetLastError(), kErrReadFault);
  }
  auto* handleRecord = new (std::nothrow) MappedFile{mapping, static_cast<uint64_t>(length.QuadPart)};
  if (handleRecord == nullptr) {
    if (mapping != nullptr) CloseHandle(mapping);
    return kErrNoMemory;
  }
  *file = handleRecord;
  *size = handleRecord->size;
  return kOk;
}

ResultCode MappedFileMap(MappedFile* file, uint64_t offset, size_t length, MappedView* view) {
  if (file == nullptr || view == nullptr) return kErrInvalidArgument;
  MappedFileUnmap(view);
  if (offset >= file->size || length == 0 || file->mapping == nullptr) return kOk;
  if (length > file->size - offset) length = static_cast<size_t>(file->size - offset);
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const uint64_t granularity = system.dwAllocationGranularity;
  const uint64_t start = offset - offset % granularity;
  const size_t span = static_cast<size_t>(offset - start) + length;
  void* base = MapViewOfFile(file->mapping, FILE_MAP_READ, static_cast<DWORD>(start >> 32),
                             static_cast<DWORD>(start & 0xffffffffu), span);
  if (base == nullptr) return kErrReadFault;
  view->base = base;
  view->baseLength = span;
  view->bytes = static_cast<const char*>(base) + (offset - start);
  view->length = length;
  return kOk;
}

void MappedFileUnmap(MappedView* view) {
  if (view == nullptr) return;
  if (view->base != nullptr) UnmapViewOfFile(view->base);
  *view = MappedView{};
}

// A view keeps its section alive, so closing the handle leaves views valid.
void MappedFileClose(MappedFile* file) {
  if (file == nullptr) return;
  if (file->mapping != nullptr) CloseHandle(file->mapping);
  delete file;
}
