// Child processes: the wide command line is split back into arguments by the
// raw command-line rules and started with posix_spawnp. Our own descriptors
// are all close-on-exec, so the child inherits only the standard streams.
#include "platform/process.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/command_line_split.h"
#include "platform/fs.h"
#include "platform/text.h"

extern char** environ;

namespace {


ResultCode WaitForChild(pid_t pid) {
  int status = 0;
  for (;;) {
    pid_t ended = waitpid(pid, &status, 0);
    if (ended == pid) return kOk;
    if (ended < 0 && errno == EINTR) continue;
    return kErrNothingGiven;
  }
}

}  // namespace

ResultCode StartProcess(const wchar_t* commandLine, const wchar_t* workDir, int wait) {
  if (commandLine == nullptr) return kErrInvalidArgument;
  std::vector<std::wstring> wideArgs;
  SplitRawCommandLine(commandLine, &wideArgs);
  if (wideArgs.empty() || wideArgs.front().empty()) return kErrFailed;
  std::vector<std::string> args;
  args.reserve(wideArgs.size());
  for (const std::wstring& arg : wideArgs) args.push_back(WideToMultibyte(arg.c_str()));
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return kErrNoMemory;
  std::string dir;
  if (workDir != nullptr && workDir[0] != L'\0') {
    dir = WideToMultibyte(workDir);
    if (posix_spawn_file_actions_addchdir_np(&actions, dir.c_str()) != 0) {
      posix_spawn_file_actions_destroy(&actions);
      return kErrNoMemory;
    }
  }
  pid_t pid = 0;
  int err = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return MapErrno(err, kErrFailed);
  return wait ? WaitForChild(pid) : kOk;
}

bool ProcessIsAlive(uint32_t processId) {
  if (processId == 0 || processId > static_cast<uint32_t>(INT32_MAX)) return false;
  return kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM;
}
