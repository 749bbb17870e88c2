// Wildcard matching, field extraction, tokenizers and IPv4 ranges. The 8-bit
// and wide forms share one template each.
#include "common/text_match.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cwctype>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/text.h"

namespace {

inline unsigned Code(char c) { return static_cast<unsigned char>(c); }
inline unsigned Code(wchar_t c) { return static_cast<unsigned>(c); }

inline char Fold(char c) { return FoldCharA(c); }
inline wchar_t Fold(wchar_t c) { return FoldCharW(c); }

template <typename Ch>
inline bool Same(bool ignoreCase, Ch a, Ch b) {
  return a == b || (ignoreCase && Fold(a) == Fold(b));
}

template <typename Ch>
inline bool IsWild(Ch c) {
  return c == '*' || c == '?';
}

// A run after '*' is looked for by one forward scan: a mismatch restarts the
// segment without retrying the mismatching character, and the last segment
// restarts until it ends exactly at the end of the text.
template <typename Ch>
int Match(bool ignoreCase, const Ch* text, const Ch* pattern) {
  if (text == nullptr || pattern == nullptr) return 0;
  for (;;) {
    if (*text == 0) {
      while (IsWild(*pattern)) ++pattern;
      return *pattern == 0 ? 1 : 0;
    }
    Ch p = *pattern;
    if (p == 0) return 0;
    if (p == '?') {
      ++text;
      ++pattern;
      continue;
    }
    if (p != '*') {
      if (!Same(ignoreCase, *text, p)) return 0;
      ++text;
      ++pattern;
      continue;
    }
    while (IsWild(*pattern)) ++pattern;
    if (*pattern == 0) return 1;
    size_t segmentLength = 0;
    while (pattern[segmentLength] != 0 && !IsWild(pattern[segmentLength])) ++segmentLength;
    bool lastSegment = pattern[segmentLength] == 0;
    size_t matched = 0;
    for (;;) {
      if (*text == 0) return 0;
      if (Same(ignoreCase, *text, pattern[matched])) ++matched;
      else matched = 0;
      ++text;
      if (matched == segmentLength) {
        if (lastSegment && *text != 0) {
          matched = 0;
          continue;
        }
        break;
      }
    }
    pattern += segmentLength;
  }
}

template <typename Ch>
const Ch* EmptyText() {
  static const Ch empty[1] = {0};
  return empty;
}

// Stores field `index` and stops behind its delimiter: fields before it are
// skipped by a tight scan, the field is found whole, then trimmed and copied.
template <typename Ch>
int Field(const Ch** cursor, uint32_t index, Ch delimiter, const Ch* pattern, Ch* buffer,
          size_t capacity, size_t* length, bool trim) {
  if (length != nullptr) *length = 0;
  bool haveBuffer = buffer != nullptr && capacity != 0;
  if (haveBuffer) buffer[0] = 0;
  if (cursor == nullptr || *cursor == nullptr) return 0;
  const Ch* p = *cursor;
  for (uint32_t passed = 0; passed < index; ++passed) {
    Ch c;
    while ((c = *p) != 0 && c != delimiter && c != '\n') ++p;
    if (c != delimiter) {
      // The line ended before the field.
      *cursor = c == '\n' ? p + 1 : p;
      return 0;
    }
    ++p;
  }
  const Ch* begin = p;
  Ch c;
  while ((c = *p) != 0 && c != delimiter && c != '\n') ++p;
  const Ch* end = p;
  *cursor = c != 0 ? p + 1 : p;
  if (trim) {
    while (begin < end && Code(*begin) < 33) ++begin;
  }
  size_t stored = static_cast<size_t>(end - begin);
  size_t room = haveBuffer ? capacity - 1 : 0;
  if (stored > room) stored = room;
  size_t kept = stored;
  if (trim) {
    while (kept > 0 && Code(begin[kept - 1]) < 33) --kept;
  }
  if (haveBuffer) {
    for (size_t i = 0; i < kept; ++i) buffer[i] = begin[i];
    buffer[kept] = 0;
  }
  if (pattern != nullptr && !Match(true, haveBuffer ? buffer : EmptyText<Ch>(), pattern)) {
    if (haveBuffer) buffer[0] = 0;
    return 0;
  }
  if (length != nullptr) *length = stored;
  return 1;
}

template <typename Ch>
Ch* Token(Ch** cursor, uint32_t skip, Ch delimiter, bool trim) {
  if (cursor == nullptr || *cursor == nullptr) return nullptr;
  Ch* p = *cursor;
  while (skip != 0) {
    if (*p == 0) {
      *cursor = p;
      return nullptr;
    }
    if (*p++ == delimiter) --skip;
  }
  if (trim) {
    while (*p != 0 && Code(*p) <= 32) ++p;
  }
  if (*p == 0) {
    *cursor = p;
    return nullptr;
  }
  Ch* start = p;
  Ch* lastKept = nullptr;
  while (*p != 0 && *p != delimiter) {
    if (Code(*p) > 32) lastKept = p;
    ++p;
  }
  Ch* next = p;
  if (*p != 0) {
    *p = 0;
    next = p + 1;
  }
  if (trim) {
    if (lastKept == nullptr) *start = 0;
    else lastKept[1] = 0;
  }
  *cursor = next;
  return start;
}

inline bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
inline bool IsSpace(wchar_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; }

template <typename Ch>
Ch* Trim(Ch* text) {
  if (text == nullptr) return nullptr;
  while (*text != 0 && IsSpace(*text)) ++text;
  Ch* end = text;
  for (Ch* p = text; *p != 0; ++p) {
    if (!IsSpace(*p)) end = p + 1;
  }
  *end = 0;
  return text;
}

// Order value (first octet most significant) <-> stored address.
uint32_t FromOrder(uint32_t value) {
  return MakeAddress(static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                     static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value));
}

