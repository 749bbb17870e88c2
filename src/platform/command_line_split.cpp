// Raw command-line splitting (the conventions of the Windows C runtime).
#include "platform/command_line_split.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Reads the program name and returns the position behind it.
const wchar_t* ReadProgramName(const wchar_t* p, std::wstring* name) {
  if (*p == L'"') {
    ++p;
    while (*p != L'\0' && *p != L'"') name->push_back(*p++);
    if (*p == L'"') ++p;
    return p;
  }
  while (static_cast<unsigned long>(*p) > L' ') name->push_back(*p++);
  return p;
}

// Reads one argument starting at a non-blank and returns the position behind it.
const wchar_t* ReadArgument(const wchar_t* p, std::wstring* arg) {
  bool quoted = false;
  while (*p != L'\0') {
    if (!quoted && IsBlank(*p)) break;
    if (*p == L'\\') {
      size_t slashes = 0;
      while (*p == L'\\') {
        ++slashes;
        ++p;
      }
      if (*p != L'"') {
        arg->append(slashes, L'\\');
        continue;
      }
      arg->append(slashes / 2, L'\\');
      if (slashes % 2 == 1) {
        arg->push_back(L'"');
        ++p;
        continue;
      }
    }
    if (*p == L'"') {
      if (quoted && p[1] == L'"') {
        arg->push_back(L'"');
        p += 2;
        continue;
      }
      quoted = !quoted;
      ++p;
      continue;
    }
    arg->push_back(*p++);
  }
  return p;
}

}  // namespace

void SplitRawCommandLine(const wchar_t* raw, std::vector<std::wstring>* args) {
  if (raw == nullptr) return;
  std::wstring name;
  const wchar_t* p = ReadProgramName(raw, &name);
  args->push_back(std::move(name));
  for (;;) {
    while (IsBlank(*p)) ++p;
    if (*p == L'\0') break;
    std::wstring arg;
    p = ReadArgument(p, &arg);
    args->push_back(std::move(arg));
  }
}
