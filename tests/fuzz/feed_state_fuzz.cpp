// Fuzz target: the feed's pending file, cursor file and configuration file
// loaders read any bytes. Every pending line written back is loaded again,
// and a cursor that loads saves and loads to the same position.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/time.h"
#include "dbfeed/feed_state.h"
#include "fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string base = fuzz::TempBase("feed");
  static const TimeValue day = MakeTime(2024, 3, 11, 0, 0, 0);
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // Pending file: load, write back, load again.
  const std::string pending = base + "-pendin.stat";
  fuzz::WriteBytes(pending, bytes.data(), bytes.size());
  FeedConfig config;
  config.pendingPath = fuzz::Wide(pending);
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
    const size_t written = fuzz::CountOf(fuzz::ReadBytes(pending), "\n");
    RecordTableClear(&config.messages);
    if (LoadPendingMessages(&config, day) != kOk) std::abort();
    if (RecordTableCount(&config.messages) != written) std::abort();
  }
  ReleaseFeedConfig(&config);

  // Cursor file: what loads saves and loads the same.
  const std::string cursorFile = base + ".stat";
  fuzz::WriteBytes(cursorFile, bytes.data(), bytes.size());
  FeedCursor cursor;
  LoadFeedCursor(fuzz::Wide(cursorFile).c_str(), kFeedOutgoing, day, &cursor);
  if (cursor.day % kTicksPerDay != 0) std::abort();
  cursor.newLines = 1;
  const bool fromFile = cursor.day != day || cursor.lines != 0;
  if (fromFile && SaveFeedCursor(cursor, fuzz::Wide(cursorFile).c_str(), kFeedOutgoing) == kOk &&
      fuzz::LongestLine(bytes, "\r\n") <= 16000) {  // longer lines are read in pieces
    FeedCursor again;
    LoadFeedCursor(fuzz::Wide(cursorFile).c_str(), kFeedOutgoing, 0, &again);
    if (again.day != cursor.day || again.lines != cursor.lines) std::abort();
  }

  // Configuration file: loads or is refused, never breaks a statement.
  const std::string conf = base + "-dbf.conf";
  fuzz::WriteBytes(conf, bytes.data(), bytes.size());
  const std::string confDir = fuzz::TempRoot() + "/";
  const std::string job = base.substr(confDir.size()) + "-dbf";
  const ResultCode opened = LoadFeedConfig(fuzz::Wide(confDir).c_str(), L"/tmp",
                                           fuzz::Wide(job).c_str(), kFeedIncoming, &config);
  if (opened == kOk) {
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
