// Time values as ticks since 1601, calendar arithmetic on them, date patterns
// and start/end conditions.
#include "common/time.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/text.h"

namespace {

constexpr uint32_t kMinYear = 1601;
constexpr uint32_t kMaxYear = 30827;
constexpr TimeValue kTicksPerMs = 10000;
constexpr TimeValue kTicksPerWeek = 7 * kTicksPerDay;
constexpr TimeValue kLastConvertible = 0x7FFFFFFFFFFFFFFFULL;

TimeValue gRunStartTime = 0;

// Days since 1601-01-01 (a Monday) of a civil date, proleptic Gregorian.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yoe = year - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 134774;
}

void CivilFromDays(int64_t days, uint32_t* year, uint32_t* month, uint32_t* day) {
  const int64_t z = days - 134774 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<uint32_t>(yoe + era * 400 + (m <= 2));
  *month = static_cast<uint32_t>(m);
  *day = static_cast<uint32_t>(d);
}

bool IsLeapYear(uint32_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

TimeValue MidnightOfDays(int64_t days) { return static_cast<TimeValue>(days) * kTicksPerDay; }

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
inline char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool SameChar(int ignoreCase, char a, char b) {
  return ignoreCase ? FoldAscii(a) == FoldAscii(b) : a == b;
}

// Width in the template of a token letter, 0 for a literal.
int TokenWidth(char c) {
  switch (c) {
    case 'y': return 4;
    case 'm': case 'd': case 'H': case 'M': case 'S': return 2;
    default: return 0;
  }
}

// One pattern against the name; 1 and *out on a match.
int MatchOnePattern(int ignoreCase, const char* name, size_t length, const char* pattern,
                    size_t patternLength, TimeValue* out) {
  size_t stars = 0, p1 = 0, p2 = 0;
  for (size_t i = 0; i < patternLength; ++i) {
    if (pattern[i] != '*') continue;
    if (stars == 0) p1 = i;
    else if (stars == 1) p2 = i;
    ++stars;
  }
  if (stars != 2 || patternLength != length + 2) return 0;
  for (size_t i = 0; i < p1; ++i) {
    if (!SameChar(ignoreCase, pattern[i], name[i])) return 0;
  }
  for (size_t i = p2 + 1; i < patternLength; ++i) {
    if (!SameChar(ignoreCase, pattern[i], name[i - 2])) return 0;
  }
  uint32_t fields[6] = {0, 0, 0, 0, 0, 0};  // y m d H M S
  for (size_t i = p1 + 1; i < p2;) {
    const char c = pattern[i];
    const int width = TokenWidth(c);
    if (width == 0) {
      if (!SameChar(ignoreCase, c, name[i - 1])) return 0;
      ++i;
      continue;
    }
    if (i + static_cast<size_t>(width) > p2) return 0;  // token would cross the star
    uint32_t value = 0;
    for (int k = 0; k < width; ++k) {
      const char digit = name[i - 1 + static_cast<size_t>(k)];
      if (!IsDigit(digit)) return 0;
      value = value * 10 + static_cast<uint32_t>(digit - '0');
    }
    const int slot = c == 'y' ? 0 : c == 'm' ? 1 : c == 'd' ? 2 : c == 'H' ? 3 : c == 'M' ? 4 : 5;
    fields[slot] = value;
    i += static_cast<size_t>(width);
  }
  *out = MakeTimeMs(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], 0);
  return 1;
}

TimeValue ResolveBound(const TimeBound& bound, TimeValue reference) {
  if (bound.absolute != 0) return bound.absolute;
  if (reference == 0 || bound.unit == 0 || bound.count == 0) return 0;
  return AddTimeUnits(reference, bound.unit, bound.count);
}

TimeValue LocalNow() { return ToLocalTime(gRunStartTime); }

