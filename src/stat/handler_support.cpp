#include "stat/handler_support.h"

#include <climits>
#include <cstring>

namespace {

// The readers stop at the NUL (Bounded false) or at `end` (Bounded true).
template <bool Bounded>
inline bool More(const char* p, const char* end) {
  if constexpr (Bounded) {
    return p < end;
  } else {
    return *p != '\0';
  }
}

inline bool IsDigitChar(char c) { return static_cast<unsigned char>(c - '0') <= 9; }

template <bool Bounded>
int32_t SignedDecimal(const char* p, const char* end) {
  while (More<Bounded>(p, end) && (*p == ' ' || *p == '\t')) ++p;
  bool negative = false;
  if (More<Bounded>(p, end) && (*p == '-' || *p == '+')) negative = *p++ == '-';
  // Past INT32_MAX the value only has to stay past it: it stops growing.
  int64_t value = 0;
  for (; More<Bounded>(p, end) && IsDigitChar(*p); ++p) {
    if (value <= INT32_MAX) value = value * 10 + (*p - '0');
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

template <bool Bounded>
uint64_t UnsignedDecimal(const char* p, const char* end) {
  while (More<Bounded>(p, end) && (*p == ' ' || *p == '\t')) ++p;
  if (More<Bounded>(p, end) && *p == '+') ++p;
  // value * 10 + digit overflows exactly when value exceeds kTenth, or equals
  // it with a digit above the last one of UINT64_MAX; it then saturates.
  constexpr uint64_t kTenth = UINT64_MAX / 10;
  constexpr uint64_t kLastDigit = UINT64_MAX % 10;
  uint64_t value = 0;
  for (; More<Bounded>(p, end) && IsDigitChar(*p); ++p) {
    const uint64_t digit = static_cast<uint64_t>(*p - '0');
    value = value > kTenth || (value == kTenth && digit > kLastDigit) ? UINT64_MAX : value * 10 + digit;
  }
  return value;
}

}  // namespace

int32_t ReadSignedDecimal(const char* text) {
  return text == nullptr ? 0 : SignedDecimal<false>(text, nullptr);
}

uint64_t ReadUnsignedDecimal(const char* text) {
  return text == nullptr ? 0 : UnsignedDecimal<false>(text, nullptr);
}

int32_t ReadSignedDecimal(TextView text) {
  return text.text == nullptr ? 0 : SignedDecimal<true>(text.text, text.text + text.length);
}

uint64_t ReadUnsignedDecimal(TextView text) {
  return text.text == nullptr ? 0 : UnsignedDecimal<true>(text.text, text.text + text.length);
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

namespace {

int KeyTie(const CounterRecord* a, const CounterRecord* b) { return CompareKeyNoCase(a->key, b->key); }

}  // namespace

int CompareCountersThenKey(void* /*context*/, const void* left, const void* right) {
  const auto* a = static_cast<const CounterRecord*>(left);
  const auto* b = static_cast<const CounterRecord*>(right);
  const int order = CompareCounterRecords(nullptr, a, b);
  return order != 0 ? order : KeyTie(a, b);
}

void ApplyCounterAddition(RecordTable* table, const KeyedProbe& probe, const CounterAddition& add) {
  CounterTableAddProbe(table, probe, add.add1, add.add2, add.last);
}

void CounterQueueAdd(CounterQueue* queue, TextView key, uint64_t add1, uint64_t add2, int64_t last) {
  KeyedProbe probe;
  if (!KeyedProbeInit(&probe, key.text, key.length)) return;
  KeyedQueueAdd(queue, probe, CounterAddition{add1, add2, last});
}

void NumberCountsAdd(NumberCounts* counts, RecordTable* table, int32_t number) {
  if (number >= 0 && number < NumberCounts::kDirect) {
    ++counts->counts[number];
    return;
  }
  char key[16];
  CounterTableAdd(table, FormatSigned(number, key), 1, 0, 0);
}

void NumberCountsFlush(NumberCounts* counts, RecordTable* table) {
  for (int32_t number = 0; number < NumberCounts::kDirect; ++number) {
    if (counts->counts[number] == 0) continue;
    char key[16];
    CounterTableAdd(table, FormatSigned(number, key), counts->counts[number], 0, 0);
    counts->counts[number] = 0;
  }
}
