// Fuzz target: the first byte picks one of the SMTP traffic, SMTP chart, RBL
// traffic, RBL chart, postponer and BIP handlers; the rest is the day's log,
// which the handler reads through the shared line loop from the start, and
// again resumed at the point the first run reported. Each run succeeds and
// both agree on the number of lines.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "common/output_settings.h"
#include "platform/stream.h"
#include "stat/stat_handlers.h"
#include "stat/stat_types.h"
#include "fuzz_files.h"

namespace {

void RunHandler(StatHandler handler, const std::wstring& logPath, const std::wstring& outPath) {
  OutputSettings settings;
  uint32_t lines = 0;
  uint64_t lastTime = 0;
  for (int pass = 0; pass < 2; ++pass) {
    FILE* log = OpenStream(logPath.c_str(), "rb");
    FILE* out = OpenStream(outPath.c_str(), "wt");
    if (log == nullptr || out == nullptr) std::abort();
    const uint32_t resumedFrom = lines;
    const ResultCode result = handler(log, nullptr, out, 0, &lines, &lastTime, &settings, nullptr, nullptr);
    std::fclose(log);
    std::fclose(out);
    if (result != kOk) std::abort();
    if (pass == 1 && lines != resumedFrom) std::abort();  // nothing new since the first run
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string& folder = fuzz::Folder("stat_handlers");
  const std::string log = folder + "/day.log";
  fuzz::WriteBytes(log, reinterpret_cast<const char*>(data) + 1, size - 1);
  const StatHandler handlers[] = {SmtpTrafficHandler, SmtpChartHandler, RblTrafficHandler,
                                  RblChartHandler,    PostponerHandler, BipHandler};
  RunHandler(handlers[data[0] % 6], fuzz::Wide(log), fuzz::Wide(folder + "/day.csv"));
  return 0;
}
