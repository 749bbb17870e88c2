// Fuzz target: the feed's pending file, cursor file and configuration file
// loaders read any bytes. Every pending line written back is loaded again,
// and a cursor that loads saves and loads to the same position.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "fuzz_files.h"
#include "common/time.h"
#include "dbfeed/feed_state.h"

namespace {

using fuzz::Wide;

size_t CountLines(const std::string& path) {
  FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return 0;
  size_t lines = 0;
  for (int c = std::fgetc(in); c != EOF; c = std::fgetc(in)) lines += c == '\n';
  std::fclose(in);
  return lines;
}

// Lines past the key-value reader's limit come back as several lines.
bool HasLongLine(const uint8_t* data, size_t size) {
  size_t run = 0;
  for (size_t i = 0; i < size; ++i) {
    run = (data[i] == '\n' || data[i] == '\r') ? 0 : run + 1;
    if (run > 16000) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string base = "/tmp/varno-feed-fuzz-" + std::to_string(std::random_device()());
  static const TimeValue day = MakeTime(2024, 3, 11, 0, 0, 0);

  // Pending file: load, write back, load again.
  const std::string pending = base + "-pendin.stat";
  fuzz::WriteBytes(pending, reinterpret_cast<const char*>(data), size);
  FeedConfig config;
  config.pendingPath = Wide(pending);
  if (LoadPendingMessages(&config, day) != kOk) std::abort();
  const uint32_t loaded = RecordTableCount(&config.messages);
  for (uint32_t i = 0; i < loaded; ++i) {
    const FeedMessage* message = static_cast<const FeedMessage*>(RecordTableAt(&config.messages, i));
    TimeValue distance = message->time > day ? message->time - day : day - message->time;
    if (message->stored != 1 || distance > kPendingWindow) std::abort();
  }
  // The write-back (with its flush to disk) only for inputs that loaded something.
  if (loaded > 0) {
    if (WritePendingMessages(&config) != kOk) std::abort();
    const size_t written = CountLines(pending);
    RecordTableClear(&config.messages);
    if (LoadPendingMessages(&config, day) != kOk) std::abort();
    if (RecordTableCount(&config.messages) != written) std::abort();
  }
  ReleaseFeedConfig(&config);

  // Cursor file: what loads saves and loads the same.
  const std::string cursorFile = base + ".stat";
  fuzz::WriteBytes(cursorFile, reinterpret_cast<const char*>(data), size);
  FeedCursor cursor;
  LoadFeedCursor(Wide(cursorFile).c_str(), kFeedOutgoing, day, &cursor);
  if (cursor.day % kTicksPerDay != 0) std::abort();
  cursor.newLines = 1;
  const bool fromFile = cursor.day != day || cursor.lines != 0;
  if (fromFile && SaveFeedCursor(cursor, Wide(cursorFile).c_str(), kFeedOutgoing) == kOk &&
      !HasLongLine(data, size)) {
    FeedCursor again;
    LoadFeedCursor(Wide(cursorFile).c_str(), kFeedOutgoing, 0, &again);
    if (again.day != cursor.day || again.lines != cursor.lines) std::abort();
  }

  // Configuration file: loads or is refused, never breaks a statement.
  const std::string conf = base + "-dbf.conf";
  fuzz::WriteBytes(conf, reinterpret_cast<const char*>(data), size);
  const std::string confDir = "/tmp/";
  const std::string job = base.substr(confDir.size()) + "-dbf";
  if (LoadFeedConfig(Wide(confDir).c_str(), L"/tmp", Wide(job).c_str(), kFeedIncoming, &config) ==
      kOk) {
    for (unsigned char c : config.nodeid + config.table) {
      if (c < 0x20 || c == '"' || c == '\'' || c == '`' || c == '\\') std::abort();
    }
    if (config.burst == 0) std::abort();
  }
  ReleaseFeedConfig(&config);
  std::remove(pending.c_str());
  std::remove(cursorFile.c_str());
  std::remove(conf.c_str());
  return 0;
}
