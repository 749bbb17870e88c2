// The feed's SMTP, RBL and postponer readers, without a database.
#include "dbfeed/feed_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/time.h"
#include "db_server.h"

namespace {

using namespace dbtest;

const TimeValue kDay = 132000000000000000ULL - 132000000000000000ULL % kTicksPerDay;

// A stream over the bytes that fails with a read error once they run out.
struct FailingSource {
  std::string bytes;
  size_t position = 0;
};

ssize_t ReadFailing(void* cookie, char* buffer, size_t size) {
  FailingSource* source = static_cast<FailingSource*>(cookie);
  if (source->position >= source->bytes.size()) {
    errno = EIO;
    return -1;
  }
  size_t count = std::min(size, source->bytes.size() - source->position);
  std::memcpy(buffer, source->bytes.data() + source->position, count);
  source->position += count;
  return static_cast<ssize_t>(count);
}

FILE* MemoryStream(const std::string& bytes) {
  FILE* file = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  return file;
}

const FeedMessage* At(FeedConfig* config, uint32_t position) {
  return static_cast<const FeedMessage*>(RecordTableAt(&config->messages, position));
}

TEST(FeedSmtpReader, TakesValidLinesUpToTheBurstAfterTheCursor) {
  struct Case {
    std::string line;
    uint32_t direction;
    bool taken;
    uint32_t flags;
  };
  const Case cases[] = {
      {SmtpLine("10:00:00", "a@x", "b@y", "1.1.1.1", "A----", MessageId(1)), kFeedIncoming, true,
       kMsgIn | kMsgAccepted | kMsgPend},
      {SmtpLine("10:00:00", "a@x", "b@y", "1.1.1.1", "R----", MessageId(1)), kFeedOutgoing, true,
       kMsgOut | kMsgReject},
      {SmtpLine("10:00:00", "a@x", "", "1.1.1.1", "A----", MessageId(1)), kFeedIncoming, false, 0},
      {SmtpLine("10:00:00", "", "b@y", "1.1.1.1", "A----", MessageId(1)), kFeedOutgoing, false, 0},
      {SmtpLine("10:00:00", "", "b@y", "1.1.1.1", "A----", MessageId(1)), kFeedIncoming, true,
       kMsgIn | kMsgAccepted | kMsgPend},
      {SmtpLine("1000", "a@x", "b@y", "1.1.1.1", "A----", MessageId(1)), kFeedIncoming, false, 0},
      {SmtpLine("10:00:00", "a@x", "b@y", "1.1.1.1", "A----", "zz"), kFeedIncoming, false, 0},
      {SmtpLine("10:00:00", "a@x", "b@y", "1.1.1.1", "A----", MessageId(1), "12 "), kFeedIncoming,
       true, kMsgIn | kMsgAccepted | kMsgPend},
      {SmtpLine("10:00:00", "a@x", "b@y", "1.1.1.1", "A----", MessageId(1), "1x"), kFeedIncoming,
       false, 0},
      {"x;10:00:00;0;a", kFeedIncoming, false, 0}};
  for (const Case& c : cases) {
    FeedConfig config;
    FeedCursor cursor;
    FILE* file = MemoryStream(c.line);
    uint32_t inserted = 0;
    EXPECT_EQ(ReadSmtpLines(file, kDay, c.direction, true, &cursor, &config, &inserted), kOk);
    std::fclose(file);
    EXPECT_EQ(inserted, c.taken ? 1u : 0u) << c.line;
    EXPECT_EQ(cursor.lines, 1u);
    if (c.taken && inserted == 1) {
      EXPECT_EQ(At(&config, 0)->flags, c.flags) << c.line;
      EXPECT_EQ(At(&config, 0)->time, kDay + 10 * kTicksPerHour);
      EXPECT_EQ(At(&config, 0)->smtpOffset, 0u);
    }
    ReleaseFeedConfig(&config);
  }
}

TEST(FeedSmtpReader, BurstCursorAndMessagesAlreadyPending) {
  std::string log;
  for (unsigned i = 0; i < 10; ++i) {
    log += SmtpLine("10:00:0" + std::to_string(i), "a@x", "b@y", "1.1.1.1", "A----", MessageId(i));
  }
  FeedConfig config;
  config.burst = 4;
  // Message 3 is pending already (its batch's cursor was not saved).
  FeedMessage pending{};
  DecodeMessageKey(MessageId(3).c_str(), 40, &pending.key);
  pending.time = kDay + 10 * kTicksPerHour + 3 * kTicksPerSecond;
  pending.stored = 1;
  ASSERT_EQ(InsertFeedMessage(&config.messages, pending, nullptr), kOk);
  FeedCursor cursor;
  cursor.lines = 1;
  FILE* file = MemoryStream(log);
  uint32_t inserted = 0;
  ASSERT_EQ(ReadSmtpLines(file, kDay, kFeedIncoming, true, &cursor, &config, &inserted), kOk);
  std::fclose(file);
  EXPECT_EQ(inserted, 4u);            // lines 2, 3, 5 and 6 (line 4 is message 3)
  EXPECT_EQ(cursor.lines, 6u);
  EXPECT_EQ(cursor.newLines, 1u);
  EXPECT_EQ(RecordTableCount(&config.messages), 5u);
  ReleaseFeedConfig(&config);
}

TEST(FeedSmtpReader, ReadFailurePartWayKeepsTheCursorAndStoresNothingNew) {
  const fs::path folder = fs::temp_directory_path() / ("varno_feed_read_" + std::to_string(getpid()));
  fs::create_directories(folder);
  FailingSource source;
  // More lines than the reader's buffer holds: some are taken before the error.
  for (unsigned i = 0; i < 3000; ++i) {
    source.bytes += SmtpLine("10:00:00", "a@x", "b@y", "1.1.1.1", "A----", MessageId(i));
  }
  cookie_io_functions_t functions{ReadFailing, nullptr, nullptr, nullptr};
  FILE* file = fopencookie(&source, "r", functions);
  ASSERT_NE(file, nullptr);
  FeedConfig config;
  config.burst = 100000;
  const std::string pendingPath = (folder / "p.stat").string();
  config.pendingPath = std::wstring(pendingPath.begin(), pendingPath.end());
  FeedCursor cursor;
  uint32_t inserted = 0;
  EXPECT_EQ(ReadSmtpLines(file, kDay, kFeedIncoming, true, &cursor, &config, &inserted), kErrReadFault);
  std::fclose(file);
  EXPECT_EQ(cursor.lines, 0u);
  EXPECT_EQ(cursor.newLines, 0u);
  const uint32_t taken = RecordTableCount(&config.messages);
  EXPECT_GT(taken, 0u);
  EXPECT_LT(taken, 3000u);
  for (uint32_t i = 0; i < taken; ++i) EXPECT_EQ(At(&config, i)->smtpOffset, kNoOffset);
  // None of them is written as stored.
  ASSERT_EQ(WritePendingMessages(&config), kOk);
  EXPECT_EQ(ReadFile(folder / "p.stat"), "");
  ReleaseFeedConfig(&config);
  fs::remove_all(folder);
}

TEST(FeedRblReader, FirstLineOfAMessageSetsItsVerdict) {
  struct Case {
    std::string lines;
    uint32_t flags;
    uint32_t rblFlags;
  };
  const std::string id = MessageId(7);
  const uint32_t base = kMsgIn | kMsgAccepted | kMsgPend;
  const Case cases[] = {
      {RblLine("10:00:01", id, true, 0, "0x21"), base | kMsgHasRbl | kMsgSpam | kMsgPassedRbl, 0x21},
      {RblLine("10:00:01", id, false, -1000) + RblLine("10:00:02", id, true, 0),
       kMsgIn | kMsgAccepted | kMsgHasRbl | kMsgStop, 2},
      {"r;t;s;r;virus;spam;1;" + id + ";ip;;;5;1;9\n",
       base | kMsgHasRbl | kMsgVirus | kMsgSpam | kMsgPassedRbl, 9},
      {RblLine("10:00:01", MessageId(8), true, 0), base, 0},
      {"r;t;s;r;;SPAM;1;" + id + "\n", base | kMsgHasRbl | kMsgSpam | kMsgPassedRbl, 0}};
  for (const Case& c : cases) {
    FeedConfig config;
    FeedMessage message{};
    DecodeMessageKey(id.c_str(), id.size(), &message.key);
    message.flags = base;
    ASSERT_EQ(InsertFeedMessage(&config.messages, message, nullptr), kOk);
    FILE* file = MemoryStream(c.lines);
    EXPECT_EQ(ReadRblLines(file, &config), kOk);
    std::fclose(file);
    EXPECT_EQ(At(&config, 0)->flags, c.flags) << c.lines;
    EXPECT_EQ(At(&config, 0)->rblFlags, c.rblFlags) << c.lines;
    EXPECT_EQ(At(&config, 0)->dirty, c.flags != base ? 1u : 0u) << c.lines;
    ReleaseFeedConfig(&config);
  }
}

TEST(FeedPostponerReader, SplitsEndmarksAndRecordedPosition) {
  struct Case {
    std::string lines;
    TimeValue postDay;  // recorded before the read
    uint32_t postLine;
    uint32_t splitBefore, endmarksBefore;
    uint32_t split, endmarks, fin;
  };
  const std::string id = MessageId(5);
  const std::string lines = PostLine("t", "S", id, 2) + PostLine("t", "E", id) +
                            "pp;t;0;x;1;ip;r;SENT;" + id + ";ok\n" + PostLine("t", "E", id);
  const Case cases[] = {{lines, 0, 0, 0, 0, 2, 2, 1},
                        {lines, kDay, 2, 2, 1, 2, 2, 1},                 // lines 1, 2 counted before
                        {lines, kDay + kTicksPerDay, 1, 2, 1, 2, 1, 0},  // a later day was counted
                        {PostLine("t", "E", id), 0, 0, 0, 0, 1, 1, 1},   // an end without a split
                        {PostLine("t", "s", id) + PostLine("t", "E ", id), 0, 0, 0, 0, 1, 1, 1}};
  for (const Case& c : cases) {
    FeedConfig config;
    FeedMessage message{};
    DecodeMessageKey(id.c_str(), id.size(), &message.key);
    message.flags = kMsgIn | kMsgPend;
    message.postDay = c.postDay;
    message.postLine = c.postLine;
    message.split = c.splitBefore;
    message.endmarks = c.endmarksBefore;
    ASSERT_EQ(InsertFeedMessage(&config.messages, message, nullptr), kOk);
    FILE* file = MemoryStream(c.lines);
    EXPECT_EQ(ReadPostponerLines(file, kDay, &config), kOk);
    std::fclose(file);
    const FeedMessage* read = At(&config, 0);
    EXPECT_EQ(read->split, c.split) << c.lines;
    EXPECT_EQ(read->endmarks, c.endmarks) << c.lines;
    EXPECT_EQ((read->flags & kMsgFin) != 0, c.fin != 0) << c.lines;
    EXPECT_EQ((read->flags & kMsgPend) != 0, c.fin == 0) << c.lines;
    ReleaseFeedConfig(&config);
  }
}

// Flags, counts and position of a message after the postponer log was applied.
std::string PostState(const FeedConfig& config) {
  std::string state;
  const uint32_t count = RecordTableCount(const_cast<RecordTable*>(&config.messages));
  for (uint32_t i = 0; i < count; ++i) {
    const FeedMessage* m = static_cast<const FeedMessage*>(
        RecordTableAt(const_cast<RecordTable*>(&config.messages), i));
    state += std::to_string(m->flags) + "/" + std::to_string(m->split) + "/" +
             std::to_string(m->endmarks) + "/" + std::to_string(m->postLine) + " ";
  }
  return state;
}

TEST(FeedLogIndex, GrowingLogGivesWhatOneReadOfTheWholeLogGives) {
  const fs::path path = fs::temp_directory_path() / ("varno_index_" + std::to_string(getpid()));
  std::string whole;
  for (unsigned i = 0; i < 6000; ++i) {
    whole += PostLine("t", i % 3 == 2 ? "E" : "S", MessageId(i % 50), 1 + i % 2);
    if (i % 7 == 0) whole += "noise;t;X;" + MessageId(i % 50) + "\n";
  }
  whole += PostLine("t", "E", MessageId(1));
  whole.pop_back();  // the last line has no line end
  auto messages = [](FeedConfig* config) {
    for (unsigned i = 0; i < 50; ++i) {
      FeedMessage message{};
      DecodeMessageKey(MessageId(i).c_str(), 40, &message.key);
      message.flags = kMsgIn | kMsgPend;
      InsertFeedMessage(&config->messages, message, nullptr);
    }
  };
  // One read of the whole log.
  WriteFile(path, whole);
  FeedConfig once;
  messages(&once);
  FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_EQ(ReadPostponerLines(file, kDay, &once), kOk);
  std::fclose(file);
  // The same log written in pieces (cut inside lines too), applied after each.
  FeedConfig grown;
  messages(&grown);
  LogIndex index;
  index.postponer = true;
  WriteFile(path, "");
  for (size_t at = 0; at < whole.size();) {
    const size_t piece = std::min<size_t>(whole.size() - at, 997 + at % 5000);
    AppendFile(path, whole.substr(at, piece));
    at += piece;
    file = std::fopen(path.c_str(), "rb");
    // Not finished until the last piece: the unfinished line waits.
    ASSERT_EQ(UpdateLogIndex(file, &index, at == whole.size()), kOk);
    std::fclose(file);
    ApplyPostponerIndex(index, kDay, &grown);
  }
  EXPECT_EQ(PostState(grown), PostState(once));
  EXPECT_EQ(index.tail.size(), 1u);
  ReleaseFeedConfig(&once);
  ReleaseFeedConfig(&grown);
  fs::remove(path);
}

}  // namespace
