// Value parsers of the options. (The option loop that stores their values: the
// end-to-end cases, e.g. stat/repeated_stat_and_separated_values.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/options.h"

namespace {

// Each value parser over good texts (with the value they give) and bad ones.
struct ParserCases {
  const char* name;
  ResultCode (*parse)(const wchar_t* text, uint64_t* value);
  std::vector<std::pair<const wchar_t*, uint64_t>> good;
  std::vector<const wchar_t*> bad;
};

TEST(ValueParsers, GoodAndBadTexts) {
  const ParserCases parsers[] = {
      {"count",
       [](const wchar_t* t, uint64_t* v) { uint32_t n = 5; ResultCode r = ParseCount(t, &n); *v = n; return r; },
       {{L"0x10", 16}, {L"010", 8}, {L" \t12 abc", 12}, {L"0", 0}, {L"4294967295", 4294967295u}},
       {L"12abc", L"4294967296", L"0x100000000", L"", L"  ", L"abc", L"-1", L"+3", L"08", L"0x", L"1.5"}},
      {"units",
       [](const wchar_t* t, uint64_t* v) { uint32_t n = 7; ResultCode r = ParseUnits(t, &n); *v = n; return r; },
       {{L"B", 0}, {L"b", 0}, {L"kB", 1024}, {L"kib", 1024}, {L" \tMiB", 1048576}, {L"GiB x", 1073741824},
        {L"gb\t", 1073741824}},
       {L"KiBi", L"", L"TB", L"k", L"KiB2", L"bytes", L"Ki B"}},
      // Quantum: unit code * 2^32 + count; a bare number counts minutes.
      {"quantum",
       [](const wchar_t* t, uint64_t* v) {
         uint32_t unit = 9;
         uint64_t count = 9;
         ResultCode r = ParseQuantum(t, &unit, &count);
         *v = (uint64_t{unit} << 32) + count;
         return r;
       },
       {{L"15", (2ull << 32) + 15}, {L"2 m", (6ull << 32) + 2}, {L"2 M", (2ull << 32) + 2},
        {L"\t30S", (1ull << 32) + 30}, {L"2w", (5ull << 32) + 2}, {L"1y", (7ull << 32) + 1}, {L"2m rest", (6ull << 32) + 2}, {L"0", (2ull << 32) + 0}},
       {L"m", L"", L"5x", L"5 mm", L"5D", L"-5", L"0x10", L"18446744073709551616"}},
      {"sort",
       [](const wchar_t* t, uint64_t* v) { uint32_t n = 99; ResultCode r = ParseSortColumn(t, &n); *v = n; return r; },
       {{L"time", 0}, {L"FROM", 1}, {L"To", 2}, {L"ip", 3}, {L"id", 4}, {L"host", 5}, {L"SITE", 5}, {L"user", 6},
        {L"Volume", 7}},
       {L"bogus", L" time", L""}},
      {"outform",
       [](const wchar_t* t, uint64_t* v) { uint32_t n = 0; ResultCode r = ParseOutputForms(t, &n); *v = n; return r; },
       {{L"search", kOutFormSearch}, {L"SUMMARY,search", kOutFormSearch | kOutFormSummary}, {L",,summary,", kOutFormSummary}},
       {L"", L",", L"both", L"search, summary", L"search;summary"}},
  };
  for (const ParserCases& parser : parsers) {
    SCOPED_TRACE(parser.name);
    for (const auto& [text, expected] : parser.good) {
      uint64_t value = 0;
      EXPECT_EQ(parser.parse(text, &value), kOk) << text;
      EXPECT_EQ(value, expected) << text;
    }
    for (const wchar_t* text : parser.bad) {
      uint64_t value = 0;
      EXPECT_EQ(parser.parse(text, &value), kErrInvalidValue) << text;
    }
    uint64_t value = 0;
    EXPECT_EQ(parser.parse(nullptr, &value), kErrInvalidArgument);
  }
}

}  // namespace
