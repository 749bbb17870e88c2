// Fuzz target: date patterns against names. The input is split at its first
// NUL into a pattern list part and a name; the name is not terminated.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/time.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  const void* split = std::memchr(bytes, 0, size);
  const size_t patternLength = split ? static_cast<size_t>(static_cast<const char*>(split) - bytes) : size / 2;
  // The pattern list: the first part, '|' separating patterns, double NUL at the end.
  std::string list(bytes, patternLength);
  for (char& c : list) {
    if (c == '|') c = 0;
  }
  list.append(2, '\0');
  const size_t nameStart = split ? patternLength + 1 : patternLength;
  // The name in a buffer of exactly its size, so that reading past it is caught.
  std::vector<char> name(bytes + nameStart, bytes + size);
  TimeValue t = 0;
  const int matched = MatchDatePattern(1, name.data(), name.size(), list.c_str(), &t);
  if (!matched && t != kNoTime) std::abort();
  if (matched && t != 0) {
    CalendarTime c;
    if (SplitTime(t, &c) != kOk) std::abort();
  }
  MatchDatePattern(0, name.data(), name.size(), nullptr, &t);
  MatchDatePattern(1, name.data(), name.size(), kDatePatternsBoundDateTime, &t);
  return 0;
}
