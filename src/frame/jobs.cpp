// Job names, the cancellation event and the lock files of concurrent runs.
#include "frame/jobs.h"

#include <cwchar>
#include <new>

#include "common/paths.h"
#include "common/time.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/named_event.h"

struct JobEvent {
  NamedEvent* handle;
};

namespace {

constexpr size_t kEventNameCapacity = 261;
constexpr uint32_t kLockRetryMs = 500;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// "Local\varno_%s", cut to the buffer the name is formatted into.
std::wstring EventName(const wchar_t* jobName) {
  std::wstring name = L"Local\\varno_";
  name += jobName;
  if (name.size() > kEventNameCapacity - 1) name.resize(kEventNameCapacity - 1);
  return name;
}

void EnsureDirectory(const wchar_t* dir) {
  if (dir != nullptr && dir[0] != L'\0' && !DirectoryExists(dir)) CreateDirectoryTree(dir);
}

}  // namespace

ResultCode CheckJobName(const wchar_t* text, std::wstring* out) {
  if (text == nullptr) return kErrInvalidArgument;
  while (IsBlank(*text)) ++text;
  std::wstring name;
  for (; *text != L'\0' && !IsBlank(*text); ++text) {
    wchar_t c = *text;
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    bool allowed = (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'_' || c == L'-';
    if (!allowed) return kErrInvalidValue;
    name.push_back(c);
  }
  *out = std::move(name);
  return kOk;
}

ResultCode CreateJobEvent(const wchar_t* name, JobEvent** out) {
  *out = nullptr;
  if (name == nullptr) return kErrInvalidArgument;
  NamedEvent* handle = nullptr;
  ResultCode result = NamedEventCreate(EventName(name).c_str(), &handle);
  if (result == kErrAlreadyExists || result == kErrAccessDenied) return kErrAlreadyExists;
  if (result != kOk) return kErrFailed;
  JobEvent* event = new (std::nothrow) JobEvent{handle};
  if (event == nullptr) {
    NamedEventClose(handle);
    return kErrFailed;
  }
  *out = event;
  return kOk;
}

ResultCode CancelJob(const wchar_t* name) {
  if (name == nullptr) return kErrInvalidArgument;
  ResultCode result = NamedEventSetByName(EventName(name).c_str());
  if (result == kOk) return kOk;
  if (result == kErrAccessDenied) return kErrAccessDenied;
  if (result == kErrWriteFault) return kErrFailed;
  return kOk;  // no such job is not an error
}

int IsJobCancelled(const JobEvent* event) {
  return event != nullptr ? NamedEventIsSet(event->handle) : 0;
}

ResultCode CloseJobEvent(JobEvent* event) {
  if (event == nullptr) return kErrInvalidArgument;
  ResultCode result = NamedEventClose(event->handle);
  delete event;
  return result == kOk ? kOk : kErrFailed;
}

ResultCode TakeInstanceLocks(const wchar_t* outputDir, uint32_t mask, InstanceLockRow* rows) {
  if (outputDir == nullptr || rows == nullptr) return kErrInvalidArgument;
  for (InstanceLockRow* row = rows; row->name != nullptr; ++row) {
    if ((row->mask & mask) == 0 || row->handle != nullptr) continue;
    std::wstring leaf = std::wstring(L"_varno_") + row->name + L".lock";
    std::wstring path = JoinPath(outputDir, leaf.c_str(), false);
    EnsureDirectory(outputDir);
    ResultCode result = LockFileOpen(path.c_str(), &row->handle);
    if (result != kOk) return result;
  }
  return kOk;
}

ResultCode ReleaseInstanceLocks(InstanceLockRow* rows) {
  if (rows == nullptr) return kOk;
  for (InstanceLockRow* row = rows; row->name != nullptr; ++row) {
    LockFileClose(row->handle);
    row->handle = nullptr;
  }
  return kOk;
}

LockFile* OpenLockFile(const wchar_t* dir, const wchar_t* name, uint32_t waitSeconds) {
  if (dir == nullptr || name == nullptr) return nullptr;
  std::wstring leaf = std::wstring(name) + L".lck";
  std::wstring path = JoinPath(dir, leaf.c_str(), false);
  if (path.empty()) return nullptr;
  EnsureDirectory(dir);
  if (FileExists(path.c_str())) ClearReadOnly(path.c_str());
  TimeValue start = NowUtc();
  TimeValue end = start + static_cast<TimeValue>(waitSeconds) * kTicksPerSecond;
  for (;;) {
    LockFile* lock = nullptr;
    ResultCode result = LockFileOpen(path.c_str(), &lock);
    if (result == kOk) return lock;
    if (result != kErrSharingViolation || waitSeconds == 0) return nullptr;
    TimeValue now = NowUtc();
    // A clock set back before the start also ends the wait.
    if (now < start || now >= end) return nullptr;
    PlatformSleepMs(kLockRetryMs);
  }
}
