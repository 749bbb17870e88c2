// Search runs over small log directories: correlation, filters, sorting,
// paging, output files, hostile lines and cancellation.
#include "doctor/search_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/mail_log.h"
#include "doctor/mail_index.h"
#include "doctor/search_conditions.h"
#include "search_fixture.h"

namespace {

using search_test::Crlf;
using search_test::LogDir;
using search_test::PostAnnounce;
using search_test::PostEnd;
using search_test::PostStatus;
using search_test::Rbl;
using search_test::Smtp;

const std::string kIn1 = Smtp("10:00:00", "a@x", "b@y", "1.2.3.4", "A----", "AA01", "0x4");
const std::string kIn2 = Smtp("23:59:50", "c@x", "d@y", "1.2.3.5", "a", "AA02");
const std::string kIn3 = Smtp("11:00:00", "e@x", "f@y", "1.2.3.6", "R--B-", "AA03");
const std::string kOut1 = Smtp("09:00:00", "g@x", "h@y", "10.0.0.1", "A", "BB01");
const std::string kRblIn1 = Rbl("10:00:01", "", "", "AA01", "0", "00E6");
const std::string kRblIn2 = Rbl("00:00:05", "", "SPAM", "AA02", "-1000", "0189");
const std::string kRblOut1 = Rbl("09:00:01", "", "", "BB01", "0");
const std::string kPostIn1a = PostStatus("10:00:03", "AA01", "RETRY");
const std::string kPostIn1b = PostStatus("08:00:01", "AA01", "SENT");
const std::string kPostOut1 = PostStatus("09:00:03", "BB01", "STAY");

// Two days of incoming and one of outgoing mail.
void WriteMailDay(const LogDir& dir) {
  dir.Write("smtp20240312.log", {kIn1, kIn2, kIn3}, "\r\n");
  dir.Write("smtp-out20240312.log", {kOut1});
  dir.Write("rbl20240312.log", {kRblIn1});
  dir.Write("rbl20240313.log", {kRblIn2});
  dir.Write("rbl-out20240312.log", {kRblOut1});
  dir.Write("postponer20240312.log",
            {PostAnnounce("10:00:02", "AA01", 2), kPostIn1a, PostEnd("10:05:00", "AA01")});
  dir.Write("postponer20240313.log",
            {PostAnnounce("08:00:00", "AA01", 1), kPostIn1b, PostEnd("08:00:02", "AA01"),
             PostEnd("08:00:03", "AA01"), PostStatus("08:00:04", "AA02", "SENT")});
  dir.Write("postponer-out20240312.log", {PostAnnounce("09:00:02", "BB01", 1), kPostOut1});
}

struct SearchOutcome {
  ResultCode result = kOk;
  uint32_t matches = 0;
  std::string listing;  // with LF line ends
};

SearchOutcome Search(const LogDir& dir, const wchar_t* text, uint32_t column = 0, uint32_t descending = 0,
           uint32_t pageSize = 0) {
  SearchConditions conditions;
  SearchOutcome run;
  run.result = ParseSearchConditions(text, &conditions);
  if (run.result != kOk) return run;
  conditions.sortColumn = column;
  conditions.sortDescending = descending;
  conditions.pageSize = pageSize;
  std::wstring output = dir.WideFile("listing.txt");
  run.result = RunSearch(dir.Wide().c_str(), &conditions, output.c_str(), nullptr, nullptr,
                         &run.matches);
  ReleaseSearchConditions(&conditions);
  std::string raw = dir.Read("listing.txt");
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    run.listing += raw[i];
  }
  EXPECT_EQ(Crlf(run.listing), raw) << "listing must have CR LF line ends only";
  return run;
}

// Message IDs of the listed blocks, in order.
std::vector<std::string> ListedIds(const std::string& listing) {
  std::vector<std::string> ids;
  size_t at = 0;
  while ((at = listing.find("smtp|", at)) != std::string::npos) {
    size_t lineEnd = listing.find('\n', at);
    std::string line = listing.substr(at, lineEnd - at);
    size_t field = 0;
    size_t start = line.find('|', 5) + 1;
    for (size_t i = start; i < line.size() && field < 7; ++i) {
      if (line[i] == ';' && ++field == 7) {
        ids.push_back(line.substr(i + 1, line.find(';', i + 1) - i - 1));
      }
    }
    at = lineEnd;
  }
  return ids;
}

