#include "common/metadata_output.h"
#include "common/record_table.h"
#include "common/text_match.h"
#include "stat/handler_support.h"
#include "stat/line_loop.h"
#include "stat/stat_handlers.h"

namespace {

// Marked and unmarked lines per client (field 8), with the latest line's time.
struct BipCounts {
  RecordTable spam{};   // "SIP"
  RecordTable virus{};  // "VIP"

  void operator()(const LoopLine& line) {
    const char* cursor = line.cursor;
    size_t length = 0;
    char mark[16];
    GetField(&cursor, 2, ';', nullptr, mark, sizeof mark, &length);
    const bool isVirus = EqualsNoCase(mark, "VIRUS");
    GetField(&cursor, 0, ';', nullptr, mark, sizeof mark, &length);
    const bool isSpam = EqualsNoCase(mark, "SPAM");
    char key[32];
    GetField(&cursor, 2, ';', nullptr, key, sizeof key, &length);
    if (key[0] == '\0') return;
    const int64_t last = static_cast<int64_t>(line.ticks);
    CounterTableAdd(&virus, key, isVirus ? 1 : 0, isVirus ? 0 : 1, last);
    CounterTableAdd(&spam, key, isSpam ? 1 : 0, isSpam ? 0 : 1, last);
  }

  void Write(FILE* out) {
    WriteTopList(&spam, CompareMarkedThenKey, out, "SIP", kAllLines, 0, 1, true, true);
    WriteTopList(&virus, CompareMarkedThenKey, out, "VIP", kAllLines, 0, 1, true, true);
  }

  ~BipCounts() {
    RecordTableFree(&spam);
    RecordTableFree(&virus);
  }
};

}  // namespace

ResultCode BipHandler(FILE* primary, FILE* /*secondary*/, FILE* output, TimeValue /*day*/,
                      uint32_t* linesProcessed, uint64_t* lastTime, const OutputSettings* settings,
                      ProgressFile* progress, JobEvent* event) {
  if (!HandlerArgumentsValid(primary, output, linesProcessed, lastTime, settings)) {
    return kErrInvalidArgument;
  }
  BipCounts counts;
  const ResultCode result = RunLineLoop(primary, linesProcessed, lastTime, progress, event, counts);
  if (result == kOk) counts.Write(output);
  return result;
}

ResultCode HttpNotBuiltHandler(FILE*, FILE*, FILE*, TimeValue, uint32_t*, uint64_t*,
                               const OutputSettings*, ProgressFile*, JobEvent*) {
  return kErrNotSupported;
}
