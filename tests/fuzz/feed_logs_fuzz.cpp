// Fuzz target: one day's SMTP, RBL and postponer logs (the input split at
// 0x1E bytes; the first byte picks the direction and the burst) read by the
// feed's day reader in batches, as a run does, with the RBL and postponer
// indexes kept across batches. The cursor never moves back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/time.h"
#include "dbfeed/feed_run.h"
#include "fuzz_files.h"

namespace {

const char* const kNames[2][3] = {
    {"smtp20240115.log", "rbl20240115.log", "postponer20240115.log"},
    {"smtp-out20240115.log", "rbl-out20240115.log", "postponer-out20240115.log"}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = fuzz::Folder("feed_logs");
  const uint8_t control = size > 0 ? data[0] : 0;
  const uint32_t outgoing = control & 1;
  std::string parts[3];
  int part = 0;
  for (size_t i = size > 0 ? 1 : 0; i < size; ++i) {
    if (data[i] == 0x1E && part < 2) ++part;
    else parts[part].push_back(static_cast<char>(data[i]));
  }
  for (int kind = 0; kind < 3; ++kind) {
    for (int direction = 0; direction < 2; ++direction) {
      std::remove((folder + "/" + kNames[direction][kind]).c_str());
    }
    fuzz::WriteBytes(folder + "/" + kNames[outgoing][kind], parts[kind].data(), parts[kind].size());
  }

  const std::wstring logDir = fuzz::Wide(folder);
  FeedCursor cursor;
  cursor.day = MakeTime(2024, 1, 15, 0, 0, 0);
  FeedLogCache cache;
  for (int batch = 0; batch < 64; ++batch) {
    FeedConfig config;
    config.direction = outgoing ? kFeedOutgoing : kFeedIncoming;
    config.burst = 1 + (control >> 1) % 8;
    cursor.newLines = 0;
    const uint32_t linesBefore = cursor.lines;
    ResultCode smtpFailure = kOk;
    const ResultCode result =
        ReadFeedDay(&cursor, logDir.c_str(), &config, &cache, MakeTime(2024, 2, 1, 0, 0, 0), &smtpFailure);
    ReleaseFeedConfig(&config);
    if (cursor.lines < linesBefore) std::abort();  // the cursor never moves back
    if (result != kOk || cursor.newLines == 0) break;
  }
  return 0;
}
