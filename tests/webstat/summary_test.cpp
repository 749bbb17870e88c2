// Summary accumulators and result writers; the re-parse span merge.
#include "webstat/summary.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/time.h"
#include "webstat/http_transactions.h"
#include "webstat/webstat_conditions.h"

namespace {

// Runs write(file) on a temporary file and returns what it wrote.
template <typename Write>
std::string Captured(Write write) {
  FILE* file = std::tmpfile();
  write(file);
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  std::fclose(file);
  return text;
}

TEST(WebSummary, TopListsCountersAndSeries) {
  WebSummary summary{};
  const TimeValue ten = MakeTime(2024, 3, 11, 10, 0, 0);
  InitTimeSeries(&summary.series, 0, 0, kUnitMinute, 15);
  for (int i = 0; i < 5; ++i) {
    AddSummaryRecord(&summary, i == 0 ? "Alice" : "ALICE", "h1", "1.1.1.1", "200", 1536, 0, 0x5, 0,
                     nullptr);
  }
  for (int i = 0; i < 5; ++i) {
    AddSummaryRecord(&summary, "bob", "h2", "1.1.1.2", "403", 0, 0x01 | 0x80, 0, 0x2, "EICAR");
  }
  AddSummaryRecord(&summary, "carol", "h3", "1.1.1.3", nullptr, 10, kBlockNone, 0, 0, nullptr);
  AddToTimeSeries(&summary.series, 0, ten + 5 * kTicksPerMinute, 1, 1536, 0x5, 0);
  AddToTimeSeries(&summary.series, 0x01 | 0x10000000, ten + 46 * kTicksPerMinute, 1, 0, 0, 2);
  OutputSettings settings;
  settings.topCount = 2;
  const std::string users =
      Captured([&](FILE* f) { WriteTopSection(f, "TUH", &summary.users, kMetricHits, 2, 1, 0); });
  EXPECT_EQ(users, "TUH;bob;5\nTUH;Alice;5\n");
  const std::string blocked =
      Captured([&](FILE* f) { WriteTopSection(f, "TUB", &summary.users, kMetricBlocked, 0, 1, 0); });
  EXPECT_EQ(blocked, "TUB;bob;5\n");
  const std::string volume = Captured(
      [&](FILE* f) { WriteTopSection(f, "TUV", &summary.users, kMetricVolume, 0, 0, 1024); });
  EXPECT_EQ(volume, "TUV;Alice;7.50\nTUV;carol;0.01\nTUV;bob;0.00\n");
  const std::string all = Captured([&](FILE* f) { WriteSummary(f, "", &summary, &settings); });
  // One line per category bit; equal counts in either order.
  EXPECT_NE(all.find("\nWFC;0x00000001;5\n"), std::string::npos) << all;
  EXPECT_NE(all.find("\nWFC;0x00000004;5\n"), std::string::npos) << all;
  EXPECT_NE(all.find(";5\n\nWFCA;0x00000002;5\n\nS;"), std::string::npos) << all;
  EXPECT_NE(all.find("\nVIR;EICAR;5\n\n"), std::string::npos) << all;
  EXPECT_NE(all.find("\nTUWF;Alice;5\n\nTUWFA;bob;5\n\n\n"), std::string::npos) << all;
  EXPECT_NE(all.find("\nS;7690;2;1;1;1;0;0;0;0;0;0;0\n\n"
                     "H;2024/03/11;10:00;1536;1;1;0;0;0;0;0;0;0;0;0\n"
                     "H;2024/03/11;10:15;0;0;0;0;0;0;0;0;0;0;0;0\n"
                     "H;2024/03/11;10:30;0;0;0;0;0;0;0;0;0;0;0;0\n"
                     "H;2024/03/11;10:45;0;1;0;1;1;0;0;0;0;0;0;0\n\n"),
            std::string::npos)
      << all;
  EXPECT_EQ(all.rfind("TUH;bob;5\nTUH;Alice;5\n\n", 0), 0u) << all;
  WebSummaryFree(&summary);
}

TEST(WebSummary, ResultHeaderAndSeriesBounds) {
  char header[256];
  ASSERT_EQ(FormatResultHeader(0, MakeTime(2024, 3, 12, 23, 59, 59), 1048576, header, sizeof header),
            kOk);
  EXPECT_STREQ(header,
               "params;start=1601/01/01 00:00:00;end=2024/03/12 23:59:59\nformat;units=MiB");
  FormatResultHeader(0, 0, 1000, header, 20);
  EXPECT_STREQ(header, "params;start=1601/0");
  TimeSeries series{};
  InitTimeSeries(&series, MakeTime(2024, 3, 11, 10, 7, 0), MakeTime(2024, 3, 11, 10, 14, 0),
                 kUnitMinute, 15);
  EXPECT_EQ(RecordTableCount(&series.buckets), 1u);
  InitTimeSeries(&series, MakeTime(2024, 3, 11, 10, 7, 0), MakeTime(2024, 3, 11, 11, 0, 0),
                 kUnitHour, 1);
  EXPECT_EQ(RecordTableCount(&series.buckets), 2u);
  RecordTableFree(&series.buckets);
}

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

TEST(BlockReasons, ClassifiedAgainstTheMask) {
  const struct {
    const char* text;
    uint32_t flag, mask;
    int passes;
    uint32_t reason;
  } cases[] = {{"virus", 0, 0x01, 1, 0x01},      {"PHISHING", 1, 0x01, 0, 0xC0},
               {"", 0, 0x10000000, 1, 0x10000000}, {"other", 0, 0xFFFFFFFE, 1, 0x10000000},
               {"SITE", 0, 0, 0, 0x20},           {"", 1, 0x80, 1, 0x80}};
  for (const auto& c : cases) {
    uint32_t reason = 0;
    EXPECT_EQ(ClassifyBlockReason(c.text, c.flag, c.mask, &reason), c.passes) << c.text;
    EXPECT_EQ(reason, c.reason) << c.text;
  }
}

}  // namespace
