// --stat over every type on one thread and on several: the same files, state
// and messages, for a first run and for a --diff run over grown logs.
#include "stat_support.h"

namespace {

using namespace stat_e2e;

fs::path ToolPath(const std::string& name) {
#ifdef _WIN32
  return fs::path(VARNO_BIN_DIR) / (name + ".exe");
#else
  return fs::path(VARNO_BIN_DIR) / name;
#endif
}

bool RunTool(const std::string& name, const std::vector<std::string>& args, const fs::path& folder) {
  Running run = StartProgram(ToolPath(name).string(), args, folder);
  return Wait(run).exitCode == 0;
}

// Everything a run leaves: metadata files, the state file and its messages.
struct RunResult {
  std::vector<std::pair<std::string, std::string>> files;
  std::string state;
  std::string messages;
};

RunResult RunWithThreads(const Workspace& ws, const fs::path& out, const std::string& threads, bool diff) {
  std::vector<std::string> args = {"--srcdir=" + ws.logs.string(), "--outdir=" + out.string(), "--stat=ALL",
                                   "-vv", "--top=5", "--threads=" + threads};
  if (diff) args.push_back("--diff");
  const Outcome outcome = RunVarno(args, ws.root);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  std::string messages = outcome.err;
  // The messages name the output folder; it differs between the runs.
  for (size_t at; (at = messages.find(out.string())) != std::string::npos;) messages.erase(at, out.string().size());
  return {MetadataFiles(out), ReadFile(out / "_varno.stat"), messages};
}

TEST(StatThreadsTest, EveryTypeGivesTheSameFilesStateAndMessagesOnOneThreadAndOnSeveral) {
  Workspace ws("threads");
  const std::string logs = ws.logs.string();
  ASSERT_TRUE(RunTool("genlogs", {"--out", logs, "--days", "2", "--start", "20240301", "--lines-per-day", "3000",
                                  "--quiet"}, ws.root));
  ASSERT_TRUE(RunTool("genproxy", {"--out", logs, "--days", "2", "--start", "20240301", "--lines-per-day", "4000",
                                   "--layout", "both", "--quiet"}, ws.root));
  // One day has only compact proxy logs.
  fs::remove(ws.logs / "kelb20240302.log");
  const fs::path one = ws.root / "one", many = ws.root / "many", three = ws.root / "three";
  const RunResult first = RunWithThreads(ws, one, "1", false);
  EXPECT_EQ(first.files.size(), 24u);
  for (const auto& [out, threads] : {std::pair{many, std::string("0")}, std::pair{three, std::string("3")}}) {
    const RunResult other = RunWithThreads(ws, out, threads, false);
    EXPECT_EQ(other.files, first.files) << threads;
    EXPECT_EQ(other.state, first.state) << threads;
    EXPECT_EQ(other.messages, first.messages) << threads;
  }
  // The last day grows; --diff resumes every type after its own lines.
  for (const char* name : {"smtp20240302.log", "rbl20240302.log", "postponer-out20240302.log", "kelb-tr20240302.log"}) {
    const std::string text = ReadFile(ws.logs / name);
    AppendFile(ws.logs / name, text.substr(text.size() / 2));
  }
  const RunResult grown = RunWithThreads(ws, one, "1", true);
  EXPECT_GE(grown.files.size(), 4u);
  EXPECT_NE(grown.state, first.state);
  for (const fs::path& out : {many, three}) {
    const RunResult other = RunWithThreads(ws, out, out == many ? "0" : "3", true);
    EXPECT_EQ(other.files, grown.files);
    EXPECT_EQ(other.state, grown.state);
    EXPECT_EQ(other.messages, grown.messages);
  }
}

}  // namespace