// t + count x unitTicks, held within [1, kLastConvertible]: a bound far out
// of the calendar means "before everything" or "after everything", never
// "not given" (0) and never a wrapped value.
TimeValue OffsetSaturated(TimeValue t, int64_t count, TimeValue unitTicks) {
  if (t > kLastConvertible) t = kLastConvertible;
  const TimeValue magnitude =
      count < 0 ? TimeValue{0} - static_cast<TimeValue>(count) : static_cast<TimeValue>(count);
  if (magnitude > kLastConvertible / unitTicks) return count < 0 ? 1 : kLastConvertible;
  const TimeValue step = magnitude * unitTicks;
  if (count < 0) return step >= t ? 1 : t - step;
  return step > kLastConvertible - t ? kLastConvertible : t + step;
}

// Month or year arithmetic keeping day and time of day to the millisecond.
TimeValue AddCalendarUnits(TimeValue t, uint32_t unit, int64_t count) {
  CalendarTime c;
  if (SplitTime(t, &c) != kOk) return t;
  const TimeValue fallbackTicks = (unit == kUnitMonth ? 30 : 365) * kTicksPerDay;
  // Counts beyond the calendar's span cannot land on a year it converts.
  const int64_t span = int64_t{kMaxYear - kMinYear + 1} * (unit == kUnitMonth ? 12 : 1);
  if (count <= -span || count >= span) return OffsetSaturated(t, count, fallbackTicks);
  int64_t year = c.year;
  int64_t month = c.month;
  if (unit == kUnitMonth) {
    const int64_t z = month - 1 + count;
    year += FloorDiv(z, 12);
    month = z - FloorDiv(z, 12) * 12 + 1;
  } else {
    year += count;
  }
  if (year >= kMinYear && year <= kMaxYear) {
    for (int tries = 0; tries < 4; ++tries) {
      const int64_t day = static_cast<int64_t>(c.day) - tries;
      if (day < 1) break;
      TimeValue result = MakeTimeMs(static_cast<uint32_t>(year), static_cast<uint32_t>(month),
                                    static_cast<uint32_t>(day), c.hour, c.minute, c.second,
                                    c.millisecond);
      if (result != 0) return result;
    }
  }
  return OffsetSaturated(t, count, fallbackTicks);
}

TimeValue AlignToWeek(TimeValue t, uint64_t count) {
  CalendarTime c;
  if (SplitTime(t, &c) != kOk) return t;
  const int64_t jan1 = DaysFromCivil(c.year, 1, 1);
  const int64_t w1 = jan1 % 7;
  const int64_t week1 = w1 <= 3 ? jan1 - w1 : jan1 + (7 - w1);
  const int64_t day = static_cast<int64_t>(t / kTicksPerDay);
  if (day >= week1) {
    const uint64_t k = static_cast<uint64_t>(day - week1) / 7;
    return MidnightOfDays(week1) + (k / count) * count * kTicksPerWeek;
  }
  const int64_t previousJan1 = DaysFromCivil(static_cast<int64_t>(c.year) - 1, 1, 1);
  const uint64_t weeks = (previousJan1 % 7 == 3) ? 53 : 52;
  const int64_t back = 7 * static_cast<int64_t>(((weeks - 1) % count) + 1);
  return MidnightOfDays(week1 - back);
}

}  // namespace

TimeValue LocalTimeNow() { return ToLocalTime(NowUtc()); }

const char kDatePatternsDateOption[] = "*yyyymmdd*\0*yyyy-mm-dd*\0";
const char kDatePatternsBoundDate[] = "*yyyy/mm/dd*\0*yyyymmdd*\0*yyyy-mm-dd*\0";
const char kDatePatternsBoundDateTime[] =
    "*yyyy/mm/dd HH:MM:SS*\0*yyyymmdd HH:MM:SS*\0*yyyy-mm-dd HH:MM:SS*\0";
const char kDatePatternsLogName[] = "*yyyymmdd*\0";
const char kDatePatternsDefault[] = "*yyyy-mm-dd*\0*ddmmyyyy*\0";

uint32_t TimeUnitFromLetter(int letter) {
  switch (letter) {
    case 'S': return kUnitSecond;
    case 'M': return kUnitMinute;
    case 'H': return kUnitHour;
    case 'd': return kUnitDay;
    case 'w': return kUnitWeek;
    case 'm': return kUnitMonth;
    case 'y': return kUnitYear;
    default: return kUnitNone;
  }
}

