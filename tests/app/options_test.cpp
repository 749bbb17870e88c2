// Value parsers and the option loop.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "frame/command_line.h"
#include "frame/console.h"
#include "app/options.h"
#include "platform/console.h"

namespace {

namespace fs = std::filesystem;

TEST(ParseCount, CNotationFollowedByEndOrWhiteSpace) {
  uint32_t value = 99;
  EXPECT_EQ(ParseCount(L"0x10", &value), kOk);
  EXPECT_EQ(value, 16u);
  EXPECT_EQ(ParseCount(L"010", &value), kOk);
  EXPECT_EQ(value, 8u);
  EXPECT_EQ(ParseCount(L" \t12 abc", &value), kOk);
  EXPECT_EQ(value, 12u);
  EXPECT_EQ(ParseCount(L"0", &value), kOk);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(ParseCount(L"4294967295", &value), kOk);
  EXPECT_EQ(value, 4294967295u);
  value = 5;
  for (const wchar_t* bad : {L"12abc", L"4294967296", L"0x100000000", L"", L"  ", L"abc", L"-1",
                             L"+3", L"08", L"0x", L"1.5"}) {
    EXPECT_EQ(ParseCount(bad, &value), kErrInvalidValue) << bad;
  }
  EXPECT_EQ(value, 5u);  // a bad value leaves the count alone
  EXPECT_EQ(ParseCount(nullptr, &value), kErrInvalidArgument);
}

TEST(ParseUnits, NamesWithoutRegardToCase) {
  struct Case {
    const wchar_t* text;
    uint32_t divisor;
  } cases[] = {{L"B", 0},          {L"b", 0},          {L"kB", 1024},   {L"kib", 1024},
               {L"KB", 1024},      {L" \tMiB", 1048576}, {L"mb", 1048576}, {L"GiB x", 1073741824},
               {L"gb\t", 1073741824}};
  for (const Case& c : cases) {
    uint32_t divisor = 7;
    EXPECT_EQ(ParseUnits(c.text, &divisor), kOk) << c.text;
    EXPECT_EQ(divisor, c.divisor) << c.text;
  }
  uint32_t divisor = 7;
  for (const wchar_t* bad : {L"KiBi", L"", L"TB", L"k", L"KiB2", L"bytes", L"Ki B"}) {
    EXPECT_EQ(ParseUnits(bad, &divisor), kErrInvalidValue) << bad;
  }
  EXPECT_EQ(ParseUnits(nullptr, &divisor), kErrInvalidArgument);
}

TEST(ParseQuantum, CountAndCaseSensitiveUnit) {
  struct Case {
    const wchar_t* text;
    uint32_t unit;
    uint64_t count;
  } cases[] = {{L"15", 2, 15},   {L"2 m", 6, 2},      {L"2 M", 2, 2},     {L"\t30S", 1, 30},
               {L"3H", 3, 3},    {L"1d", 4, 1},       {L"2w", 5, 2},      {L"1y", 7, 1},
               {L"5 \t", 2, 5},  {L"2m rest", 6, 2},  {L"18446744073709551615", 2, 18446744073709551615ull}};
  for (const Case& c : cases) {
    uint32_t unit = 0;
    uint64_t count = 0;
    EXPECT_EQ(ParseQuantum(c.text, &unit, &count), kOk) << c.text;
    EXPECT_EQ(unit, c.unit) << c.text;
    EXPECT_EQ(count, c.count) << c.text;
  }
  uint32_t unit = 9;
  uint64_t count = 9;
  for (const wchar_t* bad : {L"m", L"", L"5x", L"5 mm", L"5D", L"0", L"-5", L"0x10",
                             L"18446744073709551616"}) {
    EXPECT_EQ(ParseQuantum(bad, &unit, &count), kErrInvalidValue) << bad;
  }
  EXPECT_EQ(unit, 9u);
  EXPECT_EQ(count, 9u);
  EXPECT_EQ(ParseQuantum(nullptr, &unit, &count), kErrInvalidArgument);
}

TEST(ParseSortColumn, WordsWithoutRegardToCase) {
  struct Case {
    const wchar_t* text;
    uint32_t column;
  } cases[] = {{L"time", 0}, {L"FROM", 1}, {L"To", 2},   {L"ip", 3},     {L"id", 4},
               {L"host", 5}, {L"SITE", 5}, {L"user", 6}, {L"Volume", 7}};
  for (const Case& c : cases) {
    uint32_t column = 99;
    EXPECT_EQ(ParseSortColumn(c.text, &column), kOk) << c.text;
    EXPECT_EQ(column, c.column) << c.text;
  }
  uint32_t column = 3;
  EXPECT_EQ(ParseSortColumn(L"bogus", &column), kErrInvalidValue);
  EXPECT_EQ(column, 0u);  // an unknown word leaves column 0
  column = 3;
  EXPECT_EQ(ParseSortColumn(L" time", &column), kErrInvalidValue);
  EXPECT_EQ(ParseSortColumn(L"", &column), kErrInvalidValue);
  EXPECT_EQ(ParseSortColumn(nullptr, &column), kErrInvalidArgument);
}

TEST(ParseOutputForms, CommaListOfSearchAndSummary) {
  uint32_t forms = 0;
  EXPECT_EQ(ParseOutputForms(L"search", &forms), kOk);
  EXPECT_EQ(forms, kOutFormSearch);
  EXPECT_EQ(ParseOutputForms(L"SUMMARY,search", &forms), kOk);
  EXPECT_EQ(forms, kOutFormSearch | kOutFormSummary);
  EXPECT_EQ(ParseOutputForms(L",,summary,", &forms), kOk);
  EXPECT_EQ(forms, kOutFormSummary);
  for (const wchar_t* bad : {L"", L",", L"both", L"search, summary", L"search;summary"}) {
    EXPECT_EQ(ParseOutputForms(bad, &forms), kErrInvalidValue) << bad;
  }
  std::wstring longToken(65, L'a');
  EXPECT_EQ(ParseOutputForms(longToken.c_str(), &forms), kErrInvalidValue);
  EXPECT_EQ(ParseOutputForms(nullptr, &forms), kErrInvalidArgument);
}

// One run of the option loop over given arguments, with its messages.
class OptionRun {
 public:
  explicit OptionRun(std::vector<std::wstring> args) {
    args.insert(args.begin(), L"varno");
    std::vector<const wchar_t*> pointers;
    for (const std::wstring& arg : args) pointers.push_back(arg.c_str());
    EXPECT_EQ(CommandLineCreate(static_cast<int>(pointers.size()), pointers.data(), &line_), kOk);
    fs::path copy = fs::temp_directory_path() /
                    ("varno_options_" + std::to_string(CurrentProcessId()) + ".txt");
    fs::remove(copy);
    SetVerbosity(0);
    EXPECT_EQ(InitJobContext(&context), kOk);
    SetDiagnosticFile(copy.wstring().c_str());
    result = ParseOptions(line_, &context, kParseNoDiagnosticFile);
    SetDiagnosticFile(nullptr);
    std::ifstream in(copy, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (char c : text) {
      if (c != '\r') messages.push_back(c);
    }
    fs::remove(copy);
  }
  ~OptionRun() {
    FreeJobContext(&context);
    CommandLineFree(line_);
    SetVerbosity(0);
    SetDiagnosticThreshold(255);
  }
  OptionRun(const OptionRun&) = delete;
  OptionRun& operator=(const OptionRun&) = delete;

  JobContext context;
  ResultCode result = kOk;
  std::string messages;

 private:
  CommandLine* line_ = nullptr;
};

TEST(OptionLoop, ValuesIntoTheContext) {
  OptionRun none({});
  EXPECT_EQ(none.context.settings.topCount, 15u);
  EXPECT_FALSE(none.context.outputDir.has_value());
  OptionRun run({L"-vv", L"--top=0x10", L"--paging", L"25", L"--units=kib", L"--quantum=2 m",
                 L"--rev-sort=site", L"--outform=summary", L"--diff", L"dir", L"--verbose",
                 L"other", L"--dbg_set_level=3", L"--dbg_set_log=/nonexistent/x", L"--stat", L"SMTP",
                 L"--stat=RBL-IN", L"-vvvvvvv"});
  EXPECT_EQ(run.result, kOk);
  EXPECT_EQ(run.messages, "");
  EXPECT_EQ(run.context.mode, RunMode::kStat);
  EXPECT_EQ(run.context.statMask, 0x31u);
  EXPECT_EQ(GetVerbosity(), 10);
  EXPECT_EQ(run.context.settings.topCount, 16u);
  EXPECT_EQ(run.context.paging, 25u);
  EXPECT_EQ(run.context.settings.unitDivisor, 1024u);
  EXPECT_EQ(run.context.settings.quantumUnit, 6u);
  EXPECT_EQ(run.context.settings.quantumCount, 2u);
  EXPECT_EQ(run.context.sortColumn, kSortHost);
  EXPECT_EQ(run.context.sortDescending, 1u);
  EXPECT_EQ(run.context.outputForms, kOutFormSummary);
  EXPECT_EQ(run.context.diff, 1);
  EXPECT_EQ(run.context.nonOptions, (std::vector<std::wstring>{L"dir", L"other"}));
  EXPECT_EQ(GetDiagnosticThreshold(), 3u);
}

TEST(OptionLoop, StopsAtTheFirstUsageError) {
  OptionRun unknown({L"-v", L"--bogus=1", L"--help"});
  EXPECT_EQ(unknown.result, kErrFailed);
  EXPECT_EQ(unknown.context.mode, RunMode::kNone);
  OptionRun repeated({L"--version", L"--vers", L"--merge=x"});
  EXPECT_EQ(repeated.context.mode, RunMode::kVersion);
  OptionRun helpTwice({L"-h", L"--help"});
  EXPECT_EQ(helpTwice.result, kOk);
}

}  // namespace
