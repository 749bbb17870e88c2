// Calendar conversions, time-of-day parsing, bounds, calendar arithmetic and
// quantum alignment (date patterns: the file scans of the end-to-end runs).
#include "common/time.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

TimeValue At(uint32_t y, uint32_t mo, uint32_t d, uint32_t h = 0, uint32_t mi = 0,
             uint32_t s = 0, uint32_t ms = 0) {
  return MakeTimeMs(y, mo, d, h, mi, s, ms);
}

std::string Show(TimeValue t) {
  CalendarTime c;
  if (SplitTime(t, &c) != kOk) return "invalid";
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", c.year, c.month, c.day,
                c.hour, c.minute, c.second, c.millisecond);
  return text;
}

TEST(Calendar, EpochAndKnownDates) {
  EXPECT_EQ(MakeTime(1601, 1, 1, 0, 0, 0), 0u);  // valid, but the epoch itself
  EXPECT_EQ(At(1970, 1, 1), 116444736000000000ULL);
  EXPECT_EQ(Show(At(2008, 4, 27, 13, 5, 10, 999)), "2008-04-27 13:05:10.999");
  EXPECT_EQ(WeekdayOf(At(2010, 1, 1)), 4u);   // Friday
  EXPECT_EQ(WeekdayOf(At(2009, 12, 28)), 0u); // Monday
}

TEST(Calendar, RejectsInvalidFields) {
  EXPECT_EQ(MakeTime(2008, 2, 30, 0, 0, 0), 0u);
  EXPECT_EQ(MakeTime(2007, 2, 29, 0, 0, 0), 0u);
  EXPECT_NE(MakeTime(2008, 2, 29, 0, 0, 0), 0u);
  EXPECT_EQ(MakeTime(2008, 4, 31, 0, 0, 0), 0u);
  EXPECT_EQ(MakeTime(2008, 13, 1, 0, 0, 0), 0u);
  EXPECT_EQ(MakeTime(2008, 1, 1, 24, 0, 0), 0u);
  EXPECT_EQ(MakeTime(2008, 1, 1, 0, 60, 0), 0u);
  EXPECT_EQ(MakeTime(1600, 12, 31, 0, 0, 0), 0u);
  EXPECT_EQ(MakeTime(30828, 1, 1, 0, 0, 0), 0u);
  EXPECT_EQ(SplitTime(0x8000000000000000ULL, nullptr, nullptr, nullptr, nullptr, nullptr,
                      nullptr, nullptr),
            kErrFailed);
}

TEST(Calendar, SplitRoundTripsAcrossCenturies) {
  for (uint32_t year : {1601u, 1900u, 2000u, 2100u, 2400u, 9999u}) {
    for (uint32_t month = 1; month <= 12; ++month) {
      const uint32_t day = DaysInMonth(year, month);
      uint32_t y = 0, m = 0, d = 0;
      ASSERT_EQ(SplitTime(At(year, month, day, 23, 59, 59), &y, &m, &d, nullptr, nullptr,
                          nullptr, nullptr),
                kOk);
      EXPECT_EQ(y * 10000 + m * 100 + d, year * 10000 + month * 100 + day);
    }
  }
}

TEST(Calendar, SetTimeOfDayClamps) {
  EXPECT_EQ(Show(SetTimeOfDay(At(2008, 6, 5, 10), 25, 70, 99, 5000)), "2008-06-05 23:59:59.999");
  EXPECT_EQ(Show(SetTimeOfDay(At(2008, 6, 5, 10, 30), 1, 2, 3, 4)), "2008-06-05 01:02:03.004");
}

