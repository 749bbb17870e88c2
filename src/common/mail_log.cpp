// Mail log status words, message keys and the number forms of log fields.
#include "common/mail_log.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Digit value of every byte, -1 for bytes that are no hexadecimal digit.
struct HexTable {
  int8_t value[256];
  constexpr HexTable() : value() {
    for (int i = 0; i < 256; ++i) value[i] = -1;
    for (int i = 0; i < 10; ++i) value['0' + i] = static_cast<int8_t>(i);
    for (int i = 0; i < 6; ++i) {
      value['a' + i] = static_cast<int8_t>(10 + i);
      value['A' + i] = static_cast<int8_t>(10 + i);
    }
  }
};

constexpr HexTable kHex;

int HexValue(char c) { return kHex.value[static_cast<unsigned char>(c)]; }

#if defined(__SSE2__)
// The values of 16 hexadecimal digits, one per byte; false when a byte of
// `checked` (a bit mask of the bytes) is no digit.
bool HexDigits16(__m128i text, uint32_t checked, __m128i* values) {
  const __m128i lower = _mm_or_si128(text, _mm_set1_epi8(0x20));
  const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(text, _mm_set1_epi8('0' - 1)),
                                      _mm_cmplt_epi8(text, _mm_set1_epi8('9' + 1)));
  const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(lower, _mm_set1_epi8('a' - 1)),
                                       _mm_cmplt_epi8(lower, _mm_set1_epi8('f' + 1)));
  const auto valid = static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(digit, letter)));
  if ((valid & checked) != checked) return false;
  *values = _mm_or_si128(_mm_and_si128(digit, _mm_sub_epi8(text, _mm_set1_epi8('0'))),
                         _mm_and_si128(letter, _mm_sub_epi8(lower, _mm_set1_epi8('a' - 10))));
  return true;
}

// Each pair of digit values (the high one first) as one byte, in the low
// byte of each 16-bit lane.
__m128i PairDigits(__m128i values) {
  return _mm_and_si128(_mm_or_si128(_mm_slli_epi16(values, 4), _mm_srli_epi16(values, 8)),
                       _mm_set1_epi16(0x00FF));
}

// A whole key of 40 digits at once; false when one of them is no digit.
bool DecodeWholeKey(const char* text, MessageKey* key) {
  __m128i first, second, third;
  if (!HexDigits16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text)), 0xFFFF, &first) ||
      !HexDigits16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 16)), 0xFFFF, &second) ||
      !HexDigits16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(text + 32)), 0xFF, &third)) {
    return false;
  }
  const __m128i head = _mm_packus_epi16(PairDigits(first), PairDigits(second));
  const __m128i tail = _mm_packus_epi16(PairDigits(third), _mm_setzero_si128());
  _mm_storeu_si128(reinterpret_cast<__m128i*>(key->bytes), head);
  const auto last = static_cast<uint32_t>(_mm_cvtsi128_si32(tail));
  std::memcpy(key->bytes + 16, &last, 4);
  return true;
}
#endif

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool EqualsNoCase(const char* a, const char* b) {
  while (*a != '\0' && LowerAscii(*a) == LowerAscii(*b)) {
    ++a;
    ++b;
  }
  return *a == '\0' && *b == '\0';
}

struct WordBit {
  const char* word;
  uint32_t bit;
};

constexpr WordBit kPostStatusWords[] = {
    {"STAY", kMsgStay}, {"SENT", kMsgSent}, {"DEL", kMsgDel},
    {"TRASH", kMsgTrash}, {"ND", kMsgNonDelivery},
};

constexpr WordBit kFilterWords[] = {
    {"reject", kMsgReject}, {"stop", kMsgStop},   {"virus", kMsgVirus},
    {"spam", kMsgSpam},     {"pend", kMsgPend},   {"fin", kMsgFin},
    {"stay", kMsgStay},     {"sent", kMsgSent},   {"del", kMsgDel},
    {"trash", kMsgTrash},   {"nd", kMsgNonDelivery},
};

}  // namespace

uint32_t PostStatusBit(const char* word) {
  if (word == nullptr) return 0;
  for (const WordBit& row : kPostStatusWords) {
    if (std::strcmp(word, row.word) == 0) return row.bit;
  }
  return 0;
}

uint32_t FilterWordBit(const char* word) {
  if (word == nullptr) return 0;
  for (const WordBit& row : kFilterWords) {
    if (EqualsNoCase(word, row.word)) return row.bit;
  }
  return 0;
}

size_t DecodeMessageKey(const char* text, size_t length, MessageKey* key) {
#if defined(__SSE2__)
  static_assert(kMessageKeySize == 20, "the whole-key path decodes 40 digits");
  if (text != nullptr && length >= 2 * kMessageKeySize && DecodeWholeKey(text, key)) {
    return kMessageKeySize;
  }
#endif
  std::memset(key->bytes, 0, kMessageKeySize);
  size_t count = 0;
  if (text == nullptr) return 0;
  while (count < kMessageKeySize && length >= 2) {
    int high = HexValue(text[0]);
    int low = HexValue(text[1]);
    if (high < 0 || low < 0) break;
    key->bytes[count++] = static_cast<uint8_t>(high * 16 + low);
    text += 2;
    length -= 2;
  }
  return count;
}

uint32_t ParseAutoBaseNumber(const char* text) {
  if (text == nullptr) return 0;
  errno = 0;
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 0);
  if (end == text) return 0;
  return static_cast<uint32_t>(value);
}

bool ParseWholeNumber(const char* text, uint32_t* value) {
  if (text == nullptr || value == nullptr || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long long number = std::strtoull(text, &end, 0);
  if (*end != '\0' || errno != 0 || number > 0xFFFFFFFFULL) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

uint32_t ParseHexNumber(const char* text) {
  if (text == nullptr) return 0;
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 16);
  if (end == text) return 0;
  return static_cast<uint32_t>(value);
}

int32_t ParseSignedDecimal(const char* text) {
  if (text == nullptr) return 0;
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (end == text) return 0;
  return static_cast<int32_t>(value);
}
