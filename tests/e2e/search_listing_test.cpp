// The built program's --search runs over the fixture logs: the listing on
// standard output and in an --output file, no-match runs, sorting, paging
// and filters.
#include "stat_support.h"

namespace {

using namespace stat_e2e;

fs::path Fixtures() { return fs::path(VARNO_SOURCE_DIR) / "tests/e2e/fixtures/search"; }

Outcome RunOnFixtures(const Workspace& ws, std::vector<std::string> args) {
  args.push_back(Fixtures().string());
  return RunVarno(args, ws.root);
}

TEST(SearchListing, StandardOutputAndOutputFileMatchTheExpectedListingOrStayEmpty) {
  Workspace ws("search");
  const std::string expected = ReadFile(Fixtures() / "expected_all.txt");
  Outcome plain = RunOnFixtures(ws, {"--search="});
  EXPECT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_EQ(plain.out, expected);
  fs::path listing = ws.root / "listing.txt";
  Outcome filed = RunOnFixtures(ws, {"-v", "--search=", "--output=" + listing.string()});
  EXPECT_EQ(filed.exitCode, 0) << filed.err;
  EXPECT_EQ(filed.out, "");
  EXPECT_EQ(ReadFile(listing), Crlf(expected));
  EXPECT_NE(filed.err.find("searching..."), std::string::npos);
  EXPECT_NE(filed.err.find("3 e-mail(s) match."), std::string::npos);
  // No match: the output file is left empty.
  Outcome none = RunOnFixtures(ws, {"-v", "--search=from=nobody", "--output=" + listing.string()});
  EXPECT_EQ(none.exitCode, 1);
  ASSERT_TRUE(fs::exists(listing));
  EXPECT_EQ(fs::file_size(listing), 0u);
  EXPECT_NE(none.err.find("0 e-mail(s) match."), std::string::npos);
}

TEST(SearchListing, SortPagingAndFilters) {
  Workspace ws("search");
  Outcome byIp = RunOnFixtures(ws, {"--search=", "--rev-sort=ip", "--paging=2"});
  ASSERT_EQ(byIp.exitCode, 0) << byIp.err;
  size_t high = byIp.out.find("198.51.100.7");
  size_t middle = byIp.out.find("192.0.2.10");
  size_t low = byIp.out.find("10.1.0.5");
  EXPECT_LT(high, middle);
  EXPECT_LT(middle, low);
  EXPECT_EQ(byIp.out.rfind("#[1;2;1;3]\n\nsmtp|", 0), 0u);
  EXPECT_NE(byIp.out.find("\n#[2;2;3;3]\n\nsmtp|"), std::string::npos);
  Outcome rejected = RunOnFixtures(ws, {"--search=filter=reject;WAY=in"});
  EXPECT_EQ(rejected.out,
            "smtp|in;0;0|mx;10:00:00;554;spam@bad.example;bob@corp.example;198.51.100.7;R--B-;"
            "D4E5F6;5;h;ESMTP;0\n\n");
  Outcome finished = RunOnFixtures(ws, {"--search=filter=fin", "--sort=from"});
  EXPECT_EQ(finished.out.find("smtp|in;1;1|mx;23:59:50"), 0u);
  EXPECT_EQ(finished.out.find("smtp|", 1), std::string::npos);
}

}  // namespace
