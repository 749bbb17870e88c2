// The built program's --webstat runs over fixture proxy logs: the result file
// and the listing byte for byte, conditions, sort orders, paging, transactions
// in doubt, forced eviction, hostile lines and stopping a run.
#include "stat_support.h"

#include <cstdio>
#include <sstream>

namespace {

using namespace stat_e2e;

fs::path Fixtures() { return fs::path(VARNO_SOURCE_DIR) / "tests/e2e/fixtures/webstat"; }

Outcome RunOnFixtures(const Workspace& ws, std::vector<std::string> args) {
  args.push_back(Fixtures().string());
  return RunVarno(args, ws.root);
}

// "time;kind;last id digit;field 6" of every listed line, joined by blanks.
std::string Digest(const std::string& listing) {
  std::istringstream lines(listing);
  std::string line;
  std::string digest;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream parts(line);
    std::string field;
    while (std::getline(parts, field, ';')) fields.push_back(field);
    if (fields.size() < 6) continue;
    if (!digest.empty()) digest += ' ';
    digest += fields[1] + ";" + fields[2] + ";" + fields[3].substr(fields[3].size() - 1) + ";" +
              fields[5];
  }
  return digest;
}

TEST(WebstatRun, SummaryThenListingOnStandardOutputAndInAFileOrSummaryAlone) {
  Workspace ws("both");
  const std::string expected = ReadFile(Fixtures() / "expected_both.txt");
  Outcome plain = RunOnFixtures(ws, {"--webstat="});
  EXPECT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_EQ(plain.out, expected);
  EXPECT_EQ(plain.err, "");
  const fs::path result = ws.root / "result.txt";
  Outcome filed = RunOnFixtures(ws, {"-v", "--webstat=", "--output=" + result.string()});
  EXPECT_EQ(filed.exitCode, 0) << filed.err;
  EXPECT_EQ(filed.out, "");
  EXPECT_EQ(ReadFile(result), Crlf(expected));
  EXPECT_EQ(filed.err, "searching...\n10 item(s) match.\n");
  // The summary alone of an interval, with top lists, units and quantum.
  Outcome o = RunOnFixtures(ws, {"--webstat=start=2024/03/11 10:00:00;end=2024/03/12 00:30:00",
                                 "--outform=summary", "--top=2", "--units=KiB", "--quantum=1H"});
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(o.out, ReadFile(Fixtures() / "expected_summary_top2.txt"));
}

TEST(WebstatRun, ConditionsOfEveryKind) {
  Workspace ws("conditions");
  const struct {
    const char* condition;
    const char* digest;
  } cases[] = {
      {"user=alice", "10:00:20;E;1;100 11:00:30;E;3;5"},
      {"ip=10.0.0.3", "23:59:00;B;5;7 23:59:00;B;5;9 00:20:00;E;4;1000"},
      {"ip=10.0.0.0/30",
       "10:00:20;E;1;100 10:50:00;E;2;2048 11:00:30;E;3;5 23:59:00;B;5;7 23:59:00;B;5;9 "
       "00:20:00;E;4;1000"},
      {"host=*news*", "10:50:00;E;2;2048"},
      {"site=ads.*;host=files.*", "11:00:30;E;3;5 00:20:00;E;4;1000"},
      {"code=403", "10:50:00;E;2;2048 11:00:30;E;3;5"},
      {"content=text/html", "10:00:20;E;1;100 11:00:30;E;3;5"},
      {"volume=-6KiB", "11:00:30;E;3;5"},
      {"volume=1000", "10:00:20;E;1;100 10:50:00;E;2;2048 11:00:30;E;3;5 00:20:00;E;4;1000"},
      {"volume=1 MB", "10:50:00;E;2;2048"},
      {"blocked=virus", "10:50:00;E;2;2048"},
      {"blocked=wf", "11:00:30;E;3;5"},
      {"blocked=none", "10:00:20;E;1;100 00:20:00;E;4;1000"},
      {"blocked=!none", "10:50:00;E;2;2048 11:00:30;E;3;5"},
      {"wfcat=advert", "10:00:20;E;1;100 11:00:30;E;3;5"},
      {"wfcat=whitelist", "10:50:00;E;2;2048 00:20:00;E;4;1000"},
      {"wfcat=-advert", "10:00:20;E;1;100"},
      {"wfcat=0x4", "10:00:20;E;1;100"},
      {"phase=incomplete", "22:00:00;B;7;50 23:59:00;B;5;9"},
      {"phase=finished",
       "09:00:00;B;8;1 10:00:20;E;1;100 10:50:00;E;2;2048 11:00:30;E;3;5 22:00:00;B;7;4 "
       "23:59:00;B;5;7 00:20:00;E;4;1000 01:00:00;B;6;1"},
      // The opening lines of the transactions in doubt lie before the start:
      // the re-parse of the earlier day finds them.
      {"start=2024/03/12", "22:00:00;B;7;50 23:59:00;B;5;9 00:20:00;E;4;1000 01:00:00;B;6;1"},
      {"end=2024/03/11",
       "09:00:00;B;8;1 10:00:20;E;1;100 10:50:00;E;2;2048 11:00:30;E;3;5 22:00:00;B;7;4 "
       "23:50:00;B;4;1 23:59:00;B;5;7"},
  };
  for (const auto& c : cases) {
    Outcome o = RunOnFixtures(ws, {"--outform=search", std::string("--webstat=") + c.condition});
    EXPECT_EQ(o.exitCode, 0) << c.condition << ": " << o.err;
    EXPECT_EQ(Digest(o.out), c.digest) << c.condition;
  }
}

