// Time values, calendar arithmetic, date patterns and start/end conditions.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/types.h"

// Units of AddTimeUnits / AlignToQuantum / relative bounds / --quantum.
enum TimeUnit : uint32_t {
  kUnitNone = 0,
  kUnitSecond = 1,  // 'S'
  kUnitMinute = 2,  // 'M'
  kUnitHour = 3,    // 'H'
  kUnitDay = 4,     // 'd'
  kUnitWeek = 5,    // 'w'
  kUnitMonth = 6,   // 'm'
  kUnitYear = 7,    // 'y'
};

// Unit code of a unit letter (case-sensitive: y m w d H M S), 0 for others.
uint32_t TimeUnitFromLetter(int letter);

// A start or end condition: absolute time, or a count of units relative to a
// reference. Set when absolute != 0 or unit != 0.
struct TimeBound {
  TimeValue absolute = 0;
  uint32_t unit = 0;
  int64_t count = 0;
};

inline bool IsTimeBoundSet(const TimeBound& bound) {
  return bound.absolute != 0 || bound.unit != 0;
}

// Calendar fields of a time value.
struct CalendarTime {
  uint32_t year, month, day, hour, minute, second, millisecond;
};

TimeValue NowUtc();
// UTC -> local wall-clock time; t unchanged if the conversion fails.
TimeValue ToLocalTime(TimeValue t);
// Milliseconds 0; 0 when the fields are no valid date and time (years 1601-30827).
TimeValue MakeTime(uint16_t year, uint16_t month, uint16_t day, uint16_t hour,
                   uint16_t minute, uint16_t second);
// Same with milliseconds; 0 when invalid.
TimeValue MakeTimeMs(uint32_t year, uint32_t month, uint32_t day, uint32_t hour,
                     uint32_t minute, uint32_t second, uint32_t millisecond);
// Every output is optional; kErrFailed if t cannot be converted.
ResultCode SplitTime(TimeValue t, uint32_t* year, uint32_t* month, uint32_t* day,
                     uint32_t* hour, uint32_t* minute, uint32_t* second,
                     uint32_t* millisecond);
ResultCode SplitTime(TimeValue t, CalendarTime* out);
// Same day with the given time of day (clamped to 23:59:59.999).
TimeValue SetTimeOfDay(TimeValue t, uint32_t hour, uint32_t minute, uint32_t second,
                       uint32_t millisecond);
// Midnight of t's day.
inline TimeValue StartOfDay(TimeValue t) { return t - t % kTicksPerDay; }

// Local wall-clock time at the moment of the call.
TimeValue LocalTimeNow();
// The gateway's services write a day's last lines up to this long after
// midnight.
constexpr TimeValue kLateLinesDelay = kTicksPerMinute;
// Whether the log of `day` may still get lines at local time `now`: its day
// has not ended, or ended less than kLateLinesDelay ago. A last line without
// its line end in such a log may still be being written.
inline bool DayLogMayGrow(TimeValue day, TimeValue now) {
  return now < day + kTicksPerDay + kLateLinesDelay;
}
// Whether a run at local time `now` goes on to `day`: only kLateLinesDelay
// after its midnight, so that the day before is read to its last lines first.
inline bool DayEntered(TimeValue day, TimeValue now) { return day + kLateLinesDelay <= now; }
// Weekday of t: Monday 0 ... Sunday 6.
uint32_t WeekdayOf(TimeValue t);
// True when year/month/day form a valid date.
bool IsValidDate(uint32_t year, uint32_t month, uint32_t day);
uint32_t DaysInMonth(uint32_t year, uint32_t month);

// Time field at the start of a log line: "HH:MM" or "HH:MM:SS" after blanks.
// ticks = offset from midnight. hour/minute/second are optional and written as
// soon as read. kErrInvalidValue when the text is no time.
ResultCode ParseTimeOfDay(const char* text, uint64_t* ticks, uint16_t* hour,
                          uint16_t* minute, uint16_t* second);
// ParseTimeOfDay of text[0, length) as if a NUL ended it (no minute and
// second outputs); the plain "HH:MM:SS" of log lines is read in place.
// kErrInvalidArgument when length is kTimeTextMax or more.
constexpr size_t kTimeTextMax = 64;
ResultCode ParseTimeOfDayText(const char* text, size_t length, uint64_t* ticks, uint16_t* hour);

// Date pattern lists: NUL-terminated patterns ended by an empty one.
extern const char kDatePatternsDateOption[];  // "*yyyymmdd*", "*yyyy-mm-dd*"
extern const char kDatePatternsBoundDate[];   // "*yyyy/mm/dd*", "*yyyymmdd*", "*yyyy-mm-dd*"
extern const char kDatePatternsBoundDateTime[];
extern const char kDatePatternsLogName[];     // "*yyyymmdd*"
extern const char kDatePatternsDefault[];     // "*yyyy-mm-dd*", "*ddmmyyyy*"

// 1 when name (length bytes, need not be terminated) fits a pattern of the list
// (null: the default list); *out = kNoTime on entry, the matched time on a match
// (0 for a matched but invalid calendar date).
int MatchDatePattern(int ignoreCase, const char* name, size_t length,
                     const char* patternList, TimeValue* out);
// Wide name; length in characters or -1 for a terminated name.
int MatchDatePatternWide(int ignoreCase, const wchar_t* name, ptrdiff_t length,
                         const char* patternList, TimeValue* out);

// Parses a start/end condition (8-bit text). hour/minute/second: time of day for
// a date written without one. kErrInvalidValue leaves *out unchanged.
ResultCode ParseTimeBound(const char* text, uint16_t hour, uint16_t minute,
                          uint16_t second, TimeBound* out);
// Writes *from only when start is set and *to only when end is set.
ResultCode ResolveInterval(const TimeBound* start, const TimeBound* end, TimeValue* from,
                           TimeValue* to);
// t moved by count units; a result beyond the calendar saturates at 1 or
// 0x7FFFFFFFFFFFFFFF, so an extreme bound never wraps or reads as "not given".
TimeValue AddTimeUnits(TimeValue t, uint32_t unit, int64_t count);
// Start of the bucket of count units holding t; count must not be 0.
TimeValue AlignToQuantum(TimeValue t, uint32_t unit, int64_t count);

// System time taken once at program start; reference of relative conditions.
void SetRunStartTime(TimeValue utc);
TimeValue GetRunStartTime();
