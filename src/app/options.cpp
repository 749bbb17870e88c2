// The option table, the value parsers and the option loop.
#include "app/options.h"

#include <cwchar>
#include <cwctype>

#include "frame/console.h"
#include "frame/jobs.h"
#include "frame/postprocessor.h"
#include "common/date_list.h"
#include "common/node_tree.h"
#include "common/paths.h"
#include "doctor/search_conditions.h"
#include "stat/stat_types.h"
#include "webstat/webstat_conditions.h"
#include "platform/text.h"

namespace {

// ---- Option table ----------------------------------------------------------

OptionSpec g_table[] = {
    {kOptHelp, L"help", kArgNone, nullptr, nullptr},
    {kOptVersion, L"version", kArgNone, nullptr, nullptr},
    {kOptVerbose, L"verbose", kArgNone, nullptr, nullptr},
    {kOptStat, L"stat", kArgOptional, nullptr, nullptr},
    {kOptDate, L"date", kArgRequired, nullptr, nullptr},
    {kOptExec, L"exec", kArgRequired, nullptr, nullptr},
    {kOptExecNoWait, L"exec-nowait", kArgRequired, nullptr, nullptr},
    {kOptSrcDir, L"srcdir", kArgRequired, nullptr, nullptr},
    {kOptOutDir, L"outdir", kArgRequired, nullptr, nullptr},
    {kOptProgress, L"progress", kArgRequired, nullptr, nullptr},
    {kOptTop, L"top", kArgRequired, nullptr, nullptr},
    {kOptDiff, L"diff", kArgNone, nullptr, nullptr},
    {kOptUnits, L"units", kArgRequired, nullptr, nullptr},
    {kOptQuantum, L"quantum", kArgRequired, nullptr, nullptr},
    {kOptThreads, L"threads", kArgRequired, nullptr, nullptr},
    {kOptSearch, L"search", kArgRequired, nullptr, nullptr},
    {kOptSort, L"sort", kArgRequired, nullptr, nullptr},
    {kOptRevSort, L"rev-sort", kArgRequired, nullptr, nullptr},
    {kOptOutput, L"output", kArgRequired, nullptr, nullptr},
    {kOptPaging, L"paging", kArgRequired, nullptr, nullptr},
    {kOptCancel, L"cancel", kArgRequired, nullptr, nullptr},
    {kOptJobName, L"jobname", kArgRequired, nullptr, nullptr},
    {kOptOutForm, L"outform", kArgRequired, nullptr, nullptr},
    {kOptWebstat, L"webstat", kArgRequired, nullptr, nullptr},
    {kOptMerge, L"merge", kArgNone, nullptr, nullptr},
    {kOptDbfeed, L"dbfeed", kArgRequired, nullptr, nullptr},
    {kOptDbgSetLevel, L"dbg_set_level", kArgRequired, nullptr, nullptr},
    {kOptDbgSetLog, L"dbg_set_log", kArgRequired, nullptr, nullptr},
    {0, nullptr, kArgNone, nullptr, nullptr},
};

// ---- Parsing helpers ---------------------------------------------------------

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

const wchar_t* SkipBlanks(const wchar_t* p) {
  while (IsBlank(*p)) ++p;
  return p;
}

int DigitValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return 99;
}

// Reads an unsigned number in C notation (decimal, 0x hexadecimal, 0 octal).
// Returns the position behind it, or null for no digits or overflow.
const wchar_t* ReadCNumber(const wchar_t* p, uint64_t limit, uint64_t* value) {
  unsigned base = 10;
  if (p[0] == L'0' && (p[1] == L'x' || p[1] == L'X') && DigitValue(p[2]) < 16) {
    base = 16;
    p += 2;
  } else if (p[0] == L'0') {
    base = 8;
  }
  uint64_t number = 0;
  const wchar_t* start = p;
  while (DigitValue(*p) < static_cast<int>(base)) {
    number = number * base + static_cast<uint64_t>(DigitValue(*p));
    if (number > limit) return nullptr;
    ++p;
  }
  if (p == start) return nullptr;
  *value = number;
  return p;
}

bool EqualsNoCase(const wchar_t* a, size_t length, const wchar_t* b) {
  if (wcslen(b) != length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (FoldCharW(a[i]) != FoldCharW(b[i])) return false;
  }
  return true;
}

// ---- The option loop -----------------------------------------------------------

struct LoopState {
  CommandLine* commandLine;
  JobContext* context;
  uint32_t flags;
};

