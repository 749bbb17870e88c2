// The line loop shared by every metadata handler: interruption and
// cancellation polls, the resume filter and progress, over the fast reader.
#pragma once

#include <atomic>
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
  const char* text;     // the whole line (not NUL-ended)
  uint32_t end;         // where its fields end: its first NUL, or its length less a final CR
  uint32_t hour;
  uint64_t ticks;  // time of day
  uint64_t id;     // the line's number and its loop's: no two lines share it

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

// Where a loop reports its item percent: the progress file (a single-thread
// run), or a number another thread reads (a worker's loop); both may be null.
struct LoopReport {
  ProgressFile* progress;
  std::atomic<int64_t>* percent;
};

// Item percent of a read position, reported only when it changed.
struct LoopProgress {
  LoopReport report;
  int64_t size;
  int64_t lastPercent;
};
void ReportLoopProgress(LoopProgress* state, uint64_t position);

// Whether the log of `day` may still grow now (its last line is then left
// until it has its line end).
bool LogMayGrow(TimeValue day);

// One handler fed by a line loop: its visitor and its own resume point. On
// entry lines/lastTime are the resume point; after a loop that returned 0
// they are the number of lines read and the time of the last line whose time
// was read.
struct LoopSlot {
  void* visitor;
  void (*visit)(void* visitor, const LoopLine& line);
  uint32_t lines;
  uint64_t lastTime;
};

// A number no other loop of the run has (for LoopLine::id).
uint64_t NextLoopSerial();

constexpr size_t kLoopSlotsMax = 8;

// A loop's lines: each line's end and first separators found in one pass
// over read-only blocks.
struct ScannedLines {
  BlockLineReader reader;
  LineView piece;
  PieceFields found;
  uint32_t wanted = 0;

  ResultCode Init(FILE* log, uint32_t fields) {
    wanted = fields;
    return BlockLineReaderInit(&reader, log);
  }
  int Next() { return BlockLineReaderNextSplit(&reader, ';', wanted, &piece, &found); }
  bool Whole() const { return PieceIsWhole(piece); }
  uint64_t Consumed() const { return piece.consumed; }
  // The fields as SplitFields finds them in the piece without a final CR.
  void Split(LoopLine* line) const {
    size_t end = piece.length;
    if (end > 0 && piece.text[end - 1] == '\r') --end;
    if (found.length < end) end = found.length;  // a NUL ends the fields
    line->text = piece.text;
    line->end = static_cast<uint32_t>(end);
    uint32_t count = 0;
    size_t start = 0;
    for (uint32_t i = 0; i < found.count; ++i) {
      line->fields[count++] = TextView{piece.text + start, found.at[i] - start};
      if (count == wanted) break;
      start = found.at[i] + 1;
    }
    if (count < wanted) line->fields[count++] = TextView{piece.text + start, end - start};
    line->fieldCount = count;
  }
  // Leaves the stream at the start of the piece read last (before) or behind it.
  ResultCode Leave(FILE* log, bool before) {
    return SeekStream(log, before ? piece.offset : BlockLineReaderPosition(reader));
  }
  void Free() { BlockLineReaderFree(&reader); }
};

