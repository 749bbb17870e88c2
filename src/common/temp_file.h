// Files replaced whole: written to a temporary file beside the final one,
// forced to the disk and renamed over it, so that readers and a crash see the
// old file or the new one, never a part.
//
// A temporary file is named "<final>.<pid>.tmp" after the process writing
// it: concurrent writers never share one, and every writer first removes the
// temporary files of its final file whose process no longer runs (killed
// between writing and renaming), so none stays behind for good.
#pragma once

#include <cstddef>
#include <string>

#include "platform/types.h"

// The temporary file of finalPath for this process.
std::wstring TemporaryPathOf(const wchar_t* finalPath);

// Process id in a temporary name "<finalName>.<pid>.tmp", or 0 when the name
// is not one.
uint32_t TemporaryOwner(const wchar_t* name, const wchar_t* finalName);

// Removes the temporary files of finalPath left by processes that are gone;
// those of running processes stay.
void RemoveDeadTemporaries(const wchar_t* finalPath);

// Ends a temporary file written with result `written`: on success it is forced
// to the disk and renamed over finalPath; on any failure it is removed and
// finalPath stays as it was. Returns the first failure.
ResultCode FinishTemporary(const std::wstring& temporary, const wchar_t* finalPath, ResultCode written);

// Replaces finalPath by bytes (length may be 0, bytes then null) through the
// temporary file of this process, after removing those of dead processes.
ResultCode ReplaceFileWhole(const wchar_t* finalPath, const char* bytes, size_t length);
