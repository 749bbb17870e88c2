// Fuzz target: any log bytes go through every mail metadata handler (the line
// loop, the field splitter and the keyed tables); each must finish with a
// result and write its file. The input's first byte picks the top-list size.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "common/output_settings.h"
#include "stat/stat_handlers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using Handler = ResultCode (*)(FILE*, FILE*, FILE*, TimeValue, uint32_t*, uint64_t*,
                                 const OutputSettings*, ProgressFile*, JobEvent*);
  static const Handler handlers[] = {SmtpTrafficHandler, SmtpChartHandler, RblTrafficHandler,
                                     RblChartHandler,    PostponerHandler, BipHandler};
  OutputSettings settings;
  if (size > 0) settings.topCount = data[0] % 20;
  for (Handler handler : handlers) {
    FILE* log = std::tmpfile();
    FILE* out = std::tmpfile();
    if (log == nullptr || out == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, log) != size) std::abort();
    std::rewind(log);
    uint32_t lines = 0;
    uint64_t lastTime = 0;
    const ResultCode result =
        handler(log, nullptr, out, 0, &lines, &lastTime, &settings, nullptr, nullptr);
    if (result != kOk) std::abort();
    std::fclose(log);
    std::fclose(out);
  }
  return 0;
}
