// Fuzz target: any bytes as one result file merge without a crash; the merged
// result, merged again with the same settings, gives the same lines (as long
// as no line of the input is long enough to be read in pieces). Lines are
// compared as a sorted set: the writers leave the order of equal counts open.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/time.h"
#include "fuzz_files.h"
#include "webstat/merge_results.h"

namespace {

std::vector<std::string> SortedLines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    lines.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string base = fuzz::TempBase("merge");
  static const std::string input = base + ".in";
  static const std::string first = base + ".1";
  static const std::string second = base + ".2";
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  fuzz::WriteBytes(input, bytes.data(), bytes.size());

  // The first byte picks the merging run's units and quantum. The series gets
  // a line per quantum between its first and last bucket, and series dates
  // span centuries: quanta of a year or more keep every run short.
  OutputSettings settings;
  const uint8_t pick = size > 0 ? data[0] : 0;
  const uint32_t units[] = {0, 1024, 1048576, 1073741824};
  settings.unitDivisor = units[pick & 3];
  settings.quantumUnit = kUnitHour;
  settings.quantumCount = 24 * 366 * (1 + (pick >> 2));
  settings.topCount = 0;

  if (MergeResults({fuzz::Wide(input)}, &settings, fuzz::Wide(first).c_str()) != kOk) std::abort();
  if (settings.unitDivisor == 0 && fuzz::LongestLine(bytes) <= 16000) {
    const ResultCode again = MergeResults({fuzz::Wide(first)}, &settings, fuzz::Wide(second).c_str());
    if (again != kOk) std::abort();
    if (SortedLines(fuzz::ReadBytes(first)) != SortedLines(fuzz::ReadBytes(second))) std::abort();
  }
  std::remove(input.c_str());
  std::remove(first.c_str());
  std::remove(second.c_str());
  return 0;
}
