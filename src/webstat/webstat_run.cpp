// The --webstat run, the search hits and the search output.
#include "webstat/webstat_run.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <string>
#include <utility>

#include "common/dir_enum.h"
#include "common/line_reader.h"
#include "common/paths.h"
#include "common/time.h"
#include "frame/console.h"
#include "frame/progress.h"
#include "platform/fs.h"
#include "platform/stream.h"
#include "webstat/http_transactions.h"
#include "webstat/webstat_conditions.h"

namespace {

constexpr size_t kLineBufferSize = 32768;
constexpr size_t kHeaderBufferSize = 32768;
constexpr uint32_t kOutputProgressStep = 10000;
constexpr uint32_t kDoubtEarlierDays = 1;
constexpr char kLogDatePattern[] = "kelb*yyyymmdd*.log\0";

template <typename T>
int CompareValues(T a, T b) {
  return a < b ? -1 : (a > b ? 1 : 0);
}

// Hits equal in every sort key keep one fixed order: by line, file and volume.
int CompareLastly(const SearchHit* x, const SearchHit* y) {
  int order = CompareValues(x->block.lineOffset, y->block.lineOffset);
  if (order == 0) order = CompareValues(x->block.fileIndex, y->block.fileIndex);
  if (order == 0) order = CompareValues(x->block.openVolume, y->block.openVolume);
  return order;
}

struct SortContext {
  uint32_t column;
  bool descending;
};

int CompareHits(void* context, const void* a, const void* b) {
  const auto* sort = static_cast<const SortContext*>(context);
  const auto* x = static_cast<const SearchHit*>(a);
  const auto* y = static_cast<const SearchHit*>(b);
  int order = 0;
  switch (sort->column) {
    case 3: {
      uint32_t ka = 0;
      uint32_t kb = 0;
      std::memcpy(&ka, x->key, sizeof ka);
      std::memcpy(&kb, y->key, sizeof kb);
      order = CompareValues(ka, kb);
      break;
    }
    case 4: order = std::memcmp(x->key, y->key, kTransactionIdSize); break;
    case 5:
    case 6:
      order = std::strcmp(reinterpret_cast<const char*>(x->key),
                          reinterpret_cast<const char*>(y->key));
      order = order < 0 ? -1 : (order > 0 ? 1 : 0);
      break;
    case 7: {
      uint64_t va = 0;
      uint64_t vb = 0;
      std::memcpy(&va, x->key, sizeof va);
      std::memcpy(&vb, y->key, sizeof vb);
      order = CompareValues(va, vb);
      break;
    }
    default:
      order = CompareValues(x->block.time, y->block.time);
      if (order == 0) {
        order = CompareValues(static_cast<int32_t>(x->block.lineOffset),
                              static_cast<int32_t>(y->block.lineOffset));
      }
      if (sort->descending) order = -order;
      return order != 0 ? order : CompareLastly(x, y);
  }
  if (sort->descending) order = -order;
  // Ties keep ascending time in either direction.
  if (order == 0) order = CompareValues(x->block.time, y->block.time);
  return order != 0 ? order : CompareLastly(x, y);
}

void UpperCopy(unsigned char* target, const char* text) {
  size_t i = 0;
  if (text != nullptr) {
    for (; i < kSortKeyTextMax && text[i] != '\0'; ++i) {
      char c = text[i];
      target[i] = static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    }
  }
  target[i] = '\0';
}

bool WriteBytes(FILE* output, const char* text, size_t length) {
  return length == 0 || std::fwrite(text, 1, length, output) == length;
}

// The days of the interval with a log, ascending.
ResultCode CollectDays(const wchar_t* logDir, TimeValue firstDay, TimeValue lastDay,
                       std::vector<TimeValue>* days) {
  std::wstring mask = JoinPath(logDir, L"kelb*.log", false);
  DirEnum* handle = nullptr;
  FileInfo info;
  const uint32_t wanted = kFileInfoName | kFileInfoMode | kFileInfoSize;
  ResultCode result = DirEnumOpen(mask.c_str(), wanted, &handle, &info);
  while (result == kOk) {
    TimeValue day = kNoTime;
    if ((info.mode & kFileModeDirectory) == 0 &&
        MatchDatePatternWide(1, info.name, -1, kLogDatePattern, &day) && day != 0 &&
        day != kNoTime && (firstDay == 0 || day >= firstDay) && (lastDay == 0 || day <= lastDay)) {
      days->push_back(day);
    }
    result = DirEnumNext(handle, wanted, &info);
  }
  if (handle != nullptr) DirEnumClose(handle);
  if (result != kErrFileNotFound && result != kErrPathNotFound && result != kErrNoMoreEntries) {
    return result;
  }
  // Insertion sort: equal days keep their order.
  for (size_t i = 1; i < days->size(); ++i) {
    TimeValue day = (*days)[i];
    size_t j = i;
    while (j > 0 && (*days)[j - 1] > day) {
      (*days)[j] = (*days)[j - 1];
      --j;
    }
    (*days)[j] = day;
  }
  return days->empty() ? kErrNotFound : kOk;
}

// Reports open transactions at the end, then settles the doubts by re-reading
// earlier days.
ResultCode SettleOpenTransactions(TransactionTable* table, const wchar_t* logDir,
                                  WebstatConditions* conditions, WebstatRun* run,
                                  ProgressFile* progress, JobEvent* job) {
  ReportOpenTransactions(table, conditions, run, 1);
  std::vector<ReparseSpan> spans;
  uint32_t doubtCount = RecordTableCount(&run->doubts);
  for (uint32_t i = 0; i < doubtCount; ++i) {
    const auto* entry = static_cast<const DoubtEntry*>(RecordTableAt(&run->doubts, i));
    MergeReparseSpans(&spans, entry->day, entry->timeOfDay, kDoubtEarlierDays);
  }
  if (spans.empty()) return kOk;
  if (GetVerbosity() >= 10) {
    PrintErr(L"%lu transaction(s) in doubt\n", static_cast<unsigned long>(doubtCount));
  }
  SortDoubts(run);
  for (size_t j = 0; j < spans.size(); ++j) {
    ReportDayProgress(progress, static_cast<int64_t>(40 + 10 * j / spans.size()), -1,
                      kProgressNoDay);
    ResultCode result = ReparseDayLog(progress, job, &spans[j], logDir, conditions, run);
    if (result == kErrOpenFailed) continue;
    if (result != kOk) return result;
    if (!AnyDoubtLeft(run)) break;
  }
  return kOk;
}

ResultCode ParseDays(const wchar_t* logDir, const std::vector<TimeValue>& days,
                     WebstatConditions* conditions, WebstatRun* run, ProgressFile* progress,
                     JobEvent* job) {
  TransactionTable* table = nullptr;
  ResultCode result = CreateTransactionTable(&table);
  if (result != kOk) return result;
  for (size_t i = 0; i < days.size() && result == kOk; ++i) {
    FILE* file = nullptr;
    result = OpenDayLog(logDir, days[i], &file);
    if (result != kOk) break;
    ReportDayProgress(progress, static_cast<int64_t>(40 * i / days.size()), 0, days[i]);
    uint32_t index = static_cast<uint32_t>(run->openFiles.size());
    result = ParseDayLog(table, run, file, index, days[i], conditions, progress, job);
    if (result != kOk) {
      std::fclose(file);
      break;
    }
    run->openFiles.push_back({file, days[i]});
  }
  if (result == kOk && run->countOnOpen != 0) {
    result = SettleOpenTransactions(table, logDir, conditions, run, progress, job);
  }
  TransactionTableDestroy(table);
  return result;
}

ResultCode WriteSearchOutput(FILE* output, WebstatConditions* conditions, WebstatRun* run,
                             ProgressFile* progress, uint32_t* itemCount) {
  if (GetVerbosity() >= 10) PrintErr(L"sorting\n");
  SortSearchHits(&run->searchHits, conditions->sortColumn, conditions->sortDescending != 0);
  if (GetVerbosity() >= 10) PrintErr(L"search result\n");
  ReportDayProgress(progress, 80, 100, 0);
  const uint32_t count = RecordTableCount(&run->searchHits);
  const uint32_t pageSize = conditions->pageSize;
  const unsigned long pages =
      pageSize != 0 ? static_cast<unsigned long>((count + pageSize - 1) / pageSize) : 1;
  std::string buffer(kLineBufferSize, '\0');
  uint32_t taken = 0;
  unsigned long page = 0;
  for (uint32_t k = 1; k <= count; ++k) {
    if ((k - 1) % kOutputProgressStep == 0) {
      ReportDayProgress(progress, 80 + 20 * static_cast<int64_t>(k - 1) / count, -1, 0);
    }
    ++taken;
    if (pageSize != 0 && (k == 1 || pageSize == 1 || k % pageSize == 1)) {
      ++page;
      if (std::fprintf(output, "\n#[%lu;%lu;%lu;%lu]\n\n", page, pages,
                       static_cast<unsigned long>(k), static_cast<unsigned long>(count)) < 0) {
        break;
      }
    }
    const auto* hit = static_cast<const SearchHit*>(RecordTableAt(&run->searchHits, k - 1));
    if (WriteSearchLine(run->openFiles, run->hitLines, output, hit, buffer.data(), buffer.size()) !=
        kOk) {
      break;
    }
  }
  *itemCount = taken;
  return kOk;
}

ResultCode WriteOutputs(const wchar_t* outputName, WebstatConditions* conditions,
                        const OutputSettings* settings, WebstatRun* run, ProgressFile* progress,
                        uint32_t* itemCount, bool* created) {
  FILE* output = stdout;
  if (outputName != nullptr) {
    output = OpenStream(outputName, "wt");
    if (output == nullptr) return kErrCannotCreate;
    *created = true;
  }
  if ((conditions->outform & kWebOutSummary) != 0) {
    std::string header(kHeaderBufferSize, '\0');
    if (FormatResultHeader(conditions->start, conditions->end, settings->unitDivisor,
                           header.data(), header.size()) != kOk) {
      header[0] = '\0';
    }
    WriteSummary(output, header.c_str(), &run->summary, settings);
    *itemCount = run->summary.transactionCount;
  }
  if ((conditions->outform & kWebOutSearch) != 0) {
    WriteSearchOutput(output, conditions, run, progress, itemCount);
  }
  if (outputName != nullptr) {
    std::fclose(output);
  } else {
    std::fflush(stdout);
  }
  return kOk;
}

void Normalise(WebstatConditions* conditions, OutputSettings* settings) {
  if (conditions->phaseMask == 0) conditions->phaseMask = kPhaseFinished | kPhaseIncomplete;
  uint32_t column = conditions->sortColumn;
  if (column != 0 && (column < 3 || column > 7)) conditions->sortColumn = 0;
  if (conditions->outform == 0) conditions->outform = kWebOutSearch | kWebOutSummary;
  if (settings->quantumUnit == 0 || settings->quantumCount == 0) {
    settings->quantumUnit = kUnitMinute;
    settings->quantumCount = 15;
  }
}

bool CountsOnOpen(const WebstatConditions* conditions) {
  return conditions->volumeSign == 0 && conditions->blockedMask == 0 &&
         conditions->code == nullptr && conditions->content == nullptr &&
         conditions->wfcatActive == 0 &&
         (conditions->phaseMask & ~(kPhaseFinished | kPhaseIncomplete)) == 0;
}

}  // namespace

