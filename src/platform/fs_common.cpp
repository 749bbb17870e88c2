// The parts of the file interface that need no system call of their own:
// built on every platform, so each stands once.
#include "platform/fs.h"

ResultCode GetPathSize(const wchar_t* path, uint64_t* size) {
  if (size == nullptr) return kErrInvalidArgument;
  *size = 0;
  PathAttributes attributes;
  ResultCode result = GetPathAttributes(path, &attributes);
  if (result != kOk) return result;
  if (!attributes.exists) return kErrFileNotFound;
  *size = attributes.size;
  return kOk;
}

// The Windows error numbers' result codes: a plain table, so that the codes a
// Windows error stands for are one list on every platform.
ResultCode MapWinError(uint32_t error, ResultCode fallback) {
  switch (error) {
    case 0: return kOk;
    case 121: case 258: case 1053: case 1121: case 1460: case 12002: return kTimeOut;
    case 12030: case 12031: case 12163: return kConnectionBroken;
    case 8: case 14: return kErrNoMemory;
    case 2: return kErrFileNotFound;
    case 3: return kErrPathNotFound;
    case 18: return kErrNoMoreEntries;
    case 82: return kErrCannotCreate;
    case 80: return kErrAlreadyExists;
    case 110: return kErrOpenFailed;
    case 6: return kErrInvalidHandle;
    case 29: return kErrWriteFault;
    case 30: return kErrReadFault;
    case 13: return kErrInvalidData;
    case 5: return kErrAccessDenied;
    case 87: return kErrInvalidArgument;
    case 122: return kErrBufferTooSmall;
    case 120: return kErrNotSupported;
    case 32: return kErrSharingViolation;
    case 1168: return kErrNotFound;
    case 1243: return -30;
    case 39: case 112: return kErrDiskFull;
    case 123: case 267: case 12007: return kErrInvalidName;
    case 16: return -33;
    case 21: return kErrDeviceNotReady;
    case 12029: case 12164: case 12165: return kErrCannotConnect;
    default: return fallback;
  }
}
