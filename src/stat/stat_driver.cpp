#include "stat/stat_driver.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>
#include <cstring>
#include <cwchar>
#include <string>

#include "frame/console.h"
#include "frame/jobs.h"
#include "frame/progress.h"
#include "common/date_list.h"
#include "common/dir_enum.h"
#include "common/node_tree.h"
#include "common/paths.h"
#include "common/time.h"
#include "platform/fs.h"
#include "platform/stream.h"
#include "platform/thread.h"
#include "stat/day_jobs.h"
#include "stat/stat_handlers.h"
#include "stat/stat_types.h"

namespace {

constexpr uint32_t kScanFields = kFileInfoName | kFileInfoMode | kFileInfoSize;

wchar_t FoldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

bool SameNoCase(const wchar_t* a, const wchar_t* b, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

bool IsEnumerationEnd(ResultCode code) {
  return code == kErrFileNotFound || code == kErrPathNotFound || code == kErrNoMoreEntries;
}

void NoteScannedName(bool added, const wchar_t* name) {
  if (added) {
    if (GetVerbosity() >= 1) DebugPrint(0, L"\tadd:  %s", name);
  } else if (GetVerbosity() >= 2) {
    DebugPrint(0, L"\tskip: %s", name);
  }
}

// One wildcard of one type: adds the qualifying new days to the list. A day
// that began less than a minute before `now` is left for a later run, so
// that the day before it can still take its last lines.
ResultCode ScanLogMask(const wchar_t* logDir, const StatType& type, const wchar_t* mask,
                       TimeValue now, NodeTree* list) {
  const std::wstring wildcard = JoinPath(logDir, mask, false);
  DirEnum* search = nullptr;
  FileInfo info;
  ResultCode result = DirEnumOpen(wildcard.c_str(), kScanFields, &search, &info);
  if (IsEnumerationEnd(result)) return kOk;
  if (result != kOk) return result;
  while (result == kOk) {
    if ((info.mode & kFileModeRegular) != 0 && (info.mode & kFileModeDirectory) == 0) {
      TimeValue day = 0;
      bool added = false;
      if (LogNameDay(mask, info.name, &day)) {
        const bool grown = day == type.lastDay && static_cast<uint32_t>(info.size) != type.lastSize;
        if (DayEntered(day, now) && (day > type.lastDay || grown)) {
          result = AddDateListDay(list, day, type.mask);
          if (result != kOk) break;
          added = true;
        }
      }
      NoteScannedName(added, info.name);
    }
    result = DirEnumNext(search, kScanFields, &info);
  }
  DirEnumClose(search);
  return IsEnumerationEnd(result) ? kOk : result;
}

// Where one item stands after it was tried.
enum class ItemEnd { kRan, kNoLog, kSetupFailed };

bool StopRequested(JobEvent* event) { return IsInterrupted() != 0 || IsJobCancelled(event) != 0; }

int64_t Percent(uint32_t part, uint32_t whole) {
  return whole == 0 ? 100 : static_cast<int64_t>(100ULL * part / whole);
}

// One (day, type) item in run order; job npos for a skipped one.
struct PlannedItem {
  size_t dayIndex;
  StatType* type;
  size_t job;
  size_t handler;
};
constexpr size_t kNoJob = static_cast<size_t>(-1);

// The jobs of a run and the workers that count them. Without workers the
// driver runs each job itself when its first item comes. Workers take jobs
// in the order of their first items, at most one day ahead of the driver.
struct JobRunner {
  const wchar_t* logDir = nullptr;
  JobEvent* event = nullptr;
  ProgressFile* progress = nullptr;
  std::vector<std::unique_ptr<DayJob>> jobs;
  std::mutex lock;
  std::condition_variable changed;
  size_t nextJob = 0;
  size_t openDay = 0;  // workers may take jobs of days up to this one
  bool closing = false;
  std::vector<std::thread> workers;
};

bool WorkerMayTake(const JobRunner& runner) {
  return runner.closing || runner.nextJob >= runner.jobs.size() ||
         runner.jobs[runner.nextJob]->dayIndex <= runner.openDay;
}

void SetStage(JobRunner* runner, DayJob* job, int stage) {
  {
    std::lock_guard<std::mutex> hold(runner->lock);
    job->stage = stage;
  }
  runner->changed.notify_all();
}

void WorkerLoop(JobRunner* runner) {
  for (;;) {
    DayJob* job = nullptr;
    {
      std::unique_lock<std::mutex> hold(runner->lock);
      runner->changed.wait(hold, [runner] { return WorkerMayTake(*runner); });
      if (runner->closing || runner->nextJob >= runner->jobs.size()) return;
      job = runner->jobs[runner->nextJob++].get();
    }
    OpenJobLogs(runner->logDir, job);
    SetStage(runner, job, 1);
    RunJobPasses(job, LoopReport{nullptr, &job->percent}, runner->event);
    SetStage(runner, job, 2);
  }
}

void StartWorkers(JobRunner* runner, uint32_t threads) {
  const size_t count = std::min<size_t>(threads, runner->jobs.size());
  if (count < 2) return;
  // A thread that cannot be started leaves the work to the others, or to the
  // driver itself when none started.
  try {
    for (size_t i = 0; i < count; ++i) runner->workers.emplace_back(WorkerLoop, runner);
  } catch (...) {
  }
}

void OpenDayForWorkers(JobRunner* runner, size_t dayIndex) {
  if (runner->workers.empty()) return;
  {
    std::lock_guard<std::mutex> hold(runner->lock);
    runner->openDay = dayIndex + 1;
  }
  runner->changed.notify_all();
}

void StopWorkers(JobRunner* runner) {
  {
    std::lock_guard<std::mutex> hold(runner->lock);
    runner->closing = true;
  }
  runner->changed.notify_all();
  for (std::thread& worker : runner->workers) worker.join();
  runner->workers.clear();
}

// Brings the job to `stage`: runs it here without workers; with workers
// waits, reporting the running pass's item percent while it counts.
void ReachStage(JobRunner* runner, DayJob* job, int stage) {
  if (runner->workers.empty()) {
    if (job->stage < 1) {
      OpenJobLogs(runner->logDir, job);
      job->stage = 1;
    }
    if (stage >= 2 && job->stage < 2) {
      RunJobPasses(job, LoopReport{runner->progress, nullptr}, runner->event);
      job->stage = 2;
    }
    return;
  }
  std::unique_lock<std::mutex> hold(runner->lock);
  int64_t reported = -1;
  while (job->stage < stage) {
    runner->changed.wait_for(hold, std::chrono::milliseconds(200));
    const int64_t percent = job->percent.load(std::memory_order_relaxed);
    if (stage >= 2 && job->stage >= 1 && percent != reported) {
      reported = percent;
      ReportStatProgress(runner->progress, -1, percent, -1, -1, nullptr, nullptr);
    }
  }
}

struct RunContext {
  const wchar_t* outputDir;
  const OutputSettings* settings;
  ProgressFile* progress;
  uint32_t total;
  uint32_t done;
};

// Takes one (day, type) item whose counting is the job's: the output file
// goes, the messages and progress come, and the file is written from the
// handler's counts, in the order and form of a run that reads the item's
// log for it alone. *itemResult is the handler's or the output's result
// when the item ran, the setup error otherwise.
ItemEnd TakeItem(RunContext* run, JobRunner* runner, DayJob* job, JobHandler* handler,
                 ResultCode* itemResult) {
  StatType* type = handler->type;
  const DayDate& date = job->date;
  std::wstring outputDir = run->outputDir;
  if (type->outputDir != nullptr) {
    outputDir = JoinPath(run->outputDir, type->outputDir, true);
    if (!DirectoryExists(outputDir.c_str())) CreateDirectoryTree(outputDir.c_str());
  }
  std::wstring outputName;
  ResultCode result = NameFromMask(type->outputMask, date.year, date.month, date.day, &outputName);
  if (result != kOk) {
    PrintResultMessage(result);
    *itemResult = result;
    return ItemEnd::kSetupFailed;
  }
  const std::wstring outputPath = JoinPath(outputDir.c_str(), outputName.c_str(), false);
  if (FileExists(outputPath.c_str())) RemoveFile(outputPath.c_str());

  ReachStage(runner, job, 1);
  if (handler->openResult != kOk) {
    PrintResultMessage(handler->openResult);
    *itemResult = handler->openResult;
    return ItemEnd::kSetupFailed;
  }
  if (!handler->hasLog) {
    if (GetVerbosity() >= 2) PrintMessage(kConsoleErr, kMsgLogMissing, type->name, job->primaryName.c_str());
    return ItemEnd::kNoLog;
  }
  const std::wstring& shownName = job->primaryFound ? job->primaryName : handler->secondaryName;
  if (GetVerbosity() >= 1) PrintMessage(kConsoleErr, kMsgProcessing, type->name, job->primaryName.c_str());
  ReportStatProgress(run->progress, Percent(run->done, run->total), 0, run->done + 1, run->total,
                     type->name, shownName.c_str());
  ReachStage(runner, job, 2);
  FILE* output = OpenStream(outputPath.c_str(), "wt");
  if (output == nullptr) {
    result = kErrCannotCreate;
  } else {
    result = handler->result;
    if (result == kOk) type->kind->write(handler->counts, output, *run->settings);
    // A full disk must not pass for a complete file.
    const bool writeFailed = ferror(output) != 0;
    if (fclose(output) != 0 || writeFailed) {
      if (result == kOk) result = kErrWriteFault;
    }
    if (result != kOk) RemoveFile(outputPath.c_str());
  }
  FreeHandlerCounts(handler);
  ReportStatProgress(run->progress, Percent(run->done + 1, run->total), 100, -1, -1, nullptr, nullptr);
  if (result != kOk) {
    PrintResultMessage(result);
  } else {
    type->daysDone += 1;
    type->lastDay = job->day;
    type->lastLines = handler->lines;
    type->lastTime = handler->lastTime;
    type->lastSize = handler->size;
  }
  *itemResult = result;
  return ItemEnd::kRan;
}

// The items of the list in run order, each day's grouped into jobs by the
// log they read. Resume points and skips come from the stored state: a type
// resumes only on its stored day, which is the first day it takes.
ResultCode PlanItems(NodeTree* list, bool force, bool diff, JobRunner* runner,
                     std::vector<PlannedItem>* items) {
  StatType* table = StatTypeTable();
  size_t dayIndex = 0;
  for (TreeNode* node = TreeFirstChild(list); node != nullptr; node = TreeNextSibling(node), ++dayIndex) {
    const uint32_t id = TreeNodeId(node);
    const TimeValue day = DateListDay(node);
    DayDate date{};
    const bool dated = SplitTime(day, &date.year, &date.month, &date.day, nullptr, nullptr, nullptr, nullptr) == kOk;
    const size_t dayJobs = runner->jobs.size();
    for (int i = 0; i < kRealStatTypeCount; ++i) {
      StatType* type = &table[i];
      if ((id & type->mask) == 0) continue;
      PlannedItem item{dayIndex, type, kNoJob, 0};
      if (dated && (force || day >= type->lastDay)) {
        size_t job = dayJobs;
        while (job < runner->jobs.size() && wcscmp(runner->jobs[job]->logMask, type->logMask) != 0) ++job;
        if (job == runner->jobs.size()) {
          runner->jobs.push_back(std::make_unique<DayJob>());
          DayJob& added = *runner->jobs.back();
          added.day = day;
          added.date = date;
          added.dayIndex = dayIndex;
          added.logMask = type->logMask;
        }
        JobHandler handler;
        handler.type = type;
        if (diff && day == type->lastDay) {
          handler.resumeLines = type->lastLines;
          handler.resumeTime = type->lastTime;
        }
        item.job = job;
        item.handler = runner->jobs[job]->handlers.size();
        runner->jobs[job]->handlers.push_back(std::move(handler));
      } else if (!dated && (force || day >= type->lastDay)) {
        item.job = kNoJob - 1;  // a day that is no date: the item fails
      }
      items->push_back(item);
    }
  }
  return kOk;
}

}  // namespace

bool LogNameDay(const wchar_t* mask, const wchar_t* name, TimeValue* day) {
  if (mask == nullptr || name == nullptr) return false;
  const wchar_t* star = wcschr(mask, L'*');
  if (star == nullptr) return false;
  const size_t prefix = static_cast<size_t>(star - mask);
  const size_t suffix = wcslen(star + 1);
  const size_t length = wcslen(name);
  if (length != prefix + 8 + suffix) return false;
  if (!SameNoCase(name, mask, prefix) || !SameNoCase(name + prefix + 8, star + 1, suffix)) return false;
  for (size_t i = prefix; i < prefix + 8; ++i) {
    if (name[i] < L'0' || name[i] > L'9') return false;
  }
  TimeValue value = kNoTime;
  if (MatchDatePatternWide(1, name + prefix, 8, kDatePatternsLogName, &value) != 1) return false;
  if (value == 0 || value == kNoTime) return false;
  *day = value;
  return true;
}

ResultCode ScanNewLogDays(const wchar_t* logDir, const wchar_t* /*outputDir*/, uint32_t mask,
                          NodeTree* list) {
  if (logDir == nullptr || list == nullptr) return kErrInvalidArgument;
  StatType* table = StatTypeTable();
  const TimeValue now = LocalTimeNow();
  for (int i = 0; i < kRealStatTypeCount; ++i) {
    const StatType& type = table[i];
    if ((type.mask & mask) == 0 || type.logMask == nullptr) continue;
    if (GetVerbosity() >= 1) DebugPrint(0, L"%s, oldest %I64u", type.name, type.lastDay);
    for (const wchar_t* logMask : {type.logMask, type.logMask2}) {
      if (logMask == nullptr) continue;
      const ResultCode result = ScanLogMask(logDir, type, logMask, now, list);
      if (result != kOk) return result;
    }
  }
  return kOk;
}

ResultCode RunStatTypes(const wchar_t* logDir, const wchar_t* outputDir, NodeTree* list,
                        const OutputSettings& settings, bool force, bool diff, uint32_t threads,
                        ProgressFile* progress, JobEvent* event) {
  if (logDir == nullptr || outputDir == nullptr || list == nullptr) return kErrInvalidArgument;
  JobRunner runner;
  runner.logDir = logDir;
  runner.event = event;
  runner.progress = progress;
  std::vector<PlannedItem> items;
  PlanItems(list, force, diff, &runner, &items);
  RunContext run{outputDir, &settings, progress, static_cast<uint32_t>(items.size()), 0};
  if (run.total == 0) {
    PrintMessage(kConsoleErr, kMsgNothingToDo);
    return kOk;
  }
  ReportStatProgress(progress, 0, 0, 0, run.total, nullptr, nullptr);
  StartWorkers(&runner, threads == 0 ? PlatformProcessorCount() : threads);
  ResultCode result = kOk;
  for (size_t at = 0; at < items.size();) {
    const size_t dayIndex = items[at].dayIndex;
    OpenDayForWorkers(&runner, dayIndex);
    for (; at < items.size() && items[at].dayIndex == dayIndex; ++at) {
      const PlannedItem& item = items[at];
      if (StopRequested(event)) {
        result = kUserAbort;
        break;
      }
      ResultCode itemResult = kOk;
      ItemEnd end = ItemEnd::kNoLog;
      if (item.job == kNoJob - 1) {
        itemResult = kErrInvalidValue;
        end = ItemEnd::kSetupFailed;
      } else if (item.job != kNoJob) {
        DayJob* job = runner.jobs[item.job].get();
        end = TakeItem(&run, &runner, job, &job->handlers[item.handler], &itemResult);
      }
      ++run.done;
      if (end == ItemEnd::kRan) result = itemResult;
      if (end == ItemEnd::kSetupFailed) {
        result = itemResult;
        break;
      }
    }
    while (at < items.size() && items[at].dayIndex == dayIndex) ++at;
  }
  StopWorkers(&runner);
  for (auto& job : runner.jobs) {
    for (JobHandler& handler : job->handlers) FreeHandlerCounts(&handler);
  }
  ReportStatProgress(progress, 100, 100, -1, -1, nullptr, nullptr);
  return result;
}
