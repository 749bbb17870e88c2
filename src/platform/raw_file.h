// A small file rewritten in place, readable by other processes meanwhile.
#pragma once

#include <cstddef>

#include "platform/types.h"

struct RawFile;

// Creates the file or empties an existing one, for writing.
ResultCode RawFileCreate(const wchar_t* path, RawFile** out);

// Replaces the whole content: writes the bytes at offset 0, sets the end of
// the file behind them and hands the data to the system.
ResultCode RawFileRewrite(RawFile* file, const char* bytes, size_t length);

// Closes the file (null ignored).
void RawFileClose(RawFile* file);

// Deletes a file by name.
ResultCode RawFileDelete(const wchar_t* path);
