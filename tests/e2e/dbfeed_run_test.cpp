// End-to-end tests of --dbfeed against the MariaDB server of the test command.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
#include <thread>

#include "../dbfeed/db_server.h"
#include "platform/lock_file.h"
#include "stat_support.h"

namespace {

using namespace dbtest;
using stat_e2e::Outcome;
using stat_e2e::Running;
using stat_e2e::Wait;

// A private installation (bin/varno, conf/) and a log folder for one test.
struct FeedInstall {
  scratch::Folder folder{"dbfeed"};
  fs::path root = folder.path, bin = root / "bin", conf = root / "conf", logs = root / "logs";
  FeedInstall() {
    for (const fs::path& dir : {bin, conf, logs}) fs::create_directories(dir);
    fs::copy_file(VARNO_BIN, bin / "varno");
  }
  // The configuration of feed `name` for database db, with extra lines.
  void Configure(const std::string& name, const DbServer& server, const std::string& db,
                 const std::string& extra = "") const {
    WriteFile(conf / (name + "-dbf.conf"),
              "# test feed\nhost = " + server.host + "\nport = " + server.port + "\nuser = " +
                  server.user + "\npasswd = " + server.password + "\ndb = " + db +
                  "\nnodeid = gw1\n" + extra);
  }
  Running Start(const std::vector<std::string>& args, const std::string& tz = Env("TZ")) const {
    std::vector<std::string> env;
    if (!tz.empty()) env.push_back("TZ=" + tz);
    return stat_e2e::StartProgram((bin / "varno").string(), args, root, env);
  }
  Outcome Run(const std::vector<std::string>& args, const std::string& tz = Env("TZ")) const {
    Running run = Start(args, tz);
    return Wait(run);
  }
  // --dbfeed=name on the log folder, with more options.
  Outcome Feed(const std::string& name, std::vector<std::string> more = {},
               const std::string& tz = Env("TZ")) const {
    std::vector<std::string> args = {"--dbfeed=" + name, logs.string()};
    args.insert(args.end(), more.begin(), more.end());
    return Run(args, tz);
  }
};

// A test database and an installation; skipped without a test server.
class DbfeedRun : public testing::Test {
 protected:
  void SetUp() override {
    VARNO_REQUIRE_DB_SERVER(server);
    db = std::make_unique<TestDatabase>(server);
  }
  // Feed `name` of the installation on the test database.
  void Configure(const std::string& name, const std::string& extra = "") {
    install.Configure(name, server, db->name, extra);
  }
  const DbServer server = TestServer();
  FeedInstall install;
  std::unique_ptr<TestDatabase> db;
};

// Incoming messages 0..count-1 of one day: accepted, passed by RBL, split in
// one delivery that ends; every third one is still pending (no "E" line).
void WriteDayLogs(const FeedInstall& install, const Day& day, unsigned first, unsigned count) {
  std::string smtp, rbl, post;
  for (unsigned i = first; i < first + count; ++i) {
    char time[16];
    std::snprintf(time, sizeof time, "%02u:%02u:%02u", (i / 3600) % 24, (i / 60) % 60, i % 60);
    const std::string id = MessageId(i);
    smtp += SmtpLine(time, std::string("s").append(std::to_string(i)).append("@a.example"), "r@b.example,q@c.example,",
                     "10.0.0.1", "A----", id);
    rbl += RblLine(time, id, i % 5 == 0, 0);
    post += PostLine(time, "S", id, 1);
    if (i % 3 != 0) post += PostLine(time, "E", id);
  }
  AppendFile(install.logs / ("smtp" + day.compact + ".log"), smtp);
  AppendFile(install.logs / ("rbl" + day.compact + ".log"), rbl);
  AppendFile(install.logs / ("postponer" + day.compact + ".log"), post);
}

TEST_F(DbfeedRun, FirstRunStartsWithTodaysLogs) {
  Configure("first");
  const Day yesterday = LocalDay(-1);
  const Day today = LocalDay(0);
  WriteDayLogs(install, yesterday, 0, 5);
  WriteDayLogs(install, today, 100, 7);
  Outcome run = install.Feed("first");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(db->Query("SELECT COUNT(*), MIN(DATE(msgtime)) FROM inbound;"), "7\t" + today.dashed + "\n");
  const std::string cursor = ReadFile(install.logs / "first-dbf.stat");
  EXPECT_NE(cursor.find("last-in = " + today.slashed + ",7\r\n"), std::string::npos) << cursor;
  // Nothing new: a second run stores nothing and makes no connection.
  run = install.Feed("first", {"-vvv"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out.find("START TRANSACTION"), std::string::npos) << run.out;
  EXPECT_EQ(db->Query("SELECT COUNT(*) FROM inbound;"), "7\n");
}

TEST_F(DbfeedRun, BurstOf100With250MessagesCommitsThreeBatches) {
  Configure("burst", "burst = 100\n");
  const Day today = LocalDay(0);
  WriteDayLogs(install, today, 0, 250);
  Outcome run = install.Feed("burst", {"-vvv"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(CountOf(run.out, "START TRANSACTION\n"), 3u);
  EXPECT_EQ(CountOf(run.out, "COMMIT\n"), 3u);
  // One multi-row INSERT per batch.
  EXPECT_EQ(CountOf(run.out, "INSERT INTO `inbound` VALUES (NULL, "), 3u);
  EXPECT_EQ(CountOf(run.out, "(NULL, \""), 250u);
  // The third batch updates none of the first two batches' finished messages.
  EXPECT_EQ(db->Query("SELECT COUNT(*), COUNT(DISTINCT msgid) FROM inbound;"), "250\t250\n");
  EXPECT_EQ(db->Query("SELECT domains FROM inbound WHERE id = 1;"), "b.example,c.example\n");
  EXPECT_EQ(db->Query("SELECT recipients FROM inbound WHERE id = 1;"), "r@b.example,q@c.example\n");
  const std::string cursor = ReadFile(install.logs / "burst-dbf.stat");
  EXPECT_NE(cursor.find("last-in = " + today.slashed + ",250"), std::string::npos) << cursor;
  // Pending: the messages without their "E" line (every third one).
  EXPECT_EQ(CountOf(ReadFile(install.logs / "burst-dbf-pendin.stat"), "\n"), 84u);
}

TEST_F(DbfeedRun, RblAndPostponerUpdatesAcrossMidnight) {
  Configure("night");
  const Day yesterday = LocalDay(-1);
  const Day today = LocalDay(0);
  const std::string late = MessageId(1), split = MessageId(2), stopped = MessageId(3);
  const std::string rejected = MessageId(4);
  WriteFile(install.logs / ("smtp" + yesterday.compact + ".log"),
            SmtpLine("23:59:00", "a@x.example", "b@y.example", "1.1.1.1", "A----", late) +
                SmtpLine("23:59:10", "a@x.example", "c@y.example", "1.1.1.1", "A----", split) +
                SmtpLine("23:59:20", "a@x.example", "d@y.example", "1.1.1.1", "A----", stopped) +
                SmtpLine("23:59:30", "a@x.example", "e@y.example", "1.1.1.1", "R----", rejected));
  WriteFile(install.logs / ("postponer" + yesterday.compact + ".log"),
            PostLine("23:59:01", "S", late) + PostLine("23:59:11", "S", split, 2) +
                PostLine("23:59:12", "E", split));
  WriteFile(install.logs / ("rbl" + today.compact + ".log"),
            RblLine("00:00:01", late, true, 0, "0x7") + RblLine("00:00:02", stopped, false, -1000));
  WriteFile(install.logs / ("postponer" + today.compact + ".log"),
            PostLine("00:00:03", "E", late) + PostLine("00:00:04", "E", split));
  WriteFile(install.logs / "night-dbf.stat", "last-in = " + yesterday.slashed + ",0\n");
  Outcome run = install.Feed("night");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(db->Query("SELECT msgtime, HEX(flags), f_rbl, split, endmarks FROM inbound ORDER BY msgtime;"),
            yesterday.dashed + " 23:59:00\t33000281\t7\t1\t1\n" +   // spam, rbl passed, fin
                yesterday.dashed + " 23:59:10\t12000201\t0\t2\t2\n" +  // fin after the second E
                yesterday.dashed + " 23:59:20\t11000021\t2\t0\t0\n" +  // stopped by RBL
                yesterday.dashed + " 23:59:30\t11\t0\t0\t0\n");         // rejected by SMTP
  EXPECT_EQ(ReadFile(install.logs / "night-dbf-pendin.stat"), "");
  // A rerun counts no postponer line twice.
  run = install.Feed("night");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(db->Query("SELECT SUM(split), SUM(endmarks) FROM inbound;"), "3\t3\n");
}

TEST_F(DbfeedRun, PostponerLinesOfLaterBatchesAreCountedOnce) {
  Configure("again", "burst = 1\n");
  const Day today = LocalDay(0);
  const std::string first = MessageId(10), second = MessageId(11);
  WriteFile(install.logs / ("smtp" + today.compact + ".log"),
            SmtpLine("00:00:01", "a@x", "b@y", "1.1.1.1", "A----", first) +
                SmtpLine("00:00:02", "a@x", "b@y", "1.1.1.1", "A----", second));
  WriteFile(install.logs / ("postponer" + today.compact + ".log"),
            PostLine("00:00:03", "S", first, 3) + PostLine("00:00:04", "E", first));
  Outcome run = install.Feed("again");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  AppendFile(install.logs / ("postponer" + today.compact + ".log"), PostLine("00:00:05", "E", first));
  run = install.Feed("again");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(db->Query("SELECT split, endmarks, HEX(flags) FROM inbound WHERE id = 1;"),
            "3\t2\t12000101\n");
}

TEST_F(DbfeedRun, FailedStatementRollsBackAndKeepsTheCursor) {
  Configure("rb", "burst = 3\n");
  const Day today = LocalDay(0);
  WriteDayLogs(install, today, 0, 5);
  db->Query("DELIMITER //\nCREATE TRIGGER refuse BEFORE INSERT ON inbound FOR EACH ROW "
           "IF NEW.sender = 's4@a.example' THEN SIGNAL SQLSTATE '45000' "
           "SET MESSAGE_TEXT = 'refused by test'; END IF//\nDELIMITER ;\n");
  Outcome run = install.Feed("rb", {"-vvv"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("SQL insert failed, err: refused by test\n"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("ROLLBACK\n"), std::string::npos);
  // The first batch (3 messages) is in; the second is rolled back whole.
  EXPECT_EQ(db->Query("SELECT COUNT(*) FROM inbound;"), "3\n");
  const std::string cursor = ReadFile(install.logs / "rb-dbf.stat");
  EXPECT_NE(cursor.find("last-in = " + today.slashed + ",3\r\n"), std::string::npos) << cursor;
  // With the fault gone every message is stored exactly once.
  db->Query("DROP TRIGGER refuse;");
  run = install.Feed("rb");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(db->Query("SELECT COUNT(*), COUNT(DISTINCT msgid) FROM inbound;"), "5\t5\n");
}

TEST_F(DbfeedRun, ServerFaultsSaveNothingAndTheNextRunStoresEverything) {
  const Day today = LocalDay(0);
  WriteDayLogs(install, today, 0, 4);
  DbServer wrongPassword = server;
  wrongPassword.password = "wrong";
  install.Configure("f", wrongPassword, db->name);
  Outcome run = install.Feed("f");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Failed to connect to database, err: Access denied"), std::string::npos) << run.err;
  Configure("f", "table_prefix = missing\n");
  run = install.Feed("f");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("SQL insert failed, err: Table '" + db->name + ".missing_inbound' doesn't exist"),
            std::string::npos)
      << run.err;
  EXPECT_FALSE(fs::exists(install.logs / "f-dbf.stat"));
  EXPECT_FALSE(fs::exists(install.logs / "f-dbf-pendin.stat"));
  Configure("f");
  run = install.Feed("f");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(db->Query("SELECT COUNT(*) FROM inbound;"), "4\n");
}

TEST_F(DbfeedRun, HostileBytesAreStoredSafely) {
  Configure("h");
  const Day today = LocalDay(0);
  struct Case {
    std::string sender;    // as written in the log
    std::string recipients;
    std::string storedSenderHex;
  };
  auto hex = [](const std::string& bytes) {
    std::string text;
    char pair[3];
    for (unsigned char c : bytes) {
      std::snprintf(pair, sizeof pair, "%02X", c);
      text += pair;
    }
    return text;
  };
  const std::string nul("a\0b@x", 5);
  const Case cases[] = {
      {"back\\", "r\\@y\\", hex("back\\")},
      {"q\"uote'd`@x", "r@y", hex("q_uote_d_@x")},
      {"x\\\", 1) OR 1=1 -- ", "r@y", hex("x\\_, 1) OR 1=1 --")},
      {nul, "r@y", hex("a_b@x")},
      {"c\x01\x1b\x7f\xff\xfe@x", "r@y", hex("c\x01\x1b\x7f\xff\xfe@x")},
      {"semi", "r@y;x", hex("semi")},
  };
  std::string smtp;
  unsigned number = 0;
  for (const Case& c : cases) {
    smtp += SmtpLine("10:00:0" + std::to_string(number), c.sender, c.recipients, "1.2.3.4", "A----",
                     MessageId(number));
    ++number;
  }
  WriteFile(install.logs / ("smtp" + today.compact + ".log"), smtp);
  Outcome run = install.Feed("h");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::string expected;
  for (const Case& c : cases) expected += c.storedSenderHex + "\n";
  // The line with a ';' in its recipients has its fields shifted and no
  // valid flags field: it is not a message.
  expected.erase(expected.rfind(hex("semi")));
  EXPECT_EQ(db->Query("SELECT HEX(sender) FROM inbound ORDER BY msgtime;"), expected);
  EXPECT_EQ(db->Query("SELECT recipients, domains FROM inbound ORDER BY msgtime LIMIT 1;"),
            "r\\\\@y\\\\\ty\\\\\n");
  EXPECT_EQ(db->Query("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = '" +
                     db->name + "';"),
            "2\n");
}

TEST_F(DbfeedRun, KillAtRandomPointsThenRerunStoresEachMessageOnceWithFinalFlags) {
  const TestDatabase& reference = *db;
  TestDatabase killed(server);
  const Day first = LocalDay(-2);
  const Day second = LocalDay(-1);
  // Two days in both directions; later RBL and postponer lines of the first
  // day's messages arrive on the second day.
  auto write = [&](const std::string& prefix, unsigned base) {
    std::string smtp1, smtp2, rbl1, rbl2, post1, post2;
    for (unsigned i = 0; i < 600; ++i) {
      char time[16];
      std::snprintf(time, sizeof time, "%02u:%02u:%02u", 8 + i / 3600, (i / 60) % 60, i % 60);
      const std::string id = MessageId(base + i);
      const bool day2 = i >= 400;
      (day2 ? smtp2 : smtp1) += SmtpLine(time, "s@a.example", "r@b.example", "10.0.0.1",
                                         i % 7 == 0 ? "R----" : "A----", id);
      (i % 2 == 0 ? rbl2 : (day2 ? rbl2 : rbl1)) += RblLine(time, id, i % 4 == 1, i % 11 == 0 ? -1000 : 0);
      (day2 ? post2 : post1) += PostLine(time, "S", id, 1 + i % 3);
      for (unsigned e = 0; e < 1 + i % 3; ++e) post2 += PostLine(time, "E", id);
    }
    WriteFile(install.logs / (prefix == "" ? "smtp" + first.compact + ".log" : "smtp-out" + first.compact + ".log"), smtp1);
    WriteFile(install.logs / (prefix == "" ? "smtp" + second.compact + ".log" : "smtp-out" + second.compact + ".log"), smtp2);
    WriteFile(install.logs / ("rbl" + prefix + first.compact + ".log"), rbl1);
    WriteFile(install.logs / ("rbl" + prefix + second.compact + ".log"), rbl2);
    WriteFile(install.logs / ("postponer" + prefix + first.compact + ".log"), post1);
    WriteFile(install.logs / ("postponer" + prefix + second.compact + ".log"), post2);
  };
  write("", 0);
  write("-out", 5000);
  const std::string start = "last-in = " + first.slashed + ",0\nlast-out = " + first.slashed + ",0\n";
  WriteFile(install.logs / "ref-dbf.stat", start);
  WriteFile(install.logs / "kill-dbf.stat", start);
  install.Configure("ref", server, reference.name, "burst = 7\n");
  install.Configure("kill", server, killed.name, "burst = 7\n");
  Outcome run = install.Feed("ref");
  ASSERT_EQ(run.exitCode, 0) << run.err;

  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> delay(5, 400);
  int killedRuns = 0;
  for (int attempt = 0; attempt < 12; ++attempt) {
    Running run = install.Start({"--dbfeed=kill", install.logs.string()});
    std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));
    if (kill(static_cast<pid_t>(run.process), SIGKILL) == 0) ++killedRuns;
    Wait(run);
  }
  EXPECT_GT(killedRuns, 0);
  run = install.Feed("kill");
  ASSERT_EQ(run.exitCode, 0) << run.err;

  const std::string rows =
      "SELECT msgid, nodeid, msgtime, flags, f_smtp, f_rbl, split, endmarks, client, sender, "
      "recipients, domains FROM %s ORDER BY msgid, msgtime;";
  for (const char* table : {"inbound", "outbound"}) {
    std::string select = rows;
    select.replace(select.find("%s"), 2, table);
    const std::string expected = reference.Query(select);
    EXPECT_EQ(CountOf(expected, "\n"), 600u);
    EXPECT_EQ(killed.Query(select), expected) << table;
    EXPECT_EQ(killed.Query(std::string("SELECT COUNT(*) FROM ") + table +
                           " GROUP BY msgid, msgtime HAVING COUNT(*) > 1;"),
              "");
  }
}

TEST_F(DbfeedRun, CancelStopsAfterACommittedBatch) {
  Configure("c", "burst = 5\n");
  const Day yesterday = LocalDay(-1);
  WriteDayLogs(install, yesterday, 0, 1000);
  WriteFile(install.logs / "c-dbf.stat", "last-in = " + yesterday.slashed + ",0\n");
  const std::string job = "dbfeedcancel" + std::to_string(getpid());
  Running feed = install.Start({"--dbfeed=c", "--jobname=" + job, install.logs.string()});
  // Cancelled once the first batch is saved.
  stat_e2e::WaitForFile(install.logs / "c-dbf-pendin.stat", 10000);
  Outcome cancel = install.Run({"--cancel=" + job});
  EXPECT_EQ(cancel.exitCode, 0) << cancel.err;
  const Outcome stopped = Wait(feed);
  EXPECT_EQ(stopped.exitCode, 1);
  EXPECT_NE(stopped.err.find("User abort."), std::string::npos);
  // Stopped between batches: the rows are exactly the lines the cursor passed.
  const std::string rows = db->Query("SELECT COUNT(*) FROM inbound;");
  const std::string cursor = ReadFile(install.logs / "c-dbf.stat");
  EXPECT_NE(cursor.find("last-in = " + yesterday.slashed + "," + rows.substr(0, rows.size() - 1) + "\r\n"),
            std::string::npos) << cursor << rows;
  EXPECT_LT(std::stoi(rows), 1000);
  Outcome run = install.Feed("c");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(db->Query("SELECT COUNT(*) FROM inbound;"), "1000\n");
}

TEST_F(DbfeedRun, UnreadableSmtpLogIsReportedAndTheCursorStays) {
  Configure("u");
  const Day today = LocalDay(0);
  // A folder in place of the log: it opens, and every read fails.
  fs::create_directories(install.logs / ("smtp" + today.compact + ".log"));
  WriteFile(install.logs / "u-dbf.stat", "last-in = " + today.slashed + ",0\n");
  WriteFile(install.logs / ("smtp-out" + today.compact + ".log"),
            SmtpLine("10:00:00", "a@x", "b@y", "1.1.1.1", "A----", MessageId(1)));
  Outcome run = install.Feed("u");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Failed to read SMTP log, new messages not stored, EC:-11\n\tFile: "),
            std::string::npos)
      << run.err;
  // The outgoing direction is still fed; the incoming cursor did not move.
  EXPECT_EQ(db->Query("SELECT COUNT(*) FROM outbound;"), "1\n");
  const std::string cursor = ReadFile(install.logs / "u-dbf.stat");
  EXPECT_NE(cursor.find("last-in = " + today.slashed + ",0"), std::string::npos) << cursor;
}

// A time zone in which the local time of day is now secondsOfDay, and the
// local day before it.
struct ShiftedClock {
  std::string tz;
  Day yesterday;
};
ShiftedClock ClockAt(long secondsOfDay) {
  const time_t now = time(nullptr);
  long west = (static_cast<long>(now % 86400) - secondsOfDay + 86400) % 86400;
  if (west > 43200) west -= 86400;
  char tz[32];
  std::snprintf(tz, sizeof tz, "XXX%c%02ld:%02ld:%02ld", west < 0 ? '-' : '+', labs(west) / 3600,
                labs(west) / 60 % 60, labs(west) % 60);
  const time_t yesterday = now - west - 86400;
  struct tm day{};
  gmtime_r(&yesterday, &day);
  return ShiftedClock{tz, DayOf(day)};
}

TEST_F(DbfeedRun, UnfinishedLastLineOfYesterdayWaitsInTheFirstMinuteAfterMidnight) {
  Configure("late");
  const ShiftedClock early = ClockAt(30);  // 00:00:30
  const std::string full = SmtpLine("23:59:58", "a@x", "b@y", "1.1.1.1", "A----", MessageId(1)) +
                           SmtpLine("23:59:59", "a@x", "c@y", "1.1.1.1", "A----", MessageId(2));
  const size_t cut = full.find(MessageId(2)) + 10;  // inside the second message ID
  const fs::path log = install.logs / ("smtp" + early.yesterday.compact + ".log");
  WriteFile(log, full.substr(0, cut));
  WriteFile(install.logs / "late-dbf.stat", "last-in = " + early.yesterday.slashed + ",0\n");
  Outcome run = install.Feed("late", {}, early.tz);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(db->Query("SELECT COUNT(*) FROM inbound;"), "1\n");
  EXPECT_NE(ReadFile(install.logs / "late-dbf.stat").find(early.yesterday.slashed + ",1"), std::string::npos);
  // The service finishes the line; a run after 00:01 stores it and moves on.
  AppendFile(log, full.substr(cut));
  const ShiftedClock later = ClockAt(120);
  ASSERT_EQ(later.yesterday.compact, early.yesterday.compact) << "midnight passed during the test";
  run = install.Feed("late", {}, later.tz);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(db->Query("SELECT TIME(msgtime), recipients FROM inbound ORDER BY msgtime;"),
            "23:59:58\tb@y\n23:59:59\tc@y\n");
}

TEST(DbfeedUsage, NamesConfigurationAndLockFailures) {
  FeedInstall install;  // (a bad feed name: the case usage/dbfeed_bad_feed_name)
  Outcome run = install.Feed("noconf");
  EXPECT_EQ(run.exitCode, 1);
  const std::string missing = "Unable to load configuration file, EC:-8\n\tFile: " +
                              (install.conf / "noconf-dbf.conf").string() + "\n";
  EXPECT_NE(run.err.find(missing), std::string::npos) << run.err;
  WriteFile(install.conf / "quote-dbf.conf", "nodeid = a\"b\r\n");
  run = install.Feed("quote");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Invalid value of key \"nodeid\""), std::string::npos) << run.err;
  LockFile* lock = nullptr;
  const std::string lockPath = (install.logs / "held-dbf.lck").string();
  std::wstring wide(lockPath.begin(), lockPath.end());
  ASSERT_EQ(LockFileOpen(wide.c_str(), &lock), 0);
  run = install.Feed("held");
  LockFileClose(lock);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Job \"held-dbf\" alrady running."), std::string::npos) << run.err;
}

}  // namespace