// The loop itself: each line is split once (its first `fields` fields) and
// given with dispatch(slot, line) to every slot whose resume filter it
// passes, in slot order. In a log that may grow, a last line without its line
// end is not read: the loop stops before it and leaves the stream there, so
// that the stream's position is the size taken. Returns 0, kUserAbort,
// kErrReadFault (the handlers then write nothing), or kErrNoMemory.
template <typename Dispatch>
ResultCode LineLoopCore(FILE* log, bool mayGrow, uint32_t fields, LoopSlot* slots, size_t slotCount,
                        LoopReport report, JobEvent* event, Dispatch dispatch) {
  if (slotCount == 0 || slotCount > kLoopSlotsMax || fields > kLoopFieldsMax) return kErrInvalidArgument;
  LoopProgress progress{report, StreamSizeAndRewind(log), -1};
  ScannedLines source;
  ResultCode result = source.Init(log, fields > 2 ? fields : 2);
  if (result != kOk) {
    source.Free();
    return result;
  }
  // Per slot: the resume filter's state while the loop runs.
  uint32_t resumeLines[kLoopSlotsMax];
  uint64_t resumeTimes[kLoopSlotsMax];
  for (size_t i = 0; i < slotCount; ++i) {
    resumeLines[i] = slots[i].lines;
    resumeTimes[i] = slots[i].lastTime;
  }
  const uint64_t loopSerial = NextLoopSerial();
  bool timeSeen = false;
  bool stoppedBefore = false;
  uint64_t lastSeen = 0;
  uint32_t lines = 0;
  for (;;) {
    if (IsInterrupted()) {
      result = kUserAbort;
      break;
    }
    if (event != nullptr && lines % kCancelPollLines == 0 && IsJobCancelled(event)) {
      result = kUserAbort;
      break;
    }
    const int got = source.Next();
    if (got == 0) break;
    if (got < 0) {
      result = kErrReadFault;
      break;
    }
    if (mayGrow && !source.Whole()) {
      stoppedBefore = true;
      break;
    }
    ++lines;
    LoopLine line;
    source.Split(&line);
    if (line.fieldCount < 2) continue;
    const TextView time = TrimField(line.fields[1], kTimeFieldCapacity);
    uint16_t hour = 0;
    if (ParseTimeOfDayText(time.text, time.length, &line.ticks, &hour) != kOk) continue;
    line.hour = hour;
    line.id = loopSerial << 32 | lines;
    timeSeen = true;
    lastSeen = line.ticks;
    for (size_t i = 0; i < slotCount; ++i) {
      if (line.ticks < resumeTimes[i]) continue;
      if (lines <= resumeLines[i]) {
        // The log changed under the stored state: count after this line.
        if (line.ticks > resumeTimes[i]) resumeLines[i] = lines;
        continue;
      }
      dispatch(i, line);
    }
    if (lines % kProgressLines == 0) ReportLoopProgress(&progress, source.Consumed());
  }
  if (result == kOk && source.Leave(log, stoppedBefore) != kOk) result = kErrReadFault;
  source.Free();
  if (result != kOk) return result;
  for (size_t i = 0; i < slotCount; ++i) {
    slots[i].lines = lines;
    if (timeSeen) slots[i].lastTime = lastSeen;
  }
  return kOk;
}

// The loop over slots of any handlers (their visit functions).
ResultCode RunSharedLineLoop(FILE* log, bool mayGrow, uint32_t fields, LoopSlot* slots,
                             size_t slotCount, LoopReport report, JobEvent* event);

// The loop for one slot whose visitor is a Visitor, called directly.
template <typename Visitor>
ResultCode RunVisitorLoop(FILE* log, bool mayGrow, LoopSlot* slot, LoopReport report, JobEvent* event) {
  static_assert(Visitor::kFields <= kLoopFieldsMax, "too many fields for one line");
  Visitor& visitor = *static_cast<Visitor*>(slot->visitor);
  return LineLoopCore(log, mayGrow, Visitor::kFields, slot, 1, report, event,
                      [&visitor](size_t, const LoopLine& line) { visitor(line); });
}

// The loop with one handler: visit(const LoopLine&) gets every line with a
// time that passes the resume filter, split up to Visitor::kFields.
// *linesProcessed and *lastTime are the resume point in and out.
template <typename Visitor>
ResultCode RunLineLoop(FILE* log, bool mayGrow, uint32_t* linesProcessed, uint64_t* lastTime,
                       ProgressFile* progress, JobEvent* event, Visitor& visit) {
  LoopSlot slot{&visit, nullptr, *linesProcessed, *lastTime};
  const ResultCode result = RunVisitorLoop<Visitor>(log, mayGrow, &slot, LoopReport{progress, nullptr}, event);
  if (result != kOk) return result;
  *linesProcessed = slot.lines;
  *lastTime = slot.lastTime;
  return kOk;
}
