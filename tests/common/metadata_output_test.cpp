#include "common/metadata_output.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Format(uint64_t value, uint32_t divisor) {
  char buffer[64];
  return FormatSize(value, divisor, buffer, sizeof buffer);
}

// The value read and where the number ends.
TEST(ParseScaledTest, ReadsIntegersAndFractionsUpToTheirEnd) {
  const struct {
    const char* text;
    uint32_t divisor;
    uint64_t value;
    long end;
  } cases[] = {
      {"1.5", 1024, 1536, 3},        {"12", 1, 12, 2},   {"12", 0, 12, 2},
      {"  \t7", 1, 7, 4},           {"", 1024, 0, 0},   {"2.25", 1048576, 2359296, 4},
      {"12.75;x", 1, 12, 2},         // fraction ignored without scaling
      {"1.5.7", 1024, 1536, 3},      // a second point ends the number
      {"42 kB", 1, 42, 2},
  };
  for (const auto& c : cases) {
    const char* end = nullptr;
    EXPECT_EQ(ParseScaled(c.text, c.divisor, &end), c.value) << c.text;
    EXPECT_EQ(end - c.text, c.end) << c.text;
  }
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
