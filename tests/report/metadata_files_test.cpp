#include "report/metadata_files.h"

#include "platform/console.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hours(const std::string& tag, const std::string& values) {
  std::string text;
  for (int h = 0; h < 24; ++h) {
    char hour[4];
    snprintf(hour, sizeof hour, "%02d", h);
    text += tag + ";" + hour + ";" + values + "\r\n";
  }
  return text;
}

std::vector<std::string> Keys(const MetadataFile& file, size_t list) {
  std::vector<std::string> keys;
  for (const TopRow& row : file.lists.at(list).rows) keys.push_back(row.key);
  return keys;
}

// Each kind's file as the metadata generator writes it: summary, hours and
// every top list are read.
TEST(MetadataFiles, ReadsEveryKindsLines) {
  const struct {
    uint32_t kind;
    std::string text;
    std::vector<double> summary;
    double hour5first;
    std::vector<size_t> rowsPerList;
  } cases[] = {
      {kKindSmtpIn, "S;10;7;3\r\n" + Hours("H", "2;1;1") + "TIP;1.2.3.4;6\r\nTIP;;4\r\nERR;0;7\r\nERR;550;3\r\n",
       {10, 7, 3}, 2, {2, 2}},
      {kKindSmtpChart, "DC;9\r\nDCA;5\r\nDC?;1\r\nDCR;3\r\nAR;S;2\r\nRR;H;3\r\nRR;X;1\r\n",
       {9, 5, 1, 3}, 0, {1, 2}},
      {kKindRblIn,
       "S;4;2;1;1;1.50\r\n" + Hours("H", "1;1;0;0;0.25") +
           "TS;a@b;2;1.00;1;1;0\r\nTR;c@d,e@f;2;1.00;2;0;0\r\nTD;a@b;1.00;2\r\nTE;c@d;1.00;2\r\n"
           "VIR;clam;Eicar Test;1\r\nTSD;clam;1\r\nTVN;Eicar Test;1\r\n",
       {4, 2, 1, 1, 1.5}, 1, {1, 1, 1, 1, 1, 1, 1}},
      {kKindRblChart, "SRC;5;1;2;1;1\r\n" + Hours("HRC", "1;0;1;0;0") + "BMT;BAYES_99;2\r\nTVN;X;1\r\n",
       {5, 1, 2, 1, 1}, 1, {1, 1}},
      {kKindPostOut, "S;3;2;1\n" + Hours("H", "0;0;0") + "TIP;10.0.0.1;3\nERR;451;1\n",
       {3, 2, 1}, 0, {1, 1}},
      {kKindBip, "SIP;1.2.3.4;2;1;23:59:01\r\nSIP;5.6.7.8;1;0;25:01:01\r\nVIP;1.2.3.4;1;2;08:00:00\r\n",
       {}, 0, {2, 1}},
      {kKindHttpAl, "S;9;1;2;0;0;0;3\r\n" + Hours("H", "1;0;0;0;0;0;1") + "IP;10.1.1.1;9\r\nVIR;EICAR;1\r\n",
       {9, 1, 2, 0, 0, 0, 3}, 1, {1, 1}},
      {kKindHttpTr, "S;3.00\r\n" + Hours("H", "0.12") + "IP;10.1.1.1;3.00\r\nDM;example.com;2.50\r\n",
       {3}, 0.12, {1, 1}},
      {kKindHttpWf, "MUC;0x00000004;2\r\nMUD;example.com;2\r\nMUU;alice;1\r\nMUI;10.1.1.1;2\r\n",
       {}, 0, {1, 1, 1, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(GetMetadataKind(c.kind).name);
    MetadataFile file;
    ParseMetadataText(c.kind, c.text, &file);
    EXPECT_TRUE(file.present);
    EXPECT_EQ(file.skippedLines, 0u);
    EXPECT_EQ(file.hasSummary, !c.summary.empty());
    for (size_t i = 0; i < c.summary.size(); ++i) EXPECT_DOUBLE_EQ(file.summary[i], c.summary[i]);
    EXPECT_EQ(file.hasHours, c.text.find(";05;") != std::string::npos);
    EXPECT_DOUBLE_EQ(file.hours[5][0], c.hour5first);
    ASSERT_EQ(file.lists.size(), c.rowsPerList.size());
    for (size_t i = 0; i < c.rowsPerList.size(); ++i) {
      EXPECT_EQ(file.lists[i].rows.size(), c.rowsPerList[i]) << file.lists[i].shape->tag;
    }
  }
}

// Keys keep every byte between the label and the values, ';' included.
TEST(MetadataFiles, TopListKeysAreTakenBetweenLabelAndValues) {
  MetadataFile file;
  std::string text = "VIR;clam;Eicar; Test ;1\r\nTS;a;b@c;2;1.00;1;1;0\r\nTVN;<b>";
  text += '\0';
  text += "x;1\r\nTSD;;1\r\n";
  ParseMetadataText(kKindRblIn, text, &file);
  EXPECT_EQ(file.skippedLines, 0u);
  EXPECT_EQ(Keys(file, 0), std::vector<std::string>{"a;b@c"});
  EXPECT_EQ(Keys(file, 4), std::vector<std::string>{"clam;Eicar; Test "});
  EXPECT_EQ(Keys(file, 5), std::vector<std::string>{""});
  EXPECT_EQ(Keys(file, 6), std::vector<std::string>{std::string("<b>\0x", 5)});
  EXPECT_EQ(file.lists[0].rows[0].values, (std::vector<std::string>{"2", "1.00", "1", "1", "0"}));
}

TEST(MetadataFiles, SkipsMalformedLinesAndKeepsTheRest) {
  const char* const bad[] = {
      "S;1;2",            // too few values
      "S;1;2;3;4",        // too many
      "S;1;x;3",          // not a number
      "S;1;-2;3",         // negative
      "S;1;2.;3",         // cut decimal
      "H;24;1;1;0",       // hour out of range
      "H;5;1;1;0",        // one-digit hour
      "H;05;1;1",         // too few
      "TIP;1.2.3.4",      // no count
      "TIP;1.2.3.4;",     // empty count
      "TIP",              // label alone
      "XYZ;1;2;3",        // unknown tag
      "SIP;1.2.3.4;1;0",  // (another kind's label)
      ";;;",
  };
  std::string text = "S;5;4;1\r\n";
  for (const char* line : bad) text += std::string(line) + "\r\n";
  text += "TIP;9.9.9.9;5\r\n\r\n\n";
  MetadataFile file;
  ParseMetadataText(kKindSmtpIn, text, &file);
  EXPECT_EQ(file.skippedLines, std::size(bad));
  EXPECT_DOUBLE_EQ(file.summary[0], 5);
  EXPECT_FALSE(file.hasHours);
  EXPECT_EQ(Keys(file, 0), std::vector<std::string>{"9.9.9.9"});
  // A BIP line needs its time of day.
  ParseMetadataText(kKindBip, "SIP;1.2.3.4;1;0;1:00:00\nSIP;1.2.3.4;1;0\nVIP;a;1;0;10:00:0x\n", &file);
  EXPECT_EQ(file.skippedLines, 3u);
}

// Names without a kind's folder, date or prefix are no metadata (the rest of
// the scan: the end-to-end report run).
TEST(MetadataFiles, OtherNamesAndMissingFilesAreNoMetadata) {
  uint32_t kind = 0, date = 0;
  for (const wchar_t* name : {L"_kelb-wf20240311.csv", L"_smtp20240231.csv", L"_smtp2024031a.csv", L"_varno.stat"}) {
    EXPECT_FALSE(MatchMetadataName(nullptr, name, &kind, &date)) << name;
  }
  MetadataFile file;
  EXPECT_EQ(ReadMetadataFile(kKindSmtpIn, L"/nonexistent-varno/_smtp20240101.csv", &file), kErrFileNotFound);
}

}  // namespace
