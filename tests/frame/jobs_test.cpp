// Job names, cancellation between two processes, and the lock files that keep
// concurrent runs apart.
#include "frame/jobs.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

fs::path MakeFolder(const char* tag) {
  fs::path dir = fs::temp_directory_path() /
                 ("varno_jobs_" + std::to_string(getpid()) + "_" + tag);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// Job events live in a runtime folder of this test alone.
class JobEventTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_ = MakeFolder("runtime");
    setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("XDG_RUNTIME_DIR");
    fs::remove_all(runtime_);
  }
  fs::path runtime_;
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

// A child running job "name": exits 0 once it sees the cancellation.
pid_t StartJob(const wchar_t* name) {
  return StartChild([name](int ready) {
    JobEvent* event = nullptr;
    if (CreateJobEvent(name, &event) != kOk) _exit(3);
    SayReady(ready);
    for (int step = 0; step < 2000; ++step) {
      if (IsJobCancelled(event)) {
        CloseJobEvent(event);
        _exit(0);
      }
      usleep(10000);
    }
    _exit(1);
  });
}

TEST(CheckJobName, LowersStopsAtABlankAndRejectsOtherCharacters) {
  const std::pair<const wchar_t*, const wchar_t*> good[] = {
      {L"Nightly_Run-2", L"nightly_run-2"}, {L" nightly_run-2 extra", L"nightly_run-2"},
      {L"\t\tZ9\tx.y", L"z9"}, {L"", L""}, {L"   ", L""}};
  for (const auto& [text, expected] : good) {
    std::wstring name = L"x";
    EXPECT_EQ(CheckJobName(text, &name), kOk) << text;
    EXPECT_EQ(name, expected) << text;
  }
  std::wstring name = L"kept";
  for (const wchar_t* bad : {L"a.b", L"x/y", L"caf\u00e9"}) EXPECT_EQ(CheckJobName(bad, &name), kErrInvalidValue);
  EXPECT_EQ(name, L"kept");
  EXPECT_EQ(CheckJobName(nullptr, &name), kErrInvalidArgument);
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

// The caller's table: three single types, ended by a row without a name.
struct LockTable {
  InstanceLockRow rows[4] = {{L"SMTP-IN", 1, nullptr},
                             {L"SMTP-OUT", 2, nullptr},
                             {L"RBL-IN", 4, nullptr},
                             {nullptr, 0, nullptr}};
};

TEST(InstanceLocks, FirstFailureEndsTheWalkAndEarlierLocksStayHeld) {
  fs::path dir = MakeFolder("partial");
  LockTable holder;
  ASSERT_EQ(TakeInstanceLocks(dir.wstring().c_str(), 2, holder.rows), kOk);
  LockTable second;
  EXPECT_EQ(TakeInstanceLocks(dir.wstring().c_str(), 1 | 2 | 4, second.rows), kErrSharingViolation);
  EXPECT_NE(second.rows[0].handle, nullptr);
  EXPECT_EQ(second.rows[1].handle, nullptr);
  EXPECT_EQ(second.rows[2].handle, nullptr);
  ReleaseInstanceLocks(second.rows);
  ReleaseInstanceLocks(holder.rows);
  EXPECT_TRUE(fs::is_empty(dir));
  fs::remove_all(dir);
}

TEST(OpenLockFile, ReadOnlyLeftoverIsReusedAndTheLockIsExclusive) {
  fs::path dir = MakeFolder("lck");
  fs::path path = dir / "feed.lck";
  std::ofstream(path).put('x');
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  LockFile* lock = OpenLockFile(dir.wstring().c_str(), L"feed", 0);
  ASSERT_NE(lock, nullptr);
  EXPECT_NE(fs::status(path).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_EQ(OpenLockFile(dir.wstring().c_str(), L"feed", 0), nullptr);
  LockFileClose(lock);
  EXPECT_FALSE(fs::exists(path));
  fs::remove_all(dir);
}

TEST(OpenLockFile, WaitsUntilAnotherProcessReleasesIt) {
  fs::path dir = MakeFolder("wait") / "missing";
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
  fs::remove_all(dir.parent_path());
}

}  // namespace
