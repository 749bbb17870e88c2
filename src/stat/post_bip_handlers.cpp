#include "stat/stat_handlers.h"

ResultCode PostponerHandler(FILE*, FILE*, FILE*, TimeValue, uint32_t*, uint64_t*, const OutputSettings*, ProgressFile*, JobEvent*) {
  return kErrNotSupported;
}

ResultCode BipHandler(FILE*, FILE*, FILE*, TimeValue, uint32_t*, uint64_t*, const OutputSettings*, ProgressFile*, JobEvent*) {
  return kErrNotSupported;
}

ResultCode HttpNotBuiltHandler(FILE*, FILE*, FILE*, TimeValue, uint32_t*, uint64_t*, const OutputSettings*, ProgressFile*, JobEvent*) {
  return kErrNotSupported;
}

