// --merge end to end: merging the summaries of disjoint day ranges gives the
// summary of all the days (failures are cases in cases/merge).
#include <cctype>

#include "stat_support.h"

namespace {

using namespace stat_e2e;

std::string Folded(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Days of proxy log from the generator: each range is generated on its own and
// ends with a proxy reset, so no transaction crosses from one range into the
// next; without hostile lines, whose stray traffic lines would be looked up in
// earlier days.
void Generate(const fs::path& dir, const std::string& start, int days, int seed) {
  const fs::path genproxy = fs::path(VARNO_BIN_DIR) / ("genproxy" + fs::path(VARNO_BIN).extension().string());
  Running run = StartProgram(genproxy.string(),
                             {"--quiet", "--close-at-end", "--hostile-rate", "0", "--lines-per-day", "4000",
                              "--out", dir.string(), "--start", start, "--days", std::to_string(days),
                              "--seed", std::to_string(seed)},
                             dir.parent_path());
  ASSERT_EQ(Wait(run).exitCode, 0);
}

TEST(MergeTest, SummariesOfDisjointRangesMergeToTheSummaryOfAllDays) {
  Workspace ws("merge");
  const fs::path ranges[] = {ws.root / "r1", ws.root / "r2", ws.root / "r3"};
  Generate(ranges[0], "20240501", 2, 1);
  Generate(ranges[1], "20240503", 1, 2);
  Generate(ranges[2], "20240504", 2, 3);
  std::vector<std::string> mergeArgs = {"--merge", "--top=0", "--units=KiB", "--quantum=30M",
                                        "-vvvvvvvvvv"};
  for (int i = 0; i < 3; ++i) {
    for (const auto& entry : fs::directory_iterator(ranges[i])) {
      fs::copy_file(entry.path(), ws.logs / entry.path().filename());
    }
    const std::string result = (ws.root / ("part" + std::to_string(i) + ".txt")).string();
    // The parts in bytes and a finer quantum than the merge.
    Outcome part = RunVarno({"--webstat=", "--outform=summary", "--top=0",
                             "--quantum=5M", "--output=" + result, ranges[i].string()},
                            ws.root);
    ASSERT_EQ(part.exitCode, 0) << part.err;
    mergeArgs.push_back(result);
  }
  const fs::path all = ws.root / "all.txt";
  Outcome whole = RunVarno({"--webstat=", "--outform=summary", "--top=0", "--units=KiB",
                            "--quantum=30M", "--output=" + all.string(), ws.logs.string()},
                           ws.root);
  ASSERT_EQ(whole.exitCode, 0) << whole.err;
  const fs::path merged = ws.root / "merged.txt";
  mergeArgs.push_back("--output=" + merged.string());
  Outcome merge = RunVarno(mergeArgs, ws.root);
  ASSERT_EQ(merge.exitCode, 0) << merge.err;
  EXPECT_NE(merge.err.find("merge " + (ws.root / "part1.txt").string() + "\n"), std::string::npos);
  const std::string expected = Folded(ReadFile(all));
  EXPECT_GT(expected.size(), 1000u);
  EXPECT_EQ(Folded(ReadFile(merged)), expected);
}

}  // namespace
