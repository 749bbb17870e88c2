// Buffered file streams with the program's binary and text modes.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/types.h"

// Opens a stream. Modes: "rb", "wb", "ab" are binary; "wt" and "at" are text
// mode, where every "\n" written becomes "\r\n" on disk; "rt" reads text mode,
// accepting LF and CR LF line ends (a CR right before a LF is dropped).
// Returns null on failure with the reason kept for StreamLastError.
FILE* OpenStream(const wchar_t* path, const char* mode);

// System error number (as MapErrno reads it) of the last failed stream
// operation of this thread.
int StreamLastError();

// Moves to a byte offset from the start (64-bit). kErrReadFault on failure.
ResultCode SeekStream(FILE* stream, uint64_t offset);

// Reads up to `size` bytes at `offset` of a stream opened "rb", past its
// buffer and whatever its position: *got is short only at the end of the
// file. kErrReadFault when the system read fails, kErrInvalidArgument for
// null arguments or a stream without a file of its own.
ResultCode ReadStreamAt(FILE* stream, uint64_t offset, void* buffer, size_t size, size_t* got);

// Current byte offset, or -1 on failure.
int64_t TellStream(FILE* stream);

// Writes the stream's buffer and forces the file's data to the disk.
// kErrWriteFault when either step fails, kErrInvalidArgument for null.
ResultCode FlushStreamToDisk(FILE* stream);

// Next byte of a stream without taking its lock (the caller is the stream's
// only user), or EOF.
inline int StreamGetByte(FILE* stream) {
#if defined(_WIN32)
  return _getc_nolock(stream);
#else
  return getc_unlocked(stream);
#endif
}
