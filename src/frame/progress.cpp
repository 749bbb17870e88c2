// The progress file: one line, rewritten in place at every report, deleted
// when the run ends. Reports never fail; a lost write is only a lost update.
#include "frame/progress.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "frame/console.h"
#include "frame/jobs.h"
#include "common/paths.h"
#include "common/time.h"
#include "platform/raw_file.h"
#include "platform/text.h"

namespace {

constexpr size_t kLineCapacity = 1024;
constexpr int64_t kMaxPercent = 100;

// After the last '\' or '/'.
const wchar_t* LastComponent(const wchar_t* name) {
  const wchar_t* leaf = name;
  for (const wchar_t* p = name; *p != L'\0'; ++p) {
    if (*p == L'\\' || *p == L'/') leaf = p + 1;
  }
  return leaf;
}

void UpdatePercent(uint32_t* stored, int64_t value) {
  if (value >= 0) *stored = static_cast<uint32_t>(value > kMaxPercent ? kMaxPercent : value);
}

void UpdateCounter(uint32_t* stored, int64_t value) {
  if (value >= 0) *stored = static_cast<uint32_t>(value > UINT32_MAX ? UINT32_MAX : value);
}

// Converts to 8-bit text of at most capacity-1 bytes, cut before the first
// character that would not fit whole.
void StoreText(char* buffer, size_t capacity, const wchar_t* text) {
  std::string bytes = WideToMultibyte(text);
  if (bytes.size() >= capacity) {
    bytes.clear();
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
      std::string one = WideToMultibyte(p, 1);
      if (bytes.size() + one.size() >= capacity) break;
      bytes += one;
    }
  }
  memcpy(buffer, bytes.data(), bytes.size());
  buffer[bytes.size()] = '\0';
}

bool IsOpen(const ProgressFile* progress) {
  return progress != nullptr && progress->file != nullptr;
}

// snprintf cuts and terminates; a failed write is ignored.
void WriteLine(ProgressFile* progress, const char* line, int length) {
  if (length < 0) return;
  size_t size = static_cast<size_t>(length) < kLineCapacity ? static_cast<size_t>(length)
                                                             : kLineCapacity - 1;
  RawFileRewrite(progress->file, line, size);
}

}  // namespace

ResultCode OpenProgressFile(const wchar_t* dir, const wchar_t* name, ProgressFile** out) {
  *out = nullptr;
  if (name == nullptr) return kErrInvalidArgument;
  ProgressFile* progress = new (std::nothrow) ProgressFile{};
  if (progress == nullptr) return kErrNoMemory;
  if (dir != nullptr) {
    progress->path = JoinPath(dir, LastComponent(name), false);
    if (!DirectoryExists(dir)) CreateDirectoryTree(dir);
  } else {
    progress->path = name;
  }
  ResultCode result = RawFileCreate(progress->path.c_str(), &progress->file);
  if (result != kOk) {
    delete progress;
    return result;
  }
  *out = progress;
  return kOk;
}

void CloseProgressFile(ProgressFile* progress) {
  if (progress == nullptr) return;
  if (progress->file != nullptr) {
    RawFileClose(progress->file);
    RawFileDelete(progress->path.c_str());
  }
  delete progress;
}

void ReportStatProgress(ProgressFile* progress, int64_t overall, int64_t item, int64_t counter3,
                        int64_t counter4, const wchar_t* text1, const wchar_t* text2) {
  if (!IsOpen(progress)) return;
  UpdatePercent(&progress->overallPercent, overall);
  UpdatePercent(&progress->itemPercent, item);
  UpdateCounter(&progress->counter3, counter3);
  UpdateCounter(&progress->counter4, counter4);
  if (text1 != nullptr) StoreText(progress->text1, sizeof progress->text1, text1);
  if (text2 != nullptr) StoreText(progress->text2, sizeof progress->text2, text2);
  char line[kLineCapacity];
  int length = snprintf(line, sizeof line, "%u;%u;%u;%u;%s;%s\r\n", progress->overallPercent,
                        progress->itemPercent, progress->counter3, progress->counter4,
                        progress->text1, progress->text2);
  WriteLine(progress, line, length);
}

void ReportTextProgress(ProgressFile* progress, int64_t overall, int64_t item,
                        const wchar_t* text) {
  if (!IsOpen(progress)) return;
  UpdatePercent(&progress->overallPercent, overall);
  UpdatePercent(&progress->itemPercent, item);
  if (text != nullptr) {
    char cut[sizeof progress->text2];
    StoreText(cut, sizeof cut, text);
    if (cut[0] != '\0' && strcmp(cut, progress->text2) != 0 && GetVerbosity() >= 1) {
      PrintMessage(kConsoleErr, kMsgProgressText, text);
    }
    memcpy(progress->text2, cut, sizeof cut);
  }
  char line[kLineCapacity];
  int length = snprintf(line, sizeof line, "%lu;%lu;%s\r\n",
                        static_cast<unsigned long>(progress->overallPercent),
                        static_cast<unsigned long>(progress->itemPercent), progress->text2);
  WriteLine(progress, line, length);
}

void ReportDayProgress(ProgressFile* progress, int64_t overall, int64_t item, TimeValue day) {
  if (!IsOpen(progress)) return;
  UpdatePercent(&progress->overallPercent, overall);
  UpdatePercent(&progress->itemPercent, item);
  if (day == kProgressNoDay) {
    progress->day = 0;
  } else if (day != 0) {
    progress->day = day;
  }
  unsigned long overallValue = progress->overallPercent;
  unsigned long itemValue = progress->itemPercent;
  uint32_t year = 0, month = 0, dayOfMonth = 0;
  bool haveDay = progress->day != 0 &&
                 SplitTime(progress->day, &year, &month, &dayOfMonth, nullptr, nullptr, nullptr,
                           nullptr) == kOk;
  char line[kLineCapacity];
  int length = haveDay ? snprintf(line, sizeof line, "%lu;%lu;kelb%04hu%02hu%02hu.log\r\n",
                                  overallValue, itemValue, static_cast<unsigned short>(year),
                                  static_cast<unsigned short>(month),
                                  static_cast<unsigned short>(dayOfMonth))
                       : snprintf(line, sizeof line, "%lu;%lu;\r\n", overallValue, itemValue);
  WriteLine(progress, line, length);
}

int ProgressCallback(void* context, int overall, int item, const wchar_t* text) {
  const ProgressContext* progressContext = static_cast<const ProgressContext*>(context);
  JobEvent* event = progressContext != nullptr ? progressContext->event : nullptr;
  if (IsInterrupted() || IsJobCancelled(event)) return kUserAbort;
  if (progressContext != nullptr && progressContext->progress != nullptr) {
    ReportTextProgress(progressContext->progress, overall, item, text);
  }
  return 0;
}
