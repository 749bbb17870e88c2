// Field readers of the HTTP proxy log line.
#include "common/proxy_log.h"

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

uint32_t Unsigned32(const char* text, char** end) {
  return static_cast<uint32_t>(std::strtoul(text, end, 0));
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

void DecodeTransactionIdView(TextView field, uint8_t id[kTransactionIdSize]) {
  // Only the first 40 characters count; one more tells the decoder that the
  // field goes on.
  char text[2 * kTransactionIdSize + 2];
  const size_t length = field.length < sizeof text - 1 ? field.length : sizeof text - 1;
  std::memcpy(text, field.text, length);
  text[length] = '\0';
  DecodeTransactionId(text, id);
}

void SplitProxyFields(const char* text, size_t length, ProxyFields* fields) {
  // The split stops at a NUL, so a CR after one is never reached.
  if (length > 0 && text[length - 1] == '\r') --length;
  fields->count = SplitFields(text, length, ';', fields->at, kProxyFieldsMax);
}

namespace {

// A trimmed field copied into buffer (cut to capacity - 1, terminated).
void CopyTrimmed(const ProxyFields& fields, uint32_t number, char* buffer, size_t capacity) {
  const TextView view = TrimField(fields.Field(number), capacity);
  std::memcpy(buffer, view.text, view.length);
  buffer[view.length] = '\0';
}

}  // namespace

ResultCode ReadProxyHeadSplit(const ProxyFields& fields, ProxyLine* out) {
  out->cursor = nullptr;
  out->kind = 0;
  std::memset(out->id, 0, sizeof out->id);
  const TextView time = TrimField(fields.Field(2), kProxyTimeField);
  if (ParseTimeOfDayText(time.text, time.length, &out->timeOfDay, nullptr) != kOk) {
    return kErrInvalidValue;
  }
  const TextView kind = TrimField(fields.Field(3), kProxyTimeField);
  out->kind = kind.length != 0 ? kind.text[0] : 0;
  DecodeTransactionIdView(TrimField(fields.Field(4), kProxyNumberField), out->id);
  return kOk;
}

void ReadProxyTrafficSplit(const ProxyFields& fields, ProxyLine* line) {
  line->size5 = ParseProxySizeView(TrimField(fields.Field(5), kProxyNumberField));
  line->size6 = ParseProxySizeView(TrimField(fields.Field(6), kProxyNumberField));
  CopyTrimmed(fields, 7, line->ip, sizeof line->ip);
  CopyTrimmed(fields, 8, line->user, sizeof line->user);
  CopyTrimmed(fields, 9, line->host, sizeof line->host);
}

void ReadProxyEndSplit(const ProxyFields& fields, ProxyLine* line, bool withContent) {
  CopyTrimmed(fields, 10, line->code, sizeof line->code);
  CopyTrimmed(fields, 12, line->reason, sizeof line->reason);
  const TextView detail = CutField(fields.Field(13), sizeof line->detail);
  std::memcpy(line->detail, detail.text, detail.length);
  line->detail[detail.length] = '\0';
  CopyTrimmed(fields, 14, line->scratch, sizeof line->scratch);
  ParseCategories(line->scratch, &line->categories1, &line->categories2);
  CopyTrimmed(fields, 17, line->scratch, sizeof line->scratch);
  line->webFilterFlag = static_cast<uint32_t>(std::strtoul(line->scratch, nullptr, 10));
  line->content[0] = '\0';
  if (withContent) {
    CopyTrimmed(fields, 21, line->content, sizeof line->content);
    CutContentType(line->content);
  }
}
