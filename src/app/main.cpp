// Program entry: converts the arguments to wide text and hands them to the frame.
#include <string>
#include <vector>

#include "frame/command_line.h"
#include "frame/console.h"
#include "app/dispatch.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  // The locale decides how the arguments' bytes become wide text.
  PlatformInitLocale();
  std::vector<std::wstring> wide;
  wide.reserve(argc > 0 ? static_cast<size_t>(argc) : 0);
  for (int i = 0; i < argc; ++i) wide.push_back(MultibyteToWide(argv[i]));
  std::vector<const wchar_t*> pointers;
  pointers.reserve(wide.size() + 1);
  for (const std::wstring& arg : wide) pointers.push_back(arg.c_str());
  pointers.push_back(nullptr);
  if (ConsoleStart(argc, pointers.data()) != kOk) return 1;
  return RunProgram(GetProcessCommandLine());
}
