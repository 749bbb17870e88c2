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

TEST(NameFromMaskTest, ReplacesFirstStarWithDate) {
  std::wstring name;
  EXPECT_EQ(NameFromMask(L"_smtp*.csv", 2008, 4, 27, &name), kOk);
  EXPECT_EQ(name, L"_smtp20080427.csv");
  EXPECT_EQ(NameFromMask(L"a*b*", 2010, 12, 1, &name), kOk);
  EXPECT_EQ(name, L"a20101201b*");
  const std::wstring longMask = std::wstring(252, L'x') + L"*";
  EXPECT_EQ(NameFromMask(longMask.c_str(), 2010, 12, 1, &name), kErrBufferTooSmall);
  EXPECT_EQ(NameFromMask(std::wstring(251, L'x').append(L"*").c_str(), 2010, 12, 1, &name), kOk);
}

}  // namespace