TEST(WebstatRun, EverySortColumnBothWays) {
  Workspace ws("sort");
  const struct {
    const char* option;
    const char* order;  // last id digit and field 6 of each line
  } cases[] = {
      {"--sort=time", "8;1 1;100 2;2048 3;5 7;4 7;50 5;7 5;9 4;1000 6;1"},
      {"--rev-sort=time", "6;1 4;1000 5;7 5;9 7;4 7;50 3;5 2;2048 1;100 8;1"},
      {"--sort=from", "8;1 1;100 2;2048 3;5 7;4 7;50 5;7 5;9 4;1000 6;1"},
      {"--sort=user", "1;100 3;5 2;2048 5;7 5;9 4;1000 6;1 8;1 7;4 7;50"},
      {"--rev-sort=user", "7;4 7;50 8;1 6;1 5;7 5;9 4;1000 2;2048 1;100 3;5"},
      {"--sort=ip", "1;100 3;5 2;2048 5;7 5;9 4;1000 6;1 7;4 7;50 8;1"},
      {"--rev-sort=ip", "8;1 7;4 7;50 6;1 5;7 5;9 4;1000 2;2048 1;100 3;5"},
      {"--sort=host", "3;5 7;4 7;50 8;1 4;1000 2;2048 5;7 5;9 1;100 6;1"},
      {"--rev-sort=site", "1;100 6;1 5;7 5;9 2;2048 4;1000 8;1 7;4 7;50 3;5"},
      {"--sort=volume", "8;1 6;1 7;4 3;5 5;7 5;9 7;50 1;100 4;1000 2;2048"},
      {"--rev-sort=volume", "2;2048 4;1000 1;100 7;50 5;9 5;7 3;5 7;4 8;1 6;1"},
      {"--sort=id", "1;100 2;2048 3;5 4;1000 5;7 5;9 6;1 7;4 7;50 8;1"},
      {"--rev-sort=id", "8;1 7;4 7;50 6;1 5;7 5;9 4;1000 3;5 2;2048 1;100"},
  };
  for (const auto& c : cases) {
    Outcome o = RunOnFixtures(ws, {"--outform=search", "--webstat=", c.option});
    EXPECT_EQ(o.exitCode, 0) << c.option << ": " << o.err;
    std::string order;
    std::istringstream digest(Digest(o.out));
    std::string item;
    while (digest >> item) {
      size_t kind = item.find(';', item.find(';') + 1);
      if (!order.empty()) order += ' ';
      order += item.substr(kind + 1);
    }
    EXPECT_EQ(order, c.order) << c.option;
  }
}

