// Merge of web statistics results: each line of every input is read back by
// its key into one set of summary accumulators, which the result writers
// write again.
#include "webstat/merge_results.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "common/metadata_output.h"
#include "common/record_table.h"
#include "common/text_match.h"
#include "common/time.h"
#include "frame/console.h"
#include "platform/fs.h"
#include "platform/stream.h"
#include "webstat/summary.h"

namespace {

constexpr size_t kMergeLineBuffer = 32768;
constexpr size_t kHeaderBufferSize = 32768;
constexpr char kSeriesDate[] = "*yyyy/mm/dd*\0";
constexpr char kHeaderDateTime[] = "*yyyy/mm/dd HH:MM:SS*\0";

struct MergeState {
  WebSummary summary;
  TimeValue start;  // 0 = unknown
  TimeValue end;
  uint64_t unit;    // size divisor of the file being read (0 = bytes)
};

bool EqualsIgnoringCase(const char* a, const char* b) { return CompareKeyNoCase(a, b) == 0; }

// The next field trimmed; "" when the line has no more fields.
char* Field(char** cursor) {
  char* token = NextTokenTrimmed(cursor, 0, ';');
  return token != nullptr ? token : const_cast<char*>("");
}

uint64_t Count(char** cursor) { return ParseScaled(Field(cursor), 1, nullptr); }
uint64_t Volume(char** cursor, uint64_t unit) { return ParseScaled(Field(cursor), unit, nullptr); }

// A "yyyy/mm/dd HH:MM:SS" header value as a time; 0 when it does not match.
TimeValue HeaderTime(const char* value) {
  TimeValue time = kNoTime;
  if (!MatchDatePattern(1, value, std::strlen(value), kHeaderDateTime, &time)) return 0;
  return time == kNoTime ? 0 : time;
}

// Earliest non-zero start; latest end, so the merged interval covers every input.
void ReadParams(MergeState* state, char* cursor) {
  for (char* item; (item = NextToken(&cursor, 0, ';')) != nullptr;) {
    char* equals = std::strchr(item, '=');
    if (equals == nullptr) continue;
    *equals = '\0';
    char* value = TrimBlanks(equals + 1);
    const char* name = TrimBlanks(item);
    const bool isStart = std::strcmp(name, "start") == 0;
    if (!isStart && std::strcmp(name, "end") != 0) continue;
    const TimeValue time = HeaderTime(value);
    if (time == 0) continue;
    if (isStart) {
      if (state->start == 0 || time < state->start) state->start = time;
    } else if (time > state->end) {
      state->end = time;
    }
  }
  state->unit = 0;
}

void ReadFormat(MergeState* state, char* cursor) {
  for (char* item; (item = NextToken(&cursor, 0, ';')) != nullptr;) {
    char* equals = std::strchr(item, '=');
    if (equals == nullptr) continue;
    *equals = '\0';
    if (!EqualsIgnoringCase(TrimBlanks(item), "units")) continue;
    const char* value = TrimBlanks(equals + 1);
    if (EqualsIgnoringCase(value, "B")) {
      state->unit = 0;
    } else if (EqualsIgnoringCase(value, "kB") || EqualsIgnoringCase(value, "KiB")) {
      state->unit = 1024;
    } else if (EqualsIgnoringCase(value, "MB") || EqualsIgnoringCase(value, "MiB")) {
      state->unit = 1048576;
    } else if (EqualsIgnoringCase(value, "GB") || EqualsIgnoringCase(value, "GiB")) {
      state->unit = 1073741824;
    }
  }
}

// "H;yyyy/mm/dd;HH:MM;volume;count;wfHits;blocked;eight reasons".
void ReadSeriesLine(MergeState* state, char* cursor) {
  const char* date = Field(&cursor);
  TimeValue day = kNoTime;
  if (!MatchDatePattern(1, date, std::strlen(date), kSeriesDate, &day) || day == kNoTime ||
      day == 0) {
    return;
  }
  uint64_t timeOfDay = 0;
  if (ParseTimeOfDay(Field(&cursor), &timeOfDay, nullptr, nullptr, nullptr) != kOk) return;
  QuantumBucket bucket{};
  bucket.time = day + timeOfDay;
  bucket.volume = Volume(&cursor, state->unit);
  bucket.count = Count(&cursor);
  bucket.wfHits = Count(&cursor);
  bucket.blocked = Count(&cursor);
  for (uint64_t& reason : bucket.reasons) reason = Count(&cursor);
  AddBucketToSeries(&state->summary.series, &bucket);
}

// The user, IP or host list of a top-list key ("TU..", "TI..", "TH.."), and
// the metric suffix behind its two letters.
RecordTable* TopListOf(WebSummary* summary, const char* key, const char** suffix) {
  if (key[0] != 'T') return nullptr;
  *suffix = key + 2;
  switch (key[1]) {
    case 'U': return &summary->users;
    case 'I': return &summary->ips;
    case 'H': return &summary->hosts;
    default: return nullptr;
  }
}

bool ReadTopLine(MergeState* state, const char* key, char* cursor) {
  const char* suffix = nullptr;
  RecordTable* list = TopListOf(&state->summary, key, &suffix);
  if (list == nullptr) return false;
  uint64_t hits = 0, volume = 0, blocked = 0, wfHits = 0, wfAllHits = 0;
  uint32_t reason = 0;
  bool fromResult = false;
  if (std::strcmp(suffix, "H") == 0) {
    hits = 1;
  } else if (std::strcmp(suffix, "V") == 0) {
    volume = 1;
  } else if (std::strcmp(suffix, "B") == 0) {
    blocked = 1;
  } else if (std::strcmp(suffix, "WF") == 0) {
    wfHits = 1;
  } else if (std::strcmp(suffix, "WFA") == 0) {
    wfAllHits = 1;
  } else if (std::strcmp(suffix, "VIR") == 0) {
    blocked = 1;
    reason = 0x01;
    fromResult = true;
  } else {
    return false;
  }
  const char* name = Field(&cursor);
  const uint64_t value = volume != 0 ? Volume(&cursor, state->unit) : Count(&cursor);
  TopListAdd(list, name, hits * value, volume * value, blocked * value, wfHits * value,
             wfAllHits * value, reason, fromResult);
  return true;
}

RecordTable* CounterTableOf(WebSummary* summary, const char* key) {
  if (std::strcmp(key, "HTTP") == 0) return &summary->codes;
  if (std::strcmp(key, "WFC") == 0) return &summary->categories;
  if (std::strcmp(key, "WFCA") == 0) return &summary->allCategories;
  if (std::strcmp(key, "VIR") == 0) return &summary->viruses;
  return nullptr;
}

void ReadLine(MergeState* state, char* line) {
  while (*line >= 1 && *line <= 32) ++line;
  if (*line == '\0') return;
  // The line end is no part of the last field.
  size_t length = std::strlen(line);
  while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = '\0';
  char* cursor = line;
  const char* key = Field(&cursor);
  if (std::strcmp(key, "params") == 0) return ReadParams(state, cursor);
  if (std::strcmp(key, "format") == 0) return ReadFormat(state, cursor);
  if (std::strcmp(key, "H") == 0) return ReadSeriesLine(state, cursor);
  if (std::strcmp(key, "S") == 0) {
    state->summary.totalVolume += Volume(&cursor, state->unit);
    return;
  }
  if (RecordTable* table = CounterTableOf(&state->summary, key)) {
    // Virus names keep their blanks.
    char* name = std::strcmp(key, "VIR") == 0 ? NextToken(&cursor, 0, ';') : Field(&cursor);
    if (name == nullptr) name = const_cast<char*>("");
    CounterTableAdd(table, name, Count(&cursor), 0, 0);
    return;
  }
  ReadTopLine(state, key, cursor);
}

// One input to its end; kErrOpenFailed when it cannot be read.
ResultCode ReadInput(MergeState* state, FILE* input, char* buffer) {
  state->unit = 0;
  while (std::fgets(buffer, static_cast<int>(kMergeLineBuffer), input) != nullptr) {
    ReadLine(state, buffer);
  }
  return std::ferror(input) != 0 ? kErrOpenFailed : kOk;
}

ResultCode MergeInputs(MergeState* state, const std::vector<std::wstring>& names, char* buffer) {
  if (names.empty() || names.front().empty()) {
    if (GetVerbosity() >= 10) PrintErr(L"merge %ls\n", L"stdin");
    return ReadInput(state, stdin, buffer);
  }
  for (const std::wstring& name : names) {
    if (name.empty()) break;
    if (GetVerbosity() >= 10) PrintErr(L"merge %ls\n", name.c_str());
    PathAttributes attributes{};
    if (GetPathAttributes(name.c_str(), &attributes) != kOk || attributes.isDirectory) {
      return kErrOpenFailed;
    }
    FILE* input = OpenStream(name.c_str(), "rt");
    if (input == nullptr) return kErrOpenFailed;
    const ResultCode result = ReadInput(state, input, buffer);
    std::fclose(input);
    if (result != kOk) return result;
  }
  return kOk;
}

ResultCode WriteMerged(MergeState* state, const OutputSettings& settings, const wchar_t* outputName) {
  FILE* output = stdout;
  if (outputName != nullptr) {
    output = OpenStream(outputName, "wt");
    if (output == nullptr) return kErrCannotCreate;
  }
  std::string header(kHeaderBufferSize, '\0');
  if (FormatResultHeader(state->start, state->end, settings.unitDivisor, header.data(),
                         header.size()) != kOk) {
    header[0] = '\0';
  }
  WriteSummary(output, header.c_str(), &state->summary, &settings);
  if (outputName != nullptr) {
    std::fclose(output);
  } else {
    std::fflush(stdout);
  }
  return kOk;
}

}  // namespace

ResultCode MergeResults(const std::vector<std::wstring>& names, const OutputSettings* given,
                        const wchar_t* outputName) {
  if (given == nullptr) return kErrInvalidArgument;
  OutputSettings settings = *given;
  if (settings.quantumUnit == 0 || settings.quantumCount == 0) {
    settings.quantumUnit = kUnitMinute;
    settings.quantumCount = 15;
  }
  MergeState state{};
  InitTimeSeries(&state.summary.series, 0, 0, settings.quantumUnit, settings.quantumCount);
  std::string buffer(kMergeLineBuffer, '\0');
  ResultCode result = MergeInputs(&state, names, buffer.data());
  if (result == kOk) result = WriteMerged(&state, settings, outputName);
  WebSummaryFree(&state.summary);
  if (result != kOk && outputName != nullptr) RemoveFile(outputName);
  return result;
}
