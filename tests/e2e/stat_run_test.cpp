// The metadata generator run end to end on the fixture logs: every file of
// every type byte for byte, --top and --units, missing logs, empty folders.
#include "stat_support.h"

namespace {

using namespace stat_e2e;

void ExpectSameTree(const fs::path& expected, const fs::path& actual) {
  auto want = MetadataFiles(expected);
  auto got = MetadataFiles(actual);
  std::vector<std::string> wantNames, gotNames;
  for (auto& f : want) wantNames.push_back(f.first);
  for (auto& f : got) gotNames.push_back(f.first);
  ASSERT_EQ(wantNames, gotNames);
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(want[i].second, got[i].second) << want[i].first;
  }
}

std::vector<std::string> StateLines(const fs::path& out) {
  std::vector<std::string> lines;
  std::string text = ReadFile(out / "_varno.stat");
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start) + "<no CR LF>");
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string SizeOf(const fs::path& path) { return std::to_string(fs::file_size(path)); }

TEST(StatRunTest, AllTypesWriteEveryMetadataFileAndTheState) {
  Workspace ws("all");
  ws.CopyAllFixtureLogs();
  Outcome o = RunVarno(ws.Args({"--stat=ALL"}), ws.root);
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(o.out, "");
  ExpectSameTree(FixtureDir() / "expected", ws.out);
  const std::string smtp28 = SizeOf(ws.logs / "smtp20080428.log");
  // Line counts include the lines without a time and the pieces of the long line.
  std::vector<std::string> expected = {
      "last_smtp_in = 2008-04-28," + smtp28 + ",2,06:30:00",
      "last_smtp_out = 2008-04-27," + SizeOf(ws.logs / "smtp-out20080427.log") + ",3,10:00:00",
      "last_smtp_chart = 2008-04-28," + smtp28 + ",2,06:30:00",
      "last_rbl_in = 2008-04-27," + SizeOf(ws.logs / "rbl20080427.log") + ",11,12:00:00",
      "last_rbl_out = 2008-04-27," + SizeOf(ws.logs / "rbl-out20080427.log") + ",2,09:05:00",
      "last_rbl_chart = 2008-04-27," + SizeOf(ws.logs / "rbl20080427.log") + ",11,12:00:00",
      "last_post_in = 2008-04-27," + SizeOf(ws.logs / "postponer20080427.log") + ",12,22:17:00",
      "last_post_out = 2008-04-27," + SizeOf(ws.logs / "postponer-out20080427.log") + ",2,10:00:01",
      "last_bip = 2008-04-27," + SizeOf(ws.logs / "rbl20080427.log") + ",11,12:00:00",
  };
  EXPECT_EQ(StateLines(ws.out), expected);
  // The first run has no state to back up; lock and progress files are gone.
  EXPECT_FALSE(fs::exists(ws.out / "_varno.last"));
  EXPECT_FALSE(fs::exists(ws.out / "_varno.run"));
  for (const auto& entry : fs::directory_iterator(ws.out)) {
    EXPECT_EQ(entry.path().extension().string() == ".lock", false) << entry.path();
  }
}

TEST(StatRunTest, TopAndUnitsShapeTheTopListsAndSizes) {
  Workspace ws("units");
  ws.CopyFixtureLog("smtp20080427.log");
  ws.CopyFixtureLog("rbl20080427.log");
  Outcome o = RunVarno(ws.Args({"--stat=SMTP-IN,RBL-IN", "--top=2", "--units=KiB"}), ws.root);
  EXPECT_EQ(o.exitCode, 0) << o.err;
  ExpectSameTree(FixtureDir() / "expected_units_top", ws.out);
}

TEST(StatRunTest, EmptyFolderMissingLogsAndProgressLines) {
  Workspace ws("missing");
  // An empty log folder: nothing to do, the state saved all the same.
  Outcome empty = RunVarno(ws.Args({"--stat=ALL"}), ws.root);
  EXPECT_EQ(empty.exitCode, 0) << empty.err;
  EXPECT_EQ(empty.err, "There is nothing to do.\n");
  EXPECT_EQ(ReadFile(ws.out / "_varno.stat"), "");
  ws.CopyFixtureLog("smtp20080427.log");
  // A missing log is reported at verbosity two only and is no error.
  Outcome quiet = RunVarno(ws.Args({"--stat=SMTP-IN", "--date=20080426"}), ws.root);
  EXPECT_EQ(quiet.exitCode, 0) << quiet.err;
  EXPECT_EQ(quiet.err, "");
  Outcome o = RunVarno(ws.Args({"--stat=SMTP-IN,RBL-IN", "--date=20080426,20080427", "-v", "-v"}),
                       ws.root);
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_NE(o.err.find(" SMTP-IN    : log file smtp20080426.log doesn't exist\n"), std::string::npos)
      << o.err;
  EXPECT_NE(o.err.find(" RBL-IN     : log file rbl20080427.log doesn't exist\n"), std::string::npos)
      << o.err;
  EXPECT_NE(o.err.find(" SMTP-IN    : processing smtp20080427.log\n"), std::string::npos) << o.err;
  EXPECT_TRUE(fs::exists(ws.out / "_smtp20080427.csv"));
  EXPECT_FALSE(fs::exists(ws.out / "_smtp20080426.csv"));
  EXPECT_FALSE(fs::exists(ws.out / "_rbl20080427.csv"));
  // Verbosity one: a line per item and log.
  Outcome verbose = RunVarno(ws.Args({"--stat=SMTP-IN,SMTP-CHART", "-v", "--date=20080427"}), ws.root);
  EXPECT_EQ(verbose.exitCode, 0) << verbose.err;
  EXPECT_EQ(verbose.err,
            " SMTP-IN    : processing smtp20080427.log\n"
            " SMTP-CHART : processing smtp20080427.log\n");
}

TEST(StatRunTest, ScanIgnoresNamesThatAreNotExactlyADate) {
  Workspace ws("names");
  ws.CopyFixtureLog("smtp2008042.log");
  ws.CopyFixtureLog("smtp20080427-old.log");
  fs::copy_file(FixtureDir() / "logs/smtp20080428.log", ws.logs / "SMTP20080428.LOG");
  Outcome o = RunVarno(ws.Args({"--stat=SMTP-IN", "-v"}), ws.root);
  EXPECT_EQ(o.exitCode, 0) << o.err;
  auto files = MetadataFiles(ws.out);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].first, "_smtp20080428.csv");
  EXPECT_EQ(files[0].second, ReadFile(FixtureDir() / "expected/_smtp20080428.csv"));
}

}  // namespace