TEST(WebstatRun, PageHeadersCountPagesAndHits) {
  Workspace ws("paging");
  const std::string b5 =
      "2024/03/11;23:59:00;B;0004dddd00000000000000000000000000000005;7;%s;10.0.0.3;carol;"
      "stream.example.com;3;\n";
  char first[256];
  char second[256];
  std::snprintf(first, sizeof first, b5.c_str(), "7");
  std::snprintf(second, sizeof second, b5.c_str(), "9");
  const std::string e4 =
      "2024/03/12;00:20:00;E;0003cccc00000000000000000000000000000004;0;1000;10.0.0.3;carol;"
      "files.example.com;200;x;;;0;;;0;;;;application/zip\n";
  Outcome two = RunOnFixtures(ws, {"--webstat=user=carol", "--outform=search", "--paging=2"});
  EXPECT_EQ(two.exitCode, 0) << two.err;
  EXPECT_EQ(two.out, "\n#[1;2;1;3]\n\n" + std::string(first) + second + "\n#[2;2;3;3]\n\n" + e4);
  Outcome one = RunOnFixtures(ws, {"--webstat=user=carol", "--outform=search", "--paging=1"});
  EXPECT_EQ(one.out, "\n#[1;3;1;3]\n\n" + std::string(first) + "\n#[2;3;2;3]\n\n" + second +
                         "\n#[3;3;3;3]\n\n" + e4);
  // Both forms: the summary first, then the paged list.
  Outcome both = RunOnFixtures(ws, {"--webstat=user=carol", "--paging=5"});
  const std::string list = "\n#[1;1;1;3]\n\n" + std::string(first) + second + e4;
  ASSERT_GT(both.out.size(), list.size());
  EXPECT_EQ(both.out.substr(both.out.size() - list.size()), list);
  EXPECT_EQ(both.out.rfind("params;start=1601/01/01 00:00:00;end=1601/01/01 00:00:00\n", 0), 0u);
}

TEST(WebstatRun, NothingFoundLeavesAnEmptyOutputFileALogInCapitalsIsFound) {
  Workspace ws("empty");
  const fs::path result = ws.root / "result.txt";
  WriteFile(result, "old content");
  Outcome none = RunOnFixtures(
      ws, {"-v", "--webstat=user=nobody", "--outform=search", "--output=" + result.string()});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_EQ(none.err, "searching...\n0 item(s) match.\n");
  EXPECT_TRUE(fs::exists(result));
  EXPECT_EQ(ReadFile(result), "");
  // No log in the interval.
  Outcome noDays = RunOnFixtures(ws, {"--webstat=start=2025/01/01", "--output=" + result.string()});
  EXPECT_EQ(noDays.exitCode, 1);
  EXPECT_EQ(noDays.out, "");
  EXPECT_EQ(ReadFile(result), "");
  // A log named in capitals is found.
  fs::copy_file(Fixtures() / "kelb20240311.log", ws.logs / "KELB20240311.LOG");
  Outcome o = RunVarno({"--webstat=user=alice", "--outform=search", ws.logs.string()}, ws.root);
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(Digest(o.out), "10:00:20;E;1;100 11:00:30;E;3;5");
}

TEST(WebstatRun, EveryOpeningLineOfATransactionInDoubtIsTaken) {
  // Two openings of one id on the day before the start, its traffic on the
  // start day: the re-parse takes both openings.
  Workspace ws("doubt");
  const fs::path dir = fs::path(VARNO_SOURCE_DIR) / "tests/e2e/fixtures/webstat_doubt";
  for (const char* form : {"search", "summary"}) {
    Outcome o = RunVarno({"--webstat=start=2024/04/02", std::string("--outform=") + form,
                          dir.string()}, ws.root);
    EXPECT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(o.out, ReadFile(dir / (std::string("expected_") + form + ".txt"))) << form;
  }
}

