// Fuzz target: the input is a "_varno.stat" file. Loading it for every type,
// marking each type done and saving writes a file that loads back to the
// same state and saves again to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "stat/stat_state.h"
#include "stat/stat_types.h"
#include "fuzz_files.h"

namespace {

struct Saved {
  TimeValue day;
  uint32_t size, lines;
  uint64_t time;
  bool operator==(const Saved&) const = default;
};

std::vector<Saved> Snapshot() {
  std::vector<Saved> rows;
  const StatType* table = StatTypeTable();
  for (int i = 0; i < kRealStatTypeCount; ++i) {
    rows.push_back(Saved{table[i].lastDay, table[i].lastSize, table[i].lastLines, table[i].lastTime});
  }
  return rows;
}

void MarkAllDone() {
  StatType* table = StatTypeTable();
  for (int i = 0; i < kRealStatTypeCount; ++i) table[i].daysDone = 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = fuzz::Folder("stat_state");
  const std::wstring dir = fuzz::Wide(folder);
  fuzz::WriteBytes(folder + "/_varno.stat", reinterpret_cast<const char*>(data), size);
  ResetStatState();
  if (LoadStatState(dir.c_str(), kStatAll) != kOk) std::abort();
  const std::vector<Saved> loaded = Snapshot();
  MarkAllDone();
  if (SaveStatState(dir.c_str(), kStatAll) != kOk) return 0;  // a file the saver cannot rewrite
  const std::string first = fuzz::ReadBytes(folder + "/_varno.stat");
  ResetStatState();
  if (LoadStatState(dir.c_str(), kStatAll) != kOk) std::abort();
  if (Snapshot() != loaded) std::abort();
  MarkAllDone();
  if (SaveStatState(dir.c_str(), kStatAll) != kOk) std::abort();
  if (fuzz::ReadBytes(folder + "/_varno.stat") != first) std::abort();
  return 0;
}
