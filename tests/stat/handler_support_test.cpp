#include "stat/handler_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

namespace {

// Two counter tables hold the same records in the same order.
void ExpectSameTables(RecordTable* actual, RecordTable* expected) {
  ASSERT_EQ(RecordTableCount(actual), RecordTableCount(expected));
  for (uint32_t i = 0; i < RecordTableCount(expected); ++i) {
    const auto* a = static_cast<const CounterRecord*>(RecordTableAt(actual, i));
    const auto* e = static_cast<const CounterRecord*>(RecordTableAt(expected, i));
    EXPECT_STREQ(a->key, e->key) << "position " << i;
    EXPECT_EQ(a->total1, e->total1) << e->key;
    EXPECT_EQ(a->total2, e->total2) << e->key;
    EXPECT_EQ(a->last, e->last) << e->key;
  }
}

// Straightforward readers: blanks, a sign, digits, the value clamped to the
// type's range.
int32_t ReferenceSigned(const std::string& text) {
  size_t i = text.find_first_not_of(" \t");
  if (i == std::string::npos) return 0;
  bool negative = false;
  if (text[i] == '-' || text[i] == '+') negative = text[i++] == '-';
  __int128 value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<__int128>(value * 10 + (text[i] - '0'), __int128{1} << 40);
  }
  if (negative) value = -value;
  return static_cast<int32_t>(std::clamp<__int128>(value, INT32_MIN, INT32_MAX));
}

uint64_t ReferenceUnsigned(const std::string& text) {
  size_t i = text.find_first_not_of(" \t");
  if (i == std::string::npos) return 0;
  if (text[i] == '+') ++i;
  __int128 value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<__int128>(value * 10 + (text[i] - '0'), __int128{1} << 80);
  }
  return static_cast<uint64_t>(std::min<__int128>(value, UINT64_MAX));
}

// Differential: both number readers, on NUL-ended texts and on views that a
// digit follows, against the straightforward ones; numbers around the limits.
TEST(NumberReadersDifferential, MatchStraightforwardReaders) {
  const char alphabet[] = " \t+-0123456789x;\xb9";
  const std::string edges[] = {"2147483647", "2147483648", "-2147483648", "-2147483649",
                               "18446744073709551615", "18446744073709551616",
                               "18446744073709551619", "1844674407370955161", "000000000000000000000000042"};
  std::mt19937 random(17);
  for (int i = 0; i < 50000; ++i) {
    std::string text;
    if (i % 4 == 0) {
      text = std::string(random() % 3, ' ') + edges[random() % 9];
    } else {
      for (size_t n = random() % 24; n > 0; --n) text.push_back(alphabet[random() % (sizeof alphabet - 1)]);
    }
    const std::string line = text + "7;";
    const TextView view{line.data(), text.size()};
    ASSERT_EQ(ReadSignedDecimal(text.c_str()), ReferenceSigned(text)) << text;
    ASSERT_EQ(ReadSignedDecimal(view), ReferenceSigned(text)) << text;
    ASSERT_EQ(ReadUnsignedDecimal(text.c_str()), ReferenceUnsigned(text)) << text;
    ASSERT_EQ(ReadUnsignedDecimal(view), ReferenceUnsigned(text)) << text;
  }
}

// Differential: queued additions (case variants, NULs, keys longer than the
// queue copies, flushes in between) against the same additions made at once.
TEST(CounterQueueDifferential, SameTableAsDirectAdditions) {
  const char letters[] = {'a', 'A', 'b', 'B', '\0', '\xe1', '.', '7'};
  std::mt19937 random(5);
  RecordTable queued{};
  RecordTable direct{};
  CounterQueue queue = MakeCounterQueue(&queued);
  for (int i = 0; i < 30000; ++i) {
    const size_t length = random() % 8 == 0 ? 100 + random() % 60 : random() % 12;
    std::string line(length + 2, '|');  // the view lies inside a longer text
    for (size_t k = 1; k <= length; ++k) line[k] = letters[random() % (i % 2 ? 4 : sizeof letters)];
    const TextView key{line.data() + 1, length};
    const uint64_t add1 = random() % 4;
    CounterQueueAdd(&queue, key, add1, 1, i);
    CounterTableAddView(&direct, key.text, key.length, add1, 1, i);
    if (random() % 5000 == 0) CounterQueueFlush(&queue);
  }
  CounterQueueFlush(&queue);
  ExpectSameTables(&queued, &direct);
  RecordTableFree(&queued);
  RecordTableFree(&direct);
}

// Differential: numbers counted in the array (and around its ends) against
// one "%d" key addition per number.
TEST(NumberCountsDifferential, SameTableAsOneAdditionPerNumber) {
  const int32_t edges[] = {0, -1, NumberCounts::kDirect - 1, NumberCounts::kDirect, INT32_MIN, INT32_MAX};
  std::mt19937 random(3);
  RecordTable counted{};
  RecordTable direct{};
  NumberCounts counts{};
  for (int i = 0; i < 20000; ++i) {
    const int32_t number = i % 7 == 0 ? edges[random() % 6] : static_cast<int32_t>(random() % 1500) - 200;
    NumberCountsAdd(&counts, &counted, number);
    CounterTableAdd(&direct, std::to_string(number).c_str(), 1, 0, 0);
  }
  NumberCountsFlush(&counts, &counted);
  ExpectSameTables(&counted, &direct);
  NumberCountsFlush(&counts, &counted);  // flushing again adds nothing
  ExpectSameTables(&counted, &direct);
  RecordTableFree(&counted);
  RecordTableFree(&direct);
}

}  // namespace
