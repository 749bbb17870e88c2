// Post-processors: command lines collected from --exec / --exec-nowait and
// started after a successful metadata run.
#include "frame/postprocessor.h"

#include <cwchar>

#include "frame/command_line.h"
#include "frame/console.h"
#include "common/node_tree.h"
#include "common/paths.h"
#include "platform/process.h"

namespace {

// Created on first use by the option loop.
constexpr uint32_t kPostprocessorTreeId = 0;
constexpr uint32_t kWaitId = 1;
constexpr uint32_t kNoWaitId = 0;

// No rows: every element comes back as a non-option or an unknown option
// with its full text.
const OptionSpec kNoOptions[] = {{0, nullptr, kArgNone, nullptr, nullptr}};

}  // namespace

void AppendArgument(std::wstring* commandLine, const wchar_t* element) {
  if (!commandLine->empty()) commandLine->push_back(L' ');
  bool quote = wcspbrk(element, L" \t") != nullptr;
  if (quote) commandLine->push_back(L'"');
  commandLine->append(element);
  size_t length = wcslen(element);
  if (length > 0 && element[length - 1] == L'\\') commandLine->push_back(L'\\');
  if (quote) commandLine->push_back(L'"');
}

ResultCode ParsePostprocessor(const wchar_t* command, int wait, CommandLine* commandLine,
                              NodeTree** list) {
  if (command == nullptr || list == nullptr) return kErrInvalidArgument;
  if (*list == nullptr) {
    *list = TreeCreate(kPostprocessorTreeId, 0);
    if (*list == nullptr) return kErrNoMemory;
  }
  std::wstring expanded;
  ResultCode result = ExpandPath(command, 0, &expanded);
  if (result != kOk) return result;
  std::wstring line;
  AppendArgument(&line, expanded.c_str());
  for (;;) {
    int row = -1;
    const wchar_t* element = nullptr;
    int kind = NextOption(commandLine, 0, kNoOptions, &row, &element);
    if (kind == kOptEnd || element == nullptr) return kErrInvalidValue;
    if (wcscmp(element, L";") == 0) break;
    AppendArgument(&line, element);
  }
  uint32_t size = static_cast<uint32_t>((line.size() + 1) * sizeof(wchar_t));
  if (TreeAddChild(*list, wait ? kWaitId : kNoWaitId, line.c_str(), size) == nullptr) {
    return kErrNoMemory;
  }
  return kOk;
}

ResultCode RunPostprocessor(const wchar_t* commandLine, const wchar_t* workDir, int wait) {
  return StartProcess(commandLine, workDir, wait);
}

ResultCode RunPostprocessorList(const NodeTree* list) {
  if (list == nullptr) return kOk;
  for (TreeNode* node = TreeFirstChild(list); node != nullptr; node = TreeNextSibling(node)) {
    const wchar_t* commandLine = static_cast<const wchar_t*>(TreeNodeData(node));
    if (GetVerbosity() >= 1) PrintMessage(kConsoleErr, kMsgExecuting, commandLine);
    ResultCode result = RunPostprocessor(commandLine, nullptr, TreeNodeId(node) != kNoWaitId);
    if (result != kOk) {
      PrintMessage(kConsoleErr, kMsgPostprocessorFailed, static_cast<int>(result));
      return result;
    }
  }
  return kOk;
}