int PrintUsageError(int messageId, const wchar_t* element) {
  PrintMessage(kConsoleErr, messageId, element);
  PrintMessage(kConsoleErr, kMsgTryHelp);
  return kErrFailed;
}

ResultCode SetMode(JobContext* context, RunMode mode) {
  if (context->mode != RunMode::kNone && context->mode != mode) {
    PrintMessage(kConsoleErr, kMsgOnlyOneMode);
    PrintMessage(kConsoleErr, kMsgTryHelp);
    return kErrFailed;
  }
  context->mode = mode;
  return kOk;
}

ResultCode SetExpandedPath(const wchar_t* argument, std::optional<std::wstring>* target) {
  std::wstring expanded;
  ResultCode result = ExpandPath(argument, 0, &expanded);
  if (result != kOk) return result;
  *target = std::move(expanded);
  return kOk;
}

ResultCode ReportValueError(ResultCode result, int messageId, const wchar_t* argument) {
  if (result != kOk) PrintMessage(kConsoleErr, messageId, argument != nullptr ? argument : L"");
  return result;
}

ResultCode HandleSearch(JobContext* context, const wchar_t* argument) {
  ResultCode result = SetMode(context, RunMode::kSearch);
  if (result != kOk) return result;
  if (context->search == nullptr) context->search = new SearchConditions{};
  // Repeated --search options add to the same record.
  result = ParseSearchConditions(argument, context->search);
  if (result != kOk) {
    PrintMessage(kConsoleErr, kMsgInvalidCondition, argument != nullptr ? argument : L"",
                 static_cast<int>(result));
  }
  return result;
}

ResultCode HandleWebstat(JobContext* context, const wchar_t* argument) {
  ResultCode result = SetMode(context, RunMode::kWebstat);
  if (result != kOk) return result;
  if (context->webstat == nullptr) context->webstat = new WebstatConditions{};
  // Repeated --webstat options add to the same record.
  result = ParseWebstatConditions(argument, context->webstat);
  if (result != kOk) {
    PrintMessage(kConsoleErr, kMsgInvalidCondition, argument != nullptr ? argument : L"",
                 static_cast<int>(result));
  }
  return result;
}

ResultCode HandleSort(JobContext* context, const wchar_t* argument, uint32_t descending) {
  context->sortDescending = descending;
  ResultCode result = ParseSortColumn(argument, &context->sortColumn);
  if (result != kOk) {
    PrintMessage(kConsoleErr, kMsgInvalidSortColumn, argument != nullptr ? argument : L"",
                 static_cast<int>(result));
  }
  return result;
}

ResultCode HandleJobName(JobContext* context, const wchar_t* argument) {
  std::wstring name;
  ResultCode result = CheckJobName(argument, &name);
  if (result != kOk) return ReportValueError(result, kMsgInvalidJobName, argument);
  context->jobName = std::move(name);
  return kOk;
}

ResultCode HandleDate(JobContext* context, const wchar_t* argument) {
  ResultCode result = ParseDateList(context->dateList, argument);
  if (result != kOk) return ReportValueError(result, kMsgInvalidDate, argument);
  context->datesGiven = true;
  return kOk;
}

ResultCode HandleExec(const LoopState& state, const wchar_t* argument, int wait) {
  ResultCode result = ParsePostprocessor(argument, wait, state.commandLine,
                                         &state.context->postprocessors);
  if (result != kOk) PrintMessage(kConsoleErr, kMsgInvalidPostprocessor);
  return result;
}

ResultCode HandleDebugLevel(const wchar_t* argument) {
  if (argument == nullptr) return kErrInvalidArgument;
  long level = wcstol(argument, nullptr, 10);
  SetDiagnosticThreshold(static_cast<uint32_t>(level));
  return kOk;
}

ResultCode HandleDebugLog(const LoopState& state, const wchar_t* argument) {
  if ((state.flags & kParseNoDiagnosticFile) == 0) SetDiagnosticFile(argument);
  return kOk;
}

ResultCode HandleModeOption(JobContext* context, int id, const wchar_t* argument) {
  switch (id) {
    case kOptHelp: return SetMode(context, RunMode::kHelp);
    case kOptVersion: return SetMode(context, RunMode::kVersion);
    case kOptMerge: return SetMode(context, RunMode::kMerge);
    case kOptStat: {
      ResultCode result = SetMode(context, RunMode::kStat);
      return result != kOk ? result : ParseStatTypes(argument, &context->statMask);
    }
    case kOptCancel: {
      ResultCode result = SetMode(context, RunMode::kCancel);
      return result != kOk ? result : HandleJobName(context, argument);
    }
    case kOptDbfeed: {
      ResultCode result = SetMode(context, RunMode::kDbfeed);
      return result != kOk ? result : SetExpandedPath(argument, &context->feedName);
    }
    case kOptSearch: return HandleSearch(context, argument);
    default: return HandleWebstat(context, argument);
  }
}

