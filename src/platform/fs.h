// Files and directories: attributes, delete, copy, rename, directories, the
// executable's path, environment values, well-known folders, and the mapping
// of the system's error numbers to result codes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

// The separator this platform writes between path components ('\' or '/' are
// both accepted when reading a path).
#if defined(_WIN32)
constexpr wchar_t kPathSeparator = L'\\';
#else
constexpr wchar_t kPathSeparator = L'/';
#endif

inline bool IsPathSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

struct PathAttributes {
  bool exists;
  bool isDirectory;
  bool isRegular;
  bool readOnly;   // no write permission for the owner
  uint64_t size;   // bytes, for a regular file
  TimeValue modified;  // last write, UTC ticks
};

// Attributes of a path (links followed). A missing path is kOk with
// exists == false; other failures give their mapped code.
ResultCode GetPathAttributes(const wchar_t* path, PathAttributes* out);

// Size in bytes of a regular file; -3 when missing.
ResultCode GetPathSize(const wchar_t* path, uint64_t* size);

// Deletes a file (not a directory). -3 when missing.
ResultCode RemoveFile(const wchar_t* path);

// Removes an empty directory.
ResultCode RemoveEmptyDirectory(const wchar_t* path);

// Copies a file's bytes; with failIfExists an existing target is -7.
ResultCode CopyFileTo(const wchar_t* from, const wchar_t* to, bool failIfExists);

// Renames a file, replacing an existing target atomically.
ResultCode RenameReplacing(const wchar_t* from, const wchar_t* to);

// Gives the owner write permission again.
ResultCode ClearReadOnly(const wchar_t* path);

// Creates one directory (its parent must exist): kOk, -7 when something of
// that name exists, -4 when the parent is missing, or the mapped failure.
ResultCode MakeDirectory(const wchar_t* path);

// Full path of the running executable.
ResultCode GetExecutablePath(std::wstring* out);

// Value of an environment variable; false when it is not set.
bool GetEnvironmentValue(const wchar_t* name, std::wstring* out);

// Sets an environment variable of this process (null value: removes it).
bool SetEnvironmentValue(const wchar_t* name, const wchar_t* value);

// Flushes a file's or a directory's contents to the disk (after an atomic
// save: the file, then its directory).
ResultCode SyncPathToDisk(const wchar_t* path);

// Well-known base folders of the path macros.
enum class UserFolder {
  kCommonFiles,          // the common-files folder (the maker's folder goes below it)
  kWindows,              // the Windows directory
  kSystem,               // the system directory
  kAppData,              // the user's (roaming) application data
  kLocalAppData,         // the user's local application data
  kCommonAppData,        // the machine's application data
  kDefaultAppData,       // application data of the default user profile
  kDefaultLocalAppData,  // local application data of the default user profile
};

// Path of a well-known folder, without a trailing separator unless it is a
// root. createFlag asks to create a missing folder (callers pass 0).
ResultCode GetUserFolder(UserFolder folder, int createFlag, std::wstring* out);

// Result code of a system error number (errno; on Windows a Windows error,
// as MapWinError); fallback for numbers without a mapping.
// ENOENT gives -3 (file not found); callers meaning a directory use
// MapErrnoNotFound with -4.
ResultCode MapErrno(int err, ResultCode fallback);

// Like MapErrno, with the code that ENOENT stands for given by the caller.
ResultCode MapErrnoNotFound(int err, ResultCode fallback, ResultCode notFound);

// Result code of a Windows error number (GetLastError); fallback for numbers
// without a mapping. ERROR_FILE_NOT_FOUND gives -3, ERROR_PATH_NOT_FOUND -4.
ResultCode MapWinError(uint32_t error, ResultCode fallback);

// The calling thread's last system error (errno; GetLastError on Windows),
// so callers outside the platform layer need
// no OS header.
int LastSystemError();
