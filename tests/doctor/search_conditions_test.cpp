// The defaults --search conditions get at run start and limits of the
// parser (what the conditions select are cases in e2e/cases/search).
#include "doctor/search_conditions.h"

#include <gtest/gtest.h>

#include <string>

#include "common/mail_log.h"
#include "common/time.h"

namespace {

struct Conditions {
  SearchConditions record;
  ~Conditions() { ReleaseSearchConditions(&record); }
};

TEST(SearchConditionParser, PostmaxLastWinsAndIsCappedAtSixtyDays) {
  Conditions c;
  ASSERT_EQ(ParseSearchConditions(L"postmax=5;postmax=abc", &c.record), kOk);
  EXPECT_EQ(c.record.postmax, 0u);
  ASSERT_EQ(ParseSearchConditions(L"postmax=100", &c.record), kOk);
  NormaliseSearchConditions(&c.record);
  EXPECT_EQ(c.record.postmax, 60u);
  EXPECT_EQ(ParseSearchConditions(nullptr, &c.record), kErrInvalidArgument);
}

TEST(SearchConditionParser, OverlongConditionIsCutNotOverrun) {
  Conditions c;
  std::wstring text = L"from=" + std::wstring(40000, L'a');
  ASSERT_EQ(ParseSearchConditions(text.c_str(), &c.record), kOk);
  EXPECT_EQ(std::string(c.record.from[0]).size(), 32767u - 5u);
}

}  // namespace
