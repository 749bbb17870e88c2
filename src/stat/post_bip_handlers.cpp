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

  static constexpr uint32_t kFields = 9;

  void operator()(const LoopLine& line) {
    const bool isVirus = EqualsNoCase(line.Trimmed(4, 16), "VIRUS");
    const bool isSpam = EqualsNoCase(line.Trimmed(5, 16), "SPAM");
    const TextView key = line.Trimmed(8, 32);
    if (key.length == 0) return;
    const int64_t last = static_cast<int64_t>(line.ticks);
    // One digest of the key serves both tables.
    KeyedProbe probe;
    if (!KeyedProbeInit(&probe, key.text, key.length)) return;
    CounterTableAddProbe(&virus, probe, isVirus ? 1 : 0, isVirus ? 0 : 1, last);
    CounterTableAddProbe(&spam, probe, isSpam ? 1 : 0, isSpam ? 0 : 1, last);
  }

  void Write(FILE* out, const OutputSettings& /*settings*/) {
    WriteTopList(&spam, CompareMarkedThenKey, out, "SIP", kAllLines, 0, 1, true, true);
    WriteTopList(&virus, CompareMarkedThenKey, out, "VIP", kAllLines, 0, 1, true, true);
  }

  ~BipCounts() {
    RecordTableFree(&spam);
    RecordTableFree(&virus);
  }
};

}  // namespace

ResultCode BipHandler(FILE* primary, FILE* /*secondary*/, FILE* output, TimeValue day,
                      uint32_t* linesProcessed, uint64_t* lastTime, const OutputSettings* settings,
                      ProgressFile* progress, JobEvent* event) {
  if (!HandlerArgumentsValid(primary, output, linesProcessed, lastTime, settings)) {
    return kErrInvalidArgument;
  }
  BipCounts counts;
  const ResultCode result = 
      RunLineLoop(primary, LogMayGrow(day), linesProcessed, lastTime, progress, event, counts);
  if (result == kOk) counts.Write(output, *settings);
  return result;
}

const HandlerKind kBipKind = KindOf<BipCounts>::Make();
