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

#include <cstdlib>
#include <cstring>

ResultCode AppendPatternList(char*** list, const char* text, size_t length) {
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (copy == nullptr) return kErrNoMemory;
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  size_t count = 0;
  if (*list != nullptr) {
    while ((*list)[count] != nullptr) ++count;
  }
  char** grown = static_cast<char**>(std::realloc(*list, (count + 2) * sizeof(char*)));
  if (grown == nullptr) {
    std::free(copy);
    return kErrNoMemory;
  }
  grown[count] = copy;
  grown[count + 1] = nullptr;
  *list = grown;
  return kOk;
}

void FreePatternList(char*** list) {
  if (*list == nullptr) return;
  for (char** p = *list; *p != nullptr; ++p) std::free(*p);
  std::free(*list);
  *list = nullptr;
}

ResultCode AppendAddressRange(AddressRange** ranges, uint32_t* count, const char* text) {
  AddressRange range{};
  const char* rest = ParseAddressRange(text, &range);
  if (rest == nullptr) return kErrInvalidValue;
  while (*rest == ' ' || *rest == '\t') ++rest;
  if (*rest != '\0') return kErrInvalidValue;
  auto* grown =
      static_cast<AddressRange*>(std::realloc(*ranges, (*count + 1) * sizeof(AddressRange)));
  if (grown == nullptr) return kErrNoMemory;
  grown[*count] = range;
  *ranges = grown;
  ++*count;
  return kOk;
}
