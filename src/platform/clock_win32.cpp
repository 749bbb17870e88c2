// System clock (FILETIME) and local-time conversion with the system's
// time-zone rules for the date converted.
#include "platform/clock.h"

#include <windows.h>

#include <ctime>

#include "platform/win32_util.h"

void PlatformInitTimeZone() { _tzset(); }

TimeValue PlatformNowUtc() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return TicksOfFileTime(now);
}

bool PlatformUtcToLocal(TimeValue utc, TimeValue* local) {
  if (local == nullptr || utc > 0x7FFFFFFFFFFFFFFFULL) return false;
  const FILETIME utcTime = FileTimeOfTicks(utc);
  SYSTEMTIME utcFields, localFields;
  if (!FileTimeToSystemTime(&utcTime, &utcFields)) return false;
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utcFields, &localFields)) return false;
  FILETIME localTime;
  if (!SystemTimeToFileTime(&localFields, &localTime)) return false;
  // SYSTEMTIME keeps milliseconds only: the finer ticks come back from the input.
  *local = TicksOfFileTime(localTime) + utc % 10000;
  return true;
}

void PlatformSleepMs(uint32_t milliseconds) { Sleep(milliseconds); }
