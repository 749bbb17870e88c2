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

// Whether the piece ends where its line does: its LF was read, or it fills a
// whole piece (the line goes on in the next one). Otherwise it is the end of
// a file whose last line has no line end (yet).
inline bool PieceIsWhole(const LinePiece& piece) {
  return piece.consumed > piece.offset + piece.length || piece.length >= kLinePieceMax;
}

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

// The same for a stream opened "rb", read with positioned reads of a few
// hundred bytes: no seek, and no stream buffer filled for one line.
ResultCode ReadLineAtDirect(FILE* file, uint64_t offset, char* buffer, size_t capacity,
                            size_t* length);

// A piece read by a BlockLineReader: read-only and not terminated.
struct LineView {
  const char* text = nullptr;  // valid as long as its block is (see below)
  size_t length = 0;           // bytes of text, without the LF
  uint64_t offset = 0;         // file offset where the piece starts
  uint64_t consumed = 0;       // file offset behind the piece (its LF included)
  uint64_t block = 0;          // number of the fill that brought the piece
};

inline bool PieceIsWhole(const LineView& piece) {
  return piece.consumed > piece.offset + piece.length || piece.length >= kLinePieceMax;
}

// The same pieces as LineReader gives, read with large positioned reads into
// two blocks in turn: a fill reads into the block that was not read last, so
// the pieces of one block stay valid while the pieces of the next come. A
// caller that holds pieces must let go of those of block n before it asks
// for a piece after the first one of block n + 1.
struct BlockLineReader {
  FILE* file = nullptr;
  char* blocks[2] = {nullptr, nullptr};
  size_t sizes[2] = {0, 0};  // bytes of each block: they start small and
                             // double up to `capacity` while the file goes on
  size_t capacity = 0;
  int current = 0;         // the block pieces come from
  size_t begin = 0;        // next unread byte of the current block
  size_t end = 0;          // end of the data in it
  uint64_t baseOffset = 0; // file offset of its first byte
  uint64_t fills = 0;
  bool atEnd = false;
};

constexpr size_t kBlockReaderSize = size_t{128} << 10;

// Reads the stream (opened "rb") from offset 0 in blocks of up to `size`
// bytes (at least 64 KiB); kErrNoMemory when the blocks cannot be had.
ResultCode BlockLineReaderInit(BlockLineReader* reader, FILE* file,
                               size_t size = kBlockReaderSize);

// The field separators of a piece, found in the pass that finds its end.
constexpr uint32_t kPieceSeparatorsMax = 16;
struct PieceFields {
  size_t length = 0;   // bytes of the piece before its first NUL (see nulSought)
  uint32_t count = 0;  // separators before that NUL, at most kPieceSeparatorsMax
  bool nulSought = false;  // false: length is the piece's, and a NUL may
                           // stand after the last separator found
  uint32_t at[kPieceSeparatorsMax];  // their offsets in the piece
};

// The next piece, with its first `wanted` separators (at most
// kPieceSeparatorsMax); once they are found the rest of the piece is only
// searched for its end. CompletePieceFields finds the rest. 1 a piece, 0 end
// of file, kErrReadFault on a read error.
int BlockLineReaderNextSplit(BlockLineReader* reader, char separator, uint32_t wanted,
                             LineView* piece, PieceFields* fields);

// Cuts the length at the first NUL and adds the separators after the first
// `fields->count` of them, up to kPieceSeparatorsMax, for a piece that
// BlockLineReaderNextSplit gave.
void CompletePieceFields(const char* text, char separator, PieceFields* fields);
void BlockLineReaderFree(BlockLineReader* reader);

// Words a caller looks for in a line, each as a whole field: a line holds one
// when the word's letters (ASCII case ignored) stand between a separator or a
// byte up to 32 on both sides. Lines without any are of no interest to it.
constexpr uint32_t kLineWordsMax = 8;
constexpr size_t kLineWordMax = 32;
struct LineWords {
  uint32_t count = 0;
  const char* words[kLineWordsMax];  // lower-case letters, 2 to kLineWordMax of them
};

// Passes over at most `limit` whole lines of the data read so far that hold
// none of the words, each a single piece (shorter than kLinePieceMax bytes
// before its LF), and returns their number: the next piece read is the one
// after them. Skips nothing where vector instructions are not available.
uint32_t BlockLineReaderSkip(BlockLineReader* reader, char separator, const LineWords& words,
                             uint32_t limit);
// Lets the skip use AVX2 where the processor has it (the default), or not,
// so that tests try the SSE2 scan too.
void BlockLineReaderAllowAvx2(bool allowed);
// The file offset of the next piece.
inline uint64_t BlockLineReaderPosition(const BlockLineReader& reader) {
  return reader.baseOffset + reader.begin;
}
