// Start-up, dispatch of the chosen mode, the --stat run sequence and shut-down.
#include "app/dispatch.h"

#include <string>

#include "frame/console.h"
#include "frame/jobs.h"
#include "frame/postprocessor.h"
#include "frame/progress.h"
#include "common/paths.h"
#include "common/time.h"
#include "dbfeed/feed_run.h"
#include "doctor/search_command.h"
#include "doctor/search_conditions.h"
#include "platform/clock.h"
#include "stat/stat_mode.h"
#include "webstat/merge_results.h"
#include "webstat/webstat_conditions.h"
#include "webstat/webstat_run.h"

namespace {

ResultCode RunDbfeedMode(JobContext* context, const wchar_t* logDir, JobEvent* event) {
  return RunFeed(context->feedName ? context->feedName->c_str() : L"", logDir, event,
                 FeedRunSettings{});
}

// ---- Modes ---------------------------------------------------------------------

ResultCode RunCancel(JobContext* context) {
  ResultCode result = CancelJob(context->jobName ? context->jobName->c_str() : L"");
  if (result != kOk) PrintResultMessage(result);
  return result;
}

ResultCode RunDoctorMode(JobContext* context, const wchar_t* logDir, ProgressFile* progress,
                         JobEvent* event) {
  if (context->search == nullptr) context->search = new SearchConditions{};
  SearchConditions* conditions = context->search;
  // The Delivery doctor sorts by time, from, to, ip or id; other columns sort by time.
  conditions->sortColumn = context->sortColumn <= 4 ? context->sortColumn : 0;
  conditions->sortDescending = context->sortDescending;
  conditions->pageSize = context->paging;
  return RunSearchCommand(logDir, conditions,
                          context->outputFile ? context->outputFile->c_str() : nullptr, progress,
                          event);
}

ResultCode RunWebstatMode(JobContext* context, const wchar_t* logDir, ProgressFile* progress,
                          JobEvent* event) {
  if (context->webstat == nullptr) context->webstat = new WebstatConditions{};
  WebstatConditions* conditions = context->webstat;
  conditions->outform = context->outputForms;
  conditions->pageSize = context->paging;
  conditions->sortColumn = context->sortColumn;
  conditions->sortDescending = context->sortDescending;
  return RunWebStatistics(logDir, conditions, &context->settings,
                          context->outputFile ? context->outputFile->c_str() : nullptr, progress,
                          event);
}

// The log directory of search, webstat and dbfeed: the single non-option argument.
std::wstring LogDirectory(const JobContext* context) {
  return context->nonOptions.empty() ? std::wstring(L"./") : context->nonOptions.front();
}

ResultCode RunLogMode(JobContext* context) {
  if (context->nonOptions.size() > 1) {
    PrintMessage(kConsoleErr, kMsgOneLogDir);
    return kOk;
  }
  JobEvent* event = nullptr;
  if (context->jobName) {
    ResultCode result = CreateJobEvent(context->jobName->c_str(), &event);
    if (result != kOk) {
      PrintMessage(kConsoleErr, kMsgJobInitFailed, context->jobName->c_str(),
                   static_cast<int>(result));
      return result;
    }
  }
  ProgressFile* progress = nullptr;
  if (context->progressName && context->mode != RunMode::kDbfeed) {
    OpenProgressFile(nullptr, context->progressName->c_str(), &progress);
  }
  std::wstring logDir = LogDirectory(context);
  ResultCode result = kOk;
  switch (context->mode) {
    case RunMode::kSearch:
      result = RunDoctorMode(context, logDir.c_str(), progress, event);
      break;
    case RunMode::kWebstat:
      result = RunWebstatMode(context, logDir.c_str(), progress, event);
      break;
    default: result = RunDbfeedMode(context, logDir.c_str(), event); break;
  }
  if (result != kOk && result != kErrNotFound) PrintResultMessage(result);
  CloseProgressFile(progress);
  if (event != nullptr) CloseJobEvent(event);
  return result;
}

// Fills an unset directory or name with its expanded default.
ResultCode ApplyDefault(std::optional<std::wstring>* value, const wchar_t* fallback) {
  if (*value) return kOk;
  std::wstring expanded;
  ResultCode result = ExpandPath(fallback, 0, &expanded);
  if (result == kOk) *value = std::move(expanded);
  return result;
}

ResultCode RunStatSteps(JobContext* context) {
  ResultCode result = ApplyDefault(&context->sourceDir, L"@@x:l");
  if (result == kOk) result = ApplyDefault(&context->outputDir, L"@@x:/htdocs/logs/");
  if (result != kOk) return result;
  if (!context->progressName) context->progressName = L"_varno.run";
  const wchar_t* outputDir = context->outputDir->c_str();
  if (!DirectoryExists(outputDir)) {
    result = CreateDirectoryTree(outputDir);
    if (result != kOk) {
      PrintMessage(kConsoleErr, kMsgCannotAccessOutdir, outputDir, static_cast<int>(result));
      return result;
    }
  }
  result = TakeStatLocks(outputDir, context->statMask);
  if (result != kOk) {
    ReleaseStatLocks();
    PrintMessage(kConsoleErr, kMsgAnotherInstance);
    return result;
  }
  JobEvent* event = nullptr;
  if (context->jobName) CreateJobEvent(context->jobName->c_str(), &event);
  ProgressFile* progress = nullptr;
  OpenProgressFile(outputDir, context->progressName->c_str(), &progress);
  StatModeArgs args{};
  args.logDir = context->sourceDir->c_str();
  args.outputDir = outputDir;
  args.dateList = context->dateList;
  args.datesGiven = context->datesGiven;
  args.diff = context->diff != 0;
  args.mask = context->statMask;
  args.settings = context->settings;
  args.threads = context->threads;
  args.progress = progress;
  args.event = event;
  result = RunStatMode(args);
  CloseProgressFile(progress);
  if (event != nullptr) CloseJobEvent(event);
  ReleaseStatLocks();
  if (result == kOk) result = RunPostprocessorList(context->postprocessors);
  return result;
}

ResultCode RunStat(JobContext* context) {
  ResultCode result = RunStatSteps(context);
  if (result != kOk) PrintMessage(kConsoleErr, kMsgExecutionErrors, static_cast<int>(result));
  return result;
}

ResultCode RunMerge(JobContext* context) {
  ResultCode result = MergeResults(context->nonOptions, &context->settings,
                                   context->outputFile ? context->outputFile->c_str() : nullptr);
  if (result != kOk) PrintMessage(kConsoleErr, kMsgExecutionErrors, static_cast<int>(result));
  return result;
}

}  // namespace

