// End-to-end cases as data: every folder under tests/e2e/cases/<mode>/ that
// holds an "args" file (or numbered step folders that do) is one test, run
// against the built program; README.md there gives the format.
#include "stat_support.h"

#include <cctype>
#include <fstream>
#include <map>
#include <set>

namespace {

using namespace stat_e2e;

fs::path CasesDir() { return fs::path(VARNO_SOURCE_DIR) / "tests/e2e/cases"; }

// The lines of a file, none when it is missing.
std::vector<std::string> Lines(const fs::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Case folders relative to CasesDir(), sorted.
std::vector<std::string> FindCases() {
  std::vector<std::string> cases;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(CasesDir(), ec); !ec && it != fs::end(it); ++it) {
    const fs::path dir = it->path();
    if (!it->is_directory() || (!fs::exists(dir / "args") && !fs::exists(dir / "1" / "args"))) continue;
    cases.push_back(fs::relative(dir, CasesDir()).generic_string());
    it.disable_recursion_pending();
  }
  std::sort(cases.begin(), cases.end());
  return cases;
}

struct Places {
  std::map<std::string, std::string> names;  // placeholder -> its value
  std::string Fill(std::string text) const {
    for (const auto& [name, value] : names) {
      for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size())) {
        text.replace(at, name.size(), value);
      }
    }
    return text;
  }
};

void CopyTree(const fs::path& from, const fs::path& to) {
  fs::create_directories(to);
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

// What a case or step puts into the workspace before its run: the paths
// its "remove" file names go, its "given/" files are copied in, the FIFOs its
// "fifos" file names are made (where the system has them), and its input
// logs, its "logs/" folder or the fixture folder a "logs" file names
// (relative to tests/e2e/fixtures), are added to the workspace's logs.
void Prepare(const fs::path& dir, const fs::path& work) {
  for (const std::string& line : Lines(dir / "remove")) {
    if (!line.empty()) fs::remove_all(work / line);
  }
  if (fs::is_directory(dir / "given")) CopyTree(dir / "given", work);
  for (const std::string& line : Lines(dir / "fifos")) {
    if (line.empty()) continue;
    ASSERT_TRUE(MakeFifoWhereSupported(work / line)) << line;
  }
  const fs::path source = dir / "logs";
  if (fs::is_directory(source)) {
    CopyTree(source, work / "logs");
  } else if (fs::is_regular_file(source)) {
    const std::vector<std::string> named = Lines(source);
    ASSERT_FALSE(named.empty()) << source;
    CopyTree(fs::path(VARNO_SOURCE_DIR) / "tests/e2e/fixtures" / named[0], work / "logs");
  }
}

// Names matched by an "ignore" line: the name itself or, ending in '*', its prefix.
bool Ignored(const std::string& name, const std::vector<std::string>& patterns) {
  for (const std::string& p : patterns) {
    const bool prefix = !p.empty() && p.back() == '*';
    if (prefix ? name.rfind(p.substr(0, p.size() - 1), 0) == 0 : name == p) return true;
  }
  return false;
}

void CompareTree(const fs::path& expected, const fs::path& actual, const std::vector<std::string>& ignore,
                 const std::string& where) {
  std::set<std::string> found;
  if (fs::exists(actual)) {
    for (const auto& entry : fs::recursive_directory_iterator(actual)) {
      if (!entry.is_regular_file()) continue;
      const std::string rel = fs::relative(entry.path(), actual).generic_string();
      if (!Ignored(entry.path().filename().string(), ignore)) found.insert(rel);
    }
  }
  std::set<std::string> wanted;
  std::error_code noExpected;  // no "expected/": out/ stays empty
  for (const auto& entry : fs::recursive_directory_iterator(expected, noExpected)) {
    if (!entry.is_regular_file()) continue;
    const std::string rel = fs::relative(entry.path(), expected).generic_string();
    wanted.insert(rel);
    EXPECT_TRUE(found.count(rel)) << where << ": missing output file " << rel;
    if (found.count(rel)) {
      EXPECT_TRUE(ReadFile(actual / rel) == ReadFile(entry.path()))
          << where << ": " << rel << " differs; it holds:\n" << ReadFile(actual / rel).substr(0, 2000);
    }
  }
  for (const std::string& rel : found) EXPECT_TRUE(wanted.count(rel)) << where << ": unexpected file " << rel;
}

void RunStep(const fs::path& dir, const Places& places, const fs::path& work, const std::string& where) {
  Prepare(dir, work);
  std::vector<std::string> args;
  for (const std::string& line : Lines(dir / "args")) args.push_back(places.Fill(line));
  std::vector<std::string> env;
  for (const std::string& line : Lines(dir / "env")) {
    if (!line.empty()) env.push_back(places.Fill(line));
  }
  // "program" names another program built beside varno (varno-report, genlogs).
  std::string program = VARNO_BIN;
  if (fs::exists(dir / "program")) {
    program = (fs::path(VARNO_BIN_DIR) / (Lines(dir / "program").at(0) + fs::path(VARNO_BIN).extension().string())).string();
  }
  Running run = StartProgram(program, args, work, env);
  Outcome o = Wait(run);
  int exitCode = 0;
  if (fs::exists(dir / "exit")) exitCode = std::stoi(ReadFile(dir / "exit"));
  EXPECT_EQ(o.exitCode, exitCode) << where << "; stderr:\n" << o.err;
  const std::string out = fs::exists(dir / "stdout") ? places.Fill(ReadFile(dir / "stdout")) : "";
  EXPECT_TRUE(o.out == out) << where << ": stdout differs; it was:\n" << o.out.substr(0, 4000);
  if (fs::exists(dir / "stderr")) {
    EXPECT_EQ(o.err, places.Fill(ReadFile(dir / "stderr"))) << where;
  }
  CompareTree(dir / "expected", work / "out", Lines(dir / "ignore"), where);
}

class E2eCase : public testing::TestWithParam<std::string> {};

TEST_P(E2eCase, Run) {
  const fs::path dir = CasesDir() / GetParam();
#ifdef _WIN32
  if (fs::exists(dir / "posix-only")) GTEST_SKIP() << "a POSIX-only case";
#endif
  scratch::Folder folder("case");
  const fs::path work = folder.path;
  fs::create_directories(work / "logs");
  fs::create_directories(work / "out");
  Places places;
  places.names = {{"@LOGS@", (work / "logs").string()},
                  {"@OUT@", (work / "out").string()},
                  {"@WORK@", work.string()},
                  {"@FIXTURES@", (fs::path(VARNO_SOURCE_DIR) / "tests/e2e/fixtures").string()}};
  if (fs::exists(dir / "args")) {
    RunStep(dir, places, work, GetParam());
    return;
  }
  Prepare(dir, work);  // the case's own files come before the first step
  for (int step = 1; fs::exists(dir / std::to_string(step) / "args"); ++step) {
    RunStep(dir / std::to_string(step), places, work, GetParam() + " step " + std::to_string(step));
    if (HasFailure()) return;
  }
}

std::string CaseName(const testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, E2eCase, testing::ValuesIn(FindCases()), CaseName);

}  // namespace
