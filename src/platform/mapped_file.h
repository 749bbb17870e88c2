// Read-only windows of an open file mapped into memory, so that large logs are
// scanned without copying their bytes through read calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/types.h"

struct MappedFile;

// One mapped window: `bytes` is the byte at the requested offset, `length`
// the bytes readable from there. The rest is for MappedFileUnmap.
struct MappedView {
  const char* bytes = nullptr;
  size_t length = 0;
  void* base = nullptr;
  size_t baseLength = 0;
};

// A mapping handle for a stream opened "rb" on a regular file; the stream
// stays the caller's and must outlive the handle. *size is the file's length
// now. kErrInvalidArgument for null arguments, kErrNoMemory, or the mapped
// system error when the file cannot be mapped.
ResultCode MappedFileOpen(FILE* stream, MappedFile** file, uint64_t* size);

// Maps bytes [offset, offset + length) read-only, cut at the file's length
// as it was at open; an empty range gives an empty view and kOk. Any earlier
// view of *view is unmapped first. The pages are read ahead for a scan from
// front to back. kErrReadFault when the system refuses the mapping. Bytes
// that another process cuts from the file while it is mapped read as zero
// (where the system lets a file be cut at all), never as a fault.
ResultCode MappedFileMap(MappedFile* file, uint64_t offset, size_t length, MappedView* view);

// Unmaps a view (an empty one is ignored) and empties it.
void MappedFileUnmap(MappedView* view);

// Frees the handle (null ignored); views already mapped stay valid until unmapped.
void MappedFileClose(MappedFile* file);
