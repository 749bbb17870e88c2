// Named manual-reset events of the system's object namespace. The name lives
// as long as any process holds a handle, so a crashed holder frees it.
#include "platform/named_event.h"

#include <windows.h>

#include <new>

#include "platform/fs.h"

struct NamedEvent {
  HANDLE handle;
};

ResultCode NamedEventCreate(const wchar_t* name, NamedEvent** out) {
  *out = nullptr;
  if (name == nullptr || name[0] == L'\0') return kErrInvalidArgument;
  HANDLE handle = CreateEventW(nullptr, TRUE, FALSE, name);
  DWORD error = GetLastError();
  if (handle == nullptr) {
    if (error == ERROR_ACCESS_DENIED) return kErrAccessDenied;
    return MapErrno(static_cast<int>(error), kErrFailed);
  }
  if (error == ERROR_ALREADY_EXISTS) {
    CloseHandle(handle);
    return kErrAlreadyExists;
  }
  NamedEvent* event = new (std::nothrow) NamedEvent{handle};
  if (event == nullptr) {
    CloseHandle(handle);
    return kErrNoMemory;
  }
  *out = event;
  return kOk;
}

ResultCode NamedEventSetByName(const wchar_t* name) {
  if (name == nullptr || name[0] == L'\0') return kErrInvalidArgument;
  HANDLE handle = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
  if (handle == nullptr) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return kErrFileNotFound;
    if (error == ERROR_ACCESS_DENIED) return kErrAccessDenied;
    return MapErrno(static_cast<int>(error), kErrFailed);
  }
  BOOL set = SetEvent(handle);
  CloseHandle(handle);
  return set ? kOk : kErrWriteFault;
}

int NamedEventIsSet(const NamedEvent* event) {
  if (event == nullptr) return 0;
  return WaitForSingleObject(event->handle, 0) == WAIT_OBJECT_0 ? 1 : 0;
}

ResultCode NamedEventClose(NamedEvent* event) {
  if (event == nullptr) return kErrInvalidArgument;
  BOOL closed = CloseHandle(event->handle);
  delete event;
  return closed ? kOk : kErrFailed;
}
