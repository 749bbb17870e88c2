// Starting child processes from a wide command line.
#pragma once

#include <cstdint>

#include "platform/types.h"

// Splits the command line into arguments by the raw command-line rules and
// starts the first one as program (searched in PATH when it has no slash),
// in workDir when given. With wait, blocks until the process ends; its exit
// code is not looked at. kErrNothingGiven when waiting fails; a start failure is
// mapped from the system error with fallback kErrFailed.
ResultCode StartProcess(const wchar_t* commandLine, const wchar_t* workDir, int wait);

// True while a process with this id exists (also when it belongs to another
// user); false for ids that no process has.
bool ProcessIsAlive(uint32_t processId);
