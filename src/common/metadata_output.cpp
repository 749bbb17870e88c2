#include "common/metadata_output.h"

#include <cinttypes>
#include <cstring>

char* FormatSize(uint64_t value, uint32_t divisor, char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return buffer;
  if (divisor == 0) {
    snprintf(buffer, size, "%" PRIu64, value);
    return buffer;
  }
  snprintf(buffer, size, "%.2f", static_cast<double>(value) / static_cast<double>(divisor));
  // The locale may write a comma; metadata always uses a point.
  for (char* p = buffer; *p != '\0'; ++p) {
    if (*p == ',') *p = '.';
  }
  return buffer;
}

uint64_t ParseScaled(const char* text, uint64_t multiplier, const char** end) {
  if (text == nullptr) {
    if (end != nullptr) *end = text;
    return 0;
  }
  const uint64_t m = multiplier == 0 ? 1 : multiplier;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p >= 1 && *p <= 32) ++p;
  uint64_t integer = 0;
  while (*p >= '0' && *p <= '9') {
    integer = integer * 10 + static_cast<uint64_t>(*p - '0') * m;
    ++p;
  }
  uint64_t numerator = 0;
  uint64_t denominator = 1;
  if (*p == '.' && m >= 2 && m <= UINT64_MAX / 9) {
    ++p;
    while (*p >= '0' && *p <= '9') {
      // Digits beyond the precision of the denominator add nothing.
      if (denominator <= UINT64_MAX / 10 && numerator <= (UINT64_MAX - 9 * m) / 10) {
        numerator = numerator * 10 + static_cast<uint64_t>(*p - '0') * m;
        denominator *= 10;
      }
      ++p;
    }
  }
  if (end != nullptr) *end = reinterpret_cast<const char*>(p);
  return integer + numerator / denominator;
}
