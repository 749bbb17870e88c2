// Post-processor command lines: collected up to ";", quoted for the raw
// splitter, and started with exactly the arguments it gives back.
#include "frame/postprocessor.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../scratch.h"
#include "frame/command_line.h"
#include "common/node_tree.h"
#include "platform/command_line_split.h"

namespace fs = std::filesystem;

namespace {

const std::wstring kRecorder = fs::path(std::string(VARNO_BIN_DIR) + "/argv_recorder").wstring();

// A command line as the option loop leaves it right after --exec=...
CommandLine* MakeCommandLine(std::vector<const wchar_t*> rest) {
  rest.insert(rest.begin(), L"varno");
  CommandLine* commandLine = nullptr;
  if (CommandLineCreate(static_cast<int>(rest.size()), rest.data(), &commandLine) != kOk) {
    return nullptr;
  }
  return commandLine;
}

std::vector<std::wstring> Commands(NodeTree* list) {
  std::vector<std::wstring> commands;
  if (list == nullptr) return commands;
  for (TreeNode* node = TreeFirstChild(list); node != nullptr; node = TreeNextSibling(node)) {
    commands.emplace_back(static_cast<const wchar_t*>(TreeNodeData(node)));
    EXPECT_EQ(TreeNodeDataSize(node), (commands.back().size() + 1) * sizeof(wchar_t));
  }
  return commands;
}

std::vector<std::wstring> ReadLines(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::wstring> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(fs::path(line).wstring());
  return lines;
}

// The recorder receives exactly what the raw splitter makes of the stored line.
void ExpectRecordedArguments(int wait) {
  scratch::Folder dir("post");
  const fs::path out = dir / "argv.txt";
  setenv("VARNO_ARGV_FILE", out.c_str(), 1);
  CommandLine* commandLine = MakeCommandLine({L"a b", L"c\\", L"d e\\", L"-x", L";"});
  ASSERT_NE(commandLine, nullptr);
  NodeTree* list = nullptr;
  ASSERT_EQ(ParsePostprocessor(kRecorder.c_str(), wait, commandLine, &list), kOk);
  std::vector<std::wstring> commands = Commands(list);
  ASSERT_EQ(commands.size(), 1u);
  ASSERT_EQ(RunPostprocessor(commands[0].c_str(), nullptr, wait), kOk);
  unsetenv("VARNO_ARGV_FILE");
  if (!wait) {
    for (int step = 0; step < 2000 && !fs::exists(out); ++step) usleep(10000);
  }
  std::vector<std::wstring> split;
  SplitRawCommandLine(commands[0].c_str(), &split);
  ASSERT_FALSE(split.empty());
  split.erase(split.begin());
  std::vector<std::wstring> recorded = ReadLines(out);
  EXPECT_EQ(recorded, split);
  EXPECT_EQ(recorded, (std::vector<std::wstring>{L"a b", L"c\\\\", L"d e\\", L"-x"}));
  TreeDestroy(list);
  CommandLineFree(commandLine);
}

TEST(RunPostprocessor, StartsWithTheSplitArgumentsWaitingOrNot) {
  ASSERT_TRUE(fs::exists(kRecorder)) << "build the argv_recorder target";
  ExpectRecordedArguments(1);
  ExpectRecordedArguments(0);
}

}  // namespace
