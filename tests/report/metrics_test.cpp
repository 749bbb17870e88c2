#include "report/metrics.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Keys from the logs become label values: escaped, non-ASCII bytes replaced,
// and a key that reads like an earlier one once escaped is left out, so the
// text never holds one series twice. Fractions keep the files' two decimals;
// a file without its totals line gives no totals.
TEST(Metrics, LabelValuesAreEscapedAndUnique) {
  ReportDay day;
  day.date = 20240313;
  ParseMetadataText(kKindHttpWf, "MUC;a\"b\\c;5\nMUC;\xE9t\xE9;4\nMUC;?t?;3\n", &day.files[kKindHttpWf]);
  ParseMetadataText(kKindRblOut, "S;4;3;0;1;1.5\n", &day.files[kKindRblOut]);
  ParseMetadataText(kKindSmtpIn, "H;00;1;1;0\n", &day.files[kKindSmtpIn]);  // no totals line
  std::string text;
  RenderMetrics(day, &text);
  EXPECT_NE(text.find("varno_day 20240313\n"), std::string::npos);
  EXPECT_NE(text.find("varno_http_filter_requests{category=\"a\\\"b\\\\c\"} 5\n"), std::string::npos);
  EXPECT_NE(text.find("varno_http_filter_requests{category=\"?t?\"} 4\n"), std::string::npos);
  EXPECT_EQ(text.find("} 3\n", text.find("varno_http_filter")), std::string::npos);
  EXPECT_NE(text.find("varno_rbl_volume_bytes{direction=\"out\"} 1.5\n"), std::string::npos);
  EXPECT_EQ(text.find("direction=\"in\""), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 6), "# EOF\n");
}

}  // namespace
