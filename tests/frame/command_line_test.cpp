// Raw command-line splitting and the long-option parser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/command_line.h"
#include "app/options.h"
#include "platform/command_line_split.h"

namespace {

std::vector<std::wstring> Split(const wchar_t* raw) {
  std::vector<std::wstring> args;
  SplitRawCommandLine(raw, &args);
  return args;
}

using Args = std::vector<std::wstring>;

TEST(SplitRawCommandLine, ProgramNameQuotedOrUpToBlank) {
  EXPECT_EQ(Split(L"\"C:\\Program Files\\varno.exe\" -v"),
            (Args{L"C:\\Program Files\\varno.exe", L"-v"}));
  EXPECT_EQ(Split(L"varno\t--help"), (Args{L"varno", L"--help"}));
  // Backslashes and quotes have no special meaning inside the program name.
  EXPECT_EQ(Split(L"a\\\"b c"), (Args{L"a\\\"b", L"c"}));
  EXPECT_EQ(Split(L"\"unterminated name"), (Args{L"unterminated name"}));
  EXPECT_EQ(Split(L""), (Args{L""}));
}

TEST(SplitRawCommandLine, BackslashesBeforeQuotes) {
  // 2n backslashes + quote: n backslashes, the quote toggles quoting.
  EXPECT_EQ(Split(L"p a\\\\\"b c\""), (Args{L"p", L"a\\b c"}));
  // 2n+1 backslashes + quote: n backslashes and a literal quote.
  EXPECT_EQ(Split(L"p a\\\\\\\"b c"), (Args{L"p", L"a\\\"b", L"c"}));
  EXPECT_EQ(Split(L"p \\\"x"), (Args{L"p", L"\"x"}));
  // Backslashes not followed by a quote are literal.
  EXPECT_EQ(Split(L"p c:\\dir\\\\file d\\"), (Args{L"p", L"c:\\dir\\\\file", L"d\\"}));
}

TEST(SplitRawCommandLine, QuotingAndBlanks) {
  EXPECT_EQ(Split(L"p   \"a b\"\t\"\"  c"), (Args{L"p", L"a b", L"", L"c"}));
  // Two quotes in a row inside quotes give one literal quote; quoting goes on.
  EXPECT_EQ(Split(L"p \"a\"\"b c\" d"), (Args{L"p", L"a\"b c", L"d"}));
  EXPECT_EQ(Split(L"p x\"y z\"w"), (Args{L"p", L"xy zw"}));
  EXPECT_EQ(Split(L"p \"open quote runs to end  "), (Args{L"p", L"open quote runs to end  "}));
  EXPECT_EQ(Split(L"p trailing   "), (Args{L"p", L"trailing"}));
}

// A command line over given arguments, freed at the end of the test.
class Parser {
 public:
  explicit Parser(Args args) : args_(std::move(args)) {
    args_.insert(args_.begin(), L"varno");
    std::vector<const wchar_t*> pointers;
    for (const std::wstring& arg : args_) pointers.push_back(arg.c_str());
    EXPECT_EQ(CommandLineCreate(static_cast<int>(pointers.size()), pointers.data(), &line_), kOk);
  }
  ~Parser() { CommandLineFree(line_); }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  struct Result {
    int id;
    int row;
    std::wstring argument;
    bool hasArgument;
  };

  Result Next(const OptionSpec* table, uint32_t flags = 0) {
    int row = -7;
    const wchar_t* argument = nullptr;
    int id = NextOption(line_, flags, table, &row, &argument);
    return {id, row, argument != nullptr ? argument : L"", argument != nullptr};
  }

  CommandLine* line() { return line_; }

