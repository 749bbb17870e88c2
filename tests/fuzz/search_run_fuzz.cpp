// Fuzz target: the input holds an SMTP, an RBL and a postponer log of one day,
// separated by lines "===". The delivery doctor runs its three passes over
// them (each log in both directions) and lists every message, with
// conditions that read every SMTP field, sorted by the column and in the
// direction the first byte chooses, paged or not. The run ends with a
// listing or "nothing found", and lists no more messages than the SMTP logs have lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "doctor/search_command.h"
#include "doctor/search_conditions.h"
#include "fuzz_files.h"

namespace {

const char* const kLogs[3][2] = {{"smtp", "smtp-out"}, {"rbl", "rbl-out"}, {"postponer", "postponer-out"}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string& folder = fuzz::Folder("search_run");
  const uint8_t choice = data[0];
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  size_t start = 0;
  for (int part = 0; part < 3; ++part) {
    size_t stop = part < 2 ? input.find("\n===\n", start) : std::string::npos;
    const size_t end = stop == std::string::npos ? input.size() : stop;
    const std::string piece = start <= input.size() ? input.substr(start, end - start) : std::string();
    for (const char* prefix : kLogs[part]) {
      fuzz::WriteBytes(folder + "/" + prefix + "20240311.log", piece.data(), piece.size());
    }
    start = stop == std::string::npos ? input.size() + 1 : stop + 5;
  }
  SearchConditions conditions;
  if (ParseSearchConditions(L"from=*;to=*;ip=*;ip=10.0.0.0/8", &conditions) != kOk) std::abort();
  conditions.sortColumn = choice % 5;
  conditions.sortDescending = (choice / 5) % 2;
  conditions.pageSize = (choice / 10) % 3;
  const std::string listing = folder + "/listing.txt";
  uint32_t matches = 0;
  const ResultCode result = RunSearch(fuzz::Wide(folder).c_str(), &conditions,
                                      fuzz::Wide(listing).c_str(), nullptr, nullptr, &matches);
  ReleaseSearchConditions(&conditions);
  if (result != kOk && result != kErrNotFound) std::abort();
  if ((result == kOk) != (matches != 0)) std::abort();
  // Lines longer than the reader's limit come in pieces, each read as a line.
  const std::string smtp = fuzz::ReadBytes(folder + "/smtp20240311.log");
  const size_t smtpLines = fuzz::CountOf(smtp, "\n") + 1 + smtp.size() / 32767;
  if (matches > 2 * smtpLines) std::abort();
  if (result == kOk) {
    const std::string text = "\n" + fuzz::ReadBytes(listing);
    if (fuzz::CountOf(text, "\nsmtp|") != matches) std::abort();
  }
  return 0;
}
