// The built program's usage messages, help, version and exit codes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "frame/jobs.h"
#include "stat/stat_mode.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs varno with the arguments in a UTF-8 locale, standard streams into files.
Outcome RunVarno(const std::vector<std::string>& args) {
  fs::path folder = fs::temp_directory_path() / ("varno_usage_" + std::to_string(getpid()));
  fs::create_directories(folder);
  fs::path outPath = folder / "out";
  fs::path errPath = folder / "err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv;
  std::string program = VARNO_BIN;
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (std::string& arg : copies) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = {"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin"};
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  Outcome outcome;
  int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(spawned, 0);
  if (spawned == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  outcome.out = ReadFile(outPath);
  outcome.err = ReadFile(errPath);
  fs::remove_all(folder);
  return outcome;
}

const std::string kTry = "Try 'varno --help' for more information.\n";
const std::string kFailed = "An error occured.\n";
const std::string kBanner =
    "varno log analysis utility\nVersion 1.0.0\nCopyright (C) Vexmoor. All rights reserved.\n";

void ExpectUsageError(const std::vector<std::string>& args, const std::string& firstLine) {
  Outcome outcome = RunVarno(args);
  EXPECT_EQ(outcome.exitCode, 1) << args.front();
  EXPECT_EQ(outcome.out, "") << args.front();
  EXPECT_EQ(outcome.err, firstLine + "\n" + kTry + kFailed) << args.front();
}

void ExpectValueError(const std::vector<std::string>& args, const std::string& expected) {
  Outcome outcome = RunVarno(args);
  EXPECT_EQ(outcome.exitCode, 1) << args.front();
  EXPECT_EQ(outcome.out, "") << args.front();
  EXPECT_EQ(outcome.err, expected) << args.front();
}

size_t CountLines(const std::string& text) {
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

TEST(Usage, NoArgumentsPrintBannerAndHelp) {
  Outcome outcome = RunVarno({});
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.err, "");
  ASSERT_EQ(outcome.out.rfind(kBanner + "\nUsage: varno OPTIONS [LOGDIR]\n\nOptions:\n", 0), 0u);
  EXPECT_EQ(CountLines(outcome.out), 3u + 234u);
  for (const char* section : {"\n  Common options\n\n", "\n  Metadata generator\n\n",
                              "\n  Delivery doctor\n\n", "\n  Web statistics\n\n",
                              "\n  Merge results\n\n"}) {
    EXPECT_NE(outcome.out.find(section), std::string::npos) << section;
  }
  EXPECT_NE(outcome.out.find("Data are precessed\n\t\tin fixed order."), std::string::npos);
  EXPECT_NE(outcome.out.find("\t    --jobname=JOBNAME\n"), std::string::npos);
  EXPECT_NE(outcome.out.find("\t-h, --help\n"), std::string::npos);
  for (const char* hidden : {"dbfeed", "dbg_set_level", "dbg_set_log"}) {
    EXPECT_EQ(outcome.out.find(hidden), std::string::npos) << hidden;
  }
}

TEST(Usage, HelpAndClusteredHelpVerbose) {
  Outcome help = RunVarno({"--help"});
  Outcome clustered = RunVarno({"-hv"});
  Outcome none = RunVarno({});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(clustered.exitCode, 0);
  EXPECT_EQ(help.out, none.out);
  EXPECT_EQ(clustered.out, none.out);
  EXPECT_EQ(clustered.err, "");
}

TEST(Usage, Version) {
  Outcome outcome = RunVarno({"--version"});
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.out, kBanner);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(RunVarno({"--vers"}).out, kBanner);
}

TEST(Usage, FailureTableUsageRows) {
  ExpectUsageError({"--help", "--version"}, "You may not specify more than one option.");
  ExpectUsageError({"--stat=SMTP", "--merge"}, "You may not specify more than one option.");
  ExpectUsageError({"--bogus"}, "Unrecognized option '--bogus'.");
  ExpectUsageError({"-x"}, "Unrecognized option '-x'.");
  ExpectUsageError({"-"}, "Unrecognized option '-'.");
  ExpectUsageError({"--ver"}, "Option '--ver' is ambiguous.");
  ExpectUsageError({"--"}, "Option '--' is ambiguous.");
  ExpectUsageError({"--top"}, "Option '--top' requires an argument.");
  ExpectUsageError({"-v", "--search"}, "Option '--search' requires an argument.");
  for (const char* element : {"--diff=1", "--help=1", "--version=x", "--verbose=1", "--merge=a"}) {
    ExpectUsageError({element}, std::string("Option '") + element + "' doesn't allow an argument.");
  }
}

