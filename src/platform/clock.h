// System clock and local-time conversion.
#pragma once

#include <cstdint>

#include "platform/types.h"

// Reads the time-zone settings once (call at start-up, after the locale).
void PlatformInitTimeZone();

// Current system time (UTC) in ticks since 1601-01-01.
TimeValue PlatformNowUtc();

// Converts a UTC time to local wall-clock time; false when the platform
// cannot convert it (the output is then left alone).
bool PlatformUtcToLocal(TimeValue utc, TimeValue* local);

// Suspends the calling thread for the given number of milliseconds.
void PlatformSleepMs(uint32_t milliseconds);
