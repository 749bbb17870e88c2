// Parsing of --search values and the defaults applied at run start.
#include "doctor/search_conditions.h"

#include <gtest/gtest.h>

#include <string>

#include "common/mail_log.h"
#include "common/text_match.h"
#include "common/time.h"

namespace {

struct Conditions {
  SearchConditions record;
  ~Conditions() { ReleaseSearchConditions(&record); }
};

size_t ListSize(char** list) {
  size_t count = 0;
  while (list != nullptr && list[count] != nullptr) ++count;
  return count;
}

TEST(SearchConditionParser, EmptyValueGivesNoConditionsAndTheDefaultFilter) {
  Conditions c;
  ASSERT_EQ(ParseSearchConditions(L"", &c.record), kOk);
  EXPECT_EQ(c.record.from, nullptr);
  EXPECT_EQ(c.record.flags, 0u);
  NormaliseSearchConditions(&c.record);
  EXPECT_EQ(c.record.flags, kMsgDirections | kMsgFinalStates | kMsgPostStatuses);
  EXPECT_EQ(c.record.postmax, 7u);
}

TEST(SearchConditionParser, MissingTextIsAnInvalidArgument) {
  Conditions c;
  ASSERT_EQ(ParseSearchConditions(L"from=a", &c.record), kOk);
  EXPECT_EQ(ParseSearchConditions(nullptr, &c.record), kErrInvalidArgument);
  EXPECT_EQ(c.record.from, nullptr);  // released
}

TEST(SearchConditionParser, PatternsAccumulateAndEmptyValuesMatchAll) {
  Conditions c;
  ASSERT_EQ(ParseSearchConditions(L"from=;  To = bob@* ;id=AB*;from=x@y", &c.record), kOk);
  ASSERT_EQ(ListSize(c.record.from), 2u);
  EXPECT_STREQ(c.record.from[0], "*");
  EXPECT_STREQ(c.record.from[1], "x@y");
  ASSERT_EQ(ListSize(c.record.to), 1u);
  EXPECT_STREQ(c.record.to[0], "bob@*");
  EXPECT_STREQ(c.record.id[0], "AB*");
  // A second --search value adds to the same record.
  ASSERT_EQ(ParseSearchConditions(L"from=z", &c.record), kOk);
  EXPECT_EQ(ListSize(c.record.from), 3u);
}

TEST(SearchConditionParser, IpValuesSplitIntoRangesAndPatterns) {
  Conditions c;
  ASSERT_EQ(ParseSearchConditions(L"ip=10.0.0.0/8;ip=192.168.*;ip=1.2.3.4-1.2.3.9", &c.record),
            kOk);
  EXPECT_EQ(c.record.ipRangeCount, 2u);
  ASSERT_EQ(ListSize(c.record.ip), 1u);
  EXPECT_STREQ(c.record.ip[0], "192.168.*");
  uint32_t address = 0;
  ParseIPv4("10.20.30.40", &address);
  EXPECT_TRUE(MatchAddressRange(address, &c.record.ipRanges[0]));
}

TEST(SearchConditionParser, BadRangesFailAndReleaseTheRecord) {
  Conditions c;
  ASSERT_EQ(ParseSearchConditions(L"from=a", &c.record), kOk);
  EXPECT_EQ(ParseSearchConditions(L"ip=10.0.0.0/8 junk", &c.record), kErrInvalidValue);
  EXPECT_EQ(c.record.from, nullptr);
  EXPECT_EQ(ParseSearchConditions(L"ip=bad-range", &c.record), kErrInvalidValue);
  EXPECT_EQ(c.record.ipRanges, nullptr);
}

TEST(SearchConditionParser, WayAndFilterWordLists) {
  Conditions c;
  ASSERT_EQ(ParseSearchConditions(L"way= IN ,, ;FILTER=Spam, sent ,nd", &c.record), kOk);
  EXPECT_EQ(c.record.flags, kMsgIn | kMsgSpam | kMsgSent | kMsgNonDelivery);
  EXPECT_EQ(ParseSearchConditions(L"way=in,sideways", &c.record), kErrInvalidValue);
  EXPECT_EQ(c.record.flags, 0u);
  EXPECT_EQ(ParseSearchConditions(L"filter=spam,ham", &c.record), kErrInvalidValue);
}

TEST(SearchConditionParser, UnknownAndEmptyConditionsFail) {
  Conditions c;
  EXPECT_EQ(ParseSearchConditions(L"from=a;;to=b", &c.record), kErrInvalidValue);
  EXPECT_EQ(ParseSearchConditions(L"sender=a", &c.record), kErrInvalidValue);
  EXPECT_EQ(ParseSearchConditions(L";from=a", &c.record), kErrInvalidValue);
  EXPECT_EQ(ParseSearchConditions(L"  ", &c.record), kErrInvalidValue);
  EXPECT_EQ(ParseSearchConditions(L"from=a;", &c.record), kOk);  // trailing ';' is harmless
  EXPECT_EQ(ParseSearchConditions(L"\t from", &c.record), kOk);  // no '=': empty value
  EXPECT_EQ(ListSize(c.record.from), 2u);
}

TEST(SearchConditionParser, MasksOrTogetherAndPostmaxLastWins) {
  Conditions c;
  ASSERT_EQ(ParseSearchConditions(L"f-smtp=0x10;f-smtp=010;f-rbl=3;postmax=5;postmax=abc",
                                  &c.record),
            kOk);
  EXPECT_EQ(c.record.smtpFlagMask, 0x18u);
  EXPECT_EQ(c.record.rblFlagMask, 3u);
  EXPECT_EQ(c.record.postmax, 0u);
  ASSERT_EQ(ParseSearchConditions(L"postmax=100", &c.record), kOk);
  NormaliseSearchConditions(&c.record);
  EXPECT_EQ(c.record.postmax, 60u);
}

TEST(SearchConditionParser, SameStartAndEndDayCoversTheWholeDay) {
  Conditions c;
  ASSERT_EQ(ParseSearchConditions(L"start=2008/06/05;end=2008/06/05", &c.record), kOk);
  EXPECT_EQ(c.record.start, MakeTime(2008, 6, 5, 0, 0, 0));
  EXPECT_EQ(c.record.end, MakeTimeMs(2008, 6, 5, 23, 59, 59, 999));
  ASSERT_EQ(ParseSearchConditions(L"start=2008-06-05 10:00:00", &c.record), kOk);
  EXPECT_EQ(c.record.start, MakeTime(2008, 6, 5, 10, 0, 0));
  EXPECT_EQ(ParseSearchConditions(L"end=tomorrow", &c.record), kErrInvalidValue);
}

TEST(SearchConditionNormalise, StatusFilterCompletion) {
  SearchConditions c;
  c.flags = kMsgSent | 0xFF000000u;
  NormaliseSearchConditions(&c);
  EXPECT_EQ(c.flags, kMsgDirections | kMsgSent | kMsgPend | kMsgFin);
  c = SearchConditions{};
  c.flags = kMsgSpam;
  NormaliseSearchConditions(&c);
  EXPECT_EQ(c.flags, kMsgDirections | kMsgSpam | kMsgFinalStates | kMsgPostStatuses);
  c = SearchConditions{};
  c.flags = kMsgOut | kMsgReject;
  NormaliseSearchConditions(&c);
  EXPECT_EQ(c.flags, kMsgOut | kMsgReject);
  c = SearchConditions{};
  c.flags = kMsgFin | kMsgStay;
  NormaliseSearchConditions(&c);
  EXPECT_EQ(c.flags, kMsgDirections | kMsgFin | kMsgStay);
}

TEST(SearchConditionNormalise, EqualBoundsMoveTheEndByOneDay) {
  SearchConditions c;
  c.start = c.end = MakeTime(2020, 1, 1, 0, 0, 0);
  NormaliseSearchConditions(&c);
  EXPECT_EQ(c.end, c.start + kTicksPerDay);
}

TEST(SearchConditionParser, OverlongConditionIsCutNotOverrun) {
  Conditions c;
  std::wstring text = L"from=" + std::wstring(40000, L'a');
  ASSERT_EQ(ParseSearchConditions(text.c_str(), &c.record), kOk);
  EXPECT_EQ(std::string(c.record.from[0]).size(), 32767u - 5u);
}

}  // namespace
