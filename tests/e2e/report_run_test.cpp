// varno-report on the metadata of the example logs (its usage errors are
// cases in cases/report).
#include <string>

#include "stat_support.h"

namespace {

using scratch::CountOf;

using namespace stat_e2e;

// Files of a folder whose names start with prefix (0 for a missing folder).
size_t FilesStartingWith(const fs::path& dir, const std::string& prefix) {
  size_t count = 0;
  if (!fs::exists(dir)) return 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().filename().string().rfind(prefix, 0) == 0) ++count;
  }
  return count;
}

// Top-list lines with an empty key ("TIP;;1", "TS;;5;...") in the metadata files.
size_t EmptyKeyLines(const fs::path& dir) {
  size_t count = 0;
  for (const auto& [name, bytes] : MetadataFiles(dir)) {
    if (name.size() < 4 || name.substr(name.size() - 4) != ".csv") continue;
    for (size_t start = 0; start < bytes.size();) {
      size_t end = bytes.find('\n', start);
      if (end == std::string::npos) end = bytes.size();
      const size_t label = bytes.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ?", start);
      if (label > start && label + 1 < end && bytes[label] == ';' && bytes[label + 1] == ';') ++count;
      start = end + 1;
    }
  }
  return count;
}

Outcome RunReport(const std::vector<std::string>& args, const fs::path& folder) {
  Running run = StartProgram(VARNO_REPORT_BIN, args, folder);
  return Wait(run);
}

// The metadata of examples/logs, made once for the suite.
class ReportRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    workspace_ = new Workspace("report");
    for (const auto& entry : fs::directory_iterator(fs::path(VARNO_SOURCE_DIR) / "examples/logs")) {
      fs::copy_file(entry.path(), workspace_->logs / entry.path().filename());
    }
    const Outcome stat = RunVarno(workspace_->Args({"--stat=ALL"}), workspace_->root);
    ASSERT_EQ(stat.exitCode, 0) << stat.err;
  }
  static void TearDownTestSuite() {
    delete workspace_;
    workspace_ = nullptr;
  }
  static Workspace* workspace_;
};

Workspace* ReportRun::workspace_ = nullptr;

TEST_F(ReportRun, PageShowsTheExampleDaysChartsAndTopListsAndTakesDaysAndOutput) {
  const fs::path out = workspace_->out;
  const Outcome run = RunReport({out.string()}, workspace_->root);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "Report of 3 day(s) written to " + (out / "report.html").string() + "\n");
  EXPECT_EQ(run.err, "");
  const std::string html = ReadFile(out / "report.html");

  // Days newest first, the newest open.
  EXPECT_LT(html.find("<details class=\"day\" id=\"d20240313\" open>"),
            html.find("<details class=\"day\" id=\"d20240312\">"));
  EXPECT_LT(html.find("id=\"d20240312\">"), html.find("id=\"d20240311\">"));
  EXPECT_EQ(CountOf(html, "<details class=\"day\""), 3u);
  // Overview: 10 mail charts over the days; per day 9 hourly mail charts. HTTP
  // alerts add 2 and HTTP traffic 1 to the overview and to each of their days.
  const size_t alertDays = FilesStartingWith(out / "_kelb_cs", "_kelb-al");
  const size_t trafficDays = FilesStartingWith(out / "_kelb_cs", "_kelb-tr");
  EXPECT_EQ(CountOf(html, "<svg"), 10u + 3u * 9u + (alertDays > 0 ? 2u : 0u) + 2u * alertDays +
                                       (trafficDays > 0 ? 1u : 0u) + trafficDays);
  // Figures taken from the metadata files as the generator wrote them.
  EXPECT_EQ(CountOf(html, "<title>03-13 ok: 116</title>"), 1u);  // _smtp20240313.csv S;160;116;44
  EXPECT_EQ(CountOf(html, "<tr><td class=\"num\">160</td><td class=\"num\">116</td>"
                          "<td class=\"num\">44</td></tr>"),
            1u);
  // Top-list rows as the page's script receives them: key and values by tabs.
  EXPECT_EQ(CountOf(html, "<pre class=\"rows\" hidden>189.195.137.254\t15\n154.73.22.77\t8\n"), 1u);
  // TVN of RBL-IN and RBL-CHART on 03-11 and 03-13, and two VIR keys that hold a ';'.
  EXPECT_EQ(CountOf(html, "Html Phishing Bank 12\t1"), 6u);
  EXPECT_EQ(CountOf(html, ";Html Phishing Bank 12\t1"), 2u);
  EXPECT_EQ(CountOf(html, "166.152.112.114;Html Phishing Bank 12\t1"), 1u);
  // Rows with an empty key (TIP;;1, TS;;5;...): seven in the example mail days.
  EXPECT_GE(EmptyKeyLines(out), 7u);
  EXPECT_EQ(CountOf(html, "\n\t") + CountOf(html, "hidden>\t"), EmptyKeyLines(out));
  EXPECT_EQ(CountOf(html, "<pre class=\"rows\" hidden>"), CountOf(html, "<table class=\"top\">"));
  for (const char* kind : {"SMTP-IN", "SMTP-OUT", "SMTP-CHART", "RBL-IN", "RBL-OUT", "RBL-CHART",
                           "POST-IN", "POST-OUT", "BIP"}) {
    EXPECT_EQ(CountOf(html, std::string("data-kind=\"") + kind + "\""), 3u) << kind;
  }
  EXPECT_EQ(CountOf(html, "data-kind=\"HTTP-AL\""), alertDays);
  EXPECT_EQ(CountOf(html, "data-kind=\"HTTP-TR\""), trafficDays);
  EXPECT_EQ(CountOf(html, "data-kind=\"HTTP-WF\""), FilesStartingWith(out / "_kelb_cs", "_kelb-wf"));
  EXPECT_EQ(CountOf(html, "malformed"), 0u);

  // --days and --output.
  const fs::path page = workspace_->root / "two.html";
  const Outcome two = RunReport({workspace_->out.string(), "--days", "2", "--output=" + page.string()},
                                workspace_->root);
  ASSERT_EQ(two.exitCode, 0) << two.err;
  const std::string twoDays = ReadFile(page);
  EXPECT_EQ(CountOf(twoDays, "<details class=\"day\""), 2u);
  EXPECT_EQ(CountOf(twoDays, "d20240311"), 0u);
  EXPECT_EQ(CountOf(twoDays, "2 day(s), 2024-03-12 to 2024-03-13"), 1u);
}

}  // namespace
