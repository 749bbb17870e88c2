// The log generator: same options give the same bytes, the files are named
// per day and direction, and bad options are refused.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "../scratch.h"

namespace {

namespace fs = std::filesystem;

fs::path GenlogsBin() { return fs::path(VARNO_BIN_DIR) / "genlogs"; }

class GenlogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(GenlogsBin())) GTEST_SKIP() << "build the genlogs target first: " << GenlogsBin();
  }
  fs::path Generate(const std::string& name, const std::string& options) {
    fs::path dir = root_ / name;
    std::string command = GenlogsBin().string() + " --quiet --out '" + dir.string() + "' " + options;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return dir;
  }
  scratch::Folder folder_{"genlogs"};
  const fs::path root_ = folder_.path;
};

std::map<std::string, std::string> Contents(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir)) files[entry.path().filename().string()] = scratch::ReadFile(entry.path());
  return files;
}

TEST_F(GenlogsTest, SameOptionsGiveSameBytesOtherSeedsDifferBadOptionsAreRefused) {
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
  for (const char* bad : {"--days x", "--start 20230230", "--hostile-rate 2", "--logs smtp,web", "--bogus 1"}) {
    std::string command = GenlogsBin().string() + " --out '" + (root_ / "bad").string() + "' " + bad + " 2>/dev/null";
    EXPECT_NE(std::system(command.c_str()), 0) << bad;
  }
}

}  // namespace
