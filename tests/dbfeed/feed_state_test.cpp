// Feed name, configuration, cursor and pending files.
#include "dbfeed/feed_state.h"

#include <gtest/gtest.h>

#include <string>

#include "../scratch.h"
#include "common/temp_file.h"
#include "common/time.h"

namespace {

namespace fs = std::filesystem;

using Folder = scratch::Folder;
using scratch::ReadFile;
using scratch::WriteFile;

// A feed name gives the job name: ASCII letters in lower case, cut at a
// blank, "-dbf" added; any other character refuses it.
TEST(FeedName, LettersFoldAndOtherCharactersAreRefused) {
  const struct {
    const wchar_t* name;
    ResultCode result;
    const wchar_t* job;
  } cases[] = {{L"AZaz09_-", kOk, L"azaz09_--dbf"}, {L"Main feed", kOk, L"main"},
               {L"bad.name", kErrInvalidValue, L""}, {L"caf\u00e9", kErrInvalidValue, L""}};
  for (const auto& c : cases) {
    std::wstring job = L"x";
    EXPECT_EQ(CheckFeedName(c.name, &job), c.result) << c.name;
    EXPECT_EQ(job, c.job) << c.name;
  }
}

TEST(FeedConfigFile, MissingFileAndValuesThatWouldBreakAStatementAreRefused) {
  Folder folder;
  const std::wstring confDir = folder.Wide() + L"/";
  FeedConfig config;
  EXPECT_EQ(LoadFeedConfig(confDir.c_str(), L".", L"none-dbf", kFeedIncoming, &config), kErrOpenFailed);
  const char* refused[] = {"nodeid = a\"b\n", "nodeid = a\\b\n", "nodeid = a'b\n",
                           "nodeid = a\x01z\n", "table_prefix = t`x\n"};
  for (const char* text : refused) {
    WriteFile(folder.path / "bad-dbf.conf", text);
    EXPECT_EQ(LoadFeedConfig(confDir.c_str(), L".", L"bad-dbf", kFeedIncoming, &config),
              kErrInvalidValue) << text;
  }
  ReleaseFeedConfig(&config);
}

TEST(FeedCursorFile, ValuesAreReadOrFallBackToToday) {
  Folder folder;
  const std::wstring path = folder.Wide("c.stat");
  const TimeValue today = MakeTime(2026, 12, 7, 0, 0, 0);
  struct Case { std::string value; TimeValue day; uint32_t lines; };
  const Case cases[] = {
      {"2008/06/05,1200", MakeTime(2008, 6, 5, 0, 0, 0), 1200},
      {" 2008-06-05 , 7  ", MakeTime(2008, 6, 5, 0, 0, 0), 7},
      {"2008/06/05,12x", today, 0},
      {"2008/06/05", today, 0},
      {"2008/02/30,1", today, 0},
      {"junk", today, 0},
      {"2008/06/05,99999999999", today, 0}};
  for (const Case& c : cases) {
    WriteFile(folder.path / "c.stat", "last-in = " + c.value + "\r\n");
    FeedCursor cursor;
    LoadFeedCursor(path.c_str(), kFeedIncoming, today + 5 * kTicksPerHour, &cursor);
    EXPECT_EQ(cursor.day, c.day) << c.value;
    EXPECT_EQ(cursor.lines, c.lines) << c.value;
    EXPECT_EQ(cursor.newLines, 0u);
  }
  FeedCursor missing;
  LoadFeedCursor(folder.Wide("none.stat").c_str(), kFeedOutgoing, today, &missing);
  EXPECT_EQ(missing.day, today);
}

TEST(FeedCursorFile, SaveKeepsTheOtherDirectionAndSkipsWithoutNewLines) {
  Folder folder;
  const std::wstring path = folder.Wide("c.stat");
  WriteFile(folder.path / "c.stat", "# mine\nlast-out = 2024/01/02,5\n");
  FeedCursor cursor;
  cursor.day = MakeTime(2024, 3, 4, 0, 0, 0);
  cursor.lines = 42;
  ASSERT_EQ(SaveFeedCursor(cursor, path.c_str(), kFeedIncoming), kOk);
  EXPECT_EQ(ReadFile(folder.path / "c.stat"), "# mine\nlast-out = 2024/01/02,5\n");
  cursor.newLines = 1;
  ASSERT_EQ(SaveFeedCursor(cursor, path.c_str(), kFeedIncoming), kOk);
  EXPECT_EQ(ReadFile(folder.path / "c.stat"),
            "# mine\r\nlast-out = 2024/01/02,5\r\nlast-in = 2024/03/04,42\r\n");
  EXPECT_FALSE(fs::exists(TemporaryPathOf(path.c_str())));
}

FeedMessage Message(uint8_t keyByte, TimeValue time, uint32_t flags, uint32_t split,
                    uint32_t endmarks, uint32_t stored) {
  FeedMessage message{};
  message.key.bytes[0] = keyByte;
  message.time = time;
  message.flags = flags;
  message.split = split;
  message.endmarks = endmarks;
  message.stored = stored;
  message.smtpFlags = 0x1f;
  message.rblFlags = 7;
  return message;
}

TEST(PendingFile, WritesUnfinishedStoredMessagesAndLoadsThemBack) {
  Folder folder;
  FeedConfig config;
  config.pendingPath = folder.Wide("p.stat");
  const TimeValue day = MakeTime(2024, 3, 11, 0, 0, 0);
  const TimeValue at = day + 13 * kTicksPerHour + 5 * kTicksPerSecond;
  FeedMessage pending = Message(0xAB, at, 0x12000101, 2, 1, 1);
  pending.postDay = day;
  pending.postLine = 9;
  const FeedMessage others[] = {Message(1, at, kMsgIn | kMsgReject, 0, 0, 1),
                                Message(2, at, kMsgIn | kMsgStop, 0, 0, 1),
                                Message(3, at, kMsgIn, 2, 2, 1),   // finished
                                Message(4, at, kMsgIn, 0, 0, 0)};  // never stored
  ASSERT_EQ(InsertFeedMessage(&config.messages, pending, nullptr), kOk);
  for (const FeedMessage& message : others) {
    ASSERT_EQ(InsertFeedMessage(&config.messages, message, nullptr), kOk);
  }
  ASSERT_EQ(WritePendingMessages(&config), kOk);
  EXPECT_EQ(ReadFile(folder.path / "p.stat"),
            "ab00000000000000000000000000000000000000;2024/03/11;13:00:05;0x12000101;0x0000001f;"
            "0x00000007;2;1;2024/03/11;9\n");
  EXPECT_FALSE(fs::exists(TemporaryPathOf(config.pendingPath.c_str())));
  RecordTableClear(&config.messages);
  ASSERT_EQ(LoadPendingMessages(&config, day + 7 * kTicksPerDay), kOk);
  ASSERT_EQ(RecordTableCount(&config.messages), 1u);
  const FeedMessage* loaded = static_cast<const FeedMessage*>(RecordTableAt(&config.messages, 0));
  EXPECT_EQ(loaded->flags, pending.flags);
  EXPECT_EQ(loaded->time, at);
  EXPECT_EQ(loaded->postDay, day);
  EXPECT_EQ(loaded->postLine, 9u);
  EXPECT_EQ(loaded->stored, 1u);
  EXPECT_EQ(loaded->smtpOffset, kNoOffset);
  ReleaseFeedConfig(&config);
}

// Messages of one key at several times: each is found by its time, and a
// time none has finds nothing, also for the table's last key.
TEST(MessageTable, EqualKeysAreFoundByTime) {
  RecordTable table{};
  const TimeValue at = MakeTime(2024, 3, 11, 13, 0, 5);
  for (const FeedMessage& message : {Message(1, at, 0, 0, 0, 0), Message(2, at + 1, 0, 0, 0, 0),
                                     Message(2, at, 0, 0, 0, 0), Message(3, at, 0, 0, 0, 0)}) {
    ASSERT_EQ(InsertFeedMessage(&table, message, nullptr), kOk);
  }
  const FeedMessage two = Message(2, at, 0, 0, 0, 0);
  const FeedMessage three = Message(3, at, 0, 0, 0, 0);
  ASSERT_NE(FindFeedMessageAt(&table, two.key, at + 1), nullptr);
  EXPECT_EQ(FindFeedMessageAt(&table, two.key, at + 1)->time, at + 1);
  EXPECT_EQ(FindFeedMessageAt(&table, two.key, at)->time, at);
  EXPECT_EQ(FindFeedMessageAt(&table, two.key, at + 2), nullptr);
  EXPECT_EQ(FindFeedMessageAt(&table, three.key, at + 2), nullptr);
  RecordTableFree(&table);
}

TEST(PendingFile, MalformedAndFarAwayLinesAreDropped) {
  Folder folder;
  FeedConfig config;
  config.pendingPath = folder.Wide("p.stat");
  const std::string key = "ab00000000000000000000000000000000000000";
  const std::string good = key + ";2024/03/11;13:00:05;0x1;0x2;0x3;2;1;2024/03/11;9";
  const std::string lines[] = {
      good,                                                           // taken
      key + ";2024/03/03;23:59:59;0x1;0x2;0x3;2;1;0000/00/00;0",      // 8 days before
      key + ";2024/03/11;25:00:00;0x1;0x2;0x3;2;1;2024/03/11;9",      // bad time
      key + ";2024-03-11;13:00:05;0x1;0x2;0x3;2;1;2024/03/11;9",      // bad date form
      key + ";2024/03/11;13:00:05;0x1;0x2;0x3;2x;1;2024/03/11;9",     // bad number
      key + ";2024/03/11;13:00:05;0x1;0x2;0x3;2",                     // truncated
      "zz;2024/03/11;13:00:05;0x1;0x2;0x3;2;1;2024/03/11;9",          // no key
      "   ",
      key + ";2024/03/11;13:00:05;0x1;0x2;0x3;2;1;none;9",            // no postDay: kept
      std::string(300, 'x') + good};                                  // cut at 255 bytes
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  WriteFile(folder.path / "p.stat", text);
  ASSERT_EQ(LoadPendingMessages(&config, MakeTime(2024, 3, 11, 0, 0, 0)), kOk);
  ASSERT_EQ(RecordTableCount(&config.messages), 2u);
  uint32_t withPostDay = 0;
  for (uint32_t i = 0; i < 2; ++i) {
    const FeedMessage* message = static_cast<const FeedMessage*>(RecordTableAt(&config.messages, i));
    if (message->postDay != 0) ++withPostDay;
    else EXPECT_EQ(message->postLine, 0u);
  }
  EXPECT_EQ(withPostDay, 1u);
  ReleaseFeedConfig(&config);
}

}  // namespace