ResultCode HandleOption(const LoopState& state, int id, int row, const wchar_t* argument) {
  JobContext* context = state.context;
  switch (id) {
    case kOptHelp:
    case kOptVersion:
    case kOptMerge:
    case kOptStat:
    case kOptCancel:
    case kOptDbfeed:
    case kOptSearch:
    case kOptWebstat: return HandleModeOption(context, id, argument);
    case kOptVerbose: IncreaseVerbosity(); return kOk;
    case kOptDate: return HandleDate(context, argument);
    case kOptExec: return HandleExec(state, argument, 1);
    case kOptExecNoWait: return HandleExec(state, argument, 0);
    case kOptSrcDir: return SetExpandedPath(argument, &context->sourceDir);
    case kOptOutDir: return SetExpandedPath(argument, &context->outputDir);
    case kOptProgress: return SetExpandedPath(argument, &context->progressName);
    case kOptOutput: return SetExpandedPath(argument, &context->outputFile);
    case kOptTop:
      return ReportValueError(ParseCount(argument, &context->settings.topCount), kMsgInvalidCount,
                              argument);
    case kOptPaging:
      return ReportValueError(ParseCount(argument, &context->paging), kMsgInvalidCount, argument);
    case kOptThreads:
      return ReportValueError(ParseCount(argument, &context->threads), kMsgInvalidCount, argument);
    case kOptDiff: return kOk;  // the row's flag target did the work
    case kOptUnits:
      return ReportValueError(ParseUnits(argument, &context->settings.unitDivisor),
                              kMsgInvalidUnits, argument);
    case kOptQuantum:
      return ReportValueError(ParseQuantum(argument, &context->settings.quantumUnit,
                                           &context->settings.quantumCount),
                              kMsgInvalidQuantum, argument);
    case kOptSort: return HandleSort(context, argument, 0);
    case kOptRevSort: return HandleSort(context, argument, 1);
    case kOptJobName: return HandleJobName(context, argument);
    case kOptOutForm:
      return ReportValueError(ParseOutputForms(argument, &context->outputForms),
                              kMsgInvalidOutputForm, argument);
    case kOptDbgSetLevel: return HandleDebugLevel(argument);
    case kOptDbgSetLog: return HandleDebugLog(state, argument);
    case kOptNonOption: context->nonOptions.emplace_back(argument); return kOk;
    case kOptUnknown: return PrintUsageError(kMsgUnrecognizedOption, argument);
    case kOptAmbiguous: return PrintUsageError(kMsgAmbiguousOption, argument);
    case kOptBadArgument:
      return PrintUsageError(row >= 0 && g_table[row].argKind != kArgNone ? kMsgRequiresArgument
                                                                          : kMsgNoArgumentAllowed,
                             argument);
    default: return kOk;
  }
}

}  // namespace

const OptionSpec* ProgramOptionTable(JobContext* context) {
  for (OptionSpec& row : g_table) {
    if (row.id == kOptDiff) row.flagTarget = context != nullptr ? &context->diff : nullptr;
  }
  return g_table;
}

ResultCode InitJobContext(JobContext* context) {
  FreeJobContext(context);
  context->dateList = TreeCreate(0, 0);
  return context->dateList != nullptr ? kOk : kErrNoMemory;
}

void FreeJobContext(JobContext* context) {
  if (context->search != nullptr) {
    ReleaseSearchConditions(context->search);
    delete context->search;
  }
  if (context->webstat != nullptr) {
    ReleaseWebstatConditions(context->webstat);
    delete context->webstat;
  }
  if (context->dateList != nullptr) TreeDestroy(context->dateList);
  if (context->postprocessors != nullptr) TreeDestroy(context->postprocessors);
  *context = JobContext{};
}

ResultCode ParseOptions(CommandLine* commandLine, JobContext* context, uint32_t flags) {
  const OptionSpec* table = ProgramOptionTable(context);
  LoopState state{commandLine, context, flags};
  ResultCode result = kOk;
  for (;;) {
    int row = -1;
    const wchar_t* argument = nullptr;
    int id = NextOption(commandLine, 0, table, &row, &argument);
    if (id == kOptEnd) break;
    result = HandleOption(state, id, row, argument);
    if (result != kOk) break;
  }
  return result;
}