 private:
  Args args_;
  CommandLine* line_ = nullptr;
};

const OptionSpec* Table() {
  static JobContext context;
  return ProgramOptionTable(&context);
}

TEST(CommandLine, KeepsEveryArgumentInOneBuffer) {
  Parser parser({L"a", L"", L"c d"});
  CommandLine* line = parser.line();
  ASSERT_EQ(line->count, 4);
  EXPECT_EQ(line->magic, kCommandLineMagic);
  EXPECT_STREQ(line->argv[2], L"");
  EXPECT_STREQ(line->argv[3], L"c d");
  EXPECT_EQ(line->argv[4], nullptr);
  EXPECT_EQ(line->capacity % 8, 0);
  EXPECT_EQ(line->endIndex, 4);
}

TEST(CommandLine, FromRawText) {
  CommandLine* line = nullptr;
  ASSERT_EQ(CommandLineCreateFromRaw(L"varno --top=5 \"a b\"", &line), kOk);
  ASSERT_EQ(line->count, 3);
  EXPECT_STREQ(line->argv[2], L"a b");
  CommandLineFree(line);
}

TEST(NextOption, ClusterOfShortOptions) {
  Parser parser({L"-hv", L"-vv"});
  EXPECT_EQ(parser.Next(Table()).id, kOptHelp);
  EXPECT_EQ(parser.Next(Table()).id, kOptVerbose);
  EXPECT_EQ(parser.Next(Table()).id, kOptVerbose);
  EXPECT_EQ(parser.Next(Table()).id, kOptVerbose);
  EXPECT_EQ(parser.Next(Table()).id, kOptEnd);
  EXPECT_EQ(parser.Next(Table()).id, kOptEnd);
}

TEST(NextOption, UnknownShortOptionReportsWholeElementOnce) {
  Parser parser({L"-vxv", L"-", L"next"});
  EXPECT_EQ(parser.Next(Table()).id, kOptVerbose);
  Parser::Result unknown = parser.Next(Table());
  EXPECT_EQ(unknown.id, kOptUnknown);
  EXPECT_EQ(unknown.argument, L"-vxv");
  Parser::Result dash = parser.Next(Table());
  EXPECT_EQ(dash.id, kOptUnknown);
  EXPECT_EQ(dash.argument, L"-");
  EXPECT_EQ(parser.Next(Table()).id, kOptNonOption);
}

TEST(NextOption, AbbreviationsAndAmbiguity) {
  Parser parser({L"--ver", L"--vers", L"--verb", L"--exec", L";", L"--e", L"--", L"--he",
                 L"--outf=search", L"--out", L"--bogus", L"--Help"});
  Parser::Result ver = parser.Next(Table());
  EXPECT_EQ(ver.id, kOptAmbiguous);
  EXPECT_EQ(ver.argument, L"--ver");
  EXPECT_EQ(parser.Next(Table()).id, kOptVersion);
  EXPECT_EQ(parser.Next(Table()).id, kOptVerbose);
  Parser::Result exec = parser.Next(Table());  // exact although exec-nowait shares its start
  EXPECT_EQ(exec.id, kOptExec);
  EXPECT_EQ(exec.argument, L";");
  EXPECT_EQ(parser.Next(Table()).id, kOptAmbiguous);
  Parser::Result dashes = parser.Next(Table());
  EXPECT_EQ(dashes.id, kOptAmbiguous);
  EXPECT_EQ(dashes.argument, L"--");
  EXPECT_EQ(parser.Next(Table()).id, kOptHelp);
  Parser::Result outform = parser.Next(Table());
  EXPECT_EQ(outform.id, kOptOutForm);
  EXPECT_EQ(outform.argument, L"search");
  EXPECT_EQ(parser.Next(Table()).id, kOptAmbiguous);  // outdir, output
  EXPECT_EQ(parser.Next(Table()).id, kOptUnknown);
  EXPECT_EQ(parser.Next(Table()).id, kOptUnknown);  // names are case-sensitive
}

TEST(NextOption, AmbiguityWinsOverALaterExactRow) {
  const OptionSpec table[] = {{1, L"abc", kArgNone, nullptr, nullptr},
                              {2, L"abd", kArgNone, nullptr, nullptr},
                              {3, L"ab", kArgNone, nullptr, nullptr},
                              {0, nullptr, kArgNone, nullptr, nullptr}};
  Parser parser({L"--ab", L"--abd"});
  EXPECT_EQ(parser.Next(table).id, kOptAmbiguous);
  EXPECT_EQ(parser.Next(table).id, 2);
}

TEST(NextOption, RequiredArgumentTakesTheNextElementWhateverItIs) {
  Parser parser({L"--search", L"--sort=time", L"--top", L"-v", L"--stat", L"SMTP", L"--top"});
  Parser::Result search = parser.Next(Table());
  EXPECT_EQ(search.id, kOptSearch);
  EXPECT_EQ(search.argument, L"--sort=time");
  Parser::Result top = parser.Next(Table());
  EXPECT_EQ(top.id, kOptTop);
  EXPECT_EQ(top.argument, L"-v");
  Parser::Result stat = parser.Next(Table());  // an optional argument behaves the same
  EXPECT_EQ(stat.id, kOptStat);
  EXPECT_EQ(stat.argument, L"SMTP");
  Parser::Result last = parser.Next(Table());
  EXPECT_EQ(last.id, kOptBadArgument);
  EXPECT_EQ(last.argument, L"--top");
  EXPECT_GE(last.row, 0);
  EXPECT_EQ(Table()[last.row].id, kOptTop);
  EXPECT_EQ(parser.Next(Table()).id, kOptEnd);
}

TEST(NextOption, OptionalArgumentMissingOrEmpty) {
  Parser parser({L"--stat=", L"--stat"});
  Parser::Result empty = parser.Next(Table());
  EXPECT_EQ(empty.id, kOptStat);
  EXPECT_TRUE(empty.hasArgument);
  EXPECT_EQ(empty.argument, L"");
  Parser::Result none = parser.Next(Table());
  EXPECT_EQ(none.id, kOptStat);
  EXPECT_FALSE(none.hasArgument);
}

TEST(NextOption, ValueForANoArgumentRow) {
  Parser parser({L"--diff=3", L"--help=", L"--merge"});
  Parser::Result diff = parser.Next(Table());
  EXPECT_EQ(diff.id, kOptBadArgument);
  EXPECT_EQ(diff.argument, L"--diff=3");
  ASSERT_GE(diff.row, 0);
  EXPECT_EQ(Table()[diff.row].argKind, kArgNone);
  EXPECT_EQ(parser.Next(Table()).id, kOptBadArgument);
  EXPECT_EQ(parser.Next(Table()).id, kOptMerge);
}

TEST(NextOption, ShortOptionArgumentFromClusterOrNextElement) {
  int32_t flag = 0;
  const wchar_t* target = nullptr;
  const OptionSpec table[] = {{'o', nullptr, kArgRequired, &flag, &target},
                              {'q', L"quiet", kArgNone, nullptr, nullptr},
                              {0, nullptr, kArgNone, nullptr, nullptr}};
  Parser parser({L"-qofile", L"-o", L"next", L"-qo"});
  EXPECT_EQ(parser.Next(table).id, 'q');
  Parser::Result rest = parser.Next(table);
  EXPECT_EQ(rest.id, 'o');
  EXPECT_EQ(rest.argument, L"file");
  EXPECT_EQ(flag, 1);
  EXPECT_STREQ(target, L"file");
  Parser::Result next = parser.Next(table);
  EXPECT_EQ(next.argument, L"next");
  EXPECT_EQ(parser.Next(table).id, 'q');
  Parser::Result missing = parser.Next(table);
  EXPECT_EQ(missing.id, kOptBadArgument);
  EXPECT_EQ(missing.argument, L"-qo");
  EXPECT_EQ(parser.Next(table).id, kOptEnd);
}

TEST(NextOption, FlagTargetOfDiff) {
  JobContext context;
  const OptionSpec* table = ProgramOptionTable(&context);
  Parser parser({L"--diff"});
  EXPECT_EQ(parser.Next(table).id, kOptDiff);
  EXPECT_EQ(context.diff, 1);
  ProgramOptionTable(nullptr);
}

TEST(NextOption, EmptyTableGivesEveryElementBack) {
  const OptionSpec empty[] = {{0, nullptr, kArgNone, nullptr, nullptr}};
  Parser parser({L"a b", L"--top=3", L"-xy", L";"});
  EXPECT_EQ(parser.Next(empty).argument, L"a b");
  Parser::Result longOption = parser.Next(empty);
  EXPECT_EQ(longOption.id, kOptUnknown);
  EXPECT_EQ(longOption.argument, L"--top=3");
  Parser::Result cluster = parser.Next(empty);
  EXPECT_EQ(cluster.id, kOptUnknown);
  EXPECT_EQ(cluster.argument, L"-xy");
  EXPECT_EQ(parser.Next(empty).argument, L";");
  EXPECT_EQ(parser.Next(empty).id, kOptEnd);
}

TEST(NextOption, PermuteMovesNonOptionsToTheEnd) {
  Parser parser({L"dir", L"-v", L"--", L"other", L"--help"});
  EXPECT_EQ(parser.Next(Table(), kOptPermute).id, kOptVerbose);
  EXPECT_EQ(parser.Next(Table(), kOptPermute).id, kOptHelp);
  EXPECT_EQ(parser.Next(Table(), kOptPermute).id, kOptEnd);
  CommandLine* line = parser.line();
  EXPECT_STREQ(line->argv[1], L"-v");
  EXPECT_STREQ(line->argv[2], L"--help");
  EXPECT_STREQ(line->argv[3], L"dir");
  EXPECT_STREQ(line->argv[4], L"--");
  EXPECT_STREQ(line->argv[5], L"other");
}

TEST(NextOption, RejectsMissingOrDamagedInput) {
  int row = 0;
  const wchar_t* argument = nullptr;
  EXPECT_EQ(NextOption(nullptr, 0, Table(), &row, &argument), kOptEnd);
  Parser parser({L"-v"});
  EXPECT_EQ(NextOption(parser.line(), 0, nullptr, &row, &argument), kOptEnd);
  parser.line()->magic = 0;
  EXPECT_EQ(NextOption(parser.line(), 0, Table(), &row, &argument), kOptEnd);
  parser.line()->magic = kCommandLineMagic;
  EXPECT_EQ(NextOption(parser.line(), 0, Table(), &row, &argument), kOptVerbose);
}

}  // namespace
