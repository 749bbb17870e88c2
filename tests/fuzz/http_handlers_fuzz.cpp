// Fuzz target: the HTTP metadata handlers over any bytes as the combined log
// and the compact log of one day (the first byte splits the input), from the
// start and from a resume point; every run succeeds and leaves a resume point
// no further than the log's lines (its pieces, for lines too long to read whole).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

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
  return 0;
}
