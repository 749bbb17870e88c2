#include "stat/stat_types.h"

#include <gtest/gtest.h>

#include <string>

#include "stat_test_env.h"

namespace {

struct ParseOutcome {
  ResultCode result;
  uint32_t mask;
  std::string stderrText;
};

ParseOutcome Parse(const wchar_t* text) {
  EnsureConsoleStarted();
  ParseOutcome outcome{};
  testing::internal::CaptureStderr();
  outcome.result = ParseStatTypes(text, &outcome.mask);
  outcome.stderrText = testing::internal::GetCapturedStderr();
  return outcome;
}

TEST(ParseStatTypesTest, NamesIgnoreCaseAndCombine) {
  ParseOutcome o = Parse(L"smtp,Rbl-In");
  EXPECT_EQ(o.result, kOk);
  EXPECT_EQ(o.mask, 0x31u);
  EXPECT_EQ(Parse(L"ALL").mask, 0x17377u);
  EXPECT_EQ(Parse(L"all-chart").mask, 0x44u);
  EXPECT_EQ(Parse(L" post , http ,,bip").mask, 0x300u | 0x7000u | 0x10000u);
  // A field is cut at its first white space.
  EXPECT_EQ(Parse(L"SMTP-IN extra words,RBL").mask, 0x13u);
}

TEST(ParseStatTypesTest, AddsToTheGivenMask) {
  uint32_t mask = 0x1000;
  EXPECT_EQ(ParseStatTypes(L"BIP", &mask), kOk);
  EXPECT_EQ(mask, 0x11000u);
  EXPECT_EQ(ParseStatTypes(nullptr, &mask), kErrInvalidArgument);
}

}  // namespace
