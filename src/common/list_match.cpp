// Matching a text against wildcard pattern lists and address ranges.
#include "common/list_match.h"

#include "common/text_match.h"

int MatchPatternList(const char* const* patterns, const char* text, int ignoreCase) {
  if (patterns == nullptr || text == nullptr) return 0;
  for (const char* const* pattern = patterns; *pattern != nullptr; ++pattern) {
    if (WildcardMatch(ignoreCase, text, *pattern)) return 1;
  }
  return 0;
}

int MatchAddressOrPattern(const char* text, const char* const* patterns,
                          const AddressRange* ranges, size_t rangeCount) {
  if (text == nullptr) return 0;
  uint32_t address = 0;
  if (ranges != nullptr && rangeCount != 0 && ParseIPv4(text, &address) != nullptr) {
    for (size_t i = 0; i < rangeCount; ++i) {
      if (MatchAddressRange(address, &ranges[i])) return 1;
    }
  }
  return MatchPatternList(patterns, text, 1);
}
