// Fuzz target: any --webstat value gives a valid record or -29/-2 with the
// record released, and releasing always leaves a zeroed record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "webstat/webstat_conditions.h"
#include "fuzz_files.h"

namespace {

bool IsReleased(const WebstatConditions& c) {
  return c.user == nullptr && c.host == nullptr && c.ip == nullptr && c.code == nullptr &&
         c.content == nullptr && c.ipRanges == nullptr && c.ipRangeCount == 0 && c.start == 0 &&
         c.end == 0 && c.blockedMask == 0 && c.phaseMask == 0 && c.wfcatMask == 0 &&
         c.wfcatActive == 0 && c.volumeSign == 0 && c.volumeThreshold == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = fuzz::WideUnits(data, size);
  WebstatConditions conditions;
  ResultCode result = ParseWebstatConditions(text.c_str(), &conditions);
  if (result != kOk) {
    if (result != kErrInvalidValue && result != kErrNoMemory) std::abort();
    if (!IsReleased(conditions)) std::abort();
    return 0;
  }
  if ((conditions.ipRanges == nullptr) != (conditions.ipRangeCount == 0)) std::abort();
  fuzz::CheckNoEmptyValue(conditions.user);
  fuzz::CheckNoEmptyValue(conditions.host);
  fuzz::CheckNoEmptyValue(conditions.ip);
  fuzz::CheckNoEmptyValue(conditions.code);
  fuzz::CheckNoEmptyValue(conditions.content);
  if ((conditions.phaseMask & ~3u) != 0) std::abort();
  if (conditions.volumeSign < -1 || conditions.volumeSign > 1) std::abort();
  if (conditions.wfUncategorised != 0 && conditions.wfcatActive == 0) std::abort();
  // A second value adds to the same record.
  result = ParseWebstatConditions(L"user=x;blocked=none", &conditions);
  if (result != kOk || conditions.user == nullptr || (conditions.blockedMask & 0x10000000) == 0) {
    std::abort();
  }
  ReleaseWebstatConditions(&conditions);
  if (!IsReleased(conditions)) std::abort();
  return 0;
}
