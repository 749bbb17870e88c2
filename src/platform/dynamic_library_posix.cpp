// Shared libraries through dlopen/dlsym.
#include "platform/dynamic_library.h"

#include <dlfcn.h>

const char* const kMysqlClientLibraryNames[] = {"libmariadb.so.3", "libmysqlclient.so.21", nullptr};

ResultCode DynamicLibraryOpen(const char* const* names, DynamicLibrary** out) {
  if (names == nullptr || out == nullptr) return kErrInvalidArgument;
  *out = nullptr;
  for (; *names != nullptr; ++names) {
    void* handle = ::dlopen(*names, RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr) {
      *out = static_cast<DynamicLibrary*>(handle);
      return kOk;
    }
  }
  return kErrNotFound;
}

void* DynamicLibrarySymbol(DynamicLibrary* library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return ::dlsym(library, name);
}

void DynamicLibraryClose(DynamicLibrary* library) {
  if (library != nullptr) ::dlclose(library);
}