template <typename Ch>
const Ch* SkipLowControls(const Ch* p) {
  while (Code(*p) >= 1 && Code(*p) <= 32) ++p;
  return p;
}

int DigitValue(unsigned c, unsigned base) {
  unsigned value;
  if (c >= '0' && c <= '9') value = c - '0';
  else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  else return -1;
  return value < base ? static_cast<int>(value) : -1;
}

template <typename Ch>
const Ch* ParseAddress(const Ch* text, uint32_t* address) {
  if (address != nullptr) *address = 0;
  if (text == nullptr || address == nullptr) return nullptr;
  const Ch* p = SkipLowControls(text);
  if (*p == 0) return nullptr;
  unsigned base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  } else if (p[0] == '0' && p[1] != '.' && p[1] != 0) {
    base = 8;
    p += 1;
  }
  uint32_t parts[4];
  int count = 0;
  for (;;) {
    uint64_t value = 0;
    int digits = 0;
    for (int d; (d = DigitValue(Code(*p), base)) >= 0; ++p, ++digits) {
      value = value * base + static_cast<unsigned>(d);
      if (value > 0xFFFFFFFFull) return nullptr;
    }
    if (digits == 0) return nullptr;
    parts[count++] = static_cast<uint32_t>(value);
    if (*p != '.') break;
    if (count == 4) return nullptr;
    // Further parts are introduced by ".", ".0x" or ".0" as the first one was.
    if (base == 16) {
      if (p[1] != '0' || (p[2] != 'x' && p[2] != 'X')) return nullptr;
      p += 3;
    } else if (base == 8) {
      if (p[1] != '0') return nullptr;
      p += 2;
    } else {
      p += 1;
    }
  }
  if (count == 1) {
    *address = FromOrder(parts[0]);
    return p;
  }
  if (count != 4) return nullptr;
  for (uint32_t part : parts) {
    if (part > 255) return nullptr;
  }
  *address = MakeAddress(static_cast<uint8_t>(parts[0]), static_cast<uint8_t>(parts[1]),
                         static_cast<uint8_t>(parts[2]), static_cast<uint8_t>(parts[3]));
  return p;
}

template <typename Ch>
inline bool EndsRange(Ch c) {
  return Code(c) <= 32;
}

template <typename Ch>
const Ch* ParseRange(const Ch* text, AddressRange* range) {
  if (range == nullptr) return nullptr;
  *range = AddressRange{0, 0, 0};
  uint32_t first = 0;
  const Ch* p = ParseAddress(text, &first);
  if (p == nullptr) return nullptr;
  p = SkipLowControls(p);
  if (*p == 0) {
    *range = AddressRange{kRangeSingle, first, 0};
    return p;
  }
  uint32_t second = 0;
  if (*p == '-') {
    const Ch* end = ParseAddress(p + 1, &second);
    if (end == nullptr || !EndsRange(*end)) return nullptr;
    *range = AddressRange{kRangeFromTo, first, second};
    return end;
  }
  if (*p != '/') return nullptr;
  ++p;
  const Ch* digit = p;
  uint32_t prefix = 0;
  while (Code(*digit) >= '0' && Code(*digit) <= '9') {
    if (prefix < 1000) prefix = prefix * 10 + (Code(*digit) - '0');
    ++digit;
  }
  // A prefix length is at most 32; anything else is read as a mask address.
  if (digit != p && prefix <= 32 && EndsRange(*digit)) {
    uint32_t order = prefix >= 32 ? 0xFFFFFFFFu : (prefix == 0 ? 0u : 0xFFFFFFFFu << (32 - prefix));
    *range = AddressRange{kRangeMask, first, FromOrder(order)};
    return digit;
  }
  const Ch* end = ParseAddress(p, &second);
  if (end == nullptr || !EndsRange(*end)) return nullptr;
  *range = AddressRange{kRangeMask, first, second};
  return end;
}

}  // namespace

int WildcardMatch(int ignoreCase, const char* text, const char* pattern) {
  return Match(ignoreCase != 0, text, pattern);
}

int WildcardMatchWide(int ignoreCase, const wchar_t* text, const wchar_t* pattern) {
  return Match(ignoreCase != 0, text, pattern);
}

