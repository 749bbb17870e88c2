// The split command line and the long-option parser.
#include "frame/command_line.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/command_line_split.h"
#include "platform/console.h"

namespace {

CommandLine* g_processCommandLine = nullptr;

constexpr int32_t kSlotStep = 8;

// Copies the pieces into one text buffer and a NULL-terminated vector.
ResultCode BuildFromPieces(const std::vector<const wchar_t*>& pieces, CommandLine** out) {
  *out = nullptr;
  size_t total = 0;
  for (const wchar_t* piece : pieces) total += wcslen(piece) + 1;
  int32_t count = static_cast<int32_t>(pieces.size());
  int32_t capacity = kSlotStep;
  while (capacity < count + 1) capacity += kSlotStep;
  CommandLine* line = static_cast<CommandLine*>(calloc(1, sizeof(CommandLine)));
  wchar_t* text = static_cast<wchar_t*>(malloc((total == 0 ? 1 : total) * sizeof(wchar_t)));
  wchar_t** argv = static_cast<wchar_t**>(calloc(static_cast<size_t>(capacity), sizeof(wchar_t*)));
  if (line == nullptr || text == nullptr || argv == nullptr) {
    free(line);
    free(text);
    free(argv);
    return kErrNoMemory;
  }
  wchar_t* cursor = text;
  for (int32_t i = 0; i < count; ++i) {
    size_t length = wcslen(pieces[static_cast<size_t>(i)]);
    wmemcpy(cursor, pieces[static_cast<size_t>(i)], length + 1);
    argv[i] = cursor;
    cursor += length + 1;
  }
  argv[count] = nullptr;
  line->magic = kCommandLineMagic;
  line->text = text;
  line->count = count;
  line->nextIndex = 0;
  line->clusterPos = 0;
  line->endIndex = count;
  line->capacity = capacity;
  line->argv = argv;
  *out = line;
  return kOk;
}

ResultCode BuildFromStrings(const std::vector<std::wstring>& args, CommandLine** out) {
  std::vector<const wchar_t*> pieces;
  pieces.reserve(args.size());
  for (const std::wstring& arg : args) pieces.push_back(arg.c_str());
  return BuildFromPieces(pieces, out);
}

bool IsOptionElement(const wchar_t* element) {
  return element[0] == L'-' && element[1] != L'\0' && wcscmp(element, L"--") != 0;
}

// Moves non-options at the next index to the end of the parsed range.
void PermuteNonOptions(CommandLine* line) {
  while (line->nextIndex < line->endIndex && !IsOptionElement(line->argv[line->nextIndex])) {
    wchar_t* moved = line->argv[line->nextIndex];
    for (int32_t i = line->nextIndex; i + 1 < line->count; ++i) line->argv[i] = line->argv[i + 1];
    line->argv[line->count - 1] = moved;
    --line->endIndex;
  }
}

// Finds a long option by name or unique prefix. -1 none, -2 ambiguous.
int FindLongOption(const OptionSpec* table, const wchar_t* name, size_t length) {
  int found = -1;
  for (int row = 0; table[row].id != 0 || table[row].longName != nullptr; ++row) {
    const wchar_t* longName = table[row].longName;
    if (longName == nullptr || wcsncmp(longName, name, length) != 0) continue;
    if (wcslen(longName) == length) return row;
    if (found >= 0) return -2;
    found = row;
  }
  return found;
}

int FindShortOption(const OptionSpec* table, wchar_t c) {
  for (int row = 0; table[row].id != 0 || table[row].longName != nullptr; ++row) {
    if (table[row].id == static_cast<int32_t>(c)) return row;
  }
  return -1;
}

// Takes the argument of a matched row and finishes the result.
int FinishRow(CommandLine* line, const OptionSpec& matched, const wchar_t* candidate,
              bool candidateIsNext, const wchar_t* element, const wchar_t** argument) {
  if (matched.argKind != kArgNone && candidate != nullptr) {
    if (candidateIsNext) ++line->nextIndex;
    *argument = candidate;
    if (matched.argTarget != nullptr) *matched.argTarget = candidate;
  } else if (matched.argKind == kArgRequired) {
    *argument = element;
    return kOptBadArgument;
  } else {
    *argument = nullptr;
  }
  if (matched.flagTarget != nullptr) *matched.flagTarget = 1;
  return matched.id;
}

int NextShortOption(CommandLine* line, const OptionSpec* table, int* rowIndex,
                    const wchar_t** argument) {
  const wchar_t* element = line->argv[line->nextIndex];
  if (line->clusterPos == 0) line->clusterPos = 1;
  const wchar_t* nextElement =
      line->nextIndex + 1 < line->endIndex ? line->argv[line->nextIndex + 1] : nullptr;
  wchar_t c = element[line->clusterPos];
  int row = c == L'\0' ? -1 : FindShortOption(table, c);
  if (row < 0) {
    // The whole element is reported once; the rest of the cluster goes with it.
    ++line->nextIndex;
    line->clusterPos = 0;
    *argument = element;
    return kOptUnknown;
  }
  ++line->clusterPos;
  const wchar_t* rest = element + line->clusterPos;
  bool exhausted = *rest == L'\0';
  *rowIndex = row;
  const OptionSpec& matched = table[row];
  bool takesRest = matched.argKind != kArgNone && !exhausted;
  if (exhausted || takesRest) {
    ++line->nextIndex;
    line->clusterPos = 0;
  }
  if (takesRest) return FinishRow(line, matched, rest, false, element, argument);
  return FinishRow(line, matched, nextElement, exhausted && nextElement != nullptr, element,
                   argument);
}

int NextLongOption(CommandLine* line, const OptionSpec* table, int* rowIndex,
                   const wchar_t** argument) {
  const wchar_t* element = line->argv[line->nextIndex];
  ++line->nextIndex;
  const wchar_t* name = element + 2;
  const wchar_t* equals = wcschr(name, L'=');
  size_t length = equals != nullptr ? static_cast<size_t>(equals - name) : wcslen(name);
  int row = FindLongOption(table, name, length);
  *argument = element;
  if (row == -2) return kOptAmbiguous;
  if (row < 0) return kOptUnknown;
  *rowIndex = row;
  const OptionSpec& matched = table[row];
  if (equals != nullptr) {
    if (matched.argKind == kArgNone) return kOptBadArgument;
    return FinishRow(line, matched, equals + 1, false, element, argument);
  }
  const wchar_t* nextElement =
      line->nextIndex < line->endIndex ? line->argv[line->nextIndex] : nullptr;
  return FinishRow(line, matched, nextElement, true, element, argument);
}

}  // namespace

