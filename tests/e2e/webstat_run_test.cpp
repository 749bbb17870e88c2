// The built program's --webstat runs over generated proxy logs: forced
// eviction and stopping a run (the fixture cases are in cases/webstat).
#include "stat_support.h"

#include <cstdio>

namespace {

using namespace stat_e2e;

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

void LargeProxyLog(const fs::path& logs) { WriteLargeProxyLog(logs / "kelb20240316.log", 300000); }
using WebstatLargeLogTest = SharedLogsTest<LargeProxyLog>;

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
