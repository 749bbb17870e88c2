#include "common/metadata_output.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Format(uint64_t value, uint32_t divisor) {
  char buffer[64];
  return FormatSize(value, divisor, buffer, sizeof buffer);
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
