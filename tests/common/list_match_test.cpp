// Pattern lists and address-range lists of the condition filters.
#include <gtest/gtest.h>

#include <cstdlib>

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

TEST(PatternLists, AppendCopiesAndFreeClears) {
  char** list = nullptr;
  ASSERT_EQ(AppendPatternList(&list, "a*bc", 2), kOk);
  ASSERT_EQ(AppendPatternList(&list, "", 0), kOk);
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list[0], "a*");
  EXPECT_STREQ(list[1], "");
  EXPECT_EQ(list[2], nullptr);
  FreePatternList(&list);
  EXPECT_EQ(list, nullptr);
  FreePatternList(&list);
}

TEST(PatternLists, AddressRangesAppendOnlyWhenTheWholeTextParses) {
  AddressRange* ranges = nullptr;
  uint32_t count = 0;
  EXPECT_EQ(AppendAddressRange(&ranges, &count, "10.0.0.0/8 \t"), kOk);
  EXPECT_EQ(AppendAddressRange(&ranges, &count, "10.0.0.1-10.0.0.9"), kOk);
  EXPECT_EQ(AppendAddressRange(&ranges, &count, "10.0.0.1-x"), kErrInvalidValue);
  EXPECT_EQ(AppendAddressRange(&ranges, &count, "1.2.3.4/8 junk"), kErrInvalidValue);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(ranges[0].kind, kRangeMask);
  EXPECT_EQ(ranges[1].kind, kRangeFromTo);
  std::free(ranges);
}
