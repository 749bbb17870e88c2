// The --search run (scanning and listing follow).
#include "doctor/search_command.h"

ResultCode RunSearch(const wchar_t* logDir, SearchConditions* conditions, const wchar_t*,
                     SearchProgressFn, void*, uint32_t* matchCount) {
  if (matchCount != nullptr) *matchCount = 0;
  if (logDir == nullptr || conditions == nullptr) return kErrInvalidArgument;
  return kErrNotSupported;
}

ResultCode RunSearchCommand(const wchar_t* logDir, SearchConditions* conditions,
                            const wchar_t* outputFile, ProgressFile*, JobEvent*) {
  uint32_t count = 0;
  return RunSearch(logDir, conditions, outputFile, nullptr, nullptr, &count);
}
