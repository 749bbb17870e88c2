// Two processes meeting through the platform's shared objects: job names and
// cancellation, instance locks, the progress file and post-processors. The
// other process is the built program or this test program started again, so
// the same tests run on every platform. The program's messages are read from
// its --dbg_set_log copy.
#include <chrono>
#include <fstream>

#include "frame/jobs.h"
#include "frame/progress.h"
#include "platform/fs.h"
#include "platform/lock_file.h"
#include "platform/process.h"
#include "stat_support.h"

namespace {

using namespace stat_e2e;

std::wstring Wide(const std::string& text) { return fs::path(text).wstring(); }

// A helper program built beside the program (with its file-name extension).
fs::path BuiltProgram(const char* name) {
  const fs::path varno(VARNO_BIN);
  return varno.parent_path() / (std::string(name) + varno.extension().string());
}

// Runs the program with args in dir and waits; its console copy is returned.
std::string RunLogged(const fs::path& dir, const std::vector<std::string>& args) {
  const fs::path copy = dir / "console.txt";
  fs::remove(copy);
  std::wstring commandLine;
  AppendQuotedArgument(&commandLine, fs::path(VARNO_BIN).wstring());
  AppendQuotedArgument(&commandLine, Wide("--dbg_set_log=" + copy.string()));
  for (const std::string& arg : args) AppendQuotedArgument(&commandLine, Wide(arg));
  EXPECT_EQ(StartProcess(commandLine.c_str(), dir.wstring().c_str(), 1), kOk);
  return ReadFile(copy);
}

// Starts this test program again in dir with only the named child test; the
// child finds its files in its working directory.
void RunChildTest(const char* name, const fs::path& dir) {
  std::wstring self;
  ASSERT_EQ(GetExecutablePath(&self), kOk);
  std::wstring commandLine;
  AppendQuotedArgument(&commandLine, self);
  AppendQuotedArgument(&commandLine, Wide(std::string("--gtest_filter=CrossProcessChild.DISABLED_") + name));
  AppendQuotedArgument(&commandLine, L"--gtest_also_run_disabled_tests");
  ASSERT_EQ(StartProcess(commandLine.c_str(), dir.wstring().c_str(), 1), kOk);
}

// A folder with the fixture log of 2008-04-28 and the options of a run on it.
struct StatFolders : Workspace {
  explicit StatFolders(const char* tag) : Workspace(tag) {
    fs::create_directories(out);
    CopyFixtureLog("smtp20080428.log");
  }
};

TEST(CrossProcess, AJobNameIsHeldOnceAndCancelledFromAnotherProcess) {
  const scratch::Folder folder("xproc_job");
  const fs::path& dir = folder.path;
  const std::string name = "xproc-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  JobEvent* event = nullptr;
  ASSERT_EQ(CreateJobEvent(Wide(name).c_str(), &event), kOk);
  EXPECT_EQ(RunLogged(dir, {"--search=from=x", "--jobname=" + name, dir.string()}),
            "Failed to initialize unique job.\r\n Name: \"" + name + "\"\r\n EC: -7\r\n");
  EXPECT_EQ(IsJobCancelled(event), 0);
  EXPECT_EQ(RunLogged(dir, {"--cancel=" + name}), "");
  EXPECT_EQ(IsJobCancelled(event), 1);
  EXPECT_EQ(CloseJobEvent(event), kOk);
  // Nobody holds the name any more: cancelling it is no error.
  EXPECT_EQ(RunLogged(dir, {"--cancel=" + name}), "");
}

TEST(CrossProcess, AHeldInstanceLockRefusesTheRunAndAReadOnlyLeftoverIsReused) {
  StatFolders folders("lock");
  const fs::path lockPath = folders.out / "_varno_SMTP-IN.lock";
  LockFile* held = nullptr;
  ASSERT_EQ(LockFileOpen(lockPath.wstring().c_str(), &held), kOk);
  EXPECT_EQ(RunLogged(folders.root, folders.Args({"--stat=SMTP-IN"})),
            "Another instance already running.\r\nOne or more error occured during execution. EC:-27\r\n");
  EXPECT_FALSE(fs::exists(folders.out / "_smtp20080428.csv"));
  LockFileClose(held);
  EXPECT_FALSE(fs::exists(lockPath));

  // A crash left the lock file behind, read-only.
  std::ofstream(lockPath).put('x');
  fs::permissions(lockPath, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  RunLogged(folders.root, folders.Args({"--stat=SMTP-IN"}));
  EXPECT_TRUE(fs::exists(folders.out / "_smtp20080428.csv"));
  EXPECT_FALSE(fs::exists(lockPath));
}

TEST(CrossProcess, ProgressFileIsReadableByAnotherProcessWhileWritten) {
  const scratch::Folder folder("xproc_progress");
  const fs::path& dir = folder.path;
  ProgressFile* progress = nullptr;
  ASSERT_EQ(OpenProgressFile(dir.wstring().c_str(), L"progress.txt", &progress), kOk);
  ReportStatProgress(progress, 40, 7, 1, 2, L"a", L"b");
  RunChildTest("CopyProgressFile", dir);
  ReportStatProgress(progress, 50, -1, -1, -1, nullptr, nullptr);
  RunChildTest("CopyProgressFile", dir);
  CloseProgressFile(progress);
  EXPECT_EQ(ReadFile(dir / "seen.txt"), "40;7;1;2;a;b\r\n50;7;1;2;a;b\r\n");
  EXPECT_FALSE(fs::exists(dir / "progress.txt"));
}

// The child side: appends what it reads of the progress file to seen.txt.
TEST(CrossProcessChild, DISABLED_CopyProgressFile) {
  const std::string line = ReadFile("progress.txt");
  std::ofstream(fs::path("seen.txt"), std::ios::binary | std::ios::app) << line;
}

// The recorder writes the arguments it received, one per line. With the gate
// set it first waits for the gate file, which appears only after the program
// has returned, so a waited-for recorder would have held the program up.
TEST(CrossProcess, PostprocessorsGetQuotedArgumentsWaitedForOrNot) {
  StatFolders folders("exec");
  const fs::path recorder = BuiltProgram("argv_recorder");
  ASSERT_TRUE(fs::exists(recorder)) << "build the argv_recorder target";
  const fs::path waited = folders.root / "waited.txt";
  RunLogged(folders.root, folders.Args({"--stat=SMTP-IN", "--exec=" + recorder.string(), waited.string(), "a b",
                                       "c\\", "d e\\", "-x", ";"}));
  EXPECT_EQ(ReadFile(waited), "a b\nc\\\\\nd e\\\n-x\n");

  const fs::path notWaited = folders.root / "not_waited.txt";
  const fs::path gate = folders.root / "gate";
  ASSERT_TRUE(SetEnvironmentValue(L"VARNO_ARGV_GATE", gate.wstring().c_str()));
  RunLogged(folders.root, folders.Args({"--stat=SMTP-IN", "--exec-nowait=" + recorder.string(), notWaited.string(),
                                       "x y", ";"}));
  SetEnvironmentValue(L"VARNO_ARGV_GATE", nullptr);
  EXPECT_FALSE(fs::exists(notWaited));
  std::ofstream(gate).put('x');
  ASSERT_TRUE(WaitForFile(notWaited, 20000));
  EXPECT_EQ(ReadFile(notWaited), "x y\n");
}

}  // namespace
