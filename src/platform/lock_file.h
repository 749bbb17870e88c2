// Exclusive lock files that vanish when released (or when the holder dies).
#pragma once

#include "platform/types.h"

struct LockFile;

// Creates (or reuses) the file at path and takes an exclusive, non-blocking
// lock on it. A lock held by another process is kErrSharingViolation; other
// failures are mapped from the system error.
ResultCode LockFileOpen(const wchar_t* path, LockFile** out);

// Deletes the file while still holding the lock, then releases it.
// A null handle is ignored.
void LockFileClose(LockFile* lock);
