// Output settings of one run (--top, --units, --quantum), shared by the modes.
#pragma once

#include <cstdint>

struct OutputSettings {
  uint32_t topCount = 15;     // top-list size
  uint32_t unitDivisor = 0;   // 0 bytes, 1024, 1048576 or 1073741824
  uint32_t quantumUnit = 0;   // TimeUnit code, 0 when not given
  uint64_t quantumCount = 0;  // 0 when not given
};