TimeValue NowUtc() { return PlatformNowUtc(); }

TimeValue ToLocalTime(TimeValue t) {
  TimeValue local = t;
  return PlatformUtcToLocal(t, &local) ? local : t;
}

bool IsValidDate(uint32_t year, uint32_t month, uint32_t day) {
  if (year < kMinYear || year > kMaxYear || month < 1 || month > 12 || day < 1) return false;
  return day <= DaysInMonth(year, month);
}

uint32_t DaysInMonth(uint32_t year, uint32_t month) {
  static const uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return kDays[month - 1] + ((month == 2 && IsLeapYear(year)) ? 1 : 0);
}

TimeValue MakeTimeMs(uint32_t year, uint32_t month, uint32_t day, uint32_t hour,
                     uint32_t minute, uint32_t second, uint32_t millisecond) {
  if (!IsValidDate(year, month, day) || hour > 23 || minute > 59 || second > 59 ||
      millisecond > 999) {
    return 0;
  }
  const int64_t days = DaysFromCivil(year, month, day);
  return MidnightOfDays(days) + hour * kTicksPerHour + minute * kTicksPerMinute +
         second * kTicksPerSecond + millisecond * kTicksPerMs;
}

TimeValue MakeTime(uint16_t year, uint16_t month, uint16_t day, uint16_t hour,
                   uint16_t minute, uint16_t second) {
  return MakeTimeMs(year, month, day, hour, minute, second, 0);
}

ResultCode SplitTime(TimeValue t, CalendarTime* out) {
  if (t > kLastConvertible || out == nullptr) return kErrFailed;
  const TimeValue days = t / kTicksPerDay;
  const TimeValue rest = t % kTicksPerDay;
  CivilFromDays(static_cast<int64_t>(days), &out->year, &out->month, &out->day);
  out->hour = static_cast<uint32_t>(rest / kTicksPerHour);
  out->minute = static_cast<uint32_t>(rest / kTicksPerMinute % 60);
  out->second = static_cast<uint32_t>(rest / kTicksPerSecond % 60);
  out->millisecond = static_cast<uint32_t>(rest / kTicksPerMs % 1000);
  return kOk;
}

ResultCode SplitTime(TimeValue t, uint32_t* year, uint32_t* month, uint32_t* day,
                     uint32_t* hour, uint32_t* minute, uint32_t* second,
                     uint32_t* millisecond) {
  CalendarTime c;
  if (SplitTime(t, &c) != kOk) return kErrFailed;
  if (year) *year = c.year;
  if (month) *month = c.month;
  if (day) *day = c.day;
  if (hour) *hour = c.hour;
  if (minute) *minute = c.minute;
  if (second) *second = c.second;
  if (millisecond) *millisecond = c.millisecond;
  return kOk;
}

TimeValue SetTimeOfDay(TimeValue t, uint32_t hour, uint32_t minute, uint32_t second,
                       uint32_t millisecond) {
  if (t > kLastConvertible) return t;
  if (hour > 23) hour = 23;
  if (minute > 59) minute = 59;
  if (second > 59) second = 59;
  if (millisecond > 999) millisecond = 999;
  return StartOfDay(t) + hour * kTicksPerHour + minute * kTicksPerMinute +
         second * kTicksPerSecond + millisecond * kTicksPerMs;
}

uint32_t WeekdayOf(TimeValue t) { return static_cast<uint32_t>(t / kTicksPerDay % 7); }

