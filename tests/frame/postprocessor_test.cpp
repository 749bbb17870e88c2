// Post-processor command lines: collected up to ";", quoted for the raw
// splitter, and run in order until the first failure. The arguments a child
// receives are checked end to end (cross_process_test).
#include "frame/postprocessor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/node_tree.h"
#include "frame/command_line.h"
#include "platform/console.h"
#include "platform/fs.h"
#include "../scratch.h"

namespace fs = std::filesystem;

namespace {

// Built beside the program, with its file-name extension.
const std::wstring kRecorder =
    (fs::path(VARNO_BIN_DIR) / ("argv_recorder" + fs::path(VARNO_BIN).extension().string())).wstring();

// A command line as the option loop leaves it right after --exec=...
CommandLine* MakeCommandLine(std::vector<const wchar_t*> rest) {
  rest.insert(rest.begin(), L"varno");
  CommandLine* commandLine = nullptr;
  if (CommandLineCreate(static_cast<int>(rest.size()), rest.data(), &commandLine) != kOk) {
    return nullptr;
  }
  return commandLine;
}

std::vector<std::wstring> Commands(NodeTree* list, std::vector<uint32_t>* ids) {
  std::vector<std::wstring> commands;
  if (list == nullptr) return commands;
  for (TreeNode* node = TreeFirstChild(list); node != nullptr; node = TreeNextSibling(node)) {
    commands.emplace_back(static_cast<const wchar_t*>(TreeNodeData(node)));
    EXPECT_EQ(TreeNodeDataSize(node), (commands.back().size() + 1) * sizeof(wchar_t));
    if (ids != nullptr) ids->push_back(TreeNodeId(node));
  }
  return commands;
}

std::vector<std::wstring> ReadLines(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::wstring> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(fs::path(line).wstring());
  return lines;
}

TEST(ParsePostprocessor, CollectsElementsUpToTheSemicolon) {
  CommandLine* commandLine = MakeCommandLine({L"a b", L"c\\", L";", L"--stat=ALL"});
  ASSERT_NE(commandLine, nullptr);
  NodeTree* list = nullptr;
  ASSERT_EQ(ParsePostprocessor(L"notify.cmd", 1, commandLine, &list), kOk);
  std::vector<uint32_t> ids;
  std::vector<std::wstring> commands = Commands(list, &ids);
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0], L"notify.cmd \"a b\" c\\\\");
  EXPECT_EQ(ids[0], 1u);
  // The option loop goes on after the ";".
  const OptionSpec noOptions[] = {{0, nullptr, kArgNone, nullptr, nullptr}};
  int row = -1;
  const wchar_t* argument = nullptr;
  EXPECT_EQ(NextOption(commandLine, 0, noOptions, &row, &argument), kOptUnknown);
  EXPECT_STREQ(argument, L"--stat=ALL");
  TreeDestroy(list);
  CommandLineFree(commandLine);
}

TEST(ParsePostprocessor, OptionsInsideTheCommandAreTakenAsTheyAre) {
  CommandLine* commandLine =
      MakeCommandLine({L"-v", L"--stat=ALL", L"--", L"-", L";", L"x", L";"});
  ASSERT_NE(commandLine, nullptr);
  NodeTree* list = nullptr;
  ASSERT_EQ(ParsePostprocessor(L"first", 0, commandLine, &list), kOk);
  ASSERT_EQ(ParsePostprocessor(L"second", 1, commandLine, &list), kOk);
  std::vector<uint32_t> ids;
  std::vector<std::wstring> commands = Commands(list, &ids);
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0], L"first -v --stat=ALL -- -");
  EXPECT_EQ(commands[1], L"second x");
  EXPECT_EQ(ids[0], 0u);
  EXPECT_EQ(ids[1], 1u);
  TreeDestroy(list);
  CommandLineFree(commandLine);
}

TEST(ParsePostprocessor, WithoutSemicolonNothingIsStored) {
  CommandLine* last = MakeCommandLine({});
  ASSERT_NE(last, nullptr);
  NodeTree* list = nullptr;
  EXPECT_EQ(ParsePostprocessor(L"x", 1, last, &list), kErrInvalidValue);
  EXPECT_TRUE(Commands(list, nullptr).empty());
  CommandLine* unended = MakeCommandLine({L"a", L";;", L"b"});
  ASSERT_NE(unended, nullptr);
  EXPECT_EQ(ParsePostprocessor(L"x", 1, unended, &list), kErrInvalidValue);
  EXPECT_TRUE(Commands(list, nullptr).empty());
  if (list != nullptr) TreeDestroy(list);
  CommandLineFree(last);
  CommandLineFree(unended);
}

TEST(RunPostprocessorList, RunsInOrderAndStopsAtTheFirstFailure) {
  ASSERT_TRUE(fs::exists(kRecorder)) << "build the argv_recorder target";
  const scratch::Folder folder("post_list");
  const fs::path& dir = folder.path;
  std::wstring first = fs::path(dir / "1.txt").wstring();
  std::wstring third = fs::path(dir / "3.txt").wstring();
  CommandLine* commandLine = MakeCommandLine({first.c_str(), L"one", L";", third.c_str(), L";"});
  ASSERT_NE(commandLine, nullptr);
  NodeTree* list = nullptr;
  ASSERT_EQ(ParsePostprocessor(kRecorder.c_str(), 1, commandLine, &list), kOk);
  EXPECT_EQ(RunPostprocessorList(list), kOk);
  EXPECT_EQ(ReadLines(dir / "1.txt"), std::vector<std::wstring>{L"one"});

  CommandLine* broken = MakeCommandLine({L";"});
  ASSERT_EQ(ParsePostprocessor(L"/nonexistent/varno-no-such-tool", 1, broken, &list), kOk);
  ASSERT_EQ(ParsePostprocessor(kRecorder.c_str(), 1, commandLine, &list), kOk);
  fs::remove(dir / "1.txt");
  EXPECT_LT(RunPostprocessorList(list), 0);
  EXPECT_TRUE(fs::exists(dir / "1.txt"));   // ran before the failing one
  EXPECT_FALSE(fs::exists(dir / "3.txt"));  // skipped after it
  EXPECT_EQ(RunPostprocessorList(nullptr), kOk);
  TreeDestroy(list);
  CommandLineFree(commandLine);
  CommandLineFree(broken);
}

}  // namespace
