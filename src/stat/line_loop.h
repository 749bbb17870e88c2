// The line loop shared by every metadata handler: interruption and
// cancellation polls, the resume filter and progress, over the fast reader.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "frame/console.h"
#include "frame/jobs.h"
#include "frame/progress.h"
#include "common/line_reader.h"
#include "common/text_match.h"
#include "common/time.h"
#include "platform/stream.h"
#include "platform/types.h"

// Most fields a handler reads from a line.
constexpr uint32_t kLoopFieldsMax = 16;

// One line as a handler sees it: its first fields split once, as views into
// the line (field 1 is the time), and the time of day.
struct LoopLine {
  TextView fields[kLoopFieldsMax];
  uint32_t fieldCount;  // fields the line has, up to the handler's kFields
  uint32_t hour;
  uint64_t ticks;  // time of day

  // Field `index` as it stands (empty when the line has no such field).
  TextView Field(uint32_t index) const {
    return index < fieldCount ? fields[index] : TextView{"", 0};
  }
  // Field `index` as GetField reads it into `capacity` bytes.
  TextView Trimmed(uint32_t index, size_t capacity) const {
    return TrimField(Field(index), capacity);
  }
};

constexpr uint32_t kCancelPollLines = 500;
// The time field is read as GetField reads it into this many bytes.
constexpr size_t kTimeFieldCapacity = 32;
static_assert(kTimeFieldCapacity <= kTimeTextMax, "the time field must fit ParseTimeOfDayText");
constexpr uint32_t kProgressLines = 500;

// Size of the stream in bytes; leaves it at its start. -1 when unknown.
int64_t StreamSizeAndRewind(FILE* stream);

// Item percent of a read position, reported only when it changed.
struct LoopProgress {
  ProgressFile* progress;
  int64_t size;
  int64_t lastPercent;
};
void ReportLoopProgress(LoopProgress* state, uint64_t position);

// Whether the log of `day` may still grow now (its last line is then left
// until it has its line end).
bool LogMayGrow(TimeValue day);

// Reads the log line by line and calls visit(const LoopLine&) for every line
// that has a time and passes the resume filter; the line's fields up to
// Visitor::kFields are split for it. On entry *linesProcessed and
// *lastTime are the resume point; on success they are the number of lines read
// and the time of the last line whose time was read. In a log that may grow,
// a last line without its line end is not read: the loop stops before it and
// leaves the stream there, so that the stream's position is the size taken.
// Returns 0, kUserAbort, kErrReadFault (the handler then writes nothing), or
// kErrNoMemory.
template <typename Visitor>
ResultCode RunLineLoop(FILE* log, bool mayGrow, uint32_t* linesProcessed, uint64_t* lastTime,
                       ProgressFile* progress, JobEvent* event, Visitor& visit) {
  LoopProgress report{progress, StreamSizeAndRewind(log), -1};
  LineReader reader;
  ResultCode result = LineReaderInit(&reader, log, 0);
  if (result != kOk) return result;
  uint32_t resumeLines = *linesProcessed;
  const uint64_t resumeTime = *lastTime;
  uint64_t lastSeen = resumeTime;
  uint32_t lines = 0;
  LinePiece piece;
  for (;;) {
    if (IsInterrupted()) {
      result = kUserAbort;
      break;
    }
    if (event != nullptr && lines % kCancelPollLines == 0 && IsJobCancelled(event)) {
      result = kUserAbort;
      break;
    }
    const int got = LineReaderNext(&reader, &piece);
    if (got == 0) break;
    if (got < 0) {
      result = kErrReadFault;
      break;
    }
    if (mayGrow && !PieceIsWhole(piece)) {
      if (SeekStream(log, piece.offset) != kOk) result = kErrReadFault;
      break;
    }
    ++lines;
    // A CR before the LF is no part of the last field.
    if (piece.length > 0 && piece.text[piece.length - 1] == '\r') piece.text[--piece.length] = '\0';
    LoopLine line;
    constexpr uint32_t kWanted = Visitor::kFields > 2 ? Visitor::kFields : 2;
    static_assert(kWanted <= kLoopFieldsMax, "too many fields for one line");
    line.fieldCount = SplitFields(piece.text, piece.length, ';', line.fields, kWanted);
    if (line.fieldCount < 2) continue;
    const TextView time = TrimField(line.fields[1], kTimeFieldCapacity);
    uint16_t hour = 0;
    if (ParseTimeOfDayText(time.text, time.length, &line.ticks, &hour) != kOk) continue;
    line.hour = hour;
    lastSeen = line.ticks;
    if (line.ticks < resumeTime) continue;
    if (lines <= resumeLines) {
      // The log changed under the stored state: count after this line.
      if (line.ticks > resumeTime) resumeLines = lines;
      continue;
    }
    visit(line);
    if (lines % kProgressLines == 0) ReportLoopProgress(&report, piece.consumed);
  }
  LineReaderFree(&reader);
  if (result != kOk) return result;
  *linesProcessed = lines;
  *lastTime = lastSeen;
  return kOk;
}