ResultCode DispatchMode(JobContext* context) {
  switch (context->mode) {
    case RunMode::kNone:
    case RunMode::kHelp:
      PrintBanner();
      PrintHelp();
      return kOk;
    case RunMode::kVersion: PrintBanner(); return kOk;
    case RunMode::kCancel: return RunCancel(context);
    case RunMode::kSearch:
    case RunMode::kWebstat:
    case RunMode::kDbfeed: return RunLogMode(context);
    case RunMode::kMerge: return RunMerge(context);
    case RunMode::kStat: return RunStat(context);
  }
  return kOk;
}

int RunProgram(CommandLine* commandLine) {
  SetDiagnosticThreshold(255);
  PlatformInitTimeZone();
  SetRunStartTime(NowUtc());
  JobContext context;
  ResultCode result = InitJobContext(&context);
  if (result != kOk) {
    PrintMessage(kConsoleErr, kMsgInitFailed, static_cast<int>(result));
    FreeJobContext(&context);
    SetRunStartTime(0);
    return 1;
  }
  result = ParseOptions(commandLine, &context);
  if (GetVerbosity() >= 10) SetDiagnosticThreshold(0);
  if (result != kOk) {
    PrintResultMessage(result);
  } else {
    result = DispatchMode(&context);
  }
  FreeJobContext(&context);
  SetRunStartTime(0);
  return result == kOk ? 0 : 1;
}
