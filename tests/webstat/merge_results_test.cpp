// Merge of result files: keys, units, quantum re-bucketing, interval, line
// ends and standard input (failure codes: the end-to-end merge test).
#include "webstat/merge_results.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../scratch.h"
#include "common/time.h"
#include "platform/console.h"

namespace {

namespace fs = std::filesystem;
using scratch::ReadFile;
using scratch::WriteFile;

struct Merged {
  ResultCode result;
  std::string text;
};

Merged MergeTexts(const std::vector<std::string>& inputs, OutputSettings settings = {}) {
  scratch::Folder folder("merge");
  std::vector<std::wstring> names;
  for (size_t i = 0; i < inputs.size(); ++i) {
    const fs::path path = folder.path / ("in" + std::to_string(i) + ".txt");
    WriteFile(path, inputs[i]);
    names.push_back(path.wstring());
  }
  const fs::path out = folder.path / "out.txt";
  const ResultCode result = MergeResults(names, &settings, out.wstring().c_str());
  return {result, ReadFile(out)};
}

bool HasLine(const std::string& text, const std::string& line) {
  return ("\n" + text).find("\n" + line + "\r\n") != std::string::npos;
}

TEST(MergeResultsTest, KeysUnitsAndBuckets) {
  const char* kDayOne =
      "params;start=2024/03/11 00:00:00;end=2024/03/11 23:59:59\n"
      "format;units=KiB\n"
      "TUH;alice;3\nTUV;alice;1.50\nTUB;alice;2\nTUVIR;alice;1\nTUWF;alice;1\nTUWFA;alice;1\n"
      "HTTP;200;5\nVIR; Eicar ;1\nWFC;0x00000004;2\nWFCA;0x00000001;1\n"
      "S;1.50;3;1;2;1;0;0;0;0;0;0;0\n"
      "H;2024/03/11;10:05;1.00;2;1;1;1;0;0;0;0;0;0;0\n"
      "H;2024/03/11;10:10;0.50;1;0;1;0;0;0;0;0;0;0;0\n"
      "XYZ;alice;99\n";
  const char* kDayTwo =
      "params;start=2024/03/12 00:00:00;end=2024/03/12 23:59:59\n"
      "TUH;ALICE;4\nTUV;ALICE;2\nHTTP;200;1\nS;2\n"
      "H;2024/03/12;00:00;2;1;0;0;0;0;0;0;0;0;0;0\n";
  Merged merged = MergeTexts({kDayOne, kDayTwo});
  ASSERT_EQ(merged.result, kOk);
  for (const char* line :
       {"params;start=2024/03/11 00:00:00;end=2024/03/12 23:59:59", "format;units=B",
        "TUH;alice;7", "TUV;alice;1538", "TUB;alice;2", "TUVIR;alice;1", "TUWF;alice;1",
        "TUWFA;alice;1", "HTTP;200;6", "VIR; Eicar ;1", "WFC;0x00000004;2", "WFCA;0x00000001;1",
        "S;1538;4;1;2;1;0;0;0;0;0;0;0", "H;2024/03/11;10:00;1536;3;1;2;1;0;0;0;0;0;0;0",
        "H;2024/03/11;10:15;0;0;0;0;0;0;0;0;0;0;0;0", "H;2024/03/12;00:00;2;1;0;0;0;0;0;0;0;0;0;0"}) {
    EXPECT_TRUE(HasLine(merged.text, line)) << line << "\n" << merged.text;
  }
  EXPECT_EQ(merged.text.find("XYZ"), std::string::npos);
  // A blocked count from a result file is no virus count, and a virus count no block.
  EXPECT_EQ(merged.text.find("TUVIR;alice;3"), std::string::npos);
}

TEST(MergeResultsTest, UnitOfEachFileAndOutputSettings) {
  struct Case {
    std::string input;
    uint32_t units;
    uint32_t quantumUnit;
    uint64_t quantumCount;
    std::string line;
  } cases[] = {
      {"format;units=MiB\nTIV;h;2\n", 0, 0, 0, "TIV;h;2097152"},
      {"format;units=gb\nTIV;h;1\n", 1048576, 0, 0, "TIV;h;1024.00"},
      {"format;units=KiB\nparams;start=x\nTIV;h;2\n", 0, 0, 0, "TIV;h;2"},  // params resets
      {"format;units=parsecs\nTIV;h;2\n", 0, 0, 0, "TIV;h;2"},
      {"H;2024/03/11;10:50;5;1;0;0;0;0;0;0;0;0;0;0\n", 0, kUnitHour, 1,
       "H;2024/03/11;10:00;5;1;0;0;0;0;0;0;0;0;0;0"},
      {"H;2024/03/11;10:50;5\n", 0, 0, 0, "H;2024/03/11;10:45;5;0;0;0;0;0;0;0;0;0;0;0"},
      {"  THH ; Host ; 3 \n", 0, 0, 0, "THH;Host;3"},
  };
  for (const Case& c : cases) {
    OutputSettings settings;
    settings.unitDivisor = c.units;
    settings.quantumUnit = c.quantumUnit;
    settings.quantumCount = c.quantumCount;
    Merged merged = MergeTexts({c.input}, settings);
    ASSERT_EQ(merged.result, kOk);
    EXPECT_TRUE(HasLine(merged.text, c.line)) << c.input << "\n" << merged.text;
  }
}

TEST(MergeResultsTest, CrLfAndLfInputsGiveTheSameResult) {
  const std::string lf =
      "params;start=2024/03/11 08:00:00;end=2024/03/11 09:00:00\nformat;units=KiB\n"
      "TUH;bob;2\nVIR;Trojan X;1\nS;3.00;2;0;0;0;0;0;0;0;0;0;0\n"
      "H;2024/03/11;08:00;3.00;2;0;0;0;0;0;0;0;0;0;0\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  Merged a = MergeTexts({lf});
  Merged b = MergeTexts({crlf});
  ASSERT_EQ(a.result, kOk);
  EXPECT_EQ(a.text, b.text);
  EXPECT_TRUE(HasLine(a.text, "VIR;Trojan X;1"));
  EXPECT_TRUE(HasLine(a.text, "S;3072;2;0;0;0;0;0;0;0;0;0;0"));
}

TEST(MergeResultsTest, StandardInputWhenNoNames) {
  scratch::Folder folder("merge");
  const fs::path in = folder.path / "stdin.txt";
  const fs::path out = folder.path / "out.txt";
  WriteFile(in, "TUH;carol;5\n");
  ASSERT_NE(std::freopen(in.string().c_str(), "r", stdin), nullptr);
  OutputSettings settings;
  EXPECT_EQ(MergeResults({}, &settings, out.wstring().c_str()), kOk);
  EXPECT_TRUE(HasLine(ReadFile(out), "TUH;carol;5"));
}

}  // namespace
