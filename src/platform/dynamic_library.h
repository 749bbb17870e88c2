// Shared libraries loaded at run time and their exported names.
#pragma once

#include "platform/types.h"

struct DynamicLibrary;

// Names the MySQL client library is installed under on this system, in the
// order tried, ended by null ("libmysql.dll" on Windows).
extern const char* const kMysqlClientLibraryNames[];

// Loads the first library of the null-terminated list of names that the
// system can load. kErrNotFound when none can be loaded.
ResultCode DynamicLibraryOpen(const char* const* names, DynamicLibrary** out);
// Address of an exported name, or null when the library lacks it.
void* DynamicLibrarySymbol(DynamicLibrary* library, const char* name);
// Unloads the library (null ignored).
void DynamicLibraryClose(DynamicLibrary* library);
