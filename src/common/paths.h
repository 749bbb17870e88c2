// Paths: the path macros ("@@x:l", "@@h!:c/..."), whole directory trees,
// joining names, existence tests, and the Windows error mapping.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

// A text beginning with "@@" has its macro replaced by the base directory it
// names; any other text is copied unchanged. -32 for a bad macro, -15 / -16
// when a base directory cannot be found; *out is empty on failure.
ResultCode ExpandPath(const wchar_t* text, int createFlag, std::wstring* out);

// Creates the directory and every missing parent: 0 when it exists
// afterwards; -14 for no path, -4 for an empty path, -22 when a component
// cannot be created (or the path is malformed).
ResultCode CreateDirectoryTree(const wchar_t* path);

// first + one separator (unless first ends in one) + second, every '/' and '\'
// written as the platform separator; with trailing a separator is added at
// the end too. A missing first part leaves the second alone.
std::wstring JoinPath(const wchar_t* first, const wchar_t* second, bool trailing);

bool DirectoryExists(const wchar_t* path);
// True for a regular file only: a directory, a FIFO or a device is no file.
bool FileExists(const wchar_t* path);

// Maker's folder below the common-files folder.
constexpr const wchar_t* kMakerFolder = L"Vexmoor";
