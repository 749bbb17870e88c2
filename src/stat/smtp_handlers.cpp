#include <cinttypes>

#include "common/metadata_output.h"
#include "common/record_table.h"
#include "common/text_match.h"
#include "stat/handler_support.h"
#include "stat/line_loop.h"
#include "stat/stat_handlers.h"

namespace {

// SMTP and postponer traffic: ok/err per hour, client addresses, result codes.
struct TrafficCounts {
  uint32_t ok[kHours] = {};
  uint32_t err[kHours] = {};
  RecordTable addresses{};  // "TIP"
  RecordTable codes{};      // "ERR"
  CounterQueue addressQueue = MakeCounterQueue(&addresses);
  NumberCounts codeCounts{};
  bool skipLetterKinds = false;

  static constexpr uint32_t kFields = 6;

  void operator()(const LoopLine& line) {
    const TextView status = line.Trimmed(2, 64);
    if (skipLetterKinds && status.length != 0 && IsAsciiLetter(status.text[0])) return;
    const int32_t code = ReadSignedDecimal(status);
    NumberCountsAdd(&codeCounts, &codes, code);
    CounterQueueAdd(&addressQueue, line.Trimmed(5, kKeyCapacity), 1, 0, 0);
    if (code == 0) {
      ++ok[line.hour];
    } else {
      ++err[line.hour];
    }
  }

  void Write(FILE* out, const OutputSettings& settings) {
    CounterQueueFlush(&addressQueue);
    NumberCountsFlush(&codeCounts, &codes);
    uint32_t okDay = 0;
    uint32_t errDay = 0;
    for (int h = 0; h < kHours; ++h) {
      okDay += ok[h];
      errDay += err[h];
    }
    fprintf(out, "S;%" PRIu32 ";%" PRIu32 ";%" PRIu32 "\n", okDay + errDay, okDay, errDay);
    for (int h = 0; h < kHours; ++h) {
      fprintf(out, "H;%02d;%" PRIu32 ";%" PRIu32 ";%" PRIu32 "\n", h, ok[h] + err[h], ok[h], err[h]);
    }
    WriteTopList(&addresses, CompareCountersThenKey, out, "TIP", settings.topCount, 0, 1, false, false);
    WriteTopList(&codes, CompareCountersThenKey, out, "ERR", kAllLines, 0, 1, false, false);
  }

  ~TrafficCounts() {
    RecordTableFree(&addresses);
    RecordTableFree(&codes);
  }
};

// SMTP chart: accepted, rejected and other results with their letter codes.
struct ChartCounts {
  uint32_t accepted = 0;
  uint32_t rejected = 0;
  uint32_t other = 0;
  RecordTable acceptCodes{};  // "AR"
  RecordTable rejectCodes{};  // "RR"

  static constexpr uint32_t kFields = 7;

  void operator()(const LoopLine& line) {
    const TextView result = line.Trimmed(6, kKeyCapacity);
    const char kind = result.length != 0 ? result.text[0] : '\0';
    RecordTable* codes = nullptr;
    if (kind == 'A') {
      ++accepted;
      codes = &acceptCodes;
    } else if (kind == 'R') {
      ++rejected;
      codes = &rejectCodes;
    } else {
      ++other;
      return;
    }
    for (size_t i = 1; i < result.length; ++i) {
      if (result.text[i] == '-') continue;
      CounterTableAddView(codes, result.text + i, 1, 1, 0, 0);
    }
  }

  void Write(FILE* out, const OutputSettings& /*settings*/) {
    fprintf(out, "DC;%" PRIu32 "\n", accepted + rejected + other);
    fprintf(out, "DCA;%" PRIu32 "\n", accepted);
    fprintf(out, "DC?;%" PRIu32 "\n", other);
    fprintf(out, "DCR;%" PRIu32 "\n", rejected);
    WriteTopList(&acceptCodes, CompareCountersThenKey, out, "AR", kAllLines, 0, 1, false, false);
    WriteTopList(&rejectCodes, CompareCountersThenKey, out, "RR", kAllLines, 0, 1, false, false);
  }

  ~ChartCounts() {
    RecordTableFree(&acceptCodes);
    RecordTableFree(&rejectCodes);
  }
};

struct PostponerCounts : TrafficCounts {
  PostponerCounts() { skipLetterKinds = true; }
};

ResultCode RunTraffic(bool skipLetterKinds, FILE* primary, bool mayGrow, FILE* output, uint32_t* lines,
                      uint64_t* lastTime, const OutputSettings* settings, ProgressFile* progress,
                      JobEvent* event) {
  if (!HandlerArgumentsValid(primary, output, lines, lastTime, settings)) return kErrInvalidArgument;
  TrafficCounts counts;
  counts.skipLetterKinds = skipLetterKinds;
  const ResultCode result = RunLineLoop(primary, mayGrow, lines, lastTime, progress, event, counts);
  if (result == kOk) counts.Write(output, *settings);
  return result;
}

}  // namespace

ResultCode SmtpTrafficHandler(FILE* primary, FILE* /*secondary*/, FILE* output, TimeValue day,
                              uint32_t* linesProcessed, uint64_t* lastTime,
                              const OutputSettings* settings, ProgressFile* progress,
                              JobEvent* event) {
  return RunTraffic(false, primary, LogMayGrow(day), output, linesProcessed, lastTime, settings, progress, event);
}

ResultCode PostponerHandler(FILE* primary, FILE* /*secondary*/, FILE* output, TimeValue day,
                            uint32_t* linesProcessed, uint64_t* lastTime,
                            const OutputSettings* settings, ProgressFile* progress,
                            JobEvent* event) {
  return RunTraffic(true, primary, LogMayGrow(day), output, linesProcessed, lastTime, settings, progress, event);
}

ResultCode SmtpChartHandler(FILE* primary, FILE* /*secondary*/, FILE* output, TimeValue day,
                            uint32_t* linesProcessed, uint64_t* lastTime,
                            const OutputSettings* settings, ProgressFile* progress,
                            JobEvent* event) {
  if (!HandlerArgumentsValid(primary, output, linesProcessed, lastTime, settings)) {
    return kErrInvalidArgument;
  }
  ChartCounts counts;
  const ResultCode result =
      RunLineLoop(primary, LogMayGrow(day), linesProcessed, lastTime, progress, event, counts);
  if (result == kOk) counts.Write(output, *settings);
  return result;
}

const HandlerKind kSmtpTrafficKind = KindOf<TrafficCounts>::Make();
const HandlerKind kPostponerKind = KindOf<PostponerCounts>::Make();
const HandlerKind kSmtpChartKind = KindOf<ChartCounts>::Make();
