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

std::atomic<uint64_t> gLoopSerial{0};

}  // namespace

uint64_t NextLoopSerial() { return gLoopSerial.fetch_add(1, std::memory_order_relaxed) + 1; }

ResultCode RunSharedLineLoop(FILE* log, bool mayGrow, uint32_t fields, LoopSlot* slots,
                             size_t slotCount, LoopReport report, JobEvent* event) {
  return LineLoopCore(log, mayGrow, fields, slots, slotCount, report, event,
                      [slots](size_t slot, const LoopLine& line) { slots[slot].visit(slots[slot].visitor, line); });
}