void WebstatRunFree(WebstatRun* run) {
  if (run == nullptr) return;
  for (OpenLogFile& open : run->openFiles) {
    if (open.file != nullptr) std::fclose(open.file);
  }
  run->openFiles.clear();
  RecordTableFree(&run->searchHits);
  RecordTableFree(&run->doubts);
  WebSummaryFree(&run->summary);
  run->hitLines = HitLines{};
  run->countOnOpen = 0;
}

ResultCode AddSearchHit(RecordTable* hits, const SearchHitBlock* block, uint32_t sortColumn,
                        const uint8_t* id, const char* user, const char* ip, const char* host,
                        uint64_t volume) {
  if (hits == nullptr || block == nullptr) return kOk;
  alignas(8) unsigned char record[sizeof(SearchHitBlock) + kSortKeyTextMax + 1];
  std::memcpy(record, block, sizeof(SearchHitBlock));
  unsigned char* key = record + sizeof(SearchHitBlock);
  uint32_t keySize = 0;
  switch (sortColumn) {
    case 3: {
      uint32_t address = ProxyAddressOrder(ip);
      std::memcpy(key, &address, sizeof address);
      keySize = sizeof address;
      break;
    }
    case 4:
      if (id != nullptr) {
        std::memcpy(key, id, kTransactionIdSize);
      } else {
        std::memset(key, 0, kTransactionIdSize);
      }
      keySize = kTransactionIdSize;
      break;
    case 5:
    case 6:
      UpperCopy(key, sortColumn == 5 ? host : user);
      keySize = static_cast<uint32_t>(std::strlen(reinterpret_cast<const char*>(key)) + 1);
      break;
    case 7:
      std::memcpy(key, &volume, sizeof volume);
      keySize = sizeof volume;
      break;
    default: break;
  }
  RecordTableAppend(hits, record, static_cast<uint32_t>(sizeof(SearchHitBlock) + keySize));
  return kOk;
}

