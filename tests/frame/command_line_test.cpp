// Raw command-line splitting and the long-option parser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/command_line.h"
#include "app/options.h"
#include "platform/command_line_split.h"

namespace {

using Args = std::vector<std::wstring>;

TEST(SplitRawCommandLine, QuotesBackslashesAndBlanks) {
  const std::pair<const wchar_t*, Args> cases[] = {
      {L"\"C:\\Program Files\\varno.exe\" -v", {L"C:\\Program Files\\varno.exe", L"-v"}},
      {L"varno\t--help", {L"varno", L"--help"}},
      // Backslashes and quotes have no special meaning inside the program name.
      {L"a\\\"b c", {L"a\\\"b", L"c"}},
      {L"\"unterminated name", {L"unterminated name"}},
      {L"", {L""}},
      // 2n backslashes + quote: n backslashes, the quote toggles quoting.
      {L"p a\\\\\"b c\"", {L"p", L"a\\b c"}},
      // 2n+1 backslashes + quote: n backslashes and a literal quote.
      {L"p a\\\\\\\"b c", {L"p", L"a\\\"b", L"c"}},
      {L"p c:\\dir\\\\file d\\", {L"p", L"c:\\dir\\\\file", L"d\\"}},
      {L"p   \"a b\"\t\"\"  c", {L"p", L"a b", L"", L"c"}},
      // Two quotes in a row inside quotes give one literal quote; quoting goes on.
      {L"p \"a\"\"b c\" d", {L"p", L"a\"b c", L"d"}},
      {L"p x\"y z\"w", {L"p", L"xy zw"}},
      {L"p \"open quote runs to end  ", {L"p", L"open quote runs to end  "}},
      {L"p trailing   ", {L"p", L"trailing"}},
  };
  for (const auto& [raw, expected] : cases) {
    Args args;
    SplitRawCommandLine(raw, &args);
    EXPECT_EQ(args, expected) << raw;
  }
}

// The ids and arguments NextOption gives for args until the end, as
// "id:argument" items (the argument only when one was given).
std::vector<std::wstring> Walk(Args args, const OptionSpec* table, uint32_t flags = 0,
                               CommandLine** keep = nullptr) {
  args.insert(args.begin(), L"varno");
  std::vector<const wchar_t*> pointers;
  for (const std::wstring& arg : args) pointers.push_back(arg.c_str());
  CommandLine* line = nullptr;
  EXPECT_EQ(CommandLineCreate(static_cast<int>(pointers.size()), pointers.data(), &line), kOk);
  std::vector<std::wstring> items;
  for (;;) {
    int row = -7;
    const wchar_t* argument = nullptr;
    const int id = NextOption(line, flags, table, &row, &argument);
    EXPECT_NE(row, -7) << "every call sets the row: -1 or the option's";
    if (id == kOptEnd) break;
    items.push_back(std::to_wstring(id) + (argument != nullptr ? L":" + std::wstring(argument) : L""));
  }
  if (keep != nullptr) {
    *keep = line;
  } else {
    CommandLineFree(line);
  }
  return items;
}

std::wstring I(int id, const wchar_t* argument = nullptr) {
  return std::to_wstring(id) + (argument != nullptr ? L":" + std::wstring(argument) : L"");
}

const OptionSpec* Table() {
  static JobContext context;
  return ProgramOptionTable(&context);
}

TEST(NextOption, ProgramTable) {
  const std::pair<Args, std::vector<std::wstring>> cases[] = {
      {{L"-hv", L"-vv"}, {I(kOptHelp), I(kOptVerbose), I(kOptVerbose), I(kOptVerbose)}},
      // An unknown letter reports the whole element once.
      {{L"-vxv", L"-", L"next"}, {I(kOptVerbose), I(kOptUnknown, L"-vxv"), I(kOptUnknown, L"-"), I(kOptNonOption, L"next")}},
      {{L"--ver", L"--vers", L"--verb", L"--exec", L";", L"--e", L"--", L"--he"},
       {I(kOptAmbiguous, L"--ver"), I(kOptVersion), I(kOptVerbose), I(kOptExec, L";"),
        I(kOptAmbiguous, L"--e"), I(kOptAmbiguous, L"--"), I(kOptHelp)}},
      // outdir/output are ambiguous; names are case-sensitive.
      {{L"--outf=search", L"--out", L"--bogus", L"--Help"},
       {I(kOptOutForm, L"search"), I(kOptAmbiguous, L"--out"), I(kOptUnknown, L"--bogus"), I(kOptUnknown, L"--Help")}},
      // A required or optional argument takes the next element whatever it is.
      {{L"--search", L"--sort=time", L"--top", L"-v", L"--stat", L"SMTP", L"--top"},
       {I(kOptSearch, L"--sort=time"), I(kOptTop, L"-v"), I(kOptStat, L"SMTP"), I(kOptBadArgument, L"--top")}},
      {{L"--stat=", L"--stat"}, {I(kOptStat, L""), I(kOptStat)}},
      {{L"--diff=3", L"--help=", L"--merge"},
       {I(kOptBadArgument, L"--diff=3"), I(kOptBadArgument, L"--help="), I(kOptMerge)}},
  };
  for (const auto& [args, expected] : cases) EXPECT_EQ(Walk(args, Table()), expected) << args[0];
}

TEST(NextOption, OwnTables) {
  int32_t flag = 0;
  const wchar_t* target = nullptr;
  const OptionSpec shortTable[] = {{'o', nullptr, kArgRequired, &flag, &target},
                                   {'q', L"quiet", kArgNone, nullptr, nullptr},
                                   {0, nullptr, kArgNone, nullptr, nullptr}};
  EXPECT_EQ(Walk({L"-qofile", L"-o", L"next", L"-qo"}, shortTable),
            (std::vector<std::wstring>{I('q'), I('o', L"file"), I('o', L"next"), I('q'), I(kOptBadArgument, L"-qo")}));
  EXPECT_EQ(flag, 1);
  const OptionSpec prefixTable[] = {{1, L"abc", kArgNone, nullptr, nullptr},
                                    {2, L"abd", kArgNone, nullptr, nullptr},
                                    {3, L"ab", kArgNone, nullptr, nullptr},
                                    {0, nullptr, kArgNone, nullptr, nullptr}};
  // Ambiguity wins over a later exact row.
  EXPECT_EQ(Walk({L"--ab", L"--abd"}, prefixTable), (std::vector<std::wstring>{I(kOptAmbiguous, L"--ab"), I(2)}));
  const OptionSpec empty[] = {{0, nullptr, kArgNone, nullptr, nullptr}};
  EXPECT_EQ(Walk({L"a b", L"--top=3", L"-xy"}, empty),
            (std::vector<std::wstring>{I(kOptNonOption, L"a b"), I(kOptUnknown, L"--top=3"), I(kOptUnknown, L"-xy")}));
}

TEST(NextOption, PermuteMovesNonOptionsToTheEnd) {
  CommandLine* line = nullptr;
  EXPECT_EQ(Walk({L"dir", L"-v", L"--", L"other", L"--help"}, Table(), kOptPermute, &line),
            (std::vector<std::wstring>{I(kOptVerbose), I(kOptHelp)}));
  const Args expected = {L"varno", L"-v", L"--help", L"dir", L"--", L"other"};
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_STREQ(line->argv[i], expected[i].c_str());
  EXPECT_EQ(line->argv[expected.size()], nullptr);
  line->magic = 0;  // a damaged handle gives the end at once
  int row = 0;
  const wchar_t* argument = nullptr;
  EXPECT_EQ(NextOption(line, 0, Table(), &row, &argument), kOptEnd);
  line->magic = kCommandLineMagic;
  CommandLineFree(line);
  EXPECT_EQ(NextOption(nullptr, 0, Table(), &row, &argument), kOptEnd);
  ASSERT_EQ(CommandLineCreateFromRaw(L"varno --top=5 \"a b\"", &line), kOk);
  ASSERT_EQ(line->count, 3);
  EXPECT_STREQ(line->argv[2], L"a b");
  CommandLineFree(line);
}

}  // namespace
