// Incremental runs: --diff resumes a grown day after its stored lines and
// reads newer days from their start; --date forces days and keeps the state.
#include "stat_support.h"

namespace {

using namespace stat_e2e;

// A day whose lines are in time order (the resume filter relies on it).
const std::string kBaseLines =
    "1;08:00:00;0;a@x.org;b@y.org;192.0.2.1;A--;11A0\r\n"
    "2;09:00:00;550;c@x.org;d@y.org;192.0.2.2;R;11A1\r\n"
    "3;10:00:00;0;e@x.org;f@y.org;192.0.2.1;A--;11A2\r\n";
const std::string kAddedLines =
    "4;16:00:00;0;n@x.org;o@y.org;10.1.1.1;A--;11C0\r\n"
    "5;16:30:00;550;p@x.org;q@y.org;10.1.1.2;R;11C1\r\n";

// S line, 24 H lines with the given (ok, err) per hour, then the top lists.
std::string SmtpMetadata(const std::string& sLine, const std::vector<std::pair<int, std::pair<int, int>>>& hours,
                         const std::string& tail) {
  std::string text = sLine + "\r\n";
  for (int hour = 0; hour < 24; ++hour) {
    int ok = 0, err = 0;
    for (const auto& h : hours) {
      if (h.first == hour) {
        ok = h.second.first;
        err = h.second.second;
      }
    }
    char line[64];
    snprintf(line, sizeof line, "H;%02d;%d;%d;%d\r\n", hour, ok + err, ok, err);
    text += line;
  }
  return text + tail;
}

std::string BaseMetadata() {
  return SmtpMetadata("S;3;2;1", {{8, {1, 0}}, {9, {0, 1}}, {10, {1, 0}}},
                      "TIP;192.0.2.1;2\r\nTIP;192.0.2.2;1\r\nERR;0;2\r\nERR;550;1\r\n");
}

std::string AddedLinesMetadata() {
  return SmtpMetadata("S;2;1;1", {{16, {1, 1}}},
                      "TIP;10.1.1.1;1\r\nTIP;10.1.1.2;1\r\nERR;0;1\r\nERR;550;1\r\n");
}

std::string Expected(const std::string& name) { return ReadFile(FixtureDir() / "expected" / name); }

std::string StateValue(const fs::path& out, const std::string& key) {
  const std::string text = ReadFile(out / "_varno.stat");
  const size_t at = text.find(key + " = ");
  if (at == std::string::npos) return "";
  const size_t start = at + key.size() + 3;
  return text.substr(start, text.find("\r\n", start) - start);
}

TEST(StatDiffTest, GrownDayResumesAfterStoredLinesNewerDayStartsFreshAndNoDiffRereads) {
  Workspace ws("diff");
  WriteFile(ws.logs / "smtp20080427.log", kBaseLines);
  Outcome first = RunVarno(ws.Args({"--stat=SMTP-IN"}), ws.root);
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(ReadFile(ws.out / "_smtp20080427.csv"), BaseMetadata());
  EXPECT_EQ(StateValue(ws.out, "last_smtp_in"), "2008-04-27,147,3,10:00:00");
  const std::string stateBefore = ReadFile(ws.out / "_varno.stat");

  AppendFile(ws.logs / "smtp20080427.log", kAddedLines);
  ws.CopyFixtureLog("smtp20080428.log");
  Outcome second = RunVarno(ws.Args({"--stat=SMTP-IN", "--diff"}), ws.root);
  ASSERT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(ReadFile(ws.out / "_smtp20080427.csv"), AddedLinesMetadata());
  EXPECT_EQ(ReadFile(ws.out / "_smtp20080428.csv"), Expected("_smtp20080428.csv"));
  EXPECT_EQ(StateValue(ws.out, "last_smtp_in"),
            "2008-04-28," + std::to_string(fs::file_size(ws.logs / "smtp20080428.log")) +
                ",2,06:30:00");
  // The state as it was before this run is kept as "_varno.last".
  EXPECT_EQ(ReadFile(ws.out / "_varno.last"), stateBefore);
  // Without --diff a grown stored day is read from its start.
  AppendFile(ws.logs / "smtp20080428.log", "3;07:00:00;0;a;b;192.0.2.1;A--;12AC\r\n");
  ASSERT_EQ(RunVarno(ws.Args({"--stat=SMTP-IN"}), ws.root).exitCode, 0);
  const std::string text = ReadFile(ws.out / "_smtp20080428.csv");
  EXPECT_EQ(text.substr(0, text.find("\r\n")), "S;3;3;0");
}

TEST(StatDiffTest, UnchangedStoredDayIsNotReadAgainButDateForcesIt) {
  Workspace ws("unchanged");
  WriteFile(ws.logs / "smtp20080427.log", kBaseLines);
  ASSERT_EQ(RunVarno(ws.Args({"--stat=SMTP-IN"}), ws.root).exitCode, 0);
  fs::remove(ws.out / "_smtp20080427.csv");
  ws.CopyFixtureLog("smtp20080428.log");
  Outcome o = RunVarno(ws.Args({"--stat=SMTP-IN", "--diff", "-v"}), ws.root);
  ASSERT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(o.err, " SMTP-IN    : processing smtp20080428.log\n");
  EXPECT_FALSE(fs::exists(ws.out / "_smtp20080427.csv"));
  EXPECT_EQ(ReadFile(ws.out / "_smtp20080428.csv"), Expected("_smtp20080428.csv"));
  // Nothing new at all: nothing to do.
  Outcome again = RunVarno(ws.Args({"--stat=SMTP-IN", "--diff"}), ws.root);
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(again.err, "There is nothing to do.\n");
  // --date of a day older than the stored one reads it from its start and
  // leaves the state as it is.
  const std::string state = ReadFile(ws.out / "_varno.stat");
  ASSERT_NE(state, "");
  Outcome forced = RunVarno(ws.Args({"--stat=SMTP-IN", "--date=20080427"}), ws.root);
  ASSERT_EQ(forced.exitCode, 0) << forced.err;
  EXPECT_EQ(ReadFile(ws.out / "_smtp20080427.csv"), BaseMetadata());
  EXPECT_EQ(ReadFile(ws.out / "_varno.stat"), state);
}

TEST(StatDiffTest, DateWithDiffSkipsOlderDaysAndSavesTheState) {
  Workspace ws("datediff");
  WriteFile(ws.logs / "smtp20080427.log", kBaseLines);
  ASSERT_EQ(RunVarno(ws.Args({"--stat=SMTP-IN"}), ws.root).exitCode, 0);
  AppendFile(ws.logs / "smtp20080427.log", kAddedLines);
  ws.CopyFixtureLog("smtp20080428.log");
  Outcome o = RunVarno(ws.Args({"--stat=SMTP-IN", "--date=20080427", "--diff"}), ws.root);
  ASSERT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(ReadFile(ws.out / "_smtp20080427.csv"), AddedLinesMetadata());
  EXPECT_FALSE(fs::exists(ws.out / "_smtp20080428.csv"));
  EXPECT_EQ(StateValue(ws.out, "last_smtp_in"),
            "2008-04-27," + std::to_string(fs::file_size(ws.logs / "smtp20080427.log")) +
                ",5,16:30:00");
  // Now the stored day is 04-28 from a scan; --date of the older day with
  // --diff is not forced.
  ASSERT_EQ(RunVarno(ws.Args({"--stat=SMTP-IN"}), ws.root).exitCode, 0);
  fs::remove(ws.out / "_smtp20080427.csv");
  Outcome older = RunVarno(ws.Args({"--stat=SMTP-IN", "--date=20080427", "--diff"}), ws.root);
  EXPECT_EQ(older.exitCode, 0) << older.err;
  EXPECT_FALSE(fs::exists(ws.out / "_smtp20080427.csv"));
}

TEST(StatDiffTest, CommentsAndUnknownKeysOfTheStateSurvive) {
  Workspace ws("comments");
  ws.CopyFixtureLog("smtp20080428.log");
  fs::create_directories(ws.out);
  WriteFile(ws.out / "_varno.stat",
            "# front end settings\r\nfoo = bar\r\nlast_smtp_in = 2008-04-01,1,1,00:00:01  # old\r\n");
  ASSERT_EQ(RunVarno(ws.Args({"--stat=SMTP-IN"}), ws.root).exitCode, 0);
  EXPECT_EQ(ReadFile(ws.out / "_varno.stat"),
            "# front end settings\r\nfoo = bar\r\nlast_smtp_in = 2008-04-28," +
                std::to_string(fs::file_size(ws.logs / "smtp20080428.log")) +
                ",2,06:30:00  # old\r\n");
  EXPECT_EQ(ReadFile(ws.out / "_varno.last"),
            "# front end settings\r\nfoo = bar\r\nlast_smtp_in = 2008-04-01,1,1,00:00:01  # old\r\n");
}

}  // namespace