void SortSearchHits(RecordTable* hits, uint32_t sortColumn, bool descending) {
  SortContext context{sortColumn, descending};
  RecordTableSort(hits, CompareHits, &context, 1);
}

void KeepHitLine(HitLines* kept, uint32_t fileIndex, uint32_t lineOffset, const char* text,
                 size_t length) {
  if (!kept->lines.empty()) {
    const HitLine& last = kept->lines.back();
    if (fileIndex < last.fileIndex || (fileIndex == last.fileIndex && lineOffset <= last.lineOffset)) {
      return;
    }
  }
  // The line as read back: cut at its first CR.
  const void* carriageReturn = std::memchr(text, '\r', length);
  if (carriageReturn != nullptr) length = static_cast<size_t>(static_cast<const char*>(carriageReturn) - text);
  if (kept->text.size() + length > kHitLinesBytes) return;
  kept->lines.push_back({fileIndex, lineOffset, kept->text.size(), length});
  kept->text.append(text, length);
}

namespace {

// The kept line of the hit's position, or null.
const HitLine* FindHitLine(const HitLines& kept, uint32_t fileIndex, uint32_t lineOffset) {
  auto before = [](const HitLine& line, const std::pair<uint32_t, uint32_t>& at) {
    return line.fileIndex < at.first || (line.fileIndex == at.first && line.lineOffset < at.second);
  };
  const auto found = std::lower_bound(kept.lines.begin(), kept.lines.end(),
                                      std::make_pair(fileIndex, lineOffset), before);
  if (found == kept.lines.end() || found->fileIndex != fileIndex || found->lineOffset != lineOffset) {
    return nullptr;
  }
  return &*found;
}

}  // namespace

