// The re-parse span merge (the result header, the series and the summary
// lists: the end-to-end cases).
#include "webstat/summary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/time.h"
#include "webstat/http_transactions.h"
#include "webstat/webstat_conditions.h"

namespace {

TEST(ReparseSpans, MergeKeepsNewestFirstAndWidensTheSameDay) {
  const TimeValue day = MakeTime(2024, 3, 12, 0, 0, 0);
  const TimeValue hour = kTicksPerHour;
  std::vector<ReparseSpan> spans;
  MergeReparseSpans(&spans, day, 2 * hour, 1);
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(spans[0].day, day);
  EXPECT_EQ(spans[0].till, 2 * hour);
  EXPECT_EQ(spans[1].day, day - kTicksPerDay);
  EXPECT_EQ(spans[1].till, kTicksPerDay);
  // Same day, later: widened; the earlier day stays.
  MergeReparseSpans(&spans, day, 5 * hour, 1);
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(spans[0].till, 5 * hour);
  // A later day: its own span and the day before, which is already there.
  MergeReparseSpans(&spans, day + 2 * kTicksPerDay, hour, 1);
  ASSERT_EQ(spans.size(), 4u);
  EXPECT_EQ(spans[0].day, day + 2 * kTicksPerDay);
  EXPECT_EQ(spans[1].day, day + kTicksPerDay);
  EXPECT_EQ(spans[1].till, kTicksPerDay);
  EXPECT_EQ(spans[2].day, day);
  EXPECT_EQ(spans[2].till, 5 * hour);
  // More than seven earlier days are clamped to seven.
  std::vector<ReparseSpan> wide;
  MergeReparseSpans(&wide, day, hour, 30);
  EXPECT_EQ(wide.size(), 8u);
}

}  // namespace
