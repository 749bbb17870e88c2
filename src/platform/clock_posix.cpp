// System clock and local-time conversion with the C library.
#include "platform/clock.h"

#include <errno.h>
#include <time.h>

namespace {

// Ticks between 1601-01-01 and 1970-01-01.
constexpr uint64_t kUnixEpochTicks = 116444736000000000ULL;

// Days since 1601-01-01 of a civil date (proleptic Gregorian).
int64_t DaysSince1601(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yoe = year - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 134774;  // 134774 days 1601 -> 1970
}

}  // namespace

void PlatformInitTimeZone() { ::tzset(); }

TimeValue PlatformNowUtc() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return kUnixEpochTicks + static_cast<uint64_t>(now.tv_sec) * 10000000ULL +
         static_cast<uint64_t>(now.tv_nsec) / 100;
}

bool PlatformUtcToLocal(TimeValue utc, TimeValue* local) {
  if (local == nullptr || utc > 0x7FFFFFFFFFFFFFFFULL) return false;
  const int64_t unixTicks = static_cast<int64_t>(utc) - static_cast<int64_t>(kUnixEpochTicks);
  int64_t seconds = unixTicks / 10000000;
  int64_t fraction = unixTicks % 10000000;
  if (fraction < 0) {
    fraction += 10000000;
    --seconds;
  }
  time_t asTime = static_cast<time_t>(seconds);
  struct tm fields;
  if (::localtime_r(&asTime, &fields) == nullptr) return false;
  const int64_t days = DaysSince1601(fields.tm_year + 1900LL, fields.tm_mon + 1, fields.tm_mday);
  if (days < 0) return false;
  const int64_t secondsOfDay = fields.tm_hour * 3600LL + fields.tm_min * 60LL + fields.tm_sec;
  *local = static_cast<TimeValue>((days * 86400 + secondsOfDay) * 10000000 + fraction);
  return true;
}

void PlatformSleepMs(uint32_t milliseconds) {
  struct timespec wait;
  wait.tv_sec = milliseconds / 1000;
  wait.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}
