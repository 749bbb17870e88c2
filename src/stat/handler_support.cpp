#include "stat/handler_support.h"

#include <climits>

namespace {

// Reads at most up to `end` (null: up to the NUL).
int32_t SignedDecimal(const char* p, const char* end) {
  auto more = [&p, end] { return end == nullptr ? *p != '\0' : p < end; };
  while (more() && (*p == ' ' || *p == '\t')) ++p;
  bool negative = false;
  if (more() && (*p == '-' || *p == '+')) negative = *p++ == '-';
  int64_t value = 0;
  while (more() && *p >= '0' && *p <= '9') {
    if (value <= INT32_MAX) value = value * 10 + (*p - '0');
    ++p;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

uint64_t UnsignedDecimal(const char* p, const char* end) {
  auto more = [&p, end] { return end == nullptr ? *p != '\0' : p < end; };
  while (more() && (*p == ' ' || *p == '\t')) ++p;
  if (more() && *p == '+') ++p;
  uint64_t value = 0;
  while (more() && *p >= '0' && *p <= '9') {
    const uint64_t digit = static_cast<uint64_t>(*p - '0');
    value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
    ++p;
  }
  return value;
}

}  // namespace

int32_t ReadSignedDecimal(const char* text) {
  return text == nullptr ? 0 : SignedDecimal(text, nullptr);
}

uint64_t ReadUnsignedDecimal(const char* text) {
  return text == nullptr ? 0 : UnsignedDecimal(text, nullptr);
}

int32_t ReadSignedDecimal(TextView text) {
  return text.text == nullptr ? 0 : SignedDecimal(text.text, text.text + text.length);
}

uint64_t ReadUnsignedDecimal(TextView text) {
  return text.text == nullptr ? 0 : UnsignedDecimal(text.text, text.text + text.length);
}

char* FormatSigned(int32_t value, char* buffer) {
  char digits[12];
  int count = 0;
  int64_t rest = value;
  const bool negative = rest < 0;
  if (negative) rest = -rest;
  do {
    digits[count++] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  char* p = buffer;
  if (negative) *p++ = '-';
  while (count > 0) *p++ = digits[--count];
  *p = '\0';
  return buffer;
}

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool EqualsNoCase(const char* field, const char* word) {
  for (; *field != '\0' && *word != '\0'; ++field, ++word) {
    char a = *field;
    char b = *word;
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
    if (a != b) return false;
  }
  return *field == *word;
}

bool EqualsNoCase(TextView field, const char* word) {
  size_t i = 0;
  for (; i < field.length && word[i] != '\0'; ++i) {
    char a = field.text[i];
    char b = word[i];
    if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
    if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
    if (a != b) return false;
  }
  return i == field.length && word[i] == '\0';
}

namespace {

int KeyTie(const CounterRecord* a, const CounterRecord* b) { return CompareKeyNoCase(a->key, b->key); }

}  // namespace

int CompareCountersThenKey(void* /*context*/, const void* left, const void* right) {
  const auto* a = static_cast<const CounterRecord*>(left);
  const auto* b = static_cast<const CounterRecord*>(right);
  const int order = CompareCounterRecords(nullptr, a, b);
  return order != 0 ? order : KeyTie(a, b);
}

int CompareMarkedThenKey(void* /*context*/, const void* left, const void* right) {
  const auto* a = static_cast<const CounterRecord*>(left);
  const auto* b = static_cast<const CounterRecord*>(right);
  if (a->total1 != b->total1) return a->total1 > b->total1 ? -1 : 1;
  if (a->total2 != b->total2) return a->total2 < b->total2 ? -1 : 1;
  return KeyTie(a, b);
}
