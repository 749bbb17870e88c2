// Metadata runs over logs that are still being written: a last line without
// its line end waits in today's logs (in past days' logs it is read: the case
// stat/past_day_logs_*), a run in the first minute after midnight stays on the
// old day, and the --diff runs' files add up to one run over the finished
// logs. The local clock is set through TZ.
#include <ctime>
#include <map>
#include <random>

#include "stat_support.h"

namespace {

using namespace stat_e2e;

constexpr int64_t kDay = 86400;

// Counters of a folder of metadata files: file -> line key -> values.
using Sums = std::map<std::string, std::map<std::string, std::vector<uint64_t>>>;

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == ';') fields.emplace_back();
    else fields.back() += c;
  }
  return fields;
}

// Values at the end of a line by its label; keys may hold ';' themselves.
// Of SIP and VIP only the marked count adds up (unmarked counts and times of
// keys without a marked line in a run are not written).
void AddLine(const std::string& line, std::map<std::string, std::vector<uint64_t>>* file) {
  std::vector<std::string> fields = Split(line);
  const std::string& label = fields[0];
  size_t values = 1;
  if (label == "S" || label == "SRC" || label.rfind("DC", 0) == 0) values = fields.size() - 1;
  else if (label == "H" || label == "HRC") values = fields.size() - 2;
  else if (label == "TS" || label == "TR") values = 5;
  else if (label == "TD" || label == "TE") values = 2;
  else if (label == "SIP" || label == "VIP") values = 3;
  ASSERT_LT(values, fields.size()) << line;
  const size_t keyFields = fields.size() - values;
  std::string key;
  for (size_t i = 0; i < keyFields; ++i) key += (i ? ";" : "") + fields[i];
  const size_t used = label == "SIP" || label == "VIP" ? 1 : values;
  std::vector<uint64_t>& sum = (*file)[key];
  sum.resize(used);
  for (size_t i = 0; i < used; ++i) sum[i] += std::stoull(fields[keyFields + i]);
}

// The differing lines of two sums, a few of each side.
void ExpectSameSums(const Sums& runs, const Sums& batch) {
  int reported = 0;
  for (const auto* side : {&batch, &runs}) {
    const Sums& other = side == &batch ? runs : batch;
    for (const auto& [file, lines] : *side) {
      for (const auto& [key, values] : lines) {
        const auto otherFile = other.find(file);
        const bool same = otherFile != other.end() && otherFile->second.count(key) != 0 &&
                          otherFile->second.at(key) == values;
        if (!same && ++reported <= 10) ADD_FAILURE() << (side == &batch ? "batch " : "runs ") << file << ": " << key;
      }
    }
  }
  EXPECT_EQ(reported, 0);
}

void AddFiles(const fs::path& out, Sums* sums) {
  for (const auto& [name, text] : MetadataFiles(out)) {
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
      AddLine(text.substr(start, end - start), &(*sums)[name]);
    }
  }
}

// TZ that makes the local clock show `local` (seconds since 1970 as wall time).
std::string ClockAt(int64_t local) {
  const int64_t offset = local - static_cast<int64_t>(std::time(nullptr));
  const int64_t west = -offset;
  const int64_t a = west < 0 ? -west : west;
  char tz[48];
  std::snprintf(tz, sizeof tz, "TZ=VNO%c%02lld:%02lld:%02lld", west < 0 ? '-' : '+',
                static_cast<long long>(a / 3600), static_cast<long long>(a / 60 % 60),
                static_cast<long long>(a % 60));
  return tz;
}

std::string DayName(int64_t day) {
  const time_t t = static_cast<time_t>(day);
  std::tm parts{};
  gmtime_r(&t, &parts);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d", &parts);
  return text;
}

// Midnight of the day whose hour `hour` (up to 24) lies within 12 hours of
// now, so that the clock can be set near it with a TZ offset.
int64_t DayAround(int64_t hour) {
  const int64_t from = static_cast<int64_t>(std::time(nullptr)) - hour * 3600 + kDay / 2;
  return from - from % kDay;
}

Outcome RunAt(const Workspace& ws, int64_t local, std::vector<std::string> more) {
  Running run = StartProgram(VARNO_BIN, ws.Args(std::move(more)), ws.root, {ClockAt(local)});
  return Wait(run);
}

