// The process's split command line and the long-option parser that walks it.
#pragma once

#include <cstdint>

#include "platform/types.h"

constexpr uint32_t kCommandLineMagic = 0x73677261;  // "args"

struct CommandLine {
  uint32_t magic;       // kCommandLineMagic
  wchar_t* text;        // all arguments one after another, each NUL-ended
  int32_t count;        // arguments, program name included
  int32_t nextIndex;    // next argument to examine; 0 before the first NextOption
  int32_t clusterPos;   // position inside a short-option cluster, 0 outside
  int32_t endIndex;     // the parse stops here
  int32_t capacity;     // slots in argv (grown by 8)
  wchar_t** argv;       // pointers into text, NULL-terminated
};

// Argument kinds of an option row.
constexpr int kArgNone = 0;
constexpr int kArgRequired = 1;
constexpr int kArgOptional = 2;

// One row of an option table; a table ends with {0, nullptr, ...}.
struct OptionSpec {
  int32_t id;                 // a printable character for rows with a short form
  const wchar_t* longName;    // may be null
  int argKind;                // kArgNone, kArgRequired, kArgOptional
  int32_t* flagTarget;        // set to 1 whenever the option is seen; may be null
  const wchar_t** argTarget;  // receives the argument text; may be null
};

// NextOption results besides a row's id.
constexpr int kOptEnd = -1;
constexpr int kOptNonOption = 43;  // '+'
constexpr int kOptUnknown = 63;    // '?'
constexpr int kOptBadArgument = 58;  // ':' missing or forbidden argument
constexpr int kOptAmbiguous = 124;   // '|'

// Flag bit 0: move non-option arguments to the end before looking at an element.
constexpr uint32_t kOptPermute = 1;

// Builds from an argument vector (program name first). argc 0 or a null
// vector builds from the process's raw arguments instead.
ResultCode CommandLineCreate(int argc, const wchar_t* const* argv, CommandLine** out);

// Builds from a raw command line split by SplitRawCommandLine.
ResultCode CommandLineCreateFromRaw(const wchar_t* raw, CommandLine** out);

void CommandLineFree(CommandLine* commandLine);

// Walks the command line: gives kOptEnd, kOptNonOption, a row's id,
// kOptUnknown, kOptBadArgument or kOptAmbiguous. *rowIndex is the matched row
// (-1 when none), *argument the argument text; for the three failures it is the
// whole offending element. Unknown short options end their cluster.
int NextOption(CommandLine* commandLine, uint32_t flags, const OptionSpec* table, int* rowIndex,
               const wchar_t** argument);

// The command line of this process, built by ConsoleStart (null before).
CommandLine* GetProcessCommandLine();
void SetProcessCommandLine(CommandLine* commandLine);