TEST(Usage, FailureTableValueRows) {
  ExpectValueError({"--top=12abc"}, "Invalid count value \"12abc\".\nAn error occured. EC: -29\n");
  ExpectValueError({"--paging", "x"}, "Invalid count value \"x\".\nAn error occured. EC: -29\n");
  ExpectValueError({"--units=KiBi"}, "Invalid units \"KiBi\".\nAn error occured. EC: -29\n");
  ExpectValueError({"--quantum=5x"}, "Invalid quantum \"5x\".\nAn error occured. EC: -29\n");
  ExpectValueError({"--outform=both"}, "Invalid output form \"both\".\nAn error occured. EC: -29\n");
  ExpectValueError({"--sort=size"},
                   "Invalid sort column\n\t\"size\"\nEC: -29\nAn error occured. EC: -29\n");
  ExpectValueError({"--stat"}, "An error occured. EC: -14\n");
  ExpectValueError({"--stat=BOGUS"},
                   "Invalid statistic category \"BOGUS\".\nAn error occured. EC: -28\n");
}

TEST(Usage, JobNames) {
  ExpectValueError({"--jobname=a.b", "--version"},
                   "Invalid job name \"a.b\"\nAn error occured. EC: -29\n");
  ExpectValueError({"--cancel=x/y"}, "Invalid job name \"x/y\"\nAn error occured. EC: -29\n");
  // Cancelling a name that no process uses is no error.
  Outcome cancel = RunVarno({"--cancel= Nightly_Run-2 extra"});
  EXPECT_EQ(cancel.exitCode, 0);
  EXPECT_EQ(cancel.out, "");
  EXPECT_EQ(cancel.err, "");
}

TEST(Usage, StatOutputDirectoryThatCannotBeMade) {
  Outcome outcome = RunVarno({"--stat=SMTP-IN", "--outdir=/proc/self/varno-out"});
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err,
            "Cannot access output directory.\nDirectory: /proc/self/varno-out\nEC: -22\n"
            "One or more error occured during execution. EC:-22\n");
}

TEST(Usage, SearchArgumentsAndConditions) {
  Outcome twoDirs = RunVarno({"--search=from=x", "a", "b"});
  EXPECT_EQ(twoDirs.exitCode, 0);
  EXPECT_EQ(twoDirs.out, "");
  EXPECT_EQ(twoDirs.err, "Specify only one path to log directory.\n");
  ExpectValueError({"--search", "way=in,sideways"},
                   "Invalid condition\n\t\"way=in,sideways\"\nEC: -29\nAn error occured. EC: -29\n");
  // --search takes the next element whatever it looks like.
  ExpectValueError({"--search", "--sort=time"},
                   "Invalid condition\n\t\"--sort=time\"\nEC: -29\nAn error occured. EC: -29\n");
  ExpectUsageError({"--help", "--search=from=x"}, "You may not specify more than one option.");
  Outcome twice = RunVarno({"--search=from=x", "--search=to=y", "a", "b"});
  EXPECT_EQ(twice.err, "Specify only one path to log directory.\n");
}

TEST(Usage, SearchWithAJobNameInUse) {
  std::wstring name = L"varno-usage-" + std::to_wstring(getpid());
  JobEvent* event = nullptr;
  ASSERT_EQ(CreateJobEvent(name.c_str(), &event), 0);
  std::string narrow(name.begin(), name.end());
  Outcome outcome = RunVarno({"--search=from=x", "--jobname=" + narrow, "/nonexistent"});
  CloseJobEvent(event);
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(outcome.err,
            "Failed to initialize unique job.\n Name: \"" + narrow + "\"\n EC: -7\n");
}

TEST(Usage, PostprocessorWithoutTerminator) {
  ExpectValueError({"--stat=SMTP", "--exec=notify.sh", "a"},
                   "Invalid argument to postprocessor.\nAn error occured. EC: -29\n");
}