TEST(SearchRun, ListsEveryMessageWithItsLinesInTimeOrder) {
  LogDir dir;
  WriteMailDay(dir);
  SearchOutcome run = Search(dir, L"");
  ASSERT_EQ(run.result, kOk);
  EXPECT_EQ(run.matches, 4u);
  std::string expected = "smtp|out;0;1|" + kOut1 + "\nrbl|" + kRblOut1 + "\npost|" + kPostOut1 +
                         "\n\n"
                         "smtp|in;3;3|" + kIn1 + "\nrbl|" + kRblIn1 + "\npost|" + kPostIn1a +
                         "\npost|" + kPostIn1b + "\n\n"
                         "smtp|in;0;0|" + kIn3 + "\n\n"
                         "smtp|in;0;0|" + kIn2 + "\nrbl|" + kRblIn2 + "\n\n";
  EXPECT_EQ(run.listing, expected);
}

TEST(SearchRun, StatusFiltersSelectByStateAndPostponerWord) {
  LogDir dir;
  WriteMailDay(dir);
  EXPECT_EQ(ListedIds(Search(dir, L"filter=fin").listing), std::vector<std::string>{"AA01"});
  EXPECT_EQ(ListedIds(Search(dir, L"filter=pend").listing), std::vector<std::string>{"BB01"});
  EXPECT_EQ(ListedIds(Search(dir, L"filter=stop").listing), std::vector<std::string>{"AA02"});
  EXPECT_EQ(ListedIds(Search(dir, L"filter=reject").listing), std::vector<std::string>{"AA03"});
  EXPECT_EQ(ListedIds(Search(dir, L"filter=spam").listing), std::vector<std::string>{"AA02"});
  EXPECT_EQ(ListedIds(Search(dir, L"filter=stay").listing), std::vector<std::string>{"BB01"});
  EXPECT_EQ(ListedIds(Search(dir, L"filter=sent").listing), std::vector<std::string>{"AA01"});
  EXPECT_EQ(ListedIds(Search(dir, L"way=out").listing), std::vector<std::string>{"BB01"});
  EXPECT_EQ(ListedIds(Search(dir, L"f-rbl=0x100").listing), std::vector<std::string>{"AA02"});
  EXPECT_EQ(ListedIds(Search(dir, L"f-smtp=4").listing), std::vector<std::string>{"AA01"});
}

TEST(SearchRun, SmtpConditionsSelectCandidates) {
  LogDir dir;
  WriteMailDay(dir);
  EXPECT_EQ(ListedIds(Search(dir, L"from=C@*").listing), std::vector<std::string>{"AA02"});
  EXPECT_EQ(ListedIds(Search(dir, L"to=f@y").listing), std::vector<std::string>{"AA03"});
  EXPECT_EQ(ListedIds(Search(dir, L"ip=10.0.0.0/8;ip=1.2.3.6").listing),
            (std::vector<std::string>{"BB01", "AA03"}));
  EXPECT_EQ(ListedIds(Search(dir, L"id=aa0?;start=2024-03-12 10:30:00").listing),
            (std::vector<std::string>{"AA03", "AA02"}));
  EXPECT_EQ(ListedIds(Search(dir, L"end=2024/03/12 09:30:00").listing),
            std::vector<std::string>{"BB01"});
  SearchOutcome none = Search(dir, L"start=2024/03/13");
  EXPECT_EQ(none.result, kErrNotFound);
}

TEST(SearchRun, RecipientListsMatchAnyRecipient) {
  LogDir dir;
  dir.Write("smtp20240312.log",
            {Smtp("10:00:00", "a@x", "one@y, two@z ,three@w", "1.1.1.1", "R", "01")});
  EXPECT_EQ(Search(dir, L"to=two@z").matches, 1u);
  EXPECT_EQ(Search(dir, L"to=three@w").matches, 1u);
  EXPECT_EQ(Search(dir, L"to=two").result, kErrNotFound);
}

TEST(SearchRun, NoMatchLeavesAnEmptyOutputFile) {
  LogDir dir;
  WriteMailDay(dir);
  dir.Write("listing.txt", {"old content"});
  SearchOutcome run = Search(dir, L"from=nobody");
  EXPECT_EQ(run.result, kErrNotFound);
  EXPECT_EQ(run.matches, 0u);
  EXPECT_TRUE(dir.Exists("listing.txt"));
  EXPECT_EQ(run.listing, "");
  LogDir empty;
  EXPECT_EQ(Search(empty, L"").result, kErrNotFound);
  EXPECT_TRUE(empty.Exists("listing.txt"));
}

