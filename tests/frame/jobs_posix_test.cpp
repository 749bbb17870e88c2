// Job events and lock files against child processes that are killed or that
// hold a lock for a while (fork and kill).
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "../scratch.h"
#include "frame/jobs.h"

namespace fs = std::filesystem;

namespace {

// Job events live in a runtime folder of this test alone.
class JobEventTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("XDG_RUNTIME_DIR", runtime_.path.c_str(), 1); }
  void TearDown() override { unsetenv("XDG_RUNTIME_DIR"); }
  scratch::Folder runtime_{"jobs_runtime"};
};

int ExitCodeOf(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs body in a child process; the child reports "ready" through a pipe
// before its body goes on. Returns the child's pid once it is ready.
template <typename Body>
pid_t StartChild(Body body) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    body(fds[1]);
    _exit(99);
  }
  close(fds[1]);
  char status = 0;
  bool ready = read(fds[0], &status, 1) == 1 && status == 'y';
  close(fds[0]);
  if (!ready) {
    ExitCodeOf(pid);
    return -1;
  }
  return pid;
}

void SayReady(int fd) {
  char status = 'y';
  if (write(fd, &status, 1) != 1) _exit(98);
  close(fd);
}

// A child holding job "name" until it is killed.
pid_t StartJob(const wchar_t* name) {
  return StartChild([name](int ready) {
    JobEvent* event = nullptr;
    if (CreateJobEvent(name, &event) != kOk) _exit(3);
    SayReady(ready);
    for (;;) pause();
  });
}

TEST_F(JobEventTest, NameIsFreeAgainAfterTheJobWasKilled) {
  pid_t job = StartJob(L"killed");
  ASSERT_GT(job, 0);
  kill(job, SIGKILL);
  EXPECT_EQ(ExitCodeOf(job), 128 + SIGKILL);
  JobEvent* event = nullptr;
  ASSERT_EQ(CreateJobEvent(L"killed", &event), kOk);
  EXPECT_EQ(IsJobCancelled(event), 0);
  EXPECT_EQ(CancelJob(L"killed"), kOk);
  EXPECT_EQ(IsJobCancelled(event), 1);
  EXPECT_EQ(CloseJobEvent(event), kOk);
}

TEST(OpenLockFile, WaitsUntilAnotherProcessReleasesIt) {
  const scratch::Folder folder("jobs_wait");
  const fs::path dir = folder / "missing";
  pid_t holder = StartChild([&dir](int ready) {
    LockFile* lock = OpenLockFile(dir.wstring().c_str(), L"feed", 0);
    if (lock == nullptr) _exit(1);
    SayReady(ready);
    usleep(700000);
    LockFileClose(lock);
    _exit(0);
  });
  ASSERT_GT(holder, 0);
  LockFile* lock = OpenLockFile(dir.wstring().c_str(), L"feed", 10);
  EXPECT_NE(lock, nullptr);
  EXPECT_EQ(ExitCodeOf(holder), 0);
  LockFileClose(lock);
}

}  // namespace
