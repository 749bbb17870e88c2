// Feed name, configuration, cursor and pending files.
#include "dbfeed/feed_state.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/time.h"
#include "platform/console.h"
#include "platform/fs.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A path as the program joins it: with this platform's separator.
std::wstring Joined(std::wstring path) {
  for (wchar_t& c : path) {
    if (IsPathSeparator(c)) c = kPathSeparator;
  }
  return path;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct Folder {
  fs::path path;
  Folder() {
    static int counter = 0;
    path = fs::temp_directory_path() /
           ("varno_feed_state_" + std::to_string(CurrentProcessId()) + "_" + std::to_string(counter++));
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~Folder() { fs::remove_all(path); }
  std::wstring Wide(const std::string& name = "") const {
    const std::string text = (name.empty() ? path : path / name).string();
    return std::wstring(text.begin(), text.end());
  }
};

TEST(FeedName, JobNameIsLoweredCheckedAndCutAtABlank) {
  struct Case { const wchar_t* name; ResultCode result; const wchar_t* job; };
  const Case cases[] = {{L"Mail_1", kOk, L"mail_1-dbf"}, {L"a-B9", kOk, L"a-b9-dbf"},
                        {L"gw x.y", kOk, L"gw"},         {L"a.b", kErrInvalidValue, L""},
                        {L" lead", kErrInvalidValue, L""}, {L"\u00e9", kErrInvalidValue, L""}};
  for (const Case& c : cases) {
    std::wstring job = L"old";
    EXPECT_EQ(CheckFeedName(c.name, &job), c.result) << c.name;
    EXPECT_EQ(job, c.job) << c.name;
  }
}

TEST(FeedConfigFile, KeysDefaultsTablesAndPaths) {
  Folder folder;
  const std::wstring confDir = folder.Wide() + L"/";
  WriteFile(folder.path / "mail_1-dbf.conf",
            "# gateway\r\nhost = db.example\r\nport = 0x10\r\nburst = 0\r\nnodeid = gw-7\r\n"
            "table_prefix = gw\r\n" + std::string(1 << 20, 'x') + "\r\n");
  FeedConfig in, out;
  ASSERT_EQ(LoadFeedConfig(confDir.c_str(), L"/logs", L"mail_1-dbf", kFeedIncoming, &in), kOk);
  ASSERT_EQ(LoadFeedConfig(confDir.c_str(), L"/logs", L"mail_1-dbf", kFeedOutgoing, &out), kOk);
  EXPECT_EQ(*in.host, "db.example");
  EXPECT_FALSE(in.user || in.passwd || in.db);
  EXPECT_EQ(in.port, 16u);
  EXPECT_EQ(in.burst, 100u);
  EXPECT_EQ(in.nodeid, "gw-7");
  EXPECT_EQ(in.table, "gw_inbound");
  EXPECT_EQ(out.table, "gw_outbound");
  EXPECT_EQ(in.cursorPath, Joined(L"/logs/mail_1-dbf.stat"));
  EXPECT_EQ(in.pendingPath, Joined(L"/logs/mail_1-dbf-pendin.stat"));
  EXPECT_EQ(out.pendingPath, Joined(L"/logs/mail_1-dbf-pendout.stat"));
  ReleaseFeedConfig(&in);
  ReleaseFeedConfig(&out);
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
  EXPECT_FALSE(fs::exists(folder.path / "c.stat.tmp"));
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
  EXPECT_FALSE(fs::exists(folder.path / "p.stat.tmp"));
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
