#include "stat/line_loop.h"

#include "platform/stream.h"

int64_t StreamSizeAndRewind(FILE* stream) {
  if (fseek(stream, 0, SEEK_END) != 0) return -1;
  const int64_t size = TellStream(stream);
  SeekStream(stream, 0);
  return size;
}

bool LogMayGrow(TimeValue day) { return DayLogMayGrow(day, LocalTimeNow()); }

void ReportLoopProgress(LoopProgress* state, uint64_t position) {
  if (state->size <= 0) return;
  const int64_t percent = static_cast<int64_t>(100.0 * static_cast<double>(position) /
                                               static_cast<double>(state->size));
  // Rewriting the same line would only cost a disk write.
  if (percent == state->lastPercent) return;
  state->lastPercent = percent;
  if (state->report.percent != nullptr) state->report.percent->store(percent, std::memory_order_relaxed);
  if (state->report.progress != nullptr) {
    ReportStatProgress(state->report.progress, -1, percent, -1, -1, nullptr, nullptr);
  }
}

namespace {

// Per slot: the resume filter's state while the loop runs.
struct SlotFilter {
  uint32_t resumeLines;
  uint64_t resumeTime;
};

constexpr size_t kSlotsMax = 8;

std::atomic<uint64_t> gLoopSerial{0};

}  // namespace

ResultCode RunSharedLineLoop(FILE* log, bool mayGrow, uint32_t fields, LoopSlot* slots,
                             size_t slotCount, LoopReport report, JobEvent* event) {
  if (slotCount == 0 || slotCount > kSlotsMax || fields > kLoopFieldsMax) return kErrInvalidArgument;
  LoopProgress progress{report, StreamSizeAndRewind(log), -1};
  LineReader reader;
  ResultCode result = LineReaderInit(&reader, log, 0);
  if (result != kOk) return result;
  SlotFilter filters[kSlotsMax];
  for (size_t i = 0; i < slotCount; ++i) filters[i] = {slots[i].lines, slots[i].lastTime};
  const uint32_t wanted = fields > 2 ? fields : 2;
  const uint64_t loopSerial = gLoopSerial.fetch_add(1, std::memory_order_relaxed) + 1;
  bool timeSeen = false;
  uint64_t lastSeen = 0;
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
    line.fieldCount = SplitFields(piece.text, piece.length, ';', line.fields, wanted);
    if (line.fieldCount < 2) continue;
    const TextView time = TrimField(line.fields[1], kTimeFieldCapacity);
    uint16_t hour = 0;
    if (ParseTimeOfDayText(time.text, time.length, &line.ticks, &hour) != kOk) continue;
    line.hour = hour;
    line.id = loopSerial << 32 | lines;
    timeSeen = true;
    lastSeen = line.ticks;
    for (size_t i = 0; i < slotCount; ++i) {
      SlotFilter& filter = filters[i];
      if (line.ticks < filter.resumeTime) continue;
      if (lines <= filter.resumeLines) {
        // The log changed under the stored state: count after this line.
        if (line.ticks > filter.resumeTime) filter.resumeLines = lines;
        continue;
      }
      slots[i].visit(slots[i].visitor, line);
    }
    if (lines % kProgressLines == 0) ReportLoopProgress(&progress, piece.consumed);
  }
  LineReaderFree(&reader);
  if (result != kOk) return result;
  for (size_t i = 0; i < slotCount; ++i) {
    slots[i].lines = lines;
    if (timeSeen) slots[i].lastTime = lastSeen;
  }
  return kOk;
}
