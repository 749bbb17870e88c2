#include "common/metadata_output.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

namespace {

std::string Format(uint64_t value, uint32_t divisor) {
  char buffer[64];
  return FormatSize(value, divisor, buffer, sizeof buffer);
}

TEST(FormatSizeTest, WritesIntegersAndScaledValues) {
  EXPECT_EQ(Format(1536, 1024), "1.50");
  EXPECT_EQ(Format(1536, 0), "1536");
  EXPECT_EQ(Format(0, 1048576), "0.00");
  EXPECT_EQ(Format(18446744073709551615ULL, 0), "18446744073709551615");
  EXPECT_EQ(Format(3 * 1073741824ULL, 1073741824), "3.00");
}

TEST(FormatSizeTest, CutsToBufferAndHandlesMissingBuffer) {
  char buffer[4];
  EXPECT_STREQ(FormatSize(123456, 0, buffer, sizeof buffer), "123");
  char untouched[2] = {'x', '\0'};
  EXPECT_EQ(FormatSize(5, 0, untouched, 0), untouched);
  EXPECT_EQ(untouched[0], 'x');
  EXPECT_EQ(FormatSize(5, 0, nullptr, 10), nullptr);
}

TEST(FormatSizeTest, AlwaysWritesAPointWhateverTheLocale) {
  const char* old = setlocale(LC_NUMERIC, nullptr);
  std::string saved = old != nullptr ? old : "C";
  bool switched = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
    if (setlocale(LC_NUMERIC, name) != nullptr) {
      switched = true;
      break;
    }
  }
  const std::string text = Format(1536, 1024);
  setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(text, "1.50");
  if (!switched) GTEST_SKIP() << "no locale with a decimal comma installed";
}

TEST(ParseScaledTest, ReadsIntegersAndFractions) {
  EXPECT_EQ(ParseScaled("1.5", 1024, nullptr), 1536u);
  EXPECT_EQ(ParseScaled("12", 1, nullptr), 12u);
  EXPECT_EQ(ParseScaled("12", 0, nullptr), 12u);
  EXPECT_EQ(ParseScaled("  \t7", 1, nullptr), 7u);
  EXPECT_EQ(ParseScaled("2.25", 1048576, nullptr), 2359296u);
  EXPECT_EQ(ParseScaled("", 1024, nullptr), 0u);
}

TEST(ParseScaledTest, EndPositionRules) {
  const char* end = nullptr;
  const char text1[] = "12.75;x";
  EXPECT_EQ(ParseScaled(text1, 1, &end), 12u);  // fraction ignored without scaling
  EXPECT_EQ(end, text1 + 2);
  const char text2[] = "1.5.7";
  EXPECT_EQ(ParseScaled(text2, 1024, &end), 1536u);  // a second point ends the number
  EXPECT_EQ(end, text2 + 3);
  const char text3[] = "42 kB";
  EXPECT_EQ(ParseScaled(text3, 1, &end), 42u);
  EXPECT_EQ(end, text3 + 2);
}

TEST(ParseScaledTest, LongFractionsNeverDivideByZero) {
  const std::string text = "1." + std::string(60, '9');
  const uint64_t value = ParseScaled(text.c_str(), 1024, nullptr);
  EXPECT_GE(value, 2047u);
  EXPECT_LE(value, 2048u);
}

TEST(ParseScaledTest, RoundTripsFormatSize) {
  for (uint64_t v : {0ULL, 1ULL, 1023ULL, 1536ULL, 10ULL * 1048576ULL}) {
    const std::string text = Format(v, 1024);
    const uint64_t back = ParseScaled(text.c_str(), 1024, nullptr);
    EXPECT_LE(back > v ? back - v : v - back, 11u) << text;
  }
}

}  // namespace

namespace {

std::string TopList(RecordTable* table, uint32_t maxLines, uint64_t threshold, bool second,
                    bool duration, uint32_t unit = 0) {
  FILE* out = tmpfile();
  WriteTopList(table, nullptr, out, "T", maxLines, unit, threshold, second, duration);
  std::string text;
  rewind(out);
  char buffer[256];
  size_t got = 0;
  while ((got = fread(buffer, 1, sizeof buffer, out)) > 0) text.append(buffer, got);
  fclose(out);
  return text;
}

TEST(WriteTopListTest, LargestFirstTiesBySecondValueAndLimit) {
  RecordTable table{};
  CounterTableAdd(&table, "a", 1, 0, 0);
  CounterTableAdd(&table, "b", 5, 1, 0);
  CounterTableAdd(&table, "c", 5, 9, 0);
  CounterTableAdd(&table, "d", 3, 0, 0);
  CounterTableAdd(&table, "e", 2, 0, 0);
  EXPECT_EQ(TopList(&table, 3, 1, false, false), "T;c;5\nT;b;5\nT;d;3\n");
  EXPECT_EQ(TopList(&table, 0, 1, false, false), "T;c;5\n");
  EXPECT_EQ(TopList(&table, 0xFFFFFFFFu, 3, true, false), "T;c;5;9\nT;b;5;1\nT;d;3;0\n");
  RecordTableFree(&table);
}

TEST(WriteTopListTest, ZeroCountsNeverListedAndDurationNotWrapped) {
  RecordTable table{};
  CounterTableAdd(&table, "zero", 0, 7, 0);
  CounterTableAdd(&table, "long", 1, 1536, 90061LL * 10000000LL);
  EXPECT_EQ(TopList(&table, 0xFFFFFFFFu, 1, true, true, 1024), "T;long;0.00;1.50;25:01:01\n");
  RecordTableFree(&table);
}

}  // namespace
