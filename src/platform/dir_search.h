// Directory search: the entries of one directory whose names match a wildcard
// mask ('*', '?', without regard to case).
#pragma once

#include <cstdint>

#include "platform/types.h"

constexpr uint32_t kDirSearchNameCapacity = 260;

struct DirSearchEntry {
  bool isDirectory = false;
  bool isSpecial = false;  // neither a directory nor a regular file (a FIFO, a device)
  bool readOnly = false;
  uint64_t size = 0;
  TimeValue accessTime = 0, writeTime = 0, createTime = 0;  // UTC
  wchar_t name[kDirSearchNameCapacity] = {};
};

struct DirSearch;

// Starts a search in directory (empty: the current one) for mask. kOk with the
// first entry; kErrFileNotFound when nothing matches; kErrPathNotFound when the
// directory is missing; kErrAccessDenied; kErrNoMemory.
ResultCode DirSearchFirst(const wchar_t* directory, const wchar_t* mask, DirSearch** out,
                          DirSearchEntry* entry);
// kOk with the next entry, kErrNoMoreEntries at the end.
ResultCode DirSearchNext(DirSearch* search, DirSearchEntry* entry);
void DirSearchClose(DirSearch* search);
