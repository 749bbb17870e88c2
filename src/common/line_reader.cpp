// Buffered line reader: one large fread buffer, lines found with memchr and
// terminated in place.
#include "common/line_reader.h"

#include <cstdlib>
#include <cstring>

#include "platform/stream.h"

namespace {

constexpr size_t kReaderBufferSize = 256 * 1024;

// Moves the unread bytes to the front and reads more. false on a read error.
bool FillBuffer(LineReader* reader) {
  if (reader->begin > 0) {
    const size_t avail = reader->end - reader->begin;
    std::memmove(reader->buffer, reader->buffer + reader->begin, avail);
    reader->baseOffset += reader->begin;
    reader->begin = 0;
    reader->end = avail;
  }
  const size_t room = reader->capacity - reader->end;
  const size_t got = std::fread(reader->buffer + reader->end, 1, room, reader->file);
  reader->end += got;
  if (got < room) {
    if (std::ferror(reader->file)) return false;
    if (std::feof(reader->file)) reader->atEnd = 1;
  }
  return true;
}

}  // namespace

ResultCode LineReaderInit(LineReader* reader, FILE* file, uint64_t startOffset) {
  if (reader == nullptr || file == nullptr) return kErrInvalidArgument;
  *reader = LineReader{};
  reader->buffer = static_cast<char*>(std::malloc(kReaderBufferSize + 1));
  if (reader->buffer == nullptr) return kErrNoMemory;
  reader->file = file;
  reader->capacity = kReaderBufferSize;
  reader->baseOffset = startOffset;
  return kOk;
}

int LineReaderNext(LineReader* reader, LinePiece* piece) {
  if (reader == nullptr || piece == nullptr || reader->buffer == nullptr) {
    return kErrInvalidArgument;
  }
  if (reader->heldValid) {
    reader->buffer[reader->heldIndex] = reader->heldByte;
    reader->heldValid = 0;
  }
  if (reader->failed) return kErrReadFault;
  for (;;) {
    const size_t avail = reader->end - reader->begin;
    const size_t window = avail < kLinePieceMax ? avail : kLinePieceMax;
    char* start = reader->buffer + reader->begin;
    char* lineFeed = static_cast<char*>(std::memchr(start, '\n', window));
    size_t length = 0;
    bool haveLine = true;
    if (lineFeed != nullptr) {
      length = static_cast<size_t>(lineFeed - start);
    } else if (avail >= kLinePieceMax || reader->atEnd) {
      length = window;
      if (length == 0) return 0;
    } else {
      haveLine = false;
    }
    if (!haveLine) {
      if (!FillBuffer(reader)) {
        reader->failed = 1;
        return kErrReadFault;
      }
      continue;
    }
    const size_t stop = reader->begin + length;
    if (lineFeed == nullptr && stop < reader->end) {
      reader->heldValid = 1;
      reader->heldIndex = stop;
      reader->heldByte = reader->buffer[stop];
    }
    reader->buffer[stop] = 0;
    piece->text = start;
    piece->length = length;
    piece->offset = reader->baseOffset + reader->begin;
    reader->begin = stop + (lineFeed != nullptr ? 1 : 0);
    piece->consumed = reader->baseOffset + reader->begin;
    return 1;
  }
}

void LineReaderFree(LineReader* reader) {
  if (reader == nullptr) return;
  std::free(reader->buffer);
  *reader = LineReader{};
}

ResultCode ReadLineAt(FILE* file, uint64_t offset, char* buffer, size_t capacity,
                      size_t* length) {
  if (file == nullptr || buffer == nullptr || capacity == 0) return kErrInvalidArgument;
  buffer[0] = 0;
  if (length != nullptr) *length = 0;
  if (SeekStream(file, offset) != kOk) return kErrReadFault;
  size_t limit = capacity - 1;
  if (limit > kLinePieceMax) limit = kLinePieceMax;
  size_t used = 0;
  bool sawAny = false;
  while (used < limit) {
    const int c = StreamGetByte(file);
    if (c == EOF) break;
    sawAny = true;
    if (c == '\n' || c == '\r') break;
    buffer[used++] = static_cast<char>(c);
  }
  buffer[used] = 0;
  if (length != nullptr) *length = used;
  if (!sawAny) return std::ferror(file) ? kErrReadFault : kErrNotFound;
  return kOk;
}

ResultCode MappedLineReaderInit(MappedLineReader* reader, FILE* file, size_t window) {
  if (reader == nullptr || file == nullptr) return kErrInvalidArgument;
  *reader = MappedLineReader{};
  reader->window = window < (size_t{64} << 10) ? (size_t{64} << 10) : window;
  return MappedFileOpen(file, &reader->file, &reader->size);
}

int MappedLineReaderNext(MappedLineReader* reader, LineView* piece) {
  if (reader == nullptr || piece == nullptr || reader->file == nullptr) return kErrInvalidArgument;
  const uint64_t cursor = reader->cursor;
  if (cursor >= reader->size) return 0;
  uint64_t viewEnd = reader->viewStart + reader->view.length;
  // A piece needs up to kLinePieceMax + 1 bytes in view (its LF included):
  // the next window starts at the piece when fewer are left.
  if (reader->view.bytes == nullptr || cursor < reader->viewStart ||
      (viewEnd - cursor <= kLinePieceMax && viewEnd < reader->size)) {
    if (MappedFileMap(reader->file, cursor, reader->window, &reader->view) != kOk) {
      return kErrReadFault;
    }
    reader->viewStart = cursor;
    viewEnd = cursor + reader->view.length;
    if (reader->view.length == 0) return 0;
  }
  const char* start = reader->view.bytes + (cursor - reader->viewStart);
  const size_t avail = static_cast<size_t>(viewEnd - cursor);
  const size_t window = avail < kLinePieceMax ? avail : kLinePieceMax;
  const char* lineFeed = static_cast<const char*>(std::memchr(start, '\n', window));
  const size_t length = lineFeed != nullptr ? static_cast<size_t>(lineFeed - start) : window;
  piece->text = start;
  piece->length = length;
  piece->offset = cursor;
  reader->cursor = cursor + length + (lineFeed != nullptr ? 1 : 0);
  piece->consumed = reader->cursor;
  return 1;
}

void MappedLineReaderFree(MappedLineReader* reader) {
  if (reader == nullptr) return;
  MappedFileUnmap(&reader->view);
  MappedFileClose(reader->file);
  *reader = MappedLineReader{};
}