ResultCode WriteSearchLine(const std::vector<OpenLogFile>& openFiles, const HitLines& kept,
                           FILE* output, const SearchHit* hit, char* buffer, size_t size) {
  if (output == nullptr || hit == nullptr || buffer == nullptr || size == 0) {
    return kErrInvalidArgument;
  }
  buffer[0] = '\0';
  const SearchHitBlock& block = hit->block;
  const HitLine* line = FindHitLine(kept, block.fileIndex, block.lineOffset);
  if (line != nullptr && line->length < size) {
    std::memcpy(buffer, kept.text.data() + line->at, line->length);
    buffer[line->length] = '\0';
  } else if (block.fileIndex < openFiles.size() && openFiles[block.fileIndex].file != nullptr) {
    size_t length = 0;
    if (ReadLineAtDirect(openFiles[block.fileIndex].file, block.lineOffset, buffer, size, &length) != kOk) {
      buffer[0] = '\0';
    }
  }
  const size_t length = std::strlen(buffer);
  // Separator positions: the ends of fields 5, 6, 9 and 10.
  size_t ends[10];
  uint32_t found = 0;
  for (size_t i = 0; i < length && found < 10; ++i) {
    if (buffer[i] == ';') ends[found++] = i;
  }
  bool ok = true;
  if (block.openVolume != 0 && found >= 5) {
    const char* field7 = found >= 6 ? buffer + ends[5] + 1 : "";
    size_t field7Length = found >= 6 ? (found >= 9 ? ends[8] : length) - (ends[5] + 1) : 0;
    const char* field11 = found >= 10 ? buffer + ends[9] + 1 : "";
    size_t field11Length = found >= 10 ? length - (ends[9] + 1) : 0;
    ok = WriteBytes(output, buffer, ends[4]) &&
         std::fprintf(output, ";%" PRIu64 ";", block.openVolume / 1024) >= 0 &&
         WriteBytes(output, field7, field7Length) && std::fputs(";3;", output) >= 0 &&
         WriteBytes(output, field11, field11Length) && std::fputc('\n', output) != EOF;
  } else {
    ok = WriteBytes(output, buffer, length) && std::fputc('\n', output) != EOF;
  }
  return ok ? kOk : kErrWriteFault;
}