TEST(SearchRun, PagingHeadersCarryPageMatchAndCounts) {
  LogDir dir;
  std::vector<std::string> lines;
  for (int i = 0; i < 25; ++i) {
    char time[16];
    std::snprintf(time, sizeof time, "10:%02d:00", i);
    lines.push_back(Smtp(time, "a@x", "b@y", "1.1.1.1", "R", "C0" + std::to_string(10 + i)));
  }
  dir.Write("smtp20240312.log", lines);
  SearchOutcome run = Search(dir, L"", 0, 0, 10);
  ASSERT_EQ(run.result, kOk);
  std::vector<std::string> headers;
  for (size_t at = 0; (at = run.listing.find("#[", at)) != std::string::npos; ++at) {
    headers.push_back(run.listing.substr(at, run.listing.find('\n', at) - at));
    EXPECT_EQ(run.listing.substr(run.listing.find('\n', at), 2), "\n\n");
  }
  EXPECT_EQ(headers, (std::vector<std::string>{"#[1;3;1;25]", "#[2;3;11;25]", "#[3;3;21;25]"}));
  EXPECT_EQ(run.listing.find("#[2;3;11;25]"), run.listing.find("smtp|in;0;0|" + lines[10]) - 14);
  SearchOutcome single = Search(dir, L"", 0, 0, 1);
  EXPECT_NE(single.listing.find("#[25;25;25;25]"), std::string::npos);
  EXPECT_EQ(Search(dir, L"").listing.find("#["), std::string::npos);
}

TEST(SearchRun, SortChainsAscendingAndDescending) {
  LogDir dir;
  dir.Write("smtp20240312.log",
            {Smtp("10:00:00", "b@x", "Z@y,a@y", "10.0.0.2", "R", "03"),
             Smtp("09:00:00", "C@x", "m@y", "9.0.0.9", "R", "01"),
             Smtp("11:00:00", "a@x", "b@y", "10.0.0.2", "R", "02"),
             Smtp("08:00:00", "d@x", "c@y", "200.0.0.1", "R", "FF")});
  using Ids = std::vector<std::string>;
  EXPECT_EQ(ListedIds(Search(dir, L"", 0).listing), (Ids{"FF", "01", "03", "02"}));
  EXPECT_EQ(ListedIds(Search(dir, L"", 0, 1).listing), (Ids{"02", "03", "01", "FF"}));
  EXPECT_EQ(ListedIds(Search(dir, L"", 1).listing), (Ids{"02", "03", "01", "FF"}));
  EXPECT_EQ(ListedIds(Search(dir, L"", 1, 1).listing), (Ids{"FF", "01", "03", "02"}));
  EXPECT_EQ(ListedIds(Search(dir, L"", 2).listing), (Ids{"02", "FF", "01", "03"}));
  EXPECT_EQ(ListedIds(Search(dir, L"", 2, 1).listing), (Ids{"03", "01", "FF", "02"}));
  EXPECT_EQ(ListedIds(Search(dir, L"", 3).listing), (Ids{"01", "03", "02", "FF"}));
  EXPECT_EQ(ListedIds(Search(dir, L"", 3, 1).listing), (Ids{"FF", "02", "03", "01"}));
  EXPECT_EQ(ListedIds(Search(dir, L"", 4).listing), (Ids{"01", "02", "03", "FF"}));
  EXPECT_EQ(ListedIds(Search(dir, L"", 4, 1).listing), (Ids{"FF", "03", "02", "01"}));
  EXPECT_EQ(ListedIds(Search(dir, L"", 7).listing), (Ids{"FF", "01", "03", "02"}));
}

