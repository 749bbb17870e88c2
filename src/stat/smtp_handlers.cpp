#include "stat/stat_handlers.h"

ResultCode SmtpTrafficHandler(FILE*, FILE*, FILE*, TimeValue, uint32_t*, uint64_t*, const OutputSettings*, ProgressFile*, JobEvent*) {
  return kErrNotSupported;
}

ResultCode SmtpChartHandler(FILE*, FILE*, FILE*, TimeValue, uint32_t*, uint64_t*, const OutputSettings*, ProgressFile*, JobEvent*) {
  return kErrNotSupported;
}

