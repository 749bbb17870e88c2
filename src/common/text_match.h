// Wildcard matching, field extraction from delimiter-separated lines,
// in-place tokenizers, trimming, and IPv4 addresses and address ranges.
#pragma once

#include <cstddef>
#include <cstdint>

// '*' matches a run of characters, '?' one character. The run after a '*' is
// found by a single forward scan without backtracking. A missing text or
// pattern is 0; ignoreCase folds each character with FoldCharA / FoldCharW.
int WildcardMatch(int ignoreCase, const char* text, const char* pattern);
int WildcardMatchWide(int ignoreCase, const wchar_t* text, const wchar_t* pattern);

// Field `index` of the line at *cursor (fields separated by `delimiter`, the
// line ended by '\n' or NUL), with blanks (characters up to 32) trimmed at both
// ends, stored NUL-terminated while the stored count plus one is below
// `capacity`. The cursor moves behind the delimiter that ends the field (or to
// the end of the line), so consecutive fields are read with index 0.
// With a pattern the field must match it ignoring case. Returns 1 when the
// field exists (and matches), else 0 with an empty buffer and length 0.
// *length: characters stored before trailing blanks were cut.
int GetField(const char** cursor, uint32_t index, char delimiter, const char* pattern,
             char* buffer, size_t capacity, size_t* length);
// As GetField, but nothing is trimmed; *length is the stored length.
int GetFieldRaw(const char** cursor, uint32_t index, char delimiter, const char* pattern,
                char* buffer, size_t capacity, size_t* length);
int GetFieldWide(const wchar_t** cursor, uint32_t index, wchar_t delimiter,
                 const wchar_t* pattern, wchar_t* buffer, size_t capacity, size_t* length);

// A run of `length` bytes at `text`, not terminated.
struct TextView {
  const char* text;
  size_t length;
};

// Splits the line text[0, length) at `delimiter` in one pass (the line also
// ends at its first LF or NUL) into fields[0, n) and returns n: the fields the
// line has, at most maxFields (the last one found ends at its delimiter).
// Field i exists exactly when GetField of index i from the line start finds it.
uint32_t SplitFields(const char* text, size_t length, char delimiter, TextView* fields,
                     uint32_t maxFields);
// The field as GetField stores it in `capacity` bytes: blanks (bytes up to 32)
// skipped at the start, at most capacity - 1 bytes kept, blanks cut at the end.
inline TextView TrimField(TextView field, size_t capacity) {
  const unsigned char* begin = reinterpret_cast<const unsigned char*>(field.text);
  const unsigned char* end = begin + field.length;
  if (capacity == 0 || begin == nullptr) return TextView{field.text, 0};
  while (begin < end && *begin <= 32) ++begin;
  size_t kept = static_cast<size_t>(end - begin);
  if (kept > capacity - 1) kept = capacity - 1;
  while (kept > 0 && begin[kept - 1] <= 32) --kept;
  return TextView{reinterpret_cast<const char*>(begin), kept};
}
// The field as GetFieldRaw stores it in `capacity` bytes (at most capacity - 1).
TextView CutField(TextView field, size_t capacity);

// Skips `skip` delimiters, then cuts the token at the next delimiter with a
// NUL and moves the cursor behind it. Returns the token start, or nullptr
// when the text runs out while skipping, no text is left for a token, or
// the cursor is missing.
char* NextToken(char** cursor, uint32_t skip, char delimiter);
// As NextToken, with characters up to 32 trimmed around the token.
char* NextTokenTrimmed(char** cursor, uint32_t skip, char delimiter);
wchar_t* NextTokenWide(wchar_t** cursor, uint32_t skip, wchar_t delimiter);

// Skips leading white space and cuts trailing white space in place.
char* TrimBlanks(char* text);
wchar_t* TrimBlanksWide(wchar_t* text);

// kind 1: single address `first`; 2: range first..second; 3: first with
// mask `second`. Addresses hold the octets in network order (first octet in
// the lowest-addressed byte).
struct AddressRange {
  uint32_t kind;
  uint32_t first;
  uint32_t second;
};

constexpr uint32_t kRangeSingle = 1;
constexpr uint32_t kRangeFromTo = 2;
constexpr uint32_t kRangeMask = 3;

// An address in dotted decimal, 0x-hex or 0-octal parts, or one 32-bit
// number. Returns the position after it, or nullptr (address 0).
const char* ParseIPv4(const char* text, uint32_t* address);
const wchar_t* ParseIPv4Wide(const wchar_t* text, uint32_t* address);

// "a", "a-b", "a/prefix" or "a/mask". Returns the position after the range,
// or nullptr with a zeroed range.
const char* ParseAddressRange(const char* text, AddressRange* range);
const wchar_t* ParseAddressRangeWide(const wchar_t* text, AddressRange* range);

int MatchAddressRange(uint32_t address, const AddressRange* range);

// Octets <-> address value (a.b.c.d with a in the lowest-addressed byte).
uint32_t MakeAddress(uint8_t a, uint8_t b, uint8_t c, uint8_t d);
// The address with its first octet as the most significant byte, for
// comparisons in address order.
uint32_t AddressOrderValue(uint32_t address);

// Value of a hexadecimal digit (either case), -1 for any other character.
struct HexDigitTable {
  int8_t value[256];
  constexpr HexDigitTable() : value() {
    for (int i = 0; i < 256; ++i) value[i] = -1;
    for (int i = 0; i < 10; ++i) value['0' + i] = static_cast<int8_t>(i);
    for (int i = 0; i < 6; ++i) {
      value['a' + i] = static_cast<int8_t>(10 + i);
      value['A' + i] = static_cast<int8_t>(10 + i);
    }
  }
};
inline constexpr HexDigitTable kHexDigits;
inline int HexDigitValue(char c) { return kHexDigits.value[static_cast<unsigned char>(c)]; }
