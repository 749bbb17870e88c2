// Fuzz target: address and range parsing never reads past the text, and a
// parsed range is consistent with its own bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/text_match.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.substr(0, text.find('\0'));
  const char* begin = text.c_str();
  const char* end = begin + text.size();

  uint32_t address = 1;
  const char* after = ParseIPv4(begin, &address);
  if (after == nullptr && address != 0) std::abort();
  if (after != nullptr && (after < begin || after > end)) std::abort();

  AddressRange range{9, 9, 9};
  after = ParseAddressRange(begin, &range);
  if (after == nullptr) {
    if (range.kind != 0 || range.first != 0 || range.second != 0) std::abort();
    return 0;
  }
  if (after < begin || after > end) std::abort();
  switch (range.kind) {
    case kRangeSingle:
    case kRangeMask:
      if (MatchAddressRange(range.first, &range) != 1) std::abort();
      break;
    case kRangeFromTo: {
      bool ordered = AddressOrderValue(range.first) <= AddressOrderValue(range.second);
      if (MatchAddressRange(range.first, &range) != (ordered ? 1 : 0)) std::abort();
      if (MatchAddressRange(range.second, &range) != (ordered ? 1 : 0)) std::abort();
      break;
    }
    default:
      std::abort();
  }
  std::wstring wide(text.begin(), text.end());
  AddressRange wideRange{};
  const wchar_t* wideAfter = ParseAddressRangeWide(wide.c_str(), &wideRange);
  if ((wideAfter == nullptr) != (after == nullptr) || wideRange.kind != range.kind ||
      wideRange.first != range.first || wideRange.second != range.second) {
    std::abort();
  }
  return 0;
}
