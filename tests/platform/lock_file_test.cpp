// Lock files: exclusive across processes, removed when released, reusable
// after a crash or when left read-only.
#include "platform/lock_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

std::string MakeFolder() {
  char pattern[] = "/tmp/varno-lock-test-XXXXXX";
  return mkdtemp(pattern) != nullptr ? std::string(pattern) : std::string();
}

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// A child that takes the lock, reports, and then sleeps until killed.
pid_t HoldInChild(const std::string& path) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    LockFile* lock = nullptr;
    char status = LockFileOpen(Wide(path).c_str(), &lock) == kOk ? 'y' : 'n';
    if (write(fds[1], &status, 1) != 1) _exit(1);
    for (;;) pause();
  }
  close(fds[1]);
  char status = 0;
  bool ok = read(fds[0], &status, 1) == 1 && status == 'y';
  close(fds[0]);
  if (!ok) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
  }
  return pid;
}

void KillChild(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

TEST(LockFileTest, HeldByAnotherProcessIsASharingViolationUntilItDies) {
  std::string folder = MakeFolder();
  std::string path = folder + "/_varno_SMTP-IN.lock";
  pid_t holder = HoldInChild(path);
  ASSERT_GT(holder, 0);
  LockFile* lock = nullptr;
  EXPECT_EQ(LockFileOpen(Wide(path).c_str(), &lock), kErrSharingViolation);
  EXPECT_EQ(lock, nullptr);
  KillChild(holder);
  // The crash left the file behind; it is taken over and removed on release.
  ASSERT_TRUE(Exists(path));
  ASSERT_EQ(LockFileOpen(Wide(path).c_str(), &lock), kOk);
  LockFileClose(lock);
  EXPECT_FALSE(Exists(path));
  rmdir(folder.c_str());
}

TEST(LockFileTest, ExclusiveInsideOneProcessAndGoneAfterRelease) {
  std::string folder = MakeFolder();
  std::string path = folder + "/feed.lck";
  LockFile* first = nullptr;
  LockFile* second = nullptr;
  ASSERT_EQ(LockFileOpen(Wide(path).c_str(), &first), kOk);
  EXPECT_TRUE(Exists(path));
  EXPECT_EQ(LockFileOpen(Wide(path).c_str(), &second), kErrSharingViolation);
  LockFileClose(first);
  EXPECT_FALSE(Exists(path));
  ASSERT_EQ(LockFileOpen(Wide(path).c_str(), &second), kOk);
  LockFileClose(second);
  LockFileClose(nullptr);
  rmdir(folder.c_str());
}

TEST(LockFileTest, ReadOnlyLeftoverIsReused) {
  std::string folder = MakeFolder();
  std::string path = folder + "/_varno_RBL-IN.lock";
  FILE* leftover = fopen(path.c_str(), "wb");
  ASSERT_NE(leftover, nullptr);
  fclose(leftover);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  LockFile* lock = nullptr;
  ASSERT_EQ(LockFileOpen(Wide(path).c_str(), &lock), kOk);
  LockFile* second = nullptr;
  EXPECT_EQ(LockFileOpen(Wide(path).c_str(), &second), kErrSharingViolation);
  LockFileClose(lock);
  EXPECT_FALSE(Exists(path));
  rmdir(folder.c_str());
}

TEST(LockFileTest, MissingFolderIsAnErrorNotAViolation) {
  LockFile* lock = nullptr;
  ResultCode result = LockFileOpen(L"/tmp/varno-no-such-folder-x/y/z.lck", &lock);
  EXPECT_NE(result, kOk);
  EXPECT_NE(result, kErrSharingViolation);
  EXPECT_EQ(lock, nullptr);
}

}  // namespace