ResultCode ParseTimeOfDay(const char* text, uint64_t* ticks, uint16_t* hour,
                          uint16_t* minute, uint16_t* second) {
  if (text == nullptr || ticks == nullptr) return kErrInvalidArgument;
  const char* p = text;
  while (IsBlank(*p)) ++p;
  if (p[0] < '0' || p[0] > '2' || !IsDigit(p[1])) return kErrInvalidValue;
  const uint32_t h = static_cast<uint32_t>((p[0] - '0') * 10 + (p[1] - '0'));
  if (h > 23) return kErrInvalidValue;
  if (hour) *hour = static_cast<uint16_t>(h);
  *ticks = h * kTicksPerHour;
  if (p[2] != ':') return kErrInvalidValue;
  p += 3;
  if (p[0] < '0' || p[0] > '5' || !IsDigit(p[1])) return kErrInvalidValue;
  const uint32_t m = static_cast<uint32_t>((p[0] - '0') * 10 + (p[1] - '0'));
  if (minute) *minute = static_cast<uint16_t>(m);
  *ticks += m * kTicksPerMinute;
  p += 2;
  if (*p == 0 || IsBlank(*p)) return kOk;
  if (*p != ':') return kErrInvalidValue;
  ++p;
  if (p[0] < '0' || p[0] > '5' || !IsDigit(p[1])) return kErrInvalidValue;
  const uint32_t s = static_cast<uint32_t>((p[0] - '0') * 10 + (p[1] - '0'));
  if (second) *second = static_cast<uint16_t>(s);
  const char after = p[2];
  if (after != ';' && after != 0 && !IsBlank(after)) return kErrInvalidValue;
  *ticks += s * kTicksPerSecond;
  return kOk;
}

ResultCode ParseTimeOfDayText(const char* text, size_t length, uint64_t* ticks, uint16_t* hour) {
  if (text == nullptr || ticks == nullptr || length >= kTimeTextMax) return kErrInvalidArgument;
  const char* p = text;
  if (length == 8 && p[2] == ':' && p[5] == ':' && p[0] >= '0' && p[0] <= '2' && IsDigit(p[1]) &&
      p[3] >= '0' && p[3] <= '5' && IsDigit(p[4]) && p[6] >= '0' && p[6] <= '5' && IsDigit(p[7])) {
    const uint32_t h = static_cast<uint32_t>((p[0] - '0') * 10 + (p[1] - '0'));
    if (h <= 23) {
      if (hour) *hour = static_cast<uint16_t>(h);
      *ticks = h * kTicksPerHour +
               static_cast<uint32_t>((p[3] - '0') * 10 + (p[4] - '0')) * kTicksPerMinute +
               static_cast<uint32_t>((p[6] - '0') * 10 + (p[7] - '0')) * kTicksPerSecond;
      return kOk;
    }
  }
  char copy[kTimeTextMax];
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return ParseTimeOfDay(copy, ticks, hour, nullptr, nullptr);
}

int MatchDatePattern(int ignoreCase, const char* name, size_t length,
                     const char* patternList, TimeValue* out) {
  TimeValue scratch;
  if (out == nullptr) out = &scratch;
  *out = kNoTime;
  if (name == nullptr || length == 0) return 0;
  const char* pattern = patternList != nullptr ? patternList : kDatePatternsDefault;
  while (*pattern != 0) {
    const size_t patternLength = std::strlen(pattern);
    if (MatchOnePattern(ignoreCase, name, length, pattern, patternLength, out)) return 1;
    pattern += patternLength + 1;
  }
  return 0;
}

int MatchDatePatternWide(int ignoreCase, const wchar_t* name, ptrdiff_t length,
                         const char* patternList, TimeValue* out) {
  if (out != nullptr) *out = kNoTime;
  if (name == nullptr || length == 0) return 0;
  const size_t count = length < 0 ? std::wcslen(name) : static_cast<size_t>(length);
  std::string bytes;
  if (!WideToAnsi(name, count, &bytes)) return 0;
  return MatchDatePattern(ignoreCase, bytes.data(), bytes.size(), patternList, out);
}

