// Starting and waiting for the programs under test on POSIX: posix_spawn
// with the standard streams opened on files, waitpid, SIGINT.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "stat_support.h"

namespace stat_e2e {

Running StartProgram(const std::string& path, const std::vector<std::string>& args,
                     const fs::path& folder, const std::vector<std::string>& extraEnv) {
  Running run;
  static int counter = 0;
  const std::string tag = std::to_string(CurrentProcessId()) + "_" + std::to_string(counter++);
  run.outPath = folder / ("stdout_" + tag);
  run.errPath = folder / ("stderr_" + tag);
  fs::create_directories(folder);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, run.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, run.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::string program = path;
  std::vector<std::string> copies = args;
  std::vector<char*> argv;
  argv.push_back(program.data());
  for (std::string& arg : copies) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = {"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin"};
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(spawned, 0);
  run.process = spawned == 0 ? pid : 0;
  return run;
}

int WaitProgram(Running& run) {
  int status = 0;
  waitpid(static_cast<pid_t>(run.process), &status, 0);
  run.process = 0;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool CanInterruptPrograms() { return true; }

bool InterruptProgram(const Running& run) {
  return run.process != 0 && kill(static_cast<pid_t>(run.process), SIGINT) == 0;
}

bool MakeFifoWhereSupported(const fs::path& path) { return mkfifo(path.c_str(), 0600) == 0; }

}  // namespace stat_e2e
