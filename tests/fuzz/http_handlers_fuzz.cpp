// Fuzz target: the HTTP metadata handlers over any bytes as the combined log
// and the compact log of one day (the first byte splits the input), from the
// start and from a resume point; every run succeeds and leaves a resume point
// no further than the log's lines (its pieces, for lines too long to read whole).
// The three types counted together in one pass of the driver over the
// combined log, each from its own resume point and some after their compact
// log, write what each writes alone.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "stat/day_jobs.h"
#include "stat/stat_handlers.h"

namespace {

FILE* StreamOf(const uint8_t* data, size_t size) {
  FILE* stream = std::tmpfile();
  if (stream == nullptr) return nullptr;
  std::fwrite(data, 1, size, stream);
  std::rewind(stream);
  return stream;
}

uint32_t CountLines(const uint8_t* data, size_t size) {
  uint32_t lines = 0;
  for (size_t i = 0; i < size; ++i) lines += data[i] == '\n';
  // A line longer than the reader's piece is read as several lines.
  return lines + (size > 0 && data[size - 1] != '\n' ? 1 : 0) + static_cast<uint32_t>(size / 32767);
}

std::string ContentOf(FILE* stream) {
  std::string content;
  std::rewind(stream);
  char buffer[4096];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, stream)) != 0;) content.append(buffer, got);
  return content;
}

StatType* TypeOf(uint32_t mask) {
  for (int i = 0; i < kRealStatTypeCount; ++i) {
    if (StatTypeTable()[i].mask == mask) return &StatTypeTable()[i];
  }
  std::abort();
}

// The three types in one pass over the combined log; bit k of `resumed`
// starts type k at line 2 rather than at the start, bit k of `withCompact`
// gives it the compact log too.
void CheckOnePass(const uint8_t* combined, size_t size, const uint8_t* compact, size_t compactSize,
                  unsigned resumed, unsigned withCompact, const OutputSettings& settings) {
  const StatHandler handlers[] = {HttpAlertHandler, HttpTrafficHandler, HttpWebFilterHandler};
  const uint32_t masks[] = {kStatHttpAl, kStatHttpTr, kStatHttpWf};
  DayJob job;
  job.primary = StreamOf(combined, size);
  if (job.primary == nullptr) return;
  job.handlers.resize(3);
  for (int k = 0; k < 3; ++k) {
    JobHandler& handler = job.handlers[k];
    handler.type = TypeOf(masks[k]);
    handler.hasLog = true;
    handler.resumeLines = (resumed >> k & 1) != 0 ? 2 : 0;
    handler.resumeTime = (resumed >> k & 1) != 0 ? 36000000000ULL : 0;
    if ((withCompact >> k & 1) != 0) handler.secondary = StreamOf(compact, compactSize);
  }
  RunJobPasses(&job, LoopReport{nullptr, nullptr}, nullptr);
  for (int k = 0; k < 3; ++k) {
    JobHandler& handler = job.handlers[k];
    FILE* log = StreamOf(combined, size);
    FILE* second = (withCompact >> k & 1) != 0 ? StreamOf(compact, compactSize) : nullptr;
    FILE* alone = std::tmpfile();
    FILE* together = std::tmpfile();
    if (log == nullptr || alone == nullptr || together == nullptr || handler.result != kOk) std::abort();
    uint32_t lines = handler.resumeLines;
    uint64_t lastTime = handler.resumeTime;
    if (handlers[k](log, second, alone, 0, &lines, &lastTime, &settings, nullptr, nullptr) != kOk) std::abort();
    handler.type->kind->write(handler.counts, together, settings);
    if (lines != handler.lines || lastTime != handler.lastTime) std::abort();
    if (ContentOf(alone) != ContentOf(together)) std::abort();
    FreeHandlerCounts(&handler);
    std::fclose(log);
    if (second != nullptr) std::fclose(second);
    std::fclose(alone);
    std::fclose(together);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t split = data[0] * (size - 1) / 255;
  const uint8_t* combined = data + 1;
  const uint8_t* compact = data + 1 + split;
  const size_t compactSize = size - 1 - split;
  const StatHandler handlers[] = {HttpAlertHandler, HttpTrafficHandler, HttpWebFilterHandler};
  OutputSettings settings;
  settings.topCount = data[0] % 4;
  settings.unitDivisor = data[0] & 1 ? 1024 : 0;
  for (StatHandler handler : handlers) {
    for (int from = 0; from < 2; ++from) {
      FILE* primary = data[0] % 3 != 0 ? StreamOf(combined, split) : nullptr;
      FILE* secondary = data[0] % 3 != 1 ? StreamOf(compact, compactSize) : nullptr;
      FILE* output = std::tmpfile();
      uint32_t lines = from == 0 ? 0 : 2;
      uint64_t lastTime = from == 0 ? 0 : 36000000000ULL;
      ResultCode result = kOk;
      if (output != nullptr && (primary != nullptr || secondary != nullptr)) {
        result = handler(primary, secondary, output, 0, &lines, &lastTime, &settings, nullptr, nullptr);
        if (result != kOk) std::abort();
        const uint32_t most = primary != nullptr ? CountLines(combined, split)
                                                 : CountLines(compact, compactSize);
        if (lines > most) std::abort();
      }
      if (primary != nullptr) std::fclose(primary);
      if (secondary != nullptr) std::fclose(secondary);
      if (output != nullptr) std::fclose(output);
    }
  }
  CheckOnePass(combined, split, compact, compactSize, data[0] >> 5, data[size - 1] & 7, settings);
  return 0;
}
