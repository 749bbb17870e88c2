// What the doctor's passes over the mail logs share: the field boundaries a
// reader finds, splitting a line in place, reading a file's lines with
// progress, and the pass's share of the overall progress. Only the pass
// files include it; the search command uses mail_index.h.
#pragma once

#include <algorithm>
#include <cstring>

#include "common/line_reader.h"
#include "common/mail_log.h"
#include "doctor/mail_index.h"

namespace mail_pass {

constexpr uint32_t kProgressLines = 10000;
constexpr uint64_t kProgressSizeCap = 0x7FFFFFFF;

inline bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

// The field boundaries of a line, found by the reader in the pass that
// found the line: the first ';'s before the line's first NUL, as many as a
// look needs, and the line's length; CompleteFields finds the others and
// cuts the length at that NUL (the length a C string of the line has).
using LineFields = PieceFields;

// All separators of a line whose first look found only some.
inline LineFields CompleteFields(const char* text, const LineFields& peeked) {
  LineFields fields = peeked;
  CompletePieceFields(text, ';', &fields);
  return fields;
}

// Start of field `index` and the line's end, or false when the line has fewer fields.
inline bool FieldFrom(const char* line, const LineFields& fields, uint32_t index, const char** begin) {
  if (index > fields.count) return false;
  *begin = line + (index == 0 ? 0 : fields.at[index - 1] + 1);
  return true;
}

// SplitLogFields on a writable copy of the scanned line.
inline void SplitScanned(char* line, const LineFields& scanned, char** fields, uint32_t maxFields) {
  for (uint32_t i = 0; i < maxFields; ++i) {
    if (i > scanned.count) {
      fields[i] = line + scanned.length;  // the terminating NUL
      continue;
    }
    char* b = line + (i == 0 ? 0 : scanned.at[i - 1] + 1);
    char* e = line + (i < scanned.count ? scanned.at[i] : scanned.length);
    while (b < e && IsBlank(*b)) ++b;
    while (e > b && IsBlank(e[-1])) --e;
    *e = '\0';
    fields[i] = b;
  }
}

// Reports progress within a file every kProgressLines lines.
struct FileProgress {
  MailProgressFn callback;
  void* context;
  uint64_t size;
  uint32_t lines = 0;
};

inline int TickLine(FileProgress* progress, uint64_t consumed) {
  if (++progress->lines < kProgressLines) return 0;
  progress->lines = 0;
  if (progress->callback == nullptr) return 0;
  uint64_t done = std::min<uint64_t>(consumed, progress->size);
  return progress->callback(progress->context, -1, static_cast<int>(done * 100 / progress->size),
                            nullptr);
}

inline uint64_t ProgressSize(uint64_t size) {
  return (size == 0 || size > kProgressSizeCap) ? kProgressSizeCap : size;
}

inline int Report(MailProgressFn callback, void* context, int overall, int item, const wchar_t* text) {
  return callback != nullptr ? callback(context, overall, item, text) : 0;
}

// The pieces of a file, each handed to handleLine(piece, fields) as a
// read-only view with its fields, which the reader writes where
// fieldsSlot() says (a handler that keeps lines keeps their fields so).
// finish() runs while the reader's blocks are still there, for a handler
// that holds pieces.
template <typename SlotFn, typename LineFn, typename FinishFn>
ResultCode ReadLines(FILE* file, FileProgress* progress, uint32_t wantedSeparators,
                     SlotFn fieldsSlot, LineFn handleLine, FinishFn finish) {
  BlockLineReader reader;
  ResultCode result = BlockLineReaderInit(&reader, file);
  LineView piece;
  int got = 0;
  for (;;) {
    LineFields* fields = fieldsSlot();
    if (result != kOk || (got = BlockLineReaderNextSplit(&reader, ';', wantedSeparators, &piece,
                                                             fields)) != 1) {
      break;
    }
    result = handleLine(piece, *fields);
    if (result == kOk) result = TickLine(progress, piece.consumed);
  }
  if (result == kOk && got < 0) result = got;
  if (result == kOk) result = finish();
  BlockLineReaderFree(&reader);
  return result;
}

// A writable, NUL-ended copy of a line for splitting it in place.
struct LineCopy {
  char bytes[kLinePieceMax + 1];
  char* Take(const char* line, size_t length) {
    std::memcpy(bytes, line, length);
    bytes[length] = '\0';
    return bytes;
  }
};

// A pass's progress: its files done of those expected, as its quarter of
// the overall progress from `base`.
struct PassCounter {
  uint32_t done = 0;
  uint32_t expected = 1;
  int base = 0;
  int limit = 25;
  int Overall() const {
    int value = base + static_cast<int>(static_cast<uint64_t>(done) * 25 / (expected ? expected : 1));
    return std::min(limit, value);
  }
};

}  // namespace mail_pass
