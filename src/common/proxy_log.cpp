// Field readers of the HTTP proxy log line.
#include "common/proxy_log.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <climits>
#include <cstdlib>
#include <cstring>

#include "common/text_match.h"
#include "common/time.h"

namespace {

// The field after the next `skip` ones from the cursor into buffer (trimmed,
// cut to capacity - 1). Lines hold no line end, so skipping in the same call
// reads what skipping field by field would.
void NextField(ProxyLine* line, char* buffer, size_t capacity, uint32_t skip = 0) {
  size_t length = 0;
  GetField(&line->cursor, skip, ';', nullptr, buffer, capacity, &length);
}

// strtoul with base 0 (or 10) cast to 32 bits; short plain numbers, as the
// log's are, are read here, anything else by strtoul.
uint32_t Unsigned32(const char* text, char** end, int base = 0) {
  const char* p = text;
  uint32_t value = 0;
  if (p[0] >= '1' && p[0] <= '9') {
    for (int i = 0; i < 9 && *p >= '0' && *p <= '9'; ++i) value = value * 10 + static_cast<uint32_t>(*p++ - '0');
    if (*p < '0' || *p > '9') {
      if (end != nullptr) *end = const_cast<char*>(p);
      return value;
    }
  } else if (base == 0 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigitValue(p[2]) >= 0) {
    p += 2;
    for (int i = 0; i < 8 && HexDigitValue(*p) >= 0; ++i) {
      value = (value << 4) | static_cast<uint32_t>(HexDigitValue(*p++));
    }
    if (HexDigitValue(*p) < 0) {
      if (end != nullptr) *end = const_cast<char*>(p);
      return value;
    }
  } else if (p[0] == '0' && (p[1] < '0' || p[1] > '9') && (base != 0 || (p[1] != 'x' && p[1] != 'X'))) {
    if (end != nullptr) *end = const_cast<char*>(p + 1);
    return 0;
  }
  return static_cast<uint32_t>(std::strtoul(text, end, base));
}

}  // namespace

uint64_t ParseProxySize(const char* text) {
  if (text == nullptr || std::strcmp(text, "-") == 0) return 0;
  char* end = nullptr;
  long long value = std::strtoll(text, &end, 10);
  if (end == text) return 0;
  return static_cast<uint64_t>(value) * 1024u;
}

void DecodeTransactionId(const char* text, uint8_t id[kTransactionIdSize]) {
  std::memset(id, 0, kTransactionIdSize);
  if (text == nullptr) return;
  // Whole pairs of hexadecimal digits, as nearly every id is; the first other
  // character (a NUL included) hands the rest to the careful loop below.
  uint32_t i = 0;
  for (; i < kTransactionIdSize; ++i) {
    int high = HexDigitValue(text[0]);
    if (high < 0) break;
    int low = HexDigitValue(text[1]);
    if (low < 0) break;
    id[i] = static_cast<uint8_t>((high << 4) | low);
    text += 2;
  }
  for (; i < kTransactionIdSize; ++i) {
    if (text[0] == '\0') return;
    int high = HexDigitValue(text[0]);
    if (high < 0) {
      id[i] = 0;
    } else {
      int low = text[1] != '\0' ? HexDigitValue(text[1]) : -1;
      id[i] = static_cast<uint8_t>(low < 0 ? high << 4 : (high << 4) | low);
    }
    if (text[1] == '\0') return;
    text += 2;
  }
}

void ParseCategories(const char* text, uint32_t* first, uint32_t* second) {
  *first = 0;
  *second = 0;
  if (text == nullptr) return;
  char* end = nullptr;
  *first = Unsigned32(text, &end);
  const char* p = end;
  while (*p == ' ' || *p == '\t') ++p;
  if (*p != ',') return;
  ++p;
  while (*p == ' ' || *p == '\t') ++p;
  *second = Unsigned32(p, &end);
}