// A scratch folder with an empty log folder, removed at the end.
class StatFolders {
 public:
  StatFolders() {
    root_ = fs::temp_directory_path() / ("varno_usage_stat_" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "logs");
  }
  ~StatFolders() { fs::remove_all(root_); }
  StatFolders(const StatFolders&) = delete;
  StatFolders& operator=(const StatFolders&) = delete;
  std::string logs() const { return (root_ / "logs").string(); }
  std::string out() const { return (root_ / "out").string(); }

 private:
  fs::path root_;
};

TEST(Usage, StatInstanceLockHeldByAnotherRun) {
  StatFolders folders;
  ASSERT_EQ(TakeStatLocks(fs::path(folders.out()).wstring().c_str(), 0x10), 0);
  Outcome outcome = RunVarno({"--stat=SMTP", "--srcdir=" + folders.logs(), "--outdir=" + folders.out()});
  ReleaseStatLocks();
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(outcome.err,
            "Another instance already running.\n"
            "One or more error occured during execution. EC:-27\n");
}

TEST(Usage, PostprocessorThatCannotStart) {
  StatFolders folders;
  Outcome outcome = RunVarno({"--stat=SMTP-IN", "--srcdir=" + folders.logs(),
                              "--outdir=" + folders.out(), "--exec=/nonexistent/varno-post",
                              "a b", ";", "-v"});
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(outcome.err,
            "There is nothing to do.\n"
            "Executing: /nonexistent/varno-post \"a b\"\n"
            "Postprocessor execution failed. EC:-3\n"
            "One or more error occured during execution. EC:-3\n");
  EXPECT_FALSE(fs::exists(fs::path(folders.out()) / "_varno.run"));
}

TEST(Usage, ValuesThatAreAccepted) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--top=0x10", "--version"},
                                             {"--top=12 abc", "--version"},
                                             {"--units=kib", "--version"},
                                             {"--quantum=2 m", "--version"},
                                             {"--sort=host", "--version"},
                                             {"--outform=search,summary", "--version"},
                                             {"--dbg_set_level=0", "--version"}}) {
    Outcome outcome = RunVarno(args);
    EXPECT_EQ(outcome.exitCode, 0) << args.front();
    EXPECT_EQ(outcome.out, kBanner) << args.front();
  }
}

TEST(Usage, DiagnosticCopyFile) {
  fs::path copy = fs::temp_directory_path() / ("varno_copy_" + std::to_string(getpid()) + ".txt");
  fs::remove(copy);
  Outcome outcome = RunVarno({"--dbg_set_log=" + copy.string(), "--top=bad"});
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(ReadFile(copy), "Invalid count value \"bad\".\r\nAn error occured. EC: -29\r\n");
  fs::remove(copy);
  Outcome unopenable = RunVarno({"--dbg_set_log=/nonexistent-varno-dir/x.txt", "--version"});
  EXPECT_EQ(unopenable.exitCode, 0);
  EXPECT_EQ(unopenable.out, kBanner);
  EXPECT_EQ(unopenable.err, "");
}

TEST(Usage, ManyArguments) {
  std::vector<std::string> args(100000, "x");
  args.push_back("--version");
  Outcome outcome = RunVarno(args);
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.out, kBanner);
  std::vector<std::string> options(100000, "-v");
  options.push_back("--bogus");
  Outcome failing = RunVarno(options);
  EXPECT_EQ(failing.exitCode, 1);
  EXPECT_EQ(failing.err, "Unrecognized option '--bogus'.\n" + kTry + kFailed);
}

TEST(Usage, LongestArgumentTheSystemPasses) {
  // Linux limits one argument to 128 KiB; the option loop itself is tested with 1 MiB.
  std::string value(128 * 1024 - 16, '7');
  Outcome outcome = RunVarno({"--units=" + value});
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_EQ(outcome.err, "Invalid units \"" + value + "\".\nAn error occured. EC: -29\n");
}

TEST(Usage, InvalidUtf8InAnOption) {
  Outcome outcome = RunVarno({"--\xff\xfe"});
  EXPECT_EQ(outcome.exitCode, 1);
  // Bytes that are no UTF-8 are taken as the characters U+00FF and U+00FE.
  EXPECT_EQ(outcome.err, "Unrecognized option '--\xc3\xbf\xc3\xbe'.\n" + kTry + kFailed);
  Outcome value = RunVarno({"--top=\x80" "1"});
  EXPECT_EQ(value.err, "Invalid count value \"\xc2\x80" "1\".\nAn error occured. EC: -29\n");
}

}  // namespace
