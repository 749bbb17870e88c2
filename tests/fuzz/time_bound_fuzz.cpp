// Fuzz target: start/end conditions and time-of-day parsing never read past
// the text and give consistent bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/time.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TimeBound bound;
  bound.absolute = 5;
  const ResultCode rc = ParseTimeBound(text.c_str(), 23, 59, 59, &bound);
  if (rc != kOk && bound.absolute != 5) std::abort();  // failure leaves the output
  if (rc == kOk) {
    if (bound.absolute != 0 && bound.unit != 0) std::abort();
    if (bound.unit != 0 && bound.count == 0) std::abort();
    TimeBound none;
    TimeValue from = 0, to = 0;
    ResolveInterval(&bound, &none, &from, &to);
    ResolveInterval(&none, &bound, &from, &to);
    if (bound.unit != 0) {
      AlignToQuantum(from, bound.unit, bound.count);
      // Relative bounds saturate: never 0 ("not given"), never past the calendar.
      const TimeValue moved = AddTimeUnits(from, bound.unit, bound.count);
      if (from != 0 && (moved == 0 || moved > kNoTime)) std::abort();
    }
  }
  uint64_t ticks = 0;
  if (ParseTimeOfDay(text.c_str(), &ticks, nullptr, nullptr, nullptr) == kOk &&
      ticks >= kTicksPerDay) {
    std::abort();
  }
  return 0;
}