void CutContentType(char* text) {
  for (char* p = text; (p = std::strchr(p, '_')) != nullptr; ++p) {
    if (p[1] == ' ' || (p[1] == 'c' && p[2] == 'h' && p[3] == 'a' && p[4] == 'r')) {
      *p = '\0';
      return;
    }
  }
}

uint32_t ProxyAddressOrder(const char* text) {
  uint32_t value = 0;
  const char* p = text != nullptr ? text : "";
  for (int part = 0; part < 4; ++part) {
    char* end = nullptr;
    unsigned long number = std::strtoul(p, &end, 10);
    value = (value << 8) | static_cast<uint32_t>(number % 256);
    // The next part starts one character after the end of this number.
    if (*end == '\0') {
      p = end;
    } else {
      p = end + 1;
    }
  }
  return value;
}

ResultCode ReadProxyHead(const char* line, ProxyLine* out) {
  out->cursor = line;
  out->kind = 0;
  std::memset(out->id, 0, sizeof out->id);
  char field[kProxyTimeField];
  NextField(out, field, sizeof field, 1);
  if (ParseTimeOfDay(field, &out->timeOfDay, nullptr, nullptr, nullptr) != kOk) {
    return kErrInvalidValue;
  }
  NextField(out, field, sizeof field);
  out->kind = field[0];
  NextField(out, out->scratch, sizeof out->scratch);
  DecodeTransactionId(out->scratch, out->id);
  return kOk;
}

void ReadProxyTraffic(ProxyLine* line) {
  NextField(line, line->scratch, sizeof line->scratch);
  line->size5 = ParseProxySize(line->scratch);
  NextField(line, line->scratch, sizeof line->scratch);
  line->size6 = ParseProxySize(line->scratch);
  NextField(line, line->ip, sizeof line->ip);
  NextField(line, line->user, sizeof line->user);
  NextField(line, line->host, sizeof line->host);
}

void ReadProxyEnd(ProxyLine* line) {
  size_t length = 0;
  NextField(line, line->code, sizeof line->code);
  NextField(line, line->reason, sizeof line->reason, 1);
  GetFieldRaw(&line->cursor, 0, ';', nullptr, line->detail, sizeof line->detail, &length);
  NextField(line, line->scratch, sizeof line->scratch);
  ParseCategories(line->scratch, &line->categories1, &line->categories2);
  NextField(line, line->scratch, sizeof line->scratch, 2);
  line->webFilterFlag = static_cast<uint32_t>(std::strtoul(line->scratch, nullptr, 10));
  NextField(line, line->content, sizeof line->content, 3);
  CutContentType(line->content);
}

uint64_t ParseProxySizeView(TextView field) {
  const char* p = field.text;
  const char* end = p + field.length;
  if (field.length == 1 && p[0] == '-') return 0;
  // strtoll base 10: a sign, digits, clamped to the 64-bit range.
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  if (p == end || *p < '0' || *p > '9') return 0;
  uint64_t magnitude = 0;
  const uint64_t limit = negative ? uint64_t{1} << 63 : uint64_t{LLONG_MAX};
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    const uint64_t digit = static_cast<uint64_t>(*p - '0');
    magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
  }
  const uint64_t value = negative ? uint64_t{0} - magnitude : magnitude;
  return value * 1024u;
}

