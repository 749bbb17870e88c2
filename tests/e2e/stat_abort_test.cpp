// Stopping a metadata run: Ctrl+C in the middle of a large log, lock files
// of overlapping runs, post-processors after a successful run only.
#include "stat_support.h"

#include <cstdio>

namespace {

using namespace stat_e2e;

// A day of `lines` SMTP lines in time order with a few thousand addresses.
void WriteLargeSmtpLog(const fs::path& path, int lines) {
  FILE* file = fopen(path.string().c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::vector<char> buffer(1 << 20);
  setvbuf(file, buffer.data(), _IOFBF, buffer.size());
  for (int i = 0; i < lines; ++i) {
    const int second = static_cast<int>(static_cast<int64_t>(i) * 86399 / lines);
    fprintf(file, "%d;%02d:%02d:%02d;%d;s%d@x.org;r@y.org;10.%d.%d.%d;A--;%08X\r\n", i, second / 3600,
            second / 60 % 60, second % 60, i % 7 == 0 ? 550 : 0, i % 100, i % 3, i % 17, i % 61, i);
  }
  fclose(file);
}

std::vector<std::string> LeftoverRunFiles(const fs::path& out) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(out)) {
    const std::string name = entry.path().filename().string();
    if (name != "_varno.stat" && name != "_varno.last" && name.rfind("_varno", 0) == 0) {
      names.push_back(name);
    }
  }
  return names;
}

void LargeSmtpLog(const fs::path& logs) { WriteLargeSmtpLog(logs / "smtp20080427.log", 2000000); }
using StatLargeLogTest = SharedLogsTest<LargeSmtpLog>;

TEST_F(StatLargeLogTest, CtrlCStopsTheItemAndKeepsTheState) {
  if (!CanInterruptPrograms()) GTEST_SKIP() << "no console to send Ctrl+C through";
  const Workspace& ws = *shared_;
  fs::remove_all(ws.out);
  fs::create_directories(ws.out);
  const std::string state = "# kept as it is\r\nlast_smtp_in = 2008-04-26,10,1,00:00:01\r\n";
  WriteFile(ws.out / "_varno.stat", state);
  Running run = StartVarno(ws.Args({"--stat=SMTP-IN"}), ws.root);
  const bool midRun = WaitForItemProgress(ws.out / "_varno.run", 60000);
  InterruptProgram(run);
  Outcome o = Wait(run);
  ASSERT_TRUE(midRun) << "the run never reported progress inside the log";
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_NE(o.err.find("User abort."), std::string::npos) << o.err;
  EXPECT_FALSE(fs::exists(ws.out / "_smtp20080427.csv"));
  EXPECT_EQ(ReadFile(ws.out / "_varno.stat"), state);
  EXPECT_TRUE(LeftoverRunFiles(ws.out).empty());
}

TEST_F(StatLargeLogTest, CancelFromAnotherProcessStopsTheJobAndANameIsHeldOnce) {
  const Workspace& ws = *shared_;
  fs::remove_all(ws.out);
  fs::create_directories(ws.out);
  // Two items over the large log, so the run is still going when the cancel comes.
  Running run = StartVarno(ws.Args({"--stat=SMTP-IN,SMTP-CHART", "--jobname=Nightly"}), ws.root);
  const bool midRun = WaitForItemProgress(ws.out / "_varno.run", 60000);
  // The name is taken: a search with it fails before reading anything.
  Outcome second = RunVarno({"--search=", "--jobname=nightly", ws.logs.string()}, ws.root);
  Outcome cancel = RunVarno({"--cancel=NIGHTLY"}, ws.root);
  Outcome o = Wait(run);
  ASSERT_TRUE(midRun) << "the run never reported progress inside the log";
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_NE(second.err.find("EC: -7"), std::string::npos) << second.err;
  EXPECT_EQ(cancel.exitCode, 0) << cancel.err;
  EXPECT_EQ(cancel.err, "");
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_NE(o.err.find("User abort."), std::string::npos) << o.err;
  EXPECT_FALSE(fs::exists(ws.out / "_smtpstat" / "_smtp20080427.csv"));
  EXPECT_FALSE(fs::exists(ws.out / "_varno.stat"));
  EXPECT_TRUE(LeftoverRunFiles(ws.out).empty());
}

TEST_F(StatLargeLogTest, OverlappingRunsAreRefusedAndDisjointOnesRunSideBySide) {
  const Workspace& ws = *shared_;
  fs::remove_all(ws.out);
  fs::copy_file(FixtureDir() / "logs/rbl20080427.log", ws.logs / "rbl20080427.log",
                fs::copy_options::overwrite_existing);
  fs::copy_file(FixtureDir() / "logs/smtp-out20080427.log", ws.logs / "smtp-out20080427.log",
                fs::copy_options::overwrite_existing);
  Outcome second, third, done;
  bool firstStillRunning = false;
  // On a busy machine the first run may end before the others start; such a
  // round proves nothing, so it is run again from an empty output folder.
  for (int attempt = 0; attempt < 5 && !firstStillRunning; ++attempt) {
    fs::remove_all(ws.out);
    Running first = StartVarno(ws.Args({"--stat=SMTP-IN"}), ws.root);
    ASSERT_TRUE(WaitForItemProgress(ws.out / "_varno.run", 60000));
    // SMTP covers SMTP-IN, which the first run holds; RBL-IN shares no type
    // with it. Both start at once, so that they end while the first still runs.
    Running secondRun = StartVarno(ws.Args({"--stat=SMTP"}), ws.root);
    Running thirdRun = StartVarno(ws.Args({"--stat=RBL-IN", "--progress=rbl.run"}), ws.root);
    second = Wait(secondRun);
    third = Wait(thirdRun);
    firstStillRunning = fs::exists(ws.out / "_varno_SMTP-IN.lock");
    done = Wait(first);
  }
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_NE(second.err.find("Another instance already running.\n"), std::string::npos) << second.err;
  EXPECT_FALSE(fs::exists(ws.out / "_smtp-out20080427.csv"));
  EXPECT_EQ(third.exitCode, 0) << third.err;
  EXPECT_EQ(ReadFile(ws.out / "_rbl20080427.csv"), ReadFile(FixtureDir() / "expected/_rbl20080427.csv"));
  EXPECT_TRUE(firstStillRunning);
  EXPECT_EQ(done.exitCode, 0) << done.err;
  EXPECT_TRUE(fs::exists(ws.out / "_smtp20080427.csv"));
  // Both runs stored their own type; the refused one stored nothing.
  const std::string state = ReadFile(ws.out / "_varno.stat");
  EXPECT_NE(state.find("last_smtp_in = 2008-04-27,"), std::string::npos) << state;
  EXPECT_NE(state.find("last_rbl_in = 2008-04-27,"), std::string::npos) << state;
  EXPECT_EQ(state.find("last_smtp_out"), std::string::npos) << state;
  EXPECT_TRUE(LeftoverRunFiles(ws.out).empty());
  fs::remove(ws.logs / "rbl20080427.log");
  fs::remove(ws.logs / "smtp-out20080427.log");
}

}  // namespace
