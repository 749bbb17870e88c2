// Named events between processes: one holder per name, set from outside,
// released by a crashing holder.
#include "platform/named_event.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

// Each test gets its own runtime folder, so names never meet other runs.
class NamedEventTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/varno-event-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    const char* old = getenv("XDG_RUNTIME_DIR");
    if (old != nullptr) saved_ = old, hadSaved_ = true;
    setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
  }
  void TearDown() override {
    if (hadSaved_) {
      setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
    } else {
      unsetenv("XDG_RUNTIME_DIR");
    }
    std::string command = "rm -rf '" + folder_ + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }
  std::string folder_;
  std::string saved_;
  bool hadSaved_ = false;
};

// A child that creates the event, tells the parent, then waits (bounded) for
// the event to be set and exits 0 when it saw it, 1 when not, 3 when it
// could not create it.
pid_t StartHolder(const wchar_t* name, int* readyPipe) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    NamedEvent* event = nullptr;
    char status = NamedEventCreate(name, &event) == kOk ? 'y' : 'n';
    if (write(fds[1], &status, 1) != 1 || status != 'y') _exit(3);
    for (int step = 0; step < 2000; ++step) {
      if (NamedEventIsSet(event)) {
        NamedEventClose(event);
        _exit(0);
      }
      usleep(10000);
    }
    _exit(1);
  }
  close(fds[1]);
  *readyPipe = fds[0];
  return pid;
}

bool WaitReady(int readyPipe) {
  char status = 0;
  bool ready = read(readyPipe, &status, 1) == 1 && status == 'y';
  close(readyPipe);
  return ready;
}

int ExitCodeOf(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(NamedEventTest, KilledHolderReleasesTheNameAndItsFlag) {
  int ready = -1;
  pid_t holder = StartHolder(L"Local\\varno_crash", &ready);
  ASSERT_GT(holder, 0);
  ASSERT_TRUE(WaitReady(ready));
  // Stopped, set and killed: the file stays behind with its flag set, but
  // no live process holds it.
  kill(holder, SIGSTOP);
  EXPECT_EQ(NamedEventSetByName(L"Local\\varno_crash"), kOk);
  kill(holder, SIGKILL);
  EXPECT_EQ(ExitCodeOf(holder), 128 + SIGKILL);

  NamedEvent* event = nullptr;
  ASSERT_EQ(NamedEventCreate(L"Local\\varno_crash", &event), kOk);
  EXPECT_EQ(NamedEventIsSet(event), 0);  // the dead holder's flag is gone
  EXPECT_EQ(NamedEventSetByName(L"Local\\varno_crash"), kOk);
  EXPECT_EQ(NamedEventIsSet(event), 1);
  EXPECT_EQ(NamedEventIsSet(event), 1);  // manual reset: stays set
  EXPECT_EQ(NamedEventClose(event), kOk);
}

TEST_F(NamedEventTest, SettingWithoutHolderFindsNothingAndRemovesALeftover) {
  EXPECT_EQ(NamedEventSetByName(L"Local\\varno_nobody"), kErrFileNotFound);

  int ready = -1;
  pid_t holder = StartHolder(L"Local\\varno_left", &ready);
  ASSERT_TRUE(WaitReady(ready));
  kill(holder, SIGKILL);
  ExitCodeOf(holder);
  std::string leftover = folder_ + "/Local.varno_left.event";
  struct stat info;
  ASSERT_EQ(stat(leftover.c_str(), &info), 0);
  EXPECT_EQ(NamedEventSetByName(L"Local\\varno_left"), kErrFileNotFound);
  EXPECT_NE(stat(leftover.c_str(), &info), 0);
}

TEST_F(NamedEventTest, OneHolderPerNameInsideOneProcessAndCloseFreesIt) {
  NamedEvent* first = nullptr;
  NamedEvent* other = nullptr;
  NamedEvent* second = nullptr;
  ASSERT_EQ(NamedEventCreate(L"Local\\varno_a", &first), kOk);
  ASSERT_EQ(NamedEventCreate(L"Local\\varno_b", &other), kOk);
  EXPECT_EQ(NamedEventCreate(L"Local\\varno_a", &second), kErrAlreadyExists);
  EXPECT_EQ(NamedEventSetByName(L"Local\\varno_a"), kOk);
  EXPECT_EQ(NamedEventIsSet(first), 1);
  EXPECT_EQ(NamedEventIsSet(other), 0);
  EXPECT_EQ(NamedEventClose(first), kOk);
  EXPECT_EQ(NamedEventSetByName(L"Local\\varno_a"), kErrFileNotFound);
  ASSERT_EQ(NamedEventCreate(L"Local\\varno_a", &second), kOk);
  EXPECT_EQ(NamedEventClose(second), kOk);
  EXPECT_EQ(NamedEventClose(other), kOk);
  EXPECT_EQ(NamedEventClose(nullptr), kErrInvalidArgument);
  EXPECT_EQ(NamedEventIsSet(nullptr), 0);
}

TEST_F(NamedEventTest, LongNamesThatShareAPrefixStayApart) {
  std::wstring base = L"Local\\varno_" + std::wstring(240, L'x');
  NamedEvent* one = nullptr;
  NamedEvent* two = nullptr;
  ASSERT_EQ(NamedEventCreate((base + L"1").c_str(), &one), kOk);
  ASSERT_EQ(NamedEventCreate((base + L"2").c_str(), &two), kOk);
  EXPECT_EQ(NamedEventSetByName((base + L"2").c_str()), kOk);
  EXPECT_EQ(NamedEventIsSet(one), 0);
  EXPECT_EQ(NamedEventIsSet(two), 1);
  NamedEventClose(one);
  NamedEventClose(two);
}

TEST_F(NamedEventTest, WithoutRuntimeFolderAPrivateFolderIsUsed) {
  unsetenv("XDG_RUNTIME_DIR");
  NamedEvent* event = nullptr;
  ASSERT_EQ(NamedEventCreate(L"Local\\varno_fallback_test", &event), kOk);
  std::string folder = "/tmp/varno-" + std::to_string(getuid());
  struct stat info;
  ASSERT_EQ(stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(stat((folder + "/Local.varno_fallback_test.event").c_str(), &info), 0);
  EXPECT_EQ(NamedEventClose(event), kOk);
  EXPECT_NE(stat((folder + "/Local.varno_fallback_test.event").c_str(), &info), 0);
}

}  // namespace
