// Fuzz target: two days of proxy log holding the fuzz input go through a whole
// web statistics run (ParseDayLog, the re-parse of doubts, the summary and the
// search output); the run ends with 0 or -28 and leaves a result file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/output_settings.h"
#include "fuzz_files.h"
#include "platform/text.h"
#include "webstat/webstat_conditions.h"
#include "webstat/webstat_run.h"

namespace {

// The first byte picks the outputs, the sort column and a condition.
void Configure(uint8_t choice, WebstatConditions* conditions, OutputSettings* settings) {
  static const wchar_t* const kConditions[] = {
      L"",           L"user=a*",        L"blocked=virus", L"phase=incomplete", L"volume=-5KiB",
      L"wfcat=whitelist,advert", L"ip=10.0.0.0/8", L"start=2024/03/12 00:30:00"};
  if (ParseWebstatConditions(kConditions[choice & 7], conditions) != kOk) std::abort();
  conditions->outform = (choice >> 3) & 3;
  static const uint32_t kColumns[] = {0, 3, 4, 5, 6, 7, 1, 9};
  conditions->sortColumn = kColumns[(choice >> 5) & 7];
  conditions->sortDescending = choice & 1;
  conditions->pageSize = choice % 3;
  settings->unitDivisor = (choice & 2) != 0 ? 1024 : 0;
  settings->quantumUnit = (choice & 4) != 0 ? 3 : 0;
  settings->quantumCount = 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t choice = data[0];
  ++data;
  --size;
  // The input is split between two days at a point the second byte picks.
  size_t split = size > 0 ? (data[0] * size) / 256 : 0;
  static const std::string folder = fuzz::MakeFolder("proxy");
  const char* bytes = reinterpret_cast<const char*>(data);
  fuzz::WriteBytes(folder + "/kelb20240311.log", bytes, split);
  fuzz::WriteBytes(folder + "/kelb20240312.log", bytes + split, size - split);
  WebstatConditions conditions;
  OutputSettings settings;
  Configure(choice, &conditions, &settings);
  const std::wstring dir = MultibyteToWide(folder.c_str());
  const std::wstring output = dir + L"/result.txt";
  ResultCode result =
      RunWebStatistics(dir.c_str(), &conditions, &settings, output.c_str(), nullptr, nullptr);
  if (result != kOk && result != kErrNotFound) std::abort();
  FILE* written = std::fopen((folder + "/result.txt").c_str(), "rb");
  if (written == nullptr) std::abort();
  std::fclose(written);
  ReleaseWebstatConditions(&conditions);
  return 0;
}