// Generated logs of `days` days from `day`, with CR LF line ends: name -> text.
std::map<std::string, std::string> GenerateLogs(int64_t day, int days, const std::string& proxyLayout,
                                                bool mail) {
  scratch::Folder folder("growing_gen");
  const std::string start = DayName(day), count = std::to_string(days), dir = folder.path.string();
  const fs::path bin(VARNO_BIN_DIR);
  std::string command = (bin / "genproxy").string() + " --out " + dir + " --days " + count + " --start " +
                        start + " --lines-per-day 500 --hostile-rate 0 --quiet --layout " + proxyLayout;
  if (mail) {
    command += " && " + (bin / "genlogs").string() + " --out " + dir + " --days " + count + " --start " +
               start + " --lines-per-day 300 --hostile-rate 0 --quiet";
  }
  std::map<std::string, std::string> logs;
  if (std::system(command.c_str()) != 0) return logs;
  for (const auto& entry : fs::directory_iterator(folder.path)) {
    logs[entry.path().filename().string()] = Crlf(ReadFile(entry.path()));
  }
  return logs;
}

// A cut of text near `share` of it: inside a line, before its CR LF or
// between CR and LF, by `kind`.
size_t CutAt(const std::string& text, double share, int kind) {
  size_t at = static_cast<size_t>(static_cast<double>(text.size()) * share);
  if (kind == 0 || at >= text.size()) return at;
  const size_t cr = text.find('\r', at);
  if (cr == std::string::npos) return at;
  return kind == 1 ? cr : cr + 1;
}

void WriteCut(const Workspace& ws, const std::string& name, const std::string& text, size_t length) {
  WriteFile(ws.logs / name, text.substr(0, length));
}

// One --diff run: its files only (the previous run's are removed first).
void DiffRun(const Workspace& ws, int64_t local, Sums* sums) {
  for (const auto& [name, text] : MetadataFiles(ws.out)) fs::remove(ws.out / name);
  const Outcome run = RunAt(ws, local, {"--stat=ALL", "--diff", "--top=100000"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  AddFiles(ws.out, sums);
}

Sums BatchRun(const std::map<std::string, std::string>& logs, int64_t local) {
  Workspace ws("growing_batch");
  for (const auto& [name, text] : logs) WriteFile(ws.logs / name, text);
  const Outcome run = RunAt(ws, local, {"--stat=ALL", "--top=100000"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  Sums sums;
  AddFiles(ws.out, &sums);
  return sums;
}

void GrowTodayInSteps(const std::string& proxyLayout, bool mail) {
  const int64_t day = DayAround(12);
  const int64_t noon = day + kDay / 2;
  const auto logs = GenerateLogs(day, 1, proxyLayout, mail);
  ASSERT_FALSE(logs.empty());
  Workspace ws("growing_" + proxyLayout);
  std::mt19937 random(7);
  Sums sums;
  constexpr int kSteps = 9;
  for (int step = 1; step < kSteps; ++step) {
    for (const auto& [name, text] : logs) {
      const double share = (step + std::uniform_real_distribution<double>(-0.4, 0.4)(random)) / kSteps;
      WriteCut(ws, name, text, CutAt(text, share, static_cast<int>(random() % 3)));
    }
    DiffRun(ws, noon, &sums);
  }
  for (const auto& [name, text] : logs) WriteFile(ws.logs / name, text);
  DiffRun(ws, noon, &sums);
  const Sums batch = BatchRun(logs, noon);
  EXPECT_GE(batch.size(), mail ? 12u : 3u);
  ExpectSameSums(sums, batch);
}

TEST(StatGrowingTest, DiffRunsOverGrowingMailAndCombinedProxyLogsAddUpToOneRun) {
  GrowTodayInSteps("combined", true);
}

TEST(StatGrowingTest, DiffRunsOverGrowingCompactProxyLogsAddUpToOneRun) {
  GrowTodayInSteps("compact", false);
}

// The old day's last lines come after a run at 00:00:30 has seen the new
// day's first log; a run at 00:02 still takes them.
TEST(StatGrowingTest, RunInFirstMinuteAfterMidnightLeavesNewDayForNextRun) {
  const int64_t day = DayAround(24);
  const int64_t midnight = day + kDay;
  const auto logs = GenerateLogs(day, 2, "combined", true);
  ASSERT_FALSE(logs.empty());
  const std::string oldDay = DayName(day);
  Workspace ws("growing_midnight");
  Sums sums;
  auto writeShares = [&](double oldShare, double newShare) {
    for (const auto& [name, text] : logs) {
      const bool old = name.find(oldDay) != std::string::npos;
      const double share = old ? oldShare : newShare;
      if (share > 0) WriteCut(ws, name, text, share >= 1 ? text.size() : CutAt(text, share, 0));
    }
  };
  writeShares(0.6, 0);
  DiffRun(ws, midnight - 600, &sums);
  writeShares(0.995, 0.05);
  DiffRun(ws, midnight + 30, &sums);
  writeShares(1, 1);
  DiffRun(ws, midnight + 120, &sums);
  ExpectSameSums(sums, BatchRun(logs, midnight + 120));
}

}  // namespace
