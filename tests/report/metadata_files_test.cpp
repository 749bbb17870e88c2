#include "report/metadata_files.h"

#include "platform/console.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::vector<std::string> Keys(const MetadataFile& file, size_t list) {
  std::vector<std::string> keys;
  for (const TopRow& row : file.lists.at(list).rows) keys.push_back(row.key);
  return keys;
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