ResultCode CommandLineCreate(int argc, const wchar_t* const* argv, CommandLine** out) {
  if (argc <= 0 || argv == nullptr) {
    std::vector<std::wstring> args;
    ReadProcessArguments(&args);
    return BuildFromStrings(args, out);
  }
  std::vector<const wchar_t*> pieces;
  pieces.reserve(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) pieces.push_back(argv[i] != nullptr ? argv[i] : L"");
  return BuildFromPieces(pieces, out);
}

ResultCode CommandLineCreateFromRaw(const wchar_t* raw, CommandLine** out) {
  std::vector<std::wstring> args;
  SplitRawCommandLine(raw, &args);
  return BuildFromStrings(args, out);
}

void CommandLineFree(CommandLine* commandLine) {
  if (commandLine == nullptr || commandLine->magic != kCommandLineMagic) return;
  commandLine->magic = 0;
  free(commandLine->text);
  free(commandLine->argv);
  free(commandLine);
}

int NextOption(CommandLine* line, uint32_t flags, const OptionSpec* table, int* rowIndex,
               const wchar_t** argument) {
  if (rowIndex != nullptr) *rowIndex = -1;
  int unusedRow = -1;
  const wchar_t* unusedArgument = nullptr;
  if (rowIndex == nullptr) rowIndex = &unusedRow;
  if (argument == nullptr) argument = &unusedArgument;
  *argument = nullptr;
  if (line == nullptr || line->magic != kCommandLineMagic || table == nullptr ||
      line->argv == nullptr || line->count == 0) {
    return kOptEnd;
  }
  if (line->nextIndex == 0) line->nextIndex = 1;
  if (line->clusterPos == 0 && (flags & kOptPermute) != 0) PermuteNonOptions(line);
  if (line->nextIndex >= line->endIndex) return kOptEnd;
  const wchar_t* element = line->argv[line->nextIndex];
  if (line->clusterPos == 0 && element[0] != L'-') {
    ++line->nextIndex;
    *argument = element;
    return kOptNonOption;
  }
  if (line->clusterPos == 0 && element[1] == L'-') {
    return NextLongOption(line, table, rowIndex, argument);
  }
  return NextShortOption(line, table, rowIndex, argument);
}

CommandLine* GetProcessCommandLine() { return g_processCommandLine; }

void SetProcessCommandLine(CommandLine* commandLine) { g_processCommandLine = commandLine; }
