// The log generator: same options give the same bytes, the files are named
// per day and direction, and clean lines have the field shapes the readers
// expect; hostile lines appear only when asked for.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

fs::path GenlogsBin() { return fs::path(VARNO_BIN_DIR) / "genlogs"; }

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    lines.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t end = line.find(';', start);
    fields.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return fields;
    start = end + 1;
  }
}

bool IsTime(const std::string& t) {
  if (t.size() != 8 || t[2] != ':' || t[5] != ':') return false;
  for (int i : {0, 1, 3, 4, 6, 7})
    if (t[i] < '0' || t[i] > '9') return false;
  return std::stoi(t.substr(0, 2)) < 24 && std::stoi(t.substr(3, 2)) < 60 && std::stoi(t.substr(6, 2)) < 60;
}

bool IsHexId(const std::string& id) {
  return id.size() == 40 && id.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

class GenlogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(GenlogsBin())) GTEST_SKIP() << "build the genlogs target first: " << GenlogsBin();
    root_ = fs::temp_directory_path() / ("varno_genlogs_" + std::to_string(std::rand()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }
  fs::path Generate(const std::string& name, const std::string& options) {
    fs::path dir = root_ / name;
    std::string command = GenlogsBin().string() + " --quiet --out '" + dir.string() + "' " + options;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return dir;
  }
  fs::path root_;
};

std::map<std::string, std::string> Contents(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir)) files[entry.path().filename().string()] = ReadAll(entry.path());
  return files;
}

TEST_F(GenlogsTest, SameOptionsGiveSameBytesAndOtherSeedsDiffer) {
  const std::string options = "--days 2 --start 20240229 --lines-per-day 400 --hostile-rate 0.05";
  auto first = Contents(Generate("a", options + " --seed 7"));
  auto second = Contents(Generate("b", options + " --seed 7"));
  auto other = Contents(Generate("c", options + " --seed 8"));
  std::set<std::string> expected = {"smtp20240229.log",      "smtp20240301.log",      "smtp-out20240229.log",
                                    "smtp-out20240301.log",  "rbl20240229.log",       "rbl20240301.log",
                                    "rbl-out20240229.log",   "rbl-out20240301.log",   "postponer20240229.log",
                                    "postponer20240301.log", "postponer-out20240229.log", "postponer-out20240301.log"};
  std::set<std::string> names;
  for (const auto& [name, bytes] : first) names.insert(name);
  EXPECT_EQ(names, expected);
  EXPECT_TRUE(first == second);
  EXPECT_NE(first.at("smtp20240229.log"), other.at("smtp20240229.log"));
}

