#include "stat/stat_driver.h"

#include <cstdio>
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

struct RunContext {
  const wchar_t* logDir;
  const wchar_t* outputDir;
  const OutputSettings* settings;
  bool diff;
  ProgressFile* progress;
  JobEvent* event;
  uint32_t total;
  uint32_t done;
};

struct DayName {
  uint32_t year, month, day;
};

// Opens the day's log of a mask when it exists. kErrFileNotFound when there is
// none. Names are matched ignoring case, as the scan found them.
ResultCode OpenDayLog(const wchar_t* logDir, const wchar_t* mask, const DayName& date,
                      std::wstring* name, FILE** stream) {
  *stream = nullptr;
  ResultCode result = NameFromMask(mask, date.year, date.month, date.day, name);
  if (result != kOk) return result;
  std::wstring path = JoinPath(logDir, name->c_str(), false);
  if (!FileExists(path.c_str())) {
    DirEnum* search = nullptr;
    FileInfo info;
    if (DirEnumOpen(path.c_str(), kScanFields, &search, &info) != kOk) return kErrFileNotFound;
    const bool isFile = (info.mode & kFileModeRegular) != 0;
    path = JoinPath(logDir, info.name, false);
    DirEnumClose(search);
    if (!isFile) return kErrFileNotFound;
  }
  *stream = OpenStream(path.c_str(), "rb");
  return *stream != nullptr ? kOk : kErrOpenFailed;
}

// The size of the log taken: the line loop leaves the stream behind the last
// line it took (before a last line still being written).
uint32_t StreamSizeLow(FILE* stream) {
  if (stream == nullptr) return 0;
  const int64_t size = TellStream(stream);
  return size < 0 ? 0 : static_cast<uint32_t>(size);
}

int64_t Percent(uint32_t part, uint32_t whole) {
  return whole == 0 ? 100 : static_cast<int64_t>(100ULL * part / whole);
}

// Runs one (day, type) item; *itemResult is the handler's or the output's
// result when the item ran, the setup error otherwise.
ItemEnd RunItem(RunContext* run, StatType* type, TimeValue day, ResultCode* itemResult) {
  DayName date{};
  if (SplitTime(day, &date.year, &date.month, &date.day, nullptr, nullptr, nullptr, nullptr) != kOk) {
    *itemResult = kErrInvalidValue;
    return ItemEnd::kSetupFailed;
  }
  uint32_t lines = 0;
  uint64_t lastTime = 0;
  if (run->diff && type->daysDone == 0 && day == type->lastDay) {
    lines = type->lastLines;
    lastTime = type->lastTime;
  }
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

  std::wstring primaryName;
  std::wstring secondaryName;
  FILE* primary = nullptr;
  FILE* secondary = nullptr;
  result = OpenDayLog(run->logDir, type->logMask, date, &primaryName, &primary);
  if ((result == kOk || result == kErrFileNotFound) && type->logMask2 != nullptr) {
    const ResultCode second = OpenDayLog(run->logDir, type->logMask2, date, &secondaryName, &secondary);
    if (second != kOk && second != kErrFileNotFound) result = second;
  }
  if (result != kOk && result != kErrFileNotFound) {
    if (primary != nullptr) fclose(primary);
    if (secondary != nullptr) fclose(secondary);
    PrintResultMessage(result);
    *itemResult = result;
    return ItemEnd::kSetupFailed;
  }
  if (primary == nullptr && secondary == nullptr) {
    if (GetVerbosity() >= 2) PrintMessage(kConsoleErr, kMsgLogMissing, type->name, primaryName.c_str());
    return ItemEnd::kNoLog;
  }
  const std::wstring& shownName = primary != nullptr ? primaryName : secondaryName;
  if (GetVerbosity() >= 1) PrintMessage(kConsoleErr, kMsgProcessing, type->name, primaryName.c_str());
  ReportStatProgress(run->progress, Percent(run->done, run->total), 0, run->done + 1, run->total,
                     type->name, shownName.c_str());
  FILE* output = OpenStream(outputPath.c_str(), "wt");
  uint32_t size = 0;
  if (output == nullptr) {
    result = kErrCannotCreate;
  } else {
    result = type->handler(primary, secondary, output, day, &lines, &lastTime, run->settings,
                           run->progress, run->event);
    size = StreamSizeLow(primary != nullptr ? primary : secondary);
    // A full disk must not pass for a complete file.
    const bool writeFailed = ferror(output) != 0;
    if (fclose(output) != 0 || writeFailed) {
      if (result == kOk) result = kErrWriteFault;
    }
    if (result != kOk) RemoveFile(outputPath.c_str());
  }
  if (primary != nullptr) fclose(primary);
  if (secondary != nullptr) fclose(secondary);
  ReportStatProgress(run->progress, Percent(run->done + 1, run->total), 100, -1, -1, nullptr, nullptr);
  if (result != kOk) {
    PrintResultMessage(result);
  } else {
    type->daysDone += 1;
    type->lastDay = day;
    type->lastLines = lines;
    type->lastTime = lastTime;
    type->lastSize = size;
  }
  *itemResult = result;
  return ItemEnd::kRan;
}

bool StopRequested(JobEvent* event) { return IsInterrupted() != 0 || IsJobCancelled(event) != 0; }

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
                        const OutputSettings& settings, bool force, bool diff,
                        ProgressFile* progress, JobEvent* event) {
  if (logDir == nullptr || outputDir == nullptr || list == nullptr) return kErrInvalidArgument;
  StatType* table = StatTypeTable();
  RunContext run{logDir, outputDir, &settings, diff, progress, event, 0, 0};
  for (TreeNode* node = TreeFirstChild(list); node != nullptr; node = TreeNextSibling(node)) {
    for (int i = 0; i < kRealStatTypeCount; ++i) {
      if ((TreeNodeId(node) & table[i].mask) != 0) ++run.total;
    }
  }
  if (run.total == 0) {
    PrintMessage(kConsoleErr, kMsgNothingToDo);
    return kOk;
  }
  ReportStatProgress(progress, 0, 0, 0, run.total, nullptr, nullptr);
  ResultCode result = kOk;
  for (TreeNode* node = TreeFirstChild(list); node != nullptr; node = TreeNextSibling(node)) {
    const uint32_t id = TreeNodeId(node);
    const TimeValue day = DateListDay(node);
    for (int i = 0; i < kRealStatTypeCount; ++i) {
      StatType* type = &table[i];
      if (StopRequested(event)) {
        result = kUserAbort;
        break;
      }
      if ((id & type->mask) == 0) continue;
      const bool skip = !force && day < type->lastDay;
      ResultCode itemResult = kOk;
      const ItemEnd end = skip ? ItemEnd::kNoLog : RunItem(&run, type, day, &itemResult);
      ++run.done;
      if (end == ItemEnd::kRan) result = itemResult;
      if (end == ItemEnd::kSetupFailed) {
        result = itemResult;
        break;
      }
    }
  }
  ReportStatProgress(progress, 100, 100, -1, -1, nullptr, nullptr);
  return result;
}
