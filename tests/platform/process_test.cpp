// Starting processes from a wide command line: arguments arrive as the raw
// splitter gives them, in the given working directory, waited for or not.
#include "platform/process.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/command_line_split.h"

namespace {

const std::string kRecorder = std::string(VARNO_BIN_DIR) + "/argv_recorder";

std::string MakeFolder() {
  char pattern[] = "/tmp/varno-process-test-XXXXXX";
  return mkdtemp(pattern) != nullptr ? std::string(pattern) : std::string();
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Every test gets a scratch folder, removed even when the test fails.
class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Exists(kRecorder)) << kRecorder << " is missing: build the argv_recorder target";
    folder_ = MakeFolder();
    ASSERT_FALSE(folder_.empty());
  }
  void TearDown() override {
    if (folder_.empty()) return;
    std::string command = "rm -rf '" + folder_ + "'";
    EXPECT_EQ(system(command.c_str()), 0);
  }
  std::string folder_;
};

TEST_F(ProcessTest, ArgumentsArriveAsTheRawSplitterGivesThem) {
  const std::string& folder = folder_;
  std::string out = folder + "/argv.txt";
  std::wstring line = Wide(kRecorder) + L" " + Wide(out) +
                      L" plain \"two words\" tail\\\\ \"quoted\\\\\" a\\\"b \"\"";
  ASSERT_EQ(StartProcess(line.c_str(), nullptr, 1), kOk);
  std::vector<std::wstring> expected;
  SplitRawCommandLine(line.c_str(), &expected);
  ASSERT_EQ(expected.size(), 8u);
  std::vector<std::string> recorded = ReadLines(out);
  ASSERT_EQ(recorded.size(), expected.size() - 2);
  for (size_t i = 0; i < recorded.size(); ++i) {
    EXPECT_EQ(Wide(recorded[i]), expected[i + 2]) << i;
  }
  EXPECT_EQ(recorded[1], "two words");
  EXPECT_EQ(recorded[3], "quoted\\");
}

TEST_F(ProcessTest, RunsInTheGivenWorkingDirectory) {
  const std::string& folder = folder_;
  std::wstring line = Wide(kRecorder) + L" relative.txt here";
  ASSERT_EQ(StartProcess(line.c_str(), Wide(folder).c_str(), 1), kOk);
  std::vector<std::string> recorded = ReadLines(folder + "/relative.txt");
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0], "here");
}

TEST_F(ProcessTest, WithoutWaitReturnsWhileTheChildStillRuns) {
  const std::string& folder = folder_;
  std::string out = folder + "/late.txt";
  std::string gate = folder + "/gate";
  setenv("VARNO_ARGV_GATE", gate.c_str(), 1);
  std::wstring line = Wide(kRecorder) + L" " + Wide(out) + L" x";
  ResultCode result = StartProcess(line.c_str(), nullptr, 0);
  unsetenv("VARNO_ARGV_GATE");
  ASSERT_EQ(result, kOk);
  // The child waits for the gate, so nothing can be there yet.
  EXPECT_FALSE(Exists(out));
  std::ofstream(gate).put('g');
  for (int step = 0; step < 2000 && !Exists(out); ++step) usleep(10000);
  std::vector<std::string> recorded = ReadLines(out);
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_EQ(recorded[0], "x");
}

TEST_F(ProcessTest, ExitCodeIsNotLookedAtButAMissingProgramFails) {
  // argv_recorder without arguments ends with exit code 2.
  EXPECT_EQ(StartProcess(Wide(kRecorder).c_str(), nullptr, 1), kOk);
  ResultCode missing = StartProcess(L"/nonexistent/varno-no-such-program arg", nullptr, 1);
  EXPECT_LT(missing, 0);
  EXPECT_NE(StartProcess(L"", nullptr, 1), kOk);
  EXPECT_NE(StartProcess(L"   ", nullptr, 0), kOk);
}

}  // namespace
