// Shared libraries through LoadLibraryW/GetProcAddress.
#include "platform/dynamic_library.h"

#include <windows.h>

#include <string>

const char* const kMysqlClientLibraryNames[] = {"libmysql.dll", nullptr};

namespace {

// Library names are plain ASCII; the ANSI code page covers them.
std::wstring WideName(const char* name) {
  int length = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), length);
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
}

}  // namespace

ResultCode DynamicLibraryOpen(const char* const* names, DynamicLibrary** out) {
  if (names == nullptr || out == nullptr) return kErrInvalidArgument;
  *out = nullptr;
  // No "cannot find the library" dialog box for a missing file.
  const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  for (; *names != nullptr; ++names) {
    const std::wstring name = WideName(*names);
    HMODULE module = name.empty() ? nullptr : LoadLibraryW(name.c_str());
    if (module != nullptr) {
      *out = reinterpret_cast<DynamicLibrary*>(module);
      break;
    }
  }
  SetErrorMode(previousMode);
  return *out != nullptr ? kOk : kErrNotFound;
}

void* DynamicLibrarySymbol(DynamicLibrary* library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void DynamicLibraryClose(DynamicLibrary* library) {
  if (library != nullptr) FreeLibrary(reinterpret_cast<HMODULE>(library));
}
