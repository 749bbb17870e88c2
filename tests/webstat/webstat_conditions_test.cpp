// Parsing of --webstat conditions.
#include "webstat/webstat_conditions.h"

#include <gtest/gtest.h>

#include "common/text_match.h"
#include "common/time.h"

namespace {

struct Parsed {
  WebstatConditions conditions;
  ResultCode result;
  explicit Parsed(const wchar_t* text) { result = ParseWebstatConditions(text, &conditions); }
  ~Parsed() { ReleaseWebstatConditions(&conditions); }
};

TEST(WebstatConditions, MasksOfBlockedPhaseAndWfcat) {
  const struct {
    const wchar_t* text;
    uint32_t blocked, phase, wfcat, uncategorised, active;
  } cases[] = {
      {L"blocked=!none", 0xEFFFFFFF, 0, 0, 0, 0},
      {L"blocked=virus, WF", 0x81, 0, 0, 0, 0},
      {L"blocked=-virus", 0xFFFFFFFE, 0, 0, 0, 0},
      {L"blocked=virus;blocked=site", 0x21, 0, 0, 0, 0},
      {L"phase=finished,incomplete", 0, 3, 0, 0, 0},
      {L"PHASE=Incomplete,", 0, 2, 0, 0, 0},
      {L"wfcat=porn,0x40", 0, 0, 0x10040, 0, 1},
      {L"wfcat=-whitelist", 0, 0, 0, 0, 1},
      {L"wfcat=whitelist,advert", 0, 0, 1, 1, 1},
      {L"wfcat=-advert", 0, 0, 0xFFFFFFFE, 0, 1},
      {L"wfcat=all", 0, 0, 0xFFFFFFFF, 0, 1},
  };
  for (const auto& c : cases) {
    Parsed p(c.text);
    ASSERT_EQ(p.result, kOk) << c.text;
    EXPECT_EQ(p.conditions.blockedMask, c.blocked) << c.text;
    EXPECT_EQ(p.conditions.phaseMask, c.phase) << c.text;
    EXPECT_EQ(p.conditions.wfcatMask, c.wfcat) << c.text;
    EXPECT_EQ(p.conditions.wfUncategorised, c.uncategorised) << c.text;
    EXPECT_EQ(p.conditions.wfcatActive, c.active) << c.text;
  }
}

TEST(WebstatConditions, VolumeThresholds) {
  const struct {
    const wchar_t* text;
    int32_t sign;
    uint64_t threshold;
  } cases[] = {{L"volume=-2MiB", -1, 2097152}, {L"volume=500", 1, 500},
               {L"volume=0x10 kb", 1, 16384},  {L"volume=3 GB", 1, 3221225472ULL},
               {L"volume=1;volume=-7", -1, 7}};
  for (const auto& c : cases) {
    Parsed p(c.text);
    ASSERT_EQ(p.result, kOk) << c.text;
    EXPECT_EQ(p.conditions.volumeSign, c.sign) << c.text;
    EXPECT_EQ(p.conditions.volumeThreshold, c.threshold) << c.text;
  }
}

TEST(WebstatConditions, FailuresReleaseTheRecord) {
  const struct {
    const wchar_t* text;
    ResultCode result;
  } cases[] = {{L"user=a;volume=10 TB", kErrInvalidValue}, {L"user=a;wfcat=", kErrInvalidValue},
               {L"wfcat=0", kErrInvalidValue},             {L"wfcat=0x100000000", kErrInvalidValue},
               {L"wfcat=sports", kErrInvalidValue},         {L"blocked=worm", kErrInvalidValue},
               {L"phase=done", kErrInvalidValue},           {L"volume=KiB", kErrInvalidValue},
               {L"ip=1.2.3.4-x", kErrInvalidValue},          {L"colour=red", kErrInvalidValue},
               {L"start=yesterday", kErrInvalidValue}};
  for (const auto& c : cases) {
    Parsed p(c.text);
    EXPECT_EQ(p.result, c.result) << c.text;
    EXPECT_EQ(p.conditions.user, nullptr) << c.text;
    EXPECT_EQ(p.conditions.wfcatActive, 0u) << c.text;
  }
  WebstatConditions conditions;
  EXPECT_EQ(ParseWebstatConditions(nullptr, &conditions), kErrInvalidArgument);
  Parsed empty(L"");
  EXPECT_EQ(empty.result, kOk);
}

}  // namespace