ResultCode RunWebStatistics(const wchar_t* logDir, WebstatConditions* conditions,
                            const OutputSettings* givenSettings, const wchar_t* outputName,
                            ProgressFile* progress, JobEvent* job) {
  if (logDir == nullptr || conditions == nullptr || givenSettings == nullptr) {
    return kErrInvalidArgument;
  }
  OutputSettings settings = *givenSettings;
  Normalise(conditions, &settings);
  WebstatRun run{};
  InitTimeSeries(&run.summary.series, conditions->start, conditions->end, settings.quantumUnit,
                 settings.quantumCount);
  run.countOnOpen = CountsOnOpen(conditions) ? 1 : 0;
  if (GetVerbosity() >= 1) PrintMessage(kConsoleErr, kMsgSearching);
  TimeValue firstDay = conditions->start != 0 ? SetTimeOfDay(conditions->start, 0, 0, 0, 0) : 0;
  TimeValue lastDay = conditions->end != 0 ? SetTimeOfDay(conditions->end, 0, 0, 0, 0) : 0;
  ReportDayProgress(progress, 0, 0, kProgressNoDay);
  std::vector<TimeValue> days;
  ResultCode result = CollectDays(logDir, firstDay, lastDay, &days);
  if (result == kOk) result = ParseDays(logDir, days, conditions, &run, progress, job);
  if (result == kOk && (conditions->outform & kWebOutSummary) == 0 &&
      RecordTableCount(&run.searchHits) == 0) {
    result = kErrNotFound;
  }
  uint32_t itemCount = 0;
  bool created = false;
  if (result == kOk) {
    ReportDayProgress(progress, 75, 100, kProgressNoDay);
    result = WriteOutputs(outputName, conditions, &settings, &run, progress, &itemCount, &created);
  }
  ReportDayProgress(progress, 100, 100, kProgressNoDay);
  if (GetVerbosity() >= 1 && (result == kOk || result == kErrNotFound)) {
    PrintMessage(kConsoleErr, kMsgItemsMatch, static_cast<unsigned long>(itemCount));
  }
  WebstatRunFree(&run);
  if (outputName != nullptr) {
    if (result == kErrNotFound) {
      FILE* empty = OpenStream(outputName, "wt");
      if (empty == nullptr) {
        result = kErrCannotCreate;
      } else {
        std::fclose(empty);
      }
    } else if (result != kOk && created) {
      RemoveFile(outputName);
    }
  }
  return result;
}
