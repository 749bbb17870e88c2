#include "report/report_page.h"

#include "common/temp_file.h"
#include "platform/console.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../scratch.h"

namespace {

using scratch::CountOf;

namespace fs = std::filesystem;

struct Folder : scratch::Folder {
  using scratch::Folder::Folder;
  void Write(const std::string& name, const std::string& bytes) const {
    fs::create_directories((path / name).parent_path());
    scratch::WriteFile(path / name, bytes);
  }
};

std::string Render(const fs::path& root, uint32_t days) {
  ReportData data;
  data.folderLabel = "<folder & \"name\">";
  data.generatedAt = "2024-03-14 06:00 UTC";
  EXPECT_EQ(LoadReport(root.wstring().c_str(), days, &data), kOk);
  std::string html;
  RenderReportPage(data, "n0nce", &html);
  return html;
}

// Log-derived texts in every place they reach the page come out as text.
TEST(ReportPage, EscapesEveryLogDerivedText) {
  Folder folder("escape");
  std::string hostile = "<script>alert('x')</script>\"&amp;";
  hostile += '\0';
  hostile += "\xFF\xC0<img src=x onerror=alert(1)>";
  folder.Write("_smtp20240311.csv", "S;1;1;0\r\nTIP;" + hostile + ";1\r\nERR;0;1\r\n");
  folder.Write("_kelb_cs/_kelb-wf20240311.csv", "MUU;" + hostile + ";3\r\nMUD;" + std::string(400, 'h') + ";1\r\n");
  const std::string html = Render(folder.path, 31);
  EXPECT_EQ(CountOf(html, "<script"), 1u);
  EXPECT_EQ(CountOf(html, "<img"), 0u);
  EXPECT_EQ(CountOf(html, std::string(1, '\0')), 0u);
  EXPECT_EQ(CountOf(html, "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;&quot;&amp;amp;\xEF\xBF\xBD"
                          "\xEF\xBF\xBD\xEF\xBF\xBD&lt;img src=x onerror=alert(1)&gt;"),
            2u);
  EXPECT_EQ(CountOf(html, "&lt;folder &amp; &quot;name&quot;&gt;"), 1u);
  // Rows travel whole as text (the page's script cuts long keys for display).
  EXPECT_EQ(CountOf(html, "<pre class=\"rows\" hidden>" + std::string(400, 'h') + "\t1</pre>"), 1u);
  EXPECT_EQ(CountOf(html, "script-src 'nonce-n0nce'"), 1u);
  EXPECT_EQ(CountOf(html, "<script nonce=\"n0nce\">"), 1u);
}

// Only the types and days present show; the newest day comes first and open.
// Tabs and line feeds separate fields and rows, so keys never carry them.
TEST(ReportPage, TopListRowsAreTabAndLineSeparatedText) {
  Folder folder("rows");
  folder.Write("_rbl20240311.csv", "TS;a\tb;2;1.00;1;1;0\r\nTS;;1;0.50;1;0;0\r\nTS;c\rd;1;0;1;0;0\r\nBROKEN\r\n");
  const std::string html = Render(folder.path, 31);
  EXPECT_EQ(CountOf(html, "1 malformed line(s) skipped."), 1u);
  EXPECT_EQ(CountOf(html, "<pre class=\"rows\" hidden>a b\t2\t1.00\t1\t1\t0\n\t1\t0.50\t1\t0\t0\n"
                          "c\xEF\xBF\xBD" "d\t1\t0\t1\t0\t0</pre>"),
            1u);
}

TEST(ReportPage, EmptyFolderGivesAPageWithoutDays) {
  Folder folder("empty");
  const std::string html = Render(folder.path, 31);
  EXPECT_EQ(CountOf(html, "no metadata files found"), 1u);
  EXPECT_EQ(CountOf(html, "<svg"), 0u);
  ReportData data;
  EXPECT_EQ(LoadReport((folder.path / "missing").wstring().c_str(), 31, &data), kErrPathNotFound);
}

// The page is replaced whole; temporary pages of killed runs (999999999 is
// no process) go, other files stay.
TEST(ReportPage, WritesThroughATemporaryFileAndReplaces) {
  Folder folder("write");
  const fs::path page = folder.path / "report.html";
  // 999999999 is above every process id limit: its writer was killed.
  folder.Write("report.html.999999999.tmp", "killed");
  const std::vector<std::string> kept = {"other.999999999.tmp", "report.html.999999999.tmp.1",
                                         "report.html.999999999999.tmp", "report.html.x.tmp"};
  for (const std::string& name : kept) folder.Write(name, "not a temporary of a dead writer");
  ASSERT_EQ(ReplaceFileWhole(page.wstring().c_str(), "first", 5), kOk);
  ASSERT_EQ(ReplaceFileWhole(page.wstring().c_str(), "second page", 11), kOk);
  EXPECT_EQ(scratch::ReadFile(page), "second page");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder.path)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  std::vector<std::string> expected = kept;
  expected.insert(expected.begin() + 1, "report.html");
  EXPECT_EQ(names, expected);
  // A folder that cannot take the file leaves nothing behind.
  const fs::path missing = folder.path / "no" / "report.html";
  EXPECT_NE(ReplaceFileWhole(missing.wstring().c_str(), "x", 1), kOk);
  EXPECT_FALSE(fs::exists(missing.parent_path()));
}

}  // namespace
