// Fuzz target: any --search value gives a valid record or -29/-2 with the
// record released, and releasing always leaves a zeroed record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/mail_log.h"
#include "doctor/search_conditions.h"
#include "fuzz_files.h"

namespace {

bool IsReleased(const SearchConditions& c) {
  return c.flags == 0 && c.from == nullptr && c.to == nullptr && c.ip == nullptr &&
         c.id == nullptr && c.ipRanges == nullptr && c.ipRangeCount == 0 && c.start == 0 &&
         c.end == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = fuzz::WideUnits(data, size);
  SearchConditions conditions;
  ResultCode result = ParseSearchConditions(text.c_str(), &conditions);
  if (result != kOk) {
    if (result != kErrInvalidValue && result != kErrNoMemory) std::abort();
    if (!IsReleased(conditions)) std::abort();
    return 0;
  }
  if ((conditions.ipRanges == nullptr) != (conditions.ipRangeCount == 0)) std::abort();
  fuzz::CheckNoEmptyValue(conditions.from);
  fuzz::CheckNoEmptyValue(conditions.to);
  fuzz::CheckNoEmptyValue(conditions.ip);
  fuzz::CheckNoEmptyValue(conditions.id);
  if ((conditions.flags & kMsgStateBits) != 0) std::abort();
  NormaliseSearchConditions(&conditions);
  if ((conditions.flags & kMsgDirections) == 0 || conditions.postmax == 0 ||
      conditions.postmax > 60) {
    std::abort();
  }
  ReleaseSearchConditions(&conditions);
  if (!IsReleased(conditions)) std::abort();
  return 0;
}
