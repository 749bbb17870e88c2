// Basic types shared by every layer: result codes and the tick-based time value.
#pragma once

#include <cstdint>

// Signed result of every operation: 0 success, 2 user abort, negative failures.
using ResultCode = int32_t;

constexpr ResultCode kOk = 0;
constexpr ResultCode kUserAbort = 2;
constexpr ResultCode kTimeOut = 6;
constexpr ResultCode kConnectionBroken = 9;
constexpr ResultCode kErrNothingGiven = -1;
constexpr ResultCode kErrNoMemory = -2;
constexpr ResultCode kErrFileNotFound = -3;
constexpr ResultCode kErrPathNotFound = -4;
constexpr ResultCode kErrNoMoreEntries = -5;
constexpr ResultCode kErrCannotCreate = -6;
constexpr ResultCode kErrAlreadyExists = -7;
constexpr ResultCode kErrOpenFailed = -8;
constexpr ResultCode kErrInvalidHandle = -9;
constexpr ResultCode kErrWriteFault = -10;
constexpr ResultCode kErrReadFault = -11;
constexpr ResultCode kErrInvalidData = -12;
constexpr ResultCode kErrAccessDenied = -13;
constexpr ResultCode kErrInvalidArgument = -14;
constexpr ResultCode kErrFailed = -15;
constexpr ResultCode kErrBufferTooSmall = -16;
constexpr ResultCode kErrNotSupported = -21;
constexpr ResultCode kErrBadPath = -22;
constexpr ResultCode kErrSharingViolation = -27;
constexpr ResultCode kErrNotFound = -28;
constexpr ResultCode kErrInvalidValue = -29;
constexpr ResultCode kErrDiskFull = -31;
constexpr ResultCode kErrInvalidName = -32;
constexpr ResultCode kErrDeviceNotReady = -36;
constexpr ResultCode kErrCannotConnect = -44;

// 100-nanosecond ticks since 1601-01-01 00:00:00 (the FILETIME layout).
using TimeValue = uint64_t;

constexpr TimeValue kTicksPerSecond = 10000000ULL;
constexpr TimeValue kTicksPerMinute = 60 * kTicksPerSecond;
constexpr TimeValue kTicksPerHour = 60 * kTicksPerMinute;
constexpr TimeValue kTicksPerDay = 24 * kTicksPerHour;
constexpr TimeValue kNoTime = 0x7FFFFFFFFFFFFFFFULL;