ResultCode ParseTimeBound(const char* text, uint16_t hour, uint16_t minute,
                          uint16_t second, TimeBound* out) {
  if (text == nullptr || out == nullptr) return kErrInvalidArgument;
  while (IsBlank(*text)) ++text;
  size_t length = std::strlen(text);
  while (length > 0 && IsBlank(text[length - 1])) --length;
  if (length < 2) return kErrInvalidValue;

  TimeValue matched = 0;
  if (MatchDatePattern(1, text, length, kDatePatternsBoundDate, &matched)) {
    TimeBound bound;
    bound.absolute = (hour == 0 && minute == 0 && second == 0)
                         ? matched
                         : SetTimeOfDay(matched, hour, minute, second, 999);
    *out = bound;
    return kOk;
  }
  if (MatchDatePattern(1, text, length, kDatePatternsBoundDateTime, &matched)) {
    TimeBound bound;
    bound.absolute = matched;
    *out = bound;
    return kOk;
  }
  char* end = nullptr;
  const long long count = std::strtoll(text, &end, 0);
  if (end == text || count == 0) return kErrInvalidValue;
  const char* p = end;
  while (IsBlank(*p)) ++p;
  const uint32_t unit = TimeUnitFromLetter(static_cast<unsigned char>(*p));
  if (unit == kUnitNone) return kErrInvalidValue;
  if (p[1] != 0 && !IsBlank(p[1])) return kErrInvalidValue;
  TimeBound bound;
  bound.unit = unit;
  bound.count = count;
  *out = bound;
  return kOk;
}

ResultCode ResolveInterval(const TimeBound* start, const TimeBound* end, TimeValue* from,
                           TimeValue* to) {
  if (start == nullptr || end == nullptr || from == nullptr || to == nullptr) {
    return kErrInvalidArgument;
  }
  if (IsTimeBoundSet(*start)) {
    const TimeValue reference = end->absolute != 0 ? end->absolute : LocalNow();
    *from = ResolveBound(*start, reference);
  }
  if (IsTimeBoundSet(*end)) {
    const TimeValue reference = (start->absolute != 0 ? start->absolute : LocalNow()) - 1;
    *to = ResolveBound(*end, reference);
  }
  return kOk;
}

TimeValue AddTimeUnits(TimeValue t, uint32_t unit, int64_t count) {
  static const TimeValue kUnitTicks[6] = {0, kTicksPerSecond, kTicksPerMinute, kTicksPerHour,
                                          kTicksPerDay, kTicksPerWeek};
  if (unit >= kUnitSecond && unit <= kUnitWeek) {
    return OffsetSaturated(t, count, kUnitTicks[unit]);
  }
  if (unit == kUnitMonth || unit == kUnitYear) return AddCalendarUnits(t, unit, count);
  return t;
}

TimeValue AlignToQuantum(TimeValue t, uint32_t unit, int64_t count) {
  const uint64_t n = count < 0 ? uint64_t{0} - static_cast<uint64_t>(count) : static_cast<uint64_t>(count);
  CalendarTime c;
  if (n == 0 || SplitTime(t, &c) != kOk) return t - t % kTicksPerSecond;
  const TimeValue day = StartOfDay(t);
  switch (unit) {
    case kUnitSecond:
      return day + c.hour * kTicksPerHour + c.minute * kTicksPerMinute +
             (c.second / n * n) * kTicksPerSecond;
    case kUnitMinute:
      return day + c.hour * kTicksPerHour + (c.minute / n * n) * kTicksPerMinute;
    case kUnitHour:
      return day + (c.hour / n * n) * kTicksPerHour;
    case kUnitDay:
      return MakeTimeMs(c.year, c.month, static_cast<uint32_t>((c.day - 1) / n * n + 1), 0, 0,
                        0, 0);
    case kUnitWeek:
      return AlignToWeek(t, n);
    case kUnitMonth:
      return MakeTimeMs(c.year, static_cast<uint32_t>((c.month - 1) / n * n + 1), 1, 0, 0, 0,
                        0);
    case kUnitYear: {
      const TimeValue result = MakeTimeMs(static_cast<uint32_t>(c.year / n * n), 1, 1, 0, 0, 0, 0);
      return result != 0 ? result : t - t % kTicksPerSecond;
    }
    default:
      return t - t % kTicksPerSecond;
  }
}

void SetRunStartTime(TimeValue utc) { gRunStartTime = utc; }

TimeValue GetRunStartTime() { return gRunStartTime; }