TEST_F(GenlogsTest, CleanLinesHaveTheFieldShapesOfTheirLogs) {
  fs::path dir = Generate("clean", "--days 3 --start 20231231 --lines-per-day 600 --hostile-rate 0");
  std::set<std::string> smtpIds;
  for (const char* day : {"20231231", "20240101", "20240102"}) {
    std::string previous = "00:00:00";
    for (const std::string& line : Lines(ReadAll(dir / (std::string("smtp") + day + ".log")))) {
      auto f = Fields(line);
      ASSERT_EQ(f.size(), 12u) << line;
      ASSERT_TRUE(IsTime(f[1])) << line;
      EXPECT_GE(f[1], previous) << "SMTP times increase through the day";
      previous = f[1];
      EXPECT_TRUE(f[6][0] == 'A' || f[6][0] == 'R' || f[6][0] == 'T' || f[6][0] == 'E') << line;
      EXPECT_EQ(f[2] == "0" || f[2] == "250", f[6][0] == 'A') << line;
      if (f[6][0] == 'A') {
        EXPECT_TRUE(IsHexId(f[7])) << line;
        smtpIds.insert(f[7]);
      }
      EXPECT_NE(f[5].find('.'), std::string::npos) << line;
    }
  }
  size_t rblLines = 0, marked = 0;
  for (const char* day : {"20231231", "20240101", "20240102"}) {
    for (const std::string& line : Lines(ReadAll(dir / (std::string("rbl") + day + ".log")))) {
      auto f = Fields(line);
      ASSERT_EQ(f.size(), 14u) << line;
      ASSERT_TRUE(IsTime(f[1])) << line;
      EXPECT_TRUE(f[4].empty() || f[4] == "VIRUS") << line;
      EXPECT_TRUE(f[5].empty() || f[5] == "SPAM") << line;
      EXPECT_TRUE(smtpIds.count(f[7])) << "RBL line of an accepted SMTP message: " << line;
      EXPECT_LE(f[8].size(), 31u) << line;
      if (f[4] == "VIRUS") {
        EXPECT_FALSE(f[10].empty()) << line;
      }
      marked += !f[4].empty() || !f[5].empty();
      ++rblLines;
    }
  }
  EXPECT_GT(rblLines, 900u);
  EXPECT_GT(marked, 0u);
  std::set<std::string> words;
  size_t laterDay = 0;
  std::set<std::string> firstDayIds;
  for (const std::string& line : Lines(ReadAll(dir / "smtp20231231.log"))) firstDayIds.insert(Fields(line)[7]);
  for (const char* day : {"20231231", "20240101", "20240102"}) {
    for (const std::string& line : Lines(ReadAll(dir / (std::string("postponer") + day + ".log")))) {
      auto f = Fields(line);
      ASSERT_TRUE(IsTime(f[1])) << line;
      if (f[2] == "S" || f[2] == "E") {
        ASSERT_EQ(f.size(), 5u) << line;
        EXPECT_TRUE(smtpIds.count(f[3])) << line;
      } else {
        ASSERT_EQ(f.size(), 10u) << line;
        EXPECT_NE(f[2].find_first_of("0123456789"), std::string::npos) << line;
        words.insert(f[7]);
        EXPECT_TRUE(smtpIds.count(f[8])) << line;
        if (std::string(day) == "20240102" && firstDayIds.count(f[8])) ++laterDay;
      }
    }
  }
  EXPECT_TRUE(words.count("SENT") && words.count("STAY")) << "status words seen: " << words.size();
  EXPECT_GT(laterDay, 0u) << "some deliveries of the first day end two days later";
}

TEST_F(GenlogsTest, HostileRateProducesMalformedLinesOfEveryKind) {
  fs::path dir = Generate("hostile", "--days 1 --lines-per-day 3000 --directions in --logs smtp --hostile-rate 0.2");
  EXPECT_FALSE(fs::exists(dir / "rbl20240101.log"));
  std::string bytes = ReadAll(dir / "smtp20240101.log");
  bool longLine = false, crlf = false, nul = false, badTime = false, nonHexId = false, shortLine = false;
  for (const std::string& line : Lines(bytes)) {
    longLine |= line.size() > 32767;
    crlf |= !line.empty() && line.back() == '\r';
    nul |= line.find('\0') != std::string::npos;
    auto f = Fields(line);
    if (f.size() > 1) badTime |= !IsTime(f[1]);
    shortLine |= f.size() < 12;
    if (f.size() >= 12 && f[6][0] == 'A' && !f[7].empty()) nonHexId |= !IsHexId(f[7]);
  }
  EXPECT_TRUE(longLine);
  EXPECT_TRUE(crlf);
  EXPECT_TRUE(nul);
  EXPECT_TRUE(badTime);
  EXPECT_TRUE(nonHexId);
  EXPECT_TRUE(shortLine);
}

TEST_F(GenlogsTest, RejectsBadOptions) {
  for (const char* bad : {"--days x", "--start 20230230", "--hostile-rate 2", "--logs smtp,web", "--bogus 1"}) {
    std::string command = GenlogsBin().string() + " --out '" + (root_ / "bad").string() + "' " + bad + " 2>/dev/null";
    EXPECT_NE(std::system(command.c_str()), 0) << bad;
  }
}

}  // namespace
