// Post-processor command lines: collected up to ";" and quoted for the raw
// splitter. Running them (the arguments a child receives, the order, the stop
// at the first failure) is checked end to end (cross_process_test, cases).
#include "frame/postprocessor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/node_tree.h"
#include "frame/command_line.h"

namespace {

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

}  // namespace