TEST(WebstatRun, QuantumZeroIsFifteenMinutesInRunAndMerge) {
  Workspace ws("quantum0");
  const fs::path parts = ws.root / "parts.txt";
  // Two series lines 5 minutes apart fall into one 15-minute bucket.
  WriteFile(parts, "H;2024/03/11;10:05;100;1;0;0\nH;2024/03/11;10:10;50;2;0;0\n");
  const std::vector<std::string> runs[] = {
      {"--webstat=", "--outform=summary", Fixtures().string()},
      {"--merge", parts.string()},
  };
  for (const auto& args : runs) {
    std::vector<std::string> zero = args;
    std::vector<std::string> fifteen = args;
    zero.push_back("--quantum=0");
    fifteen.push_back("--quantum=15");
    Outcome a = RunVarno(zero, ws.root);
    Outcome b = RunVarno(fifteen, ws.root);
    EXPECT_EQ(a.exitCode, 0) << a.err;
    EXPECT_EQ(a.out, b.out) << args[0];
  }
  Outcome merged = RunVarno({"--merge", "--quantum=0", parts.string()}, ws.root);
  EXPECT_NE(merged.out.find("\nH;2024/03/11;10:00;150;3;0;0;0;0;0;0;0;0;0;0\n"), std::string::npos)
      << merged.out;
  Outcome run = RunVarno({"--webstat=", "--outform=summary", "--quantum=0", Fixtures().string()},
                         ws.root);
  EXPECT_NE(run.out.find("\nH;2024/03/11;10:15;"), std::string::npos) << run.out;
}

TEST(WebstatRun, BadConditionsPrintMessage33) {
  Workspace ws("bad");
  for (const char* value :
       {"volume=10 TB", "wfcat=", "blocked=virus,worm", "phase=done", "colour=red", "ip=10.0.0.1-x"}) {
    Outcome o = RunOnFixtures(ws, {std::string("--webstat=") + value});
    EXPECT_EQ(o.exitCode, 1) << value;
    EXPECT_EQ(o.out, "") << value;
    EXPECT_EQ(o.err.rfind(std::string("Invalid condition\n\t\"") + value + "\"\nEC: -29\n", 0), 0u) << o.err;
  }
}

TEST(WebstatRun, ForcedEvictionKeepsEveryFinishedTransaction) {
  Workspace ws("evict");
  // 12000 transactions open at once whose ids agree in their first four bytes.
  const int count = 12000;
  std::string log;
  std::string expected;
  char line[256];
  for (int i = 0; i < count; ++i) {
    std::snprintf(line, sizeof line, "2024/03/14;%02d:%02d:%02d;B;abcd0000%032x;1;0;10.1.%d.%d;u%d;h%d.example\n",
                  i / 3600, i / 60 % 60, i % 60, i, i / 256 % 256, i % 256, i % 50, i % 70);
    log += line;
  }
  for (int i = 0; i < count; ++i) {
    const int t = 40000 + i;
    std::snprintf(line, sizeof line,
                  "2024/03/14;%02d:%02d:%02d;E;abcd0000%032x;0;%d;10.1.%d.%d;u%d;h%d.example;200\n",
                  t / 3600, t / 60 % 60, t % 60, i, i + 1, i / 256 % 256, i % 256, i % 50, i % 70);
    log += line;
    expected += line;
  }
  WriteFile(ws.logs / "kelb20240314.log", log);
  Outcome listing = RunVarno({"--webstat=", "--outform=search", ws.logs.string()}, ws.root);
  EXPECT_EQ(listing.exitCode, 0) << listing.err;
  EXPECT_TRUE(listing.out == expected) << "listing of " << listing.out.size() << " bytes differs";
  Outcome summary =
      RunVarno({"-v", "--webstat=", "--outform=summary", ws.logs.string()}, ws.root);
  EXPECT_EQ(summary.exitCode, 0) << summary.err;
  EXPECT_NE(summary.err.find("12000 item(s) match."), std::string::npos) << summary.err;
  EXPECT_NE(summary.out.find("\nS;" + std::to_string(uint64_t{count} * (count + 1) / 2 * 1024) + ";"),
            std::string::npos);
}

