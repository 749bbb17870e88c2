#include "stat/stat_mode.h"

ResultCode TakeStatLocks(const wchar_t*, uint32_t) { return kOk; }

void ReleaseStatLocks() {}

ResultCode RunStatMode(const StatModeArgs&) { return kErrNotSupported; }
