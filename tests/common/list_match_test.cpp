// Pattern lists and address-range lists of the condition filters.
#include <gtest/gtest.h>

#include "common/list_match.h"
#include "common/text_match.h"

namespace {

TEST(ListMatchTest, PatternListMatchesAnyEntry) {
  const char* patterns[] = {"*@example.com", "root@*", nullptr};
  EXPECT_EQ(MatchPatternList(patterns, "Anna@EXAMPLE.com", 1), 1);
  EXPECT_EQ(MatchPatternList(patterns, "Anna@EXAMPLE.com", 0), 0);
  EXPECT_EQ(MatchPatternList(patterns, "root@host", 0), 1);
  EXPECT_EQ(MatchPatternList(patterns, "anna@example.org", 1), 0);
  EXPECT_EQ(MatchPatternList(nullptr, "x", 1), 0);
}

TEST(ListMatchTest, RangeFirstThenPatternsAsFallback) {
  AddressRange ranges[1] = {};
  ASSERT_NE(ParseAddressRange("10.0.0.0/8", &ranges[0]), nullptr);
  const char* patterns[] = {"192.168.*", nullptr};
  EXPECT_EQ(MatchAddressOrPattern("10.1.2.3", patterns, ranges, 1), 1);
  EXPECT_EQ(MatchAddressOrPattern("192.168.7.1", patterns, ranges, 1), 1);
  EXPECT_EQ(MatchAddressOrPattern("172.16.0.1", patterns, ranges, 1), 0);
  // Without patterns only the ranges decide; with a zero count the ranges are ignored.
  EXPECT_EQ(MatchAddressOrPattern("172.16.0.1", nullptr, ranges, 1), 0);
  EXPECT_EQ(MatchAddressOrPattern("10.1.2.3", nullptr, ranges, 0), 0);
  EXPECT_EQ(MatchAddressOrPattern("mail.example", patterns, ranges, 1), 0);
}

}  // namespace