namespace {

#if defined(__SSE2__)
// Sixteen hexadecimal digits into eight bytes; false when one is no digit.
bool DecodeHex16(__m128i text, uint8_t* out) {
  const __m128i digits = _mm_sub_epi8(text, _mm_set1_epi8('0'));
  // Unsigned "below" by a signed compare after moving the range to the bottom.
  const __m128i bias = _mm_set1_epi8(-128);
  const __m128i isDigit = _mm_cmplt_epi8(_mm_add_epi8(digits, bias), _mm_set1_epi8(-128 + 10));
  const __m128i letters = _mm_sub_epi8(_mm_or_si128(text, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
  const __m128i isLetter = _mm_cmplt_epi8(_mm_add_epi8(letters, bias), _mm_set1_epi8(-128 + 6));
  if (_mm_movemask_epi8(_mm_or_si128(isDigit, isLetter)) != 0xFFFF) return false;
  const __m128i values = _mm_or_si128(_mm_and_si128(isDigit, digits),
                                      _mm_and_si128(isLetter, _mm_add_epi8(letters, _mm_set1_epi8(10))));
  // Byte pairs (high digit first) into one byte each.
  const __m128i high = _mm_slli_epi16(_mm_and_si128(values, _mm_set1_epi16(0x00FF)), 4);
  const __m128i low = _mm_srli_epi16(values, 8);
  const __m128i bytes = _mm_packus_epi16(_mm_or_si128(high, low), _mm_setzero_si128());
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
  return true;
}
#endif

// Forty hexadecimal digits, as nearly every id is; false for any other text.
bool DecodeHexId(const char* text, uint8_t id[kTransactionIdSize]) {
#if defined(__SSE2__)
  uint8_t bytes[24];
  char tail[16];
  std::memcpy(tail, text + 32, 8);
  std::memset(tail + 8, '0', 8);
  if (!DecodeHex16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text)), bytes) ||
      !DecodeHex16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 16)), bytes + 8) ||
      !DecodeHex16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(tail)), bytes + 16)) {
    return false;
  }
  std::memcpy(id, bytes, kTransactionIdSize);
  return true;
#else
  int bad = 0;
  for (uint32_t i = 0; i < kTransactionIdSize; ++i) {
    const int high = HexDigitValue(text[2 * i]);
    const int low = HexDigitValue(text[2 * i + 1]);
    bad |= high | low;
    id[i] = static_cast<uint8_t>((high << 4) | low);
  }
  return bad >= 0;
#endif
}

}  // namespace

void DecodeTransactionIdView(TextView field, uint8_t id[kTransactionIdSize]) {
  if (field.length >= 2 * kTransactionIdSize && DecodeHexId(field.text, id)) return;
  // Only the first 40 characters count; one more tells the decoder that the
  // field goes on.
  char text[2 * kTransactionIdSize + 2];
  const size_t length = field.length < sizeof text - 1 ? field.length : sizeof text - 1;
  std::memcpy(text, field.text, length);
  text[length] = '\0';
  DecodeTransactionId(text, id);
}

namespace {

// Splits text[from, fields->end) into the fields after the ones split so
// far, up to field upTo.
void SplitFrom(ProxyFields* fields, uint32_t from, uint32_t upTo) {
  TextView views[kProxyFieldsMax];
  const uint32_t found = SplitFields(fields->text + from, fields->end - from, ';', views,
                                     upTo - fields->count);
  for (uint32_t i = 0; i < found; ++i) {
    fields->ends[fields->count++] =
        static_cast<uint32_t>(views[i].text + views[i].length - fields->text);
  }
  const uint32_t stop = fields->ends[fields->count - 1];
  fields->more = fields->count == upTo && stop < fields->end && fields->text[stop] == ';';
}

}  // namespace

void SplitProxyFields(const char* text, size_t length, ProxyFields* fields, uint32_t upTo) {
  // The split stops at a NUL, so a CR after one is never reached.
  if (length > 0 && text[length - 1] == '\r') --length;
  fields->text = text;
  fields->end = static_cast<uint32_t>(length);
  fields->count = 0;
  SplitFrom(fields, 0, upTo);
}

void SplitProxyPiece(const char* text, size_t length, const PieceFields& found,
                     uint32_t wanted, ProxyFields* fields) {
  // The reader's length stops at a NUL only when it looked for one.
  size_t end = found.nulSought ? found.length : length;
  if (end == length && length > 0 && text[length - 1] == '\r') --end;
  fields->text = text;
  fields->end = static_cast<uint32_t>(end);
  const uint32_t count = found.count < kProxyFieldsMax ? found.count : kProxyFieldsMax - 1;
  std::memcpy(fields->ends, found.at, count * sizeof(uint32_t));
  if (count < wanted) {
    // Every separator of the line is known: the last field runs to its end.
    fields->ends[count] = fields->end;
    fields->count = count + 1;
    fields->more = false;
  } else {
    fields->count = count;
    fields->more = true;
  }
}

