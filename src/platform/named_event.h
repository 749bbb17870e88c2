// Named manual-reset events shared by the processes of one user.
#pragma once

#include "platform/types.h"

struct NamedEvent;

// Creates the event "name" (for example "Local\varno_nightly") in the not-set
// state. kErrAlreadyExists when another live process holds an event of that
// name, kErrAccessDenied when the event cannot be reached for access reasons,
// other codes mapped from the system error.
ResultCode NamedEventCreate(const wchar_t* name, NamedEvent** out);

// Sets the event of that name, held by another process. kErrFileNotFound when
// no live process holds it, kErrAccessDenied when access is denied,
// kErrWriteFault when it was found but could not be set, other codes mapped
// from the system error when it cannot be opened.
ResultCode NamedEventSetByName(const wchar_t* name);

// 1 when the event has been set, 0 otherwise (also for null). Never waits.
int NamedEventIsSet(const NamedEvent* event);

// Removes the name and closes the event. kErrInvalidArgument for null.
ResultCode NamedEventClose(NamedEvent* event);
