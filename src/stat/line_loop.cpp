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
  if (state->progress == nullptr || state->size <= 0) return;
  const int64_t percent = static_cast<int64_t>(100.0 * static_cast<double>(position) /
                                               static_cast<double>(state->size));
  // Rewriting the same line would only cost a disk write.
  if (percent == state->lastPercent) return;
  state->lastPercent = percent;
  ReportStatProgress(state->progress, -1, percent, -1, -1, nullptr, nullptr);
}
