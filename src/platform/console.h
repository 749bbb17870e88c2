// Standard streams and process facts for the console layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

enum StandardStream { kStandardOut = 1, kStandardErr = 2 };

// Writes bytes unchanged to standard output or standard error (fwrite) and
// flushes standard error. Returns the count written.
size_t WriteStandardStream(StandardStream stream, const char* bytes, size_t length);

// Flushes both standard streams.
void FlushStandardStreams();

// Id of the running process.
uint32_t CurrentProcessId();

// Suspends the calling thread for the given milliseconds.
void SleepMilliseconds(uint32_t milliseconds);

// The arguments the process was started with (program name first), as the
// system keeps them; false when they cannot be read.
bool ReadProcessArguments(std::vector<std::wstring>* args);
