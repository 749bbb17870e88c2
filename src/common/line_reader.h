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
