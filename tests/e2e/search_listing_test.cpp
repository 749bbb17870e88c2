// The built program's --search runs over the fixture logs: the listing on
// standard output and in an --output file, no-match runs, sorting, paging
// and rejected conditions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

fs::path Fixtures() { return fs::path(VARNO_SOURCE_DIR) / "tests/e2e/fixtures/search"; }

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Scratch {
  fs::path dir;
  Scratch() {
    std::random_device seed;
    dir = fs::temp_directory_path() / ("varno_search_e2e_" + std::to_string(seed()));
    fs::create_directories(dir);
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
};

struct Outcome {
  int exitCode;
  std::string out;
  std::string err;
};

Outcome RunVarno(const Scratch& scratch, const std::string& arguments) {
  fs::path out = scratch.dir / "stdout.txt";
  fs::path err = scratch.dir / "stderr.txt";
  std::string command = std::string("'") + VARNO_BIN + "' " + arguments + " '" +
                        Fixtures().string() + "' >'" + out.string() + "' 2>'" + err.string() + "'";
  int status = std::system(command.c_str());
  int code = (status >= 0 && (status & 0x7F) == 0) ? (status >> 8) & 0xFF : -1;
  return {code, ReadAll(out), ReadAll(err)};
}

std::string Crlf(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c == '\n') result += '\r';
    result += c;
  }
  return result;
}

TEST(SearchListing, StandardOutputAndOutputFileMatchTheExpectedListing) {
  Scratch scratch;
  const std::string expected = ReadAll(Fixtures() / "expected_all.txt");
  Outcome plain = RunVarno(scratch, "--search=");
  EXPECT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_EQ(plain.out, expected);
  fs::path listing = scratch.dir / "listing.txt";
  Outcome filed = RunVarno(scratch, "-v --search= --output='" + listing.string() + "'");
  EXPECT_EQ(filed.exitCode, 0) << filed.err;
  EXPECT_EQ(filed.out, "");
  EXPECT_EQ(ReadAll(listing), Crlf(expected));
  EXPECT_NE(filed.err.find("searching..."), std::string::npos);
  EXPECT_NE(filed.err.find("3 e-mail(s) match."), std::string::npos);
}

TEST(SearchListing, NoMatchWithOutputLeavesAnEmptyFile) {
  Scratch scratch;
  fs::path listing = scratch.dir / "none.txt";
  Outcome run = RunVarno(scratch, "-v --search=from=nobody --output='" + listing.string() + "'");
  EXPECT_EQ(run.exitCode, 1);
  ASSERT_TRUE(fs::exists(listing));
  EXPECT_EQ(fs::file_size(listing), 0u);
  EXPECT_NE(run.err.find("0 e-mail(s) match."), std::string::npos);
}

TEST(SearchListing, SortPagingAndFilters) {
  Scratch scratch;
  Outcome byIp = RunVarno(scratch, "--search= --rev-sort=ip --paging=2");
  ASSERT_EQ(byIp.exitCode, 0) << byIp.err;
  size_t high = byIp.out.find("198.51.100.7");
  size_t middle = byIp.out.find("192.0.2.10");
  size_t low = byIp.out.find("10.1.0.5");
  EXPECT_LT(high, middle);
  EXPECT_LT(middle, low);
  EXPECT_EQ(byIp.out.rfind("#[1;2;1;3]\n\nsmtp|", 0), 0u);
  EXPECT_NE(byIp.out.find("\n#[2;2;3;3]\n\nsmtp|"), std::string::npos);
  Outcome rejected = RunVarno(scratch, "--search='filter=reject;WAY=in'");
  EXPECT_EQ(rejected.out,
            "smtp|in;0;0|mx;10:00:00;554;spam@bad.example;bob@corp.example;198.51.100.7;R--B-;"
            "D4E5F6;5;h;ESMTP;0\n\n");
  Outcome finished = RunVarno(scratch, "--search=filter=fin --sort=from");
  EXPECT_EQ(finished.out.find("smtp|in;1;1|mx;23:59:50"), 0u);
  EXPECT_EQ(finished.out.find("smtp|", 1), std::string::npos);
}

TEST(SearchListing, InvalidConditionIsReportedAndNothingRuns) {
  Scratch scratch;
  Outcome run = RunVarno(scratch, "--search='way=in,sideways'");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("Invalid condition"), std::string::npos);
  EXPECT_NE(run.err.find("way=in,sideways"), std::string::npos);
}

}  // namespace