// ---- Value parsers -------------------------------------------------------------

ResultCode ParseCount(const wchar_t* text, uint32_t* value) {
  if (text == nullptr) return kErrInvalidArgument;
  uint64_t number = 0;
  const wchar_t* end = ReadCNumber(SkipBlanks(text), 0xFFFFFFFFULL, &number);
  if (end == nullptr || (*end != L'\0' && !iswspace(static_cast<wint_t>(*end)))) {
    return kErrInvalidValue;
  }
  *value = static_cast<uint32_t>(number);
  return kOk;
}

ResultCode ParseUnits(const wchar_t* text, uint32_t* divisor) {
  if (text == nullptr) return kErrInvalidArgument;
  const wchar_t* start = SkipBlanks(text);
  size_t length = 0;
  while (start[length] != L'\0' && !IsBlank(start[length])) {
    if (++length > 3) return kErrInvalidValue;
  }
  static const struct {
    const wchar_t* name;
    uint32_t divisor;
  } kUnits[] = {{L"B", 0},          {L"kB", 1024},          {L"KiB", 1024},
                {L"MB", 1048576},   {L"MiB", 1048576},      {L"GB", 1073741824},
                {L"GiB", 1073741824}};
  for (const auto& unit : kUnits) {
    if (EqualsNoCase(start, length, unit.name)) {
      *divisor = unit.divisor;
      return kOk;
    }
  }
  return kErrInvalidValue;
}

ResultCode ParseQuantum(const wchar_t* text, uint32_t* unit, uint64_t* count) {
  if (text == nullptr) return kErrInvalidArgument;
  const wchar_t* p = SkipBlanks(text);
  uint64_t number = 0;
  const wchar_t* start = p;
  while (*p >= L'0' && *p <= L'9') {
    uint64_t digit = static_cast<uint64_t>(*p - L'0');
    if (number > (UINT64_MAX - digit) / 10) return kErrInvalidValue;
    number = number * 10 + digit;
    ++p;
  }
  // A count of 0 is taken: the runs then use their 15-minute default.
  if (p == start) return kErrInvalidValue;
  p = SkipBlanks(p);
  uint32_t code = 2;  // minutes when no unit is given
  if (*p != L'\0') {
    static const wchar_t kLetters[] = L"SMHdwmy";
    const wchar_t* letter = wcschr(kLetters, *p);
    if (letter == nullptr || (p[1] != L'\0' && !IsBlank(p[1]))) return kErrInvalidValue;
    code = static_cast<uint32_t>(letter - kLetters) + 1;
  }
  *unit = code;
  *count = number;
  return kOk;
}

ResultCode ParseSortColumn(const wchar_t* text, uint32_t* column) {
  if (text == nullptr) return kErrInvalidArgument;
  static const struct {
    const wchar_t* name;
    uint32_t column;
  } kColumns[] = {{L"time", kSortTime}, {L"from", kSortFrom}, {L"to", kSortTo},
                  {L"ip", kSortIp},     {L"id", kSortId},     {L"host", kSortHost},
                  {L"site", kSortHost}, {L"user", kSortUser}, {L"volume", kSortVolume}};
  size_t length = wcslen(text);
  for (const auto& entry : kColumns) {
    if (EqualsNoCase(text, length, entry.name)) {
      *column = entry.column;
      return kOk;
    }
  }
  *column = kSortTime;
  return kErrInvalidValue;
}

ResultCode ParseOutputForms(const wchar_t* text, uint32_t* forms) {
  if (text == nullptr) return kErrInvalidArgument;
  constexpr size_t kTokenLimit = 64;
  uint32_t bits = 0;
  const wchar_t* p = text;
  for (;;) {
    const wchar_t* comma = wcschr(p, L',');
    size_t length = comma != nullptr ? static_cast<size_t>(comma - p) : wcslen(p);
    if (length > kTokenLimit) return kErrInvalidValue;
    if (length > 0) {
      if (EqualsNoCase(p, length, L"search")) {
        bits |= kOutFormSearch;
      } else if (EqualsNoCase(p, length, L"summary")) {
        bits |= kOutFormSummary;
      } else {
        return kErrInvalidValue;
      }
    }
    if (comma == nullptr) break;
    p = comma + 1;
  }
  if (bits == 0) return kErrInvalidValue;
  *forms = bits;
  return kOk;
}
