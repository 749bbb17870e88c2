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

namespace {

// The primary log's loop: one slot per handler, except that handlers of one
// joint kind starting from one resume point share the slot of their joint.
struct PrimaryPass {
  JobHandler* handlers[kRealStatTypeCount];
  size_t slotOf[kRealStatTypeCount];  // per handler
  size_t handlerCount = 0;
  LoopSlot slots[kRealStatTypeCount];
  const JointKind* joints[kRealStatTypeCount];  // per slot, null for a handler's own
  const HandlerKind* kinds[kRealStatTypeCount];  // per slot, its first handler's
  size_t slotCount = 0;
  uint32_t fields = 0;
};

bool SameResumePoint(const JobHandler& a, const JobHandler& b) {
  return a.lines == b.lines && a.lastTime == b.lastTime;
}

// Handler `first`'s slot (the handlers before it have theirs): a joint with
// the later handlers that can join it when there are any and memory allows,
// its own otherwise.
void AddSlot(PrimaryPass* pass, size_t first, bool* slotted) {
  const JobHandler& handler = *pass->handlers[first];
  const HandlerKind* kind = handler.type->kind;
  const size_t slot = pass->slotCount++;
  pass->slots[slot] = LoopSlot{handler.counts, kind->visit, handler.lines, handler.lastTime};
  pass->joints[slot] = nullptr;
  pass->kinds[slot] = kind;
  pass->slotOf[first] = slot;
  if (kind->joint == nullptr) return;
  size_t members[kRealStatTypeCount];
  void* counts[kRealStatTypeCount];
  const HandlerKind* kinds[kRealStatTypeCount];
  size_t count = 0;
  for (size_t i = first; i < pass->handlerCount; ++i) {
    const JobHandler& other = *pass->handlers[i];
    if (slotted[i] || other.type->kind->joint != kind->joint || !SameResumePoint(handler, other)) continue;
    members[count] = i;
    counts[count] = other.counts;
    kinds[count++] = other.type->kind;
  }
  if (count < 2) return;
  void* joint = kind->joint->create(counts, kinds, count);
  if (joint == nullptr) return;
  pass->slots[slot].visitor = joint;
  pass->slots[slot].visit = kind->joint->visit;
  pass->joints[slot] = kind->joint;
  for (size_t k = 0; k < count; ++k) {
    pass->slotOf[members[k]] = slot;
    slotted[members[k]] = true;
  }
}

void BuildSlots(PrimaryPass* pass) {
  bool slotted[kRealStatTypeCount] = {};
  for (size_t i = 0; i < pass->handlerCount; ++i) {
    const uint32_t fields = pass->handlers[i]->type->kind->fields;
    if (fields > pass->fields) pass->fields = fields;
    if (!slotted[i]) AddSlot(pass, i, slotted);
  }
}

ResultCode RunPrimaryLoop(PrimaryPass* pass, FILE* log, bool mayGrow, LoopReport report, JobEvent* event) {
  if (pass->slotCount != 1) {
    return RunSharedLineLoop(log, mayGrow, pass->fields, pass->slots, pass->slotCount, report, event);
  }
  const auto runAlone = pass->joints[0] != nullptr ? pass->joints[0]->runAlone : pass->kinds[0]->runAlone;
  return runAlone(log, mayGrow, pass->slots, report, event);
}

// Each handler's result and resume point; joints hand their counts on.
void FinishPrimaryPass(PrimaryPass* pass, ResultCode loopResult) {
  ResultCode slotResults[kRealStatTypeCount];
  for (size_t s = 0; s < pass->slotCount; ++s) {
    slotResults[s] = loopResult;
    if (pass->joints[s] == nullptr) continue;
    const ResultCode finished = pass->joints[s]->finish(pass->slots[s].visitor, loopResult == kOk);
    if (loopResult == kOk) slotResults[s] = finished;
  }
  for (size_t i = 0; i < pass->handlerCount; ++i) {
    const size_t slot = pass->slotOf[i];
    pass->handlers[i]->result = slotResults[slot];
    pass->handlers[i]->lines = pass->slots[slot].lines;
    pass->handlers[i]->lastTime = pass->slots[slot].lastTime;
  }
}

}  // namespace

void RunJobPasses(DayJob* job, LoopReport report, JobEvent* event) {
  const bool mayGrow = LogMayGrow(job->day);
  PrimaryPass pass;
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
    if (job->primary != nullptr) pass.handlers[pass.handlerCount++] = &handler;
  }
  if (pass.handlerCount != 0) {
    BuildSlots(&pass);
    FinishPrimaryPass(&pass, RunPrimaryLoop(&pass, job->primary, mayGrow, report, event));
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
