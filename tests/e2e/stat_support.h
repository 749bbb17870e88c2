// Helpers of the end-to-end tests: run the built program, folders with
// fixture logs, whole-file reads.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../scratch.h"
#include "platform/console.h"

namespace stat_e2e {

namespace fs = std::filesystem;

struct Outcome {
  int exitCode = -1;
  std::string out;
  std::string err;
};

using scratch::AppendFile;
using scratch::ReadFile;
using scratch::WriteFile;

// The text with every LF written as CR LF, as the gateway's logs are.
inline std::string Crlf(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c == '\n') result += '\r';
    result += c;
  }
  return result;
}

// Appends arg to a command line so that the raw command-line split (the C
// runtime's on Windows) gives it back as it is: quoted, the backslashes
// before a quote or before the closing quote doubled.
inline void AppendQuotedArgument(std::wstring* line, const std::wstring& arg) {
  if (!line->empty()) *line += L' ';
  *line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
    } else {
      if (c == L'"') line->append(backslashes + 1, L'\\');
      backslashes = 0;
    }
    *line += c;
  }
  line->append(backslashes, L'\\');
  *line += L'"';
}

inline fs::path FixtureDir() { return fs::path(VARNO_SOURCE_DIR) / "tests/e2e/fixtures/stat"; }

// A fresh folder with "logs" and "out" below it.
struct Workspace {
  scratch::Folder folder;
  fs::path root = folder.path, logs = root / "logs", out = root / "out";
  explicit Workspace(const std::string& tag) : folder("e2e_" + tag) { fs::create_directories(logs); }
  void CopyFixtureLog(const std::string& name) const {
    fs::copy_file(FixtureDir() / "logs" / name, logs / name, fs::copy_options::overwrite_existing);
  }
  std::vector<std::string> Args(std::vector<std::string> more) const {
    std::vector<std::string> args = {"--srcdir=" + logs.string(), "--outdir=" + out.string()};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
};

// A suite whose tests share one workspace, its logs written once by Fill.
template <void (*Fill)(const fs::path& logs)>
class SharedLogsTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    shared_ = new Workspace("large");
    Fill(shared_->logs);
  }
  static void TearDownTestSuite() {
    delete shared_;
    shared_ = nullptr;
  }
  static inline Workspace* shared_ = nullptr;
};


// A started program; Wait() collects the exit code and the output.
struct Running {
  intptr_t process = 0;  // the system's handle or id of the child; 0 when none
  fs::path outPath;
  fs::path errPath;
};

// Starts path with args in the current folder, standard input empty, standard
// output and error into files in folder (program_runner_<os>.cpp). The
// environment is LC_ALL, PATH and the entries of extraEnv ("NAME=value").
Running StartProgram(const std::string& path, const std::vector<std::string>& args,
                     const fs::path& folder, const std::vector<std::string>& extraEnv = {});

// Waits for the program's end: its exit code, 128 + the signal when killed.
int WaitProgram(Running& run);

// Whether a test can send a started program an interrupt (Ctrl+C).
bool CanInterruptPrograms();

// Sends the program an interrupt (Ctrl+C).
bool InterruptProgram(const Running& run);

// Makes a FIFO at path where the system has them; false on failure.
bool MakeFifoWhereSupported(const fs::path& path);

inline Running StartVarno(const std::vector<std::string>& args, const fs::path& folder) {
  return StartProgram(VARNO_BIN, args, folder);
}

inline Outcome Wait(Running& run) {
  Outcome outcome;
  if (run.process != 0) outcome.exitCode = WaitProgram(run);
  outcome.out = ReadFile(run.outPath);
  outcome.err = ReadFile(run.errPath);
  std::error_code ignored;
  fs::remove(run.outPath, ignored);
  fs::remove(run.errPath, ignored);
  return outcome;
}

inline Outcome RunVarno(const std::vector<std::string>& args, const fs::path& folder) {
  Running run = StartVarno(args, folder);
  return Wait(run);
}

// Files of a folder tree as relative path -> bytes, skipping "_varno.*" files.
inline std::vector<std::pair<std::string, std::string>> MetadataFiles(const fs::path& dir) {
  std::vector<std::pair<std::string, std::string>> files;
  if (!fs::exists(dir)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = entry.path().filename().string();
    if (name.rfind("_varno", 0) == 0) continue;
    files.emplace_back(fs::relative(entry.path(), dir).string(), ReadFile(entry.path()));
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Waits until the progress file shows the running item past its start.
inline bool WaitForItemProgress(const fs::path& progressFile, int milliseconds) {
  for (int waited = 0; waited < milliseconds; waited += 1) {
    const std::string line = ReadFile(progressFile);
    unsigned overall = 0, item = 0;
    if (sscanf(line.c_str(), "%u;%u;", &overall, &item) == 2 && item > 0 && item < 100) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

inline bool WaitForFile(const fs::path& path, int milliseconds) {
  for (int waited = 0; waited < milliseconds; waited += 10) {
    if (fs::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return fs::exists(path);
}

}  // namespace stat_e2e
