// The built program's --search runs over the fixture logs: the listing on
// standard output and in an --output file, no-match runs, sorting, paging
// and filters.
#include "stat_support.h"

namespace {

using namespace stat_e2e;

fs::path Fixtures() { return fs::path(VARNO_SOURCE_DIR) / "tests/e2e/fixtures/search"; }

// A scratch folder that is removed at the end.
struct Scratch {
  Workspace ws{"search"};
  fs::path dir = ws.root;
};

Outcome RunVarno(const Scratch& scratch, std::vector<std::string> args) {
  args.push_back(Fixtures().string());
  return stat_e2e::RunVarno(args, scratch.dir);
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
  const std::string expected = ReadFile(Fixtures() / "expected_all.txt");
  Outcome plain = RunVarno(scratch, {"--search="});
  EXPECT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_EQ(plain.out, expected);
  fs::path listing = scratch.dir / "listing.txt";
  Outcome filed = RunVarno(scratch, {"-v", "--search=", "--output=" + listing.string()});
  EXPECT_EQ(filed.exitCode, 0) << filed.err;
  EXPECT_EQ(filed.out, "");
  EXPECT_EQ(ReadFile(listing), Crlf(expected));
  EXPECT_NE(filed.err.find("searching..."), std::string::npos);
  EXPECT_NE(filed.err.find("3 e-mail(s) match."), std::string::npos);
}

TEST(SearchListing, NoMatchWithOutputLeavesAnEmptyFile) {
  Scratch scratch;
  fs::path listing = scratch.dir / "none.txt";
  Outcome run = RunVarno(scratch, {"-v", "--search=from=nobody", "--output=" + listing.string()});
  EXPECT_EQ(run.exitCode, 1);
  ASSERT_TRUE(fs::exists(listing));
  EXPECT_EQ(fs::file_size(listing), 0u);
  EXPECT_NE(run.err.find("0 e-mail(s) match."), std::string::npos);
}

TEST(SearchListing, SortPagingAndFilters) {
  Scratch scratch;
  Outcome byIp = RunVarno(scratch, {"--search=", "--rev-sort=ip", "--paging=2"});
  ASSERT_EQ(byIp.exitCode, 0) << byIp.err;
  size_t high = byIp.out.find("198.51.100.7");
  size_t middle = byIp.out.find("192.0.2.10");
  size_t low = byIp.out.find("10.1.0.5");
  EXPECT_LT(high, middle);
  EXPECT_LT(middle, low);
  EXPECT_EQ(byIp.out.rfind("#[1;2;1;3]\n\nsmtp|", 0), 0u);
  EXPECT_NE(byIp.out.find("\n#[2;2;3;3]\n\nsmtp|"), std::string::npos);
  Outcome rejected = RunVarno(scratch, {"--search=filter=reject;WAY=in"});
  EXPECT_EQ(rejected.out,
            "smtp|in;0;0|mx;10:00:00;554;spam@bad.example;bob@corp.example;198.51.100.7;R--B-;"
            "D4E5F6;5;h;ESMTP;0\n\n");
  Outcome finished = RunVarno(scratch, {"--search=filter=fin", "--sort=from"});
  EXPECT_EQ(finished.out.find("smtp|in;1;1|mx;23:59:50"), 0u);
  EXPECT_EQ(finished.out.find("smtp|", 1), std::string::npos);
}

}  // namespace