TEST(ParseTimeOfDay, AcceptsLogTimesAndRejectsTheRest) {
  const std::pair<const char*, uint64_t> good[] = {
      {"13:05:10", 13 * kTicksPerHour + 5 * kTicksPerMinute + 10 * kTicksPerSecond},
      {"  13:05 rest", 13 * kTicksPerHour + 5 * kTicksPerMinute},
      {"09:00:00;more;fields", 9 * kTicksPerHour},
      {"\t23:59:59\t", 23 * kTicksPerHour + 59 * kTicksPerMinute + 59 * kTicksPerSecond},
      {"00:00", 0}};
  for (const auto& [text, expected] : good) {
    uint64_t ticks = 1;
    EXPECT_EQ(ParseTimeOfDay(text, &ticks, nullptr, nullptr, nullptr), kOk) << text;
    EXPECT_EQ(ticks, expected) << text;
  }
  uint64_t ticks = 0;
  for (const char* bad : {"24:00:00", "13:60", "1:05:10", "13:05:10x", "13-05", "13:5",
                          "13:05:6", "13:05;", "", "ab:cd", "30:00", "13:05:1", "13:05:60"}) {
    EXPECT_EQ(ParseTimeOfDay(bad, &ticks, nullptr, nullptr, nullptr), kErrInvalidValue) << bad;
  }
  // Fields read before a failure stay written; a missing second is not written.
  uint16_t h = 0, m = 0, sec = 77;
  EXPECT_EQ(ParseTimeOfDay("13:05:10x", &ticks, &h, &m, nullptr), kErrInvalidValue);
  EXPECT_EQ(h * 100 + m, 1305);
  EXPECT_EQ(ParseTimeOfDay("13:05 ", &ticks, &h, &m, &sec), kOk);
  EXPECT_EQ(sec, 77);
}

// Differential: the in-place reader against ParseTimeOfDay of a NUL-ended
// copy, on times, near-times and junk (what follows the text never counts).
TEST(ParseTimeOfDayText, MatchesParseTimeOfDayOfACopy) {
  const char alphabet[] = "0123456789::  \t;x";
  const char* forms[] = {"23:59:59", "24:00:00", "09:60:00", "00:00:5x", "7:00:00", " 12:30", "12:30;"};
  std::mt19937 random(23);
  for (int i = 0; i < 40000; ++i) {
    std::string text = i % 3 == 0 ? forms[random() % 7] : "";
    if (i % 3 != 0 || random() % 2 == 0) {
      for (size_t n = random() % 11; n > 0; --n) text.push_back(alphabet[random() % (sizeof alphabet - 1)]);
    }
    if (text.size() >= kTimeTextMax) continue;
    const std::string line = text + "9:00";
    uint64_t ticks = 0;
    uint16_t hour = 0;
    uint64_t expectedTicks = 0;
    uint16_t expectedHour = 0;
    const ResultCode expected = ParseTimeOfDay(text.c_str(), &expectedTicks, &expectedHour, nullptr, nullptr);
    ASSERT_EQ(ParseTimeOfDayText(line.data(), text.size(), &ticks, &hour), expected) << text;
    if (expected != kOk) continue;
    EXPECT_EQ(ticks, expectedTicks) << text;
    EXPECT_EQ(hour, expectedHour) << text;
  }
  uint64_t ticks = 0;
  EXPECT_EQ(ParseTimeOfDayText(std::string(kTimeTextMax, ' ').c_str(), kTimeTextMax, &ticks, nullptr),
            kErrInvalidArgument);
}

TEST(TimeBound, AbsoluteRelativeAndRejected) {
  struct Case {
    const char* text;
    uint16_t hour;
    const char* absolute;  // Show() of absolute, or "" for a relative bound
    uint32_t unit;
    int64_t count;
  };
  const Case cases[] = {
      {"2008/06/05", 0, "2008-06-05 00:00:00.000", 0, 0},
      {"  2008/06/05  ", 23, "2008-06-05 23:59:59.999", 0, 0},
      {"2008/06/05 10:00:00", 23, "2008-06-05 10:00:00.000", 0, 0},
      {"2008-06-05", 0, "2008-06-05 00:00:00.000", 0, 0},
      {"-7d", 0, "", kUnitDay, -7},
      {"-7 d", 0, "", kUnitDay, -7},
      {"0x10H trailing", 0, "", kUnitHour, 16},
      {"010m", 0, "", kUnitMonth, 8},  // octal
  };
  for (const Case& c : cases) {
    TimeBound b;
    ASSERT_EQ(ParseTimeBound(c.text, c.hour, c.hour ? 59 : 0, c.hour ? 59 : 0, &b), kOk) << c.text;
    EXPECT_EQ(b.absolute != 0 ? Show(b.absolute) : "", c.absolute) << c.text;
    EXPECT_EQ(b.unit, c.unit) << c.text;
    EXPECT_EQ(b.count, c.count) << c.text;
  }
  TimeBound b;
  b.absolute = 42;
  for (const char* bad : {"0d", "d", "7dx", "7", "7D", "x", " ", "", "7 q"}) {
    EXPECT_EQ(ParseTimeBound(bad, 0, 0, 0, &b), kErrInvalidValue) << bad;
    EXPECT_EQ(b.absolute, 42u);
  }
}

