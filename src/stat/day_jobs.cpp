#include "stat/day_jobs.h"

#include "common/dir_enum.h"
#include "common/paths.h"
#include "platform/fs.h"
#include "platform/stream.h"
#include "stat/stat_handlers.h"

namespace {

constexpr uint32_t kOpenFields = kFileInfoName | kFileInfoMode | kFileInfoSize;

bool IsMissingOrOpen(ResultCode code) { return code == kOk || code == kErrFileNotFound; }

// The size of the log taken: the line loop leaves the stream behind the last
// line it took (before a last line still being written).
uint32_t TakenSizeLow(FILE* stream) {
  if (stream == nullptr) return 0;
  const int64_t size = TellStream(stream);
  return size < 0 ? 0 : static_cast<uint32_t>(size);
}

void CloseStream(FILE** stream) {
  if (*stream != nullptr) fclose(*stream);
  *stream = nullptr;
}

// The handler's second (compact) log alone, from its resume point; then the
// resume point of the primary log: cleared when the second log went past the
// stored time, the stored one otherwise.
void RunCompactPass(JobHandler* handler, bool primaryOpen, bool mayGrow, LoopReport report,
                    JobEvent* event) {
  const HandlerKind* kind = handler->type->kind;
  LoopSlot slot{handler->counts, kind->visitCompact, handler->resumeLines, handler->resumeTime};
  handler->result = RunSharedLineLoop(handler->secondary, mayGrow, kind->fields, &slot, 1, report, event);
  if (handler->result != kOk) return;
  if (!primaryOpen) {
    handler->lines = slot.lines;
    handler->lastTime = slot.lastTime;
  } else if (slot.lastTime > handler->resumeTime) {
    handler->lines = 0;
    handler->lastTime = 0;
  }
}

}  // namespace

ResultCode OpenDayLog(const wchar_t* logDir, const wchar_t* mask, const DayDate& date,
                      std::wstring* name, FILE** stream) {
  *stream = nullptr;
  ResultCode result = NameFromMask(mask, date.year, date.month, date.day, name);
  if (result != kOk) return result;
  std::wstring path = JoinPath(logDir, name->c_str(), false);
  if (!FileExists(path.c_str())) {
    DirEnum* search = nullptr;
    FileInfo info;
    if (DirEnumOpen(path.c_str(), kOpenFields, &search, &info) != kOk) return kErrFileNotFound;
    const bool isFile = (info.mode & kFileModeRegular) != 0;
    path = JoinPath(logDir, info.name, false);
    DirEnumClose(search);
    if (!isFile) return kErrFileNotFound;
  }
  *stream = OpenStream(path.c_str(), "rb");
  return *stream != nullptr ? kOk : kErrOpenFailed;
}

void OpenJobLogs(const wchar_t* logDir, DayJob* job) {
  job->primaryOpen = OpenDayLog(logDir, job->logMask, job->date, &job->primaryName, &job->primary);
  job->primaryFound = job->primary != nullptr;
  for (JobHandler& handler : job->handlers) {
    ResultCode result = job->primaryOpen;
    if (IsMissingOrOpen(result) && handler.type->logMask2 != nullptr) {
      const ResultCode second =
          OpenDayLog(logDir, handler.type->logMask2, job->date, &handler.secondaryName, &handler.secondary);
      if (!IsMissingOrOpen(second)) result = second;
    }
    handler.openResult = IsMissingOrOpen(result) ? kOk : result;
    if (handler.openResult != kOk) CloseStream(&handler.secondary);
    handler.hasLog = handler.openResult == kOk && (job->primary != nullptr || handler.secondary != nullptr);
  }
}

void RunJobPasses(DayJob* job, LoopReport report, JobEvent* event) {
  const bool mayGrow = LogMayGrow(job->day);
  LoopSlot slots[kRealStatTypeCount];
  JobHandler* slotHandlers[kRealStatTypeCount];
  size_t slotCount = 0;
  uint32_t fields = 0;
  for (JobHandler& handler : job->handlers) {
    if (!handler.hasLog) continue;
    const HandlerKind* kind = handler.type->kind;
    handler.lines = handler.resumeLines;
    handler.lastTime = handler.resumeTime;
    handler.counts = kind->create();
    if (handler.counts == nullptr) {
      handler.result = kErrNoMemory;
      continue;
    }
    if (handler.secondary != nullptr && kind->visitCompact != nullptr) {
      RunCompactPass(&handler, job->primary != nullptr, mayGrow, report, event);
      if (handler.result != kOk) continue;
    }
    if (job->primary == nullptr) continue;
    slots[slotCount] = LoopSlot{handler.counts, kind->visit, handler.lines, handler.lastTime};
    slotHandlers[slotCount++] = &handler;
    if (kind->fields > fields) fields = kind->fields;
  }
  if (slotCount != 0) {
    const ResultCode result =
        slotCount == 1 ? slotHandlers[0]->type->kind->runAlone(job->primary, mayGrow, slots, report, event)
                       : RunSharedLineLoop(job->primary, mayGrow, fields, slots, slotCount, report, event);
    for (size_t i = 0; i < slotCount; ++i) {
      slotHandlers[i]->result = result;
      slotHandlers[i]->lines = slots[i].lines;
      slotHandlers[i]->lastTime = slots[i].lastTime;
    }
  }
  for (JobHandler& handler : job->handlers) {
    handler.size = TakenSizeLow(job->primary != nullptr ? job->primary : handler.secondary);
    CloseStream(&handler.secondary);
  }
  CloseStream(&job->primary);
}

void FreeHandlerCounts(JobHandler* handler) {
  if (handler->counts != nullptr) handler->type->kind->destroy(handler->counts);
  handler->counts = nullptr;
}
