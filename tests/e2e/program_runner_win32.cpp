// Starting and waiting for the programs under test on Windows: CreateProcessW
// with a command line quoted so that the child's split gives the arguments
// back, standard streams on inherited file handles.
#include <windows.h>

#include "stat_support.h"

namespace stat_e2e {

namespace {

HANDLE InheritedFile(const wchar_t* path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

Running StartProgram(const std::string& path, const std::vector<std::string>& args,
                     const fs::path& folder, const std::vector<std::string>& extraEnv) {
  Running run;
  // The children inherit this process's environment; the suites that pass
  // their own entries (the database feed's) are POSIX-only.
  EXPECT_TRUE(extraEnv.empty()) << "extra environment entries are not passed on Windows";
  static int counter = 0;
  const std::string tag = std::to_string(CurrentProcessId()) + "_" + std::to_string(counter++);
  run.outPath = folder / ("stdout_" + tag);
  run.errPath = folder / ("stderr_" + tag);
  fs::create_directories(folder);
  std::wstring line;
  AppendQuotedArgument(&line, fs::path(path).wstring());
  for (const std::string& arg : args) AppendQuotedArgument(&line, fs::path(arg).wstring());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = InheritedFile(L"NUL", GENERIC_READ, OPEN_EXISTING);
  startup.hStdOutput = InheritedFile(run.outPath.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
  startup.hStdError = InheritedFile(run.errPath.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
  PROCESS_INFORMATION info = {};
  // Wine now and then refuses a start under load with ERROR_INTERNAL_ERROR
  // (1359); the test is about the program, so the start is tried again.
  BOOL started = FALSE;
  DWORD error = 0;
  for (int attempt = 0; attempt < 5 && !started; ++attempt) {
    if (attempt > 0) Sleep(200);
    started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &startup, &info);
    if (!started) error = GetLastError();
    if (!started && error != ERROR_INTERNAL_ERROR) break;
  }
  EXPECT_TRUE(started) << error;
  CloseHandle(startup.hStdInput);
  CloseHandle(startup.hStdOutput);
  CloseHandle(startup.hStdError);
  if (started) {
    CloseHandle(info.hThread);
    run.process = reinterpret_cast<intptr_t>(info.hProcess);
  }
  return run;
}

int WaitProgram(Running& run) {
  HANDLE process = reinterpret_cast<HANDLE>(run.process);
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  run.process = 0;
  return static_cast<int>(code);
}

// A console control event reaches only processes sharing a console; the
// tests' children have none under the test runner.
bool CanInterruptPrograms() { return false; }

bool InterruptProgram(const Running&) { return false; }

// There are no FIFOs in the Windows file system: nothing is made.
bool MakeFifoWhereSupported(const fs::path&) { return true; }

}  // namespace stat_e2e