TEST(ResolveInterval, RelativeBoundsUseRunStart) {
  const TimeValue saved = GetRunStartTime();
  SetRunStartTime(At(2008, 4, 27, 12));
  const TimeValue now = ToLocalTime(At(2008, 4, 27, 12));
  TimeBound start, end;
  ASSERT_EQ(ParseTimeBound("-7d", 0, 0, 0, &start), kOk);
  TimeValue from = 1, to = 1;
  ASSERT_EQ(ResolveInterval(&start, &end, &from, &to), kOk);
  EXPECT_EQ(from, now - 7 * kTicksPerDay);
  EXPECT_EQ(to, 1u);  // no end bound: not written

  TimeBound none;
  ASSERT_EQ(ParseTimeBound("-1d", 23, 59, 59, &end), kOk);
  from = 1;
  ASSERT_EQ(ResolveInterval(&none, &end, &from, &to), kOk);
  EXPECT_EQ(to, now - 1 - kTicksPerDay);
  EXPECT_EQ(from, 1u);
  SetRunStartTime(saved);
}

TEST(ResolveInterval, EndRelativeToAbsoluteStart) {
  TimeBound start, end;
  ASSERT_EQ(ParseTimeBound("2008/04/01", 0, 0, 0, &start), kOk);
  ASSERT_EQ(ParseTimeBound("1m", 23, 59, 59, &end), kOk);
  TimeValue from = 0, to = 0;
  ASSERT_EQ(ResolveInterval(&start, &end, &from, &to), kOk);
  EXPECT_EQ(Show(from), "2008-04-01 00:00:00.000");
  EXPECT_EQ(Show(to), "2008-04-30 23:59:59.999");
  EXPECT_EQ(to % 10000, 0u);  // kept to the millisecond
}

TEST(ResolveInterval, StartRelativeToAbsoluteEnd) {
  TimeBound start, end;
  ASSERT_EQ(ParseTimeBound("-2d", 0, 0, 0, &start), kOk);
  ASSERT_EQ(ParseTimeBound("2008/04/10", 23, 59, 59, &end), kOk);
  TimeValue from = 0, to = 0;
  ASSERT_EQ(ResolveInterval(&start, &end, &from, &to), kOk);
  EXPECT_EQ(Show(from), "2008-04-08 23:59:59.999");
  EXPECT_EQ(Show(to), "2008-04-10 23:59:59.999");
}

TEST(AddTimeUnits, MonthsAndYearsClampTheDay) {
  EXPECT_EQ(Show(AddTimeUnits(At(2008, 1, 31), kUnitMonth, 1)), "2008-02-29 00:00:00.000");
  EXPECT_EQ(Show(AddTimeUnits(At(2009, 1, 31), kUnitMonth, 1)), "2009-02-28 00:00:00.000");
  EXPECT_EQ(Show(AddTimeUnits(At(2009, 2, 15), kUnitMonth, -3)), "2008-11-15 00:00:00.000");
  EXPECT_EQ(Show(AddTimeUnits(At(2009, 1, 15), kUnitMonth, -13)), "2007-12-15 00:00:00.000");
  EXPECT_EQ(Show(AddTimeUnits(At(2008, 12, 15), kUnitMonth, 1)), "2009-01-15 00:00:00.000");
  EXPECT_EQ(Show(AddTimeUnits(At(2008, 2, 29), kUnitYear, 1)), "2009-02-28 00:00:00.000");
  EXPECT_EQ(Show(AddTimeUnits(At(2008, 2, 29), kUnitYear, 4)), "2012-02-29 00:00:00.000");
  EXPECT_EQ(Show(AddTimeUnits(At(2008, 3, 31, 10, 11, 12, 13), kUnitMonth, -1)),
            "2008-02-29 10:11:12.013");
}

TEST(AddTimeUnits, FixedUnitsAndFallback) {
  const TimeValue t = At(2008, 4, 27, 12);
  EXPECT_EQ(AddTimeUnits(t, kUnitSecond, -5), t - 5 * kTicksPerSecond);
  EXPECT_EQ(AddTimeUnits(t, kUnitWeek, 2), t + 14 * kTicksPerDay);
  EXPECT_EQ(AddTimeUnits(t, 99, 2), t);
  // Out of the convertible range: plain 365-day years, held at the first tick.
  EXPECT_EQ(AddTimeUnits(t, kUnitYear, -1000), 1u);
  // Sub-millisecond ticks are dropped by calendar units.
  EXPECT_EQ(AddTimeUnits(t + 1234, kUnitMonth, 1), At(2008, 5, 27, 12));
}