TEST(WebstatRun, HostileLinesAreSkippedOrReadAsFarAsTheyGo) {
  Workspace ws("hostile");
  const std::string nulLine = std::string("2024/03/15;10:00:02;E;00ff", 26) + '\0' + "junk;0;1;1.2.3.4\n";
  const std::string longHead = "2024/03/15;10:00:03;E;abcd;0;2;1.2.3.5;u;h;200;";
  const std::string longLine = longHead + std::string(40000, 'x') + "\n";
  const std::string log = std::string("2024/03/15;10:00:00;B;zz11;1\n") +
                          "2024/03/15;10:00:01;E;zz11;0;3;1.2.3.4;u;h;200\n" + nulLine + longLine +
                          "2024/03/15;25:00:00;E;01;0;4;1.2.3.4;u;h;200\n"
                          "2024/03/15;10:00:04;X;02;0;5;1.2.3.4;u;h;200\n"
                          ";;;;;;;;;;\n"
                          "2024/03/15;10:00:05\n"
                          "2024/03/15;10:00:06;T\n"
                          "\n";
  WriteFile(ws.logs / "kelb20240315.log", log);
  Outcome o = RunVarno({"--webstat=", "--outform=search", ws.logs.string()}, ws.root);
  EXPECT_EQ(o.exitCode, 0) << o.err;
  // The traffic line without an id leaves a transaction in doubt; without
  // summary output the re-parse takes any line of that id but traffic as its
  // opening, here the line that ends after its time.
  const std::string expected = "2024/03/15;10:00:01;E;zz11;0;3;1.2.3.4;u;h;200\n"
                               "2024/03/15;10:00:02;E;00ff\n" +
                               longLine.substr(0, 32767) + "\n" + "2024/03/15;10:00:05\n";
  EXPECT_TRUE(o.out == expected) << o.out.substr(0, 200);
}

// A day of `pairs` transactions (an opening and a closing line each).
void WriteLargeProxyLog(const fs::path& path, int pairs) {
  FILE* file = fopen(path.string().c_str(), "wb");
  ASSERT_NE(file, nullptr);
  for (int i = 0; i < pairs; ++i) {
    const int second = static_cast<int>(static_cast<int64_t>(i) * 86399 / pairs);
    fprintf(file,
            "2024/03/16;%02d:%02d:%02d;B;%040x;1;0;10.0.%d.%d;user%d;host%d.example\n"
            "2024/03/16;%02d:%02d:%02d;E;%040x;0;7;10.0.%d.%d;user%d;host%d.example;200;;;;0;;;0;;;;"
            "text/html\n",
            second / 3600, second / 60 % 60, second % 60, i, i % 7, i % 200, i % 300, i % 900,
            second / 3600, second / 60 % 60, second % 60, i, i % 7, i % 200, i % 300, i % 900);
  }
  fclose(file);
}

class WebstatLargeLogTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    shared_ = new Workspace("large");
    WriteLargeProxyLog(shared_->logs / "kelb20240316.log", 300000);
  }
  static void TearDownTestSuite() {
    delete shared_;
    shared_ = nullptr;
  }
  static Workspace* shared_;
};
Workspace* WebstatLargeLogTest::shared_ = nullptr;

TEST_F(WebstatLargeLogTest, CtrlCAndCancelEndTheRunWithoutAnOutputFile) {
  const Workspace& ws = *shared_;
  const fs::path result = ws.root / "result.txt";
  const fs::path progress = ws.root / "webstat.run";
  for (bool cancel : {false, true}) {
    if (!cancel && !CanInterruptPrograms()) continue;  // no console to send Ctrl+C through
    std::vector<std::string> args = {"--webstat=", "--output=" + result.string(),
                                     "--progress=" + progress.string(), ws.logs.string()};
    if (cancel) args.push_back("--jobname=webnight");
    // On a busy machine the run may end before the stop reaches it; such a
    // finished run proves nothing here, so it is tried again.
    Outcome o;
    bool midRun = false;
    for (int attempt = 0; attempt < 5; ++attempt) {
      fs::remove(result);
      Running run = StartVarno(args, ws.root);
      midRun = WaitForItemProgress(progress, 60000);
      if (cancel) {
        Outcome stop = RunVarno({"--cancel=WebNight"}, ws.root);
        EXPECT_EQ(stop.exitCode, 0) << stop.err;
      } else {
        InterruptProgram(run);
      }
      o = Wait(run);
      if (midRun && o.exitCode != 0) break;
    }
    ASSERT_TRUE(midRun) << "the run never reported progress inside the log";
    EXPECT_EQ(o.exitCode, 1) << cancel;
    EXPECT_NE(o.err.find("User abort."), std::string::npos) << o.err;
    EXPECT_FALSE(fs::exists(result));
    EXPECT_FALSE(fs::exists(progress));
  }
}

}  // namespace
