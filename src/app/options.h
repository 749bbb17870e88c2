// The run's settings (JobContext), the option table, value parsers and the option loop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frame/command_line.h"
#include "common/output_settings.h"
#include "platform/types.h"

struct NodeTree;
struct SearchConditions;
struct WebstatConditions;

enum class RunMode { kNone, kHelp, kVersion, kSearch, kCancel, kStat, kWebstat, kMerge, kDbfeed };

// Option ids of the option table.
constexpr int32_t kOptHelp = 104;  // 'h'
constexpr int32_t kOptVersion = 2000;
constexpr int32_t kOptVerbose = 118;  // 'v'
constexpr int32_t kOptStat = 2009;
constexpr int32_t kOptDate = 2010;
constexpr int32_t kOptExec = 2011;
constexpr int32_t kOptExecNoWait = 2012;
constexpr int32_t kOptSrcDir = 2013;
constexpr int32_t kOptOutDir = 2014;
constexpr int32_t kOptProgress = 2015;
constexpr int32_t kOptTop = 2016;
constexpr int32_t kOptDiff = 2017;
constexpr int32_t kOptUnits = 2018;
constexpr int32_t kOptQuantum = 2019;
constexpr int32_t kOptSearch = 2001;
constexpr int32_t kOptSort = 2002;
constexpr int32_t kOptRevSort = 2003;
constexpr int32_t kOptOutput = 2004;
constexpr int32_t kOptPaging = 2005;
constexpr int32_t kOptCancel = 2006;
constexpr int32_t kOptJobName = 2007;
constexpr int32_t kOptOutForm = 2008;
constexpr int32_t kOptWebstat = 2020;
constexpr int32_t kOptMerge = 2021;
constexpr int32_t kOptDbfeed = 2022;
constexpr int32_t kOptThreads = 2023;
constexpr int32_t kOptDbgSetLevel = 10000;
constexpr int32_t kOptDbgSetLog = 10001;

// Output forms of --outform.
constexpr uint32_t kOutFormSearch = 0x1;
constexpr uint32_t kOutFormSummary = 0x2;

// Sort columns of --sort / --rev-sort.
constexpr uint32_t kSortTime = 0;
constexpr uint32_t kSortFrom = 1;
constexpr uint32_t kSortTo = 2;
constexpr uint32_t kSortIp = 3;
constexpr uint32_t kSortId = 4;
constexpr uint32_t kSortHost = 5;
constexpr uint32_t kSortUser = 6;
constexpr uint32_t kSortVolume = 7;

// Settings of one run as the command line gives them. Owns every string and tree.
struct JobContext {
  RunMode mode = RunMode::kNone;
  std::optional<std::wstring> outputDir;     // expanded
  std::optional<std::wstring> sourceDir;     // expanded
  std::optional<std::wstring> jobName;       // lower-case, checked
  std::optional<std::wstring> progressName;  // expanded
  std::optional<std::wstring> outputFile;    // expanded
  std::optional<std::wstring> feedName;      // expanded
  std::vector<std::wstring> nonOptions;      // arguments not beginning with '-'
  uint32_t paging = 0;
  uint32_t threads = 0;  // --threads; 0: one per processor
  uint32_t statMask = 0;
  uint32_t sortDescending = 0;
  uint32_t sortColumn = kSortTime;
  NodeTree* dateList = nullptr;        // days of --date
  bool datesGiven = false;             // a --date value was taken
  NodeTree* postprocessors = nullptr;  // node id 1 wait, 0 no wait; data = command line
  int32_t diff = 0;                    // set through the --diff row
  OutputSettings settings;
  SearchConditions* search = nullptr;        // --search conditions (null until needed)
  WebstatConditions* webstat = nullptr;      // --webstat conditions (null until needed)
  uint32_t outputForms = 0;                  // --outform bits
};

// Option table of the program, in matching order, ended by {0, nullptr}.
const OptionSpec* ProgramOptionTable(JobContext* context);

// Clears the record and creates the date list's tree; kErrNoMemory on failure.
ResultCode InitJobContext(JobContext* context);

// Frees everything the record owns and clears it.
void FreeJobContext(JobContext* context);

// Flags of ParseOptions.
constexpr uint32_t kParseNoDiagnosticFile = 1;  // record --dbg_set_log but open nothing

// Walks the options into the record, printing the usage and value messages.
// Returns 0 or the code that ended the loop (the caller prints its message).
ResultCode ParseOptions(CommandLine* commandLine, JobContext* context, uint32_t flags = 0);

// Value parsers: 0, kErrInvalidValue for a bad value, kErrInvalidArgument for none.
ResultCode ParseCount(const wchar_t* text, uint32_t* value);
ResultCode ParseUnits(const wchar_t* text, uint32_t* divisor);
ResultCode ParseQuantum(const wchar_t* text, uint32_t* unit, uint64_t* count);
ResultCode ParseSortColumn(const wchar_t* text, uint32_t* column);
ResultCode ParseOutputForms(const wchar_t* text, uint32_t* forms);