TEST(AddTimeUnits, ExtremeCountsSaturateInEveryUnit) {
  const TimeValue t = At(2008, 4, 27, 12);
  for (uint32_t unit = kUnitSecond; unit <= kUnitYear; ++unit) {
    SCOPED_TRACE(unit);
    EXPECT_EQ(AddTimeUnits(t, unit, INT64_MAX), kNoTime);
    EXPECT_EQ(AddTimeUnits(t, unit, -INT64_MAX), 1u);
    EXPECT_EQ(AddTimeUnits(t, unit, INT64_MIN), 1u);
    EXPECT_LE(AlignToQuantum(t, unit, INT64_MIN), t);  // a bucket never starts after t
  }
}

TEST(AlignToQuantum, ClockUnits) {
  EXPECT_EQ(Show(AlignToQuantum(At(2008, 4, 27, 14, 37, 12, 500), kUnitMinute, 15)),
            "2008-04-27 14:30:00.000");
  EXPECT_EQ(Show(AlignToQuantum(At(2008, 4, 27, 14, 37, 12, 500), kUnitSecond, 10)),
            "2008-04-27 14:37:10.000");
  EXPECT_EQ(Show(AlignToQuantum(At(2008, 4, 27, 14, 37, 12), kUnitHour, 6)),
            "2008-04-27 12:00:00.000");
  EXPECT_EQ(Show(AlignToQuantum(At(2008, 4, 17, 14), kUnitDay, 7)), "2008-04-15 00:00:00.000");
  EXPECT_EQ(Show(AlignToQuantum(At(2008, 11, 17, 14), kUnitMonth, 3)),
            "2008-10-01 00:00:00.000");
  EXPECT_EQ(Show(AlignToQuantum(At(2008, 11, 17, 14), kUnitYear, 5)),
            "2005-01-01 00:00:00.000");
  EXPECT_EQ(Show(AlignToQuantum(At(2008, 11, 17, 14, 1, 2, 3), 0, 1)),
            "2008-11-17 14:01:02.000");
}

TEST(AlignToQuantum, WeeksAcrossYearEnds) {
  // 2010 begins on a Friday: its first days belong to the last week of 2009.
  EXPECT_EQ(Show(AlignToQuantum(At(2010, 1, 2, 15), kUnitWeek, 1)), "2009-12-28 00:00:00.000");
  EXPECT_EQ(Show(AlignToQuantum(At(2010, 1, 1), kUnitWeek, 1)), "2009-12-28 00:00:00.000");
  EXPECT_EQ(Show(AlignToQuantum(At(2010, 1, 4), kUnitWeek, 1)), "2010-01-04 00:00:00.000");
  EXPECT_EQ(Show(AlignToQuantum(At(2010, 1, 10, 23), kUnitWeek, 1)), "2010-01-04 00:00:00.000");
  // 2008 begins on a Tuesday: week 1 starts on Monday 2007-12-31.
  EXPECT_EQ(Show(AlignToQuantum(At(2008, 1, 1), kUnitWeek, 1)), "2007-12-31 00:00:00.000");
  // Two-week buckets counted from week 1 of the year.
  EXPECT_EQ(Show(AlignToQuantum(At(2010, 1, 12), kUnitWeek, 2)), "2010-01-04 00:00:00.000");
  EXPECT_EQ(Show(AlignToQuantum(At(2010, 1, 19), kUnitWeek, 2)), "2010-01-18 00:00:00.000");
  // 2009 had 53 weeks (1 January a Thursday): (53-1) mod 2 + 1 = 1 week back.
  EXPECT_EQ(Show(AlignToQuantum(At(2010, 1, 2), kUnitWeek, 2)), "2009-12-28 00:00:00.000");
  // 2011 begins on a Saturday; 2010 had 52 weeks: (52-1) mod 2 + 1 = 2 weeks back.
  EXPECT_EQ(Show(AlignToQuantum(At(2011, 1, 1), kUnitWeek, 2)), "2010-12-20 00:00:00.000");
}

}  // namespace