// The time order against a plain stable sort of the lines by time, for logs
// nearly in order, in a few long runs and in no order at all.
TEST(SearchRun, TimeOrderIsAPlainSortWhateverTheDisorder) {
  std::mt19937 random(17);
  for (int shape = 0; shape < 3; ++shape) {
    LogDir dir;
    std::vector<std::string> lines;
    std::vector<std::pair<int, size_t>> byTime;  // seconds, line index
    for (size_t i = 0; i < 3000; ++i) {
      int seconds = static_cast<int>(i) * 20;
      if (shape == 0) seconds += static_cast<int>(random() % 400) - (i % 500 == 7 ? 30000 : 0);
      if (shape == 1) seconds = static_cast<int>((i % 40) * 2000 + i / 40 * 20);
      if (shape == 2) seconds = static_cast<int>(random() % 86400);
      seconds = std::max(0, std::min(seconds, 86399));
      char time[16];
      std::snprintf(time, sizeof time, "%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                    seconds % 60);
      char id[16];
      std::snprintf(id, sizeof id, "%08zX", i);
      lines.push_back(Smtp(time, "s@x", "r@y", "1.1.1.1", "R", id));
      byTime.emplace_back(seconds, i);
    }
    dir.Write("smtp20240312.log", lines);
    std::stable_sort(byTime.begin(), byTime.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> want;
    for (const auto& entry : byTime) {
      char id[16];
      std::snprintf(id, sizeof id, "%08zX", entry.second);
      want.push_back(id);
    }
    EXPECT_EQ(ListedIds(Search(dir, L"", 0).listing), want) << "shape " << shape;
    std::reverse(want.begin(), want.end());
    EXPECT_EQ(ListedIds(Search(dir, L"", 0, 1).listing), want) << "shape " << shape;
  }
}

TEST(SearchRun, PostponerLinesAreFollowedForPostmaxDays) {
  LogDir dir;
  dir.Write("smtp20240301.log", {Smtp("10:00:00", "a@x", "b@y", "1.1.1.1", "A", "D1")});
  dir.Write("rbl20240301.log", {Rbl("10:00:01", "", "", "D1", "0")});
  dir.Write("postponer20240301.log", {PostAnnounce("10:00:02", "D1", 1)});
  dir.Write("postponer20240311.log", {PostStatus("10:00:00", "D1", "SENT"), PostEnd("10:00:01", "D1")});
  EXPECT_EQ(Search(dir, L"postmax=10").listing.find("post|"), std::string::npos);
  SearchOutcome run = Search(dir, L"postmax=11");
  EXPECT_NE(run.listing.find("post|" + PostStatus("10:00:00", "D1", "SENT")), std::string::npos);
  EXPECT_NE(run.listing.find("smtp|in;1;1|"), std::string::npos);
  EXPECT_EQ(ListedIds(Search(dir, L"postmax=11;filter=fin").listing), std::vector<std::string>{"D1"});
}

TEST(SearchRun, EndsWithoutStatusLineStayPendingAndTooFewEndsToo) {
  LogDir dir;
  dir.Write("smtp20240301.log", {Smtp("10:00:00", "a@x", "b@y", "1.1.1.1", "A", "E1"),
                                 Smtp("10:00:01", "a@x", "b@y", "1.1.1.1", "A", "E2")});
  dir.Write("rbl20240301.log", {Rbl("10:00:01", "", "", "E1", "0"), Rbl("10:00:02", "", "", "E2", "5")});
  dir.Write("postponer20240301.log",
            {PostAnnounce("10:00:02", "E1", 2), PostEnd("10:00:03", "E1"), PostEnd("10:00:04", "E1"),
             PostAnnounce("10:00:02", "E2", 2), PostAnnounce("10:00:02", "E2", 1),
             PostStatus("10:00:03", "E2", "ODD"), PostEnd("10:00:04", "E2"),
             PostEnd("10:00:05", "E2")});
  using Ids = std::vector<std::string>;
  EXPECT_EQ(ListedIds(Search(dir, L"filter=pend").listing), (Ids{"E1", "E2"}));
  SearchOutcome all = Search(dir, L"");
  EXPECT_NE(all.listing.find("post|" + PostStatus("10:00:03", "E2", "ODD")), std::string::npos);
  dir.Write("postponer20240302.log", {PostEnd("00:00:01", "E2")});
  EXPECT_EQ(ListedIds(Search(dir, L"filter=fin").listing), (Ids{"E2"}));
}

TEST(SearchRun, DuplicateIdsLinkTheFirstSmtpLineReadAndOnlyStrictFileNamesAreRead) {
  LogDir dir;
  // The later of the two F1 lines stands first in its file: it is the one
  // the RBL and postponer lines join.
  const std::string early = Smtp("10:00:00", "a@x", "b@y", "1.1.1.1", "A", "F1");
  const std::string late = Smtp("10:00:05", "a@x", "b@y", "1.1.1.1", "A", "F1");
  dir.Write("SMTP20240301.LOG", {late, early});
  dir.Write("smtp20240302x.log", {Smtp("10:00:00", "a@x", "b@y", "1.1.1.1", "R", "F2")});
  dir.Write("smtp-out20240302.log", {Smtp("10:00:00", "a@x", "b@y", "1.1.1.1", "R", "F3")});
  const std::string rbl = Rbl("10:00:06", "VIRUS", "", "F1", "0");
  const std::string post = PostStatus("10:00:07", "F1", "SENT");
  dir.Write("rbl20240301.log", {rbl});
  dir.Write("postponer20240301.log", {PostAnnounce("10:00:06", "F1", 1), post});
  SearchOutcome run = Search(dir, L"way=in");
  ASSERT_EQ(run.result, kOk);
  EXPECT_EQ(run.listing, "smtp|in;0;0|" + early + "\n\n" + "smtp|in;0;1|" + late + "\nrbl|" + rbl +
                             "\npost|" + post + "\n\n");
  EXPECT_EQ(Search(dir, L"filter=virus").matches, 1u);
}

TEST(SearchRun, CountsBeyondSixteenBitsAndBelowZeroKeepTheirValue) {
  struct Case {
    std::vector<int> announced;
    size_t ends;
    const char* counts;  // "ended;announced" as listed
  };
  const Case cases[] = {
      {{70000, -1}, 2, "2;69999"},
      {{65534}, 1, "1;65534"},
      {{65535, 1}, 0, "0;65536"},
      {{-5}, 0, "0;4294967291"},
      {{3}, 65537, "65537;3"},
  };
  for (const Case& c : cases) {
    LogDir dir;
    dir.Write("smtp20240301.log", {Smtp("10:00:00", "a@x", "b@y", "1.1.1.1", "A", "C1")});
    dir.Write("rbl20240301.log", {Rbl("10:00:01", "", "", "C1", "0")});
    std::vector<std::string> lines;
    for (int count : c.announced) lines.push_back(PostAnnounce("10:00:02", "C1", count));
    lines.push_back(PostStatus("10:00:03", "C1", "SENT"));
    lines.insert(lines.end(), c.ends, PostEnd("10:00:04", "C1"));
    dir.Write("postponer20240301.log", lines);
    const std::string listing = Search(dir, L"").listing;
    EXPECT_EQ(listing.substr(0, listing.find('|', 5)), std::string("smtp|in;") + c.counts) << c.counts;
  }
}

TEST(SearchRun, HostileLinesAreSkippedOrKeptWithoutHarm) {
  LogDir dir;
  std::string longLine = Smtp("10:00:00", std::string(40000, 's') + "@x", "b@y", "1.1.1.1", "R", "L1");
  std::string withNul = Smtp("10:00:03", "n@x", "b@y", "1.1.1.1", "R", "N1");
  withNul[withNul.size() - 1] = '\0';
  std::string tail = std::string(32767, 'x') + ";10:00:09;0;t@x;b@y;1.1.1.1;R;T1";
  dir.Write("smtp20240301.log",
            {"", ";;;;", "mx;25:00:00;0;a@x;b@y;1.1.1.1;R;B1", "mx;10:00", "mx;1O:00:00;0;a;b;c;R;B2",
             Smtp("10:00:01", "a@x", "b@y", "1.1.1.1", "R", "NOTHEX"),
             Smtp("10:00:02", "", "", "", "", ""), longLine, withNul, tail});
  SearchOutcome run = Search(dir, L"");
  ASSERT_EQ(run.result, kOk);
  // "mx;10:00" (a short time, no further fields), the first piece of the long
  // line (no ID field), NOTHEX, the empty-field line, the NUL line and the
  // second piece of `tail`.
  EXPECT_EQ(run.matches, 6u);
  EXPECT_EQ(ListedIds(run.listing), (std::vector<std::string>{"NOTHEX", "", "N1", "T1"}));
  EXPECT_NE(run.listing.find("smtp|in;0;0|mx;10:00:03;0;n@x"), std::string::npos);
}

int CancelAtOverall(void* context, int overall, int, const wchar_t*) {
  int* stopAt = static_cast<int*>(context);
  return overall == *stopAt ? kUserAbort : 0;
}

TEST(SearchRun, CancellationEndsTheRunWithoutAnOutputFile) {
  LogDir dir;
  WriteMailDay(dir);
  for (int stopAt : {0, 25, 50, 75, 80, 100}) {
    SearchConditions conditions;
    ASSERT_EQ(ParseSearchConditions(L"", &conditions), kOk);
    std::wstring output = dir.WideFile("cancelled.txt");
    uint32_t matches = 0;
    EXPECT_EQ(RunSearch(dir.Wide().c_str(), &conditions, output.c_str(), CancelAtOverall, &stopAt,
                        &matches),
              kUserAbort)
        << stopAt;
    EXPECT_FALSE(dir.Exists("cancelled.txt")) << stopAt;
    ReleaseSearchConditions(&conditions);
  }
}

TEST(SearchRun, MissingArgumentsAreRejected) {
  SearchConditions conditions;
  EXPECT_EQ(RunSearch(nullptr, &conditions, nullptr, nullptr, nullptr, nullptr),
            kErrInvalidArgument);
  EXPECT_EQ(RunSearch(L".", nullptr, nullptr, nullptr, nullptr, nullptr), kErrInvalidArgument);
}

}  // namespace