int GetField(const char** cursor, uint32_t index, char delimiter, const char* pattern,
             char* buffer, size_t capacity, size_t* length) {
  return Field(cursor, index, delimiter, pattern, buffer, capacity, length, true);
}

int GetFieldRaw(const char** cursor, uint32_t index, char delimiter, const char* pattern,
                char* buffer, size_t capacity, size_t* length) {
  return Field(cursor, index, delimiter, pattern, buffer, capacity, length, false);
}

int GetFieldWide(const wchar_t** cursor, uint32_t index, wchar_t delimiter,
                 const wchar_t* pattern, wchar_t* buffer, size_t capacity, size_t* length) {
  return Field(cursor, index, delimiter, pattern, buffer, capacity, length, true);
}

uint32_t SplitFields(const char* text, size_t length, char delimiter, TextView* fields,
                     uint32_t maxFields) {
  if (text == nullptr || fields == nullptr || maxFields == 0) return 0;
  const char* start = text;
  const char* p = text;
  const char* end = text + length;
  uint32_t count = 0;
  // Records the field that ends at `stop`; true when no more are wanted.
  auto close = [&](const char* stop) {
    fields[count++] = TextView{start, static_cast<size_t>(stop - start)};
    start = stop + 1;
    return count == maxFields;
  };
#if defined(__SSE2__)
  // Sixteen bytes at a time, two blocks per step where the line allows: one
  // bit mask of delimiters, one of line ends.
  const __m128i delimiters = _mm_set1_epi8(delimiter);
  const __m128i lineFeeds = _mm_set1_epi8('\n');
  const __m128i zeros = _mm_setzero_si128();
  auto stopMask = [&](const char* at) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, lineFeeds), _mm_cmpeq_epi8(block, zeros))));
  };
  auto markMask = [&](const char* at) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, delimiters)));
  };
  // Closes the fields of one step's masks; true when the split is done.
  auto closeMarks = [&](unsigned stops, unsigned marks) {
    if (stops != 0) marks &= (1u << __builtin_ctz(stops)) - 1;
    for (; marks != 0; marks &= marks - 1) {
      if (close(p + __builtin_ctz(marks))) return true;
    }
    if (stops == 0) return false;
    close(p + __builtin_ctz(stops));
    return true;
  };
  for (; end - p >= 32; p += 32) {
    const unsigned stops = stopMask(p) | (stopMask(p + 16) << 16);
    if (closeMarks(stops, markMask(p) | (markMask(p + 16) << 16))) return count;
  }
  for (; end - p >= 16; p += 16) {
    if (closeMarks(stopMask(p), markMask(p))) return count;
  }
#endif
  for (; p < end; ++p) {
    const char c = *p;
    if (c == '\n' || c == '\0') break;
    if (c == delimiter && close(p)) return count;
  }
  close(p);
  return count;
}

TextView CutField(TextView field, size_t capacity) {
  if (capacity == 0) return TextView{field.text, 0};
  return TextView{field.text, std::min(field.length, capacity - 1)};
}

char* NextToken(char** cursor, uint32_t skip, char delimiter) {
  return Token(cursor, skip, delimiter, false);
}

char* NextTokenTrimmed(char** cursor, uint32_t skip, char delimiter) {
  return Token(cursor, skip, delimiter, true);
}

wchar_t* NextTokenWide(wchar_t** cursor, uint32_t skip, wchar_t delimiter) {
  return Token(cursor, skip, delimiter, false);
}

char* TrimBlanks(char* text) { return Trim(text); }
wchar_t* TrimBlanksWide(wchar_t* text) { return Trim(text); }

const char* ParseIPv4(const char* text, uint32_t* address) { return ParseAddress(text, address); }
const wchar_t* ParseIPv4Wide(const wchar_t* text, uint32_t* address) {
  return ParseAddress(text, address);
}

const char* ParseAddressRange(const char* text, AddressRange* range) {
  return ParseRange(text, range);
}
const wchar_t* ParseAddressRangeWide(const wchar_t* text, AddressRange* range) {
  return ParseRange(text, range);
}

int MatchAddressRange(uint32_t address, const AddressRange* range) {
  if (range == nullptr) return 0;
  switch (range->kind) {
    case kRangeSingle:
      return address == range->first ? 1 : 0;
    case kRangeFromTo: {
      uint32_t value = AddressOrderValue(address);
      return value >= AddressOrderValue(range->first) && value <= AddressOrderValue(range->second)
                 ? 1
                 : 0;
    }
    case kRangeMask:
      return ((address ^ range->first) & range->second) == 0 ? 1 : 0;
    default:
      return 0;
  }
}

uint32_t MakeAddress(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t octets[4] = {a, b, c, d};
  uint32_t address;
  std::memcpy(&address, octets, 4);
  return address;
}

uint32_t AddressOrderValue(uint32_t address) {
  uint8_t octets[4];
  std::memcpy(octets, &address, 4);
  return (uint32_t{octets[0]} << 24) | (uint32_t{octets[1]} << 16) | (uint32_t{octets[2]} << 8) |
         uint32_t{octets[3]};
}
