// Enumeration of the files of a directory that match a wildcard mask.
#pragma once

#include <cstdint>

#include "platform/types.h"

constexpr uint32_t kFileInfoName = 0x01;
constexpr uint32_t kFileInfoMode = 0x02;
constexpr uint32_t kFileInfoAccessTime = 0x04;
constexpr uint32_t kFileInfoWriteTime = 0x08;
constexpr uint32_t kFileInfoCreateTime = 0x10;
constexpr uint32_t kFileInfoSize = 0x40;
constexpr uint32_t kFileInfoAll = 0x5F;  // what a mask of 0 asks for

constexpr uint32_t kFileModeDirectory = 0x4000;
constexpr uint32_t kFileModeRegular = 0x8000;  // a file; a FIFO or a device has neither bit
constexpr uint32_t kFileModeReadAll = 0x124;
constexpr uint32_t kFileModeWriteAll = 0x92;  // absent for read-only entries

constexpr uint32_t kFileInfoNameCapacity = 260;

struct FileInfo {
  uint32_t valid = 0;  // mask of the fields filled
  uint32_t mode = 0;
  TimeValue accessTime = 0, writeTime = 0, createTime = 0;  // UTC
  uint64_t size = 0;
  wchar_t name[kFileInfoNameCapacity] = {};  // without directory
};

struct DirEnum;

// path: directory plus a file mask with '*' and '?' (matched ignoring case).
// kErrFileNotFound when nothing matches, kErrPathNotFound for a missing
// directory; on failure nothing is given out. info may be null.
ResultCode DirEnumOpen(const wchar_t* path, uint32_t mask, DirEnum** handle, FileInfo* info);
// kOk and the next entry, kErrNoMoreEntries at the end, kErrInvalidHandle.
ResultCode DirEnumNext(DirEnum* handle, uint32_t mask, FileInfo* info);
// Closes the search and frees the handle.
ResultCode DirEnumClose(DirEnum* handle);
