#include "stat/stat_state.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "frame/console.h"
#include "frame/jobs.h"
#include "common/dir_enum.h"
#include "common/key_value_file.h"
#include "common/paths.h"
#include "common/temp_file.h"
#include "common/time.h"
#include "platform/console.h"
#include "platform/fs.h"
#include "platform/lock_file.h"
#include "platform/process.h"
#include "platform/stream.h"
#include "stat/stat_types.h"

namespace {

const wchar_t kStateName[] = L"_varno.stat";
const wchar_t kBackupName[] = L"_varno.last";
// Serialises the load-change-save of concurrent runs of disjoint types.
const wchar_t kStateLockName[] = L"_varno.stat";
constexpr uint32_t kStateLockWaitSeconds = 5;

// The next ','-separated part of a state value.
std::string NextPart(const char** cursor) {
  const char* start = *cursor;
  const char* end = strchr(start, ',');
  if (end == nullptr) {
    *cursor = start + strlen(start);
    return std::string(start);
  }
  *cursor = end + 1;
  return std::string(start, static_cast<size_t>(end - start));
}

uint32_t DecimalOrZero(const std::string& text) {
  return static_cast<uint32_t>(strtoul(text.c_str(), nullptr, 10));
}

void ReadTypeState(StatType* type, const char* value) {
  const char* cursor = value;
  const std::string date = NextPart(&cursor);
  TimeValue day = kNoTime;
  if (MatchDatePattern(1, date.c_str(), date.size(), nullptr, &day) != 1 || day == 0) return;
  type->lastDay = day;
  type->lastSize = DecimalOrZero(NextPart(&cursor));
  type->lastLines = DecimalOrZero(NextPart(&cursor));
  const std::string time = NextPart(&cursor);
  uint64_t ticks = 0;
  type->lastTime = ParseTimeOfDay(time.c_str(), &ticks, nullptr, nullptr, nullptr) == kOk ? ticks : 0;
}

bool FormatTypeState(const StatType& type, char* buffer, size_t size) {
  CalendarTime at{};
  if (SplitTime(type.lastDay + type.lastTime, &at) != kOk) return false;
  snprintf(buffer, size, "%04u-%02u-%02u,%u,%u,%02u:%02u:%02u", at.year, at.month, at.day,
           type.lastSize, type.lastLines, at.hour, at.minute, at.second);
  return true;
}

ResultCode ReadWholeFile(const std::wstring& path, std::vector<char>* bytes) {
  FILE* in = OpenStream(path.c_str(), "rb");
  if (in == nullptr) return kErrOpenFailed;
  char chunk[16384];
  size_t got = 0;
  while ((got = fread(chunk, 1, sizeof chunk, in)) > 0) bytes->insert(bytes->end(), chunk, chunk + got);
  const bool failed = ferror(in) != 0;
  fclose(in);
  return failed ? kErrReadFault : kOk;
}

}  // namespace

ResultCode LoadStatState(const wchar_t* outputDir, uint32_t mask) {
  if (outputDir == nullptr) return kErrInvalidArgument;
  StatType* table = StatTypeTable();
  for (int i = 0; i < kRealStatTypeCount; ++i) {
    if ((table[i].mask & mask) == 0) continue;
    table[i].lastDay = 0;
    table[i].lastLines = 0;
    table[i].lastTime = 0;
    table[i].lastSize = 0;
  }
  KeyValueFile* file = KeyValueFileCreate("=", '#', 2);
  if (file == nullptr) return kErrNoMemory;
  const std::wstring path = JoinPath(outputDir, kStateName, false);
  const ResultCode loaded = KeyValueFileLoad(file, path.c_str());
  for (int i = 0; i < kRealStatTypeCount; ++i) {
    StatType* type = &table[i];
    if ((type->mask & mask) == 0 || type->stateKey == nullptr) continue;
    if (loaded == kOk) {
      const char* value = KeyValueFileGet(file, type->stateKey);
      if (value != nullptr) ReadTypeState(type, value);
    }
    if (GetVerbosity() >= 2) {
      DebugPrint(0, L"%s: %I64u,%lu,%I64u", type->name, type->lastDay,
                 static_cast<unsigned long>(type->lastSize), type->lastTime);
    }
  }
  KeyValueFileFree(file);
  return kOk;
}

ResultCode SaveStatState(const wchar_t* outputDir, uint32_t mask) {
  if (outputDir == nullptr) return kErrInvalidArgument;
  // Load, set and save even when no type processed a day: the file then
  // exists (empty when it was missing) and is written in the saved form.
  LockFile* lock = OpenLockFile(outputDir, kStateLockName, kStateLockWaitSeconds);
  const std::wstring path = JoinPath(outputDir, kStateName, false);
  RemoveDeadTemporaries(path.c_str());
  RemoveDeadTemporaries(JoinPath(outputDir, kBackupName, false).c_str());
  KeyValueFile* file = KeyValueFileCreate("=", '#', 2);
  if (file == nullptr) {
    if (lock != nullptr) LockFileClose(lock);
    return kErrNoMemory;
  }
  ResultCode result = KeyValueFileLoad(file, path.c_str());
  if (result == kErrOpenFailed) result = kOk;  // no state yet
  StatType* table = StatTypeTable();
  for (int i = 0; i < kRealStatTypeCount && result == kOk; ++i) {
    const StatType& type = table[i];
    if ((type.mask & mask) == 0 || type.daysDone == 0 || type.stateKey == nullptr) continue;
    char value[96];
    if (FormatTypeState(type, value, sizeof value)) result = KeyValueFileSet(file, type.stateKey, value);
  }
  if (result == kOk) {
    const std::wstring temporary = TemporaryPathOf(path.c_str());
    result = FinishTemporary(temporary, path.c_str(), KeyValueFileSave(file, temporary.c_str()));
  }
  KeyValueFileFree(file);
  if (lock != nullptr) LockFileClose(lock);
  return result;
}

ResultCode BackupStatState(const wchar_t* outputDir) {
  if (outputDir == nullptr) return kErrInvalidArgument;
  const std::wstring state = JoinPath(outputDir, kStateName, false);
  const std::wstring backup = JoinPath(outputDir, kBackupName, false);
  if (!FileExists(state.c_str()) || FileExists(backup.c_str())) return kOk;
  std::vector<char> bytes;
  const ResultCode result = ReadWholeFile(state, &bytes);
  if (result != kOk) return result;
  return ReplaceFileWhole(backup.c_str(), bytes.data(), bytes.size());
}
