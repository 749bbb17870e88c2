#include "platform/thread.h"

#include <thread>

uint32_t PlatformProcessorCount() {
  const unsigned count = std::thread::hardware_concurrency();
  return count == 0 ? 1 : static_cast<uint32_t>(count);
}
