// Fast buffered reading of log lines from a stream opened "rb".
//
// Lines come in pieces exactly as fgets with a 32 768-byte buffer gives them:
// at most 32 767 bytes including the LF; a longer line comes as several pieces.
// Each piece is NUL-terminated in place, without its LF (a CR before the LF
// stays). No allocation per line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/mapped_file.h"
#include "platform/types.h"

constexpr size_t kLinePieceMax = 32767;

struct LinePiece {
  char* text = nullptr;   // valid until the next call
  size_t length = 0;      // bytes of text, without the LF
  uint64_t offset = 0;    // file offset where the piece starts
  uint64_t consumed = 0;  // file offset behind the piece (its LF included)
};

struct LineReader {
  FILE* file = nullptr;
  char* buffer = nullptr;
  size_t capacity = 0;     // bytes of buffer usable for data
  size_t begin = 0;        // next unread byte
  size_t end = 0;          // end of the data read
  uint64_t baseOffset = 0; // file offset of buffer[0]
  int atEnd = 0;
  int failed = 0;
  int heldValid = 0;       // a data byte overwritten by the terminator
  size_t heldIndex = 0;
  char heldByte = 0;
};

// The stream must stand at startOffset (the reader counts offsets from there).
ResultCode LineReaderInit(LineReader* reader, FILE* file, uint64_t startOffset);
// 1 a piece, 0 end of file, kErrReadFault on a read error.
int LineReaderNext(LineReader* reader, LinePiece* piece);
void LineReaderFree(LineReader* reader);

// Reads the line that starts at offset: seeks, reads up to 32 767 bytes and cuts
// at the first CR or LF. buffer gets the NUL-terminated text (capacity >= 1).
// kOk, kErrNotFound at end of file, kErrReadFault.
ResultCode ReadLineAt(FILE* file, uint64_t offset, char* buffer, size_t capacity,
                      size_t* length);

// A piece of a mapped file: read-only and not terminated.
struct LineView {
  const char* text = nullptr;  // valid until the next call
  size_t length = 0;           // bytes of text, without the LF
  uint64_t offset = 0;         // file offset where the piece starts
  uint64_t consumed = 0;       // file offset behind the piece (its LF included)
};

// The same pieces as LineReader gives, read through mapped windows of the
// file as long as it was when the reader started: no copy of the bytes.
struct MappedLineReader {
  MappedFile* file = nullptr;
  uint64_t size = 0;
  uint64_t cursor = 0;
  uint64_t viewStart = 0;
  size_t window = 0;
  MappedView view;
};

constexpr size_t kMappedWindow = size_t{8} << 20;

// The stream is opened "rb" and read from offset 0; windows of `window`
// bytes (at least 64 KiB) are mapped in turn. Failures of the mapping give
// their code.
ResultCode MappedLineReaderInit(MappedLineReader* reader, FILE* file,
                                size_t window = kMappedWindow);
// 1 a piece, 0 end of file, kErrReadFault when a window cannot be mapped.
int MappedLineReaderNext(MappedLineReader* reader, LineView* piece);
void MappedLineReaderFree(MappedLineReader* reader);
