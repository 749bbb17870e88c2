// Fuzz target: wildcard matching (8-bit and wide) and field extraction never
// crash or hang; a text without wildcards matches itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/text_match.h"

namespace {

bool HasWildcard(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

void CheckFields(const std::string& line) {
  const char* cursor = line.c_str();
  char buffer[64];
  size_t length = 0;
  // Walk the whole line field by field; every call must move forward.
  for (int i = 0; i < 1000 && *cursor != '\0'; ++i) {
    const char* before = cursor;
    GetField(&cursor, 0, ';', nullptr, buffer, sizeof buffer, &length);
    if (cursor <= before || length >= sizeof buffer || std::strlen(buffer) > length) std::abort();
  }
  cursor = line.c_str();
  GetFieldRaw(&cursor, 3, ';', "*a?", buffer, 1, &length);
  if (buffer[0] != '\0') std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\0');
  std::string text = input.substr(0, split);
  std::string pattern = split == std::string::npos ? std::string("*") : input.substr(split + 1);
  pattern = pattern.substr(0, pattern.find('\0'));

  WildcardMatch(0, text.c_str(), pattern.c_str());
  WildcardMatch(1, text.c_str(), pattern.c_str());
  if (WildcardMatch(0, text.c_str(), "*") != 1) std::abort();
  if (!HasWildcard(text) && WildcardMatch(0, text.c_str(), text.c_str()) != 1) std::abort();

  std::wstring wideText(text.begin(), text.end());
  std::wstring widePattern(pattern.begin(), pattern.end());
  int narrow = WildcardMatch(0, text.c_str(), pattern.c_str());
  int wide = WildcardMatchWide(0, wideText.c_str(), widePattern.c_str());
  // Without case folding both forms see the same characters.
  std::wstring bytesAsWide;
  for (unsigned char c : text) bytesAsWide.push_back(static_cast<wchar_t>(c));
  std::wstring patternAsWide;
  for (unsigned char c : pattern) patternAsWide.push_back(static_cast<wchar_t>(c));
  if (WildcardMatchWide(0, bytesAsWide.c_str(), patternAsWide.c_str()) != narrow) std::abort();
  (void)wide;
  WildcardMatchWide(1, wideText.c_str(), widePattern.c_str());

  CheckFields(text);
  return 0;
}
