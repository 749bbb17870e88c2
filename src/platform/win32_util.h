// Small helpers shared by the Win32 implementation files: a handle closed
// with its owner and the FILETIME <-> tick conversion.
#pragma once

#include <windows.h>

#include "platform/types.h"

inline TimeValue TicksOfFileTime(const FILETIME& time) {
  return (static_cast<TimeValue>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

inline FILETIME FileTimeOfTicks(TimeValue ticks) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

// Closes the handle when it goes out of scope.
struct ScopedHandle {
  HANDLE handle = INVALID_HANDLE_VALUE;
  explicit ScopedHandle(HANDLE h) : handle(h) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() {
    if (valid()) CloseHandle(handle);
  }
  bool valid() const { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
};
