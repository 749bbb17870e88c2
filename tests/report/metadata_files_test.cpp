#include "report/metadata_files.h"

#include "platform/console.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

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

TEST(MetadataFiles, NamesGiveKindAndDate) {
  const struct {
    const wchar_t* folder;
    const wchar_t* name;
    bool match;
    uint32_t kind;
  } cases[] = {
      {nullptr, L"_smtp20240311.csv", true, kKindSmtpIn},
      {nullptr, L"_SMTP20240311.CSV", true, kKindSmtpIn},
      {nullptr, L"_smtp-out20240311.csv", true, kKindSmtpOut},
      {L"_smtpstat", L"_smtp20240311.csv", true, kKindSmtpChart},
      {L"_smtpstat", L"_rbl20240311.csv", true, kKindRblChart},
      {nullptr, L"_rbl-out20240311.csv", true, kKindRblOut},
      {nullptr, L"_postponer-out20240311.csv", true, kKindPostOut},
      {nullptr, L"_bip20240311.csv", true, kKindBip},
      {L"_kelb_cs", L"_kelb-wf20240311.csv", true, kKindHttpWf},
      {nullptr, L"_kelb-wf20240311.csv", false, 0},
      {nullptr, L"_smtp2024031.csv", false, 0},
      {nullptr, L"_smtp20240311-old.csv", false, 0},
      {nullptr, L"_smtp20240231.csv", false, 0},
      {nullptr, L"_smtp2024031a.csv", false, 0},
      {nullptr, L"_varno.stat", false, 0},
  };
  for (const auto& c : cases) {
    uint32_t kind = 99, date = 0;
    EXPECT_EQ(MatchMetadataName(c.folder, c.name, &kind, &date), c.match) << c.name;
    if (c.match) {
      EXPECT_EQ(kind, c.kind) << c.name;
      EXPECT_EQ(date, 20240311u) << c.name;
    }
  }
}

TEST(MetadataFiles, ScanFindsDaysInTheFolderAndItsTypeFolders) {
  const fs::path root = fs::temp_directory_path() / ("varno_report_scan_" + std::to_string(CurrentProcessId()));
  fs::remove_all(root);
  fs::create_directories(root / "_smtpstat");
  fs::create_directories(root / "_kelb_cs");
  for (const fs::path& name : {root / "_smtp20240311.csv", root / "_rbl20240312.csv",
                               root / "_smtpstat/_rbl20240311.csv", root / "_kelb_cs/_kelb-tr20240313.csv",
                               root / "_varno.stat", root / "_smtp20249999.csv"}) {
    std::ofstream(name) << "S;1;1;0\n";
  }
  fs::create_directories(root / "_bip20240310.csv");  // a folder is no file
  MetadataDays days;
  ASSERT_EQ(ScanMetadataFolder(root.wstring().c_str(), &days), kOk);
  ASSERT_EQ(days.size(), 3u);
  EXPECT_EQ(days[20240311][kKindSmtpIn], (root / "_smtp20240311.csv").wstring());
  EXPECT_EQ(days[20240311][kKindRblChart], (root / "_smtpstat" / "_rbl20240311.csv").wstring());
  EXPECT_TRUE(days[20240311][kKindRblIn].empty());
  EXPECT_EQ(days[20240312][kKindRblIn], (root / "_rbl20240312.csv").wstring());
  EXPECT_EQ(days[20240313][kKindHttpTr], (root / "_kelb_cs" / "_kelb-tr20240313.csv").wstring());

  MetadataFile file;
  EXPECT_EQ(ReadMetadataFile(kKindSmtpIn, (root / "_smtp20240311.csv").wstring().c_str(), &file), kOk);
  EXPECT_DOUBLE_EQ(file.summary[0], 1);
  EXPECT_EQ(ReadMetadataFile(kKindSmtpIn, (root / "_smtp20240101.csv").wstring().c_str(), &file),
            kErrFileNotFound);
  fs::remove_all(root);
  MetadataDays none;
  EXPECT_EQ(ScanMetadataFolder(root.wstring().c_str(), &none), kErrPathNotFound);
}

}  // namespace