void SplitProxyFieldsOn(ProxyFields* fields, uint32_t upTo) {
  SplitFrom(fields, fields->ends[fields->count - 1] + 1, upTo);
}

namespace {

// A trimmed field copied into buffer (cut to capacity - 1, terminated).
void CopyTrimmed(ProxyFields* fields, uint32_t number, char* buffer, size_t capacity) {
  ExtendProxyFields(fields, number);
  const TextView view = TrimField(fields->Field(number), capacity);
  std::memcpy(buffer, view.text, view.length);
  buffer[view.length] = '\0';
}

TextView Trimmed(ProxyFields* fields, uint32_t number, size_t capacity) {
  ExtendProxyFields(fields, number);
  return TrimField(fields->Field(number), capacity);
}

}  // namespace

ResultCode ReadProxyTimeAndKind(ProxyFields* fields, ProxyLine* out) {
  out->cursor = nullptr;
  out->kind = 0;
  const TextView time = Trimmed(fields, 2, kProxyTimeField);
  if (ParseTimeOfDayText(time.text, time.length, &out->timeOfDay, nullptr) != kOk) {
    return kErrInvalidValue;
  }
  const TextView kind = Trimmed(fields, 3, kProxyTimeField);
  out->kind = kind.length != 0 ? kind.text[0] : 0;
  return kOk;
}

void ReadProxyId(ProxyFields* fields, ProxyLine* out) {
  DecodeTransactionIdView(Trimmed(fields, 4, kProxyNumberField), out->id);
}

ResultCode ReadProxyHeadSplit(ProxyFields* fields, ProxyLine* out) {
  std::memset(out->id, 0, sizeof out->id);
  if (ReadProxyTimeAndKind(fields, out) != kOk) return kErrInvalidValue;
  ReadProxyId(fields, out);
  return kOk;
}

uint64_t ReadProxySize(ProxyFields* fields, uint32_t number) {
  return ParseProxySizeView(Trimmed(fields, number, kProxyNumberField));
}

void ReadProxyNames(ProxyFields* fields, ProxyLine* line) {
  CopyTrimmed(fields, 7, line->ip, sizeof line->ip);
  CopyTrimmed(fields, 8, line->user, sizeof line->user);
  CopyTrimmed(fields, 9, line->host, sizeof line->host);
}

void ReadProxyTrafficSplit(ProxyFields* fields, ProxyLine* line) {
  line->size5 = ReadProxySize(fields, 5);
  line->size6 = ReadProxySize(fields, 6);
  ReadProxyNames(fields, line);
}

void ReadProxyBlock(ProxyFields* fields, ProxyLine* line) {
  CopyTrimmed(fields, 12, line->reason, sizeof line->reason);
  CopyTrimmed(fields, 17, line->scratch, sizeof line->scratch);
  line->webFilterFlag = Unsigned32(line->scratch, nullptr, 10);
}

void ReadProxyEndSplit(ProxyFields* fields, ProxyLine* line, bool withContent) {
  CopyTrimmed(fields, 10, line->code, sizeof line->code);
  ReadProxyBlock(fields, line);
  ExtendProxyFields(fields, 13);
  const TextView detail = CutField(fields->Field(13), sizeof line->detail);
  std::memcpy(line->detail, detail.text, detail.length);
  line->detail[detail.length] = '\0';
  CopyTrimmed(fields, 14, line->scratch, sizeof line->scratch);
  ParseCategories(line->scratch, &line->categories1, &line->categories2);
  line->content[0] = '\0';
  if (withContent) {
    CopyTrimmed(fields, 21, line->content, sizeof line->content);
    CutContentType(line->content);
  }
}
