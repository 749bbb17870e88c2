// Job names, the cancellation event between processes, and instance locks.
#pragma once

#include <cstdint>
#include <string>

#include "platform/lock_file.h"
#include "platform/types.h"

// Checks and normalises a job name: leading blanks skipped, a blank ends the
// name, 'A'..'Z' lowered; only 'a'..'z', '0'..'9', '_' and '-' are allowed
// (else kErrInvalidValue). An empty name is accepted. kErrInvalidArgument for
// no text.
ResultCode CheckJobName(const wchar_t* text, std::wstring* out);

// The cancellation event of a running job ("Local\varno_%s").
struct JobEvent;

// Creates the job's event. kErrAlreadyExists when a job of that name runs
// (or access to its event is denied), kErrFailed for any other failure.
ResultCode CreateJobEvent(const wchar_t* name, JobEvent** out);

// Asks the job of that name to stop. 0 when the event was set or when no such
// job runs, kErrAccessDenied when access is denied, kErrFailed when setting fails.
ResultCode CancelJob(const wchar_t* name);

// 1 when the job's event is set, 0 otherwise (also for null). Never waits.
int IsJobCancelled(const JobEvent* event);

// 0, kErrInvalidArgument for null, kErrFailed when closing fails.
ResultCode CloseJobEvent(JobEvent* event);

// One row of the caller's lock table; the table ends with name == nullptr.
struct InstanceLockRow {
  const wchar_t* name;  // type name, gives the file "_varno_%s.lock"
  uint32_t mask;        // the row takes part when it shares a bit with the request
  LockFile* handle;     // null when not held
};

// Takes the lock file of every row whose mask shares a bit with mask and that
// holds none yet, in table order, creating outputDir when missing. The first
// failure ends the walk (kErrSharingViolation when another run holds it); the
// locks already taken stay held until ReleaseInstanceLocks.
ResultCode TakeInstanceLocks(const wchar_t* outputDir, uint32_t mask, InstanceLockRow* rows);

// Releases (and deletes) every lock the rows hold. Always 0.
ResultCode ReleaseInstanceLocks(InstanceLockRow* rows);

// Takes the lock file "%s.lck" of name in dir (created when missing), waiting
// in 500 ms steps up to waitSeconds while another process holds it. Null when
// the lock cannot be had; LockFileClose releases it.
LockFile* OpenLockFile(const wchar_t* dir, const wchar_t* name, uint32_t waitSeconds);
