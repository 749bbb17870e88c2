// Child processes: the raw command line is handed to CreateProcessW as it
// stands, so the child's runtime splits it by the same rules.
#include "platform/process.h"

#include <windows.h>

#include <string>
#include <vector>

#include "platform/command_line_split.h"
#include "platform/fs.h"

ResultCode StartProcess(const wchar_t* commandLine, const wchar_t* workDir, int wait) {
  if (commandLine == nullptr) return kErrInvalidArgument;
  std::vector<std::wstring> args;
  SplitRawCommandLine(commandLine, &args);
  if (args.empty() || args.front().empty()) return kErrFailed;
  std::wstring writable = commandLine;  // CreateProcessW may write into it
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION started{};
  const wchar_t* dir = workDir != nullptr && workDir[0] != L'\0' ? workDir : nullptr;
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                      dir, &startup, &started)) {
    return MapErrno(static_cast<int>(GetLastError()), kErrFailed);
  }
  ResultCode result = kOk;
  if (wait && WaitForSingleObject(started.hProcess, INFINITE) != WAIT_OBJECT_0) result = kErrNothingGiven;
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return result;
}

bool ProcessIsAlive(uint32_t processId) {
  if (processId == 0) return false;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;  // exists, not ours
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}
