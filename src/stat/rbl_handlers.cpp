#include "stat/stat_handlers.h"

ResultCode RblTrafficHandler(FILE*, FILE*, FILE*, TimeValue, uint32_t*, uint64_t*, const OutputSettings*, ProgressFile*, JobEvent*) {
  return kErrNotSupported;
}

ResultCode RblChartHandler(FILE*, FILE*, FILE*, TimeValue, uint32_t*, uint64_t*, const OutputSettings*, ProgressFile*, JobEvent*) {
  return kErrNotSupported;
}

