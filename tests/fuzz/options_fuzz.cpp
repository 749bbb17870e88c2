// Random argument vectors through the command line, the option parser and the option loop.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "frame/command_line.h"
#include "frame/console.h"
#include "app/options.h"
#include "platform/command_line_split.h"
#include "platform/text.h"

namespace {

// Arguments are the NUL-separated pieces of the input.
std::vector<std::wstring> SplitInput(const uint8_t* data, size_t size) {
  std::vector<std::wstring> args{L"varno"};
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == 0) {
      args.push_back(MultibyteToWide(reinterpret_cast<const char*>(data) + start, i - start));
      start = i + 1;
    }
  }
  return args;
}

CommandLine* Build(const std::vector<std::wstring>& args) {
  std::vector<const wchar_t*> pointers;
  for (const std::wstring& arg : args) pointers.push_back(arg.c_str());
  CommandLine* line = nullptr;
  CommandLineCreate(static_cast<int>(pointers.size()), pointers.data(), &line);
  return line;
}

// Walks with an empty table and with permutation; every element is visited once.
void WalkRaw(const std::vector<std::wstring>& args) {
  const OptionSpec empty[] = {{0, nullptr, kArgNone, nullptr, nullptr}};
  CommandLine* line = Build(args);
  size_t steps = 0;
  while (NextOption(line, kOptPermute, empty, nullptr, nullptr) != kOptEnd) {
    if (++steps > args.size() * 2 + 2) __builtin_trap();  // the parse must move on
  }
  CommandLineFree(line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::wstring> args = SplitInput(data, size);
  WalkRaw(args);

  CommandLine* line = Build(args);
  JobContext context;
  SetVerbosity(0);
  if (InitJobContext(&context) == kOk) {
    ParseOptions(line, &context, kParseNoDiagnosticFile);
  }
  FreeJobContext(&context);
  CommandLineFree(line);
  SetDiagnosticThreshold(255);

  std::wstring raw = MultibyteToWide(reinterpret_cast<const char*>(data), size);
  std::vector<std::wstring> pieces;
  SplitRawCommandLine(raw.c_str(), &pieces);
  return 0;
}
